#include "UiTestSupport.h"

#include "ui/KvButton.h"
#include "ui/KvUIManager.h"

#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

using namespace velmora;
using namespace velmora::test;

namespace {

std::vector<int> Values(const QSignalSpy& spy)
{
    std::vector<int> values;
    for (const QList<QVariant>& arguments : spy)
        values.push_back(arguments.at(0).toInt());
    return values;
}

} // namespace

TEST(KvDialogBase, FadesInAndOutInStepsOfFifty)
{
    SkinFolder skin;
    TestDialog dialog({}, true);
    dialog.SetFadeEnabled(true);
    QSignalSpy opacity(&dialog, &CKvDialogBase::opacityChanged);
    dialog.show();
    QTRY_COMPARE_WITH_TIMEOUT(dialog.Opacity(), 255, 2000);
    EXPECT_EQ(Values(opacity), (std::vector<int>{0, 50, 100, 150, 200, 250, 255}));

    opacity.clear();
    QSignalSpy finished(&dialog, &QDialog::finished);
    dialog.OnOK();
    EXPECT_TRUE(dialog.isVisible()) << "the dialog fades before it goes";
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 2000);
    EXPECT_EQ(Values(opacity), (std::vector<int>{205, 155, 105, 55, 5, 0}));
    EXPECT_EQ(finished.at(0).at(0).toInt(), CKvDialogBase::kResultOk);
    EXPECT_EQ(dialog.Result(), CKvDialogBase::kResultOk);
}

TEST(KvDialogBase, DefaultControlsSitAtTheirPlacesAndCloseTheDialog)
{
    SkinFolder skin;
    TestDialog dialog({}, true);
    ASSERT_TRUE(ShowActive(dialog));
    EXPECT_EQ(dialog.Result(), CKvDialogBase::kResultCancel);
    EXPECT_EQ(dialog.CloseButton()->Rect(), QRect(380, 3, 16, 16));
    EXPECT_EQ(dialog.OkButton()->Rect(), QRect(325, 270, 65, 20));
    EXPECT_EQ(dialog.CancelButton()->Rect(), QRect(250, 270, 65, 20));
    dialog.resize(500, 350);
    EXPECT_EQ(dialog.OkButton()->Rect(), QRect(425, 320, 65, 20));

    QSignalSpy finished(&dialog, &QDialog::finished);
    QTest::mouseClick(&dialog, Qt::LeftButton, {}, QPoint(450, 330));
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 1000);
    EXPECT_EQ(finished.at(0).at(0).toInt(), CKvDialogBase::kResultOk);
}

TEST(KvDialogBase, PressInTheTopStripDragsButTheCloseButtonGetsItsPress)
{
    SkinFolder skin;
    TestDialog dialog({}, true);
    ASSERT_TRUE(ShowActive(dialog));
    QTest::mousePress(&dialog, Qt::LeftButton, {}, QPoint(10, 10));
    EXPECT_TRUE(dialog.IsDragging());
    QTest::mouseRelease(&dialog, Qt::LeftButton, {}, QPoint(10, 10));
    EXPECT_FALSE(dialog.IsDragging());

    QSignalSpy finished(&dialog, &QDialog::finished);
    QTest::mousePress(&dialog, Qt::LeftButton, {}, QPoint(390, 10));
    EXPECT_FALSE(dialog.IsDragging());
    EXPECT_EQ(dialog.CloseButton()->GetLook(), CKvButton::LookPressed);
    QTest::mouseRelease(&dialog, Qt::LeftButton, {}, QPoint(390, 10));
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 1000);
    EXPECT_EQ(finished.at(0).at(0).toInt(), CKvDialogBase::kResultCancel);
}

TEST(KvDialogBase, FrameDrawsTheStripGradientAndTheBorder)
{
    SkinFolder skin;
    CKvUIManager::Colors().clrDlgBK = 0x00646464;   // grey 100
    CKvUIManager::Colors().clrDlgEdge = 0x000000FF; // red
    TestDialog dialog;
    dialog.OnInitDialog();
    dialog.Manager()->Compose();
    const CKvUIManager& manager = *dialog.Manager();
    EXPECT_EQ(PixelAt(manager, 0, 150), QColor(255, 0, 0));
    EXPECT_EQ(PixelAt(manager, 399, 150), QColor(255, 0, 0));
    EXPECT_EQ(PixelAt(manager, 200, 299), QColor(255, 0, 0));
    // The strip runs from the colour raised by 5 down to it lowered by 30.
    EXPECT_NEAR(PixelAt(manager, 200, 1).red(), 104, 2);
    EXPECT_NEAR(PixelAt(manager, 200, 29).red(), 73, 3);
    EXPECT_EQ(PixelAt(manager, 200, 31), QColor(100, 100, 100));
    CKvUIManager::Colors() = tagKvUiColors{};
}

TEST(KvDialogBase, EscapeCancelsAndTheResultSays)
{
    SkinFolder skin;
    TestDialog dialog({}, true);
    ASSERT_TRUE(ShowActive(dialog));
    QSignalSpy finished(&dialog, &QDialog::finished);
    QTest::keyClick(&dialog, Qt::Key_Escape);
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 1000);
    EXPECT_EQ(dialog.Result(), CKvDialogBase::kResultCancel);
}
