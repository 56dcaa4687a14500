// The graph owner in process: its states, its events, the position it publishes, and
// what a stopped or failed build leaves on disk.

#include "pipeline/KvVideoConverter.h"

#include "project/KvEngineProject.h"
#include "support/TempFolder.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <thread>
#include <vector>

using namespace velmora;
using namespace velmora::test;
namespace fs = std::filesystem;

namespace {

// A project whose audio line holds one silent item ending at duration.
void AddSilentItem(CKvEngineProject& project, double end)
{
    auto item = std::make_unique<CKvEngineItem>();
    item->dEditorStartTime = 0.0;
    item->dEditorEndTime = end;
    item->bHadAudio = 0;
    project.FindLine(kLineAudio)->AppendItem(std::move(item));
}

// Threads of this process: a graph that is gone must have taken its own with it.
std::size_t ThreadCount()
{
    return static_cast<std::size_t>(std::distance(fs::directory_iterator("/proc/self/task"), fs::directory_iterator()));
}

class Converter : public ::testing::Test
{
protected:
    std::unique_ptr<CKvVideoConverter> Make(double duration, int outputType = kKvOutputMp3)
    {
        if (duration != 0.0)
            AddSilentItem(m_project, duration);
        KvConverterSetup setup;
        setup.project = &m_project;
        setup.jobBlock = &m_block;
        setup.option = MakeFrontEndPresetTable()[4];
        setup.option.nOutputType = outputType;
        setup.option.nSampleRate = 44100;
        setup.programFolder = m_folder.Path();
        return std::make_unique<CKvVideoConverter>(setup);
    }

    std::string Output(const char* name = "out.mp3") const { return m_folder.Path() + name; }

    // Waits for the next event (up to 30 s).
    static long NextEvent(CKvVideoConverter& converter)
    {
        long code = 0;
        std::intptr_t p1 = 0, p2 = 0;
        if (converter.GetEvent(code, p1, p2, 30000) != S_OK)
            return -1;
        converter.FreeEventParams(code, p1, p2);
        return code;
    }

    TempProgramFolder m_folder;
    CKvEngineProject m_project;
    tagKvJobBlock m_block{};
};

} // namespace

TEST_F(Converter, BeforeAnyBuild)
{
    auto converter = Make(2.0);
    EXPECT_EQ(converter->GetState(), kKvGraphNone);
    EXPECT_EQ(converter->GetPosition(), 0.0);
    EXPECT_EQ(converter->GetDuration(), 0.0);
    EXPECT_EQ(converter->Run(), -1) << "no output path: nothing to build";
    EXPECT_EQ(converter->Stop(), S_OK);
    EXPECT_EQ(converter->Pause(), S_OK);
    EXPECT_EQ(converter->TearDown(), S_OK);
    EXPECT_EQ(converter->TearDown(), S_OK);
    long code;
    std::intptr_t p1, p2;
    EXPECT_EQ(converter->GetEvent(code, p1, p2, 0), E_ABORT);
    EXPECT_EQ(GetProjectDuration(nullptr), 0.0);
}

TEST_F(Converter, CompletesFileFirstThenPostsCompletion)
{
    auto converter = Make(3.0);
    std::atomic<int> notices{0};
    std::atomic<int> message{0};
    std::atomic<bool> fileWholeAtNotice{false};
    const std::string output = Output();
    converter->SetNotifyWindow(
        [&](int m) {
            message = m;
            fileWholeAtNotice = fs::exists(output) && !fs::exists(output + ".part");
            ++notices;
        },
        2050);

    // The position must only grow and never pass the length while the graph runs.
    std::atomic<bool> watching{true};
    std::vector<double> seen;
    std::thread watcher([&] {
        while (watching) {
            seen.push_back(LoadAcquire(m_block.dPosition));
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    });

    ASSERT_EQ(converter->BuildConversionGraph(output), S_OK) << converter->LastError();
    EXPECT_EQ(m_block.bGraphRunning, 1);
    EXPECT_EQ(converter->GetDuration(), 3.0);
    EXPECT_EQ(converter->Run(), S_OK) << "a running graph is left alone";
    EXPECT_EQ(NextEvent(*converter), EC_COMPLETE);
    watching = false;
    watcher.join();
    // The event is queued before the owner is told: the notice may come a moment later.
    for (int i = 0; i < 5000 && notices.load() == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));

    EXPECT_EQ(notices.load(), 1);
    EXPECT_EQ(message.load(), 2050);
    EXPECT_TRUE(fileWholeAtNotice.load());
    EXPECT_EQ(converter->GetState(), kKvGraphStopped);
    EXPECT_DOUBLE_EQ(converter->GetPosition(), 3.0);
    EXPECT_DOUBLE_EQ(m_block.dPosition, 3.0);
    for (std::size_t i = 1; i < seen.size(); ++i) {
        ASSERT_GE(seen[i], seen[i - 1]) << "at sample " << i;
        ASSERT_LE(seen[i], 3.0);
    }

    converter.reset(); // tearing a finished graph down keeps its file
    EXPECT_TRUE(fs::exists(output));
}

TEST_F(Converter, LevelMeterGetsOneRecordPerTimeLineFrame)
{
    m_project.bHasVuMeter = 1;
    auto converter = Make(1.5);
    ASSERT_EQ(converter->BuildConversionGraph(Output()), S_OK) << converter->LastError();
    EXPECT_EQ(NextEvent(*converter), EC_COMPLETE);
    CKvLevelMap reader;
    ASSERT_TRUE(reader.Open(m_folder.Path()));
    EXPECT_EQ(reader.FrameTotal(), 45);
    EXPECT_EQ(reader.WriteCount(), 45u);
}

