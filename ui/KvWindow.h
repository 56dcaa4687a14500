#pragma once

#include "ui/KvButton.h"

#include <QRect>
#include <QSize>

// Base of the scrollable containers: a view onto content larger than the
// control, with 17-pixel scroll bars that appear when the content needs them,
// thumb dragging, track paging and wheel scrolling. Derived classes tell the
// content size and draw and hit-test their items.
class CKvWindow : public CKvButton
{
public:
    static constexpr int kScrollBarSize = 17;

    enum ScrollPart {
        PartNone = 0,
        PartVTrackBefore,
        PartVThumb,
        PartVTrackAfter,
        PartHTrackBefore,
        PartHThumb,
        PartHTrackAfter,
        PartCorner,
    };

    CKvWindow();

    bool OnMouseMessage(int message, const QPoint& point) override;
    bool OnWheel(int delta, const QPoint& point) override;
    void DrawContent(QPainter& painter, const QRect& rect) override;
    void ShowToolTip(bool show) override;

    // The whole content in pixels; the view scrolls over it.
    virtual QSize ContentSize() const;
    // The part of the control where items show (without header and bars).
    virtual QRect ViewRect() const;
    virtual int HitScrollBar(const QPoint& point) const;
    // Item index under a client point, or -1.
    virtual int HitItem(const QPoint& point) const;
    virtual void DrawItems(QPainter& painter, const QRect& view);
    virtual void DrawScrollBars(QPainter& painter);
    // Mouse input that did not land on a scroll bar.
    virtual bool OnItemMouse(int message, const QPoint& point);

    bool HasVScroll() const;
    bool HasHScroll() const;
    int ScrollX() const { return m_scrollX; }
    int ScrollY() const { return m_scrollY; }
    void SetScroll(int x, int y);
    // Scrolls just enough to show the content rectangle.
    void EnsureVisible(const QRect& contentRect);
    QRect VScrollRect() const;
    QRect HScrollRect() const;
    QRect VThumbRect() const;
    QRect HThumbRect() const;

protected:
    // The view without the header that a derived class may draw above it.
    virtual int HeaderHeight() const { return 0; }
    bool IsDraggingScroll() const { return m_dragPart != PartNone; }

private:
    void ClampScroll();

    int m_scrollX = 0;
    int m_scrollY = 0;
    int m_dragPart = PartNone;
    QPoint m_dragStart;
    int m_dragStartScroll = 0;
};
