#pragma once

// Shared vocabulary of the skinned toolkit: the codes a control is registered
// under, the mouse and notification message numbers, the process-wide font
// table entry and the colour arithmetic every control draws with.

#include <QColor>
#include <QFont>
#include <QString>

#include <cstdint>

// One entry of the process-wide font table that every skin load appends to.
struct tagKvFontData
{
    int nID = 0;
    int nSize = 12; // pixel height
    int bBold = 0;
    int bItalic = 0;
    int bVertical = 0;
    int bUnderline = 0;
    uint32_t clrNormal = 0;
    uint32_t clrHover = 0;
    uint32_t clrDown = 0;
    uint32_t clrDisable = 0;
    QString szName; // face name, at most 31 characters
};

namespace velmora {

// Type codes under which a control is registered with its manager. Codes above
// kTypeLast are carried in the list but ignored by every loop of the manager.
enum KvControlType : int {
    kTypeButton = 0,
    kTypeCheck = 1,
    kTypeRadio = 2,
    kTypeEdit = 3,
    kTypeProgress = 4,
    kTypeVListBox = 5,
    kTypeHListBox = 6,
    kTypeComboBox = 7,
    kTypeListOnly = 8,   // kept in the list, given no font and nothing else
    kTypeMenuButton = 9,
    kTypeColorButton = 10,
    kTypeSlider = 11,
    kTypeLinkButton = 12,
    kTypeStatic = 13,
    kTypeListCtrl = 14,
    kTypeCustom15 = 15,
    kTypeToolTip = 16,
    kTypeTextButton = 17,
    kTypeEmbeddedEdit = 20, // an edit the dialog routes its own mouse input to
    kTypeADListBox = 22,
    kTypeCustom23 = 23,
    kTypeLast = 23,
};

// Mouse messages handed to CKvUIManager::Dispatch and CKvButton::OnMouseMessage.
// They keep the numbers the dialogs and their tests use.
enum KvMouseMessage : int {
    kMouseMove = 512,
    kLButtonDown = 513,
    kLButtonUp = 514,
    kLButtonDblClk = 515,
    kRButtonDown = 516,
    kRButtonUp = 517,
};

// Notifications a control sends to its dialog (CKvUIManager::notification).
// Commands (a click) travel separately, through CKvUIManager::command.
enum KvNotification : int {
    kMsgDrawFrame = 1924,        // the dialog draws its frame above the background
    kMsgListContext = 1911,      // list control: right click on a row (row)
    kMsgListHeaderContext = 1912, // list control: right click on the header (column)
    kMsgListContextKey = 1913,   // list control: Menu key or Shift+F10 on the selected row (row)
    kMsgMenuOpening = 2025,      // menu button: fill the menu now (menu)
    kMsgMenuCommand = 2026,      // menu or colour button: command chosen (command)
    kMsgColorClick = 2031,       // colour button clicked
    kMsgCellTextChanged = 2033,  // list control: column * 65536 + row
    kMsgListDblClk = 2034,       // list control: double click on a row (row)
    kMsgSelectedRowChanged = 2036, // list control: new row or -1
    kMsgListImageList = 2041,    // image list box: item * 65536 + command
    kMsgListEmptyDblClk = 2045,  // list control: double click below the rows (-1)
    kMsgCheckToggled = 2046,     // list control: column index
    kMsgCellCheckClicked = 2047, // list control: column * 65536 + row
};

// COLORREF (0x00BBGGRR) to an opaque QColor.
QColor ColorFromRef(uint32_t colorRef, int alpha = 255);
// Shifts red, green and blue by amount, each clamped to 0..255.
QColor ShiftColor(const QColor& color, int amount);
QColor ShiftColorRef(uint32_t colorRef, int amount, int alpha = 255);
// The skin's two signal colours beside the scheme: the amber accent that marks
// progress and the one thing to do next, and the red of a failure.
QColor AccentColor();
QColor DangerColor();
uint32_t AccentColorRef();
uint32_t DangerColorRef();

// A picture read no larger than fit (aspect kept; a smaller one as it is), decoded at
// that size where the format allows, so a large file never sits in memory whole. Null
// when it cannot be read or its header gives a side over maxSide (a picture bomb).
QImage LoadPictureWithin(const QString& path, const QSize& fit, int maxSide = 4096);

// A caption as it shows: "&" marks a mnemonic and disappears, "&&" is a literal "&".
QString VisibleText(const QString& text);

// The face, pixel size, weight, slant and underline of a font table entry; an
// entry without a face name uses Arial. The pixel size is scaled by SkinFontScale.
QFont FontFromEntry(const tagKvFontData& entry);

// The skin's font sizes are those of a standard desktop, whose application font is
// kStandardFontPoints at 96 dpi (the largest default of the common desktops; Qt's
// own fallback is 9 pt). When the application font is larger (a larger system font,
// a higher font dpi), the skin's fonts grow by the same ratio; never below 1.
constexpr double kStandardFontPoints = 11.0;
double SkinFontScale();

} // namespace velmora
