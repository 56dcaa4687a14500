#pragma once

#include "ui/KvCheck.h"

// A radio button: a click checks it; it never unchecks itself (the dialog
// unchecks the others of its group).
class CKvRadio : public CKvCheck
{
public:
    CKvRadio();

    void OnClick(const QPoint& point) override;

protected:
    void DrawMark(QPainter& painter, const QRect& box) override;
};
