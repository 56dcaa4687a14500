#pragma once

// A skin picture at the two resolutions the skin is drawn at: "name.png" for
// screens of one device pixel per logical pixel and "name@2x.png" (the same
// geometry drawn at twice the size) for denser screens. Both are read once;
// drawing picks the one that fits the device the painter paints on, so a window
// that moves to a screen of another ratio needs nothing read again.

#include <QImage>
#include <QSize>
#include <QString>

class QPainter;

namespace velmora {

class KvSkinImage
{
public:
    KvSkinImage() = default;
    // Reads path and, where it exists, its "@2x" companion.
    explicit KvSkinImage(const QString& path);
    // A picture made in code: used at every ratio.
    explicit KvSkinImage(const QImage& image);

    bool IsNull() const { return m_normal.isNull(); }
    // The 1x picture (what a standard screen shows).
    const QImage& Normal() const { return m_normal; }
    const QImage& Doubled() const { return m_doubled; }
    // Size in logical pixels.
    QSize Size() const { return m_normal.size(); }
    // The picture for a device of ratio: the 2x one (devicePixelRatio 2) above 1
    // when there is one, the 1x one otherwise.
    const QImage& For(qreal ratio) const;
    const QImage& For(const QPainter& painter) const;

    // "skin/btn/add.png" -> "skin/btn/add@2x.png".
    static QString DoubledPath(const QString& path);
    // The device pixel ratio of what painter paints on (1 without a device).
    static qreal RatioOf(const QPainter& painter);

private:
    QImage m_normal;
    QImage m_doubled;
};

} // namespace velmora
