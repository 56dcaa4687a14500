#include "frontend/KvWindowMaximizer.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

namespace velmora {

bool KvWindowMaximizer::Maximize()
{
    if (m_maximized)
        return false;
    m_normalGeometry = m_window->geometry();
    m_maximized = true;
    // Cover the screen except the panels (the available geometry leaves them out).
    QScreen* screen = m_window->screen() ? m_window->screen() : QGuiApplication::primaryScreen();
    m_window->setUpdatesEnabled(false);
    if (screen)
        m_window->setGeometry(screen->availableGeometry());
    m_window->setUpdatesEnabled(true);
    return true;
}

bool KvWindowMaximizer::Restore(const QSize& normalSize)
{
    if (m_window->isMinimized()) {
        m_window->showNormal();
        return false;
    }
    if (!m_maximized)
        return false;
    m_maximized = false;
    if (m_normalGeometry.isValid())
        m_window->setGeometry(m_normalGeometry);
    else
        m_window->resize(normalSize);
    return true;
}

void KvWindowMaximizer::StateChanged()
{
    if (!m_maximized || m_window->isMinimized())
        return;
    // Back from the taskbar while maximized: cover the screen again.
    if (QScreen* screen = m_window->screen())
        if (m_window->geometry() != screen->availableGeometry())
            m_window->setGeometry(screen->availableGeometry());
}

} // namespace velmora
