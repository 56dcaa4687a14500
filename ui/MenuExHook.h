#pragma once

// Gives every skinned menu window its shadow while a menu is being tracked.
// Installed by CKvMenuEx::TrackMenu for the time the menu is open, it watches
// the menu windows of the application: when one appears it gets a
// CKvMenuExShadow, the shadow follows it when it moves or resizes, and goes
// when the window closes. Used only from the GUI thread.

#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>

class QMenu;
class CKvMenuExShadow;

namespace velmora {

class MenuExHook : public QObject
{
    Q_OBJECT

public:
    // Nested installs are counted; the last Remove takes the hook down and
    // removes any shadow that is still shown.
    static void Install();
    static void Remove();
    static bool IsInstalled();

    // Menu windows currently open and the shadows attached to them.
    static int OpenMenuCount();
    static int ShadowCount();
    static CKvMenuExShadow* ShadowOf(const QMenu* menu);

    // Property that marks a QMenu as a skinned menu (set by CKvMenuEx).
    static const char* const kMarker;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    MenuExHook() = default;
    ~MenuExHook() override;

    void Attach(QMenu* menu);
    void Follow(QMenu* menu);
    void Detach(QMenu* menu);
    void DetachAll();

    int m_installs = 0;
    QList<QPointer<QMenu>> m_openMenus;
    QHash<const QMenu*, CKvMenuExShadow*> m_shadows;
};

} // namespace velmora
