// The main window's conversion queue, driven as a user drives it, with the real
// engine in a program folder of the test's own: Render into a folder, stop while
// busy, failures that must read "Failed", and the names of the output files.

#include "MediaTestSupport.h"
#include "common/KvEngineSlot.h"
#include "common/KvJobBlock.h"
#include "common/KvOptionRecord.h"
#include "common/KvProcess.h"
#include "common/KvProgramFolder.h"
#include "common/KvText.h"
#include "common/KvWmProfile.h"
#include "frontend/KvDesktopOpener.h"
#include "frontend/KvEngineSlotLease.h"
#include "frontend/KvFrontEndApp.h"
#include "frontend/KvFrontEndState.h"
#include "frontend/KvMainDlg.h"
#include "frontend/KvMediaFiles.h"
#include "frontend/KvMediaList.h"
#include "frontend/KvMessageDlg.h"
#include "frontend/KvPreviewMovieDlg.h"
#include "frontend/KvQueueReport.h"
#include "frontend/KvRenderQueue.h"
#include "frontend/KvSourceGatherer.h"
#include "frontend/KvWaitingDlg.h"
#include "support/TempFolder.h"
#include "ui/KvButton.h"
#include "ui/KvListCtrl.h"
#include "ui/KvUIManager.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QMenu>
#include <QMimeData>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <csignal>
#include <chrono>
#include <filesystem>
#include <thread>
#include <sys/stat.h>

namespace fs = std::filesystem;
using namespace velmora;
using namespace velmora::test;

namespace {

// Source media made once with the ffmpeg tools: a short video with sound, a short
// WAV, and a long sound file that takes the engine a while.
struct Media
{
    TempFolder folder{"velmora-media"};
    std::string clip;
    std::string song;
    std::string longSound;

    Media()
    {
        clip = folder.Path() + "clip.mp4";
        song = folder.Path() + "song.wav";
        longSound = folder.Path() + "long.wav";
        RunCommand("ffmpeg -v error -y -f lavfi -i testsrc=size=160x120:rate=25:duration=3 -f lavfi -i "
                   "sine=frequency=440:duration=3 -c:v libx264 -pix_fmt yuv420p -c:a aac -shortest "
                   + ShellQuote(clip));
        RunCommand("ffmpeg -v error -y -f lavfi -i sine=frequency=660:duration=2 " + ShellQuote(song));
    }

    // Made on first use: half an hour of plain samples, quick to write, seconds of work
    // for the engine.
    const std::string& LongSound() const
    {
        if (!fs::exists(longSound))
            RunCommand("ffmpeg -v error -y -f lavfi -i sine=frequency=330:sample_rate=8000:duration=1800 -ac 1 "
                       + ShellQuote(longSound));
        return longSound;
    }
};

const Media& TestMedia()
{
    static Media media;
    return media;
}

struct Probe
{
    std::string codec;
    int sampleRate = 0;
    int channels = 0;
    double duration = 0.0;
};

Probe ProbeAudio(const QString& path)
{
    std::string out;
    RunCommand("ffprobe -v error -select_streams a:0 -show_entries stream=codec_name,sample_rate,channels:format=duration "
               "-of default=noprint_wrappers=1 " + ShellQuote(path.toStdString()), &out);
    Probe probe;
    std::istringstream lines(out);
    std::string line;
    while (std::getline(lines, line)) {
        const auto eq = line.find('=');
        if (eq == std::string::npos)
            continue;
        const std::string key = line.substr(0, eq);
        const std::string value = line.substr(eq + 1);
        if (key == "codec_name")
            probe.codec = value;
        else if (key == "sample_rate")
            probe.sampleRate = std::atoi(value.c_str());
        else if (key == "channels")
            probe.channels = std::atoi(value.c_str());
        else if (key == "duration")
            probe.duration = std::atof(value.c_str());
    }
    return probe;
}

// A started front end in a program folder of its own, its main window shown, the
// folder picker answering with a temporary folder and message boxes answered (and
// recorded) without a window.
class QueueTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        velmora::fetest::EnsureApplication();
        SetProgramFolderForTesting(m_program.Path());
        CKvUIManager::SetResourceFolder(QString::fromStdString(m_program.Path()));
        ASSERT_TRUE(m_app.Startup());
        // One row after another, unless a test asks for more.
        KvFrontEndState::Instance().SetParallelConversions(1);
        m_dialog = m_app.CreateMainWindow();
        m_dialog->show();
        QApplication::processEvents();
        m_dialog->SetFolderChooser([this] { return QString::fromStdString(m_target.Path()); });
        SetMessageHookForTesting([this](const QString& caption, const QString& text, int style) {
            m_messages << text;
            return style == CKvMessageDlg::kStyleYesNo ? m_answer : CKvMessageDlg::kIdOk;
        });
    }

    void TearDown() override
    {
        SetMessageHookForTesting({});
        m_app.DestroyMainWindow();
        m_app.ExitInstance();
        SetProgramFolderForTesting(std::string());
    }

    KvMediaList& List() { return *m_dialog->MediaList(); }
    KvRenderQueue& Queue() { return *m_dialog->Queue(); }
    // The first row converting now (index -1 when none), and its list row.
    KvRunningRow Current() { return Queue().Running().empty() ? KvRunningRow() : Queue().Running().front(); }
    int CurrentListRow() { return Current().index < 0 ? -1 : Queue().Rows()[size_t(Current().index)].tag; }

    // Render and wait until the queue is idle again.
    bool RenderAndWait(int timeoutMs = 120000)
    {
        QSignalSpy stopped(m_dialog, &CKvMainDlg::queueStopped);
        m_dialog->OnRender();
        if (m_dialog->IsIdle())
            return true;
        return stopped.wait(timeoutMs) || m_dialog->IsIdle();
    }

    QString Target(const char* name) const { return QString::fromStdString(m_target.Path()) + QString::fromUtf8(name); }

    // Drags urls over the window as a file manager does and, when drop is set, lets go;
    // the add the drop leads to has run when this returns. Whether the window took the
    // drag (as a copy), and what it said over the list meanwhile.
    struct DragAnswer
    {
        bool taken = false;
        QString hint;
    };
    DragAnswer Drag(const QList<QUrl>& urls, bool drop)
    {
        QMimeData data;
        data.setUrls(urls);
        const QPointF at(m_dialog->width() / 2.0, m_dialog->height() / 2.0);
        const Qt::DropActions offered = Qt::CopyAction | Qt::MoveAction | Qt::LinkAction;
        QDragEnterEvent enter(at.toPoint(), offered, &data, Qt::LeftButton, Qt::NoModifier);
        enter.setDropAction(Qt::MoveAction);
        QApplication::sendEvent(m_dialog, &enter);
        // A move always follows the enter; its answer is what the pointer shows.
        QDragMoveEvent move(at.toPoint(), offered, &data, Qt::LeftButton, Qt::NoModifier);
        move.setDropAction(Qt::MoveAction);
        QApplication::sendEvent(m_dialog, &move);
        DragAnswer answer{move.isAccepted() && move.dropAction() == Qt::CopyAction, m_dialog->DropHint()};
        if (drop) {
            QDropEvent dropped(at, offered, &data, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(m_dialog, &dropped);
        } else {
            QDragLeaveEvent leave;
            QApplication::sendEvent(m_dialog, &leave);
        }
        QApplication::processEvents();
        EXPECT_TRUE(m_dialog->DropHint().isEmpty()) << "the hint outlived the drag";
        return answer;
    }

    // The items of the row's context menu, a disabled one marked " [off]".
    QStringList MenuOf(int row)
    {
        QStringList items;
        QTimer poll;
        poll.setInterval(20);
        QObject::connect(&poll, &QTimer::timeout, [&] {
            if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
                for (QAction* action : menu->actions()) {
                    if (!action->isSeparator())
                        items << action->text() + (action->isEnabled() ? "" : " [off]");
                }
                menu->close();
            }
        });
        poll.start();
        m_dialog->ListControl()->SetSelectedRow(row, false);
        m_dialog->Manager()->SendNotify(kMsgListContext, m_dialog->ListControl(), row);
        return items;
    }

    TempProgramFolder m_program{true};
    TempFolder m_target{"velmora-out"};
    CKvLumoApp m_app;
    CKvMainDlg* m_dialog = nullptr;
    QStringList m_messages;
    int m_answer = CKvMessageDlg::kIdYes;
};

} // namespace

