#pragma once

// The main window's own frame: the caption band with its emblem and the title drawn
// as a shaded outline, and the edge around the window.

#include <QSize>
#include <QString>

class QPainter;

namespace velmora {

class KvMainFrame
{
public:
    // emblem: the picture at the caption's left (none when it cannot be read).
    static void Draw(QPainter& painter, const QSize& size, const QString& title, int captionHeight,
                     const QString& emblem);
};

} // namespace velmora
