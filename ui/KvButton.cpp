#include "ui/KvButton.h"

#include "ui/KvAccessible.h"
#include "ui/KvSkinImage.h"
#include "ui/KvToolTipWnd.h"
#include "ui/KvUIManager.h"
#include "ui/KvUiTypes.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QScreen>
#include <QWidget>

#include <cmath>

using namespace velmora;

CKvButton::CKvButton() = default;

CKvButton::~CKvButton()
{
    ReleaseAccessibleInterface(this);
    delete m_toolTipWnd.data();
}

bool CKvButton::Contains(const QPoint& point) const
{
    return point.x() >= m_x && point.x() < m_x + m_width && point.y() >= m_y && point.y() < m_y + m_height;
}

bool CKvButton::LoadImage(const QString& path)
{
    const KvSkinImage image(path);
    m_image = image.Normal();
    m_image2x = image.Doubled();
    return !m_image.isNull();
}

void CKvButton::SetImage(const QImage& image)
{
    m_image = KvSkinImage(image).Normal();
    m_image2x = QImage();
}

void CKvButton::Draw(QPainter* painter)
{
    if (m_width < 1 || m_height < 1 || !m_visible)
        return;
    if (painter) {
        CacheBackground();
        DrawBody(*painter);
        return;
    }
    // A change of look: paint over the copy of what lies behind the control,
    // then let the window show that part of the picture.
    if (!m_manager || m_manager->Picture().isNull())
        return;
    if (m_cachedBackground.isNull()) {
        // Nothing to paint over (moved, shown again, or never composed):
        // compose the whole picture instead of leaving a trail.
        m_manager->Invalidate();
        return;
    }
    QImage& picture = m_manager->Picture();
    QPainter self(&picture);
    self.setClipRect(Rect());
    self.setCompositionMode(QPainter::CompositionMode_Source);
    // The copy is in device pixels: put it back where it came from, pixel for
    // pixel (a fractional ratio widens it to the pixels the control touches).
    self.drawImage(QPointF(m_cachedOrigin) / m_cachedBackground.devicePixelRatio(), m_cachedBackground);
    self.setCompositionMode(QPainter::CompositionMode_SourceOver);
    DrawBody(self);
    self.end();
    if (m_parent)
        m_parent->update(m_manager->Ratio() == std::floor(m_manager->Ratio()) ? Rect() : Rect().adjusted(-1, -1, 1, 1));
}

void CKvButton::CacheBackground()
{
    m_cachedBackground = QImage();
    if (!m_manager || m_manager->Picture().isNull())
        return;
    const QImage& picture = m_manager->Picture();
    const QRect pixels = m_manager->DeviceRect(Rect());
    m_cachedBackground = picture.copy(pixels);
    m_cachedBackground.setDevicePixelRatio(picture.devicePixelRatio());
    m_cachedOrigin = pixels.topLeft();
}

void CKvButton::DrawBody(QPainter& painter)
{
    painter.save();
    painter.setClipRect(Rect(), Qt::IntersectClip);
    DrawImage(painter, Rect());
    DrawContent(painter, Rect());
    painter.restore();
}

void CKvButton::DrawImage(QPainter& painter, const QRect& rect)
{
    if (m_image.isNull())
        return;
    // The 2x picture on denser devices; it draws into the same logical rectangle.
    const qreal ratio = KvSkinImage::RatioOf(painter);
    const QImage& image = ratio > 1.0 && !m_image2x.isNull() ? m_image2x : m_image;
    const qreal scale = image.devicePixelRatio();
    const int frames = m_frameCount;
    if (frames == 2) {
        const int half = image.width() / 2;
        const QRect source(m_enabled ? 0 : half, 0, half, image.height());
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(rect, image, source);
        return;
    }
    if (frames <= 1) {
        painter.save();
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        if (!m_enabled)
            painter.setOpacity(0.5);
        painter.drawImage(rect, image);
        painter.restore();
        return;
    }
    // Frames side by side: normal, hover, pressed, disabled. Each is shown at
    // its own size, centred, or from the top left edge when it does not fit.
    // Sizes in logical pixels; the source rectangle in the picture's own.
    const int framePixels = image.width() / frames;
    const int frameWidth = qRound(framePixels / scale);
    const int frameHeight = qRound(image.height() / scale);
    const int index = std::min(m_enabled ? m_look : 3, frames - 1);
    const int x = frameWidth <= rect.width() ? rect.x() + (rect.width() - frameWidth) / 2 : rect.x();
    const int y = frameHeight <= rect.height() ? rect.y() + (rect.height() - frameHeight) / 2 : rect.y();
    painter.save();
    painter.setClipRect(rect, Qt::IntersectClip);
    // Between the picture's ratio and the device's (2x at 1.5) it is resampled.
    if (!qFuzzyCompare(scale, ratio))
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(QPoint(x, y), image, QRect(index * framePixels, 0, framePixels, image.height()));
    painter.restore();
}

