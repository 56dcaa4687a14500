#include "UiTestSupport.h"

#include "ui/KvADListBox.h"
#include "ui/KvComboBox.h"
#include "ui/KvComboBoxList.h"
#include "ui/KvEdit.h"
#include "ui/KvEditCtrl.h"
#include "ui/KvMenuButton.h"
#include "ui/KvMenuEx.h"
#include "ui/KvProgress.h"
#include "ui/KvSlider.h"
#include "ui/KvUIManager.h"
#include "ui/KvVListBox.h"
#include "ui/KvWindow.h"

#include <QMenu>
#include <QSignalSpy>
#include <QTimer>
#include <QTest>

#include <gtest/gtest.h>

using namespace velmora;
using namespace velmora::test;

namespace {

void Settle()
{
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
}

} // namespace

TEST(KvEdit, NumberFieldTakesDigitsOnlyAndCaptionGoesThroughTheField)
{
    SkinFolder skin;
    CKvEdit* edit = nullptr;
    TestDialog dialog([&](CKvUIManager& manager) {
        edit = new CKvEdit;
        edit->SetNumberOnly(true);
        edit->Move(10, 40, 120, 22);
        manager.AddControl(3, edit, kTypeEdit);
    });
    ASSERT_TRUE(ShowActive(dialog));
    ASSERT_NE(edit->EditWindow(), nullptr);
    EXPECT_EQ(edit->EditWindow()->parentWidget(), &dialog);
    EXPECT_TRUE(dialog.rect().contains(edit->EditWindow()->geometry()));
    QTest::keyClicks(edit->EditWindow(), QStringLiteral("a1b2"));
    EXPECT_EQ(edit->GetCaption(), QStringLiteral("12"));
    EXPECT_EQ(dialog.Manager()->FocusControl(), edit) << "typing into the field focuses the control";
    edit->SetCaption(QStringLiteral("300"));
    EXPECT_EQ(edit->EditWindow()->text(), QStringLiteral("300"));
    edit->Enable(false);
    EXPECT_FALSE(edit->EditWindow()->isEnabled());
    edit->Show(false);
    EXPECT_FALSE(edit->EditWindow()->isVisible());
}

TEST(KvComboBox, PressOpensTheListAndAChoiceSetsTheTextAndSendsTheCommand)
{
    SkinFolder skin;
    CKvComboBox* combo = nullptr;
    TestDialog dialog([&](CKvUIManager& manager) {
        combo = new CKvComboBox;
        combo->Move(10, 40, 150, 22);
        combo->SetDropHeight(300);
        manager.AddControl(38, combo, kTypeComboBox);
    });
    ASSERT_TRUE(ShowActive(dialog));
    combo->AddString(QStringLiteral("MP3"), 0);
    combo->AddString(QStringLiteral("WMA"), 7);
    combo->SetCurSel(0);
    EXPECT_EQ(combo->GetCaption(), QStringLiteral("MP3"));
    QSignalSpy commands(dialog.Manager(), &CKvUIManager::command);

    QTest::mouseClick(&dialog, Qt::LeftButton, {}, QPoint(60, 50));
    ASSERT_TRUE(combo->IsDroppedDown());
    Settle();
    EXPECT_EQ(commands.count(), 0) << "opening the list is no command";
    QWidget* popup = QApplication::activePopupWidget();
    ASSERT_NE(popup, nullptr);
    EXPECT_EQ(popup->height(), 2 * CKvComboBoxList::kRowHeight + 2) << "no taller than its entries";
    QTest::mouseClick(popup, Qt::LeftButton, {}, QPoint(20, CKvComboBoxList::kRowHeight + 5));
    Settle();
    EXPECT_FALSE(combo->IsDroppedDown());
    EXPECT_EQ(combo->GetCurSel(), 1);
    EXPECT_EQ(combo->GetCaption(), QStringLiteral("WMA"));
    EXPECT_EQ(combo->GetItemData(1), 7);
    ASSERT_EQ(commands.count(), 1);
    EXPECT_EQ(commands.at(0).at(0).toInt(), 38);

    // Losing the focus closes the list.
    combo->ShowDropDown(true);
    ASSERT_TRUE(combo->IsDroppedDown());
    dialog.Manager()->SetFocusControl(nullptr, kTypeButton);
    Settle();
    EXPECT_FALSE(combo->IsDroppedDown());
}

