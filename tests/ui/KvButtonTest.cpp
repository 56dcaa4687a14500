#include "UiTestSupport.h"

#include "ui/KvButton.h"
#include "ui/KvCheck.h"
#include "ui/KvRadio.h"
#include "ui/KvToolTipWnd.h"
#include "ui/KvUIManager.h"

#include <QPainter>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

using namespace velmora;
using namespace velmora::test;

namespace {

constexpr int kButtonId = 42;

// Runs posted commands.
void Settle()
{
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
}

} // namespace

TEST(KvButton, PressDragOutAndReleaseGivesNoCommandButReleasingBackInsideDoes)
{
    SkinFolder skin;
    CKvButton* button = nullptr;
    TestDialog dialog([&](CKvUIManager& manager) {
        button = new CKvButton;
        button->Move(100, 100, 40, 30);
        manager.AddControl(kButtonId, button, kTypeButton);
    });
    ASSERT_TRUE(ShowActive(dialog));
    QSignalSpy commands(dialog.Manager(), &CKvUIManager::command);

    const QPoint inside(110, 110);
    const QPoint outside(300, 250);
    QTest::mouseMove(&dialog, inside);
    QTest::mousePress(&dialog, Qt::LeftButton, {}, inside);
    EXPECT_EQ(button->GetLook(), CKvButton::LookPressed);
    QTest::mouseMove(&dialog, outside);
    EXPECT_EQ(button->GetLook(), CKvButton::LookPressed) << "the press is held while the mouse is away";
    QTest::mouseRelease(&dialog, Qt::LeftButton, {}, outside);
    Settle();
    EXPECT_EQ(commands.count(), 0);
    EXPECT_EQ(button->GetLook(), CKvButton::LookNormal);
    EXPECT_FALSE(dialog.Manager()->HasCapture());

    QTest::mousePress(&dialog, Qt::LeftButton, {}, inside);
    QTest::mouseMove(&dialog, outside);
    QTest::mouseMove(&dialog, inside);
    QTest::mouseRelease(&dialog, Qt::LeftButton, {}, inside);
    Settle();
    ASSERT_EQ(commands.count(), 1);
    EXPECT_EQ(commands.at(0).at(0).toInt(), kButtonId);
    EXPECT_EQ(button->GetLook(), CKvButton::LookHover);
}

TEST(KvButton, FourFrameImageShowsTheFrameOfEachLook)
{
    SkinFolder skin;
    const std::vector<QColor> frames = {Qt::red, Qt::green, Qt::blue, Qt::yellow};
    const QString strip = skin.SaveImage("skin/btn/strip.png", SkinFolder::Strip(40, 30, frames));
    CKvButton* button = nullptr;
    TestDialog dialog([&](CKvUIManager& manager) {
        button = new CKvButton;
        button->LoadImage(strip);
        button->Move(100, 100, 40, 30);
        manager.AddControl(kButtonId, button, kTypeButton);
    });
    ASSERT_TRUE(ShowActive(dialog));
    CKvUIManager& manager = *dialog.Manager();
    manager.Compose();

    // Both edge columns of the button and one pixel beside it, in each look.
    auto expectFrame = [&](const QColor& color, const char* look) {
        EXPECT_EQ(PixelAt(manager, 100, 101), color) << look;
        EXPECT_EQ(PixelAt(manager, 139, 128), color) << look;
        EXPECT_NE(PixelAt(manager, 140, 115), color) << look;
        EXPECT_NE(PixelAt(manager, 99, 115), color) << look;
    };
    expectFrame(Qt::red, "normal");
    QTest::mouseMove(&dialog, QPoint(120, 115));
    expectFrame(Qt::green, "hover");
    QTest::mousePress(&dialog, Qt::LeftButton, {}, QPoint(120, 115));
    expectFrame(Qt::blue, "pressed");
    QTest::mouseRelease(&dialog, Qt::LeftButton, {}, QPoint(120, 115));
    expectFrame(Qt::green, "hover after release");
    button->Enable(false);
    expectFrame(Qt::yellow, "disabled");
    // A full repaint draws the same as the change in place.
    manager.Compose();
    expectFrame(Qt::yellow, "disabled, composed afresh");
}

