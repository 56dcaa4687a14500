// The conversion queue's own pieces: who holds which engine slot, what emptying the
// work folder's tmp/ spares, what a slot's engine finds in its job folder, and the
// names of the output files. The queue driven whole is in the window's tests
// (MainDlgQueueTest) and the command line's (CommandLineTest).

#include "MediaTestSupport.h"
#include "common/KvEngineSlot.h"
#include "common/KvProcess.h"
#include "common/KvProgramFolder.h"
#include "common/KvSharedMemory.h"
#include "frontend/KvEngineSlotLease.h"
#include "frontend/KvFrontEndState.h"
#include "frontend/KvMediaFiles.h"
#include "frontend/KvRenderQueue.h"
#include "support/TempFolder.h"

#include <QFileInfo>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <filesystem>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace velmora;
using namespace velmora::test;

namespace {

bool BlockExists(const std::string& folder, int slot)
{
    return fs::exists(SharedObjectPath(JobBlockName(folder, slot)));
}

// Another process that holds slot's owner lock until it is killed.
pid_t HoldSlotElsewhere(const std::string& folder, int slot)
{
    const pid_t pid = SpawnProgram("/bin/sh", {"-c", "exec 9>>\"$0\" && flock -n 9 && exec sleep 60",
                                               KvEngineSlotLease::LockPath(folder, slot)});
    const bool held = QTest::qWaitFor([&] {
        const int fd = KvEngineSlotLease::LockSlot(folder, slot);
        if (fd >= 0)
            close(fd);
        return fd < 0;
    }, 5000);
    EXPECT_TRUE(held);
    return pid;
}

} // namespace

TEST(EngineSlotLease, EverySlotHasOneHolderAndGoesBackEmpty)
{
    TempProgramFolder program;
    const std::string folder = program.Path();
    auto first = KvEngineSlotLease::TakeFree(folder, 2);
    ASSERT_EQ(first.size(), 2u);
    EXPECT_EQ(first[0]->Slot(), 1);
    EXPECT_EQ(first[1]->Slot(), 2);
    EXPECT_TRUE(BlockExists(folder, 1));
    EXPECT_EQ(first[0]->JobFolder(), JobFolder(folder, 1));
    EXPECT_EQ(first[0]->EngineArguments(), std::vector<std::string>{"--slot=1"});
    // A held slot is refused, also to this process.
    std::string why;
    EXPECT_EQ(KvEngineSlotLease::Take(folder, 1, &why), nullptr);
    EXPECT_NE(why.find("in use"), std::string::npos) << why;

    // Another process holds slot 3: the next free one is 4.
    const pid_t holder = HoldSlotElsewhere(folder, 3);
    auto more = KvEngineSlotLease::TakeFree(folder, 1);
    ASSERT_EQ(more.size(), 1u);
    EXPECT_EQ(more[0]->Slot(), 4);

    // What a holder leaves goes with it, its lock object too; a new holder never finds it.
    WriteFileBytes(first[0]->JobFolder() + "option.dat", "old");
    // Opened before the holder lets go: locking it afterwards holds nothing.
    const int stale = open(KvEngineSlotLease::LockPath(folder, 1).c_str(), O_RDWR);
    ASSERT_GE(stale, 0);
    first.clear();
    EXPECT_FALSE(BlockExists(folder, 1));
    EXPECT_FALSE(fs::exists(JobFolder(folder, 1)));
    EXPECT_FALSE(fs::exists(KvEngineSlotLease::LockPath(folder, 1)));
    EXPECT_EQ(flock(stale, LOCK_EX | LOCK_NB), 0);
    EXPECT_NE(KvEngineSlotLease::Take(folder, 1), nullptr) << "the slot is free under its name";
    close(stale);
    fs::create_directories(JobFolder(folder, 2));
    WriteFileBytes(JobFolder(folder, 2) + "kvengine.kvmmpj", "left by a crash");
    auto again = KvEngineSlotLease::Take(folder, 2);
    ASSERT_NE(again, nullptr);
    EXPECT_TRUE(fs::is_empty(again->JobFolder()));
    KillProcessById(holder);
}