TEST_F(QueueTest, RendersEveryRowToItsOwnFileAndKeepsCountingAcrossRuns)
{
    const Media& media = TestMedia();
    // A file the user already has under the first name the counter gives.
    WriteFileBytes(m_target.Path() + "(output001)clip.wma", "mine");
    ASSERT_EQ(List().AddFiles({QString::fromStdString(media.clip), QString::fromStdString(media.song)}), 2);

    ASSERT_TRUE(RenderAndWait());
    EXPECT_EQ(List().StateText(0), "Finish") << List().RowToolTip(0).toStdString();
    EXPECT_EQ(List().StateText(1), "Finish") << List().RowToolTip(1).toStdString();
    EXPECT_EQ(List().Progress(0), 100);
    EXPECT_TRUE(m_messages.isEmpty()) << m_messages.join('\n').toStdString();
    EXPECT_EQ(ReadFileBytes(m_target.Path() + "(output001)clip.wma"), "mine") << "never overwritten";

    const tagKvOptionRecord& record = KvFrontEndState::Instance().CurrentRecord();
    WmAudioFormat format;
    ASSERT_TRUE(ResolveWmAudioFormat(record.nWmaCodec, record.nWmaFormat, format));
    for (const char* name : {"(output002)clip.wma", "(output003)song.wma"}) {
        ASSERT_TRUE(QFileInfo::exists(Target(name))) << name;
        EXPECT_FALSE(QFileInfo::exists(Target(name) + ".part"));
        const Probe probe = ProbeAudio(Target(name));
        EXPECT_EQ(probe.codec, "wmav2") << name;
        EXPECT_EQ(probe.sampleRate, format.nSampleRate) << name;
        EXPECT_EQ(probe.channels, format.nChannels) << name;
    }
    EXPECT_NEAR(ProbeAudio(Target("(output002)clip.wma")).duration, 3.0, 0.3);
    EXPECT_NEAR(ProbeAudio(Target("(output003)song.wma")).duration, 2.0, 0.3);

    // Every row finished: Render asks for the folder and goes back to idle at once.
    ASSERT_TRUE(RenderAndWait(5000));
    EXPECT_EQ(Queue().OutputCounter(), 3);

    // New settings make every row convert again; the counter goes on.
    tagKvOptionRecord& current = KvFrontEndState::Instance().CurrentRecord();
    current.nOutputType = kKvOutputMp3;
    current.nAudioBitrate = 96;
    current.nSampleRate = 22050;
    current.nChannels = 0;
    m_dialog->SetSettingsRunner([] { return true; });
    m_dialog->ForwardCommand(CKvMainDlg::kIdSettings);
    QApplication::processEvents();
    EXPECT_EQ(List().StateText(0), "Ready");
    ASSERT_TRUE(RenderAndWait());
    EXPECT_EQ(List().StateText(1), "Finish");
    const Probe mp3 = ProbeAudio(Target("(output005)song.mp3"));
    EXPECT_EQ(mp3.codec, "mp3");
    EXPECT_EQ(mp3.sampleRate, 22050);
    EXPECT_EQ(mp3.channels, 1);
    EXPECT_TRUE(QFileInfo::exists(Target("(output004)clip.mp3")));

    // A restart begins with an all-zero job block.
    m_app.DestroyMainWindow();
    m_app.ExitInstance();
    CKvLumoApp again;
    ASSERT_TRUE(again.Startup());
    const auto* bytes = reinterpret_cast<const unsigned char*>(KvFrontEndState::Instance().JobBlock());
    EXPECT_TRUE(std::all_of(bytes, bytes + sizeof(tagKvJobBlock), [](unsigned char b) { return b == 0; }));
    again.ExitInstance();
}

