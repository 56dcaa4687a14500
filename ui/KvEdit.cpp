#include "ui/KvEdit.h"

#include "ui/KvAccessible.h"
#include "ui/KvEditCtrl.h"
#include "ui/KvUIManager.h"
#include "ui/KvUiTypes.h"

#include <QPainter>
#include <QWidget>

using namespace velmora;

CKvEdit::CKvEdit()
{
    m_alignment = AlignLeft;
}

CKvEdit::~CKvEdit()
{
    delete m_edit.data();
}

QRect CKvEdit::EditRect() const
{
    return Rect().adjusted(5, 2, -5, -2);
}

void CKvEdit::CreateEditWindow()
{
    if (!m_parent || m_edit)
        return;
    m_edit = new CKvEditCtrl(m_parent);
    const tagKvUiColors& colors = CKvUIManager::Colors();
    QPalette palette = m_edit->palette();
    palette.setColor(QPalette::Base, ColorFromRef(colors.clrCtrlBK));
    palette.setColor(QPalette::Window, ColorFromRef(colors.clrCtrlBK));
    palette.setColor(QPalette::Text, ColorFromRef(colors.clrText));
    palette.setColor(QPalette::Highlight, ShiftColorRef(colors.clrDlgEdge, 20));
    palette.setColor(QPalette::HighlightedText, ColorFromRef(colors.clrText));
    palette.setColor(QPalette::Disabled, QPalette::Text, ShiftColorRef(colors.clrDlgBK, 30));
    palette.setColor(QPalette::Disabled, QPalette::Base, ColorFromRef(colors.clrCtrlBK));
    m_edit->setPalette(palette);
    UpdateEditFont();
    m_edit->SetNumberOnly(m_numberOnly);
    m_edit->setReadOnly(m_readOnly);
    m_edit->setText(m_caption);
    m_edit->setGeometry(EditRect());
    m_edit->setEnabled(m_enabled);
    m_edit->setVisible(m_visible);
    UpdateAccessibleName();
    QObject::connect(m_edit.data(), &CKvEditCtrl::focusEntered, m_edit.data(), [this] {
        if (m_manager && m_manager->FocusControl() != this)
            m_manager->SetFocusControl(this, m_typeCode);
    });
}

void CKvEdit::SetAccessibleName(const QString& name)
{
    CKvButton::SetAccessibleName(name);
    UpdateAccessibleName();
}

void CKvEdit::SetAccessibleLabel(const CKvButton* label)
{
    CKvButton::SetAccessibleLabel(label);
    UpdateAccessibleName();
}

void CKvEdit::UpdateAccessibleName()
{
    // A combo box speaks for itself; its field is not listed.
    if (!m_edit)
        return;
    const QString name = AccessibleNameOf(this);
    if (m_edit->accessibleName() != name)
        m_edit->setAccessibleName(name);
}

void CKvEdit::Activate()
{
    if (m_visible && m_enabled && m_manager)
        m_manager->SetFocusControl(this, m_typeCode);
}

void CKvEdit::UpdateEditFont()
{
    if (!m_edit)
        return;
    if (const tagKvFontData* entry = Font())
        m_edit->setFont(FontFromEntry(*entry));
}

void CKvEdit::SetNumberOnly(bool numberOnly)
{
    m_numberOnly = numberOnly;
    if (m_edit)
        m_edit->SetNumberOnly(numberOnly);
}

void CKvEdit::SetReadOnly(bool readOnly)
{
    m_readOnly = readOnly;
    if (m_edit)
        m_edit->setReadOnly(readOnly);
}

bool CKvEdit::OnKey(const QKeyEvent& event)
{
    // Typing goes to the real field; the dialog sees only keys it left alone.
    return false;
}

void CKvEdit::SetCaption(const QString& caption, bool redraw)
{
    m_caption = caption;
    if (m_edit)
        m_edit->setText(caption);
    RedrawIfShown(redraw);
}

QString CKvEdit::GetCaption() const
{
    return m_edit ? m_edit->text() : m_caption;
}

void CKvEdit::Enable(bool enable, bool redraw)
{
    if (m_edit)
        m_edit->setEnabled(enable);
    CKvButton::Enable(enable, redraw);
}

void CKvEdit::Show(bool show, bool redraw)
{
    if (m_edit)
        m_edit->setVisible(show);
    CKvButton::Show(show, redraw);
}

void CKvEdit::SetRect(const QRect& rect, bool redraw)
{
    Move(rect.x(), rect.y(), rect.width(), rect.height(), redraw);
}

void CKvEdit::Move(int x, int y, int width, int height, bool redraw)
{
    CKvButton::Move(x, y, width, height, redraw);
    if (m_edit)
        m_edit->setGeometry(EditRect());
}

void CKvEdit::OnClick(const QPoint& point)
{
    // A click only places the caret; it is no command.
}

void CKvEdit::SetFocus()
{
    m_focus = true;
    if (m_edit && m_edit->focusPolicy() != Qt::NoFocus && !m_edit->hasFocus())
        m_edit->setFocus(Qt::OtherFocusReason);
    else if (!m_edit || m_edit->focusPolicy() == Qt::NoFocus)
        CKvButton::SetFocus();
}

void CKvEdit::KillFocus()
{
    m_focus = false;
}

void CKvEdit::OnEnableAll(bool enable)
{
    Enable(enable, true);
}

void CKvEdit::DrawContent(QPainter& painter, const QRect& rect)
{
    const tagKvUiColors& colors = CKvUIManager::Colors();
    if (m_image.isNull()) {
        painter.fillRect(rect, ColorFromRef(colors.clrCtrlBK));
        int raise = 0;
        if (m_enabled && (m_focus || m_look != LookNormal))
            raise = 40;
        painter.setPen(ShiftColorRef(colors.clrDlgEdge, raise));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(rect.adjusted(0, 0, -1, -1));
    }
}
