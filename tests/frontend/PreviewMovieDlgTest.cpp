// The preview bar driven as a user drives it. Most runs use a stand-in engine (a copy
// of sleep named "kvengine" in the program folder) whose part the test plays by
// writing the job block, so every turn of a run can be made to happen on cue; the
// last tests start the real engine from the main window.

#include "MediaTestSupport.h"
#include "common/KvJobBlock.h"
#include "common/KvJobBlockMapping.h"
#include "common/KvProcess.h"
#include "common/KvProgramFolder.h"
#include "frontend/KvFrontEndApp.h"
#include "frontend/KvFrontEndState.h"
#include "frontend/KvMainDlg.h"
#include "frontend/KvMediaList.h"
#include "frontend/KvMessageDlg.h"
#include "frontend/KvPreviewMovieDlg.h"
#include "frontend/KvWaitingDlg.h"
#include "frontend/KvWaitingThread.h"
#include "support/ScopedEnv.h"
#include "ui/KvButton.h"
#include "ui/KvListCtrl.h"
#include "ui/KvUIManager.h"
#include "ui/KvUiTypes.h"

#include <QApplication>
#include <QMenu>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <cmath>
#include <csignal>
#include <filesystem>
#include <limits>

namespace fs = std::filesystem;
using namespace velmora;
using namespace velmora::fetest;

namespace {

bool WaitFor(const std::function<bool()>& condition, int timeoutMs = 3000)
{
    return QTest::qWaitFor(condition, timeoutMs);
}

int VisibleSpinners()
{
    int count = 0;
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (qobject_cast<CKvWaitingDlg*>(widget) && widget->isVisible())
            ++count;
    return count;
}

// The bar over a job block of its own, with a stand-in engine and message boxes
// answered (and recorded) without a window.
class BarTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_owner.Create(m_program.Path()));
        KvFrontEndState::Instance().SetJobBlock(m_owner.Block());
        fs::copy_file("/bin/sleep", m_program.Path() + "kvengine", fs::copy_options::overwrite_existing);
        SetMessageHookForTesting([this](const QString&, const QString& text, int) {
            m_messages << text;
            return CKvMessageDlg::kIdOk;
        });
        // What the main window writes before it opens the bar.
        Block().bPreview = 1;
        Block().bPlayMode = 1;
        Block().dDuration = 3.0;
        Block().nState = kKvJobPreviewRequested;
        Block().bPlayFailed = 1; // left over from an earlier run: the bar clears it
    }

    void TearDown() override
    {
        m_bar.reset();
        SetMessageHookForTesting({});
        KvFrontEndState::Instance().SetJobBlock(nullptr);
        for (pid_t pid : m_started)
            KillProcessById(pid);
    }

    tagKvJobBlock& Block() { return *m_owner.Block(); }

    // A stand-in engine: runs until killed unless told to end at once.
    pid_t StartStandIn(bool endAtOnce = false)
    {
        const pid_t pid = SpawnProgram(m_program.Path() + "kvengine", {endAtOnce ? "0" : "60"});
        m_started.push_back(pid);
        return pid;
    }

    CKvPreviewMovieDlg& OpenBar()
    {
        m_bar = std::make_unique<CKvPreviewMovieDlg>();
        m_bar->SetFadeEnabled(false);
        m_bar->SetEngineStarter([this] { return m_starter(); });
        QObject::connect(m_bar.get(), &CKvPreviewMovieDlg::playEnded, [this](bool failed) { m_ends << failed; });
        m_bar->show();
        QApplication::processEvents();
        return *m_bar;
    }

    // The engine starts to play, then plays position seconds.
    void EnginePlays(double position)
    {
        StoreRelease(Block().nState, kKvJobRunning);
        StoreRelease(Block().dPosition, position);
    }

    bool Stopped() { return WaitFor([this] { return m_bar->CurrentPhase() == CKvPreviewMovieDlg::Phase::Stopped; }); }

    ProgramScope m_program;
    CKvJobBlockOwner m_owner;
    std::unique_ptr<CKvPreviewMovieDlg> m_bar;
    std::function<pid_t()> m_starter = [this] { return StartStandIn(); };
    std::vector<pid_t> m_started;
    QStringList m_messages;
    QList<bool> m_ends;  // every playEnded, failed or not
};

} // namespace

