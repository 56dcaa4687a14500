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
#include "frontend/KvRenderQueue.h"
#include "frontend/KvWaitingDlg.h"
#include "support/TempFolder.h"
#include "ui/KvButton.h"
#include "ui/KvCompositor.h"
#include "ui/KvEditCtrl.h"
#include "ui/KvListCtrl.h"
#include "ui/KvUiTypes.h"
#include "ui/KvWindow.h"
#include "ui/KvUIManager.h"

#include <QApplication>
#include <QGuiApplication>
#include <QImage>
#include <QProcess>
#include <QScreen>
#include <QSignalSpy>
#include <QScopeGuard>
#include <QTest>
#include <QUrl>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>

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
    EXPECT_EQ(m_dialog->Queue()->OutputCounter(), 0);
    EXPECT_EQ(m_dialog->MediaList()->StateText(0), "Ready");
}

TEST_F(WindowTest, MaximizeCoversTheScreenAndRestoreGivesTheWindowBack)
{
    const QRect before = m_dialog->geometry();
    EXPECT_EQ(m_dialog->ResizeEdgesAt(QPoint(m_dialog->width() - 2, m_dialog->height() - 2)),
              Qt::RightEdge | Qt::BottomEdge);
    m_dialog->OnCommand(CKvMainDlg::kIdMaximize);
    EXPECT_TRUE(m_dialog->IsMaximized());
    EXPECT_TRUE(m_dialog->windowState() & Qt::WindowMaximized) << "maximized through the window's own state";
    EXPECT_TRUE(QTest::qWaitFor([&] { return m_dialog->geometry() == m_dialog->screen()->availableGeometry(); }, 3000));
    EXPECT_FALSE(m_dialog->InDragStrip(QPoint(500, 10))) << "a maximized window does not move";
    EXPECT_EQ(m_dialog->ResizeEdgesAt(QPoint(m_dialog->width() - 2, m_dialog->height() - 2)), Qt::Edges())
        << "nor resize";
    m_dialog->OnCommand(CKvMainDlg::kIdMaximize);
    EXPECT_FALSE(m_dialog->IsMaximized());
    EXPECT_TRUE(QTest::qWaitFor([&] { return m_dialog->geometry() == before; }, 3000));
}

