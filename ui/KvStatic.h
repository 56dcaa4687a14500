#pragma once

#include "ui/KvButton.h"

// A caption on the dialog: takes no mouse input and never clicks.
class CKvStatic : public CKvButton
{
public:
    CKvStatic();

    bool OnMouseMessage(int message, const QPoint& point) override;
    void OnClick(const QPoint& point) override;
    void DrawContent(QPainter& painter, const QRect& rect) override;
};
