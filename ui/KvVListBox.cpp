#include "ui/KvVListBox.h"

#include "ui/KvUIManager.h"
#include "ui/KvUiTypes.h"

#include <QKeyEvent>
#include <QPainter>

using namespace velmora;

CKvVListBox::CKvVListBox() = default;

int CKvVListBox::AddString(const QString& text)
{
    m_items << text;
    return int(m_items.size()) - 1;
}

void CKvVListBox::DeleteString(int index)
{
    if (index < 0 || index >= GetCount())
        return;
    m_items.removeAt(index);
    if (m_curSel == index)
        m_curSel = -1;
    else if (m_curSel > index)
        --m_curSel;
    m_hot = -1;
}

void CKvVListBox::ResetContent()
{
    m_items.clear();
    m_curSel = -1;
    m_hot = -1;
    SetScroll(0, 0);
}

QString CKvVListBox::GetText(int index) const
{
    return index >= 0 && index < GetCount() ? m_items.at(index) : QString();
}

void CKvVListBox::SetCurSel(int index, bool redraw)
{
    if (index < -1 || index >= GetCount())
        return;
    m_curSel = index;
    if (index >= 0)
        EnsureVisible(QRect(0, index * kRowHeight, 1, kRowHeight));
    RedrawIfShown(redraw);
}

QSize CKvVListBox::ContentSize() const
{
    return QSize(0, GetCount() * kRowHeight);
}

int CKvVListBox::HitItem(const QPoint& point) const
{
    const QRect view = ViewRect();
    if (!view.contains(point))
        return -1;
    const int row = (point.y() - view.top() + ScrollY()) / kRowHeight;
    return row < GetCount() ? row : -1;
}

void CKvVListBox::DrawItems(QPainter& painter, const QRect& view)
{
    const tagKvUiColors& colors = CKvUIManager::Colors();
    const tagKvFontData* entry = Font();
    if (entry)
        painter.setFont(FontFromEntry(*entry));
    painter.setRenderHint(QPainter::TextAntialiasing);
    for (int row = ScrollY() / kRowHeight; row < GetCount(); ++row) {
        const QRect rowRect(view.left(), view.top() + row * kRowHeight - ScrollY(), view.width(), kRowHeight);
        if (rowRect.top() > view.bottom())
            break;
        if (row == m_curSel)
            painter.fillRect(rowRect.adjusted(1, 1, -1, 0), ColorFromRef(colors.clrDlgEdge, 200));
        else if (row == m_hot)
            painter.fillRect(rowRect.adjusted(1, 1, -1, 0), ColorFromRef(colors.clrDlgEdge, 50));
        if (!entry)
            continue;
        painter.setPen(ColorFromRef(colors.clrText));
        painter.drawText(rowRect.adjusted(6, 0, -6, 0), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                         m_items.at(row));
    }
}

bool CKvVListBox::OnItemMouse(int message, const QPoint& point)
{
    const int hit = Contains(point) ? HitItem(point) : -1;
    if (message == kMouseMove) {
        if (hit == m_hot)
            return false;
        m_hot = hit;
        return true;
    }
    if (message == kLButtonDown && Contains(point)) {
        if (m_manager)
            m_manager->SetFocusControl(this, m_typeCode);
        if (hit >= 0 && hit != m_curSel) {
            m_curSel = hit;
            PostCommand();
        }
        return true;
    }
    return false;
}

bool CKvVListBox::OnKey(const QKeyEvent& event)
{
    if (event.type() != QEvent::KeyPress || !m_focus || GetCount() == 0)
        return false;
    int index = m_curSel;
    switch (event.key()) {
    case Qt::Key_Up: index = std::max(0, m_curSel - 1); break;
    case Qt::Key_Down: index = std::min(GetCount() - 1, m_curSel + 1); break;
    case Qt::Key_Home: index = 0; break;
    case Qt::Key_End: index = GetCount() - 1; break;
    default: return false;
    }
    if (index != m_curSel) {
        SetCurSel(index, true);
        PostCommand();
    }
    return true;
}
