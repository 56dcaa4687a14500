#pragma once

// A skinned dialog: the whole client area is painted from the manager's
// picture; it adds the caption close button, "OK" and "Cancel", the title strip
// and border, dragging by the top strip and fading in and out.

#include <QDialog>
#include <QImage>
#include <QPoint>
#include <QTimer>

class QPainter;
class CKvButton;
class CKvUIManager;

class CKvDialogBase : public QDialog
{
    Q_OBJECT

public:
    static constexpr int kFadeTimerId = 256;
    static constexpr int kFadeInterval = 50; // ms
    static constexpr int kFadeStep = 50;
    static constexpr int kDragStripHeight = 30;
    static constexpr int kResultOk = 1;
    static constexpr int kResultCancel = 2;
    // The band along the edges of a resizable window that a press resizes it by.
    static constexpr int kResizeBorder = 5;

    explicit CKvDialogBase(QWidget* parent = nullptr);
    ~CKvDialogBase() override;

    CKvUIManager* Manager() const { return m_manager; }
    int Result() const { return m_result; }
    int Opacity() const { return m_opacity; }
    bool IsFading() const { return m_fade; }
    // True from the first OK or Cancel until the dialog is shown again: it then
    // takes no clicks, keys or commands.
    bool IsClosing() const { return m_closing; }
    // Fading needs a compositor; it can be turned off (and is off where the
    // platform cannot change a window's opacity).
    void SetFadeEnabled(bool enabled) { m_fade = enabled; }
    bool IsDragging() const { return m_dragging; }
    // A resizable window takes presses on its edges and corners as a resize (by the
    // window system where it can; otherwise by following the mouse).
    void SetResizable(bool resizable) { m_resizable = resizable; }
    bool IsResizable() const { return m_resizable; }
    // The edges a press at point would resize by (none inside, or when the window
    // cannot be resized now, such as while maximized).
    Qt::Edges ResizeEdgesAt(const QPoint& point) const;

    // Runs once, when the dialog is first shown (or when called directly):
    // loads the skin, creates and lays out the controls and starts fading in.
    virtual void OnInitDialog();
    virtual void OnOK();
    virtual void OnCancel();
    virtual void CreateControls();
    virtual void LayoutControls();
    virtual void DrawFrame(QPainter& painter);
    // Shown for the first time: OnInitDialog runs before the window is.
    void setVisible(bool visible) override;
    // Delivers a command to the dialog itself, as a click on that control would.
    void ForwardCommand(int id);

    // Handlers a dialog overrides. The base closes on 1 (OK) and 2 (Cancel).
    virtual void OnCommand(int id);
    virtual void OnNotify(int message, CKvButton* control, qint64 param);

    // Title strip a press drags the window by.
    virtual bool InDragStrip(const QPoint& point) const;
    // Whether the window may be resized now (a resizable one, not maximized).
    virtual bool CanResizeNow() const;

    // The default controls, for dialogs that hide or move them.
    CKvButton* CloseButton() const { return m_closeButton; }
    CKvButton* OkButton() const { return m_okButton; }
    CKvButton* CancelButton() const { return m_cancelButton; }

signals:
    // Every opacity the fade passes through (for the fade in: 50 ... 255).
    void opacityChanged(int opacity);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    bool focusNextPrevChild(bool next) override;
    void reject() override;
    void accept() override;

    void SetOpacity(int opacity);

private:
    void OnFadeInTick();
    void OnFadeOutTick();
    void Finish();
    void ShowResizeCursor(Qt::Edges edges);
    void FollowResize(const QPoint& global);

    CKvUIManager* m_manager = nullptr;
    CKvButton* m_closeButton = nullptr;
    CKvButton* m_okButton = nullptr;
    CKvButton* m_cancelButton = nullptr;
    bool m_tracking = false;
    int m_opacity = 255;
    int m_result = kResultCancel;
    bool m_fade = true;
    bool m_initialised = false;
    bool m_dragging = false;
    bool m_closing = false;
    bool m_resizable = false;
    bool m_resizeCursor = false;
    Qt::Edges m_resizing;
    QRect m_resizeStart;
    QPoint m_resizeOrigin;
    QPoint m_dragOffset;
    QTimer m_fadeTimer;
    QTimer m_fadeOutTimer;
};
