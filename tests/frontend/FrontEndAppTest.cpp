// Start-up and shutdown of the front end: the single-instance lock and the hand-over
// of files, the work folder, the job block and what a user is told when either cannot
// be made, and emptying tmp/ without ever leaving it.

#include "MediaTestSupport.h"
#include "common/KvEngineSlot.h"
#include "common/KvJobBlock.h"
#include "common/KvProgramFolder.h"
#include "common/KvSharedMemory.h"
#include "frontend/KvFrontEndApp.h"
#include "frontend/KvFrontEndState.h"
#include "frontend/KvMessageDlg.h"
#include "support/EnvScope.h"
#include "support/TempFolder.h"
#include "ui/KvUIManager.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLocalServer>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>
#include <QThread>

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <filesystem>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace velmora;
using namespace velmora::test;

namespace {

bool IsAllZero(const tagKvJobBlock* block)
{
    const auto* bytes = reinterpret_cast<const unsigned char*>(block);
    for (size_t i = 0; i < sizeof(tagKvJobBlock); ++i) {
        if (bytes[i] != 0)
            return false;
    }
    return true;
}

QProcessEnvironment OffscreenEnvironment()
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    return env;
}

// Starts the window program of folder offscreen; true once it holds the lock and
// listens for hand-overs.
bool StartWindow(QProcess& window, const TempProgramFolder& folder)
{
    window.setProcessEnvironment(OffscreenEnvironment());
    window.start(QString::fromStdString(folder.Path() + "velmora"), {});
    if (!window.waitForStarted(5000))
        return false;
    const QString channel = CKvLumoApp::ChannelPath(folder.Path());
    QElapsedTimer clock;
    clock.start();
    while (!QFileInfo::exists(channel) && clock.elapsed() < 10000)
        QThread::msleep(50);
    return QFileInfo::exists(channel);
}

// Points the front end at a program folder for the life of the object.
struct ProgramFolderScope
{
    explicit ProgramFolderScope(const std::string& folder)
    {
        SetProgramFolderForTesting(folder);
        CKvUIManager::SetResourceFolder(QString::fromStdString(folder));
    }
    ~ProgramFolderScope() { SetProgramFolderForTesting(std::string()); }
};

} // namespace

TEST(DeleteFolderContents, EmptiesNestedReadOnlyContentButNeverLeavesTheFolder)
{
    TempFolder root;
    const std::string tmp = root.Path() + "tmp/";
    const std::string outside = root.Path() + "outside/";
    fs::create_directories(tmp + "link/deeper");
    fs::create_directories(outside + "dir");
    WriteFileBytes(outside + "keep.txt", "keep");
    WriteFileBytes(outside + "dir/keep2.txt", "keep");
    WriteFileBytes(tmp + "option.dat", "x");
    WriteFileBytes(tmp + ".hidden", "x");
    WriteFileBytes(tmp + "link/deeper/a.wav", "x");
    WriteFileBytes(tmp + "readonly.txt", "x");
    chmod((tmp + "readonly.txt").c_str(), 0444);
    fs::create_directories(tmp + "lockeddir");
    WriteFileBytes(tmp + "lockeddir/inside.txt", "x");
    chmod((tmp + "lockeddir").c_str(), 0555);
    fs::create_symlink(outside + "keep.txt", tmp + "file-link");
    fs::create_directory_symlink(outside + "dir", tmp + "dir-link");
    fs::create_symlink(root.Path() + "missing", tmp + "dangling");

    EXPECT_TRUE(DeleteFolderContents(tmp));

    EXPECT_TRUE(fs::is_directory(tmp)) << "the folder itself stays";
    EXPECT_TRUE(fs::is_empty(tmp));
    EXPECT_EQ(ReadFileBytes(outside + "keep.txt"), "keep") << "a link is removed, not followed";
    EXPECT_EQ(ReadFileBytes(outside + "dir/keep2.txt"), "keep");
}

TEST(DeleteFolderContents, RefusesRootsMissingFoldersAndALinkedFolder)
{
    EXPECT_FALSE(DeleteFolderContents(""));
    EXPECT_FALSE(DeleteFolderContents("/"));
    EXPECT_FALSE(DeleteFolderContents("/ab"));
    TempFolder root;
    EXPECT_FALSE(DeleteFolderContents(root.Path() + "no-such-folder/"));
    fs::create_directories(root.Path() + "real");
    WriteFileBytes(root.Path() + "real/data", "keep");
    fs::create_directory_symlink(root.Path() + "real", root.Path() + "tmp");
    EXPECT_FALSE(DeleteFolderContents(root.Path() + "tmp/"));
    EXPECT_EQ(ReadFileBytes(root.Path() + "real/data"), "keep");
}

