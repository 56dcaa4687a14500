#include "frontend/KvMainFrame.h"

#include "ui/KvSkinImage.h"
#include "ui/KvUIManager.h"
#include "ui/KvUiTypes.h"

#include <QFontMetrics>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace velmora {

void KvMainFrame::Draw(QPainter& painter, const QSize& size, const QString& title, int captionHeight,
                       const QString& emblem)
{
    const tagKvUiColors& colors = CKvUIManager::Colors();
    const int w = size.width();
    const int h = size.height();
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);

    QLinearGradient band(0, 0, 0, 32);
    band.setColorAt(0, ShiftColorRef(colors.clrDlgBK, -30));
    band.setColorAt(1, ShiftColorRef(colors.clrDlgBK, 5));
    painter.fillRect(QRect(0, 0, w, captionHeight), band);

    const KvSkinImage gold(emblem);
    if (!gold.IsNull())
        painter.drawImage(QRect(2, 2, 26, 26), gold.For(painter));

    if (!title.isEmpty()) {
        QFont font(QStringLiteral("Arial"));
        font.setPixelSize(15);
        font.setBold(true);
        const QFontMetrics metrics(font);
        const int textWidth = metrics.horizontalAdvance(title);
        const int baseline = (captionHeight - metrics.height()) / 2 + metrics.ascent();
        QPainterPath path;
        path.addText((w - textWidth) / 2.0, baseline, font, title);
        QLinearGradient fill(0, 0, 0, 15);
        fill.setColorAt(0, ShiftColorRef(colors.clrText, -30));
        fill.setColorAt(1, ShiftColorRef(colors.clrText, 50));
        painter.fillPath(path, fill);
    }

    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(ColorFromRef(colors.clrDlgEdge));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(QRect(0, 0, w - 1, h - 1));
    painter.restore();
}

} // namespace velmora
