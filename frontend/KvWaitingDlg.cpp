#include "frontend/KvWaitingDlg.h"

#include "ui/KvCompositor.h"
#include "ui/KvSkinImage.h"
#include "ui/KvUIManager.h"
#include "ui/KvUiTypes.h"

#include <QGuiApplication>
#include <QPainter>
#include <QScreen>
#include <QTimerEvent>

#include <cmath>

using namespace velmora;

CKvWaitingDlg::CKvWaitingDlg(QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint)
    , m_opaque(!HasCompositor())
{
    // Translucency is chosen before the native window exists; it cannot change later.
    if (!m_opaque)
        setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setCursor(Qt::WaitCursor);
    PrepareSpinner();
}

CKvWaitingDlg::~CKvWaitingDlg()
{
    if (m_timer)
        killTimer(m_timer);
}

namespace {

// The picture's silhouette in the dialog edge colour, with the picture itself
// faintly over it, so the spinner matches the colour scheme.
QImage TintSpinner(const QImage& picture)
{
    if (picture.isNull())
        return QImage();
    const QImage loaded = picture.convertToFormat(QImage::Format_ARGB32);
    const QColor edge = ColorFromRef(CKvUIManager::Colors().clrDlgEdge);
    QImage silhouette(loaded.size(), QImage::Format_ARGB32);
    QImage faint = loaded;
    for (int y = 0; y < loaded.height(); ++y) {
        const QRgb* source = reinterpret_cast<const QRgb*>(loaded.constScanLine(y));
        QRgb* target = reinterpret_cast<QRgb*>(silhouette.scanLine(y));
        QRgb* light = reinterpret_cast<QRgb*>(faint.scanLine(y));
        for (int x = 0; x < loaded.width(); ++x) {
            target[x] = qRgba(edge.red(), edge.green(), edge.blue(), qAlpha(source[x]));
            light[x] = qRgba(qRed(source[x]), qGreen(source[x]), qBlue(source[x]), qAlpha(source[x]) / 3);
        }
    }
    QImage tinted = silhouette.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    faint.setDevicePixelRatio(1.0);
    {
        QPainter painter(&tinted);
        painter.drawImage(0, 0, faint);
    }
    tinted.setDevicePixelRatio(picture.devicePixelRatio());
    return tinted;
}

} // namespace

void CKvWaitingDlg::PrepareSpinner()
{
    // Read as they are (not through KvSkinImage): the tint works on the
    // unpremultiplied colours of the file.
    const QString path = CKvUIManager::ResolvePath(QStringLiteral("skin/flag/waiting.png"));
    m_spinner = TintSpinner(QImage(path));
    QImage doubled(KvSkinImage::DoubledPath(path));
    if (m_spinner.isNull() || doubled.size() != m_spinner.size() * 2)
        doubled = QImage();
    doubled.setDevicePixelRatio(2.0);
    m_spinner2x = TintSpinner(doubled);
}

int CKvWaitingDlg::NextAngle(int angle)
{
    angle += kAngleStep;
    return angle > 360 ? kAngleStep : angle;
}

void CKvWaitingDlg::Open()
{
    const QSize pictureSize = m_spinner.isNull() ? QSize(32, 32) : m_spinner.size();
    const QSize size(pictureSize.width() + kMargin, pictureSize.height() + kMargin);
    resize(size);
    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - QPoint(size.width() / 2, size.height() / 2));
    m_angle = 0;
    if (!m_timer)
        m_timer = startTimer(kTimerInterval);
    show();
    raise();
}

void CKvWaitingDlg::Close()
{
    if (m_timer) {
        killTimer(m_timer);
        m_timer = 0;
    }
    close();
}

void CKvWaitingDlg::timerEvent(QTimerEvent* event)
{
    if (event->timerId() != m_timer) {
        QWidget::timerEvent(event);
        return;
    }
    m_angle = NextAngle(m_angle);
    update();
    raise();
}

QImage CKvWaitingDlg::Render() const
{
    // Drawn at the screen's device pixel ratio, from the 2x spinner above 1.
    const qreal ratio = devicePixelRatioF();
    QImage picture(QSize(int(std::ceil(width() * ratio)), int(std::ceil(height() * ratio))),
                   QImage::Format_ARGB32_Premultiplied);
    picture.setDevicePixelRatio(ratio);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    const int w = width();
    const int h = height();
    if (m_opaque) {
        // A small panel of the dialog colours: its background, an edge-coloured frame.
        const tagKvUiColors& colors = CKvUIManager::Colors();
        painter.fillRect(rect(), ColorFromRef(colors.clrDlgBK));
        painter.setPen(ColorFromRef(colors.clrDlgEdge));
        painter.drawRect(QRect(0, 0, w - 1, h - 1));
    }
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    if (!m_spinner.isNull()) {
        painter.translate(w / 2.0, h / 2.0);
        painter.rotate(m_angle);
        painter.translate(-w / 2.0, -h / 2.0);
        const QImage& spinner = ratio > 1.0 && !m_spinner2x.isNull() ? m_spinner2x : m_spinner;
        painter.drawImage(QRect(kMargin / 2, kMargin / 2, w - kMargin, h - kMargin), spinner);
        painter.resetTransform();
    }
    const QString title = windowTitle();
    if (!title.isEmpty()) {
        QFont font(QStringLiteral("Arial"));
        font.setPixelSize(14);
        painter.setFont(font);
        painter.setPen(ShiftColorRef(CKvUIManager::Colors().clrDlgEdge, 60));
        painter.drawText(QRect(0, 0, w, h), Qt::AlignCenter, title);
    }
    return picture;
}

void CKvWaitingDlg::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.drawImage(0, 0, Render());
}
