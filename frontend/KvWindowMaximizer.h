#pragma once

// Maximizing the frameless main window through the window's own states, so the
// window manager or the Wayland compositor places it (a Wayland client cannot place
// itself). Where nobody answers the request (X11 with no window manager, or one that
// leaves frameless windows alone), the window covers the screen by hand and comes
// back to the geometry it had.

#include <QRect>
#include <QSize>

class QWidget;

namespace velmora {

class KvWindowMaximizer
{
public:
    // How long a window manager has to answer before the window covers the screen
    // by hand (X11 only).
    static constexpr int kAnswerMs = 400;

    explicit KvWindowMaximizer(QWidget* window) : m_window(window) {}

    bool IsMaximized() const;
    // Each returns whether the window changed between maximized and not.
    bool Maximize();
    // A minimized window is shown again (and stays maximized if it was); normalSize
    // when no earlier geometry is known.
    bool Restore(const QSize& normalSize);
    // Call on the window's state changes.
    void StateChanged();

private:
    void CoverByHandIfUnanswered();

    QWidget* m_window;
    bool m_byHand = false;
    QRect m_normalGeometry;
};

} // namespace velmora
