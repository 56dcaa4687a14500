#include "ui/KvWindow.h"

#include "ui/KvUIManager.h"
#include "ui/KvUiTypes.h"

#include <QPainter>

#include <algorithm>

using namespace velmora;

namespace {

constexpr int kMinThumb = 20;
constexpr int kWheelStep = 66; // three rows of 22 pixels per notch

struct Bars
{
    bool vertical = false;
    bool horizontal = false;
    int viewWidth = 0;
    int viewHeight = 0;
};

// Which bars the content needs: a horizontal bar takes height, which may in
// turn call for a vertical bar, and the other way round.
Bars ComputeBars(const QSize& content, int width, int height)
{
    Bars bars;
    bars.viewWidth = width;
    bars.viewHeight = height;
    bars.vertical = content.height() > bars.viewHeight;
    if (bars.vertical)
        bars.viewWidth -= CKvWindow::kScrollBarSize;
    bars.horizontal = content.width() > bars.viewWidth;
    if (bars.horizontal) {
        bars.viewHeight -= CKvWindow::kScrollBarSize;
        if (!bars.vertical && content.height() > bars.viewHeight) {
            bars.vertical = true;
            bars.viewWidth -= CKvWindow::kScrollBarSize;
        }
    }
    bars.viewWidth = std::max(0, bars.viewWidth);
    bars.viewHeight = std::max(0, bars.viewHeight);
    return bars;
}

int ThumbLength(int track, int view, int content)
{
    if (content <= 0)
        return track;
    return std::clamp(int(qint64(track) * view / content), std::min(kMinThumb, track), track);
}

} // namespace

CKvWindow::CKvWindow() = default;

QSize CKvWindow::ContentSize() const
{
    return QSize(0, 0);
}

QRect CKvWindow::ViewRect() const
{
    const Bars bars = ComputeBars(ContentSize(), m_width, m_height - HeaderHeight());
    return QRect(m_x, m_y + HeaderHeight(), bars.viewWidth, bars.viewHeight);
}

bool CKvWindow::HasVScroll() const
{
    return ComputeBars(ContentSize(), m_width, m_height - HeaderHeight()).vertical;
}

bool CKvWindow::HasHScroll() const
{
    return ComputeBars(ContentSize(), m_width, m_height - HeaderHeight()).horizontal;
}

QRect CKvWindow::VScrollRect() const
{
    if (!HasVScroll())
        return QRect();
    const QRect view = ViewRect();
    return QRect(m_x + m_width - kScrollBarSize, view.top(), kScrollBarSize, view.height());
}

QRect CKvWindow::HScrollRect() const
{
    if (!HasHScroll())
        return QRect();
    const QRect view = ViewRect();
    return QRect(m_x, m_y + m_height - kScrollBarSize, view.width(), kScrollBarSize);
}

QRect CKvWindow::VThumbRect() const
{
    const QRect track = VScrollRect();
    if (track.isEmpty())
        return QRect();
    const int content = ContentSize().height();
    const int view = ViewRect().height();
    const int length = ThumbLength(track.height(), view, content);
    const int range = std::max(1, content - view);
    const int offset = int(qint64(track.height() - length) * m_scrollY / range);
    return QRect(track.x() + 2, track.y() + offset, track.width() - 4, length);
}

QRect CKvWindow::HThumbRect() const
{
    const QRect track = HScrollRect();
    if (track.isEmpty())
        return QRect();
    const int content = ContentSize().width();
    const int view = ViewRect().width();
    const int length = ThumbLength(track.width(), view, content);
    const int range = std::max(1, content - view);
    const int offset = int(qint64(track.width() - length) * m_scrollX / range);
    return QRect(track.x() + offset, track.y() + 2, length, track.height() - 4);
}

void CKvWindow::SetScroll(int x, int y)
{
    m_scrollX = x;
    m_scrollY = y;
    ClampScroll();
}

void CKvWindow::ClampScroll()
{
    const QSize content = ContentSize();
    const QRect view = ViewRect();
    m_scrollX = std::clamp(m_scrollX, 0, std::max(0, content.width() - view.width()));
    m_scrollY = std::clamp(m_scrollY, 0, std::max(0, content.height() - view.height()));
}

void CKvWindow::EnsureVisible(const QRect& contentRect)
{
    const QRect view = ViewRect();
    int y = m_scrollY;
    if (contentRect.top() < y)
        y = contentRect.top();
    else if (contentRect.bottom() + 1 > y + view.height())
        y = contentRect.bottom() + 1 - view.height();
    int x = m_scrollX;
    if (contentRect.left() < x)
        x = contentRect.left();
    else if (contentRect.right() + 1 > x + view.width())
        x = std::min(contentRect.left(), contentRect.right() + 1 - view.width());
    SetScroll(x, y);
}

int CKvWindow::HitScrollBar(const QPoint& point) const
{
    const QRect vertical = VScrollRect();
    if (vertical.contains(point)) {
        const QRect thumb = VThumbRect();
        if (point.y() < thumb.top())
            return PartVTrackBefore;
        if (point.y() > thumb.bottom())
            return PartVTrackAfter;
        return PartVThumb;
    }
    const QRect horizontal = HScrollRect();
    if (horizontal.contains(point)) {
        const QRect thumb = HThumbRect();
        if (point.x() < thumb.left())
            return PartHTrackBefore;
        if (point.x() > thumb.right())
            return PartHTrackAfter;
        return PartHThumb;
    }
    if (!vertical.isEmpty() && !horizontal.isEmpty()
        && QRect(vertical.x(), horizontal.y(), kScrollBarSize, kScrollBarSize).contains(point))
        return PartCorner;
    return PartNone;
}

