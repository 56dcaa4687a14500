#include "ui/KvMenuEx.h"

#include "ui/KvCompositor.h"
#include "ui/KvMenuExShadow.h"
#include "ui/KvUIManager.h"
#include "ui/KvUiTypes.h"
#include "ui/MenuExHook.h"
#include "ui/MenuExStyle.h"

#include "UiTestSupport.h"

#include <QScopeGuard>

#include <gtest/gtest.h>

#include <QAction>
#include <QFontMetrics>
#include <QMenu>
#include <QTest>
#include <QTimer>

#include <functional>

using velmora::MenuExHook;
using velmora::MenuExStyle;

namespace {

class MenuExTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite() { velmora::test::EnsureApplication(); }

    // Runs steps once the menu is open, then tracks it; returns TrackMenu's result.
    static int TrackWith(CKvMenuEx& menu, const std::function<void()>& steps,
                         unsigned flags = CKvMenuEx::TPM_RETURNCMD | CKvMenuEx::TPM_NONOTIFY
                                          | CKvMenuEx::TPM_RIGHTBUTTON)
    {
        QTimer::singleShot(0, [&menu, steps] {
            steps();
            // Whatever the steps left open is closed, so a failing step cannot hang the test.
            if (menu.Menu()->isVisible())
                menu.Close();
        });
        return menu.TrackMenu(flags, QPoint(100, 100), nullptr);
    }

    static void Press(QMenu* menu, Qt::Key key) { QTest::keyClick(menu, key); }
};

int ActiveId(const QMenu* menu)
{
    const QAction* active = menu->activeAction();
    return active ? active->data().toInt() : -1;
}

TEST_F(MenuExTest, ItemsAndSeparatorsHaveTheirFixedHeights)
{
    CKvMenuEx menu;
    menu.AddItem(1, "Open");
    menu.AddItem(0, "");
    menu.AddItem(2, "Delete");

    EXPECT_EQ(menu.ExpectedHeight(), 55);
    QMenu* window = menu.Menu();
    EXPECT_EQ(window->actionGeometry(window->actions()[0]).height(), 25);
    EXPECT_EQ(window->actionGeometry(window->actions()[1]).height(), 5);
    EXPECT_EQ(window->actionGeometry(window->actions()[2]).height(), 25);
    // The items plus the one-pixel frame above and below.
    EXPECT_EQ(window->sizeHint().height(), 55 + 2);
}

TEST_F(MenuExTest, ItemWidthFollowsTextAndAccelerator)
{
    const QFontMetrics metrics(MenuExStyle::MenuFont());
    const int paste = metrics.horizontalAdvance("Paste");
    const int accelerator = metrics.horizontalAdvance("Ctrl+V");

    EXPECT_EQ(MenuExStyle::MeasureItem("Paste", false).width(), 25 + paste + 10);
    EXPECT_EQ(MenuExStyle::MeasureItem("Paste\tCtrl+V", false).width(), 25 + paste + accelerator + 30);
    // The mnemonic marker takes no room; a literal "&&" shows one "&".
    EXPECT_EQ(MenuExStyle::MeasureItem("&Paste", false).width(), 25 + paste + 10);
    EXPECT_EQ(MenuExStyle::MeasureItem("A&&B", false).width(), 25 + metrics.horizontalAdvance("A&B") + 10);
    EXPECT_EQ(MenuExStyle::MeasureItem("", true), QSize(27, 5));

    // In a menu the accelerator column is added once, so the window is exactly as wide.
    CKvMenuEx menu;
    menu.AddItem(1, "Paste\tCtrl+V");
    EXPECT_EQ(menu.Menu()->sizeHint().width(), 25 + paste + accelerator + 30 + 2);
}

