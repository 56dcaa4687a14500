#include "ui/KvMenuExShadow.h"

#include "ui/KvCompositor.h"
#include "ui/KvUIManager.h"
#include "ui/KvUiTypes.h"

#include <QPainter>
#include <QPainterPath>
#include <QRegion>

namespace {

// Opacity of the five rectangles, outermost first. The outermost one lies just
// outside the window and only softens the rounded corners' edge.
constexpr int kRingAlpha[] = {5, 10, 20, 40, 80};
constexpr qreal kCornerRadius = 5.5;

} // namespace

CKvMenuExShadow::CKvMenuExShadow()
    : QWidget(nullptr, Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowDoesNotAcceptFocus
                           | Qt::WindowTransparentForInput | Qt::NoDropShadowWindowHint)
    , m_opaque(!velmora::HasCompositor())
{
    if (!m_opaque)
        setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFocusPolicy(Qt::NoFocus);
}

void CKvMenuExShadow::Surround(const QRect& menuGeometry)
{
    setGeometry(menuGeometry.adjusted(-kReach, -kReach, kReach, kReach));
}

QImage CKvMenuExShadow::RingPicture(const QSize& size)
{
    QImage picture(size, QImage::Format_ARGB32_Premultiplied);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setBrush(Qt::NoBrush);
    const uint32_t edge = CKvUIManager::Colors().clrDlgEdge;
    const int w = size.width();
    const int h = size.height();
    for (int i = 0; i < 5; ++i) {
        painter.setPen(velmora::ColorFromRef(edge, kRingAlpha[i]));
        painter.drawRect(i - 1, i - 1, w - 2 * i + 1, h - 2 * i + 1);
    }
    painter.end();

    // Round the outer corners off so the ring reads as a shadow, not a box.
    QImage clipped(size, QImage::Format_ARGB32_Premultiplied);
    clipped.fill(Qt::transparent);
    QPainter clip(&clipped);
    clip.setRenderHint(QPainter::Antialiasing, true);
    QPainterPath outline;
    outline.addRoundedRect(QRectF(0, 0, w, h), kCornerRadius, kCornerRadius);
    clip.setClipPath(outline);
    clip.drawImage(0, 0, picture);
    return clipped;
}

QImage CKvMenuExShadow::FlatPicture(const QSize& size)
{
    QImage picture(size, QImage::Format_ARGB32_Premultiplied);
    picture.fill(velmora::ShiftColorRef(CKvUIManager::Colors().clrDlgBK, -20));
    return picture;
}

void CKvMenuExShadow::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    m_picture = m_opaque ? FlatPicture(size()) : RingPicture(size());
    // The transparent middle must never cover the menu: the mask keeps the window to
    // the ring (and, opaque, to the flat border next to the menu).
    const int outside = m_opaque ? kReach - kFlatWidth : 0;
    const QRegion outer(rect().adjusted(outside, outside, -outside, -outside));
    const QRegion inner(rect().adjusted(kReach, kReach, -kReach, -kReach));
    setMask(outer.subtracted(inner));
}

void CKvMenuExShadow::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.drawImage(0, 0, m_picture);
}