// Under a Wayland compositor (desktop.wayland runs this with weston's headless
// backend; skipped elsewhere): the window cannot place itself there, so maximize and
// restore go through the compositor, and the caption buttons end up on the output, as
// the compositor's own screenshot shows them.
TEST_F(WindowTest, OnWaylandMaximizeAndRestoreKeepTheCaptionButtonsOnTheOutput)
{
    if (QGuiApplication::platformName() != QLatin1String("wayland"))
        GTEST_SKIP() << "needs a Wayland compositor";
    ASSERT_TRUE(QTest::qWaitForWindowExposed(m_dialog));
    TempFolder shots;
    const QSize output = m_dialog->screen()->geometry().size();
    // Where the Close button shows on the compositor's screen, if it does.
    auto closeButtonOnScreen = [&]() -> std::optional<QPoint> {
        const QImage button = m_dialog->grab(QRect(m_dialog->width() - 20, 7, 16, 16)).toImage()
                                  .convertToFormat(QImage::Format_RGB32);
        for (const auto& entry : std::filesystem::directory_iterator(shots.Path()))
            std::filesystem::remove(entry.path());
        QProcess shooter;
        shooter.setWorkingDirectory(QString::fromStdString(shots.Path()));
        shooter.start(QStringLiteral("weston-screenshooter"), {});
        if (!shooter.waitForFinished(10000))
            return std::nullopt;
        for (const auto& entry : std::filesystem::directory_iterator(shots.Path())) {
            const QImage screen = QImage(QString::fromStdString(entry.path().string())).convertToFormat(QImage::Format_RGB32);
            // The compositor's copy may differ by a shade where the window was
            // composed anew: the button matches when its pixels are close on average.
            const int budget = button.width() * button.height() * 3 * 8;
            for (int y = 0; y + button.height() <= screen.height(); ++y) {
                for (int x = 0; x + button.width() <= screen.width(); ++x) {
                    int difference = 0;
                    for (int by = 0; by < button.height() && difference <= budget; ++by) {
                        const QRgb* a = reinterpret_cast<const QRgb*>(screen.constScanLine(y + by)) + x;
                        const QRgb* b = reinterpret_cast<const QRgb*>(button.constScanLine(by));
                        for (int bx = 0; bx < button.width(); ++bx)
                            difference += std::abs(qRed(a[bx]) - qRed(b[bx])) + std::abs(qGreen(a[bx]) - qGreen(b[bx]))
                                + std::abs(qBlue(a[bx]) - qBlue(b[bx]));
                    }
                    if (difference <= budget)
                        return QPoint(x, y);
                }
            }
        }
        return std::nullopt;
    };
    auto onOutput = [&](const std::optional<QPoint>& at) {
        return at && at->x() >= 0 && at->y() >= 0 && at->x() + 16 <= output.width() && at->y() + 16 <= output.height();
    };

    m_dialog->OnCommand(CKvMainDlg::kIdMaximize);
    EXPECT_TRUE(QTest::qWaitFor([&] { return m_dialog->width() > CKvMainDlg::kWidth; }, 5000))
        << "the compositor maximized the window";
    EXPECT_TRUE(m_dialog->isMaximized());
    EXPECT_LE(m_dialog->width(), output.width());
    EXPECT_LE(m_dialog->height(), output.height());
    QTest::qWait(300);
    const std::optional<QPoint> maximized = closeButtonOnScreen();
    EXPECT_TRUE(onOutput(maximized)) << "Close is not on the " << output.width() << "x" << output.height() << " output";
    if (maximized)
        EXPECT_GE(maximized->x(), output.width() - 40) << "Close sits at the output's right edge";

    m_dialog->OnCommand(CKvMainDlg::kIdMaximize);
    EXPECT_TRUE(QTest::qWaitFor([&] { return m_dialog->size() == QSize(CKvMainDlg::kWidth, CKvMainDlg::kHeight); }, 5000))
        << "restored to " << m_dialog->width() << "x" << m_dialog->height();
    EXPECT_FALSE(m_dialog->IsMaximized());
    QTest::qWait(300);
    EXPECT_TRUE(onOutput(closeButtonOnScreen())) << "Close is not on the output after restoring";

    // A dialog fades in without asking the compositor for an opacity it cannot set.
    static QStringList warnings;
    warnings.clear();
    const QtMessageHandler previous = qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString& text) {
        warnings << text;
    });
    {
        CKvMessageDlg message(QString(), QStringLiteral("Fading in."), CKvMessageDlg::kStyleOk, m_dialog);
        message.show();
        QTest::qWait(CKvDialogBase::kFadeInterval * 8);
        EXPECT_EQ(message.Opacity(), 255);
    }
    qInstallMessageHandler(previous);
    EXPECT_FALSE(warnings.join(u'\n').contains(QLatin1String("opacity"))) << warnings.join(u'\n').toStdString();
}

// Esc on the main window cancels what is open and never quits: the list stays.
TEST_F(WindowTest, EscCancelsAnEditButNeverClosesTheWindow)
{
    TempFolder media;
    const std::string wav = media.Path() + "tone.wav";
    ASSERT_EQ(RunCommand("ffmpeg -v error -y -f lavfi -i sine=duration=1 " + ShellQuote(wav)), 0);
    ASSERT_EQ(m_dialog->MediaList()->AddFiles({QString::fromStdString(wav)}), 1);
    CKvListCtrl* list = m_dialog->ListControl();
    list->BeginEdit(kColStart, 0);
    ASSERT_NE(list->EditWindow(), nullptr);
    list->EditWindow()->setText("0.5");
    QTest::keyClick(list->EditWindow(), Qt::Key_Escape);
    QApplication::processEvents();
    EXPECT_EQ(list->EditWindow(), nullptr);
    EXPECT_EQ(list->GetCellText(kColStart, 0), "0.00") << "Esc cancels the edit";
    for (int i = 0; i < 2; ++i) {
        QTest::keyClick(m_dialog, Qt::Key_Escape);
        QApplication::processEvents();
    }
    EXPECT_TRUE(m_dialog->isVisible());
    EXPECT_EQ(m_dialog->MediaList()->RowCount(), 1);
    // The close button still takes the exit path.
    m_dialog->OnCommand(CKvMainDlg::kIdClose);
    QApplication::processEvents();
    EXPECT_FALSE(m_dialog->isVisible());
}

