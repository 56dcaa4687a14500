#include "ui/KvSkinImage.h"

#include <QFileInfo>
#include <QPaintDevice>
#include <QPainter>

namespace velmora {

namespace {

QImage Premultiplied(const QImage& image)
{
    return image.isNull() ? QImage() : image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

} // namespace

KvSkinImage::KvSkinImage(const QString& path)
    : m_normal(Premultiplied(QImage(path)))
{
    if (m_normal.isNull())
        return;
    QImage doubled = Premultiplied(QImage(DoubledPath(path)));
    // A companion that does not match its 1x picture would draw at another size
    // than the layout expects: the 1x picture is then used everywhere.
    if (doubled.size() != m_normal.size() * 2)
        return;
    doubled.setDevicePixelRatio(2.0);
    m_doubled = doubled;
}

KvSkinImage::KvSkinImage(const QImage& image)
    : m_normal(Premultiplied(image))
{
    m_normal.setDevicePixelRatio(1.0);
}

const QImage& KvSkinImage::For(qreal ratio) const
{
    return ratio > 1.0 && !m_doubled.isNull() ? m_doubled : m_normal;
}

const QImage& KvSkinImage::For(const QPainter& painter) const
{
    return For(RatioOf(painter));
}

QString KvSkinImage::DoubledPath(const QString& path)
{
    const QFileInfo info(path);
    const QString suffix = info.suffix();
    if (suffix.isEmpty())
        return path + QStringLiteral("@2x");
    return path.left(path.size() - suffix.size() - 1) + QStringLiteral("@2x.") + suffix;
}

qreal KvSkinImage::RatioOf(const QPainter& painter)
{
    const QPaintDevice* device = painter.device();
    return device ? device->devicePixelRatioF() : 1.0;
}

} // namespace velmora
