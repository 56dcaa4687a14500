#include "ui/KvComboBoxWnd.h"

#include "ui/KvComboBoxList.h"
#include "ui/KvUIManager.h"
#include "ui/KvUiTypes.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>

using namespace velmora;

CKvComboBoxWnd::CKvComboBoxWnd(QWidget* owner)
    : QWidget(owner, Qt::Popup | Qt::FramelessWindowHint)
{
    setAttribute(Qt::WA_DeleteOnClose);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(true);
    m_manager = new CKvUIManager(this);
    m_manager->SetWindow(this);
    m_list = new CKvComboBoxList;
    m_manager->AddControl(0, m_list, kTypeVListBox);
    m_list->SetChooseHandler([this](int index) {
        emit chosen(index);
        close();
    });
}

CKvComboBoxWnd::~CKvComboBoxWnd()
{
    delete m_manager;
}

void CKvComboBoxWnd::SetEntries(const QStringList& entries, int current)
{
    m_list->Move(0, 0, width(), height());
    m_list->SetEntries(entries, current);
    m_manager->Invalidate();
}

void CKvComboBoxWnd::Popup(const QPoint& globalPos, const QSize& size)
{
    setGeometry(QRect(globalPos, size));
    m_list->Move(0, 0, size.width(), size.height());
    m_list->SetEntries(m_list->Entries(), m_list->HotIndex());
    m_manager->Invalidate();
    show();
    setFocus(Qt::PopupFocusReason);
}

void CKvComboBoxWnd::paintEvent(QPaintEvent* event)
{
    if (m_manager->NeedsCompose())
        m_manager->Compose();
    QPainter painter(this);
    m_manager->Blit(painter, event->rect());
}

void CKvComboBoxWnd::resizeEvent(QResizeEvent* event)
{
    m_list->Move(0, 0, width(), height());
    m_manager->Invalidate();
    QWidget::resizeEvent(event);
}

void CKvComboBoxWnd::mousePressEvent(QMouseEvent* event)
{
    if (!rect().contains(event->position().toPoint())) {
        close();
        return;
    }
    m_manager->Dispatch(kLButtonDown, event->position().toPoint());
}

void CKvComboBoxWnd::mouseReleaseEvent(QMouseEvent* event)
{
    m_manager->Dispatch(kLButtonUp, event->position().toPoint());
}

void CKvComboBoxWnd::mouseMoveEvent(QMouseEvent* event)
{
    m_manager->Dispatch(kMouseMove, event->position().toPoint());
}

void CKvComboBoxWnd::wheelEvent(QWheelEvent* event)
{
    if (m_list->OnWheel(event->angleDelta().y(), event->position().toPoint()))
        m_manager->RedrawControl(m_list);
}

void CKvComboBoxWnd::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape) {
        close();
        return;
    }
    if (m_list->OnKey(*event)) {
        if (isVisible())
            m_manager->Invalidate();
        return;
    }
    QWidget::keyPressEvent(event);
}

void CKvComboBoxWnd::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    emit closed();
}