TEST(FrontEndApp, StartupEmptiesTmpZeroesTheBlockAndShutdownEmptiesTmp)
{
    velmora::fetest::EnsureApplication();
    TempProgramFolder folder(true);
    ProgramFolderScope scope(folder.Path());
    WriteFileBytes(folder.Work() + "tmp/wavfiles.dat", "<WavFiles/>");
    fs::create_directories(folder.Work() + "tmp/link");
    WriteFileBytes(folder.Work() + "tmp/link/notice.jpg", "x");

    CKvLumoApp app;
    ASSERT_TRUE(app.Startup());
    EXPECT_TRUE(fs::is_empty(folder.Work() + "tmp/")) << "nothing of a crashed run is reused";
    const tagKvJobBlock* block = KvFrontEndState::Instance().JobBlock();
    ASSERT_NE(block, nullptr);
    EXPECT_TRUE(IsAllZero(block));
    EXPECT_EQ(KvFrontEndState::Instance().CurrentPresetIndex(), 4);
    EXPECT_EQ(KvFrontEndState::Instance().OutputWidth(), 856);

    WriteFileBytes(folder.Work() + "tmp/option.dat", "x");
    fs::create_directories(folder.Work() + "tmp/a/b");
    WriteFileBytes(folder.Work() + "tmp/a/b/c.wav", "x");
    chmod((folder.Work() + "tmp/a/b/c.wav").c_str(), 0444);
    app.ExitInstance();
    EXPECT_TRUE(fs::is_directory(folder.Work() + "tmp/"));
    EXPECT_TRUE(fs::is_empty(folder.Work() + "tmp/"));
    EXPECT_EQ(KvFrontEndState::Instance().JobBlock(), nullptr);
    EXPECT_FALSE(app.HoldsLock());
}

TEST(FrontEndApp, SecondStartHandsItsFilesOverAndTouchesNothing)
{
    velmora::fetest::EnsureApplication();
    TempProgramFolder folder(true);
    ProgramFolderScope scope(folder.Path());

    CKvLumoApp first;
    ASSERT_TRUE(first.Startup());
    tagKvJobBlock* block = KvFrontEndState::Instance().JobBlock();
    block->nPreset = 7;
    WriteFileBytes(folder.Work() + "tmp/option.dat", "job");
    QSignalSpy handed(&first, &CKvLumoApp::filesHandedOver);

    // The second start runs its own event loop only long enough to send; the first
    // answers from ours, so send from a helper thread's point of view by letting the
    // hand-over wait while we spin the loop.
    CKvLumoApp second;
    bool secondStarted = true;
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [&] { secondStarted = second.Startup({"/media/a b.mp4", "/media/c.wav"}); },
        Qt::QueuedConnection);
    QElapsedTimer clock;
    clock.start();
    while (handed.isEmpty() && clock.elapsed() < 5000)
        QTest::qWait(20);

    EXPECT_FALSE(secondStarted);
    EXPECT_TRUE(second.IsSecondInstance());
    EXPECT_EQ(second.ExitInstance(), 0);
    ASSERT_EQ(handed.size(), 1);
    EXPECT_EQ(handed.at(0).at(0).toStringList(), (QStringList{"/media/a b.mp4", "/media/c.wav"}));
    EXPECT_EQ(ReadFileBytes(folder.Work() + "tmp/option.dat"), "job") << "the second start left tmp/ alone";
    EXPECT_EQ(KvFrontEndState::Instance().JobBlock(), block);
    EXPECT_EQ(block->nPreset, 7);
    first.ExitInstance();
}

