#pragma once

#include "ui/KvButton.h"

// A button drawn from its caption alone: a rounded face in the scheme colours,
// the caption centred on it (the dialogs' "OK" and "Cancel").
class CKvTextButton : public CKvButton
{
public:
    CKvTextButton();
    explicit CKvTextButton(const QString& caption);

    void DrawContent(QPainter& painter, const QRect& rect) override;
};