// Help writes its page and opens it; when no browser opens it, the user gets the
// page's address instead of nothing.
TEST_F(WindowTest, HelpWithoutABrowserGivesTheAddress)
{
    QStringList messages;
    SetMessageHookForTesting([&](const QString&, const QString& text, int) {
        messages << text;
        return int(CKvMessageDlg::kIdOk);
    });
    TempFolder bin;
    const QByteArray path = qgetenv("PATH");
    const auto restore = qScopeGuard([&] { qputenv("PATH", path); });
    const QString address = QUrl::fromLocalFile(CKvMainDlg::HelpPagePath()).toString();
    struct Case
    {
        const char* opener; // the xdg-open on the PATH; nullptr for none
        bool complains;
    };
    const Case cases[] = {{"exit 0", false}, {"exit 3", true}, {nullptr, true}};
    for (const Case& c : cases) {
        std::filesystem::remove(bin.Path() + "xdg-open");
        if (c.opener) {
            WriteFileBytes(bin.Path() + "xdg-open", std::string("#!/bin/sh\n") + c.opener + "\n");
            std::filesystem::permissions(bin.Path() + "xdg-open", std::filesystem::perms::owner_all);
        }
        qputenv("PATH", QByteArray::fromStdString(bin.Path()));
        messages.clear();
        m_dialog->OpenHelp();
        // Done once the opener has ended and gone (and said what it had to say).
        EXPECT_TRUE(QTest::qWaitFor([&] { return m_dialog->findChildren<QProcess*>().isEmpty(); }, 10000));
        EXPECT_TRUE(QFileInfo::exists(CKvMainDlg::HelpPagePath()));
        if (c.complains) {
            ASSERT_EQ(messages.size(), 1) << (c.opener ? c.opener : "no opener");
            EXPECT_TRUE(messages[0].contains(address)) << messages[0].toStdString();
        } else {
            EXPECT_TRUE(messages.isEmpty()) << messages.join('|').toStdString();
        }
    }
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
    // Enter answers with the first button, which shows that it has the focus.
    for (const auto& [style, result] : {std::pair{int(CKvMessageDlg::kStyleYesNo), int(CKvMessageDlg::kIdYes)},
                                        std::pair{int(CKvMessageDlg::kStyleOk), int(CKvMessageDlg::kIdOk)}}) {
        CKvMessageDlg* box = open("Stop?", style);
        box->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(box));
        EXPECT_TRUE(box->Manager()->FocusCueVisible());
        QTest::keyClick(box, Qt::Key_Return);
        QApplication::processEvents();
        EXPECT_EQ(box->MessageResult(), result) << style;
        delete box;
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
    // The translucent spinner, as a compositing desktop shows it.
    SetCompositorForTesting(1);
    const auto restore = qScopeGuard([] { SetCompositorForTesting(-1); });
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

// However long the text, the box stays on the screen, within 80% of it; what does not
// fit scrolls; a path too long for a line is shortened in its middle, keeping its file
// name, and a name too long for a line breaks instead of being cut.
TEST(MessageDlg, LongTextsStayOnTheScreenBreakLongNamesAndScroll)
{
    velmora::fetest::EnsureApplication();
    TempProgramFolder program(true);
    CKvUIManager::SetResourceFolder(QString::fromStdString(program.Path()));
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();

    const QString longName = QString(300, u'x') + QStringLiteral(".mp4");
    QString text = QStringLiteral("45 files were not added.\n\n") + longName + QStringLiteral("\nCannot be read:");
    for (int i = 0; i < 45; ++i)
        text += QStringLiteral("\n/home/user/Videos/") + QString(90, QChar(u'a' + i % 26)) + QStringLiteral("-%1.mp4").arg(i);
    CKvMessageDlg dialog(QString(), text, CKvMessageDlg::kStyleOk);
    dialog.SetFadeEnabled(false);
    dialog.show();
    QApplication::processEvents();
    EXPECT_TRUE(area.contains(dialog.geometry())) << dialog.geometry().y();
    EXPECT_LE(dialog.height(), area.height() * 8 / 10);
    EXPECT_LE(dialog.width(), area.width() * 8 / 10);
    EXPECT_TRUE(area.contains(dialog.mapToGlobal(dialog.OkButton()->Rect().bottomRight())));
    ASSERT_TRUE(dialog.TextScrolls());
    CKvWindow* box = dialog.TextBox();
    // Nothing reaches past the box sideways: each path keeps one line and its file
    // name's end, the long name breaks over lines and keeps every letter.
    EXPECT_LE(box->ContentSize().width(), box->ViewRect().width());
    const QStringList shown = dialog.ShownText().split(u'\n');
    ASSERT_EQ(shown.size(), 49);
    EXPECT_EQ(shown[2], longName);
    for (int i = 0; i < 45; ++i) {
        EXPECT_TRUE(shown[4 + i].startsWith(QStringLiteral("/home/user/"))) << i;
        EXPECT_TRUE(shown[4 + i].endsWith(QStringLiteral("-%1.mp4").arg(i))) << shown[4 + i].toStdString();
    }
    EXPECT_GT(box->ContentSize().height(), 49 * 12 + 300 * 5 / box->ViewRect().width() * 12);
    QTest::keyClick(&dialog, Qt::Key_End);
    EXPECT_EQ(box->ScrollY(), box->ContentSize().height() - box->ViewRect().height());
    QTest::keyClick(&dialog, Qt::Key_PageUp);
    EXPECT_LT(box->ScrollY(), box->ContentSize().height() - box->ViewRect().height());
    QTest::keyClick(&dialog, Qt::Key_Home);
    EXPECT_EQ(box->ScrollY(), 0);
    // Enter still answers.
    dialog.OnCommand(CKvMessageDlg::kIdOk);
    EXPECT_EQ(dialog.MessageResult(), CKvMessageDlg::kIdOk);

    // A short text neither scrolls nor grows past what it needs.
    CKvMessageDlg small(QString(), QStringLiteral("Save Wmv Profile Failed!"), CKvMessageDlg::kStyleOk);
    small.SetFadeEnabled(false);
    small.show();
    QApplication::processEvents();
    EXPECT_FALSE(small.TextScrolls());
    EXPECT_LT(small.height(), 150);
}

// Yes, then a quick Esc while the box fades out: the answer stays Yes.
TEST(MessageDlg, TheFirstAnswerStandsWhileTheBoxFadesOut)
{
    velmora::fetest::EnsureApplication();
    TempProgramFolder program(true);
    CKvUIManager::SetResourceFolder(QString::fromStdString(program.Path()));
    CKvMessageDlg question(QStringLiteral("Exit?"), QStringLiteral("The Function is Working, Are you sure to exit?"),
                           CKvMessageDlg::kStyleYesNo);
    question.show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return question.Opacity() == 255; }, 2000));
    question.OnCommand(CKvMessageDlg::kIdYes);
    ASSERT_TRUE(question.isVisible()) << "it fades out";
    QTest::keyClick(&question, Qt::Key_Escape);
    question.OnCommand(CKvMessageDlg::kIdNo);
    question.OnCancel();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !question.isVisible(); }, 3000));
    EXPECT_EQ(question.MessageResult(), CKvMessageDlg::kIdYes);
}

