#include "ui/KvComboBoxList.h"

#include "ui/KvUIManager.h"
#include "ui/KvUiTypes.h"

#include <QKeyEvent>
#include <QPainter>

using namespace velmora;

namespace {

QFont ListFont(int fontId)
{
    if (const tagKvFontData* entry = CKvUIManager::FindFont(fontId))
        return FontFromEntry(*entry);
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(13);
    return font;
}

} // namespace

CKvComboBoxList::CKvComboBoxList() = default;

void CKvComboBoxList::SetEntries(const QStringList& entries, int current)
{
    m_entries = entries;
    m_hot = (current >= 0 && current < entries.size()) ? current : -1;
    if (m_hot >= 0)
        EnsureVisible(QRect(0, m_hot * kRowHeight, 1, kRowHeight));
}

QSize CKvComboBoxList::ContentSize() const
{
    return QSize(0, int(m_entries.size()) * kRowHeight);
}

int CKvComboBoxList::HitItem(const QPoint& point) const
{
    const QRect view = ViewRect();
    if (!view.contains(point))
        return -1;
    const int row = (point.y() - view.top() + ScrollY()) / kRowHeight;
    return row < m_entries.size() ? row : -1;
}

void CKvComboBoxList::DrawItems(QPainter& painter, const QRect& view)
{
    const tagKvUiColors& colors = CKvUIManager::Colors();
    painter.setFont(ListFont(m_fontId));
    painter.setRenderHint(QPainter::TextAntialiasing);
    const int first = ScrollY() / kRowHeight;
    for (int row = first; row < m_entries.size(); ++row) {
        const QRect rowRect(view.left(), view.top() + row * kRowHeight - ScrollY(), view.width(), kRowHeight);
        if (rowRect.top() > view.bottom())
            break;
        if (row == m_hot) {
            painter.fillRect(rowRect.adjusted(1, 1, -1, -1), ColorFromRef(colors.clrDlgEdge, 110));
        }
        painter.setPen(row == m_hot ? ShiftColorRef(colors.clrText, 40) : ColorFromRef(colors.clrText));
        painter.drawText(rowRect.adjusted(6, 0, -6, 0), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                         m_entries.at(row));
    }
}

bool CKvComboBoxList::OnItemMouse(int message, const QPoint& point)
{
    const int hit = HitItem(point);
    if (message == kMouseMove) {
        if (hit < 0 || hit == m_hot)
            return false;
        m_hot = hit;
        return true;
    }
    if (message == kLButtonUp && hit >= 0) {
        m_hot = hit;
        if (m_onChoose)
            m_onChoose(hit);
        return false;
    }
    return false;
}

bool CKvComboBoxList::OnKey(const QKeyEvent& event)
{
    if (event.type() != QEvent::KeyPress || m_entries.isEmpty())
        return false;
    int hot = m_hot;
    switch (event.key()) {
    case Qt::Key_Up: hot = std::max(0, hot - 1); break;
    case Qt::Key_Down: hot = std::min(int(m_entries.size()) - 1, hot + 1); break;
    case Qt::Key_Home: hot = 0; break;
    case Qt::Key_End: hot = int(m_entries.size()) - 1; break;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (m_hot >= 0 && m_onChoose)
            m_onChoose(m_hot);
        return true;
    default: return false;
    }
    m_hot = hot;
    EnsureVisible(QRect(0, hot * kRowHeight, 1, kRowHeight));
    return true;
}
