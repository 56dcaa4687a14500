#pragma once

// The soft ring around an open menu window: a transparent, click-through top
// level window just larger than the menu, painted with five nested one-pixel
// rectangles of the edge colour that grow more opaque towards the menu. The
// window's mask is the ring itself, so the menu is never covered. Where the screen
// has no compositor the ring cannot be translucent: it is then a flat opaque
// border, kFlatWidth pixels wide, in a darkened dialog background.

#include <QImage>
#include <QRect>
#include <QWidget>

class CKvMenuExShadow : public QWidget
{
    Q_OBJECT

public:
    // How far the ring reaches outside the menu window on every side.
    static constexpr int kReach = 4;
    static constexpr int kFlatWidth = 2;

    CKvMenuExShadow();

    bool IsOpaque() const { return m_opaque; }

    // Places the ring around a menu window whose frame is menuGeometry.
    void Surround(const QRect& menuGeometry);
    // The ring as drawn for a window of size, for tests and the gallery.
    static QImage RingPicture(const QSize& size);
    static QImage FlatPicture(const QSize& size);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    QImage m_picture;
    bool m_opaque = false;
};