// A video cut half-way keeps its header's length; its sound ends at the cut. The row
// converts as far as the sound goes, ends "Finish" with a mark, says why and shows the
// real length, and the summary after the run names it under a heading of its own.
TEST_F(QueueTest, ARowWhoseSourceEndsEarlyFinishesMarkedWithItsRealLength)
{
    const std::string whole = m_target.Path() + "whole.mp4";
    const std::string cut = m_target.Path() + "cut.mp4";
    RunCommand("ffmpeg -v error -y -f lavfi -i testsrc=size=160x120:rate=25:duration=6 -f lavfi -i "
               "sine=frequency=440:duration=6 -c:v mpeg4 -c:a aac -movflags +faststart " + ShellQuote(whole));
    const std::string bytes = ReadFileBytes(whole);
    ASSERT_GT(bytes.size(), 1000u);
    WriteFileBytes(cut, bytes.substr(0, bytes.size() / 2));
    fs::remove(whole);
    ASSERT_EQ(List().AddFiles({QString::fromStdString(cut)}), 1);
    EXPECT_EQ(List().JobRow(0).duration, 6.0);

    ASSERT_TRUE(RenderAndWait());
    EXPECT_EQ(List().StateText(0), KvMediaList::StateFinishShort());
    EXPECT_FALSE(List().FinishedOutput(0).isEmpty()) << "a short row still offers its output";
    EXPECT_TRUE(List().RowToolTip(0).startsWith("The source ends at ")) << List().RowToolTip(0).toStdString();
    EXPECT_TRUE(List().RowToolTip(0).endsWith("; its header says 6.00 s.")) << List().RowToolTip(0).toStdString();
    const double real = List().JobRow(0).duration;
    EXPECT_GT(real, 1.5);
    EXPECT_LT(real, 4.5);
    EXPECT_NEAR(ProbeAudio(List().FinishedOutput(0)).duration, real, 0.15);
    ASSERT_EQ(m_messages.size(), 1) << m_messages.join('\n').toStdString();
    EXPECT_TRUE(m_messages[0].startsWith("One file was converted only in part.")) << m_messages[0].toStdString();
    ASSERT_EQ(Queue().Shortened().size(), 1u);
    EXPECT_TRUE(Queue().Failures().empty());

    // The picture, for looking at: VELMORA_SCREENSHOT_DIR names where it goes.
    if (const QString shots = qEnvironmentVariable("VELMORA_SCREENSHOT_DIR"); !shots.isEmpty()) {
        m_dialog->Manager()->Paint();
        QDir().mkpath(shots);
        m_dialog->grab().save(shots + QStringLiteral("/short-row.png"));
    }
}

// A stop signal while a row converts and a question is up: the question closes
// unanswered, the engine is killed, its partial file goes, and the window closes.
TEST_F(QueueTest, AStopSignalEndsTheWindowWhileBusyWithNothingLeftBehind)
{
    ASSERT_EQ(List().AddFiles({QString::fromStdString(TestMedia().LongSound())}), 1);
    m_dialog->OnRender();
    ASSERT_FALSE(m_dialog->IsIdle());
    const QString part = Current().output + ".part";
    ASSERT_TRUE(QTest::qWaitFor([&] { return QFileInfo::exists(part); }, 20000)) << "the engine never started writing";
    const pid_t engine = Current().pid;
    m_dialog->EndOnStopSignal();
    EXPECT_TRUE(m_dialog->IsIdle());
    EXPECT_TRUE(QTest::qWaitFor([&] { return !m_dialog->isVisible(); }, 5000)) << "the window stays open";
    EXPECT_TRUE(QTest::qWaitFor([&] { return Queue().DyingEngineCount() == 0; }, 5000));
    EXPECT_FALSE(IsProcessAlive(engine));
    EXPECT_FALSE(QFileInfo::exists(part));
    EXPECT_TRUE(m_messages.isEmpty()) << "nothing asked: " << m_messages.join('\n').toStdString();
}

TEST_F(QueueTest, RenderWhileBusyStopsAtOnceAndLeavesNoPartialFile)
{
    const Media& media = TestMedia();
    ASSERT_EQ(List().AddFiles({QString::fromStdString(media.LongSound()), QString::fromStdString(media.song)}), 2);
    m_dialog->OnRender();
    ASSERT_FALSE(m_dialog->IsIdle());
    EXPECT_FALSE(m_dialog->Control(CKvMainDlg::kIdAdd)->IsEnabled()) << "the list is locked while busy";
    // Wait until the engine is really writing.
    const QString part = Current().output + ".part";
    QElapsedTimer clock;
    clock.start();
    while (!QFileInfo::exists(part) && clock.elapsed() < 20000)
        QTest::qWait(50);
    ASSERT_TRUE(QFileInfo::exists(part)) << "the engine never started writing";
    const pid_t engine = Current().pid;
    // Files handed over while busy wait: the queue never changes under the engine.
    m_dialog->AddFiles({QString::fromStdString(media.clip)});
    EXPECT_EQ(List().RowCount(), 2);

    // Exit asked while busy, answered No: the queue goes on.
    m_answer = CKvMessageDlg::kIdNo;
    m_dialog->OnCancel();
    EXPECT_TRUE(m_dialog->isVisible());
    EXPECT_FALSE(m_dialog->IsIdle());

    clock.restart();
    m_dialog->OnRender();
    EXPECT_LT(clock.elapsed(), 3000);
    EXPECT_TRUE(m_dialog->IsIdle());
    // The engine is killed at once; its file goes as soon as it has gone, without
    // the window waiting for it.
    EXPECT_TRUE(QTest::qWaitFor([&] { return Queue().DyingEngineCount() == 0; }, 5000));
    EXPECT_FALSE(IsProcessAlive(engine));
    EXPECT_EQ(List().StateText(0), "Ready");
    EXPECT_EQ(List().StateText(1), "Ready");
    EXPECT_EQ(List().Progress(0), 0);
    EXPECT_FALSE(QFileInfo::exists(part));
    EXPECT_TRUE(QDir(QString::fromStdString(m_target.Path())).entryList(QDir::Files).isEmpty());
    EXPECT_TRUE(m_dialog->Control(CKvMainDlg::kIdAdd)->IsEnabled());
    EXPECT_EQ(List().RowCount(), 3) << "the waiting file is added once the queue stops";

    // An engine killed from outside while it writes: its partial file is gone by the
    // time the row reads "Failed", and the queue goes on with the next row.
    m_dialog->OnRender();
    ASSERT_FALSE(m_dialog->IsIdle());
    const QString killedPart = Current().output + ".part";
    clock.restart();
    while (!QFileInfo::exists(killedPart) && clock.elapsed() < 20000)
        QTest::qWait(50);
    ASSERT_TRUE(QFileInfo::exists(killedPart));
    bool partGoneWhenFailed = false;
    const auto watch = QObject::connect(m_dialog, &CKvMainDlg::rowEnded, [&](int row, bool finished) {
        if (row == 0 && !finished)
            partGoneWhenFailed = !QFileInfo::exists(killedPart);
    });
    ::kill(Current().pid, SIGKILL);
    EXPECT_TRUE(QTest::qWaitFor([&] { return List().StateText(0) == "Failed"; }, 5000));
    QObject::disconnect(watch);
    EXPECT_TRUE(partGoneWhenFailed);
    EXPECT_TRUE(List().RowToolTip(0).startsWith("The conversion program stopped before it finished."));
    EXPECT_EQ(CurrentListRow(), 1);
    m_dialog->OnRender();
    ASSERT_TRUE(QTest::qWaitFor([&] { return Queue().DyingEngineCount() == 0; }, 5000));

    // Exit while busy, answered Yes: the engine goes, then the window.
    m_dialog->OnRender();
    ASSERT_FALSE(m_dialog->IsIdle());
    const pid_t second = Current().pid;
    const QString secondPart = Current().output + ".part";
    m_answer = CKvMessageDlg::kIdYes;
    m_dialog->OnCancel();
    EXPECT_TRUE(m_dialog->IsIdle());
    EXPECT_FALSE(m_dialog->isVisible());
    // Closing the window reaps the engine and removes its file.
    m_app.DestroyMainWindow();
    EXPECT_FALSE(IsProcessAlive(second));
    EXPECT_FALSE(QFileInfo::exists(secondPart));
}

