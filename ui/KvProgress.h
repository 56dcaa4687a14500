#pragma once

#include "ui/KvButton.h"

// A bar for the current position between the minimum and the maximum, drawn
// over a background in the scheme colours, with the caption centred on it.
class CKvProgress : public CKvButton
{
public:
    CKvProgress();

    void DrawContent(QPainter& painter, const QRect& rect) override;

    void SetRange(double minPos, double maxPos, bool redraw = false);
    // Clamped to the range.
    void SetPos(double pos, bool redraw = true);
    double Pos() const { return m_curPos; }
    double MinPos() const { return m_minPos; }
    double MaxPos() const { return m_maxPos; }

private:
    double m_minPos = 0.0;
    double m_maxPos = 100.0;
    double m_curPos = 0.0;
};
