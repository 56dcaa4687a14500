#include "ui/KvImageTipWnd.h"

#include "ui/KvUIManager.h"
#include "ui/KvUiTypes.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>

#include <algorithm>

using namespace velmora;

namespace {

constexpr int kPadding = 8;
constexpr int kGap = 6;
constexpr int kMaxTextHeight = 80; // about five lines: a tip, not a page

QFont TitleFont()
{
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(13);
    font.setBold(true);
    return font;
}

QFont BodyFont()
{
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(12);
    return font;
}

constexpr int kTextFlags = Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap;

} // namespace

CKvImageTipWnd::CKvImageTipWnd(QWidget* owner)
    : QWidget(owner, Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowDoesNotAcceptFocus)
{
    setAttribute(Qt::WA_ShowWithoutActivating);
    setFocusPolicy(Qt::NoFocus);
    m_delay.setSingleShot(true);
    connect(&m_delay, &QTimer::timeout, this, &CKvImageTipWnd::ShowNow);
}

void CKvImageTipWnd::SetContent(const QImage& image, const QString& title, const QString& text)
{
    m_image = image;
    m_title = title;
    m_text = text;
    resize(ContentSize());
    update();
}

QRect CKvImageTipWnd::PictureRect() const
{
    if (m_image.isNull())
        return QRect(kPadding, kPadding, kPictureWidth, 0);
    const QSize box(kPictureWidth, kPictureHeight);
    // Small pictures are not blown up past twice their size: they would only blur.
    const QSize size = m_image.size().scaled(box.boundedTo(m_image.size() * 2), Qt::KeepAspectRatio);
    return QRect(kPadding + (kPictureWidth - size.width()) / 2, kPadding, size.width(), size.height());
}

QSize CKvImageTipWnd::ContentSize() const
{
    int height = kPadding + PictureRect().height();
    const QRect textBox(0, 0, kPictureWidth, 10000);
    if (!m_title.isEmpty())
        height += kGap + QFontMetrics(TitleFont()).boundingRect(textBox, kTextFlags, m_title).height();
    if (!m_text.isEmpty())
        height += kGap
            + std::min(kMaxTextHeight, QFontMetrics(BodyFont()).boundingRect(textBox, kTextFlags, m_text).height());
    return QSize(kPictureWidth + 2 * kPadding, height + kPadding);
}

QPoint CKvImageTipWnd::TipPosition(const QRect& item, const QSize& tip, const QRect& screen)
{
    int x = item.center().x() - tip.width() / 2;
    int y = item.top() - tip.height() - 6;
    if (y < screen.top())
        y = item.bottom() + 1 + 6;
    x = std::min(x, screen.right() - 1 - tip.width());
    x = std::max(x, screen.left() + 2);
    return QPoint(x, y);
}

void CKvImageTipWnd::Popup(const QRect& itemOnScreen, int delayMs)
{
    m_item = itemOnScreen;
    if (isVisible())
        hide();
    m_delay.start(std::max(0, delayMs));
}

void CKvImageTipWnd::Hide()
{
    m_delay.stop();
    if (isVisible())
        hide();
}

void CKvImageTipWnd::ShowNow()
{
    QScreen* screen = QGuiApplication::screenAt(m_item.center());
    if (!screen)
        screen = parentWidget() && parentWidget()->screen() ? parentWidget()->screen() : QGuiApplication::primaryScreen();
    const QRect area = screen ? screen->availableGeometry() : QRect(0, 0, 1920, 1080);
    resize(ContentSize());
    move(TipPosition(m_item, size(), area));
    show();
    raise();
}

void CKvImageTipWnd::paintEvent(QPaintEvent*)
{
    const tagKvUiColors& colors = CKvUIManager::Colors();
    QPainter painter(this);
    painter.fillRect(rect(), ColorFromRef(colors.clrCtrlBK));
    painter.setPen(ColorFromRef(colors.clrDlgEdge));
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.setRenderHint(QPainter::TextAntialiasing);

    const QRect picture = PictureRect();
    if (!m_image.isNull()) {
        painter.save();
        painter.setRenderHint(QPainter::Antialiasing);
        QPainterPath clip;
        clip.addRoundedRect(QRectF(picture), 4, 4);
        painter.setClipPath(clip);
        painter.drawImage(picture, m_image);
        painter.restore();
    }
    int y = picture.bottom() + 1;
    if (!m_title.isEmpty()) {
        painter.setFont(TitleFont());
        painter.setPen(ShiftColorRef(colors.clrText, 40));
        const QRect box = painter.boundingRect(QRect(kPadding, y + kGap, kPictureWidth, 10000), kTextFlags, m_title);
        painter.drawText(box, kTextFlags, m_title);
        y = box.bottom() + 1;
    }
    if (!m_text.isEmpty()) {
        painter.setFont(BodyFont());
        painter.setPen(ColorFromRef(colors.clrText));
        painter.drawText(QRect(kPadding, y + kGap, kPictureWidth, height() - kPadding - y - kGap), kTextFlags, m_text);
    }
}