TEST_F(MenuExTest, ArrowsSkipSeparatorsAndDisabledItemsAndWrap)
{
    CKvMenuEx menu;
    menu.AddItem(1, "Open");
    menu.AddItem(0, "");
    menu.AddItem(2, "Cut");
    menu.AddItem(3, "Delete");
    menu.EnableItem(2, false);

    std::vector<int> visited;
    const int chosen = TrackWith(menu, [&] {
        QMenu* window = menu.Menu();
        for (int i = 0; i < 3; ++i) {
            Press(window, Qt::Key_Down);
            visited.push_back(ActiveId(window));
        }
        Press(window, Qt::Key_Up);
        visited.push_back(ActiveId(window));
        Press(window, Qt::Key_Return);
    });
    EXPECT_EQ(visited, (std::vector<int>{1, 3, 1, 3}));
    EXPECT_EQ(chosen, 3);
}

TEST_F(MenuExTest, EscapeAndDisabledItemsChooseNothing)
{
    CKvMenuEx menu;
    menu.AddItem(1, "Open");
    EXPECT_EQ(TrackWith(menu, [&] { Press(menu.Menu(), Qt::Key_Escape); }), 0);

    CKvMenuEx disabled;
    disabled.AddItem(1, "&Open");
    disabled.EnableItem(0, false, CKvMenuEx::MF_BYPOSITION);
    EXPECT_EQ(TrackWith(disabled, [&] { QTest::keyClick(disabled.Menu(), Qt::Key_O); }), 0);
}

TEST_F(MenuExTest, ClickChoosesEnabledItemsOnly)
{
    CKvMenuEx menu;
    menu.AddItem(1, "Open");
    menu.AddItem(0, "");
    menu.AddItem(2, "Delete");
    menu.EnableItem(2, false);
    bool stillOpen = false;
    const int chosen = TrackWith(menu, [&] {
        QMenu* window = menu.Menu();
        const QList<QAction*> actions = window->actions();
        // Neither the separator nor the disabled item closes the menu.
        QTest::mouseClick(window, Qt::LeftButton, {}, window->actionGeometry(actions[1]).center());
        QTest::mouseClick(window, Qt::LeftButton, {}, window->actionGeometry(actions[2]).center());
        stillOpen = window->isVisible();
        QTest::mouseMove(window, window->actionGeometry(actions[0]).center());
        QTest::mouseClick(window, Qt::LeftButton, {}, window->actionGeometry(actions[0]).center());
    });
    EXPECT_TRUE(stillOpen);
    EXPECT_EQ(chosen, 1);
}

TEST_F(MenuExTest, MnemonicTriggersItsItem)
{
    CKvMenuEx menu;
    menu.AddItem(1, "&Open");
    menu.AddItem(0, "");
    menu.AddItem(11, "&Exit");
    EXPECT_EQ(TrackWith(menu, [&] { QTest::keyClick(menu.Menu(), Qt::Key_E); }), 11);

    // Without TPM_RETURNCMD the command is announced instead of returned.
    int announced = 0;
    QObject::connect(&menu, &CKvMenuEx::commandChosen, [&](int id) { announced = id; });
    EXPECT_EQ(TrackWith(menu, [&] { QTest::keyClick(menu.Menu(), Qt::Key_O); }, 0), 1);
    EXPECT_EQ(announced, 1);
}

TEST_F(MenuExTest, SubmenusOpenWithRightCloseWithLeftAndEachCastsAShadow)
{
    CKvMenuEx view;
    view.AddItem(21, "&Name");
    view.AddItem(22, "&Size");
    CKvMenuEx menu;
    menu.AddItem(1, "&Open");
    menu.AddSubMenu(view, "&View");

    int shadowsWithBoth = -1;
    int shadowsAfterLeft = -1;
    int firstInSubmenu = -1;
    bool hookWhileOpen = false;
    const int chosen = TrackWith(menu, [&] {
        QMenu* top = menu.Menu();
        QMenu* sub = view.Menu();
        hookWhileOpen = MenuExHook::IsInstalled();
        Press(top, Qt::Key_Down);
        Press(top, Qt::Key_Down);
        Press(top, Qt::Key_Right);
        shadowsWithBoth = sub->isVisible() ? MenuExHook::ShadowCount() : -2;
        Press(sub, Qt::Key_Left);
        shadowsAfterLeft = sub->isVisible() ? -2 : MenuExHook::ShadowCount();
        Press(top, Qt::Key_Right);
        firstInSubmenu = ActiveId(sub);
        Press(sub, Qt::Key_Down);
        Press(sub, Qt::Key_Return);
    });
    EXPECT_TRUE(hookWhileOpen);
    EXPECT_EQ(shadowsWithBoth, 2);
    EXPECT_EQ(shadowsAfterLeft, 1);
    EXPECT_EQ(firstInSubmenu, 21); // opening by keyboard selects the first item
    EXPECT_EQ(chosen, 22);
    // The hook and every shadow are gone with the menus.
    EXPECT_FALSE(MenuExHook::IsInstalled());
    EXPECT_EQ(MenuExHook::ShadowCount(), 0);
}