// The window empties tmp/ when it starts and ends; the job folder of a run that
// converts beside it stays whole, and free slot folders go.
TEST(EngineSlotLease, EmptyingTmpSparesTheSlotsOthersHold)
{
    TempProgramFolder program;
    const std::string folder = program.Path();
    auto held = KvEngineSlotLease::Take(folder, 2);
    ASSERT_NE(held, nullptr);
    WriteFileBytes(held->JobFolder() + "kvengine.kvmmpj", "in use");
    fs::create_directories(JobFolder(folder, 5) + "deep");
    WriteFileBytes(JobFolder(folder, 5) + "deep/x", "left");
    fs::create_directories(JobFolder(folder, 0) + "slot-02");  // not a slot's name
    WriteFileBytes(JobFolder(folder, 0) + "option.dat", "window");

    const pid_t holder = HoldSlotElsewhere(folder, 6);
    fs::create_directories(JobFolder(folder, 6));
    WriteFileBytes(JobFolder(folder, 6) + "option.dat", "theirs");

    EXPECT_TRUE(EmptyWorkTmpFolder(folder));
    std::vector<std::string> left;
    for (const auto& entry : fs::recursive_directory_iterator(JobFolder(folder, 0)))
        left.push_back(fs::relative(entry.path(), JobFolder(folder, 0)).string());
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"slot-2", "slot-2/kvengine.kvmmpj", "slot-6", "slot-6/option.dat"}));
    KillProcessById(holder);
}

// An engine in slot k reads everything of its job from tmp/slot-k/, the WAV index of
// the Windows Media sources too.
TEST(RenderQueue, ASlotsEngineFindsTheWholeJobInItsOwnFolder)
{
    fetest::ProgramScope program;
    const std::string folder = program.Path();
    KvFrontEndState& state = KvFrontEndState::Instance();
    TempFolder target("velmora-out");
    // An engine that keeps what it found in its job folder and ends without output.
    const std::string seen = target.Path() + "seen/";
    fs::create_directories(seen);
    fs::remove(folder + "kvengine");
    WriteFileBytes(folder + "kvengine", "#!/bin/sh\ncp -r " + ShellQuote(program.Work() + "tmp/slot-")
                                            + "\"${1#--slot=}\"/. " + ShellQuote(seen) + "\nexit 1\n");
    chmod((folder + "kvengine").c_str(), 0755);

    // A Windows Media source has its sound extracted into the window's own tmp/.
    const std::string wmv = fetest::Media().wmv;
    PreExtractSound(folder, wmv, -1, [](const std::string&, const std::string& wav, int) {
        WriteFileBytes(wav, "RIFF");
        return true;
    });
    const KvSourceRow source = ReadSourceRow(QString::fromStdString(wmv));
    ASSERT_TRUE(source.problem.isEmpty()) << source.problem.toStdString();

    KvRenderQueue queue(state);
    QSignalSpy ended(&queue, &KvRenderQueue::rowEnded);
    QSignalSpy stopped(&queue, &KvRenderQueue::stopped);
    ASSERT_TRUE(queue.Start(QString::fromStdString(target.Path()), {{source.item.JobRow(), 0}}));
    ASSERT_TRUE(stopped.wait(10000) || !queue.IsRunning());
    ASSERT_EQ(ended.size(), 1);
    EXPECT_FALSE(ended[0][1].toBool()) << "the stand-in writes no output";
    for (const char* name : {"option.dat", "kvengine.kvmmpj", "wavfiles.dat"})
        EXPECT_TRUE(fs::exists(seen + name)) << name;
    EXPECT_EQ(ReadFileBytes(seen + "wavfiles.dat"), ReadFileBytes(program.Tmp() + "wavfiles.dat"));
    EXPECT_EQ(ReadFileBytes(seen + "option.dat").size(), 84u);
    EXPECT_TRUE(queue.HeldSlots().empty()) << "a run's slots go back when it ends";
}