TEST(PreviewTime, FormatsHoursMinutesSecondsAndTenths)
{
    const std::pair<double, const char*> cases[] = {
        {3725.25, "01:02:05.2"}, {0.0, "00:00:00.0"},   {59.99, "00:00:59.9"},
        {-4.0, "00:00:00.0"},    {360000.0, "100:00:00.0"}, {std::numeric_limits<double>::quiet_NaN(), "00:00:00.0"},
    };
    for (const auto& [seconds, text] : cases)
        EXPECT_EQ(CKvPreviewMovieDlg::FormatTime(seconds), QString::fromLatin1(text)) << seconds;
}

TEST(WaitingThread, ShowsTheSpinnerUntilItsMessageEvenWhenTheMessageComesFirst)
{
    EnsureApplication();
    ProgramScope program;
    {   // Stopped before its loop ever ran: no spinner may be left behind.
        QPointer<CKvWaitingThread> thread = CKvWaitingThread::Begin();
        thread->PostThreadMessage(CKvWaitingThread::kMsgClose);
        ASSERT_TRUE(WaitFor([&] { return thread.isNull(); }));
        QApplication::processEvents();
        EXPECT_EQ(CKvWaitingThread::OpenDialogs(), 0);
        EXPECT_EQ(VisibleSpinners(), 0);
    }
    {
        QPointer<CKvWaitingThread> thread = CKvWaitingThread::Begin();
        ASSERT_TRUE(WaitFor([] { return VisibleSpinners() == 1; }));
        QTest::qWait(150);
        thread->PostThreadMessage(12345); // not ours: ignored
        QTest::qWait(150);
        EXPECT_EQ(VisibleSpinners(), 1);
        thread->PostThreadMessage(CKvWaitingThread::kMsgClose);
        ASSERT_TRUE(WaitFor([&] { return thread.isNull() && VisibleSpinners() == 0; }));
        EXPECT_EQ(CKvWaitingThread::OpenDialogs(), 0);
    }
}