TEST(KvButton, FrameLargerThanTheRectangleStartsAtItsTopLeftCorner)
{
    SkinFolder skin;
    CKvUIManager manager;
    QWidget host;
    host.resize(200, 100);
    manager.SetWindow(&host);
    auto* button = new CKvButton;
    // Frames of 40 x 30 on a 20 x 20 button: clipped, not centred.
    QImage image = SkinFolder::Strip(40, 30, {Qt::red, Qt::green, Qt::blue, Qt::yellow});
    QPainter(&image).fillRect(QRect(0, 0, 1, 1), Qt::magenta);
    button->SetImage(image);
    button->Move(50, 50, 20, 20);
    manager.AddControl(1, button, kTypeButton);
    manager.Compose();
    EXPECT_EQ(PixelAt(manager, 50, 50), QColor(Qt::magenta));
    EXPECT_EQ(PixelAt(manager, 69, 69), QColor(Qt::red));
    EXPECT_NE(PixelAt(manager, 70, 60), QColor(Qt::red));
}

TEST(KvButton, CheckTogglesAndACheckedRadioIgnoresAClick)
{
    SkinFolder skin;
    CKvCheck* check = nullptr;
    CKvRadio* radio = nullptr;
    TestDialog dialog([&](CKvUIManager& manager) {
        check = new CKvCheck;
        check->Move(20, 50, 100, 20);
        manager.AddControl(7, check, kTypeCheck);
        radio = new CKvRadio;
        radio->Move(20, 80, 100, 20);
        manager.AddControl(8, radio, kTypeRadio);
    });
    ASSERT_TRUE(ShowActive(dialog));
    QSignalSpy commands(dialog.Manager(), &CKvUIManager::command);

    QTest::mouseClick(&dialog, Qt::LeftButton, {}, QPoint(30, 60));
    Settle();
    EXPECT_TRUE(check->IsChecked());
    QTest::mouseClick(&dialog, Qt::LeftButton, {}, QPoint(30, 60));
    Settle();
    EXPECT_FALSE(check->IsChecked());
    EXPECT_EQ(commands.count(), 2);

    commands.clear();
    QTest::mouseClick(&dialog, Qt::LeftButton, {}, QPoint(30, 90));
    Settle();
    EXPECT_TRUE(radio->IsChecked());
    ASSERT_EQ(commands.count(), 1);
    EXPECT_EQ(commands.at(0).at(0).toInt(), 8);

    commands.clear();
    QTest::mouseClick(&dialog, Qt::LeftButton, {}, QPoint(30, 90));
    Settle();
    EXPECT_TRUE(radio->IsChecked());
    EXPECT_EQ(commands.count(), 0);
}

TEST(KvButton, DisabledOrHiddenControlsTakeNoInput)
{
    SkinFolder skin;
    CKvButton* disabled = nullptr;
    CKvButton* hidden = nullptr;
    TestDialog dialog([&](CKvUIManager& manager) {
        disabled = new CKvButton;
        disabled->Move(10, 50, 40, 30);
        manager.AddControl(1, disabled, kTypeButton);
        hidden = new CKvButton;
        hidden->Move(60, 50, 40, 30);
        manager.AddControl(2, hidden, kTypeButton);
    });
    ASSERT_TRUE(ShowActive(dialog));
    disabled->Enable(false);
    hidden->Show(false);
    QSignalSpy commands(dialog.Manager(), &CKvUIManager::command);
    QTest::mouseClick(&dialog, Qt::LeftButton, {}, QPoint(20, 60));
    QTest::mouseClick(&dialog, Qt::LeftButton, {}, QPoint(70, 60));
    Settle();
    EXPECT_EQ(commands.count(), 0);
    EXPECT_EQ(disabled->GetLook(), CKvButton::LookNormal);
    EXPECT_FALSE(dialog.Manager()->HasCapture());
}