const tagKvFontData* CKvButton::Font() const
{
    return CKvUIManager::FindFont(m_fontId);
}

QColor CKvButton::CaptionColor() const
{
    const tagKvUiColors& colors = CKvUIManager::Colors();
    if (!m_enabled)
        return ShiftColorRef(colors.clrDlgBK, 30);
    if (m_look == LookHover)
        return ShiftColorRef(colors.clrText, 40);
    return ColorFromRef(colors.clrText);
}

bool CKvButton::ShowsFocusCue() const
{
    return m_focus && m_enabled && m_visible && m_manager && m_manager->FocusCueVisible();
}

void CKvButton::DrawFocusCue(QPainter& painter, const QRect& rect, qreal radius)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(AccentColor(), 1.5));
    painter.drawRoundedRect(QRectF(rect).adjusted(0.75, 0.75, -0.75, -0.75), radius, radius);
    painter.restore();
}

void CKvButton::DrawContent(QPainter& painter, const QRect& rect)
{
    const tagKvUiColors& colors = CKvUIManager::Colors();
    if (m_hoverFrame && m_enabled && m_look != LookNormal) {
        const int raise = m_look == LookHover ? 40 : 0;
        painter.setPen(ShiftColorRef(colors.clrDlgEdge, raise));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(rect.adjusted(0, 0, -1, -1));
    }
    DrawCaption(painter, rect, m_alignment);
    if (ShowsFocusCue())
        DrawFocusCue(painter, rect);
}

void CKvButton::DrawCaption(QPainter& painter, const QRect& rect, int alignment)
{
    const tagKvFontData* entry = Font();
    if (m_caption.isEmpty() || !entry)
        return;
    painter.save();
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setFont(FontFromEntry(*entry));
    painter.setPen(CaptionColor());
    QRect box = rect;
    if (entry->bVertical) {
        // Vertical text runs top to bottom: rotate the box about its centre.
        painter.translate(rect.center());
        painter.rotate(90);
        box = QRect(-rect.height() / 2, -rect.width() / 2, rect.height(), rect.width());
    }
    int flags = Qt::AlignVCenter | Qt::TextSingleLine;
    switch (alignment) {
    case AlignLeft: flags |= Qt::AlignLeft; break;
    case AlignRight: flags |= Qt::AlignRight; break;
    case AlignBottom: flags = Qt::AlignHCenter | Qt::AlignBottom | Qt::TextSingleLine; break;
    default: flags |= Qt::AlignHCenter; break;
    }
    painter.drawText(box, flags, m_caption);
    painter.restore();
}

bool CKvButton::OnMouseMessage(int message, const QPoint& point)
{
    if (!m_visible || !m_enabled)
        return false;
    const int oldLook = m_look;
    const bool captured = m_manager && m_manager->HasCapture();
    if (Contains(point)) {
        if (captured) {
            if (message == kLButtonUp) {
                const bool click = m_look == LookPressed;
                m_look = LookHover;
                m_manager->SetCapture(false);
                if (click)
                    OnClick(point);
            }
        } else if (message == kMouseMove) {
            if (m_cursor && m_parent)
                m_parent->setCursor(*m_cursor);
            if (m_look != LookHover && m_look != LookPressed) {
                ShowToolTip(true);
                m_look = LookHover;
            }
        } else if (message == kLButtonDown) {
            if (m_look != LookPressed) {
                if (m_cursor && m_parent)
                    m_parent->setCursor(*m_cursor);
                m_look = LookPressed;
                if (m_manager)
                    m_manager->SetCapture(true);
                OnLButtonDown(point);
            }
        } else if (message == kLButtonUp) {
            if (m_look != LookHover) {
                const bool click = m_look == LookPressed;
                m_look = LookHover;
                if (click)
                    OnClick(point);
            }
        }
    } else if (captured) {
        if (message == kLButtonUp || message == kRButtonUp) {
            m_look = LookNormal;
            m_manager->SetCapture(false);
        }
    } else {
        ShowToolTip(false);
        if (m_look != LookNormal && m_cursor && m_parent)
            m_parent->unsetCursor();
        m_look = LookNormal;
    }
    return oldLook != m_look;
}

bool CKvButton::OnKey(const QKeyEvent& event)
{
    if (event.type() != QEvent::KeyPress || !m_focus || !m_enabled || !m_visible)
        return false;
    if (event.key() != Qt::Key_Return && event.key() != Qt::Key_Enter && event.key() != Qt::Key_Space)
        return false;
    // A held key presses once.
    if (event.isAutoRepeat())
        return true;
    OnClick(QPoint(m_x + 1, m_y + 1));
    return true;
}

void CKvButton::SetCaption(const QString& caption, bool redraw)
{
    m_caption = caption;
    RedrawIfShown(redraw);
}

QString CKvButton::GetCaption() const
{
    return m_caption;
}

