#pragma once

// Draws Velmora's skin images: the button strips (normal, hover, pressed and
// disabled frames side by side), the program mark, the waiting spinner and the
// notice-list pictures. Everything is drawn from one palette with one line
// weight, so the whole set changes together.

#include <QColor>
#include <QImage>
#include <QSize>
#include <QString>

#include <functional>
#include <vector>

class QPainter;
class QRectF;

namespace velmora::skingen {

// The look of one frame of a button strip.
enum class FrameState { Normal, Hover, Pressed, Disabled };

struct Palette
{
    QColor dialog{36, 39, 45};
    QColor edge{84, 94, 110};
    QColor control{50, 55, 63};
    QColor text{226, 230, 236};
    QColor accent{242, 169, 59};
    QColor danger{224, 92, 84};
};

// Colours of one frame, derived from the palette and the frame's state.
struct Look
{
    FrameState state = FrameState::Normal;
    QColor ink;     // glyphs and words
    QColor accent;  // the amber mark (grey when disabled)
    QColor danger;  // the stop mark (grey when disabled)
    QColor plate;   // button body
    QColor border;  // button outline
    qreal dy = 0;   // pressed frames sit one pixel lower
};

// "btn/add.png" -> "btn/add@2x.png": where the 2x picture of an image goes.
QString DoubledPath(const QString& path);

struct SkinImage
{
    QString path;    // relative to the skin folder, e.g. "btn/add.png"
    QSize frameSize;
    int frames = 1;  // 4 for button strips
    std::function<void(QPainter&, const QRectF&, const Look&)> draw;
};

class SkinArtist
{
public:
    explicit SkinArtist(const Palette& palette = Palette());

    const std::vector<SkinImage>& Images() const { return m_images; }
    // The whole picture of an image: all its frames side by side, drawn at scale
    // device pixels per logical pixel (2 for the "@2x" picture of denser screens:
    // the same geometry drawn at twice the size, not the 1x picture enlarged).
    QImage Render(const SkinImage& image, int scale = 1) const;
    Look LookFor(FrameState state) const;
    const Palette& Colors() const { return m_palette; }

private:
    void DefineImages();

    // Plates: the body of a button in a frame.
    void DrawPlate(QPainter& painter, const QRectF& frame, const Look& look, qreal radius) const;
    void DrawCaptionPlate(QPainter& painter, const QRectF& frame, const Look& look, bool danger) const;
    void DrawPrimaryPlate(QPainter& painter, const QRectF& frame, const Look& look, const QColor& tint) const;
    // Icon and word side by side, centred in the frame.
    void DrawLabelled(QPainter& painter, const QRectF& frame, const Look& look, const QString& word,
                      qreal iconWidth, const std::function<void(QPainter&, const QPointF&)>& icon) const;

    Palette m_palette;
    std::vector<SkinImage> m_images;
};

} // namespace velmora::skingen
