#include "frontend/KvWindowMaximizer.h"

#include <QGuiApplication>
#include <QPointer>
#include <QScreen>
#include <QTimer>
#include <QWidget>

namespace velmora {

namespace {

QRect AvailableArea(const QWidget* window)
{
    QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry() : QRect();
}

bool PlatformPlacesWindows()
{
    // A Wayland compositor always answers a maximize request, and only it may
    // place a window.
    return QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
}

} // namespace

bool KvWindowMaximizer::IsMaximized() const
{
    return m_byHand || (m_window->windowState() & Qt::WindowMaximized);
}

bool KvWindowMaximizer::Maximize()
{
    if (IsMaximized())
        return false;
    m_normalGeometry = m_window->geometry();
    m_window->setWindowState((m_window->windowState() & ~Qt::WindowMinimized) | Qt::WindowMaximized);
    if (!PlatformPlacesWindows()) {
        QPointer<QWidget> window = m_window;
        QTimer::singleShot(kAnswerMs, m_window, [this, window] {
            if (window)
                CoverByHandIfUnanswered();
        });
    }
    return true;
}

void KvWindowMaximizer::CoverByHandIfUnanswered()
{
    if (m_byHand || !(m_window->windowState() & Qt::WindowMaximized) || m_window->isMinimized())
        return;
    const QRect area = AvailableArea(m_window);
    if (area.isEmpty() || m_window->geometry() == area)
        return;
    // Nobody maximized the window: it covers the screen except the panels itself.
    m_byHand = true;
    m_window->setWindowState(m_window->windowState() & ~Qt::WindowMaximized);
    m_window->setGeometry(area);
}

bool KvWindowMaximizer::Restore(const QSize& normalSize)
{
    if (m_window->isMinimized()) {
        m_window->setWindowState(m_window->windowState() & ~Qt::WindowMinimized);
        return false;
    }
    if (!IsMaximized())
        return false;
    const bool byHand = m_byHand;
    m_byHand = false;
    m_window->setWindowState(m_window->windowState() & ~Qt::WindowMaximized);
    if (byHand || !PlatformPlacesWindows()) {
        if (m_normalGeometry.isValid())
            m_window->setGeometry(m_normalGeometry);
        else
            m_window->resize(normalSize);
    }
    return true;
}

void KvWindowMaximizer::StateChanged()
{
    if (!m_byHand || m_window->isMinimized())
        return;
    // Back from the taskbar while covering the screen by hand: cover it again.
    const QRect area = AvailableArea(m_window);
    if (!area.isEmpty() && m_window->geometry() != area)
        m_window->setGeometry(area);
}

} // namespace velmora
