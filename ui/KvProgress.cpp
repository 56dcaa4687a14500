#include "ui/KvProgress.h"

#include "ui/KvAccessible.h"
#include "ui/KvUIManager.h"
#include "ui/KvUiTypes.h"

#include <QPainter>

#include <algorithm>

using namespace velmora;

CKvProgress::CKvProgress() = default;

void CKvProgress::SetRange(double minPos, double maxPos, bool redraw)
{
    m_minPos = minPos;
    m_maxPos = maxPos;
    m_curPos = std::clamp(m_curPos, std::min(m_minPos, m_maxPos), std::max(m_minPos, m_maxPos));
    RedrawIfShown(redraw);
}

void CKvProgress::SetPos(double pos, bool redraw)
{
    const double before = m_curPos;
    m_curPos = std::clamp(pos, std::min(m_minPos, m_maxPos), std::max(m_minPos, m_maxPos));
    RedrawIfShown(redraw);
    if (m_curPos != before)
        NotifyAccessibleValue(this);
}

void CKvProgress::DrawContent(QPainter& painter, const QRect& rect)
{
    const tagKvUiColors& colors = CKvUIManager::Colors();
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF track = QRectF(rect).adjusted(0.5, 0.5, -0.5, -0.5);
    painter.setPen(ColorFromRef(colors.clrDlgEdge));
    painter.setBrush(ColorFromRef(colors.clrCtrlBK));
    painter.drawRoundedRect(track, 3, 3);

    const double span = m_maxPos - m_minPos;
    const double fraction = span > 0 ? std::clamp((m_curPos - m_minPos) / span, 0.0, 1.0) : 0.0;
    // Thin bars keep a one-pixel gap so the fill stays visible.
    const double inset = rect.height() >= 12 ? 2 : 1;
    const QRectF inner = track.adjusted(inset, inset, -inset, -inset);
    if (fraction > 0 && inner.width() > 0) {
        QRectF fill = inner;
        fill.setWidth(inner.width() * fraction);
        QLinearGradient gradient(fill.topLeft(), fill.bottomLeft());
        const QColor base = m_enabled ? ShiftColorRef(colors.clrDlgEdge, 55) : ShiftColorRef(colors.clrDlgBK, 30);
        gradient.setColorAt(0, ShiftColor(base, 30));
        gradient.setColorAt(1, ShiftColor(base, -5));
        painter.setPen(Qt::NoPen);
        painter.setBrush(gradient);
        painter.drawRoundedRect(fill, 2, 2);
    }
    painter.restore();
    DrawCaption(painter, rect, m_alignment);
}