// Without a compositor the spinner is an opaque panel in the dialog colours with its
// arc and its text, not a black square.
TEST(WaitingDlg, WithoutACompositorItDrawsAnOpaquePanel)
{
    velmora::fetest::EnsureApplication();
    TempProgramFolder program(true);
    CKvUIManager::SetResourceFolder(QString::fromStdString(program.Path()));
    SetCompositorForTesting(0);
    const auto restore = qScopeGuard([] { SetCompositorForTesting(-1); });
    CKvWaitingDlg waiting;
    EXPECT_TRUE(waiting.IsOpaque());
    EXPECT_FALSE(waiting.testAttribute(Qt::WA_TranslucentBackground));
    waiting.setWindowTitle(QStringLiteral("Please wait"));
    waiting.Open();
    const QImage picture = waiting.Render().convertToFormat(QImage::Format_ARGB32);
    const tagKvUiColors& colors = CKvUIManager::Colors();
    int spinner = 0;
    int text = 0;
    for (int y = 0; y < picture.height(); ++y) {
        for (int x = 0; x < picture.width(); ++x) {
            const QRgb pixel = picture.pixel(x, y);
            ASSERT_EQ(qAlpha(pixel), 255) << x << "," << y;
            if (qGray(pixel) > qGray(ColorFromRef(colors.clrDlgEdge).rgb()) + 20)
                ++text;
            else if (qGray(pixel) > qGray(ColorFromRef(colors.clrDlgBK).rgb()) + 10)
                ++spinner;
        }
    }
    EXPECT_EQ(QColor(picture.pixel(5, picture.height() / 2)), ColorFromRef(colors.clrDlgBK));
    EXPECT_EQ(QColor(picture.pixel(0, 0)), ColorFromRef(colors.clrDlgEdge));
    EXPECT_GT(spinner, 100) << "the arc shows";
    EXPECT_GT(text, 20) << "the text shows";
    waiting.Close();

    SetCompositorForTesting(1);
    CKvWaitingDlg translucent;
    EXPECT_FALSE(translucent.IsOpaque());
    translucent.Open();
    EXPECT_EQ(qAlpha(translucent.Render().pixel(0, 0)), 0);
    translucent.Close();
}
