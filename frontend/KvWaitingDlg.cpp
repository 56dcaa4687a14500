#include "frontend/KvWaitingDlg.h"

#include "ui/KvCompositor.h"
#include "ui/KvSkinImage.h"
#include "ui/KvUIManager.h"
#include "ui/KvUiTypes.h"

#include <QCloseEvent>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
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

void CKvWaitingDlg::SetStopHandler(std::function<void()> stop)
{
    m_stop = std::move(stop);
    // It takes the keys (Esc) and the clicks the window beneath it no longer takes.
    setAttribute(Qt::WA_ShowWithoutActivating, false);
    setWindowModality(Qt::ApplicationModal);
    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(true);
    setCursor(Qt::BusyCursor);
}

QRect CKvWaitingDlg::StopButtonRect() const
{
    if (!m_stop)
        return QRect();
    return QRect(kPanelWidth - kPanelPadding - kStopWidth, kPanelHeight - kPanelPadding - kStopHeight, kStopWidth,
                 kStopHeight);
}

void CKvWaitingDlg::SetText(const QString& text)
{
    if (text == m_text)
        return;
    m_text = text;
    update();
}

void CKvWaitingDlg::Open()
{
    const QSize pictureSize = m_spinner.isNull() ? QSize(32, 32) : m_spinner.size();
    const QSize size = m_stop ? QSize(kPanelWidth, kPanelHeight)
                              : QSize(pictureSize.width() + kMargin, pictureSize.height() + kMargin);
    resize(size);
    // A panel that belongs to a window stands over it; the spinner over the screen.
    QWidget* owner = parentWidget() ? parentWidget()->window() : nullptr;
    if (m_stop && owner && owner->isVisible())
        move(owner->geometry().center() - QPoint(size.width() / 2, size.height() / 2));
    else if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - QPoint(size.width() / 2, size.height() / 2));
    m_angle = 0;
    m_closing = false;
    if (!m_timer)
        m_timer = startTimer(kTimerInterval);
    show();
    raise();
    if (m_stop) {
        activateWindow();
        setFocus(Qt::ActiveWindowFocusReason);
    }
}

void CKvWaitingDlg::Close()
{
    if (m_timer) {
        killTimer(m_timer);
        m_timer = 0;
    }
    m_closing = true;
    close();
}

void CKvWaitingDlg::PressStop()
{
    if (!m_stop || m_stopped)
        return;
    m_stopped = true;
    // The handler may close and delete this window: nothing here touches it after.
    const std::function<void()> stop = m_stop;
    stop();
}

void CKvWaitingDlg::SetHover(bool hover)
{
    if (hover == m_hover)
        return;
    m_hover = hover;
    setCursor(hover ? Qt::ArrowCursor : Qt::BusyCursor);
    update(StopButtonRect());
}

void CKvWaitingDlg::mousePressEvent(QMouseEvent* event)
{
    if (m_stop && event->button() == Qt::LeftButton && StopButtonRect().contains(event->position().toPoint())) {
        m_pressed = true;
        update(StopButtonRect());
    }
    event->accept();
}

void CKvWaitingDlg::mouseMoveEvent(QMouseEvent* event)
{
    if (m_stop)
        SetHover(StopButtonRect().contains(event->position().toPoint()));
    event->accept();
}

void CKvWaitingDlg::mouseReleaseEvent(QMouseEvent* event)
{
    event->accept();
    if (!m_pressed || event->button() != Qt::LeftButton)
        return;
    m_pressed = false;
    update(StopButtonRect());
    // As buttons do: the press counts where the button is let go over it.
    if (StopButtonRect().contains(event->position().toPoint()))
        PressStop();
}

void CKvWaitingDlg::leaveEvent(QEvent* event)
{
    SetHover(false);
    QWidget::leaveEvent(event);
}

void CKvWaitingDlg::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Escape:
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Space:
        if (m_stop) {
            event->accept();
            PressStop();
            return;
        }
        break;
    default: break;
    }
    QWidget::keyPressEvent(event);
}

void CKvWaitingDlg::closeEvent(QCloseEvent* event)
{
    // Closed by the window system (Alt+F4 on the focused panel): that is a Stop too.
    if (m_stop && !m_closing && !m_stopped) {
        event->ignore();
        PressStop();
        return;
    }
    QWidget::closeEvent(event);
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
    if (m_stop) {
        DrawPanel(painter);
        return picture;
    }
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

void CKvWaitingDlg::DrawPanel(QPainter& painter) const
{
    // Opaque whatever the desktop: text and a button must read on any background.
    const tagKvUiColors& colors = CKvUIManager::Colors();
    const QRect panel(0, 0, width(), height());
    painter.fillRect(panel, ColorFromRef(colors.clrDlgBK));
    painter.setPen(ColorFromRef(colors.clrDlgEdge));
    painter.drawRect(panel.adjusted(0, 0, -1, -1));
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.setRenderHint(QPainter::TextAntialiasing);

    // The spinner at the left, as tall as the text and the button together.
    const int side = height() - 2 * kPanelPadding;
    const QRectF turning(kPanelPadding, kPanelPadding, side, side);
    if (!m_spinner.isNull()) {
        painter.save();
        painter.translate(turning.center());
        painter.rotate(m_angle);
        painter.translate(-turning.center());
        const QImage& spinner = devicePixelRatioF() > 1.0 && !m_spinner2x.isNull() ? m_spinner2x : m_spinner;
        painter.drawImage(turning, spinner);
        painter.restore();
    }

    const tagKvFontData* entry = CKvUIManager::FindFont(0);
    QFont font = entry ? FontFromEntry(*entry) : QFont(QStringLiteral("Arial"));
    if (!entry)
        font.setPixelSize(13);
    painter.setFont(font);
    const int textLeft = kPanelPadding + side + 16;
    const QRect textBox(textLeft, kPanelPadding, width() - textLeft - kPanelPadding, kStopHeight);
    painter.setPen(ColorFromRef(colors.clrText));
    painter.drawText(textBox, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                     QFontMetrics(font).elidedText(m_text, Qt::ElideRight, textBox.width()));

    // Stop, drawn as the dialogs' text buttons are; it has the focus, so its edge is
    // the accent.
    const QRect button = StopButtonRect();
    QColor face = ColorFromRef(colors.clrCtrlBK);
    if (m_pressed)
        face = ShiftColor(face, -15);
    else if (m_hover)
        face = ShiftColor(face, 15);
    painter.setBrush(face);
    painter.setPen(QPen(AccentColor(), 1.5));
    painter.drawRoundedRect(QRectF(button).adjusted(0.5, 0.5, -0.5, -0.5), 3, 3);
    painter.setPen(ColorFromRef(colors.clrText));
    painter.drawText(m_pressed ? button.translated(0, 1) : button, Qt::AlignCenter | Qt::TextSingleLine,
                     QStringLiteral("Stop"));
}

void CKvWaitingDlg::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.drawImage(0, 0, Render());
}