TEST_F(BarTest, OpensOnTopStartsItsEngineAndWaitsForItToPlay)
{
    CKvPreviewMovieDlg& bar = OpenBar();
    EXPECT_EQ(bar.windowTitle(), "Preview Audio");
    EXPECT_TRUE(bar.windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_EQ(bar.size(), QSize(KvFrontEndState::Instance().OutputWidth() + 2, 70));
    EXPECT_FALSE(bar.OkButton()->IsVisible());
    EXPECT_FALSE(bar.CancelButton()->IsVisible());
    EXPECT_EQ(bar.PlayButton()->Rect(), QRect(10, 35, 30, 30));
    EXPECT_EQ(bar.TimeText(), "00:00:00.0 / 00:00:03.0");
    EXPECT_TRUE(bar.InDragStrip(QPoint(300, 50)));
    EXPECT_FALSE(bar.InDragStrip(QPoint(20, 50)));

    EXPECT_NE(Block().hPreviewWnd, 0u);
    EXPECT_EQ(Block().bPlayFailed, 0);
    EXPECT_EQ(Block().bGraphRunning, 0);
    ASSERT_EQ(m_started.size(), 1u);
    EXPECT_EQ(bar.EnginePid(), m_started[0]);
    EXPECT_EQ(bar.CurrentPhase(), CKvPreviewMovieDlg::Phase::Starting);
    EXPECT_EQ(bar.PlayText(), "Stop");
    EXPECT_TRUE(WaitFor([] { return VisibleSpinners() == 1; }));

    // A position of exactly 0.001 is not yet playing.
    StoreRelease(Block().dPosition, 0.001);
    QTest::qWait(1200);
    EXPECT_EQ(bar.CurrentPhase(), CKvPreviewMovieDlg::Phase::Starting);
    EXPECT_EQ(VisibleSpinners(), 1);
}

TEST_F(BarTest, FollowsARunToItsEndAndPlaysAgainThenStopsAndCloses)
{
    CKvPreviewMovieDlg& bar = OpenBar();

    // Playing: the spinner goes, the time and the bar follow the engine.
    EnginePlays(1.5);
    ASSERT_TRUE(WaitFor([&] { return bar.CurrentPhase() == CKvPreviewMovieDlg::Phase::Playing; }));
    EXPECT_TRUE(WaitFor([] { return VisibleSpinners() == 0; }));
    ASSERT_TRUE(WaitFor([&] { return bar.TimeText() == "00:00:01.5 / 00:00:03.0"; }));
    EXPECT_EQ(bar.ProgressValue(), 50);
    EnginePlays(4.0); // beyond the length: a full bar, no more
    ASSERT_TRUE(WaitFor([&] { return bar.ProgressValue() == 100; }));

    // The end: back to "Play" and position 0, without a message.
    StoreRelease(Block().nState, kKvJobIdle);
    ASSERT_TRUE(Stopped());
    EXPECT_EQ(bar.PlayText(), "Play");
    EXPECT_EQ(bar.TimeText(), "00:00:00.0 / 00:00:03.0");
    EXPECT_EQ(bar.ProgressValue(), 0);
    EXPECT_TRUE(m_messages.isEmpty()) << m_messages.join('\n').toStdString();
    EXPECT_EQ(m_ends, QList<bool>{false});

    // Play again: a new engine with the same job, the old one (which said it ended
    // but lingers) ended first.
    StoreRelease(Block().bPlayFailed, 1);
    bar.OnCommand(CKvPreviewMovieDlg::kIdPlay);
    ASSERT_EQ(m_started.size(), 2u);
    EXPECT_FALSE(IsProcessAlive(m_started[0]));
    EXPECT_EQ(bar.EnginePid(), m_started[1]);
    EXPECT_EQ(Block().nState, kKvJobPreviewRequested);
    EXPECT_EQ(Block().dPosition, 0.0);
    EXPECT_EQ(Block().bPlayFailed, 0);
    EXPECT_EQ(bar.CurrentPhase(), CKvPreviewMovieDlg::Phase::Starting);

    // Stop at once, while the engine is still starting: nothing may be left behind.
    bar.OnCommand(CKvPreviewMovieDlg::kIdPlay);
    EXPECT_EQ(bar.CurrentPhase(), CKvPreviewMovieDlg::Phase::Stopped);
    EXPECT_EQ(bar.PlayText(), "Play");
    EXPECT_FALSE(IsProcessAlive(m_started[1]));
    EXPECT_EQ(Block().nState, kKvJobIdle);
    EXPECT_TRUE(WaitFor([] { return VisibleSpinners() == 0 && CKvWaitingThread::OpenDialogs() == 0; }));

    // Play, play a while, close: the engine and the spinner go with the bar.
    bar.OnCommand(CKvPreviewMovieDlg::kIdPlay);
    ASSERT_EQ(m_started.size(), 3u);
    EnginePlays(0.7);
    ASSERT_TRUE(WaitFor([&] { return bar.CurrentPhase() == CKvPreviewMovieDlg::Phase::Playing; }));
    bar.OnCancel();
    EXPECT_FALSE(bar.isVisible());
    EXPECT_FALSE(IsProcessAlive(m_started[2]));
    EXPECT_EQ(Block().nState, kKvJobIdle);
    EXPECT_TRUE(WaitFor([] { return VisibleSpinners() == 0; }));
    EXPECT_TRUE(m_messages.isEmpty()) << m_messages.join('\n').toStdString();
}

TEST_F(BarTest, StopAndCloseEndOnlyTheBarsOwnEngine)
{
    // Another "kvengine" of the same program folder, not started by the bar.
    const pid_t other = StartStandIn();
    CKvPreviewMovieDlg& bar = OpenBar();
    ASSERT_EQ(m_started.size(), 2u);
    bar.OnCommand(CKvPreviewMovieDlg::kIdPlay);
    EXPECT_FALSE(IsProcessAlive(m_started[1]));
    bar.OnCommand(CKvPreviewMovieDlg::kIdPlay);
    bar.OnCancel();
    EXPECT_FALSE(IsProcessAlive(m_started[2]));
    EXPECT_TRUE(IsProcessAlive(other));
}

struct BarFailure
{
    const char* name;
    // What goes wrong, done to the bar's fixture once the bar has started.
    void (*happen)(tagKvJobBlock& block, pid_t engine, const std::string& folder);
    bool engineStarts;
    const char* message;  // the message must contain this
};

class BarFailureTest : public BarTest, public ::testing::WithParamInterface<BarFailure>
{
};

TEST_P(BarFailureTest, EndsTheRunSaysWhyAndOffersPlayAgain)
{
    const BarFailure& c = GetParam();
    if (!c.engineStarts)
        m_starter = [] { return pid_t(-1); };
    CKvPreviewMovieDlg& bar = OpenBar();
    if (c.engineStarts) {
        ASSERT_EQ(m_started.size(), 1u);
        c.happen(Block(), m_started[0], m_program.Path());
    }
    ASSERT_TRUE(Stopped());
    EXPECT_EQ(bar.PlayText(), "Play");
    EXPECT_TRUE(WaitFor([] { return VisibleSpinners() == 0 && CKvWaitingThread::OpenDialogs() == 0; }));
    EXPECT_EQ(Block().nState, kKvJobIdle);
    ASSERT_EQ(m_messages.size(), 1);
    EXPECT_TRUE(m_messages[0].contains(QString::fromLatin1(c.message))) << m_messages[0].toStdString();
    EXPECT_EQ(bar.LastFailure(), m_messages[0]);
    EXPECT_EQ(m_ends, QList<bool>{true});
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BarFailureTest,
    ::testing::Values(
        BarFailure{"EngineReportsFailure",
                   [](tagKvJobBlock& block, pid_t, const std::string& folder) {
                       test::WriteFileBytes(ProgramPath(folder, "tmp/kvengine.log"),
                                            "2024-01-01T00:00:00Z preview failed: no sound device: Audio target "
                                            "'x' not available\n");
                       StoreRelease(block.bPlayFailed, 1);
                       StoreRelease(block.nState, kKvJobIdle);
                   },
                   true, "no sound device: Audio target 'x' not available"},
        BarFailure{"EngineDiesWithoutAWord",
                   [](tagKvJobBlock& block, pid_t engine, const std::string&) {
                       StoreRelease(block.nState, kKvJobRunning);
                       StoreRelease(block.dPosition, 0.5);
                       kill(engine, SIGKILL);
                   },
                   true, "ended before the preview was over"},
        BarFailure{"EngineRefusesTheBlock",
                   [](tagKvJobBlock&, pid_t engine, const std::string&) { kill(engine, SIGKILL); }, true,
                   "ended before the preview was over"},
        BarFailure{"EngineCannotStart", nullptr, false, "could not be started"}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- With the real engine, from the main window --------------------------------------

namespace {

class PreviewFromMainWindow : public ::testing::Test
{
protected:
    void SetUp() override
    {
        EnsureApplication();
        SetProgramFolderForTesting(m_program.Path());
        CKvUIManager::SetResourceFolder(QString::fromStdString(m_program.Path()));
        ASSERT_TRUE(m_app.Startup());
        m_dialog = m_app.CreateMainWindow();
        m_dialog->show();
        QApplication::processEvents();
        SetMessageHookForTesting([this](const QString&, const QString& text, int) {
            m_messages << text;
            return CKvMessageDlg::kIdOk;
        });
        ASSERT_EQ(m_dialog->MediaList()->AddFiles({QString::fromStdString(Media().audioOnly)}), 1);
        ASSERT_TRUE(WaitForMeasuredLengths(*m_dialog->MediaList()));
        m_dialog->ListControl()->SetSelectedRow(0, false);
    }

    void TearDown() override
    {
        SetMessageHookForTesting({});
        m_app.DestroyMainWindow();
        m_app.ExitInstance();
        SetProgramFolderForTesting(std::string());
    }

    // Runs command (the Preview command or a right click on the row) and plays the
    // user: picks "&Preview" from a menu that opens, and closes the bar once done(bar)
    // says so (polled). Returns the bar's last failure, or "no bar" when none opened.
    QString RunPreview(const std::function<void()>& command, const std::function<bool(CKvPreviewMovieDlg&)>& done)
    {
        QString result = QStringLiteral("no bar");
        QTimer poll;
        poll.setInterval(50);
        QObject::connect(&poll, &QTimer::timeout, [&] {
            if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
                m_menuItems.clear();
                for (QAction* action : menu->actions()) {
                    if (!action->isSeparator())
                        m_menuItems << action->text();
                }
                QTest::keyClick(menu, Qt::Key_P); // the item's mnemonic
                if (menu->isVisible())
                    menu->close();
                return;
            }
            for (QWidget* widget : QApplication::topLevelWidgets()) {
                auto* bar = qobject_cast<CKvPreviewMovieDlg*>(widget);
                if (bar && bar->isVisible() && done(*bar)) {
                    result = bar->LastFailure();
                    bar->OnCancel();
                }
            }
        });
        poll.start();
        command();
        QTest::qWait(100); // a command forwarded through the event loop runs now
        return result;
    }

    void Preview() { m_dialog->OnCommand(CKvMainDlg::kIdPreview); }

    test::TempProgramFolder m_program{true};
    CKvLumoApp m_app;
    CKvMainDlg* m_dialog = nullptr;
    QStringList m_messages;
    QStringList m_menuItems;  // of the last menu that opened
};

// Closes the bar once its first run is over.
bool RunIsOver(CKvPreviewMovieDlg& bar)
{
    return bar.CurrentPhase() == CKvPreviewMovieDlg::Phase::Stopped;
}

} // namespace

TEST_F(PreviewFromMainWindow, PlaysTheSelectedRowToItsEnd)
{
    bool sawPlaying = false;
    const QString failure = RunPreview([this] { Preview(); }, [&](CKvPreviewMovieDlg& bar) {
        sawPlaying = sawPlaying || bar.CurrentPhase() == CKvPreviewMovieDlg::Phase::Playing;
        return RunIsOver(bar);
    });
    EXPECT_EQ(failure, "") << m_messages.join('\n').toStdString();
    EXPECT_TRUE(sawPlaying);
    EXPECT_TRUE(m_messages.isEmpty()) << m_messages.join('\n').toStdString();
    const tagKvJobBlock& block = *KvFrontEndState::Instance().JobBlock();
    EXPECT_EQ(block.nState, kKvJobIdle);
    EXPECT_EQ(block.bPlayFailed, 0);
    EXPECT_EQ(block.bPlayMode, 1);
    EXPECT_NEAR(block.dDuration, m_dialog->MediaList()->RowLength(0), 1e-6);
    EXPECT_NEAR(block.dPosition, block.dDuration, 1e-3);
    EXPECT_TRUE(fs::exists(m_program.Work() + "tmp/kvengine.kvmmpj"));
    EXPECT_TRUE(fs::exists(m_program.Work() + "tmp/option.dat"));
}

TEST_F(PreviewFromMainWindow, TheRowsContextMenuPreviewsIt)
{
    const QString failure = RunPreview(
        [this] {
            m_dialog->Manager()->SendNotify(kMsgListContext, m_dialog->ListControl(), 0);
        },
        [](CKvPreviewMovieDlg&) { return true; });
    EXPECT_EQ(m_menuItems, (QStringList{"&Preview", "&Remove\tDelete"}));
    EXPECT_EQ(failure, "");
    EXPECT_EQ(KvFrontEndState::Instance().JobBlock()->nState, kKvJobIdle);
}

TEST_F(PreviewFromMainWindow, NoSoundDeviceIsToldWithTheReason)
{
    const QString failure = [&] {
        test::ScopedEnv driver("SDL_AUDIODRIVER", "no-such-driver");
        return RunPreview([this] { Preview(); }, RunIsOver);
    }();
    EXPECT_TRUE(failure.contains("no sound device")) << failure.toStdString();
    ASSERT_EQ(m_messages.size(), 1);
    EXPECT_EQ(m_messages[0], failure);
}

TEST_F(PreviewFromMainWindow, RowsWithoutATimeLineOrSelectionStartNothing)
{
    m_dialog->ListControl()->SetSelectedRow(-1, false);
    EXPECT_EQ(RunPreview([this] { Preview(); }, RunIsOver), "no bar");
    EXPECT_TRUE(m_messages.isEmpty());

    // Start and End 0.3 s apart: too short to be worth hearing.
    m_dialog->ListControl()->SetSelectedRow(0, false);
    m_dialog->ListControl()->SetCellText(kColEnd, 0, "0.3");
    m_dialog->MediaList()->OnCellTextChanged(kColEnd * 65536 + 0);
    ASSERT_NEAR(m_dialog->MediaList()->RowLength(0), 0.3, 1e-6);
    EXPECT_EQ(RunPreview([this] { Preview(); }, RunIsOver), "no bar");
    EXPECT_EQ(m_messages, QStringList{CKvPreviewMovieDlg::EmptyTimelineText()});
    EXPECT_FALSE(fs::exists(m_program.Work() + "tmp/kvengine.kvmmpj"));
    EXPECT_EQ(KvFrontEndState::Instance().JobBlock()->nState, kKvJobIdle);
}
