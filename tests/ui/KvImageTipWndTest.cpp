// The picture tip of the image list: it follows the mouse from item to item after a
// short rest, goes with a press, a page turn or the mouse leaving, and stays on the
// screen wherever the item is.

#include "UiTestSupport.h"
#include "ui/KvADListBox.h"
#include "ui/KvImageTipWnd.h"
#include "ui/KvUIManager.h"

#include <QTest>

#include <gtest/gtest.h>

using namespace velmora;
using namespace velmora::test;

namespace {

TEST(KvImageTipWnd, FollowsTheHoveredItemAndGoesWithAPressOrALeave)
{
    SkinFolder skin;
    CKvADListBox* list = nullptr;
    TestDialog dialog([&](CKvUIManager& manager) {
        list = new CKvADListBox;
        list->Move(1, 170, 2 * CKvADListBox::kPageButtonWidth + 2 * CKvADListBox::kItemWidth, 120);
        manager.AddControl(27, list, kTypeADListBox);
    });
    ASSERT_TRUE(ShowActive(dialog));
    const QString red = skin.SaveImage("red.png", SkinFolder::Filled(640, 360, Qt::red));
    list->AddItem(0, 0, red, QStringLiteral("https://example.org/1"), QStringLiteral("Red notice"),
                  QStringLiteral("A longer text about the red notice"));
    list->AddItem(0, 0, QString(), QStringLiteral("https://example.org/2"), QStringLiteral("Plain notice"));
    list->AddItem(0, 0, QString(), QString(), QString()); // nothing to show
    list->AddItem(0, 0, QString(), QString(), QStringLiteral("On page two"));

    QTest::mouseMove(&dialog, list->ItemRect(0).center());
    CKvImageTipWnd* tip = list->ImageTipWindow();
    ASSERT_NE(tip, nullptr);
    EXPECT_TRUE(tip->IsPending());
    EXPECT_FALSE(tip->isVisible()) << "it waits for the mouse to rest";
    ASSERT_TRUE(QTest::qWaitFor([&] { return tip->isVisible(); }, 3000));
    EXPECT_EQ(tip->Title(), "Red notice");
    EXPECT_EQ(tip->Text(), "A longer text about the red notice");
    EXPECT_EQ(tip->Picture().pixelColor(1, 1), QColor(Qt::red));
    EXPECT_GT(tip->height(), CKvImageTipWnd::kPictureHeight) << "picture and texts";
    EXPECT_LE(tip->geometry().bottom(), dialog.mapToGlobal(list->ItemRect(0).topLeft()).y())
        << "above the item, out of the way of the strip";

    QTest::mouseMove(&dialog, list->ItemRect(1).center());
    EXPECT_FALSE(tip->isVisible()) << "a new item starts a new rest";
    ASSERT_TRUE(QTest::qWaitFor([&] { return tip->isVisible(); }, 3000));
    EXPECT_EQ(tip->Title(), "Plain notice");
    EXPECT_TRUE(tip->Picture().isNull());
    const int textOnly = tip->height();
    EXPECT_LT(textOnly, CKvImageTipWnd::kPictureHeight);

    QTest::mousePress(&dialog, Qt::LeftButton, {}, list->ItemRect(1).center());
    EXPECT_FALSE(tip->isVisible());
    EXPECT_FALSE(tip->IsPending());
    QTest::mouseRelease(&dialog, Qt::LeftButton, {}, list->ItemRect(1).center());

    // An item with nothing to show has no tip; a page turn or hiding the list drops
    // a pending one.
    list->SetPage(1, false);
    QTest::mouseMove(&dialog, list->ItemRect(0).center());
    EXPECT_FALSE(tip->IsPending());
    list->SetPage(0, false);
    QTest::mouseMove(&dialog, QPoint(5, 5));
    QTest::mouseMove(&dialog, list->ItemRect(0).center());
    ASSERT_TRUE(tip->IsPending());
    list->SetPage(1, false);
    EXPECT_FALSE(tip->IsPending()) << "a page turn drops the pending tip";
    list->Show(false, false);
    EXPECT_FALSE(tip->isVisible());
}

TEST(KvImageTipWnd, StaysOnTheScreen)
{
    const QRect screen(0, 0, 1920, 1040);
    const QSize tip(336, 250);
    // Above the item, centred.
    EXPECT_EQ(CKvImageTipWnd::TipPosition(QRect(800, 900, 140, 110), tip, screen), QPoint(701, 644));
    // No room above: below it.
    EXPECT_EQ(CKvImageTipWnd::TipPosition(QRect(800, 100, 140, 110), tip, screen), QPoint(701, 216));
    // Pushed in from either side, 2 pixels from the edge.
    EXPECT_EQ(CKvImageTipWnd::TipPosition(QRect(1850, 900, 60, 110), tip, screen).x(), 1920 - 2 - 336);
    EXPECT_EQ(CKvImageTipWnd::TipPosition(QRect(0, 900, 60, 110), tip, screen).x(), 2);
}

} // namespace
