#pragma once

#include "ui/KvButton.h"

// A check box: a click toggles the checked flag and sends the command. The
// image, when given, holds the unchecked frames; without one a box is drawn.
class CKvCheck : public CKvButton
{
public:
    CKvCheck();

    void OnClick(const QPoint& point) override;
    void DrawContent(QPainter& painter, const QRect& rect) override;

    bool IsChecked() const { return m_checked; }
    void SetCheck(bool checked, bool redraw = true);

protected:
    // The mark at the left of the caption: a box, or a circle for radio buttons.
    virtual void DrawMark(QPainter& painter, const QRect& box);
    // Tells assistive technology that the checked flag changed.
    void NotifyChecked();

    bool m_checked = false;
};
