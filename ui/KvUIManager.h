#pragma once

// The per-dialog owner of the windowless controls. It reads the skin
// description, keeps the controls in registration order, routes mouse and key
// input to them, tracks the focused control and composes the whole client area
// into one off-screen picture that the dialog blits in its paintEvent.

#include "project/KvUiColors.h"
#include "ui/KvSkinImage.h"
#include "ui/KvUiTypes.h"

#include <QImage>
#include <QObject>
#include <QPoint>
#include <QString>

#include <memory>
#include <vector>

class QKeyEvent;
class QPainter;
class QWidget;
class CKvButton;

class CKvUIManager : public QObject
{
    Q_OBJECT

public:
    explicit CKvUIManager(QObject* parent = nullptr);
    ~CKvUIManager() override;

    // Reads the skin description at fileName (an absolute path) for window.
    // Returns 0 when window is null; otherwise 1, also when the file could not
    // be read (the dialog then lives with its code-created controls only).
    int LoadSkin(QWidget* window, const QString& fileName);

    // Registers a control created in code; the manager owns it from now on.
    void AddControl(int id, CKvButton* control, int typeCode);
    CKvButton* FindControl(int id, int typeCode) const;
    template <class T>
    T* Find(int id, int typeCode) const { return static_cast<T*>(FindControl(id, typeCode)); }

    // Offers a mouse message (velmora::KvMouseMessage) at a client point to every
    // control in list order; controls that change their look are redrawn.
    virtual void Dispatch(int message, const QPoint& point);
    // Key press and release; only while the dialog is the active window. TAB
    // moves the focus. Returns whether the event was consumed.
    bool OnKeyMessage(const QKeyEvent& event);
    // Moves the focus to the next control of the list (wrapping), as TAB does;
    // Shift+TAB walks back.
    void FocusNext();
    void FocusPrevious();
    // showCue: the control shows that it has the focus (as after TAB), such as the
    // default button of a message or the list a window opens with.
    void SetFocusControl(CKvButton* control, int typeCode, bool showCue = false);
    // Whether TAB stops at controls registered under typeCode (labels, tool tips and
    // the kinds that never hold the focus it passes over).
    static bool IsTabStopKind(int typeCode);
    // The order TAB walks: these controls first, then the others as registered.
    void SetTabOrder(const std::vector<CKvButton*>& order);
    std::vector<int> TabSequence() const;
    CKvButton* FocusControl() const { return m_focus; }
    int FocusType() const { return m_focusType; }
    // True while the focus was moved by the keyboard, so controls show a cue.
    bool FocusCueVisible() const { return m_focusCue; }

    // Composes the whole client area and asks the window to show it.
    void Paint();
    // Composes the picture without asking for a repaint (the paint event uses it).
    // The picture has the window's size times its device pixel ratio, marked with
    // that ratio, so everything drawn into it in logical pixels is sharp.
    void Compose();
    // Marks the picture out of date; the next paint composes it afresh.
    void Invalidate();
    bool IsStale() const { return m_stale; }
    // True when the picture no longer fits the window: out of date, or of another
    // size or device pixel ratio (the window was resized or moved to another screen).
    bool NeedsCompose() const;
    // Draws the part of the picture under area (logical pixels of the window)
    // onto a painter of the window, widened to whole device pixels.
    void Blit(QPainter& painter, const QRect& area) const;
    // The device pixels of the picture under a logical rectangle, widened to
    // whole pixels (at ratio 1 the rectangle itself).
    QRect DeviceRect(const QRect& logical) const;
    // The device pixel ratio the picture is composed at: the window's.
    qreal Ratio() const;
    // Every control drops the copy of the dialog picture it keeps behind itself.
    virtual void DiscardCachedPictures();

    QWidget* Window() const { return m_window; }
    // The window whose client area the picture is; the manager watches it for
    // moves to a screen of another device pixel ratio.
    void SetWindow(QWidget* window);
    const QImage& Picture() const { return m_picture; }
    QImage& Picture() { return m_picture; }
    bool HasBackground() const { return !m_background.IsNull(); }
    const QImage& Background() const { return m_background.Normal(); }
    int ControlCount() const { return static_cast<int>(m_controls.size()); }
    CKvButton* ControlAt(int index) const;
    int TypeAt(int index) const;
    CKvButton* ToolTipControl() const { return m_toolTip; }

    // Mouse capture held by the window while a press that began on a control lasts.
    bool HasCapture() const { return m_capture; }
    void SetCapture(bool capture) { m_capture = capture; }

    // Shows a control's new look at once: draws it into the picture and
    // updates that part of the window.
    void RedrawControl(CKvButton* control);

    // Delivery of what controls tell their dialog. Commands are posted (they
    // arrive from the event loop); notifications are sent (handled before the
    // call returns), except where PostNotify is used.
    void PostCommand(int id);
    void SendNotify(int message, CKvButton* control, qint64 param);
    void PostNotify(int message, CKvButton* control, qint64 param);

    // Process-wide state every skinned window shares.
    static tagKvUiColors& Colors();
    static const tagKvFontData* FindFont(int id);
    static const std::vector<tagKvFontData>& Fonts();
    static void AddFont(const tagKvFontData& font);
    static int ToolTipFontId();
    static const velmora::KvSkinImage& ToolTipBackground();
    // Folder that relative skin paths are joined to, ending in "/". Defaults to
    // the folder of the running executable.
    static QString ResourceFolder();
    static void SetResourceFolder(const QString& folder);
    // ProgramPath(ResourceFolder(), relative): a skin file the programs wrote into the
    // work folder replaces the installed one.
    static QString ResolvePath(const QString& relative);

signals:
    void command(int id);
    void notification(int message, CKvButton* control, qint64 param);
    // The dialog adds its own drawing above the background (its frame).
    void drawFrame(QPainter& painter);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Entry
    {
        int id;
        std::unique_ptr<CKvButton> control;
        int typeCode;
    };

    void ApplyDefaultFont(CKvButton* control, int typeCode);
    void MoveFocus(int direction);
    std::vector<CKvButton*> m_tabOrder;
    void LoadDescription(const QString& fileName);

    QWidget* m_window = nullptr;
    velmora::KvSkinImage m_background;
    QImage m_picture;
    QSize m_pictureSize; // logical
    std::vector<Entry> m_controls;
    CKvButton* m_focus = nullptr;
    int m_focusType = -1;
    CKvButton* m_toolTip = nullptr;
    bool m_capture = false;
    bool m_stale = true;
    bool m_focusCue = false;
};
