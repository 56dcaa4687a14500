// The main window's face and the two small dialogs: the layout at 1000 x 650, what
// busy and idle do to the controls, the exit question, the message box's size and
// answers, and the waiting spinner's steps.

#include "MediaTestSupport.h"
#include "common/KvProgramFolder.h"
#include "frontend/KvFrontEndApp.h"
#include "frontend/KvFrontEndState.h"
#include "frontend/KvMainDlg.h"
#include "frontend/KvMediaList.h"
#include "frontend/KvMessageDlg.h"
#include "frontend/KvWaitingDlg.h"
#include "support/TempFolder.h"
#include "ui/KvButton.h"
#include "ui/KvUIManager.h"

#include <QApplication>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

using namespace velmora;
using namespace velmora::test;

namespace {

class WindowTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        velmora::fetest::EnsureApplication();
        SetProgramFolderForTesting(m_program.Path());
        CKvUIManager::SetResourceFolder(QString::fromStdString(m_program.Path()));
        ASSERT_TRUE(m_app.Startup());
        m_dialog = m_app.CreateMainWindow();
        m_dialog->show();
        QApplication::processEvents();
    }

    void TearDown() override
    {
        SetMessageHookForTesting({});
        m_app.DestroyMainWindow();
        m_app.ExitInstance();
        SetProgramFolderForTesting(std::string());
    }

    TempProgramFolder m_program{true};
    CKvLumoApp m_app;
    CKvMainDlg* m_dialog = nullptr;
};

} // namespace

TEST_F(WindowTest, OpensAt1000By650WithItsControlsInPlaceAndWmaChosen)
{
    EXPECT_EQ(m_dialog->size(), QSize(1000, 650));
    EXPECT_EQ(m_dialog->windowTitle(), "Velmora");
    const std::pair<int, QRect> expected[] = {
        {CKvMainDlg::kIdMenu, QRect(30, 3, 25, 25)},        {CKvMainDlg::kIdClose, QRect(980, 7, 16, 16)},
        {CKvMainDlg::kIdMaximize, QRect(962, 6, 16, 16)},   {CKvMainDlg::kIdMinimize, QRect(944, 6, 16, 16)},
        {CKvMainDlg::kIdHelp, QRect(926, 6, 16, 16)},       {CKvMainDlg::kIdAdd, QRect(10, 35, 40, 40)},
        {CKvMainDlg::kIdRemove, QRect(60, 45, 30, 30)},     {CKvMainDlg::kIdPreview, QRect(220, 45, 30, 30)},
        {CKvMainDlg::kIdSettings, QRect(761, 35, 92, 40)},  {CKvMainDlg::kIdRender, QRect(863, 35, 126, 40)},
        // No notices are stored: the media list reaches over the (hidden) notice strip.
        {CKvMainDlg::kIdMediaList, QRect(10, 80, 979, 560)}, {CKvMainDlg::kIdNoticeList, QRect(1, 520, 997, 120)},
    };
    for (const auto& [id, rect] : expected) {
        CKvButton* control = m_dialog->Control(id);
        ASSERT_NE(control, nullptr) << id;
        EXPECT_EQ(control->Rect(), rect) << id;
        if (id != CKvMainDlg::kIdMediaList && id != CKvMainDlg::kIdNoticeList) {
            EXPECT_FALSE(control->Image().isNull()) << "image of " << id;
        }
    }
    EXPECT_EQ(KvFrontEndState::Instance().CurrentRecord().nOutputType, 7);
    // Only the caption band between the menu and the caption buttons drags.
    EXPECT_TRUE(m_dialog->InDragStrip(QPoint(500, 10)));
    EXPECT_FALSE(m_dialog->InDragStrip(QPoint(40, 10)));
    EXPECT_FALSE(m_dialog->InDragStrip(QPoint(950, 10)));
    EXPECT_FALSE(m_dialog->InDragStrip(QPoint(500, 40)));

    // The caption band darkens towards the top; the client area has a frame.
    m_dialog->Manager()->Compose();
    const QImage& picture = m_dialog->Manager()->Picture();
    EXPECT_LT(qGray(picture.pixel(500, 2)), qGray(picture.pixel(500, 28)));
    EXPECT_EQ(QColor(picture.pixel(0, 300)), ColorFromRef(CKvUIManager::Colors().clrDlgEdge));
}