// The window's keys: Ctrl+R renders, Esc and Ctrl+. stop only after a Yes, Delete
// removes the chosen row of the focused list.
TEST_F(QueueTest, KeysRenderStopAfterAskingAndRemoveTheChosenRow)
{
    const Media& media = TestMedia();
    ASSERT_EQ(List().AddFiles({QString::fromStdString(media.LongSound()), QString::fromStdString(media.song)}), 2);
    m_dialog->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(m_dialog));
    EXPECT_EQ(m_dialog->Manager()->FocusControl(), m_dialog->ListControl()) << "the window opens with the list focused";

    QTest::keyClick(m_dialog, Qt::Key_R, Qt::ControlModifier);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !m_dialog->IsIdle(); }, 3000));
    m_answer = CKvMessageDlg::kIdNo;
    QTest::keyClick(m_dialog, Qt::Key_Escape);
    ASSERT_FALSE(m_messages.isEmpty());
    EXPECT_TRUE(m_messages.back().startsWith("Stop the conversions?"));
    EXPECT_FALSE(m_dialog->IsIdle()) << "No keeps it running";
    m_answer = CKvMessageDlg::kIdYes;
    QTest::keyClick(m_dialog, Qt::Key_Period, Qt::ControlModifier);
    EXPECT_TRUE(m_dialog->IsIdle());
    ASSERT_TRUE(QTest::qWaitFor([&] { return Queue().DyingEngineCount() == 0; }, 5000));

    m_dialog->ListControl()->SetSelectedRow(1, false);
    QTest::keyClick(m_dialog, Qt::Key_Delete);
    QApplication::processEvents();
    ASSERT_EQ(List().RowCount(), 1);
    EXPECT_EQ(QFileInfo(List().Model().At(0).source).fileName(), "long.wav");
}

// A folder that cannot take the outputs is refused before any engine starts, with
// one message that says why, and no output number is used up.
TEST_F(QueueTest, ATargetFolderThatCannotTakeTheOutputsIsRefusedBeforeAnyEngineStarts)
{
    const Media& media = TestMedia();
    ASSERT_EQ(List().AddFiles({QString::fromStdString(media.song), QString::fromStdString(media.clip)}), 2);
    const std::string file = m_target.Path() + "a file";
    WriteFileBytes(file, "x");
    struct Case
    {
        std::string folder;
        const char* says;
    };
    const Case cases[] = {
        {"/proc", "cannot be written"}, // takes no new files, not even from root
        {m_target.Path() + "missing", "does not exist"},
        {file, "is not a folder"},
    };
    for (const Case& c : cases) {
        m_messages.clear();
        m_dialog->SetFolderChooser([&c] { return QString::fromStdString(c.folder); });
        m_dialog->OnRender();
        EXPECT_TRUE(m_dialog->IsIdle()) << c.folder;
        ASSERT_EQ(m_messages.size(), 1) << c.folder;
        EXPECT_TRUE(m_messages[0].contains(QLatin1String(c.says))) << m_messages[0].toStdString();
        EXPECT_EQ(Queue().RunningCount(), 0);
        EXPECT_EQ(Queue().OutputCounter(), 0);
        EXPECT_EQ(List().StateText(0), "Ready");
        EXPECT_EQ(List().StateText(1), "Ready");
    }
}

// Rows that fail read "Failed" with a short reason, the run ends with one summary
// grouped by reason, and the next Render starts every row it converts from "Ready",
// also the rows it does not reach before it is stopped.
TEST_F(QueueTest, FailedRowsAreSummedUpByReasonAndANewRenderResetsThem)
{
    const Media& media = TestMedia();
    // Rows 1 and 3 lose their sources once added: their engines say so.
    TempFolder gone("velmora-gone");
    const std::string song = gone.Path() + "song.wav";
    const std::string clip = gone.Path() + "clip.mp4";
    fs::copy_file(media.song, song);
    fs::copy_file(media.clip, clip);
    ASSERT_EQ(List().AddFiles({QString::fromStdString(media.song), QString::fromStdString(song),
                               QString::fromStdString(media.clip), QString::fromStdString(clip)}),
              4);
    fs::remove(song);
    fs::remove(clip);
    ASSERT_TRUE(RenderAndWait());
    EXPECT_EQ(List().StateText(0), "Finish") << List().RowToolTip(0).toStdString();
    EXPECT_EQ(List().StateText(2), "Finish") << List().RowToolTip(2).toStdString();
    for (int row : {1, 3}) {
        EXPECT_EQ(List().StateText(row), "Failed") << row;
        EXPECT_TRUE(List().RowToolTip(row).startsWith("The source cannot be read.\n")) << row;
    }
    ASSERT_EQ(m_messages.size(), 1) << "one message after the queue";
    EXPECT_TRUE(m_messages[0].startsWith("2 files could not be converted.\n\nThe source cannot be read:"
                                         "\nsong.wav\nclip.mp4\n"))
        << m_messages[0].toStdString();
    EXPECT_EQ(Queue().OutputCounter(), 4) << "every row that reached an engine took a number";

    // The next run is stopped while its first row converts (an engine that never
    // ends): the failed rows it never reached still read "Ready", without a reason.
    const std::string engine = m_program.Path() + "kvengine";
    fs::remove(engine);
    WriteFileBytes(engine, "#!/bin/sh\nexec sleep 30\n");
    chmod(engine.c_str(), 0755);
    m_dialog->MediaList()->ResetAllToReady();
    List().SetState(1, KvRowState::Failed);
    List().SetRowToolTip(1, "from the last run");
    List().SetState(0, KvRowState::Ready);
    m_dialog->OnRender();
    ASSERT_FALSE(m_dialog->IsIdle());
    EXPECT_EQ(CurrentListRow(), 0);
    EXPECT_EQ(List().StateText(1), "Ready");
    EXPECT_TRUE(List().RowToolTip(1).isEmpty());
    m_dialog->OnRender();
    EXPECT_TRUE(m_dialog->IsIdle());
    EXPECT_EQ(List().StateText(1), "Ready");
}

