#pragma once

// The root of the windowless controls: a rectangle in the dialog's client area
// with an image of up to four look frames, a caption, a tool tip and the mouse
// state machine (normal, hover, pressed) that turns a press and release inside
// the rectangle into a command for the dialog.

#include "ui/KvToolTipWnd.h"

#include <QImage>
#include <QPointer>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>

#include <optional>

class QKeyEvent;
class QPainter;
class QWidget;
class CKvUIManager;
struct tagKvFontData;

class CKvButton
{
public:
    enum Look { LookNormal = 0, LookHover = 1, LookPressed = 2 };
    enum Align { AlignLeft = 0, AlignRight = 1, AlignCenter = 2, AlignBottom = 3 };

    CKvButton();
    virtual ~CKvButton();
    CKvButton(const CKvButton&) = delete;
    CKvButton& operator=(const CKvButton&) = delete;

    // Draws onto painter (a full repaint of the dialog picture), or with no
    // painter redraws itself in place over its cached background.
    virtual void Draw(QPainter* painter = nullptr);
    // The mouse state machine; returns whether the look changed.
    virtual bool OnMouseMessage(int message, const QPoint& point);
    // Enter on a focused control acts as a click. Returns whether it was used.
    virtual bool OnKey(const QKeyEvent& event);
    virtual void SetCaption(const QString& caption, bool redraw = false);
    virtual QString GetCaption() const;
    virtual void Enable(bool enable, bool redraw = true);
    virtual void Show(bool show, bool redraw = true);
    virtual void SetRect(const QRect& rect, bool redraw = false);
    virtual void Move(int x, int y, int width, int height, bool redraw = false);
    virtual void OnLButtonDown(const QPoint& point);
    virtual void OnClick(const QPoint& point);
    virtual void ReleaseCache();
    virtual QSize MeasureText(const QString& text) const;
    virtual void SetFocus();
    virtual void KillFocus();
    virtual void OnEnableAll(bool enable);
    virtual bool OnWheel(int delta, const QPoint& point);
    virtual void SetToolTip(const QString& text);
    virtual void DrawContent(QPainter& painter, const QRect& rect);
    virtual void ShowToolTip(bool show);
    // What a click does, for the keyboard and for assistive technology: nothing
    // while the control is hidden or disabled.
    virtual void Activate();

    // Image of frameCount frames side by side (1, 2 or 4); a missing file leaves
    // the control without an image. Returns whether the picture was read. The
    // "@2x" picture beside the file, when there is one, is read too and drawn on
    // devices of a device pixel ratio above 1.
    bool LoadImage(const QString& path);
    void SetImage(const QImage& image);
    const QImage& Image() const { return m_image; }
    const QImage& DoubledImage() const { return m_image2x; }
    void SetFrameCount(int frames) { m_frameCount = frames; }
    int FrameCount() const { return m_frameCount; }

    // Registration (done by CKvUIManager::AddControl).
    void SetManager(CKvUIManager* manager) { m_manager = manager; }
    CKvUIManager* Manager() const { return m_manager; }
    void SetParentWindow(QWidget* window) { m_parent = window; }
    QWidget* ParentWindow() const { return m_parent; }
    void SetId(int id) { m_id = id; }
    int Id() const { return m_id; }
    void SetTypeCode(int typeCode) { m_typeCode = typeCode; }
    int TypeCode() const { return m_typeCode; }
    void SetFontId(int fontId) { m_fontId = fontId; }
    int FontId() const { return m_fontId; }

    int GetLook() const { return m_look; }
    bool IsVisible() const { return m_visible; }
    bool IsEnabled() const { return m_enabled; }
    bool HasFocus() const { return m_focus; }
    QRect Rect() const { return QRect(m_x, m_y, m_width, m_height); }
    bool Contains(const QPoint& point) const;
    void SetAlignment(int alignment) { m_alignment = alignment; }
    int Alignment() const { return m_alignment; }
    void SetHoverFrame(bool on) { m_hoverFrame = on; }
    void SetCursorShape(std::optional<Qt::CursorShape> shape) { m_cursor = shape; }
    QString ToolTipText() const { return m_toolTipText; }
    CKvToolTipWnd* ToolTipWindow() const { return m_toolTipWnd.data(); }

    // What a screen reader calls the control (KvAccessible.h): this name when set,
    // else the caption of its label (a control of the same manager, read when asked,
    // so a label that changes its words renames the control), else the caption
    // (controls whose caption is not their value), else the tool tip.
    virtual void SetAccessibleName(const QString& name);
    QString AccessibleName() const { return m_accessibleName; }
    virtual void SetAccessibleLabel(const CKvButton* label);
    const CKvButton* AccessibleLabel() const { return m_accessibleLabel; }
    // The identifier of the control's registered accessible interface (0: none yet);
    // the interface lives until the control does.
    unsigned AccessibleId() const { return m_accessibleId; }
    void SetAccessibleId(unsigned id) { m_accessibleId = id; }

    // Where the tool tip goes for a control at controlRect (screen coordinates)
    // and a tip of tipSize, kept inside screen (which excludes the taskbar).
    static QPoint ToolTipPosition(const QRect& controlRect, const QSize& tipSize, const QRect& screen);

protected:
    // Whether the control shows that it holds the keyboard focus, and the cue
    // itself: a ring in the accent colour just inside rect.
    bool ShowsFocusCue() const;
    static void DrawFocusCue(QPainter& painter, const QRect& rect, qreal radius = 2.0);
    // Draws image and content at the control's own rectangle.
    void DrawBody(QPainter& painter);
    void DrawImage(QPainter& painter, const QRect& rect);
    void DrawCaption(QPainter& painter, const QRect& rect, int alignment);
    // Font for captions made from the table entry; nullptr entry means none.
    const tagKvFontData* Font() const;
    QColor CaptionColor() const;
    void SetLook(int look) { m_look = look; }
    void PostCommand();
    void RedrawIfShown(bool redraw);
    // Keeps the cached background in step with the dialog picture.
    void CacheBackground();

    int m_look = LookNormal;
    bool m_visible = true;
    bool m_enabled = true;
    int m_alignment = AlignCenter;
    QImage m_image;
    QImage m_image2x; // devicePixelRatio 2; null when the skin has none
    // The dialog picture's pixels behind the control, at the picture's device
    // pixel ratio, and where they were taken (in device pixels).
    QImage m_cachedBackground;
    QPoint m_cachedOrigin;
    int m_x = 0;
    int m_y = 0;
    int m_width = 0;
    int m_height = 0;
    int m_frameCount = 4;
    int m_id = 0;
    int m_fontId = 0;
    QString m_caption;
    QWidget* m_parent = nullptr;
    std::optional<Qt::CursorShape> m_cursor;
    // Owned; a QPointer because the dialog may already have taken its child down.
    QPointer<CKvToolTipWnd> m_toolTipWnd;
    QString m_toolTipText;
    CKvUIManager* m_manager = nullptr;
    int m_typeCode = 0;
    bool m_focus = false;
    bool m_hoverFrame = false;
    QString m_accessibleName;
    const CKvButton* m_accessibleLabel = nullptr;
    unsigned m_accessibleId = 0;
};
