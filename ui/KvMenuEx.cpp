#include "ui/KvMenuEx.h"

#include "ui/KvUIManager.h"
#include "ui/MenuExHook.h"
#include "ui/MenuExStyle.h"

#include <QAction>
#include <QDir>
#include <QIcon>
#include <QMenu>
#include <QTimer>
#include <QPixmap>
#include <QWidget>
#include <QWindow>

#include <vector>

namespace {

// Action property holding the item's image path as given.
constexpr const char* kImageProperty = "velmoraImagePath";

} // namespace

struct CKvMenuEx::Data
{
    // Declared first so that it goes last: the menu's submenu actions refer
    // to these menus until the menu itself is gone.
    std::vector<std::shared_ptr<Data>> subMenus;
    std::unique_ptr<QMenu> menu;

    Data()
        : menu(std::make_unique<QMenu>())
    {
        menu->setStyle(velmora::MenuExStyle::Instance());
        menu->setFont(velmora::MenuExStyle::MenuFont());
        menu->setProperty(velmora::MenuExHook::kMarker, true);
        // The frame and every item are drawn by the style; the platform's
        // own shadow would double the ring.
        menu->setWindowFlag(Qt::NoDropShadowWindowHint, true);
    }

    QAction* ItemAt(int item, unsigned flags) const
    {
        const QList<QAction*> actions = menu->actions();
        if (flags & MF_BYPOSITION)
            return item >= 0 && item < actions.size() ? actions[item] : nullptr;
        for (QAction* action : actions) {
            if (!action->isSeparator() && !action->menu() && action->data().toInt() == item)
                return action;
        }
        return nullptr;
    }
};

CKvMenuEx::CKvMenuEx(QObject* parent)
    : QObject(parent)
    , m_data(std::make_shared<Data>())
{
}

CKvMenuEx::~CKvMenuEx() = default;

bool CKvMenuEx::AddItem(int id, const QString& text, const QString& imagePath)
{
    if (id <= 0) {
        QAction* separator = m_data->menu->addSeparator();
        separator->setEnabled(false);
        return true;
    }
    QAction* action = m_data->menu->addAction(text);
    action->setData(id);
    if (!imagePath.isEmpty()) {
        action->setProperty(kImageProperty, imagePath);
        const QString file = ImagePath(imagePath);
        // An icon made from the file takes its "@2x" companion for denser screens.
        if (!QPixmap(file).isNull())
            action->setIcon(QIcon(file));
    }
    return true;
}

bool CKvMenuEx::AddSubMenu(CKvMenuEx& subMenu, const QString& text)
{
    if (subMenu.m_data == m_data)
        return false;
    QAction* action = m_data->menu->addAction(text);
    action->setMenu(subMenu.m_data->menu.get());
    m_data->subMenus.push_back(subMenu.m_data);
    return true;
}

bool CKvMenuEx::EnableItem(int item, bool enable, unsigned flags)
{
    QAction* action = m_data->ItemAt(item, flags);
    if (!action || action->isSeparator())
        return false;
    action->setEnabled(enable);
    return true;
}

bool CKvMenuEx::CheckItem(int item, bool check, unsigned flags)
{
    QAction* action = m_data->ItemAt(item, flags);
    if (!action || action->isSeparator())
        return false;
    action->setCheckable(true);
    action->setChecked(check);
    return true;
}

bool CKvMenuEx::IsItemEnabled(int item, unsigned flags) const
{
    const QAction* action = m_data->ItemAt(item, flags);
    return action && action->isEnabled();
}

bool CKvMenuEx::IsItemChecked(int item, unsigned flags) const
{
    const QAction* action = m_data->ItemAt(item, flags);
    return action && action->isChecked();
}

int CKvMenuEx::GetItemCount() const
{
    return static_cast<int>(m_data->menu->actions().size());
}

int CKvMenuEx::GetItemID(int position) const
{
    const QAction* action = m_data->ItemAt(position, MF_BYPOSITION);
    if (!action || action->menu())
        return -1;
    return action->isSeparator() ? 0 : action->data().toInt();
}

void CKvMenuEx::RemoveAll()
{
    m_data->menu->clear();
    m_data->subMenus.clear();
}

int CKvMenuEx::ExpectedHeight() const
{
    int height = 0;
    for (const QAction* action : m_data->menu->actions())
        height += action->isSeparator() ? kSeparatorHeight : kItemHeight;
    return height;
}

int CKvMenuEx::TrackMenu(unsigned flags, const QPoint& screenPos, QWidget* owner)
{
    QMenu* menu = m_data->menu.get();
    if (owner) {
        // Tie the popup to the owner's window so it opens on the owner's screen
        // and the window manager keeps it above that window.
        menu->winId();
        if (QWindow* ownerWindow = owner->window()->windowHandle())
            menu->windowHandle()->setTransientParent(ownerWindow);
    }

    velmora::MenuExHook::Install();
    if (flags & TPM_KEYBOARD) {
        QTimer::singleShot(0, menu, [menu] {
            for (QAction* action : menu->actions()) {
                if (!action->isSeparator() && action->isEnabled() && action->isVisible()) {
                    menu->setActiveAction(action);
                    break;
                }
            }
        });
    }
    const QAction* chosen = menu->exec(screenPos);
    velmora::MenuExHook::Remove();

    const int id = chosen && !chosen->isSeparator() ? chosen->data().toInt() : 0;
    if (flags & TPM_RETURNCMD)
        return id;
    if (id <= 0)
        return 0;
    emit commandChosen(id);
    return 1;
}

void CKvMenuEx::Close()
{
    m_data->menu->close();
}

QString CKvMenuEx::ImagePath(const QString& path)
{
    // A colon marks a drive or a resource path; both stand as they are.
    if (path.contains(u':') || QDir::isAbsolutePath(path))
        return path;
    return CKvUIManager::ResolvePath(path);
}

QMenu* CKvMenuEx::Menu() const
{
    return m_data->menu.get();
}
