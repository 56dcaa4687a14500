#pragma once

// The help panel of the settings dialogs: a quiet box whose text (the help for the
// row under the pointer) wraps over as many lines as the box holds. Lines may be
// separated by "\r\n", as the help texts are written.

#include "ui/KvStatic.h"

namespace velmora {

class KvHelpPanel : public CKvStatic
{
public:
    // The small face of the font table: the longest help (the frame counts of the
    // H.264 dialog) must fit its panel. Set after registration, which gives statics
    // the label face.
    static constexpr int kFontId = 4;

    KvHelpPanel();

    void DrawContent(QPainter& painter, const QRect& rect) override;
};

} // namespace velmora