TEST(KvProgress, PositionStaysInsideTheRange)
{
    CKvProgress progress;
    progress.SetRange(0, 100, false);
    progress.SetPos(150, false);
    EXPECT_DOUBLE_EQ(progress.Pos(), 100);
    progress.SetPos(-5, false);
    EXPECT_DOUBLE_EQ(progress.Pos(), 0);
    progress.SetPos(42.5, false);
    progress.SetRange(0, 10, false);
    EXPECT_DOUBLE_EQ(progress.Pos(), 10);
}

TEST(KvSlider, ThumbFollowsPressDragKeysAndWheel)
{
    SkinFolder skin;
    CKvSlider* slider = nullptr;
    TestDialog dialog([&](CKvUIManager& manager) {
        slider = new CKvSlider;
        slider->Move(10, 40, 214, 20); // 200 pixels of travel
        slider->SetRange(0, 200, false);
        manager.AddControl(11, slider, kTypeSlider);
    });
    ASSERT_TRUE(ShowActive(dialog));
    QSignalSpy commands(dialog.Manager(), &CKvUIManager::command);
    QTest::mousePress(&dialog, Qt::LeftButton, {}, QPoint(10 + 7 + 50, 50));
    EXPECT_EQ(slider->Pos(), 50);
    QTest::mouseMove(&dialog, QPoint(10 + 7 + 120, 200));
    EXPECT_EQ(slider->Pos(), 120) << "the thumb follows the mouse off the track";
    QTest::mouseMove(&dialog, QPoint(390, 200));
    EXPECT_EQ(slider->Pos(), 200);
    QTest::mouseRelease(&dialog, Qt::LeftButton, {}, QPoint(390, 200));
    EXPECT_FALSE(dialog.Manager()->HasCapture());
    QTest::keyClick(&dialog, Qt::Key_Home);
    EXPECT_EQ(slider->Pos(), 0);
    QTest::keyClick(&dialog, Qt::Key_Right);
    EXPECT_EQ(slider->Pos(), 2);
    Settle();
    EXPECT_EQ(commands.count(), 5);
    slider->SetPos(500);
    EXPECT_EQ(slider->Pos(), 200);
}

TEST(KvVListBox, ScrollBarAppearsWhenRowsOverflowAndWheelScrolls)
{
    SkinFolder skin;
    CKvVListBox* list = nullptr;
    TestDialog dialog([&](CKvUIManager& manager) {
        list = new CKvVListBox;
        list->Move(10, 40, 150, 110); // five rows of 22
        manager.AddControl(5, list, kTypeVListBox);
    });
    ASSERT_TRUE(ShowActive(dialog));
    for (int i = 0; i < 5; ++i)
        list->AddString(QStringLiteral("row %1").arg(i));
    EXPECT_FALSE(list->HasVScroll());
    list->AddString(QStringLiteral("row 5"));
    EXPECT_TRUE(list->HasVScroll());
    EXPECT_EQ(list->ViewRect().width(), 150 - CKvWindow::kScrollBarSize);

    QSignalSpy commands(dialog.Manager(), &CKvUIManager::command);
    QTest::mouseClick(&dialog, Qt::LeftButton, {}, QPoint(20, 40 + 22 + 5));
    EXPECT_EQ(list->GetCurSel(), 1);
    EXPECT_TRUE(list->OnWheel(-120, QPoint(20, 60)));
    EXPECT_EQ(list->ScrollY(), 22) << "scrolled to the end, no further";
    EXPECT_FALSE(list->OnWheel(-120, QPoint(20, 60)));
    Settle();
    EXPECT_EQ(commands.count(), 1);
}

