#include "ui/KvDialogBase.h"

#include "ui/KvAccessible.h"
#include "ui/KvButton.h"
#include "ui/KvTextButton.h"
#include "ui/KvUIManager.h"
#include "ui/KvUiTypes.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QWheelEvent>
#include <QWindow>

#include <algorithm>

using namespace velmora;

namespace {

constexpr int kCloseId = 2;
constexpr int kOkId = 1;
constexpr int kCancelId = 2;

// Only these platforms can make a window translucent; the others (Wayland, the
// offscreen one) would warn at every step of a fade.
bool PlatformHasWindowOpacity()
{
    const QString platform = QGuiApplication::platformName();
    return platform == QLatin1String("xcb") || platform == QLatin1String("windows") || platform == QLatin1String("cocoa");
}

} // namespace

CKvDialogBase::CKvDialogBase(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint)
{
    InstallAccessibleFactory();
    m_manager = new CKvUIManager(this);
    m_manager->SetWindow(this);
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);

    // A dialog that has begun to close takes no more choices: its result is the
    // first one made, even while it fades out.
    connect(m_manager, &CKvUIManager::command, this, [this](int id) {
        if (!m_closing)
            OnCommand(id);
    });
    connect(m_manager, &CKvUIManager::notification, this,
            [this](int message, CKvButton* control, qint64 param) { OnNotify(message, control, param); });
    connect(m_manager, &CKvUIManager::drawFrame, this, [this](QPainter& painter) { DrawFrame(painter); });

    m_fadeTimer.setInterval(kFadeInterval);
    connect(&m_fadeTimer, &QTimer::timeout, this, [this] { OnFadeInTick(); });
    m_fadeOutTimer.setInterval(kFadeInterval);
    connect(&m_fadeOutTimer, &QTimer::timeout, this, [this] { OnFadeOutTick(); });
}

CKvDialogBase::~CKvDialogBase()
{
    m_fadeTimer.stop();
    m_fadeOutTimer.stop();
    // Controls hold pointers to child widgets and to the manager: let them go
    // while the window still exists.
    delete m_manager;
    m_manager = nullptr;
}

void CKvDialogBase::OnInitDialog()
{
    if (m_initialised)
        return;
    m_initialised = true;
    if (m_fade)
        SetOpacity(0);
    m_manager->LoadSkin(this, CKvUIManager::ResolvePath(QStringLiteral("skin/mainwnd.xml")));
    CreateControls();
    LayoutControls();
    m_manager->Invalidate();
    if (m_fade)
        m_fadeTimer.start();
}

void CKvDialogBase::OnFadeInTick()
{
    int opacity = m_opacity + kFadeStep;
    if (opacity >= 256) {
        opacity = 255;
        m_fadeTimer.stop();
    }
    SetOpacity(opacity);
}

void CKvDialogBase::OnFadeOutTick()
{
    const int opacity = std::max(0, m_opacity - kFadeStep);
    SetOpacity(opacity);
    if (opacity == 0) {
        m_fadeOutTimer.stop();
        QDialog::done(m_result);
    }
}

void CKvDialogBase::SetOpacity(int opacity)
{
    m_opacity = opacity;
    static const bool hasOpacity = PlatformHasWindowOpacity();
    if (hasOpacity)
        setWindowOpacity(opacity / 255.0);
    emit opacityChanged(opacity);
}

void CKvDialogBase::OnOK()
{
    if (m_closing)
        return;
    m_result = kResultOk;
    Finish();
}

void CKvDialogBase::OnCancel()
{
    if (m_closing)
        return;
    m_result = kResultCancel;
    Finish();
}

void CKvDialogBase::Finish()
{
    m_closing = true;
    m_fadeTimer.stop();
    if (m_fade && isVisible()) {
        if (!m_fadeOutTimer.isActive())
            m_fadeOutTimer.start();
        return;
    }
    QDialog::done(m_result);
}

void CKvDialogBase::accept()
{
    OnOK();
}

void CKvDialogBase::reject()
{
    OnCancel();
}