TEST_F(QueueTest, AProfileThatCannotBeWrittenFailsItsRowAndTheQueueGoesOn)
{
    const Media& media = TestMedia();
    ASSERT_EQ(List().AddFiles({QString::fromStdString(media.song), QString::fromStdString(media.song)}), 2);
    KvFrontEndState::Instance().CurrentRecord().nWmaCodec = 99;
    // A real message box runs its own event loop, long enough for the poll to tick.
    SetMessageHookForTesting([this](const QString&, const QString& text, int) {
        m_messages << text;
        QTest::qWait(1100);
        return int(CKvMessageDlg::kIdOk);
    });
    ASSERT_TRUE(RenderAndWait(20000));
    EXPECT_EQ(List().StateText(0), "Failed");
    EXPECT_EQ(List().StateText(1), "Failed");
    EXPECT_EQ(m_messages.count("Save Wmv Profile Failed!"), 2);
    EXPECT_EQ(Queue().Failures().size(), 2u) << "each row failed once, not again by a poll under the message";
    EXPECT_EQ(Queue().RunningCount(), 0);
}

TEST_F(QueueTest, AnEngineThatVanishesWithoutAWordFailsItsRowWithoutStallingTheQueue)
{
    const Media& media = TestMedia();
    // An engine that dies before it reports anything.
    const std::string engine = m_program.Path() + "kvengine";
    fs::remove(engine);
    // It is started for an engine slot ("--slot=k") and writes into that slot's log.
    WriteFileBytes(engine, "#!/bin/sh\necho 'crashed while opening the source' >> " + ShellQuote(m_program.Work() + "tmp/slot-")
                               + "\"${1#--slot=}\"/kvengine.log\nexit 1\n");
    chmod(engine.c_str(), 0755);
    ASSERT_EQ(List().AddFiles({QString::fromStdString(media.song), QString::fromStdString(media.clip)}), 2);

    QElapsedTimer clock;
    clock.start();
    ASSERT_TRUE(RenderAndWait(10000));
    EXPECT_LT(clock.elapsed(), 1900) << "the engine's end is noticed without waiting for the 1000 ms tick";
    EXPECT_EQ(List().StateText(0), "Failed");
    EXPECT_EQ(List().StateText(1), "Failed");
    EXPECT_EQ(List().RowToolTip(0), "The conversion program stopped before it finished.\n"
                                    "crashed while opening the source");
    ASSERT_EQ(Queue().Failures().size(), 2u);
    EXPECT_EQ(Queue().Failures()[0].second, FailureReason(KvFailure::EngineStopped));
}

// Two rows at once: each shows its own progress, the numbers follow the rows whatever
// ends first, and Stop ends both engines and removes both partial files.
TEST_F(QueueTest, TwoSlotsConvertTwoRowsAtOnceAndStopEndsBoth)
{
    KvFrontEndState::Instance().SetParallelConversions(2);
    const Media& media = TestMedia();
    const QString longSound = QString::fromStdString(media.LongSound());
    const QString song = QString::fromStdString(media.song);
    ASSERT_EQ(List().AddFiles({longSound, song, longSound, QString::fromStdString(media.clip)}), 4);
    std::vector<int> ended;
    QObject::connect(m_dialog, &CKvMainDlg::rowEnded, m_dialog, [&](int row, bool) { ended.push_back(row); });

    m_dialog->OnRender();
    ASSERT_FALSE(m_dialog->IsIdle());
    EXPECT_EQ(Queue().RunningCount(), 2);
    EXPECT_EQ(Queue().HeldSlots(), (std::vector<int>{1, 2}));
    // The short row ends first and its slot takes the next row at once.
    ASSERT_TRUE(QTest::qWaitFor([&] { return List().StateText(1) == "Finish"; }, 30000)) << List().RowToolTip(1).toStdString();
    EXPECT_EQ(ended, std::vector<int>{1});
    EXPECT_TRUE(QFileInfo::exists(Target("(output002)song.wma")));
    ASSERT_EQ(Queue().RunningCount(), 2);
    const std::vector<KvRunningRow> running = Queue().Running();
    EXPECT_EQ(running[0].output, Target("(output001)long.wma"));
    EXPECT_EQ(running[1].output, Target("(output003)long.wma"));
    EXPECT_NE(running[0].slot, running[1].slot);
    // Each running row shows its own progress.
    EXPECT_TRUE(QTest::qWaitFor([&] { return List().Progress(0) > 0 && List().Progress(2) > 0; }, 20000));
    EXPECT_TRUE(List().StateText(2).endsWith('%'));
    ASSERT_TRUE(QTest::qWaitFor([&] {
        return QFileInfo::exists(running[0].output + ".part") && QFileInfo::exists(running[1].output + ".part");
    }, 20000));

    m_dialog->OnRender();
    EXPECT_TRUE(m_dialog->IsIdle());
    EXPECT_TRUE(QTest::qWaitFor([&] { return Queue().DyingEngineCount() == 0; }, 5000));
    for (const KvRunningRow& row : running) {
        EXPECT_FALSE(IsProcessAlive(row.pid));
        EXPECT_FALSE(QFileInfo::exists(row.output + ".part"));
    }
    EXPECT_EQ(List().StateText(0), "Ready");
    EXPECT_EQ(List().StateText(1), "Finish");
    EXPECT_EQ(List().StateText(2), "Ready");
    EXPECT_EQ(List().StateText(3), "Ready");
    EXPECT_TRUE(Queue().HeldSlots().empty());
    EXPECT_EQ(QDir(QString::fromStdString(m_target.Path())).entryList(QDir::Files), QStringList{"(output002)song.wma"});
}

// A command-line run converts beside the window: the window's queue takes other slots,
// its preview and its emptying of tmp/ leave the run's engine and files alone.
TEST_F(QueueTest, ARunBesideTheWindowKeepsItsSlotAndItsEngine)
{
    KvFrontEndState::Instance().SetParallelConversions(2);
    const Media& media = TestMedia();
    TempFolder otherTarget("velmora-other");
    KvRenderQueue other(KvFrontEndState::Instance());
    other.SetSlots(KvEngineSlotLease::TakeFree(m_program.Path(), 1));
    const KvSourceRow source = ReadSourceRow(QString::fromStdString(media.LongSound()));
    ASSERT_TRUE(other.Start(QString::fromStdString(otherTarget.Path()), {{source.item.JobRow(), 0}}));
    ASSERT_EQ(other.HeldSlots(), std::vector<int>{1});
    const KvRunningRow theirs = other.Running().front();

    ASSERT_EQ(List().AddFiles({QString::fromStdString(media.song), QString::fromStdString(media.clip)}), 2);
    m_dialog->OnRender();
    EXPECT_EQ(Queue().HeldSlots(), (std::vector<int>{2, 3}));
    ASSERT_TRUE(QTest::qWaitFor([&] { return m_dialog->IsIdle(); }, 30000));
    EXPECT_EQ(List().StateText(0), "Finish");
    EXPECT_EQ(List().StateText(1), "Finish");

    m_dialog->ListControl()->SetSelectedRow(0, false);
    ASSERT_TRUE(CKvPreviewMovieDlg::PrepareJob(List(), 0, m_dialog));
    StoreRelease(KvFrontEndState::Instance().JobBlock()->nState, static_cast<std::int32_t>(kKvJobIdle));
    EXPECT_TRUE(EmptyWorkTmpFolder(m_program.Path()));
    EXPECT_TRUE(IsProcessAlive(theirs.pid));
    EXPECT_TRUE(fs::exists(JobFolder(m_program.Path(), 1) + "kvengine.kvmmpj"));
    EXPECT_TRUE(other.IsRunning());
    other.Stop();
    EXPECT_TRUE(QTest::qWaitFor([&] { return other.DyingEngineCount() == 0; }, 5000));
    EXPECT_FALSE(QFileInfo::exists(theirs.output + ".part"));
}

