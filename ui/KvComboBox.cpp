#include "ui/KvComboBox.h"

#include "ui/KvAccessible.h"
#include "ui/KvComboBoxList.h"
#include "ui/KvComboBoxWnd.h"
#include "ui/KvEditCtrl.h"
#include "ui/KvUIManager.h"
#include "ui/KvUiTypes.h"

#include <QDateTime>
#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>
#include <QWidget>

using namespace velmora;

namespace {

constexpr int kArrowWidth = 20;
// A press that closes the list by landing on the field must not reopen it.
constexpr qint64 kReopenGuardMs = 250;

} // namespace

CKvComboBox::CKvComboBox() = default;

CKvComboBox::~CKvComboBox()
{
    if (m_dropWnd) {
        m_dropWnd->disconnect();
        delete m_dropWnd.data();
    }
}

QRect CKvComboBox::EditRect() const
{
    return Rect().adjusted(5, 2, -kArrowWidth - 2, -2);
}

void CKvComboBox::CreateEditWindow()
{
    CKvEdit::CreateEditWindow();
    SetEditable(m_editable);
}

void CKvComboBox::SetEditable(bool editable)
{
    m_editable = editable;
    if (!m_edit)
        return;
    m_edit->setReadOnly(!editable);
    // A fixed-choice combo box is one surface: presses reach the control
    // (which opens the list) and the keys reach the dialog.
    m_edit->setAttribute(Qt::WA_TransparentForMouseEvents, !editable);
    m_edit->setFocusPolicy(editable ? Qt::StrongFocus : Qt::NoFocus);
}

int CKvComboBox::AddString(const QString& text, qint64 data)
{
    m_items.push_back(tagKvComboBoxListData{text, data});
    return GetCount() - 1;
}

void CKvComboBox::ResetContent()
{
    ShowDropDown(false);
    m_items.clear();
    m_curSel = -1;
    SetCaption(QString(), true);
}

QString CKvComboBox::GetItemText(int index) const
{
    return index >= 0 && index < GetCount() ? m_items[size_t(index)].szText : QString();
}

qint64 CKvComboBox::GetItemData(int index) const
{
    return index >= 0 && index < GetCount() ? m_items[size_t(index)].nData : 0;
}

void CKvComboBox::SetCurSel(int index, bool redraw)
{
    if (index < -1 || index >= GetCount())
        return;
    m_curSel = index;
    const QString before = GetCaption();
    SetCaption(GetItemText(index), redraw);
    if (GetCaption() != before)
        NotifyAccessibleValue(this);
}

bool CKvComboBox::IsDroppedDown() const
{
    return m_dropWnd && m_dropWnd->isVisible();
}

void CKvComboBox::ShowDropDown(bool show)
{
    if (!show) {
        if (m_dropWnd)
            m_dropWnd->close();
        return;
    }
    if (IsDroppedDown() || !m_parent || m_items.empty())
        return;
    QStringList entries;
    for (const tagKvComboBoxListData& item : m_items)
        entries << item.szText;
    auto* popup = new CKvComboBoxWnd(m_parent);
    popup->List()->SetFontId(m_fontId);
    const int rows = int(m_items.size()) * CKvComboBoxList::kRowHeight + 2;
    const int height = m_dropHeight > 0 ? std::min(m_dropHeight, rows) : rows;
    popup->List()->Move(0, 0, m_width, height);
    popup->SetEntries(entries, m_curSel);
    QObject::connect(popup, &CKvComboBoxWnd::chosen, popup, [this](int index) { OnListChoice(index); });
    QObject::connect(popup, &CKvComboBoxWnd::closed, popup, [this] {
        m_closedAt = QDateTime::currentMSecsSinceEpoch();
        RedrawIfShown(true);
    });
    m_dropWnd = popup;
    popup->Popup(m_parent->mapToGlobal(QPoint(m_x, m_y + m_height)), QSize(m_width, height));
    RedrawIfShown(true);
}

void CKvComboBox::Activate()
{
    if (!m_visible || !m_enabled)
        return;
    if (m_manager)
        m_manager->SetFocusControl(this, m_typeCode);
    ShowDropDown(!IsDroppedDown());
}

void CKvComboBox::OnListChoice(int index)
{
    if (index < 0 || index >= GetCount())
        return;
    SetCurSel(index, true);
    PostCommand();
}

void CKvComboBox::OnLButtonDown(const QPoint& point)
{
    CKvEdit::OnLButtonDown(point);
    if (m_editable && EditRect().contains(point))
        return;
    if (QDateTime::currentMSecsSinceEpoch() - m_closedAt < kReopenGuardMs)
        return;
    ShowDropDown(!IsDroppedDown());
    if (IsDroppedDown() && m_manager) {
        // The list popup takes the mouse, so the release never comes back
        // here: do not leave the dialog waiting for it.
        m_manager->SetCapture(false);
        m_look = LookHover;
    }
}

void CKvComboBox::OnClick(const QPoint& point)
{
}

bool CKvComboBox::OnKey(const QKeyEvent& event)
{
    if (event.type() != QEvent::KeyPress || !m_focus || !m_enabled || !m_visible)
        return false;
    const bool alt = event.modifiers() & Qt::AltModifier;
    if (event.key() == Qt::Key_F4 || (alt && event.key() == Qt::Key_Down) || event.key() == Qt::Key_Space) {
        ShowDropDown(!IsDroppedDown());
        return true;
    }
    int index = m_curSel;
    if (event.key() == Qt::Key_Down)
        index = std::min(GetCount() - 1, m_curSel + 1);
    else if (event.key() == Qt::Key_Up)
        index = std::max(0, m_curSel - 1);
    else
        return false;
    if (index != m_curSel && index >= 0)
        OnListChoice(index);
    return true;
}

void CKvComboBox::KillFocus()
{
    CKvEdit::KillFocus();
    ShowDropDown(false);
}

void CKvComboBox::DrawContent(QPainter& painter, const QRect& rect)
{
    CKvEdit::DrawContent(painter, rect);
    const tagKvUiColors& colors = CKvUIManager::Colors();
    const QRect arrow(rect.right() - kArrowWidth + 1, rect.top() + 1, kArrowWidth - 1, rect.height() - 2);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    if (m_image.isNull() && m_enabled && (m_look != LookNormal || IsDroppedDown()))
        painter.fillRect(arrow, ShiftColorRef(colors.clrCtrlBK, 15));
    QPen pen(m_enabled ? ColorFromRef(colors.clrText) : ShiftColorRef(colors.clrDlgBK, 30), 1.6);
    pen.setCapStyle(Qt::RoundCap);
    pen.setJoinStyle(Qt::RoundJoin);
    painter.setPen(pen);
    const QPointF c = QRectF(arrow).center();
    const QPointF chevron[] = {c + QPointF(-4, -2), c + QPointF(0, 2), c + QPointF(4, -2)};
    painter.drawPolyline(chevron, 3);
    painter.restore();
}