TEST_F(WindowTest, RenderWithAnEmptyListOrACancelledPickerChangesNothing)
{
    int asked = 0;
    m_dialog->SetFolderChooser([&] { ++asked; return QString(); });
    m_dialog->OnRender();
    EXPECT_EQ(asked, 0) << "nothing to convert: no folder is asked for";
    EXPECT_TRUE(m_dialog->IsIdle());

    TempFolder media;
    const std::string wav = media.Path() + "tone";  // no extension: the whole name is the base
    ASSERT_EQ(RunCommand("ffmpeg -v error -y -f lavfi -i sine=duration=1 -f wav " + ShellQuote(wav)), 0);
    ASSERT_EQ(m_dialog->MediaList()->AddFiles({QString::fromStdString(wav)}), 1);
    m_dialog->OnRender();
    EXPECT_EQ(asked, 1);
    EXPECT_TRUE(m_dialog->IsIdle());
    EXPECT_EQ(m_dialog->OutputCounter(), 0);
    EXPECT_EQ(m_dialog->MediaList()->StateText(0), "Ready");
}

TEST_F(WindowTest, MaximizeCoversTheScreenAndRestoreGivesTheWindowBack)
{
    const QRect before = m_dialog->geometry();
    m_dialog->OnCommand(CKvMainDlg::kIdMaximize);
    EXPECT_TRUE(m_dialog->IsMaximized());
    EXPECT_EQ(m_dialog->geometry(), m_dialog->screen()->availableGeometry());
    EXPECT_FALSE(m_dialog->InDragStrip(QPoint(500, 10))) << "a maximized window does not move";
    m_dialog->OnCommand(CKvMainDlg::kIdMaximize);
    EXPECT_FALSE(m_dialog->IsMaximized());
    EXPECT_EQ(m_dialog->geometry(), before);
}

TEST(MessageDlg, SizeFollowsTheTextAndEachButtonGivesItsCode)
{
    velmora::fetest::EnsureApplication();
    auto open = [](const QString& text, int style) {
        auto* dialog = new CKvMessageDlg(QString(), text, style);
        dialog->SetFadeEnabled(false);
        dialog->show();
        QApplication::processEvents();
        return dialog;
    };
    CKvMessageDlg* shortText = open(QString(200, u'a'), CKvMessageDlg::kStyleOk);
    CKvMessageDlg* longText = open(QString(300, u'a'), CKvMessageDlg::kStyleOk);
    EXPECT_EQ(longText->width() - shortText->width(), 120);
    EXPECT_EQ(shortText->windowTitle(), "Tips");
    delete shortText;
    delete longText;

    const std::pair<int, int> presses[] = {
        {CKvMessageDlg::kIdYes, CKvMessageDlg::kIdYes},
        {CKvMessageDlg::kIdNo, CKvMessageDlg::kIdNo},
        {2, CKvMessageDlg::kIdCancel}, // the caption's close button
    };
    for (const auto& [command, result] : presses) {
        CKvMessageDlg* question = open("The Function is Working, Are you sure to exit?", CKvMessageDlg::kStyleYesNo);
        EXPECT_FALSE(question->OkButton()->IsVisible());
        EXPECT_FALSE(question->CancelButton()->IsVisible());
        question->OnCommand(command);
        EXPECT_EQ(question->MessageResult(), result) << command;
        EXPECT_FALSE(question->isVisible());
        delete question;
    }
    CKvMessageDlg* okCancel = open("Save?", CKvMessageDlg::kStyleOkCancel);
    EXPECT_TRUE(okCancel->OkButton()->IsVisible());
    EXPECT_TRUE(okCancel->CancelButton()->IsVisible());
    okCancel->OnCommand(1);
    EXPECT_EQ(okCancel->MessageResult(), CKvMessageDlg::kIdOk);
    delete okCancel;
}

TEST(WaitingDlg, TurnsTenDegreesEveryTenthOfASecondAndWrapsTo10)
{
    EXPECT_EQ(CKvWaitingDlg::NextAngle(0), 10);
    EXPECT_EQ(CKvWaitingDlg::NextAngle(350), 360);
    EXPECT_EQ(CKvWaitingDlg::NextAngle(360), 10);

    velmora::fetest::EnsureApplication();
    TempProgramFolder program(true);
    CKvUIManager::SetResourceFolder(QString::fromStdString(program.Path()));
    CKvWaitingDlg waiting;
    ASSERT_FALSE(waiting.Spinner().isNull());
    waiting.Open();
    EXPECT_EQ(waiting.size(), waiting.Spinner().size() + QSize(50, 50));
    EXPECT_TRUE(waiting.IsTurning());
    QTest::qWait(550);
    EXPECT_GE(waiting.Angle(), 30);
    EXPECT_LE(waiting.Angle(), 70);
    EXPECT_EQ(waiting.Angle() % 10, 0);
    // The picture is the spinner's silhouette: transparent corners, painted middle.
    const QImage picture = waiting.Render();
    EXPECT_EQ(qAlpha(picture.pixel(0, 0)), 0);
    waiting.Close();
    EXPECT_FALSE(waiting.IsTurning());
    EXPECT_FALSE(waiting.isVisible());
}
