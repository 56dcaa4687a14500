#include "ui/MenuExHook.h"

#include "ui/KvMenuExShadow.h"

#include <QApplication>
#include <QEvent>
#include <QMenu>

namespace velmora {

namespace {

MenuExHook* g_hook = nullptr;

bool IsSkinnedMenu(QObject* object)
{
    auto* menu = qobject_cast<QMenu*>(object);
    return menu && menu->property(MenuExHook::kMarker).toBool();
}

} // namespace

const char* const MenuExHook::kMarker = "velmoraMenuEx";

MenuExHook::~MenuExHook()
{
    DetachAll();
}

void MenuExHook::Install()
{
    if (!g_hook) {
        g_hook = new MenuExHook;
        qApp->installEventFilter(g_hook);
    }
    ++g_hook->m_installs;
}

void MenuExHook::Remove()
{
    if (!g_hook || --g_hook->m_installs > 0)
        return;
    qApp->removeEventFilter(g_hook);
    delete g_hook;
    g_hook = nullptr;
}

bool MenuExHook::IsInstalled()
{
    return g_hook != nullptr;
}

int MenuExHook::OpenMenuCount()
{
    return g_hook ? static_cast<int>(g_hook->m_openMenus.size()) : 0;
}

int MenuExHook::ShadowCount()
{
    return g_hook ? static_cast<int>(g_hook->m_shadows.size()) : 0;
}

CKvMenuExShadow* MenuExHook::ShadowOf(const QMenu* menu)
{
    return g_hook ? g_hook->m_shadows.value(menu, nullptr) : nullptr;
}

bool MenuExHook::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::Show:
        if (IsSkinnedMenu(watched))
            Attach(static_cast<QMenu*>(watched));
        break;
    case QEvent::Move:
    case QEvent::Resize:
        if (IsSkinnedMenu(watched))
            Follow(static_cast<QMenu*>(watched));
        break;
    case QEvent::Hide:
        if (IsSkinnedMenu(watched))
            Detach(static_cast<QMenu*>(watched));
        break;
    default:
        break;
    }
    return false;
}

void MenuExHook::Attach(QMenu* menu)
{
    if (!m_openMenus.contains(menu))
        m_openMenus.append(menu);
    CKvMenuExShadow*& shadow = m_shadows[menu];
    if (!shadow) {
        shadow = new CKvMenuExShadow;
        // A menu that is destroyed while open takes its shadow with it.
        connect(menu, &QObject::destroyed, this, [this, menu] {
            m_openMenus.removeAll(nullptr);
            delete m_shadows.take(menu);
        });
    }
    shadow->Surround(menu->geometry());
    shadow->show();
    // Keep the menu above the shadow of any other menu it overlaps.
    menu->raise();
}

void MenuExHook::Follow(QMenu* menu)
{
    CKvMenuExShadow* shadow = m_shadows.value(menu, nullptr);
    if (!shadow)
        return;
    shadow->Surround(menu->geometry());
    if (menu->isVisible())
        shadow->show();
}

void MenuExHook::Detach(QMenu* menu)
{
    m_openMenus.removeAll(menu);
    m_openMenus.removeAll(nullptr);
    disconnect(menu, &QObject::destroyed, this, nullptr);
    delete m_shadows.take(menu);
}

void MenuExHook::DetachAll()
{
    for (auto it = m_shadows.begin(); it != m_shadows.end(); ++it)
        delete it.value();
    m_shadows.clear();
    m_openMenus.clear();
}

} // namespace velmora
