#pragma once

// A popup menu drawn in the skin's colours: every item is painted by the menu
// style (MenuExStyle), the menu gets a one-colour frame instead of the
// platform's border, and while it is open each menu window casts the soft
// shadow ring of CKvMenuExShadow. Keyboard handling is the platform menu's:
// arrows skip separators and disabled items, Enter and Esc, Left and Right
// for submenus, and "&" mnemonics.
//
// A CKvMenuEx is a handle: copies made by AddSubMenu share the same menu, and
// a submenu lives as long as any menu that holds it.

#include <QObject>
#include <QPoint>
#include <QString>

#include <memory>

class QMenu;
class QWidget;

class CKvMenuEx : public QObject
{
    Q_OBJECT

public:
    // Flags of TrackMenu. Without TPM_RETURNCMD the chosen command is announced
    // through commandChosen and TrackMenu returns 1 when one was chosen.
    static constexpr unsigned TPM_LEFTALIGN = 0x0000;
    static constexpr unsigned TPM_RIGHTBUTTON = 0x0002;
    static constexpr unsigned TPM_NONOTIFY = 0x0080;
    static constexpr unsigned TPM_RETURNCMD = 0x0100;
    // Opened from the keyboard: the first item is active, so the arrows and Enter
    // work at once.
    static constexpr unsigned TPM_KEYBOARD = 0x10000;
    // Item addressing of EnableItem and CheckItem.
    static constexpr unsigned MF_BYCOMMAND = 0x0000;
    static constexpr unsigned MF_BYPOSITION = 0x0400;

    // Item metrics shared by the style, the menu button's placement and tests.
    static constexpr int kItemHeight = 25;
    static constexpr int kSeparatorHeight = 5;
    static constexpr int kIconColumnWidth = 25;
    static constexpr int kFontPixelSize = 12;
    static constexpr int kShadowWidth = 6;

    explicit CKvMenuEx(QObject* parent = nullptr);
    ~CKvMenuEx() override;

    // Appends an item; an id of 0 or less appends a separator. text may hold a
    // TAB followed by accelerator text, and "&" marks the mnemonic. imagePath
    // is relative to the program folder unless it holds a colon.
    bool AddItem(int id, const QString& text, const QString& imagePath = QString());
    // Appends an item that opens subMenu; the two menus then share it.
    bool AddSubMenu(CKvMenuEx& subMenu, const QString& text);
    bool EnableItem(int item, bool enable, unsigned flags = MF_BYCOMMAND);
    bool CheckItem(int item, bool check, unsigned flags = MF_BYCOMMAND);
    bool IsItemEnabled(int item, unsigned flags = MF_BYCOMMAND) const;
    bool IsItemChecked(int item, unsigned flags = MF_BYCOMMAND) const;
    int GetItemCount() const;
    // Command of the item at position: 0 for a separator, -1 for a submenu item
    // or a position outside the menu.
    int GetItemID(int position) const;
    // Removes every item (and drops this menu's share of its submenus).
    void RemoveAll();

    // Height the menu's items take together: what a caller uses to decide
    // whether the menu fits below a point.
    int ExpectedHeight() const;

    // Opens the menu with its top left corner at screenPos and waits until it
    // closes. With TPM_RETURNCMD returns the chosen command (0 for none);
    // otherwise returns 1 when a command was chosen and emits commandChosen.
    // owner is the window the menu belongs to (used for placement and focus).
    int TrackMenu(unsigned flags, const QPoint& screenPos, QWidget* owner);
    // Closes the menu if it is open (TrackMenu then returns as cancelled).
    void Close();

    // Where an item's image is read from: a path holding a colon (or an
    // absolute path) as it stands, anything else under the program folder.
    static QString ImagePath(const QString& path);

    // The underlying menu window, for tests and for callers that need to show
    // the menu without waiting.
    QMenu* Menu() const;

signals:
    void commandChosen(int id);

private:
    struct Data;
    std::shared_ptr<Data> m_data;
};