TEST(KvADListBox, PagesAndMenusFollowTheModes)
{
    SkinFolder skin;
    QWidget host;
    CKvUIManager manager;
    manager.SetWindow(&host);
    auto* list = new CKvADListBox;
    list->Move(0, 0, 2 * CKvADListBox::kPageButtonWidth + 3 * CKvADListBox::kItemWidth, 120);
    manager.AddControl(27, list, kTypeADListBox);
    EXPECT_EQ(list->ItemsPerPage(), 3);
    for (int i = 0; i < 7; ++i)
        list->AddItem(0, 0, QString(), QStringLiteral("https://example.invalid/%1").arg(i), QStringLiteral("t%1").arg(i));
    EXPECT_EQ(list->PageCount(), 3);
    list->SetPage(5, false);
    EXPECT_EQ(list->Page(), 2);
    EXPECT_EQ(list->HitItem(list->ItemRect(0).center()), 6);
    EXPECT_EQ(list->HitItem(list->ItemRect(1).center()), -1);

    list->AddItem(0, 0, QString(), QString(), QString(300, QLatin1Char('x')));
    EXPECT_EQ(list->Item(7)->szText3.size(), CKvADListBox::kMaxText);

    using Items = std::vector<std::pair<int, QString>>;
    EXPECT_EQ(CKvADListBox::MenuItems(0), (Items{{1, "&Add To My Favorites"}}));
    EXPECT_EQ(CKvADListBox::MenuItems(2),
              (Items{{1, "&Add To My Favorites"}, {0, ""}, {3, "&Remove"}, {4, "Remove All"}}));
    EXPECT_EQ(CKvADListBox::MenuItems(3), (Items{{2, "&Modify"}, {0, ""}, {3, "&Remove"}}));
    EXPECT_TRUE(CKvADListBox::MenuItems(9).empty());
}

TEST(KvMenuButton, MenuOpensBelowUnlessItWouldLeaveTheScreen)
{
    const QRect screen(0, 0, 1920, 1040);
    EXPECT_EQ(CKvMenuButton::MenuPosition(QRect(30, 3, 25, 25), 75, screen), QPoint(28, 27));
    // Too close to the bottom: above the button.
    EXPECT_EQ(CKvMenuButton::MenuPosition(QRect(30, 1000, 25, 25), 75, screen), QPoint(28, 1024 - 75 - 25 - 4));
    // Neither fits: at the top, beside the button.
    EXPECT_EQ(CKvMenuButton::MenuPosition(QRect(30, 500, 25, 25), 1000, screen), QPoint(28 + 26, 0));
}

TEST(KvMenuButton, PressLetsTheDialogFillTheMenuAndReportsTheChoice)
{
    SkinFolder skin;
    CKvMenuButton* button = nullptr;
    CKvMenuEx menu;
    TestDialog dialog([&](CKvUIManager& manager) {
        button = new CKvMenuButton;
        button->Move(30, 40, 25, 25);
        button->SetMenu(&menu);
        manager.AddControl(31, button, kTypeMenuButton);
    });
    ASSERT_TRUE(ShowActive(dialog));
    std::vector<std::pair<int, qint64>> notes;
    QObject::connect(dialog.Manager(), &CKvUIManager::notification, [&](int message, CKvButton*, qint64 param) {
        notes.emplace_back(message, param);
        // The dialog fills the menu when it is told the menu is about to open.
        if (message == kMsgMenuOpening && menu.GetItemCount() == 0)
            menu.AddItem(11, QStringLiteral("&Exit"));
    });
    QTimer::singleShot(0, [&] {
        QTest::keyClick(menu.Menu(), Qt::Key_E);
        if (menu.Menu()->isVisible())
            menu.Close();
    });
    QSignalSpy commands(dialog.Manager(), &CKvUIManager::command);
    QTest::mousePress(&dialog, Qt::LeftButton, {}, QPoint(40, 50));
    ASSERT_EQ(notes.size(), 2u);
    EXPECT_EQ(notes[0].first, kMsgMenuOpening);
    EXPECT_EQ(notes[0].second, reinterpret_cast<qint64>(&menu));
    EXPECT_EQ(notes[1], std::make_pair(int(kMsgMenuCommand), qint64(11)));
    EXPECT_EQ(button->GetLook(), CKvButton::LookNormal);
    EXPECT_FALSE(dialog.Manager()->HasCapture()) << "the menu took the release; nothing waits for it";
    QTest::mouseRelease(&dialog, Qt::LeftButton, {}, QPoint(40, 50));
    Settle();
    EXPECT_EQ(commands.count(), 0) << "a menu button acts through its menu, not as a click";
}

