#include "ContactSheet.h"

#include <QFont>
#include <QPainter>

#include <algorithm>

namespace velmora::skingen {

QImage MakeContactSheet(const std::vector<std::pair<QString, QImage>>& images, const QColor& background,
                        const QColor& labelColor, int zoom)
{
    constexpr int kMargin = 16;
    constexpr int kLabel = 16;
    constexpr int kSpacing = 14;
    int width = 0;
    int height = kMargin;
    for (const auto& [path, image] : images) {
        width = std::max(width, image.width() * (1 + zoom) + kSpacing);
        height += kLabel + image.height() * zoom + kSpacing;
    }
    width += 2 * kMargin;
    height += kMargin;

    QImage sheet(width, height, QImage::Format_ARGB32);
    sheet.fill(background);
    QPainter painter(&sheet);
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(11);
    painter.setFont(font);
    int y = kMargin;
    for (const auto& [path, image] : images) {
        painter.setPen(labelColor);
        painter.drawText(kMargin, y + 11, QStringLiteral("%1  %2 x %3").arg(path).arg(image.width()).arg(image.height()));
        y += kLabel;
        // At 100 % as a user sees it, then enlarged without smoothing to check the pixels.
        painter.drawImage(kMargin, y, image);
        if (zoom > 1) {
            const QImage large = image.scaled(image.size() * zoom, Qt::IgnoreAspectRatio, Qt::FastTransformation);
            painter.drawImage(kMargin + image.width() + kSpacing, y, large);
        }
        y += image.height() * std::max(zoom, 1) + kSpacing;
    }
    return sheet;
}

} // namespace velmora::skingen