TEST(KvButton, EnterOrSpaceOnTheFocusedButtonClicksIt)
{
    SkinFolder skin;
    TestDialog dialog([&](CKvUIManager& manager) {
        auto* button = new CKvButton;
        button->Move(10, 50, 40, 30);
        manager.AddControl(5, button, kTypeButton);
    });
    ASSERT_TRUE(ShowActive(dialog));
    QSignalSpy commands(dialog.Manager(), &CKvUIManager::command);
    QTest::keyClick(&dialog, Qt::Key_Tab);
    QTest::keyClick(&dialog, Qt::Key_Return);
    QTest::keyClick(&dialog, Qt::Key_Space);
    Settle();
    ASSERT_EQ(commands.count(), 2);
    EXPECT_EQ(commands.at(0).at(0).toInt(), 5);
    EXPECT_EQ(commands.at(1).at(0).toInt(), 5);
}

TEST(KvButton, ToolTipShowsOnHoverAndKeepsInsideTheScreen)
{
    SkinFolder skin;
    CKvButton* button = nullptr;
    TestDialog dialog([&](CKvUIManager& manager) {
        button = new CKvButton;
        button->Move(10, 50, 40, 30);
        button->SetToolTip(QStringLiteral("Add\nfiles"));
        manager.AddControl(5, button, kTypeButton);
    });
    ASSERT_TRUE(ShowActive(dialog));
    QTest::mouseMove(&dialog, QPoint(20, 60));
    ASSERT_NE(button->ToolTipWindow(), nullptr);
    EXPECT_TRUE(button->ToolTipWindow()->isVisible());
    EXPECT_EQ(button->ToolTipWindow()->Text(), QStringLiteral("Add\nfiles"));
    // Two lines are taller than one.
    EXPECT_GT(button->ToolTipWindow()->height(), button->ToolTipWindow()->SizeFor(QStringLiteral("Add")).height());
    QTest::mouseMove(&dialog, QPoint(300, 200));
    EXPECT_FALSE(button->ToolTipWindow()->isVisible());

    const QRect screen(0, 0, 1920, 1040);
    // Near the right edge: pushed left to end 2 pixels before it.
    EXPECT_EQ(CKvButton::ToolTipPosition(QRect(1900, 100, 40, 20), QSize(100, 30), screen), QPoint(1818, 130));
    // Room below: 10 pixels under the control's bottom edge.
    EXPECT_EQ(CKvButton::ToolTipPosition(QRect(300, 100, 40, 20), QSize(100, 30), screen), QPoint(300, 130));
    // No room below: above the control instead.
    EXPECT_EQ(CKvButton::ToolTipPosition(QRect(300, 1010, 40, 20), QSize(100, 30), screen), QPoint(300, 970));
    // Left of the screen: kept at 0.
    EXPECT_EQ(CKvButton::ToolTipPosition(QRect(-50, 100, 40, 20), QSize(100, 30), screen).x(), 0);
}

TEST(KvButton, MovingOrHidingLeavesNoTrailInThePicture)
{
    SkinFolder skin;
    CKvUIManager::Colors() = tagKvUiColors{};
    CKvButton* button = nullptr;
    TestDialog dialog([&](CKvUIManager& manager) {
        button = new CKvButton;
        button->SetImage(SkinFolder::Strip(40, 30, {Qt::red, Qt::green, Qt::blue, Qt::yellow}));
        button->Move(100, 100, 40, 30);
        manager.AddControl(kButtonId, button, kTypeButton);
    });
    ASSERT_TRUE(ShowActive(dialog));
    CKvUIManager& manager = *dialog.Manager();
    manager.Compose();
    const QColor background = PixelAt(manager, 250, 200);

    button->Move(200, 100, 40, 30, true);
    // A change of look right after the move must not paint over stale pixels.
    QTest::mouseMove(&dialog, QPoint(210, 110));
    dialog.repaint();
    EXPECT_EQ(PixelAt(manager, 110, 110), background) << "the old place shows the dialog again";
    EXPECT_EQ(PixelAt(manager, 210, 110), QColor(Qt::green));

    button->Show(false);
    dialog.repaint();
    EXPECT_EQ(PixelAt(manager, 210, 110), background);
    QTest::mouseClick(&dialog, Qt::LeftButton, {}, QPoint(210, 110));
    EXPECT_EQ(button->GetLook(), CKvButton::LookNormal);
    button->Show(true);
    dialog.repaint();
    EXPECT_EQ(PixelAt(manager, 210, 110), QColor(Qt::red));
}
