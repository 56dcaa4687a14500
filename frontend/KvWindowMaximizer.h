#pragma once

// Maximizing a frameless window by hand: it covers the screen it is on, except the
// panels, and comes back to the geometry it had; back from the taskbar while
// maximized, it covers the screen again.

#include <QRect>
#include <QSize>

class QWidget;

namespace velmora {

class KvWindowMaximizer
{
public:
    explicit KvWindowMaximizer(QWidget* window) : m_window(window) {}

    bool IsMaximized() const { return m_maximized; }
    // Each returns whether the window changed between maximized and not.
    bool Maximize();
    // A minimized window is shown again (and stays maximized if it was); normalSize
    // when no earlier geometry is known.
    bool Restore(const QSize& normalSize);
    // Call on the window's state changes.
    void StateChanged();

private:
    QWidget* m_window;
    bool m_maximized = false;
    QRect m_normalGeometry;
};

} // namespace velmora
