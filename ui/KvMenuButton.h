#pragma once

#include "ui/KvButton.h"

#include <QPoint>
#include <functional>

class CKvMenuEx;

// A button that opens its menu on press. The dialog fills the menu when told
// (kMsgMenuOpening) and receives the chosen command (kMsgMenuCommand).
class CKvMenuButton : public CKvButton
{
public:
    CKvMenuButton();

    void OnLButtonDown(const QPoint& point) override;
    // Enter, Space and Down open the menu with its first item active.
    bool OnKey(const QKeyEvent& event) override;
    // Opens the menu below the button (F10 on the main window, the keys above).
    void Open(bool fromKeyboard);
    // Opens the menu, as a press does (and waits until it closes).
    void Activate() override;

    // The menu is the dialog's; the button only opens it.
    void SetMenu(CKvMenuEx* menu) { m_menu = menu; }
    CKvMenuEx* Menu() const { return m_menu; }

    // Where the menu opens (screen coordinates) for a button at buttonRect
    // (screen coordinates) and a menu of expectedHeight, within screen.
    static QPoint MenuPosition(const QRect& buttonRect, int expectedHeight, const QRect& screen);

private:
    CKvMenuEx* m_menu = nullptr;
};
