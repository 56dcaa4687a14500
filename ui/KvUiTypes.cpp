#include "ui/KvUiTypes.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QImageReader>
#include <QScreen>

#include <algorithm>
#include <cmath>

namespace velmora {

namespace {

int Clamp8(int value)
{
    return std::clamp(value, 0, 255);
}

} // namespace

QColor ColorFromRef(uint32_t colorRef, int alpha)
{
    return QColor(int(colorRef & 0xFF), int((colorRef >> 8) & 0xFF), int((colorRef >> 16) & 0xFF), alpha);
}

QColor ShiftColor(const QColor& color, int amount)
{
    return QColor(Clamp8(color.red() + amount), Clamp8(color.green() + amount), Clamp8(color.blue() + amount),
                  color.alpha());
}

QColor ShiftColorRef(uint32_t colorRef, int amount, int alpha)
{
    return ShiftColor(ColorFromRef(colorRef, alpha), amount);
}

QColor AccentColor()
{
    return QColor(242, 169, 59);
}

QColor DangerColor()
{
    return QColor(224, 92, 84);
}

namespace {

uint32_t ToColorRef(const QColor& color)
{
    return uint32_t(color.red()) | uint32_t(color.green()) << 8 | uint32_t(color.blue()) << 16;
}

} // namespace

uint32_t AccentColorRef()
{
    return ToColorRef(AccentColor());
}

uint32_t DangerColorRef()
{
    return ToColorRef(DangerColor());
}

QImage LoadPictureWithin(const QString& path, const QSize& fit, int maxSide)
{
    QImageReader reader(path);
    reader.setAutoTransform(true);
    const QSize size = reader.size();
    if (!size.isValid() || size.width() > maxSide || size.height() > maxSide)
        return QImage();
    if (size.width() > fit.width() || size.height() > fit.height())
        reader.setScaledSize(size.scaled(fit, Qt::KeepAspectRatio));
    return reader.read();
}

QString VisibleText(const QString& text)
{
    QString visible;
    visible.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == u'&' && i + 1 < text.size())
            ++i;
        else if (text[i] == u'&')
            continue;
        visible += text[i];
    }
    return visible;
}

double SkinFontScale()
{
    if (!qGuiApp)
        return 1.0;
    const QFont font = QGuiApplication::font();
    // The application font's height in logical pixels, as Qt draws it on screen.
    double pixels = font.pixelSize();
    if (pixels <= 0) {
        const QScreen* screen = QGuiApplication::primaryScreen();
        double dpi = screen ? screen->logicalDotsPerInchY() : 96.0;
        if (QCoreApplication::testAttribute(Qt::AA_Use96Dpi))
            dpi = 96.0;
        pixels = font.pointSizeF() * dpi / 72.0;
    }
    const double ratio = pixels / (kStandardFontPoints * 96.0 / 72.0);
    // A hair above 1 is the arithmetic of a standard desktop, not a larger font.
    return ratio > 1.0 + 1e-6 ? ratio : 1.0;
}

QFont FontFromEntry(const tagKvFontData& entry)
{
    QFont font(entry.szName.isEmpty() ? QStringLiteral("Arial") : entry.szName);
    const double scale = SkinFontScale();
    font.setPixelSize(std::max(1, scale == 1.0 ? entry.nSize : int(std::lround(entry.nSize * scale))));
    font.setBold(entry.bBold != 0);
    font.setItalic(entry.bItalic != 0);
    font.setUnderline(entry.bUnderline != 0);
    return font;
}

} // namespace velmora
