#include "SkinArtist.h"

#include <QConicalGradient>
#include <QFont>
#include <QFontMetricsF>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include <cmath>

namespace velmora::skingen {

namespace {

// One line weight for every glyph. Straight strokes are centred on whole pixel
// coordinates so that their two pixels land exactly on the pixel grid.
constexpr qreal kStroke = 2.0;
constexpr qreal kDisabledOpacity = 0.4;

QColor Mix(const QColor& from, const QColor& to, qreal t)
{
    return QColor::fromRgbF(from.redF() + (to.redF() - from.redF()) * t,
                            from.greenF() + (to.greenF() - from.greenF()) * t,
                            from.blueF() + (to.blueF() - from.blueF()) * t,
                            from.alphaF() + (to.alphaF() - from.alphaF()) * t);
}

QColor WithAlpha(QColor color, int alpha)
{
    color.setAlpha(alpha);
    return color;
}

QColor Shift(const QColor& color, int amount)
{
    return QColor(qBound(0, color.red() + amount, 255), qBound(0, color.green() + amount, 255),
                  qBound(0, color.blue() + amount, 255), color.alpha());
}

QPen Stroke(const QColor& color, qreal width = kStroke)
{
    return QPen(color, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

QFont WordFont()
{
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(13);
    font.setBold(true);
    font.setHintingPreference(QFont::PreferFullHinting);
    return font;
}

// ---- Glyphs, each drawn around a centre point -------------------------------------

void Cross(QPainter& p, const QPointF& c, qreal half)
{
    p.drawLine(c + QPointF(-half, -half), c + QPointF(half, half));
    p.drawLine(c + QPointF(half, -half), c + QPointF(-half, half));
}

void Plus(QPainter& p, const QPointF& c, qreal half)
{
    p.drawLine(c + QPointF(-half, 0), c + QPointF(half, 0));
    p.drawLine(c + QPointF(0, -half), c + QPointF(0, half));
}

void Arrow(QPainter& p, const QPointF& c, bool up)
{
    const qreal s = up ? -1 : 1;
    p.drawLine(c + QPointF(0, -6 * s), c + QPointF(0, 6 * s));
    const QPointF head[] = {c + QPointF(-5, -1 * s), c + QPointF(0, 6 * s), c + QPointF(5, -1 * s)};
    p.drawPolyline(head, 3);
}

void Chevron(QPainter& p, const QPointF& c, bool left)
{
    const qreal s = left ? 1 : -1;
    const QPointF points[] = {c + QPointF(2 * s, -5), c + QPointF(-3 * s, 0), c + QPointF(2 * s, 5)};
    p.drawPolyline(points, 3);
}

// A play triangle with softened corners, filled.
void PlayTriangle(QPainter& p, const QPointF& c, qreal height, const QColor& color)
{
    const qreal h = height / 2;
    const qreal w = height * 0.86;
    QPainterPath path;
    path.moveTo(c + QPointF(-w * 0.4, -h));
    path.lineTo(c + QPointF(w * 0.6, 0));
    path.lineTo(c + QPointF(-w * 0.4, h));
    path.closeSubpath();
    p.save();
    p.setPen(QPen(color, 1.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(color);
    p.drawPath(path);
    p.restore();
}

void StopSquare(QPainter& p, const QPointF& c, qreal side, const QColor& color)
{
    p.save();
    p.setPen(Qt::NoPen);
    p.setBrush(color);
    p.drawRoundedRect(QRectF(c.x() - side / 2, c.y() - side / 2, side, side), 2, 2);
    p.restore();
}

// Three faders: the output settings.
void Sliders(QPainter& p, const QPointF& c, const QColor& ink, const QColor& gap)
{
    const qreal rows[] = {-5, 0, 5};
    const qreal knobs[] = {3, -3, 1};
    for (int i = 0; i < 3; ++i) {
        p.setPen(Stroke(ink));
        p.drawLine(c + QPointF(-7, rows[i]), c + QPointF(7, rows[i]));
    }
    for (int i = 0; i < 3; ++i) {
        p.setPen(QPen(gap, 1.5));
        p.setBrush(ink);
        p.drawEllipse(c + QPointF(knobs[i], rows[i]), 2.6, 2.6);
    }
    p.setBrush(Qt::NoBrush);
}

void TrashCan(QPainter& p, const QPointF& c)
{
    p.drawLine(c + QPointF(-6, -4), c + QPointF(6, -4));
    const QPointF handle[] = {c + QPointF(-2, -4), c + QPointF(-2, -7), c + QPointF(2, -7), c + QPointF(2, -4)};
    p.drawPolyline(handle, 4);
    const QPointF body[] = {c + QPointF(-4, -1), c + QPointF(-4, 6), c + QPointF(4, 6), c + QPointF(4, -1)};
    p.drawPolyline(body, 4);
    p.drawLine(c + QPointF(0, 0), c + QPointF(0, 3));
}

void Headphones(QPainter& p, const QPointF& c, const QColor& ink)
{
    QPainterPath band;
    band.moveTo(c + QPointF(-6, 3));
    band.lineTo(c + QPointF(-6, 0));
    band.arcTo(QRectF(c.x() - 6, c.y() - 6, 12, 12), 180, -180);
    band.lineTo(c + QPointF(6, 3));
    p.drawPath(band);
    p.save();
    p.setPen(Qt::NoPen);
    p.setBrush(ink);
    p.drawRoundedRect(QRectF(c.x() - 8, c.y() + 1, 5, 7), 1.5, 1.5);
    p.drawRoundedRect(QRectF(c.x() + 3, c.y() + 1, 5, 7), 1.5, 1.5);
    p.restore();
}

// Five bars of a sound wave: the program's mark. Bars sit on whole pixels and
// have even heights so both ends stay sharp.
void WaveBars(QPainter& p, const QPointF& c, const QColor& color)
{
    const qreal heights[] = {4, 8, 14, 6, 10};
    p.save();
    p.setPen(Stroke(color));
    for (int i = 0; i < 5; ++i) {
        const qreal x = c.x() + (i - 2) * 4;
        const qreal h = heights[i] / 2;
        p.drawLine(QPointF(x, c.y() - h), QPointF(x, c.y() + h));
    }
    p.restore();
}

} // namespace

SkinArtist::SkinArtist(const Palette& palette)
    : m_palette(palette)
{
    DefineImages();
}

Look SkinArtist::LookFor(FrameState state) const
{
    const Palette& c = m_palette;
    Look look;
    look.state = state;
    switch (state) {
    case FrameState::Normal:
        look.ink = Mix(c.text, c.control, 0.12);
        look.accent = c.accent;
        look.danger = c.danger;
        look.plate = c.control;
        look.border = c.edge;
        break;
    case FrameState::Hover:
        look.ink = Shift(c.text, 12);
        look.accent = Mix(c.accent, Qt::white, 0.22);
        look.danger = Mix(c.danger, Qt::white, 0.15);
        look.plate = Shift(c.control, 10);
        look.border = Shift(c.edge, 22);
        break;
    case FrameState::Pressed:
        look.ink = Mix(c.text, c.control, 0.25);
        look.accent = Mix(c.accent, Qt::black, 0.12);
        look.danger = Mix(c.danger, Qt::black, 0.12);
        look.plate = Shift(c.control, -9);
        look.border = Shift(c.edge, -8);
        look.dy = 1;
        break;
    case FrameState::Disabled: {
        // Drawn like the normal frame without the accent, then faded.
        const QColor grey = Mix(c.text, c.control, 0.3);
        look.ink = Mix(c.text, c.control, 0.12);
        look.accent = grey;
        look.danger = grey;
        look.plate = c.control;
        look.border = c.edge;
        break;
    }
    }
    return look;
}

QString DoubledPath(const QString& path)
{
    const int dot = path.lastIndexOf(QLatin1Char('.'));
    return dot < 0 ? path + QStringLiteral("@2x") : path.left(dot) + QStringLiteral("@2x") + path.mid(dot);
}

QImage SkinArtist::Render(const SkinImage& image, int scale) const
{
    static const FrameState strip[] = {FrameState::Normal, FrameState::Hover, FrameState::Pressed,
                                       FrameState::Disabled};
    // Every drawing works in logical pixels; the device pixel ratio of the
    // pictures turns that into scale pixels per logical one.
    QImage result(image.frameSize.width() * image.frames * scale, image.frameSize.height() * scale,
                  QImage::Format_ARGB32_Premultiplied);
    result.setDevicePixelRatio(scale);
    result.fill(Qt::transparent);
    QPainter out(&result);
    for (int i = 0; i < image.frames; ++i) {
        const FrameState state = image.frames == 4 ? strip[i] : FrameState::Normal;
        QImage frame(image.frameSize * scale, QImage::Format_ARGB32_Premultiplied);
        frame.setDevicePixelRatio(scale);
        frame.fill(Qt::transparent);
        {
            QPainter painter(&frame);
            painter.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing
                                   | QPainter::SmoothPixmapTransform);
            image.draw(painter, QRectF(QPointF(0, 0), QSizeF(image.frameSize)), LookFor(state));
        }
        out.setOpacity(state == FrameState::Disabled ? kDisabledOpacity : 1.0);
        out.drawImage(i * image.frameSize.width(), 0, frame);
    }
    out.end();
    result.setDevicePixelRatio(1.0);
    return result.convertToFormat(QImage::Format_ARGB32);
}

void SkinArtist::DrawPlate(QPainter& painter, const QRectF& frame, const Look& look, qreal radius) const
{
    const QRectF body = frame.adjusted(0.5, 0.5, -0.5, -0.5);
    QLinearGradient fill(body.topLeft(), body.bottomLeft());
    fill.setColorAt(0, Shift(look.plate, 6));
    fill.setColorAt(1, Shift(look.plate, -3));
    painter.setPen(QPen(look.border, 1));
    painter.setBrush(fill);
    painter.drawRoundedRect(body, radius, radius);
    // A faint top light gives the plate a surface without a visible gradient.
    if (look.state != FrameState::Pressed) {
        painter.setPen(QPen(WithAlpha(Qt::white, 18), 1));
        painter.drawLine(QPointF(body.left() + radius, body.top() + 1), QPointF(body.right() - radius, body.top() + 1));
    }
    painter.setBrush(Qt::NoBrush);
}

void SkinArtist::DrawCaptionPlate(QPainter& painter, const QRectF& frame, const Look& look, bool danger) const
{
    // Caption buttons stay bare until the pointer reaches them.
    if (look.state != FrameState::Hover && look.state != FrameState::Pressed)
        return;
    QColor fill;
    if (danger)
        fill = look.danger;
    else
        fill = WithAlpha(m_palette.edge, look.state == FrameState::Hover ? 150 : 95);
    painter.setPen(Qt::NoPen);
    painter.setBrush(fill);
    painter.drawRoundedRect(frame, 3, 3);
    painter.setBrush(Qt::NoBrush);
}

void SkinArtist::DrawPrimaryPlate(QPainter& painter, const QRectF& frame, const Look& look,
                                  const QColor& tint) const
{
    Look tinted = look;
    tinted.plate = Mix(look.plate, tint, look.state == FrameState::Hover ? 0.09 : 0.05);
    tinted.border = Mix(look.border, tint, look.state == FrameState::Pressed ? 0.55 : 0.75);
    DrawPlate(painter, frame, tinted, 6);
}

void SkinArtist::DrawLabelled(QPainter& painter, const QRectF& frame, const Look& look, const QString& word,
                              qreal iconWidth, const std::function<void(QPainter&, const QPointF&)>& icon) const
{
    const QFont font = WordFont();
    const QFontMetricsF metrics(font);
    constexpr qreal kGap = 8;
    const qreal total = iconWidth + kGap + metrics.horizontalAdvance(word);
    const qreal left = std::round((frame.width() - total) / 2);
    const qreal middle = std::round(frame.height() / 2) + look.dy;
    icon(painter, QPointF(frame.left() + left + iconWidth / 2, frame.top() + middle));
    painter.setFont(font);
    painter.setPen(look.ink);
    const qreal baseline = std::round(frame.top() + middle + (metrics.ascent() - metrics.descent()) / 2);
    painter.drawText(QPointF(frame.left() + left + iconWidth + kGap, baseline), word);
}

void SkinArtist::DefineImages()
{
    using Draw = std::function<void(QPainter&, const QRectF&, const Look&)>;
    auto add = [this](const QString& path, QSize size, int frames, Draw draw) {
        m_images.push_back(SkinImage{path, size, frames, std::move(draw)});
    };
    const QSize caption(16, 16);
    const QSize operation(30, 30);

    // ---- Caption buttons, 16 x 16 -----------------------------------------------------
    add("btn/dia-close.png", caption, 4, [this](QPainter& p, const QRectF& f, const Look& l) {
        DrawCaptionPlate(p, f, l, true);
        const bool lit = l.state == FrameState::Hover || l.state == FrameState::Pressed;
        p.setPen(Stroke(lit ? QColor(Qt::white) : l.ink));
        Cross(p, QPointF(8, 8 + l.dy), 3.5);
    });
    add("btn/dia-min.png", caption, 4, [this](QPainter& p, const QRectF& f, const Look& l) {
        DrawCaptionPlate(p, f, l, false);
        p.setPen(Stroke(l.ink));
        p.drawLine(QPointF(4.5, 11 + l.dy), QPointF(11.5, 11 + l.dy));
    });
    add("btn/dia-max1.png", caption, 4, [this](QPainter& p, const QRectF& f, const Look& l) {
        DrawCaptionPlate(p, f, l, false);
        p.setPen(Stroke(l.ink));
        p.drawRoundedRect(QRectF(4, 4 + l.dy, 8, 8), 1, 1);
    });
    add("btn/dia-max.png", caption, 4, [this](QPainter& p, const QRectF& f, const Look& l) {
        // Restore: a window in front of another.
        DrawCaptionPlate(p, f, l, false);
        p.setPen(Stroke(l.ink));
        p.drawRoundedRect(QRectF(4, 6 + l.dy, 6, 6), 1, 1);
        const QPointF back[] = {QPointF(7, 3 + l.dy), QPointF(12, 3 + l.dy), QPointF(12, 8 + l.dy)};
        p.drawPolyline(back, 3);
    });
    add("btn/dia-help.png", caption, 4, [this](QPainter& p, const QRectF& f, const Look& l) {
        DrawCaptionPlate(p, f, l, false);
        p.setPen(Stroke(l.ink));
        QPainterPath hook;
        hook.moveTo(5, 6 + l.dy);
        hook.arcTo(QRectF(5, 3 + l.dy, 6, 6), 180, -270);
        hook.lineTo(8, 10 + l.dy);
        p.drawPath(hook);
        p.setPen(Qt::NoPen);
        p.setBrush(l.ink);
        p.drawEllipse(QPointF(8, 13 + l.dy), 1.25, 1.25);
        p.setBrush(Qt::NoBrush);
    });
    add("btn/menu.png", QSize(25, 25), 4, [this](QPainter& p, const QRectF& f, const Look& l) {
        DrawCaptionPlate(p, f, l, false);
        p.setPen(Stroke(l.ink));
        for (int y : {8, 12, 16})
            p.drawLine(QPointF(8, y + l.dy), QPointF(17, y + l.dy));
    });

    // ---- List operations, 30 x 30 -----------------------------------------------------
    add("btn/op-remove.png", operation, 4, [this](QPainter& p, const QRectF& f, const Look& l) {
        DrawPlate(p, f, l, 5);
        p.setPen(Stroke(l.ink));
        p.drawLine(QPointF(10, 15 + l.dy), QPointF(20, 15 + l.dy));
    });
    add("btn/op-removeall.png", operation, 4, [this](QPainter& p, const QRectF& f, const Look& l) {
        DrawPlate(p, f, l, 5);
        p.setPen(Stroke(l.ink));
        TrashCan(p, QPointF(15, 15 + l.dy));
    });
    add("btn/op-up.png", operation, 4, [this](QPainter& p, const QRectF& f, const Look& l) {
        DrawPlate(p, f, l, 5);
        p.setPen(Stroke(l.ink));
        Arrow(p, QPointF(15, 15 + l.dy), true);
    });
    add("btn/op-down.png", operation, 4, [this](QPainter& p, const QRectF& f, const Look& l) {
        DrawPlate(p, f, l, 5);
        p.setPen(Stroke(l.ink));
        Arrow(p, QPointF(15, 15 + l.dy), false);
    });
    add("btn/op-previewproject.png", operation, 4, [this](QPainter& p, const QRectF& f, const Look& l) {
        DrawPlate(p, f, l, 5);
        p.setPen(Stroke(l.ink));
        Headphones(p, QPointF(15, 14 + l.dy), l.ink);
    });

    // ---- Main actions -----------------------------------------------------------------
    add("btn/add.png", QSize(40, 40), 4, [this](QPainter& p, const QRectF& f, const Look& l) {
        DrawPlate(p, f, l, 6);
        p.setPen(Stroke(l.ink));
        Plus(p, QPointF(20, 20 + l.dy), 7);
    });
    add("btn/vsetting.png", QSize(92, 40), 4, [this](QPainter& p, const QRectF& f, const Look& l) {
        DrawPlate(p, f, l, 6);
        const QColor gap = Shift(l.plate, 2);
        DrawLabelled(p, f, l, QStringLiteral("Settings"), 16,
                     [&](QPainter& painter, const QPointF& c) { Sliders(painter, c, l.ink, gap); });
    });
    add("btn/main-convert.png", QSize(126, 40), 4, [this](QPainter& p, const QRectF& f, const Look& l) {
        DrawPrimaryPlate(p, f, l, l.accent);
        DrawLabelled(p, f, l, QStringLiteral("Render"), 14, [&](QPainter& painter, const QPointF& c) {
            PlayTriangle(painter, c, 13, l.accent);
        });
    });
    add("btn/main-convertstop.png", QSize(126, 40), 4, [this](QPainter& p, const QRectF& f, const Look& l) {
        DrawPrimaryPlate(p, f, l, l.danger);
        DrawLabelled(p, f, l, QStringLiteral("Stop"), 12, [&](QPainter& painter, const QPointF& c) {
            StopSquare(painter, c, 11, l.danger);
        });
    });

    // ---- Preview bar, 30 x 30 ---------------------------------------------------------
    add("btn/btnlyricplay.png", operation, 4, [this](QPainter& p, const QRectF& f, const Look& l) {
        DrawPlate(p, f, l, 14.5);
        PlayTriangle(p, QPointF(15.5, 15 + l.dy), 11, l.accent);
    });
    add("btn/btnstop.png", operation, 4, [this](QPainter& p, const QRectF& f, const Look& l) {
        DrawPlate(p, f, l, 14.5);
        StopSquare(p, QPointF(15, 15 + l.dy), 10, l.danger);
    });

    // ---- Notice list page buttons, 24 x 24 --------------------------------------------
    add("btn/prevpage.png", QSize(24, 24), 4, [this](QPainter& p, const QRectF& f, const Look& l) {
        DrawCaptionPlate(p, f.adjusted(1, 1, -1, -1), l, false);
        p.setPen(Stroke(l.ink));
        Chevron(p, QPointF(12, 12 + l.dy), true);
    });
    add("btn/nextpage.png", QSize(24, 24), 4, [this](QPainter& p, const QRectF& f, const Look& l) {
        DrawCaptionPlate(p, f.adjusted(1, 1, -1, -1), l, false);
        p.setPen(Stroke(l.ink));
        Chevron(p, QPointF(12, 12 + l.dy), false);
    });

    // ---- The program's mark, 26 x 26 --------------------------------------------------
    add("btn/gold.png", QSize(26, 26), 1, [this](QPainter& p, const QRectF& f, const Look&) {
        QLinearGradient fill(0, 0, 0, 26);
        fill.setColorAt(0, Mix(m_palette.accent, Qt::white, 0.12));
        fill.setColorAt(1, Mix(m_palette.accent, Qt::black, 0.08));
        p.setPen(Qt::NoPen);
        p.setBrush(fill);
        p.drawRoundedRect(f.adjusted(1, 1, -1, -1), 6, 6);
        WaveBars(p, QPointF(13, 13), m_palette.dialog);
    });

    // The program's icon on the desktop (menus, window lists, the file manager): the
    // mark of btn/gold.png drawn for 48 px, with 4 px bars on whole pixels.
    // packaging/velmora.svg draws the same shapes for every other size.
    add("icon/velmora.png", QSize(48, 48), 1, [this](QPainter& p, const QRectF&, const Look&) {
        QLinearGradient fill(0, 2, 0, 46);
        fill.setColorAt(0, Mix(m_palette.accent, Qt::white, 0.12));
        fill.setColorAt(1, Mix(m_palette.accent, Qt::black, 0.08));
        p.setPen(Qt::NoPen);
        p.setBrush(fill);
        p.drawRoundedRect(QRectF(2, 2, 44, 44), 10, 10);
        const qreal heights[] = {8, 16, 28, 12, 20};
        p.setPen(Stroke(m_palette.dialog, 4));
        for (int i = 0; i < 5; ++i) {
            const qreal x = 24 + (i - 2) * 7;
            p.drawLine(QPointF(x, 24 - heights[i] / 2), QPointF(x, 24 + heights[i] / 2));
        }
    });

    // ---- Flags ------------------------------------------------------------------------
    // The spinner is white with alpha: the waiting dialog tints it.
    add("flag/waiting.png", QSize(48, 48), 1, [](QPainter& p, const QRectF& f, const Look&) {
        const QPointF c = f.center();
        const qreal radius = 18;
        // The head leads clockwise (the dialog turns it that way); the tail fades
        // out behind it, counter-clockwise.
        QConicalGradient sweep(c, 90);
        sweep.setColorAt(0.0, QColor(255, 255, 255, 255));
        sweep.setColorAt(300.0 / 360.0, QColor(255, 255, 255, 0));
        sweep.setColorAt(1.0, QColor(255, 255, 255, 0));
        p.setPen(QPen(QBrush(sweep), 4, Qt::SolidLine, Qt::FlatCap));
        p.drawArc(QRectF(c.x() - radius, c.y() - radius, 2 * radius, 2 * radius), 90 * 16, 300 * 16);
        // A round head at the bright end.
        p.setPen(Qt::NoPen);
        p.setBrush(Qt::white);
        p.drawEllipse(QPointF(c.x(), c.y() - radius), 2, 2);
    });
    // The thumbnail of a notice without a picture: a calm panel under the list's
    // play mark, which is drawn in its middle.
    add("flag/videodefault.png", QSize(128, 72), 1, [this](QPainter& p, const QRectF& f, const Look&) {
        QLinearGradient fill(0, 0, 0, f.height());
        fill.setColorAt(0, Shift(m_palette.control, 10));
        fill.setColorAt(1, Shift(m_palette.control, -8));
        p.setPen(QPen(m_palette.edge, 1));
        p.setBrush(fill);
        p.drawRoundedRect(f.adjusted(0.5, 0.5, -0.5, -0.5), 4, 4);
    });
    add("flag/ytplay.png", QSize(28, 28), 1, [](QPainter& p, const QRectF& f, const Look&) {
        p.setPen(QPen(QColor(255, 255, 255, 190), 1.5));
        p.setBrush(QColor(20, 22, 26, 150));
        p.drawEllipse(f.adjusted(1.5, 1.5, -1.5, -1.5));
        PlayTriangle(p, QPointF(14.8, 14), 10, QColor(255, 255, 255, 235));
    });
}

} // namespace velmora::skingen