TEST_F(Converter, StoppedMidStreamLeavesNothingAndPostsNothing)
{
    const std::size_t threadsBefore = ThreadCount();
    auto converter = Make(600.0);
    const std::string output = Output();
    ASSERT_EQ(converter->BuildConversionGraph(output), S_OK) << converter->LastError();
    while (converter->GetPosition() < 1.0)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));

    EXPECT_EQ(converter->Pause(), S_OK);
    EXPECT_EQ(converter->GetState(), kKvGraphPaused);
    const double held = converter->GetPosition();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(converter->GetPosition(), held);
    EXPECT_EQ(converter->Run(), S_OK);
    EXPECT_EQ(converter->GetState(), kKvGraphRunning);

    EXPECT_EQ(converter->Stop(), S_OK);
    EXPECT_EQ(converter->GetState(), kKvGraphStopped);
    EXPECT_FALSE(fs::exists(output));
    EXPECT_FALSE(fs::exists(output + ".part"));
    long code;
    std::intptr_t p1, p2;
    EXPECT_EQ(converter->GetEvent(code, p1, p2, 50), E_ABORT);
    EXPECT_EQ(converter->TearDown(), S_OK);
    EXPECT_EQ(converter->GetState(), kKvGraphNone);
    EXPECT_EQ(converter->GetDuration(), 0.0);
    EXPECT_EQ(ThreadCount(), threadsBefore) << "the streaming and encoder threads end with the graph";
}

TEST_F(Converter, AWriteFailureWhileEncodingAbortsWithTheReasonAndLeavesNothing)
{
    // A disk that fills up in the middle: writes past 64 kB fail with EFBIG.
    struct FileSizeLimit
    {
        rlimit saved{};
        void (*savedHandler)(int) = nullptr;
        FileSizeLimit()
        {
            getrlimit(RLIMIT_FSIZE, &saved);
            savedHandler = std::signal(SIGXFSZ, SIG_IGN);
            rlimit limited = saved;
            limited.rlim_cur = 64 * 1024;
            setrlimit(RLIMIT_FSIZE, &limited);
        }
        ~FileSizeLimit()
        {
            setrlimit(RLIMIT_FSIZE, &saved);
            std::signal(SIGXFSZ, savedHandler);
        }
    };

    const std::size_t threadsBefore = ThreadCount();
    const std::string output = Output();
    {
        auto converter = Make(60.0);
        FileSizeLimit limit;
        ASSERT_EQ(converter->BuildConversionGraph(output), S_OK) << converter->LastError();
        EXPECT_EQ(NextEvent(*converter), EC_ERRORABORT);
        EXPECT_NE(converter->LastError().find("writing"), std::string::npos) << converter->LastError();
        EXPECT_LT(converter->GetPosition(), 60.0);
    }
    EXPECT_FALSE(fs::exists(output));
    EXPECT_FALSE(fs::exists(output + ".part"));
    EXPECT_EQ(ThreadCount(), threadsBefore);
}

TEST_F(Converter, BuildFailuresLeaveNoGraphAndSayWhy)
{
    {
        auto converter = Make(0.0);
        EXPECT_LT(converter->BuildConversionGraph(Output()), 0);
        EXPECT_NE(converter->LastError().find("no length"), std::string::npos) << converter->LastError();
    }
    {
        CKvEngineProject project;
        auto converter = Make(1.0);
        EXPECT_LT(converter->BuildConversionGraph(""), 0);
    }
    {
        auto converter = Make(1.0, 8); // Windows Media, but no profile in tmp/
        EXPECT_LT(converter->BuildConversionGraph(Output("out.asf")), 0);
        EXPECT_NE(converter->LastError().find("wmv.prx"), std::string::npos) << converter->LastError();
        EXPECT_EQ(converter->GetState(), kKvGraphNone);
    }
    {
        auto converter = Make(1.0);
        EXPECT_LT(converter->BuildConversionGraph(m_folder.Path() + "no/such/folder/out.mp3"), 0);
        EXPECT_FALSE(converter->LastError().empty());
    }
    EXPECT_EQ(m_block.bGraphRunning, 0);
    EXPECT_TRUE(fs::is_empty(m_folder.Work() + "tmp"));
}

TEST_F(Converter, EveryCodeButSevenAndEightTakesTheMp3Chain)
{
    for (int code : {1, 3, 6, 9, 13}) {
        CKvEngineProject project;
        AddSilentItem(project, 0.2);
        KvConverterSetup setup;
        setup.project = &project;
        setup.option = MakeFrontEndPresetTable()[4];
        setup.option.nOutputType = code;
        setup.programFolder = m_folder.Path();
        CKvVideoConverter converter(setup);
        const std::string output = Output("code.out");
        ASSERT_EQ(converter.BuildConversionGraph(output), S_OK) << code << ": " << converter.LastError();
        EXPECT_EQ(NextEvent(converter), EC_COMPLETE);
        EXPECT_EQ(converter.OutputSettings().codec, AudioOutputCodec::Mp3) << code;
        EXPECT_EQ(converter.OutputSettings().nSampleRate, 48000) << code;
        EXPECT_TRUE(fs::exists(output));
        fs::remove(output);
    }
}
