#include "ui/KvHListBox.h"

#include "ui/KvUIManager.h"
#include "ui/KvUiTypes.h"

#include <QFontMetrics>
#include <QPainter>

using namespace velmora;

namespace {

constexpr int kItemPadding = 12;

} // namespace

CKvHListBox::CKvHListBox() = default;

int CKvHListBox::AddString(const QString& text)
{
    m_items << text;
    return int(m_items.size()) - 1;
}

void CKvHListBox::ResetContent()
{
    m_items.clear();
    m_curSel = -1;
    m_hot = -1;
    SetScroll(0, 0);
}

QString CKvHListBox::GetText(int index) const
{
    return index >= 0 && index < GetCount() ? m_items.at(index) : QString();
}

void CKvHListBox::SetCurSel(int index, bool redraw)
{
    if (index < -1 || index >= GetCount())
        return;
    m_curSel = index;
    if (index >= 0)
        EnsureVisible(ItemRect(index));
    RedrawIfShown(redraw);
}

QRect CKvHListBox::ItemRect(int index) const
{
    const tagKvFontData* entry = Font();
    const QFontMetrics metrics(entry ? FontFromEntry(*entry) : QFont(QStringLiteral("Arial")));
    int x = 0;
    for (int i = 0; i < index; ++i)
        x += metrics.horizontalAdvance(m_items.at(i)) + 2 * kItemPadding;
    const int width = index < GetCount() ? metrics.horizontalAdvance(m_items.at(index)) + 2 * kItemPadding : 0;
    return QRect(x, 0, width, 1); // rows are as tall as the view
}

QSize CKvHListBox::ContentSize() const
{
    if (m_items.isEmpty())
        return QSize(0, 0);
    const QRect last = ItemRect(GetCount() - 1);
    return QSize(last.right() + 1, 0);
}

int CKvHListBox::HitItem(const QPoint& point) const
{
    const QRect view = ViewRect();
    if (!view.contains(point))
        return -1;
    const QPoint content = point - view.topLeft() + QPoint(ScrollX(), 0);
    for (int i = 0; i < GetCount(); ++i) {
        const QRect item = ItemRect(i);
        if (content.x() >= item.left() && content.x() <= item.right())
            return i;
    }
    return -1;
}

void CKvHListBox::DrawItems(QPainter& painter, const QRect& view)
{
    const tagKvUiColors& colors = CKvUIManager::Colors();
    const tagKvFontData* entry = Font();
    if (entry)
        painter.setFont(FontFromEntry(*entry));
    painter.setRenderHint(QPainter::TextAntialiasing);
    for (int i = 0; i < GetCount(); ++i) {
        QRect item = ItemRect(i).translated(view.left() - ScrollX(), view.top());
        item.setHeight(view.height());
        if (item.left() > view.right())
            break;
        if (i == m_curSel)
            painter.fillRect(item.adjusted(1, 1, -1, -1), ColorFromRef(colors.clrDlgEdge, 120));
        else if (i == m_hot)
            painter.fillRect(item.adjusted(1, 1, -1, -1), ColorFromRef(colors.clrDlgEdge, 50));
        if (!entry)
            continue;
        painter.setPen(ColorFromRef(colors.clrText));
        painter.drawText(item, Qt::AlignCenter | Qt::TextSingleLine, m_items.at(i));
    }
}

bool CKvHListBox::OnItemMouse(int message, const QPoint& point)
{
    const int hit = Contains(point) ? HitItem(point) : -1;
    if (message == kMouseMove) {
        if (hit == m_hot)
            return false;
        m_hot = hit;
        return true;
    }
    if (message == kLButtonDown && hit >= 0 && hit != m_curSel) {
        m_curSel = hit;
        PostCommand();
        return true;
    }
    return false;
}