// Two front ends that chose the same output name at the same moment: the engine that
// finds the other's partial file fails its row, and the other's file stays.
TEST(RenderQueue, ARowThatFailsLeavesAnotherWritersPartialFileAlone)
{
    fetest::ProgramScope program;
    TempFolder target("velmora-out");
    const KvSourceRow source = ReadSourceRow(QString::fromStdString(fetest::Media().audioOnly));
    ASSERT_TRUE(source.problem.isEmpty()) << source.problem.toStdString();

    KvRenderQueue queue(KvFrontEndState::Instance());
    std::string part;
    bool planted = false;
    // The engine is only just spawned when the row is announced: the other writer's
    // file comes first.
    QObject::connect(&queue, &KvRenderQueue::rowStarted, [&](int, const QString& output) {
        part = KvRenderQueue::PartialOutputPath(output).toStdString();
        const int fd = open(part.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
        if (fd >= 0) {
            planted = write(fd, "other", 5) == 5;
            close(fd);
        }
    });
    QSignalSpy ended(&queue, &KvRenderQueue::rowEnded);
    QSignalSpy stopped(&queue, &KvRenderQueue::stopped);
    ASSERT_TRUE(queue.Start(QString::fromStdString(target.Path()), {{source.item.JobRow(), 0}}));
    ASSERT_TRUE(stopped.wait(30000) || !queue.IsRunning());
    if (!planted)
        GTEST_SKIP() << "the engine made its file before the other writer";
    ASSERT_EQ(ended.size(), 1);
    EXPECT_FALSE(ended[0][1].toBool());
    EXPECT_EQ(ReadFileBytes(part), "other");
}

// The queue's part of naming: what is taken in the target folder (a file, a dangling
// link, a leftover partial file) or by a row still converting, and the source's tags
// read when the pattern asks for them.
TEST(OutputPath, SkipsNamesTakenInTheFolderOrByRunningRows)
{
    TempFolder folder;
    const QString dir = QString::fromStdString(folder.Path());
    const KvOutputNamePattern numbered;
    KvOutputNamePattern byName;
    ASSERT_TRUE(byName.Parse(L"{name}"));
    int counter = 0;
    auto build = [&](const KvOutputNamePattern& pattern, const QString& source, const QString& extension,
                     const std::function<bool(const QString&)>& inUse = {}) {
        tagKvJobRow row;
        row.file = source.toStdWString();
        return KvRenderQueue::BuildOutputPath(dir, pattern, KvRenderQueue::OutputNameValues(pattern, row), extension,
                                              counter, inUse);
    };
    EXPECT_EQ(build(numbered, "/videos/clip.final.mp4", ".wma"), dir + "(output001)clip.final.wma");

    WriteFileBytes(folder.Path() + "(output002)a.mp3", "x");
    WriteFileBytes(folder.Path() + "(output003)a.mp3.part", "x");
    ASSERT_EQ(symlink("/no/such/file", (folder.Path() + "(output004)a.mp3").c_str()), 0);
    EXPECT_EQ(build(numbered, "/x/a.wav", ".mp3"), dir + "(output005)a.mp3");

    WriteFileBytes(folder.Path() + "holiday clip.mp3", "x");
    auto converting = [&](const QString& path) { return path == dir + "holiday clip (2).mp3"; };
    EXPECT_EQ(build(byName, "/v/holiday clip.mp4", ".mp3", converting), dir + "holiday clip (3).mp3");
    EXPECT_EQ(counter, 6);

    // A name at the limit: the engine's partial file beside it has a name that fits too,
    // and a partial file left under that name takes the name.
    const QString longBase = QString(200, QChar(0x00E9)) + QString::fromUtf8("\xF0\x9F\x8E\xB5");
    const QString path = build(numbered, "/x/" + longBase + ".mkv", ".wma");
    const QString name = QFileInfo(path).fileName();
    EXPECT_EQ(name.toUtf8().size(), 255);
    EXPECT_TRUE(name.startsWith("(output007)"));
    const QString next = dir + QString(name).replace("(output007)", "(output008)");
    EXPECT_LE(QFileInfo(KvRenderQueue::PartialOutputPath(next)).fileName().toUtf8().size(), 255);
    WriteFileBytes(KvRenderQueue::PartialOutputPath(next).toStdString(), "x");
    EXPECT_TRUE(build(numbered, "/x/" + longBase + ".mkv", ".wma").startsWith(dir + "(output009)"));

    // Tags come from the source itself, "/" and all.
    const std::string tagged = folder.Path() + "tagged.mp3";
    ASSERT_TRUE(fetest::MakeMedia("-f lavfi -i sine=duration=0.2 -metadata title=\"Live/Part 1\" -metadata "
                                  "artist=\"\xC3\x9C\"",
                                  tagged));
    KvOutputNamePattern byTags;
    ASSERT_TRUE(byTags.Parse(L"{artist} - {title}"));
    EXPECT_EQ(build(byTags, QString::fromStdString(tagged), ".wma"), dir + QString::fromUtf8("\xC3\x9C - Live_Part 1.wma"));
    tagKvJobRow row;
    row.file = QString::fromStdString(tagged).toStdWString();
    EXPECT_TRUE(KvRenderQueue::OutputNameValues(byName, row).title.empty()) << "not read where not used";
}
