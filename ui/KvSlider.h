#pragma once

#include "ui/KvButton.h"

// A horizontal slider: a track with a filled part and a round thumb. The thumb
// follows a press or drag on the track, the arrow, Home and End keys and the
// wheel; every change by the user posts the command.
class CKvSlider : public CKvButton
{
public:
    CKvSlider();

    bool OnMouseMessage(int message, const QPoint& point) override;
    bool OnKey(const QKeyEvent& event) override;
    void OnLButtonDown(const QPoint& point) override;
    bool OnWheel(int delta, const QPoint& point) override;
    void DrawContent(QPainter& painter, const QRect& rect) override;
    // Position under a client x coordinate.
    virtual int PosFromPoint(const QPoint& point) const;
    virtual QRect ThumbRect() const;

    void SetRange(int minPos, int maxPos, bool redraw = false);
    void SetPos(int pos, bool redraw = true);
    int Pos() const { return m_pos; }
    int MinPos() const { return m_minPos; }
    int MaxPos() const { return m_maxPos; }
    void SetPageStep(int step) { m_pageStep = step; }

private:
    // Moves the thumb on the user's behalf: redraw and command when it moved.
    void UserMove(int pos);

    int m_minPos = 0;
    int m_maxPos = 100;
    int m_pos = 0;
    int m_pageStep = 10;
    bool m_dragging = false;
};
