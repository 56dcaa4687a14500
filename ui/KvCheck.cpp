#include "ui/KvCheck.h"

#include "ui/KvAccessible.h"
#include "ui/KvUIManager.h"
#include "ui/KvUiTypes.h"

#include <QPainter>

using namespace velmora;

namespace {

constexpr int kMarkSize = 14;
constexpr int kMarkGap = 6;

} // namespace

CKvCheck::CKvCheck()
{
    m_alignment = AlignLeft;
}

void CKvCheck::SetCheck(bool checked, bool redraw)
{
    const bool changed = checked != m_checked;
    m_checked = checked;
    RedrawIfShown(redraw);
    if (changed)
        NotifyChecked();
}

void CKvCheck::NotifyChecked()
{
    QAccessible::State state;
    state.checked = true;
    NotifyAccessibleState(this, state);
}

void CKvCheck::OnClick(const QPoint& point)
{
    m_checked = !m_checked;
    RedrawIfShown(true);
    NotifyChecked();
    CKvButton::OnClick(point);
}

void CKvCheck::DrawMark(QPainter& painter, const QRect& box)
{
    const tagKvUiColors& colors = CKvUIManager::Colors();
    painter.setPen(m_enabled ? ShiftColorRef(colors.clrDlgEdge, m_look == LookHover ? 40 : 0)
                             : ShiftColorRef(colors.clrDlgBK, 30));
    painter.setBrush(ColorFromRef(colors.clrCtrlBK));
    painter.drawRoundedRect(QRectF(box).adjusted(0.5, 0.5, -0.5, -0.5), 2, 2);
    if (!m_checked)
        return;
    QPen tick(m_enabled ? ColorFromRef(colors.clrText) : ShiftColorRef(colors.clrDlgBK, 30), 2);
    tick.setCapStyle(Qt::RoundCap);
    tick.setJoinStyle(Qt::RoundJoin);
    painter.setPen(tick);
    const QPointF origin = box.topLeft();
    const QPointF points[] = {origin + QPointF(3.5, 7), origin + QPointF(6, 10), origin + QPointF(11, 4)};
    painter.drawPolyline(points, 3);
}

void CKvCheck::DrawContent(QPainter& painter, const QRect& rect)
{
    QRect textRect = rect;
    if (m_image.isNull()) {
        // Without an image the mark is drawn, and the caption follows it.
        const QRect box(rect.x(), rect.y() + (rect.height() - kMarkSize) / 2, kMarkSize, kMarkSize);
        painter.save();
        painter.setRenderHint(QPainter::Antialiasing);
        DrawMark(painter, box);
        painter.restore();
        textRect.setLeft(box.right() + 1 + kMarkGap);
    } else if (m_checked && m_image.width() > 0) {
        // An image shows the box; the tick goes over its left square.
        const int side = std::min(rect.height(), kMarkSize);
        const QRect box(rect.x(), rect.y() + (rect.height() - side) / 2, side, side);
        painter.save();
        painter.setRenderHint(QPainter::Antialiasing);
        DrawMark(painter, box);
        painter.restore();
        textRect.setLeft(box.right() + 1 + kMarkGap);
    }
    DrawCaption(painter, textRect, m_alignment);
    if (ShowsFocusCue())
        DrawFocusCue(painter, rect);
}
