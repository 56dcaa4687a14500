#include "ui/KvSlider.h"

#include "ui/KvAccessible.h"
#include "ui/KvUIManager.h"
#include "ui/KvUiTypes.h"

#include <QKeyEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>

using namespace velmora;

namespace {

constexpr int kThumbSize = 14;
constexpr int kTrackHeight = 4;

} // namespace

CKvSlider::CKvSlider() = default;

void CKvSlider::SetRange(int minPos, int maxPos, bool redraw)
{
    m_minPos = std::min(minPos, maxPos);
    m_maxPos = std::max(minPos, maxPos);
    m_pos = std::clamp(m_pos, m_minPos, m_maxPos);
    RedrawIfShown(redraw);
}

void CKvSlider::SetPos(int pos, bool redraw)
{
    const int before = m_pos;
    m_pos = std::clamp(pos, m_minPos, m_maxPos);
    RedrawIfShown(redraw);
    if (m_pos != before)
        NotifyAccessibleValue(this);
}

void CKvSlider::UserMove(int pos)
{
    pos = std::clamp(pos, m_minPos, m_maxPos);
    if (pos == m_pos)
        return;
    m_pos = pos;
    RedrawIfShown(true);
    NotifyAccessibleValue(this);
    PostCommand();
}

QRect CKvSlider::ThumbRect() const
{
    const int travel = std::max(0, m_width - kThumbSize);
    const int span = m_maxPos - m_minPos;
    const int offset = span > 0 ? int(std::lround(double(m_pos - m_minPos) * travel / span)) : 0;
    return QRect(m_x + offset, m_y + (m_height - kThumbSize) / 2, kThumbSize, kThumbSize);
}

int CKvSlider::PosFromPoint(const QPoint& point) const
{
    const int travel = std::max(1, m_width - kThumbSize);
    const double fraction = std::clamp(double(point.x() - m_x - kThumbSize / 2) / travel, 0.0, 1.0);
    return m_minPos + int(std::lround(fraction * (m_maxPos - m_minPos)));
}

bool CKvSlider::OnMouseMessage(int message, const QPoint& point)
{
    if (!m_visible || !m_enabled)
        return false;
    // While the thumb is held it follows the mouse anywhere over the window.
    if (m_dragging) {
        if (message == kMouseMove) {
            UserMove(PosFromPoint(point));
            return false;
        }
        if (message == kLButtonUp) {
            m_dragging = false;
            if (m_manager)
                m_manager->SetCapture(false);
            m_look = Contains(point) ? LookHover : LookNormal;
            return true;
        }
    }
    return CKvButton::OnMouseMessage(message, point);
}

void CKvSlider::OnLButtonDown(const QPoint& point)
{
    CKvButton::OnLButtonDown(point);
    m_dragging = true;
    UserMove(PosFromPoint(point));
}

bool CKvSlider::OnKey(const QKeyEvent& event)
{
    if (event.type() != QEvent::KeyPress || !m_focus || !m_enabled || !m_visible)
        return false;
    const int step = std::max(1, (m_maxPos - m_minPos) / 100);
    switch (event.key()) {
    case Qt::Key_Left:
    case Qt::Key_Down: UserMove(m_pos - step); return true;
    case Qt::Key_Right:
    case Qt::Key_Up: UserMove(m_pos + step); return true;
    case Qt::Key_PageDown: UserMove(m_pos - m_pageStep); return true;
    case Qt::Key_PageUp: UserMove(m_pos + m_pageStep); return true;
    case Qt::Key_Home: UserMove(m_minPos); return true;
    case Qt::Key_End: UserMove(m_maxPos); return true;
    default: return false;
    }
}

bool CKvSlider::OnWheel(int delta, const QPoint& point)
{
    if (!m_visible || !m_enabled || delta == 0)
        return false;
    const int step = std::max(1, (m_maxPos - m_minPos) / 100);
    UserMove(m_pos + (delta > 0 ? step : -step));
    return false; // UserMove has redrawn already
}

void CKvSlider::DrawContent(QPainter& painter, const QRect& rect)
{
    const tagKvUiColors& colors = CKvUIManager::Colors();
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    const QRect thumb = ThumbRect();
    const QRectF track(rect.x() + kThumbSize / 2.0, rect.y() + (rect.height() - kTrackHeight) / 2.0,
                       std::max(0, rect.width() - kThumbSize), kTrackHeight);
    painter.setPen(Qt::NoPen);
    painter.setBrush(ColorFromRef(colors.clrCtrlBK));
    painter.drawRoundedRect(track, 2, 2);
    QRectF filled = track;
    filled.setRight(thumb.center().x());
    painter.setBrush(m_enabled ? ShiftColorRef(colors.clrDlgEdge, 40) : ShiftColorRef(colors.clrDlgBK, 30));
    painter.drawRoundedRect(filled, 2, 2);

    QColor face = ShiftColorRef(colors.clrText, m_look == LookPressed ? -30 : m_look == LookHover ? 0 : -15);
    if (!m_enabled)
        face = ShiftColorRef(colors.clrDlgBK, 40);
    painter.setBrush(face);
    const bool keyboardFocus = ShowsFocusCue();
    painter.setPen(QPen(keyboardFocus ? AccentColor() : ColorFromRef(colors.clrDlgEdge), keyboardFocus ? 1.5 : 1));
    painter.drawEllipse(QRectF(thumb).adjusted(0.5, 0.5, -0.5, -0.5));
    painter.restore();
}
