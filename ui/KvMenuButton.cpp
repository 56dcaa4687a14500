#include "ui/KvMenuButton.h"

#include "ui/KvMenuEx.h"
#include "ui/KvUIManager.h"
#include "ui/KvUiTypes.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScreen>
#include <QWidget>

using namespace velmora;

CKvMenuButton::CKvMenuButton()
{
    m_hoverFrame = true;
}

QPoint CKvMenuButton::MenuPosition(const QRect& buttonRect, int expectedHeight, const QRect& screen)
{
    int x = buttonRect.left() - 2;
    int y = buttonRect.top() + buttonRect.height() - 1;
    const int screenBottom = screen.top() + screen.height();
    if (y + expectedHeight > screenBottom - 5) {
        y -= expectedHeight + buttonRect.height() + 4;
        if (y < screen.top()) {
            y = screen.top();
            x += buttonRect.width() + 1;
        }
    }
    return QPoint(x, y);
}

void CKvMenuButton::Activate()
{
    if (!m_visible || !m_enabled)
        return;
    OnLButtonDown(Rect().center());
}

void CKvMenuButton::OnLButtonDown(const QPoint& point)
{
    ShowToolTip(false);
    CKvButton::OnLButtonDown(point);
    Open(false);
}

bool CKvMenuButton::OnKey(const QKeyEvent& event)
{
    if (event.type() != QEvent::KeyPress || !m_focus || !m_enabled || !m_visible)
        return false;
    const int key = event.key();
    if (key != Qt::Key_Return && key != Qt::Key_Enter && key != Qt::Key_Space && key != Qt::Key_Down)
        return false;
    Open(true);
    return true;
}

void CKvMenuButton::Open(bool fromKeyboard)
{
    if (!m_menu || !m_manager || !m_enabled || !m_visible)
        return;
    m_manager->SendNotify(kMsgMenuOpening, this, reinterpret_cast<qint64>(m_menu));
    m_look = LookPressed;
    RedrawIfShown(true);

    QPoint origin(m_x, m_y);
    QRect screen(0, 0, 1920, 1080);
    if (m_parent) {
        origin = m_parent->mapToGlobal(origin);
        if (QScreen* s = m_parent->screen() ? m_parent->screen() : QGuiApplication::primaryScreen())
            screen = s->availableGeometry();
    }
    const QPoint at = MenuPosition(QRect(origin, QSize(m_width, m_height)), m_menu->ExpectedHeight(), screen);
    // The menu takes the mouse: the press that opened it never sees its release.
    m_manager->SetCapture(false);
    const int chosen = m_menu->TrackMenu(CKvMenuEx::TPM_RETURNCMD | CKvMenuEx::TPM_NONOTIFY
                                             | CKvMenuEx::TPM_RIGHTBUTTON
                                             | (fromKeyboard ? CKvMenuEx::TPM_KEYBOARD : 0u),
                                         at, m_parent);
    if (chosen > 0) {
        m_manager->SendNotify(kMsgMenuCommand, this, chosen);
    }
    // Back to the normal look, as the release at the press point would do.
    m_look = LookNormal;
    RedrawIfShown(true);
}