void CKvButton::Enable(bool enable, bool redraw)
{
    if (enable != m_enabled) {
        m_enabled = enable;
        QAccessible::State changed;
        changed.disabled = true;
        NotifyAccessibleState(this, changed);
    }
    if (!enable) {
        ShowToolTip(false);
        m_look = LookNormal;
    }
    RedrawIfShown(redraw);
}

void CKvButton::Show(bool show, bool redraw)
{
    if (show != m_visible) {
        m_visible = show;
        NotifyAccessibleShown(this, show);
    }
    if (!show) {
        ShowToolTip(false);
        m_look = LookNormal;
        if (m_manager)
            m_manager->Invalidate();
        return;
    }
    RedrawIfShown(redraw);
}

void CKvButton::SetRect(const QRect& rect, bool redraw)
{
    Move(rect.x(), rect.y(), rect.width(), rect.height(), redraw);
}

void CKvButton::Move(int x, int y, int width, int height, bool redraw)
{
    if (x == m_x && y == m_y && width == m_width && height == m_height)
        return;
    m_x = x;
    m_y = y;
    m_width = width;
    m_height = height;
    m_cachedBackground = QImage();
    // The old place shows what was behind the control and the new one the
    // control: both come from composing the picture afresh.
    if (redraw && m_manager)
        m_manager->Invalidate();
}

void CKvButton::OnLButtonDown(const QPoint& point)
{
    if (m_manager)
        m_manager->SetFocusControl(this, m_typeCode);
}

void CKvButton::OnClick(const QPoint& point)
{
    ShowToolTip(false);
    PostCommand();
}

void CKvButton::PostCommand()
{
    if (m_manager)
        m_manager->PostCommand(m_id);
}

void CKvButton::ReleaseCache()
{
    m_cachedBackground = QImage();
}

QSize CKvButton::MeasureText(const QString& text) const
{
    const tagKvFontData* entry = Font();
    QFontMetrics metrics(entry ? FontFromEntry(*entry) : QFont(QStringLiteral("Arial")));
    QSize size = metrics.boundingRect(QRect(0, 0, 100, 50), Qt::AlignCenter, text).size();
    if (entry && entry->bVertical)
        size.transpose();
    return size;
}

void CKvButton::SetFocus()
{
    m_focus = true;
    if (m_parent && !m_parent->hasFocus())
        m_parent->setFocus(Qt::OtherFocusReason);
}

void CKvButton::KillFocus()
{
    m_focus = false;
}

void CKvButton::OnEnableAll(bool enable)
{
}

bool CKvButton::OnWheel(int delta, const QPoint& point)
{
    return false;
}

void CKvButton::SetToolTip(const QString& text)
{
    if (text == m_toolTipText)
        return;
    m_toolTipText = text;
    NotifyAccessibleName(this);
}

void CKvButton::SetAccessibleName(const QString& name)
{
    if (name == m_accessibleName)
        return;
    m_accessibleName = name;
    NotifyAccessibleName(this);
}

void CKvButton::SetAccessibleLabel(const CKvButton* label)
{
    if (label == m_accessibleLabel)
        return;
    m_accessibleLabel = label;
    NotifyAccessibleName(this);
}

void CKvButton::Activate()
{
    if (!m_visible || !m_enabled)
        return;
    OnClick(Rect().center());
}

void CKvButton::ShowToolTip(bool show)
{
    if (!show || m_toolTipText.isEmpty()) {
        if (m_toolTipWnd && m_toolTipWnd->isVisible())
            m_toolTipWnd->hide();
        return;
    }
    if (!m_parent)
        return;
    if (!m_toolTipWnd)
        m_toolTipWnd = new CKvToolTipWnd(m_parent);
    if (m_toolTipWnd->isVisible())
        return;
    m_toolTipWnd->SetText(m_toolTipText);
    const QRect controlOnScreen(m_parent->mapToGlobal(QPoint(m_x, m_y)), QSize(m_width, m_height));
    QScreen* screen = m_parent->screen() ? m_parent->screen() : QGuiApplication::primaryScreen();
    const QRect area = screen ? screen->availableGeometry() : QRect(0, 0, 1920, 1080);
    m_toolTipWnd->move(ToolTipPosition(controlOnScreen, m_toolTipWnd->size(), area));
    m_toolTipWnd->show();
}

QPoint CKvButton::ToolTipPosition(const QRect& controlRect, const QSize& tipSize, const QRect& screen)
{
    int x = controlRect.left();
    int y = controlRect.top() + controlRect.height() + 10;
    const int screenRight = screen.left() + screen.width();
    if (x + tipSize.width() > screenRight - 2)
        x = screenRight - 2 - tipSize.width();
    if (x < screen.left())
        x = screen.left();
    if (y + tipSize.height() > screen.top() + screen.height())
        y -= controlRect.height() + tipSize.height() + 20;
    return QPoint(x, y);
}

void CKvButton::RedrawIfShown(bool redraw)
{
    if (redraw && m_visible && m_manager)
        m_manager->RedrawControl(this);
}