int CKvWindow::HitItem(const QPoint& point) const
{
    return -1;
}

void CKvWindow::DrawItems(QPainter& painter, const QRect& view)
{
}

bool CKvWindow::OnItemMouse(int message, const QPoint& point)
{
    return false;
}

void CKvWindow::ShowToolTip(bool show)
{
    // Containers use their tool tip text as a hint drawn inside them.
}

bool CKvWindow::OnMouseMessage(int message, const QPoint& point)
{
    if (!m_visible || !m_enabled)
        return false;
    if (m_dragPart != PartNone) {
        if (message == kMouseMove) {
            const QSize content = ContentSize();
            const QRect view = ViewRect();
            if (m_dragPart == PartVThumb) {
                const int track = VScrollRect().height() - VThumbRect().height();
                const int range = content.height() - view.height();
                if (track > 0)
                    SetScroll(m_scrollX, m_dragStartScroll + (point.y() - m_dragStart.y()) * range / track);
            } else {
                const int track = HScrollRect().width() - HThumbRect().width();
                const int range = content.width() - view.width();
                if (track > 0)
                    SetScroll(m_dragStartScroll + (point.x() - m_dragStart.x()) * range / track, m_scrollY);
            }
            return true;
        }
        if (message == kLButtonUp) {
            m_dragPart = PartNone;
            if (m_manager)
                m_manager->SetCapture(false);
            return true;
        }
        return false;
    }
    if (Contains(point) && (message == kLButtonDown || message == kLButtonDblClk)) {
        const int part = HitScrollBar(point);
        if (part != PartNone) {
            if (m_manager && !m_focus)
                m_manager->SetFocusControl(this, m_typeCode);
            const QRect view = ViewRect();
            switch (part) {
            case PartVThumb:
            case PartHThumb:
                m_dragPart = part;
                m_dragStart = point;
                m_dragStartScroll = part == PartVThumb ? m_scrollY : m_scrollX;
                if (m_manager)
                    m_manager->SetCapture(true);
                break;
            case PartVTrackBefore: SetScroll(m_scrollX, m_scrollY - view.height()); break;
            case PartVTrackAfter: SetScroll(m_scrollX, m_scrollY + view.height()); break;
            case PartHTrackBefore: SetScroll(m_scrollX - view.width(), m_scrollY); break;
            case PartHTrackAfter: SetScroll(m_scrollX + view.width(), m_scrollY); break;
            default: break;
            }
            return true;
        }
    }
    return OnItemMouse(message, point);
}

bool CKvWindow::OnWheel(int delta, const QPoint& point)
{
    if (!m_visible || !m_enabled || delta == 0)
        return false;
    const int before = m_scrollY;
    const int beforeX = m_scrollX;
    const int step = kWheelStep * delta / 120;
    if (HasVScroll())
        SetScroll(m_scrollX, m_scrollY - step);
    else if (HasHScroll())
        SetScroll(m_scrollX - step, m_scrollY);
    return before != m_scrollY || beforeX != m_scrollX;
}

void CKvWindow::DrawContent(QPainter& painter, const QRect& rect)
{
    const tagKvUiColors& colors = CKvUIManager::Colors();
    ClampScroll();
    painter.fillRect(rect, ColorFromRef(colors.clrCtrlBK));
    const QRect view = ViewRect();
    painter.save();
    painter.setClipRect(view, Qt::IntersectClip);
    DrawItems(painter, view);
    painter.restore();
    DrawScrollBars(painter);
    painter.setPen(ColorFromRef(colors.clrDlgEdge));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(rect.adjusted(0, 0, -1, -1));
    if (!m_enabled)
        painter.fillRect(rect, ColorFromRef(colors.clrDlgBK, 150));
}

void CKvWindow::DrawScrollBars(QPainter& painter)
{
    const tagKvUiColors& colors = CKvUIManager::Colors();
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor track = ShiftColorRef(colors.clrCtrlBK, -12);
    const QColor thumb = ShiftColorRef(colors.clrDlgEdge, m_dragPart != PartNone ? 40 : 10);
    const QRect vertical = VScrollRect();
    const QRect horizontal = HScrollRect();
    if (!vertical.isEmpty()) {
        painter.fillRect(vertical, track);
        painter.setPen(Qt::NoPen);
        painter.setBrush(thumb);
        painter.drawRoundedRect(QRectF(VThumbRect()).adjusted(1, 1, -1, -1), 4, 4);
    }
    if (!horizontal.isEmpty()) {
        painter.fillRect(horizontal, track);
        painter.setPen(Qt::NoPen);
        painter.setBrush(thumb);
        painter.drawRoundedRect(QRectF(HThumbRect()).adjusted(1, 1, -1, -1), 4, 4);
    }
    if (!vertical.isEmpty() && !horizontal.isEmpty())
        painter.fillRect(QRect(vertical.x(), horizontal.y(), kScrollBarSize, kScrollBarSize), track);
    painter.restore();
}