void CKvDialogBase::CreateControls()
{
    m_closeButton = new CKvButton;
    m_closeButton->LoadImage(CKvUIManager::ResolvePath(QStringLiteral("skin/btn/dia-close.png")));
    m_closeButton->SetFrameCount(4);
    // A picture alone: a screen reader needs the word.
    m_closeButton->SetAccessibleName(QStringLiteral("Close"));
    m_manager->AddControl(kCloseId, m_closeButton, kTypeButton);

    m_okButton = new CKvTextButton(QStringLiteral("OK"));
    m_manager->AddControl(kOkId, m_okButton, kTypeTextButton);
    m_cancelButton = new CKvTextButton(QStringLiteral("Cancel"));
    m_manager->AddControl(kCancelId, m_cancelButton, kTypeTextButton);
}

void CKvDialogBase::LayoutControls()
{
    const int right = width();
    const int bottom = height();
    if (m_closeButton)
        m_closeButton->Move(right - 20, 3, 16, 16);
    if (m_okButton)
        m_okButton->Move(right - 75, bottom - 30, 65, 20);
    if (m_cancelButton)
        m_cancelButton->Move(right - 150, bottom - 30, 65, 20);
}

void CKvDialogBase::DrawFrame(QPainter& painter)
{
    const tagKvUiColors& colors = CKvUIManager::Colors();
    const int w = width();
    const int h = height();
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);

    QLinearGradient strip(0, 0, 0, 32);
    strip.setColorAt(0, ShiftColorRef(colors.clrDlgBK, 5));
    strip.setColorAt(1, ShiftColorRef(colors.clrDlgBK, -30));
    painter.fillRect(QRect(0, 0, w, kDragStripHeight), strip);

    const QString title = windowTitle();
    if (!title.isEmpty()) {
        QFont font(QStringLiteral("Arial"));
        font.setPixelSize(15);
        font.setBold(true);
        const QFontMetrics metrics(font);
        const QRect box(5, 0, std::max(0, w - 60), kDragStripHeight);
        const int baseline = box.top() + (box.height() - metrics.height()) / 2 + metrics.ascent();
        QPainterPath path;
        path.addText(box.left(), baseline, font, metrics.elidedText(title, Qt::ElideRight, box.width()));
        QLinearGradient fill(0, 0, 0, 15);
        fill.setColorAt(0, ShiftColorRef(colors.clrText, 50));
        fill.setColorAt(1, ShiftColorRef(colors.clrText, -30));
        painter.setClipRect(box);
        painter.fillPath(path, fill);
        painter.setClipping(false);
    }

    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(ColorFromRef(colors.clrDlgEdge));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(QRect(0, 0, w - 1, h - 1));
    painter.restore();
}

void CKvDialogBase::ForwardCommand(int id)
{
    QMetaObject::invokeMethod(this, [this, id] {
        if (!m_closing)
            OnCommand(id);
    }, Qt::QueuedConnection);
}

void CKvDialogBase::OnCommand(int id)
{
    if (id == kOkId)
        OnOK();
    else if (id == kCancelId)
        OnCancel();
}

void CKvDialogBase::OnNotify(int message, CKvButton* control, qint64 param)
{
}

bool CKvDialogBase::InDragStrip(const QPoint& point) const
{
    return point.y() < kDragStripHeight && point.x() < width() - 25;
}

bool CKvDialogBase::CanResizeNow() const
{
    return m_resizable && !isMaximized() && !isFullScreen();
}

Qt::Edges CKvDialogBase::ResizeEdgesAt(const QPoint& point) const
{
    Qt::Edges edges;
    if (!CanResizeNow() || !rect().contains(point))
        return edges;
    const int x = point.x(), y = point.y(), w = width(), h = height();
    const bool onLeft = x < kResizeBorder, onRight = x >= w - kResizeBorder;
    const bool onTop = y < kResizeBorder, onBottom = y >= h - kResizeBorder;
    // A corner takes a longer stretch of each edge, so it is easy to catch.
    const int corner = kResizeBorder * 3;
    if (onLeft || ((onTop || onBottom) && x < corner))
        edges |= Qt::LeftEdge;
    if (onRight || ((onTop || onBottom) && x >= w - corner))
        edges |= Qt::RightEdge;
    if (onTop || ((onLeft || onRight) && y < corner))
        edges |= Qt::TopEdge;
    if (onBottom || ((onLeft || onRight) && y >= h - corner))
        edges |= Qt::BottomEdge;
    return edges;
}