// A running instance that holds the lock but never takes the files (hung, or gone
// without its channel): the second start gives up after two seconds and says so.
TEST(FrontEndApp, ASecondStartWhoseFirstDoesNotAnswerSaysSoAfterTwoSeconds)
{
    velmora::fetest::EnsureApplication();
    TempProgramFolder folder(true);
    ProgramFolderScope scope(folder.Path());
    QStringList messages;
    SetMessageHookForTesting([&](const QString&, const QString& text, int) {
        messages << text;
        return int(CKvMessageDlg::kIdOk);
    });

    // The lock is held, nobody listens.
    const int lock = open(QFile::encodeName(CKvLumoApp::LockPath(folder.Path())).constData(), O_RDWR | O_CREAT, 0600);
    ASSERT_GE(lock, 0);
    ASSERT_EQ(flock(lock, LOCK_EX | LOCK_NB), 0);
    CKvLumoApp second;
    QElapsedTimer clock;
    clock.start();
    EXPECT_FALSE(second.Startup({"/media/a.mp4"}));
    EXPECT_LT(clock.elapsed(), 5000) << "it waited far beyond its two seconds";
    EXPECT_TRUE(second.IsSecondInstance());
    EXPECT_EQ(messages, QStringList{CKvLumoApp::NotAnsweringMessage(true)});

    // Someone listens but never answers: no answer is no hand-over.
    QLocalServer silent;
    ASSERT_TRUE(silent.listen(CKvLumoApp::ChannelPath(folder.Path())));
    EXPECT_FALSE(CKvLumoApp::HandOverFiles(folder.Path(), {"/media/a.mp4"}, 300));
    silent.close();
    close(lock);
    SetMessageHookForTesting({});
}

TEST(FrontEndApp, SecondProcessExitsAtOnceAndTheFirstRunsOn)
{
    TempProgramFolder folder(true);
    const QString program = QString::fromStdString(folder.Path() + "velmora");
    if (!QFileInfo::exists(program))
        GTEST_SKIP() << "velmora is not built into the program folder";
    const QProcessEnvironment env = OffscreenEnvironment();
    QProcess first;
    ASSERT_TRUE(StartWindow(first, folder));
    const QString channel = CKvLumoApp::ChannelPath(folder.Path());
    WriteFileBytes(folder.Work() + "tmp/marker", "first");
    QElapsedTimer clock;

    QProcess second;
    second.setProcessEnvironment(env);
    clock.start();
    second.start(program, {QString::fromStdString(folder.Path() + "no-such-file.mp4")});
    ASSERT_TRUE(second.waitForFinished(5000));
    EXPECT_LT(clock.elapsed(), 5000);
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_EQ(first.state(), QProcess::Running);
    EXPECT_EQ(ReadFileBytes(folder.Work() + "tmp/marker"), "first");
    first.kill();
    first.waitForFinished(5000);
    // A killed front end leaves its objects behind; this one was ours to remove.
    shm_unlink(SharedObjectName(kKvJobBlockGuid, folder.Path()).c_str());
    QFile::remove(channel);
    QFile::remove(CKvLumoApp::LockPath(folder.Path()));
}

// A desktop's logout (SIGTERM), a closed terminal (SIGHUP) and Ctrl-C end the window
// program as Close does: status 0, tmp/ emptied, the job block's object and the
// hand-over channel gone, the lock free for the next start.
class FrontEndStopSignal : public ::testing::TestWithParam<int>
{
};

TEST_P(FrontEndStopSignal, EndsTheWindowAsCloseDoesWithNothingLeftBehind)
{
    TempProgramFolder folder(true);
    if (!QFileInfo::exists(QString::fromStdString(folder.Path() + "velmora")))
        GTEST_SKIP() << "velmora is not built into the program folder";
    QProcess window;
    ASSERT_TRUE(StartWindow(window, folder));
    const QString channel = CKvLumoApp::ChannelPath(folder.Path());
    QThread::msleep(300); // the window's loop is running
    WriteFileBytes(folder.Work() + "tmp/marker", "left by a job");

    ASSERT_EQ(::kill(static_cast<pid_t>(window.processId()), GetParam()), 0);
    ASSERT_TRUE(window.waitForFinished(10000));
    EXPECT_EQ(window.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(window.exitCode(), 0);
    EXPECT_FALSE(fs::exists(folder.Work() + "tmp/marker"));
    EXPECT_FALSE(QFileInfo::exists(channel));
    const std::string block = SharedObjectName(kKvJobBlockGuid, folder.Path());
    const int fd = shm_open(block.c_str(), O_RDONLY, 0);
    EXPECT_LT(fd, 0) << "the job block's object is still there";
    if (fd >= 0) {
        close(fd);
        shm_unlink(block.c_str());
    }
    const int lock = open(CKvLumoApp::LockPath(folder.Path()).toStdString().c_str(), O_RDWR | O_CLOEXEC);
    if (lock >= 0) {
        EXPECT_EQ(flock(lock, LOCK_EX | LOCK_NB), 0) << "the instance lock is still held";
        close(lock);
    }
}

INSTANTIATE_TEST_SUITE_P(Signals, FrontEndStopSignal, ::testing::Values(SIGTERM, SIGHUP, SIGINT),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return std::string(info.param == SIGTERM ? "Term" : info.param == SIGHUP ? "Hangup" : "Interrupt");
                         });