TEST_F(MenuExTest, ShadowSurroundsTheMenuWithoutCoveringIt)
{
    CKvMenuEx menu;
    menu.AddItem(1, "Open");
    QRect menuGeometry;
    QRect shadowGeometry;
    QRect movedShadowGeometry;
    TrackWith(menu, [&] {
        if (CKvMenuExShadow* shadow = MenuExHook::ShadowOf(menu.Menu())) {
            menuGeometry = menu.Menu()->geometry();
            shadowGeometry = shadow->geometry();
            menu.Menu()->move(menu.Menu()->pos() + QPoint(30, 20));
            movedShadowGeometry = shadow->geometry();
        }
    });
    ASSERT_FALSE(menuGeometry.isEmpty());
    const int reach = CKvMenuExShadow::kReach;
    EXPECT_EQ(shadowGeometry, menuGeometry.adjusted(-reach, -reach, reach, reach));
    EXPECT_EQ(movedShadowGeometry, shadowGeometry.translated(30, 20)); // the ring follows its menu

    // The ring brightens towards the menu and leaves the middle clear.
    const QImage ring = CKvMenuExShadow::RingPicture(QSize(100, 60)).convertToFormat(QImage::Format_ARGB32);
    const QColor edge = velmora::ColorFromRef(CKvUIManager::Colors().clrDlgEdge);
    EXPECT_EQ(qAlpha(ring.pixel(50, 0)), 10);
    EXPECT_EQ(qAlpha(ring.pixel(50, 1)), 20);
    EXPECT_EQ(qAlpha(ring.pixel(50, 2)), 40);
    EXPECT_EQ(qAlpha(ring.pixel(50, 3)), 80);
    EXPECT_EQ(qAlpha(ring.pixel(96, 30)), 80);
    EXPECT_EQ(qAlpha(ring.pixel(50, 30)), 0);
    EXPECT_EQ(qAlpha(ring.pixel(0, 0)), 0); // rounded corner
    EXPECT_NEAR(qRed(ring.pixel(50, 3)), edge.red(), 2);
    EXPECT_NEAR(qBlue(ring.pixel(50, 3)), edge.blue(), 2);
}

// Without a compositor a translucent ring would show black: the shadow is then a flat
// opaque border right around the menu, and nothing of it lies over the menu.
TEST_F(MenuExTest, WithoutACompositorTheShadowIsAFlatOpaqueBorder)
{
    velmora::SetCompositorForTesting(0);
    const auto restore = qScopeGuard([] { velmora::SetCompositorForTesting(-1); });
    CKvMenuExShadow shadow;
    EXPECT_TRUE(shadow.IsOpaque());
    EXPECT_FALSE(shadow.testAttribute(Qt::WA_TranslucentBackground));
    shadow.Surround(QRect(100, 100, 200, 80));
    shadow.show();
    QApplication::processEvents();
    const int reach = CKvMenuExShadow::kReach;
    const int flat = CKvMenuExShadow::kFlatWidth;
    const QRegion mask = shadow.mask();
    EXPECT_TRUE(mask.contains(QPoint(reach - 1, 40)));
    EXPECT_TRUE(mask.contains(QPoint(reach - flat, 40)));
    EXPECT_FALSE(mask.contains(QPoint(reach - flat - 1, 40))) << "no wider than the flat border";
    EXPECT_FALSE(mask.contains(QPoint(reach, 40))) << "never over the menu";
    const QImage flatPicture = CKvMenuExShadow::FlatPicture(QSize(20, 10));
    EXPECT_EQ(qAlpha(flatPicture.pixel(0, 0)), 255);

    velmora::SetCompositorForTesting(1);
    CKvMenuExShadow ring;
    EXPECT_FALSE(ring.IsOpaque());
}