void CKvDialogBase::ShowResizeCursor(Qt::Edges edges)
{
    if (!edges) {
        if (m_resizeCursor)
            unsetCursor();
        m_resizeCursor = false;
        return;
    }
    Qt::CursorShape shape = Qt::SizeHorCursor;
    if (edges == (Qt::TopEdge | Qt::LeftEdge) || edges == (Qt::BottomEdge | Qt::RightEdge))
        shape = Qt::SizeFDiagCursor;
    else if (edges == (Qt::TopEdge | Qt::RightEdge) || edges == (Qt::BottomEdge | Qt::LeftEdge))
        shape = Qt::SizeBDiagCursor;
    else if (edges & (Qt::TopEdge | Qt::BottomEdge))
        shape = Qt::SizeVerCursor;
    setCursor(shape);
    m_resizeCursor = true;
}

void CKvDialogBase::FollowResize(const QPoint& global)
{
    const QPoint delta = global - m_resizeOrigin;
    const QSize least = minimumSize().expandedTo(QSize(kResizeBorder * 8, kDragStripHeight + kResizeBorder * 2));
    QRect target = m_resizeStart;
    if (m_resizing & Qt::LeftEdge)
        target.setLeft(std::min(m_resizeStart.left() + delta.x(), m_resizeStart.right() + 1 - least.width()));
    if (m_resizing & Qt::RightEdge)
        target.setRight(std::max(m_resizeStart.right() + delta.x(), m_resizeStart.left() + least.width() - 1));
    if (m_resizing & Qt::TopEdge)
        target.setTop(std::min(m_resizeStart.top() + delta.y(), m_resizeStart.bottom() + 1 - least.height()));
    if (m_resizing & Qt::BottomEdge)
        target.setBottom(std::max(m_resizeStart.bottom() + delta.y(), m_resizeStart.top() + least.height() - 1));
    setGeometry(target);
}

void CKvDialogBase::paintEvent(QPaintEvent* event)
{
    if (m_manager->NeedsCompose())
        m_manager->Compose();
    QPainter painter(this);
    m_manager->Blit(painter, event->rect());
}

void CKvDialogBase::resizeEvent(QResizeEvent* event)
{
    QDialog::resizeEvent(event);
    if (m_initialised)
        LayoutControls();
    m_manager->DiscardCachedPictures();
    m_manager->Invalidate();
}

void CKvDialogBase::setVisible(bool visible)
{
    // Laid out and placed before the window system sees the window: a window moved
    // while it is being shown keeps its old place in Qt's books (a window manager has
    // placed it meanwhile), and every popup opened from it lands off by that much.
    if (visible && !m_initialised)
        OnInitDialog();
    QDialog::setVisible(visible);
}

void CKvDialogBase::showEvent(QShowEvent* event)
{
    m_closing = false;
    if (!m_initialised)
        OnInitDialog();
    QDialog::showEvent(event);
}

void CKvDialogBase::hideEvent(QHideEvent* event)
{
    // No control stays hovered, and no tool tip outlives its dialog.
    m_manager->SetCapture(false);
    m_manager->Dispatch(kMouseMove, QPoint(-1, -1));
    m_dragging = false;
    QDialog::hideEvent(event);
}

void CKvDialogBase::mousePressEvent(QMouseEvent* event)
{
    if (m_closing)
        return;
    const QPoint point = event->position().toPoint();
    if (event->button() == Qt::LeftButton) {
        if (const Qt::Edges edges = ResizeEdgesAt(point)) {
            // The window system resizes where it can (Wayland, a window manager);
            // otherwise the window follows the mouse.
            if (!windowHandle() || !windowHandle()->startSystemResize(edges)) {
                m_resizing = edges;
                m_resizeStart = geometry();
                m_resizeOrigin = event->globalPosition().toPoint();
            }
            return;
        }
    }
    if (event->button() == Qt::LeftButton && InDragStrip(point)) {
        m_dragging = true;
        m_dragOffset = event->globalPosition().toPoint() - pos();
        // Let the window system move the window where it can; otherwise follow
        // the mouse ourselves.
        if (windowHandle() && windowHandle()->startSystemMove())
            m_dragging = false;
        return;
    }
    if (event->button() == Qt::LeftButton)
        m_manager->Dispatch(kLButtonDown, point);
    else if (event->button() == Qt::RightButton)
        m_manager->Dispatch(kRButtonDown, point);
}