TEST(KvADListBox, ClickOpensAnItemAndPageButtonsTurnPages)
{
    SkinFolder skin;
    CKvADListBox* list = nullptr;
    TestDialog dialog([&](CKvUIManager& manager) {
        list = new CKvADListBox;
        list->Move(1, 170, 2 * CKvADListBox::kPageButtonWidth + 2 * CKvADListBox::kItemWidth, 120);
        manager.AddControl(27, list, kTypeADListBox);
    });
    ASSERT_TRUE(ShowActive(dialog));
    for (int i = 0; i < 5; ++i)
        list->AddItem(0, 0, QString(), QStringLiteral("link %1").arg(i), QStringLiteral("title %1").arg(i));
    QSignalSpy commands(dialog.Manager(), &CKvUIManager::command);

    QTest::mouseMove(&dialog, list->ItemRect(1).center());
    EXPECT_EQ(dialog.cursor().shape(), Qt::PointingHandCursor);
    QTest::mouseClick(&dialog, Qt::LeftButton, {}, list->ItemRect(1).center());
    Settle();
    ASSERT_EQ(commands.count(), 1);
    EXPECT_EQ(list->ClickedItem(), 1);

    QTest::mouseClick(&dialog, Qt::LeftButton, {}, list->NextButtonRect().center());
    EXPECT_EQ(list->Page(), 1);
    QTest::mouseClick(&dialog, Qt::LeftButton, {}, list->NextButtonRect().center());
    QTest::mouseClick(&dialog, Qt::LeftButton, {}, list->NextButtonRect().center());
    EXPECT_EQ(list->Page(), 2) << "no page after the last";
    QTest::mouseClick(&dialog, Qt::LeftButton, {}, list->ItemRect(0).center());
    Settle();
    EXPECT_EQ(list->ClickedItem(), 4);
    QTest::mouseClick(&dialog, Qt::LeftButton, {}, list->ItemRect(1).center());
    Settle();
    EXPECT_EQ(commands.count(), 2) << "an empty slot is no item";
    list->DeleteItem(4);
    EXPECT_EQ(list->Page(), 1) << "the page follows the items that are left";
}

TEST(KvComboBox, KeysStepThroughTheEntriesOfAFocusedBox)
{
    SkinFolder skin;
    CKvComboBox* combo = nullptr;
    TestDialog dialog([&](CKvUIManager& manager) {
        combo = new CKvComboBox;
        combo->Move(10, 40, 150, 22);
        manager.AddControl(55, combo, kTypeComboBox);
    });
    ASSERT_TRUE(ShowActive(dialog));
    combo->AddString(QStringLiteral("1 (Mono)"));
    combo->AddString(QStringLiteral("2 (Stereo)"));
    QSignalSpy commands(dialog.Manager(), &CKvUIManager::command);
    QTest::keyClick(&dialog, Qt::Key_Tab);
    ASSERT_TRUE(combo->HasFocus());
    QTest::keyClick(&dialog, Qt::Key_Down);
    QTest::keyClick(&dialog, Qt::Key_Down);
    QTest::keyClick(&dialog, Qt::Key_Down);
    EXPECT_EQ(combo->GetCurSel(), 1);
    EXPECT_EQ(combo->GetCaption(), QStringLiteral("2 (Stereo)"));
    Settle();
    EXPECT_EQ(commands.count(), 2) << "only real changes are commands";
    combo->ResetContent();
    EXPECT_EQ(combo->GetCurSel(), -1);
    EXPECT_EQ(combo->GetCaption(), QString());
}