TEST_F(MenuExTest, ItemsAreAddressedByCommandOrPosition)
{
    CKvMenuEx sub;
    sub.AddItem(7, "Seven");
    CKvMenuEx menu;
    menu.AddItem(1, "One");
    menu.AddItem(-1, "");
    menu.AddItem(2, "Two");
    menu.AddSubMenu(sub, "More");

    EXPECT_EQ(menu.GetItemCount(), 4);
    EXPECT_EQ(menu.GetItemID(0), 1);
    EXPECT_EQ(menu.GetItemID(1), 0);
    EXPECT_EQ(menu.GetItemID(3), -1);
    EXPECT_EQ(menu.GetItemID(4), -1);
    EXPECT_EQ(menu.ExpectedHeight(), 3 * 25 + 5);

    EXPECT_TRUE(menu.CheckItem(2, true));
    EXPECT_TRUE(menu.IsItemChecked(2 /* position */, CKvMenuEx::MF_BYPOSITION));
    EXPECT_TRUE(menu.EnableItem(0, false, CKvMenuEx::MF_BYPOSITION));
    EXPECT_FALSE(menu.IsItemEnabled(1));
    EXPECT_FALSE(menu.EnableItem(99, false));
    EXPECT_FALSE(menu.CheckItem(1, true, CKvMenuEx::MF_BYPOSITION)); // a separator

    menu.RemoveAll();
    EXPECT_EQ(menu.GetItemCount(), 0);
    EXPECT_EQ(sub.GetItemCount(), 1); // the submenu outlives its holder's share
}

TEST_F(MenuExTest, ItemImagesWithoutAColonLiveUnderTheProgramFolder)
{
    EXPECT_EQ(CKvMenuEx::ImagePath("skin/btn/add.png"), CKvUIManager::ResolvePath("skin/btn/add.png"));
    EXPECT_TRUE(CKvMenuEx::ImagePath("skin/btn/add.png").endsWith("/skin/btn/add.png"));
    EXPECT_EQ(CKvMenuEx::ImagePath("C:/pictures/x.png"), "C:/pictures/x.png");
    EXPECT_EQ(CKvMenuEx::ImagePath("/tmp/x.png"), "/tmp/x.png");
}

TEST_F(MenuExTest, SelectedItemIsFramedInTheEdgeColour)
{
    CKvMenuEx menu;
    menu.AddItem(1, "Open");
    menu.AddItem(2, "Delete");
    QImage picture;
    TrackWith(menu, [&] {
        QMenu* window = menu.Menu();
        window->setActiveAction(window->actions()[1]);
        picture = window->grab().toImage().convertToFormat(QImage::Format_RGB32);
    });
    ASSERT_FALSE(picture.isNull());
    const tagKvUiColors& scheme = CKvUIManager::Colors();
    const QColor edge = velmora::ColorFromRef(scheme.clrDlgEdge);
    // Window frame, then the selection frame of the second item (item top 1 + 25, inset 1).
    EXPECT_EQ(QColor(picture.pixel(0, 10)), edge);
    EXPECT_EQ(QColor(picture.pixel(picture.width() / 2, 1 + 25 + 1)), edge);
    EXPECT_NE(QColor(picture.pixel(picture.width() / 2, 1 + 1)), edge);
    // The icon column is darker than the text area beside it.
    EXPECT_LT(QColor(picture.pixel(10, 12)).lightness(), QColor(picture.pixel(40, 4)).lightness());
}

} // namespace