void CKvDialogBase::mouseReleaseEvent(QMouseEvent* event)
{
    if (m_closing)
        return;
    if (event->button() == Qt::LeftButton && (m_dragging || m_resizing)) {
        m_dragging = false;
        m_resizing = {};
        return;
    }
    const QPoint point = event->position().toPoint();
    if (event->button() == Qt::LeftButton)
        m_manager->Dispatch(kLButtonUp, point);
    else if (event->button() == Qt::RightButton)
        m_manager->Dispatch(kRButtonUp, point);
}

void CKvDialogBase::mouseMoveEvent(QMouseEvent* event)
{
    if (m_resizing) {
        if (event->buttons() & Qt::LeftButton)
            FollowResize(event->globalPosition().toPoint());
        else
            m_resizing = {};
        return;
    }
    if (m_resizable && !m_manager->HasCapture())
        ShowResizeCursor(ResizeEdgesAt(event->position().toPoint()));
    if (m_dragging) {
        if (event->buttons() & Qt::LeftButton)
            move(event->globalPosition().toPoint() - m_dragOffset);
        else
            m_dragging = false;
        return;
    }
    m_tracking = true;
    m_manager->Dispatch(kMouseMove, event->position().toPoint());
}

void CKvDialogBase::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (m_closing)
        return;
    const QPoint point = event->position().toPoint();
    if (event->button() == Qt::LeftButton && !InDragStrip(point))
        m_manager->Dispatch(kLButtonDblClk, point);
}

void CKvDialogBase::leaveEvent(QEvent* event)
{
    // The mouse left the window: every control returns to its normal look.
    if (m_tracking && !m_manager->HasCapture())
        m_manager->Dispatch(kMouseMove, QPoint(-1, -1));
    m_tracking = false;
    QDialog::leaveEvent(event);
}

void CKvDialogBase::wheelEvent(QWheelEvent* event)
{
    if (m_closing)
        return;
    const QPoint point = event->position().toPoint();
    const int delta = event->angleDelta().y();
    for (int i = 0; i < m_manager->ControlCount(); ++i) {
        CKvButton* control = m_manager->ControlAt(i);
        if (m_manager->TypeAt(i) > kTypeLast || !control->IsVisible() || !control->IsEnabled()
            || !control->Contains(point))
            continue;
        if (control->OnWheel(delta, point)) {
            m_manager->RedrawControl(control);
            event->accept();
            return;
        }
    }
    if (CKvButton* focus = m_manager->FocusControl()) {
        if (focus->OnWheel(delta, point)) {
            m_manager->RedrawControl(focus);
            event->accept();
            return;
        }
    }
    QDialog::wheelEvent(event);
}

void CKvDialogBase::keyPressEvent(QKeyEvent* event)
{
    if (m_closing) {
        event->accept();
        return;
    }
    if (m_manager->OnKeyMessage(*event)) {
        event->accept();
        return;
    }
    // Enter that no control took answers with OK, the dialog's default button.
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && event->modifiers() == Qt::NoModifier
        && m_okButton && m_okButton->IsVisible() && m_okButton->IsEnabled() && isActiveWindow()) {
        event->accept();
        ForwardCommand(kOkId);
        return;
    }
    QDialog::keyPressEvent(event);
}

void CKvDialogBase::keyReleaseEvent(QKeyEvent* event)
{
    if (m_closing) {
        event->accept();
        return;
    }
    if (m_manager->OnKeyMessage(*event)) {
        event->accept();
        return;
    }
    QDialog::keyReleaseEvent(event);
}

bool CKvDialogBase::focusNextPrevChild(bool next)
{
    const QKeyEvent tab(QEvent::KeyPress, next ? Qt::Key_Tab : Qt::Key_Backtab, Qt::NoModifier);
    return m_manager->OnKeyMessage(tab);
}