TEST(FrontEndApp, AWorkFolderThatCannotBeMadeIsExplainedAndNothingStarts)
{
    velmora::fetest::EnsureApplication();
    TempProgramFolder folder(true);
    ProgramFolderScope scope(folder.Path());
    TempFolder state;
    WriteFileBytes(state.Path() + "not-a-folder", "x");
    EnvScope stateHome("XDG_STATE_HOME", state.Path() + "not-a-folder");
    QStringList shown;
    SetMessageHookForTesting([&](const QString&, const QString& text, int) {
        shown << text;
        return CKvMessageDlg::kIdOk;
    });

    CKvLumoApp app;
    EXPECT_EQ(app.InitInstance(), 0);
    SetMessageHookForTesting({});
    EXPECT_FALSE(app.IsSecondInstance());
    EXPECT_EQ(app.MainWindow(), nullptr);
    EXPECT_EQ(KvFrontEndState::Instance().JobBlock(), nullptr);
    ASSERT_EQ(shown.size(), 1) << "the user is told, once";
    EXPECT_EQ(shown.front(), app.StartupError());
    EXPECT_TRUE(shown.front().contains(QString::fromStdString(state.Path() + "not-a-folder/velmora")))
        << shown.front().toStdString();
    EXPECT_TRUE(shown.front().contains(QStringLiteral("XDG_STATE_HOME")));
    app.ExitInstance();
    EXPECT_FALSE(app.HoldsLock());
}

// A leftover under the job block's name that this user cannot remove: a folder
// stands in for it, since the administrator the tests run as may remove any object.
class JobBlockInTheWay : public ::testing::TestWithParam<bool>
{
};

TEST_P(JobBlockInTheWay, StartupNamesTheBlockAndWhatToDo)
{
    const bool otherUser = GetParam();
    if (otherUser && geteuid() != 0)
        GTEST_SKIP() << "giving the leftover to another user needs root";
    velmora::fetest::EnsureApplication();
    TempProgramFolder folder(true);
    ProgramFolderScope scope(folder.Path());
    const std::string name = JobBlockName(folder.Path(), 0);
    const std::string path = SharedObjectPath(name);
    ASSERT_EQ(mkdir(path.c_str(), 0700), 0);
    if (otherUser) {
        ASSERT_EQ(chown(path.c_str(), 65534, 65534), 0);
    }

    CKvLumoApp app;
    const bool started = app.Startup();
    rmdir(path.c_str());
    EXPECT_FALSE(started);
    const std::string text = app.StartupError().toStdString();
    EXPECT_NE(text.find(path), std::string::npos) << text;
    if (otherUser) {
        EXPECT_NE(text.find("65534"), std::string::npos) << text;
        EXPECT_NE(text.find("administrator"), std::string::npos) << text;
    } else {
        EXPECT_NE(text.find("cannot be removed"), std::string::npos) << text;
        EXPECT_NE(text.find("Remove " + path), std::string::npos) << text;
    }
    app.ExitInstance();
}

INSTANTIATE_TEST_SUITE_P(FrontEndApp, JobBlockInTheWay, ::testing::Values(false, true),
                         [](const auto& info) { return std::string(info.param ? "OfAnotherUser" : "OfThisUser"); });

TEST(FrontEndApp, JobBlockMessageNamesAProcessThatStillHoldsIt)
{
    TempProgramFolder folder;
    CKvSharedMemory held;
    ASSERT_TRUE(held.Create(JobBlockName(folder.Path(), 0), 1128));
    const std::string text = CKvLumoApp::JobBlockFailureText(held.Name(), EACCES).toStdString();
    EXPECT_NE(text.find("process " + std::to_string(getpid())), std::string::npos) << text;
    EXPECT_NE(text.find("kill " + std::to_string(getpid())), std::string::npos) << text;
}