// ---- Drops -----------------------------------------------------------------------

// A folder dropped on the window: its media files, nested folders too, become rows in
// name order; what was left out (a broken file, files that are no media, a web link)
// is told in one message, and the drop is taken as a copy even where a move is offered.
TEST_F(QueueTest, ADroppedFolderAddsItsMediaInNameOrderAndTellsWhatWasLeftOutOnce)
{
    const Media& media = TestMedia();
    TempFolder dropped{"velmora-drop"};
    const std::string root = dropped.Path() + "Mix/";
    fs::create_directories(root + "A Sub/deeper");
    fs::copy_file(media.song, root + "a.wav");
    fs::copy_file(media.clip, root + "b.mp4");
    fs::copy_file(media.song, root + "A Sub/c.wav");
    fs::copy_file(media.song, root + "A Sub/deeper/d.wav");
    fs::copy_file(media.song, root + ".hidden.wav");
    WriteFileBytes(root + "broken.mp4", "not a film at all");
    WriteFileBytes(root + "notes.txt", "track list");
    WriteFileBytes(root + "A Sub/readme.txt", "hello");
    const QString web = QStringLiteral("https://example.com/song.mp3");

    const DragAnswer answer = Drag({QUrl::fromLocalFile(QString::fromStdString(dropped.Path() + "Mix")), QUrl(web)}, true);
    EXPECT_TRUE(answer.taken);
    EXPECT_FALSE(answer.hint.isEmpty());

    const QString folder = QString::fromStdString(root);
    QStringList rows;
    for (int row = 0; row < List().RowCount(); ++row)
        rows << List().FilePath(row);
    EXPECT_EQ(rows, QStringList({folder + "A Sub/c.wav", folder + "A Sub/deeper/d.wav", folder + "a.wav",
                                 folder + "b.mp4"}));
    ASSERT_EQ(m_messages.size(), 1) << m_messages.join("\n----\n").toStdString();
    const QString& message = m_messages[0];
    EXPECT_TRUE(message.startsWith("4 files were not added.")) << message.toStdString();
    for (const QString& named : {folder + "broken.mp4", folder + "notes.txt", folder + "A Sub/readme.txt", web})
        EXPECT_TRUE(message.contains(named)) << named.toStdString() << "\n" << message.toStdString();
    EXPECT_TRUE(message.contains("Cannot be read:\n" + folder + "broken.mp4"));
    EXPECT_FALSE(message.contains(".hidden"));

    // Something dragged that names no file at all (text from an editor) is not taken.
    QMimeData text;
    text.setText("hello");
    QDragEnterEvent enter(QPoint(50, 200), Qt::CopyAction, &text, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(m_dialog, &enter);
    EXPECT_FALSE(enter.isAccepted());
    // A folder holding nothing at all is said so, not passed over without a word.
    m_messages.clear();
    TempFolder empty{"velmora-empty"};
    Drag({QUrl::fromLocalFile(QString::fromStdString(empty.Path()))}, true);
    EXPECT_EQ(m_messages, QStringList{"No media files were found in what was dropped."});
    EXPECT_EQ(List().RowCount(), 4);
}

// A dropped library rendered with Keep Folder Structure lands in the same sub-folders;
// dropped and rendered again with Skip Files Already Converted, nothing converts and
// every row shows the output it already has.
TEST_F(QueueTest, ADroppedTreeKeepsItsFoldersAndIsSkippedTheSecondTime)
{
    const Media& media = TestMedia();
    TempFolder dropped{"velmora-lib"};
    fs::create_directories(dropped.Path() + "Lib/A");
    fs::create_directories(dropped.Path() + "Lib/B/C");
    fs::copy_file(media.song, dropped.Path() + "Lib/A/x.wav");
    fs::copy_file(media.song, dropped.Path() + "Lib/B/C/y.wav");
    fs::copy_file(media.song, dropped.Path() + "z.wav");
    KvFrontEndState& state = KvFrontEndState::Instance();
    state.SetKeepFolderStructure(true);
    state.SetSkipConverted(true);
    const auto reset = qScopeGuard([&] {
        state.SetKeepFolderStructure(false);
        state.SetSkipConverted(false);
    });
    const QList<QUrl> urls{QUrl::fromLocalFile(QString::fromStdString(dropped.Path() + "Lib")),
                           QUrl::fromLocalFile(QString::fromStdString(dropped.Path() + "z.wav"))};

    Drag(urls, true);
    ASSERT_EQ(List().RowCount(), 3);
    ASSERT_TRUE(RenderAndWait());
    const QStringList outputs{Target("A/(output001)x.wma"), Target("B/C/(output002)y.wma"), Target("(output003)z.wma")};
    for (int row = 0; row < 3; ++row) {
        EXPECT_EQ(List().StateText(row), "Finish") << List().RowToolTip(row).toStdString();
        EXPECT_TRUE(QFileInfo::exists(outputs[row])) << outputs[row].toStdString();
    }

    m_dialog->ListControl()->SetSelectedRow(0, false);
    ASSERT_TRUE(List().RemoveAll());
    Drag(urls, true);
    ASSERT_EQ(List().RowCount(), 3);
    ASSERT_TRUE(RenderAndWait());
    for (int row = 0; row < 3; ++row) {
        EXPECT_EQ(List().StateText(row), "Finish");
        EXPECT_EQ(List().RowToolTip(row), "Converted before into " + outputs[row] + "; skipped.");
    }
    int files = 0;
    for (const auto& entry : fs::recursive_directory_iterator(m_target.Path()))
        files += entry.is_regular_file() && entry.path().filename().string()[0] != '.';
    EXPECT_EQ(files, 3) << "the second Render wrote nothing";
}

// While Render runs (or another of our windows is open) the drag is not taken and the
// window says why; a drop that arrives anyway adds nothing and is answered once.
TEST_F(QueueTest, DropsAreRefusedWhileRenderRunsOrAnotherWindowIsOpen)
{
    const Media& media = TestMedia();
    ASSERT_EQ(List().AddFiles({QString::fromStdString(media.song)}), 1);
    const QList<QUrl> clip{QUrl::fromLocalFile(QString::fromStdString(media.clip))};
    QSignalSpy stopped(m_dialog, &CKvMainDlg::queueStopped);
    ASSERT_TRUE(m_dialog->StartQueue(QString::fromStdString(m_target.Path())));
    ASSERT_FALSE(m_dialog->IsIdle());

    const DragAnswer over = Drag(clip, false);
    EXPECT_FALSE(over.taken);
    EXPECT_TRUE(over.hint.contains("while Render is running")) << over.hint.toStdString();
    const DragAnswer dropped = Drag(clip, true);
    EXPECT_FALSE(dropped.taken);
    EXPECT_EQ(List().RowCount(), 1);
    ASSERT_EQ(m_messages.size(), 1);
    EXPECT_EQ(m_messages[0], over.hint);
    ASSERT_TRUE(stopped.count() > 0 || stopped.wait(60000));
    EXPECT_EQ(List().RowCount(), 1) << "a refused drop does not wait for the queue";

    {
        QDialog other(m_dialog);
        other.setModal(true);
        other.show();
        const DragAnswer blocked = Drag(clip, false);
        EXPECT_FALSE(blocked.taken);
        EXPECT_TRUE(blocked.hint.contains("another window")) << blocked.hint.toStdString();
    }
    EXPECT_TRUE(Drag(clip, true).taken);
    EXPECT_EQ(List().RowCount(), 2);
}

// A drop while an add is reading a long Windows Media file does not start a second add
// inside it: its files follow the add's own, and one message tells what both left out.
TEST_F(QueueTest, ADropDuringAnAddJoinsIt)
{
    const Media& media = TestMedia();
    const std::string longWmv = media.folder.Path() + "long.wmv";
    ASSERT_EQ(RunCommand("ffmpeg -v error -y -f lavfi -i sine=frequency=300:sample_rate=44100 -t 300 -c:a wmav2 "
                         + ShellQuote(longWmv)),
              0);
    TempFolder dropped{"velmora-drop"};
    fs::copy_file(media.song, dropped.Path() + "dropped.wav");
    WriteFileBytes(dropped.Path() + "dropped broken.mp3", "no sound here");
    bool duringAdd = false;
    QTimer::singleShot(0, m_dialog, [&] {
        duringAdd = List().IsAdding();
        EXPECT_TRUE(Drag({QUrl::fromLocalFile(QString::fromStdString(dropped.Path()))}, true).taken);
    });
    List().AddFiles({QString::fromStdString(longWmv), QString::fromStdString(media.clip)});
    ASSERT_TRUE(duringAdd) << "the extraction ran no events; the case was not exercised";
    ASSERT_EQ(List().RowCount(), 3);
    EXPECT_EQ(List().FilePath(0), QString::fromStdString(longWmv));
    EXPECT_EQ(List().FilePath(1), QString::fromStdString(media.clip));
    EXPECT_EQ(List().FilePath(2), QString::fromStdString(dropped.Path() + "dropped.wav"));
    ASSERT_EQ(m_messages.size(), 1) << m_messages.join("\n----\n").toStdString();
    EXPECT_TRUE(m_messages[0].contains("dropped broken.mp3"));
}

// A drop of a folder of thousands of files is walked and read off the GUI thread: the
// window keeps running its timers, the waiting dialog counts what was found and then
// read, and it alone takes input. Its Stop button (in the walk) and Esc (in the
// reading) end the gathering at once with nothing of the drop added, while a folder
// handed over by another start meanwhile is still walked and added after it.
TEST_F(QueueTest, AFolderOfThousandsIsWalkedOnAWorkerAndStopAddsNothingOfIt)
{
    const Media& media = TestMedia();
    TempFolder library{"velmora-library"};
    for (int folder = 0; folder < 20; ++folder) {
        const std::string sub = library.Path() + "Disc " + std::to_string(folder) + "/";
        fs::create_directories(sub);
        for (int file = 0; file < 100; ++file)
            WriteFileBytes(sub + "track " + std::to_string(file) + (file % 2 ? ".mp3" : ".flac"), "");
    }
    TempFolder handed{"velmora-handed"};
    fs::create_directories(handed.Path() + "b");
    fs::copy_file(media.song, handed.Path() + "b/one.wav");
    fs::copy_file(media.song, handed.Path() + "A.wav");
    // Each entry and each file takes half a millisecond more, so the walk and the
    // reading last long enough to be watched.
    KvSourceGatherer::SetStepHookForTesting([] { std::this_thread::sleep_for(std::chrono::microseconds(500)); });
    const auto unhook = qScopeGuard([] { KvSourceGatherer::SetStepHookForTesting({}); });
    const QList<QUrl> drop{QUrl::fromLocalFile(QString::fromStdString(library.Path()))};

    enum class Press { StopButton, Escape };
    for (const Press press : {Press::StopButton, Press::Escape}) {
        SCOPED_TRACE(press == Press::StopButton ? "Stop button" : "Esc");
        m_messages.clear();
        const int rowsBefore = List().RowCount();
        int ticks = 0;
        QTimer ticker;
        QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
        ticker.start(10);
        // Watches the dialog from the GUI thread's own events, presses Stop in the
        // phase under test, and times how long the gathering takes to end after.
        const QString phase = press == Press::StopButton ? QStringLiteral("Looking for media files")
                                                         : QStringLiteral("Reading ");
        QStringList seen;
        bool modal = false;
        QElapsedTimer sinceStop;
        QTimer watch;
        QObject::connect(&watch, &QTimer::timeout, [&] {
            CKvWaitingDlg* dialog = m_dialog->Gatherer()->Dialog();
            if (!dialog || !dialog->isVisible() || sinceStop.isValid())
                return;
            if (seen.isEmpty() || seen.back() != dialog->Text())
                seen << dialog->Text();
            if (!dialog->Text().startsWith(phase) || seen.size() < 3)
                return;
            modal = QApplication::activeModalWidget() == dialog;
            // Another start hands a folder over while the drop is walked.
            m_dialog->AddFiles({QString::fromStdString(handed.Path())});
            sinceStop.start();
            if (press == Press::StopButton)
                QTest::mouseClick(dialog->windowHandle(), Qt::LeftButton, {}, dialog->StopButtonRect().center());
            else
                QTest::keyClick(dialog->windowHandle(), Qt::Key_Escape);
        });
        watch.start(30);
        QElapsedTimer clock;
        clock.start();
        Drag(drop, true);
        const qint64 afterStop = sinceStop.isValid() ? sinceStop.elapsed() : -1;
        watch.stop();

        ASSERT_GE(afterStop, 0) << "the dialog never showed \"" << phase.toStdString() << "\"; seen: "
                                << seen.join(" | ").toStdString();
        EXPECT_LT(afterStop, 700) << "Stop did not end the gathering at once";
        EXPECT_GT(ticks, clock.elapsed() / 10 / 3) << "the GUI thread stopped running its timers";
        EXPECT_TRUE(modal) << "the waiting dialog must be the one window that takes input";
        EXPECT_FALSE(m_dialog->IsGathering());
        // The count read as the walk went, in groups of thousands, and only grew.
        const QRegularExpression counting(press == Press::StopButton
                                              ? QStringLiteral("^Looking for media files\\x{2026} ([0-9,]+) found$")
                                              : QStringLiteral("^Reading ([0-9,]+) of 2,000 files\\x{2026}$"));
        int last = -1;
        for (const QString& text : seen) {
            const QRegularExpressionMatch match = counting.match(text);
            if (!match.hasMatch())
                continue;
            const int count = match.captured(1).remove(u',').toInt();
            EXPECT_GE(count, last) << text.toStdString();
            last = count;
        }
        EXPECT_GT(last, 0) << seen.join(" | ").toStdString();
        EXPECT_TRUE(QTest::qWaitFor([&] { return List().RowCount() == rowsBefore + 2; }, 5000));
        ASSERT_EQ(List().RowCount(), rowsBefore + 2) << "the handed-over folder was lost";
        EXPECT_EQ(List().FilePath(rowsBefore), QString::fromStdString(handed.Path() + "A.wav"));
        EXPECT_EQ(List().FilePath(rowsBefore + 1), QString::fromStdString(handed.Path() + "b/one.wav"));
        EXPECT_TRUE(m_messages.isEmpty()) << m_messages.join("\n----\n").toStdString();
        for (QWidget* widget : QApplication::topLevelWidgets())
            EXPECT_FALSE(qobject_cast<CKvWaitingDlg*>(widget) && widget->isVisible()) << "the dialog stayed";
    }
}

// ---- Finished rows ---------------------------------------------------------------

namespace {

// Stands in for the desktop: records what it was asked to show and play, and fails
// when told to.
struct FakeDesktop : KvDesktopOpener
{
    QStringList* shown;
    QStringList* played;
    bool fail = false;

    FakeDesktop(QStringList* shownFiles, QStringList* playedFiles, bool failing)
        : shown(shownFiles), played(playedFiles), fail(failing)
    {
    }
    void ShowInFolder(const QString& file, Failed failed) override
    {
        *shown << file;
        if (fail)
            failed();
    }
    void Open(const QString& file, Failed failed) override
    {
        *played << file;
        if (fail)
            failed();
    }
};

} // namespace

TEST_F(QueueTest, FinishedRowsOfferTheirOutputInItsFolderAndToPlay)
{
    const Media& media = TestMedia();
    QStringList shown;
    QStringList played;
    m_dialog->SetDesktopOpener(std::make_unique<FakeDesktop>(&shown, &played, false));
    ASSERT_EQ(List().AddFiles({QString::fromStdString(media.song)}), 1);
    const QString remove = QStringLiteral("&Remove\tDelete");
    EXPECT_EQ(MenuOf(0), (QStringList{"&Preview", remove})) << "nothing to show before a Render";
    ASSERT_TRUE(RenderAndWait());
    ASSERT_EQ(List().StateText(0), "Finish");
    const QString output = Target("(output001)song.wma");
    ASSERT_TRUE(QFileInfo::exists(output));
    ASSERT_EQ(List().AddFiles({QString::fromStdString(media.clip)}), 1);

    const QStringList offered{"&Preview", "Show in &Folder", "P&lay", remove};
    EXPECT_EQ(MenuOf(0), offered);
    EXPECT_EQ(MenuOf(1), (QStringList{"&Preview", remove})) << "a row not rendered has no output";
    // The output travels with its row.
    m_dialog->ListControl()->SetSelectedRow(0, false);
    ASSERT_TRUE(List().MoveDown());
    EXPECT_EQ(MenuOf(1), offered);
    EXPECT_EQ(List().FinishedOutput(1), output);
    EXPECT_TRUE(List().FinishedOutput(0).isEmpty());

    m_dialog->ListControl()->SetSelectedRow(1, false);
    m_dialog->OnCommand(CKvMainDlg::kIdShowInFolder);
    m_dialog->OnCommand(CKvMainDlg::kIdPlayOutput);
    EXPECT_EQ(shown, QStringList{output});
    EXPECT_EQ(played, QStringList{output});
    EXPECT_TRUE(m_messages.isEmpty()) << m_messages.join('\n').toStdString();

    // A desktop that cannot show it: the user is told where the file is.
    m_dialog->SetDesktopOpener(std::make_unique<FakeDesktop>(&shown, &played, true));
    m_dialog->OnCommand(CKvMainDlg::kIdShowInFolder);
    m_dialog->OnCommand(CKvMainDlg::kIdPlayOutput);
    ASSERT_EQ(m_messages.size(), 2);
    EXPECT_TRUE(m_messages[0].startsWith("No file manager could be opened") && m_messages[0].contains(output));
    EXPECT_TRUE(m_messages[1].startsWith("No program could be opened to play") && m_messages[1].contains(output));

    // The output deleted since: the items say so and do nothing.
    m_messages.clear();
    ASSERT_TRUE(QFile::remove(output));
    EXPECT_EQ(MenuOf(1),
              QStringList({"&Preview", "Show in &Folder (file is gone) [off]", "P&lay (file is gone) [off]", remove}));
    m_dialog->ListControl()->SetSelectedRow(1, false);
    m_dialog->OnCommand(CKvMainDlg::kIdPlayOutput);
    EXPECT_EQ(m_messages, QStringList{"The output file is gone:\n" + output});
    EXPECT_EQ(played.size(), 2);

    // New settings make the row wait for the next Render: its old output is not offered.
    m_dialog->SetSettingsRunner([] { return true; });
    m_dialog->OnCommand(CKvMainDlg::kIdSettings);
    EXPECT_EQ(MenuOf(1), (QStringList{"&Preview", remove}));
}
