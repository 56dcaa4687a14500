// The real kvengine, started in a temporary program folder with a real job block:
// start-up dispatch, the go flag, list mode, and every way a job can fail.

#include "EngineTestHelper.h"

#include "common/KvJobBlock.h"
#include "common/KvOutputFile.h"
#include "common/KvProcess.h"

#include <chrono>
#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <thread>
#include <unistd.h>

using namespace velmora;
using namespace velmora::test;
namespace fs = std::filesystem;

namespace {

class EngineProcess : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        s_media = std::make_unique<TempFolder>("velmora-engine-media");
        s_source = s_media->Path() + "source.wav";
        ASSERT_TRUE(MakeSource(s_source, 3.0, 44100));
    }
    static void TearDownTestSuite() { s_media.reset(); }

    // A valid 2-second MP3 job writing out.mp3 in the job's folder.
    void PrepareMp3Job(EngineJob& job, bool startConvert = true)
    {
        ASSERT_TRUE(job.WriteOptions(EngineJob::AudioOptions(kKvOutputMp3, 128, 44100, 1)));
        ASSERT_TRUE(job.WriteProject({{s_source, 3.0, 0.5, 2.5, 1.0, 0.0}}));
        job.FillConversion(job.Folder() + "out.mp3", startConvert);
    }

    static std::unique_ptr<TempFolder> s_media;
    static std::string s_source;
};

std::unique_ptr<TempFolder> EngineProcess::s_media;
std::string EngineProcess::s_source;

bool IsAllZero(const tagKvJobBlock& block)
{
    static const tagKvJobBlock zero{};
    return std::memcmp(&block, &zero, sizeof block) == 0;
}

} // namespace

TEST_F(EngineProcess, ZeroBlockExitsAtOnceTouchingNothing)
{
    EngineJob job;
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(job.Run(5000), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(3));
    EXPECT_TRUE(IsAllZero(job.Block()));
}

TEST_F(EngineProcess, WithoutJobBlockExitsCleanly)
{
    TempProgramFolder folder(true);
    const pid_t pid = SpawnProgram(folder.Path() + "kvengine");
    EXPECT_EQ(EngineJob::Wait(pid, 5000), 0);
}

TEST_F(EngineProcess, PlayModeDispatch)
{
    {   // Play without preview: nothing to do, the block stays as the front end wrote it.
        EngineJob job;
        job.Block().bPlayMode = 1;
        job.Block().nState = kKvJobRunning;
        EXPECT_EQ(job.Run(5000), 0);
        EXPECT_EQ(job.Block().nState, kKvJobRunning);
        EXPECT_EQ(job.Block().bPlayFailed, 0);
        EXPECT_EQ(job.Block().bEngineClosed, 0);
    }
}

TEST_F(EngineProcess, ConversionWithStateZeroDoesNothing)
{
    EngineJob job;
    PrepareMp3Job(job);
    job.Block().nState = kKvJobIdle;
    EXPECT_EQ(job.Run(5000), 0);
    EXPECT_FALSE(fs::exists(job.Folder() + "out.mp3"));
    EXPECT_EQ(job.Block().bEngineClosed, 0);
}

TEST_F(EngineProcess, WaitsForTheGoFlagThenConverts)
{
    EngineJob job;
    PrepareMp3Job(job, false);
    const pid_t pid = job.Start();
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    EXPECT_TRUE(EngineJob::IsRunning(pid));
    EXPECT_EQ(LoadAcquire(job.Block().nState), kKvJobRunning);
    EXPECT_EQ(LoadAcquire(job.Block().dPosition), 0.0);
    EXPECT_FALSE(fs::exists(job.Folder() + "out.mp3"));
    EXPECT_FALSE(fs::exists(PartialOutputPath(job.Folder() + "out.mp3")));

    StoreRelease(job.Block().bStartConvert, 1);
    const int status = job.Wait(pid, 30000);
    if (status < 0)
        EngineJob::Kill(pid);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(job.Block().nState, kKvJobIdle);
    EXPECT_EQ(job.Block().bConvertFailed, 0);
    EXPECT_EQ(job.Block().bEngineClosed, 1);
    EXPECT_EQ(job.Block().dPosition, 2.0);
    EXPECT_TRUE(fs::exists(job.Folder() + "out.mp3"));
}

TEST_F(EngineProcess, KilledWhileWaitingLeavesNoOutput)
{
    EngineJob job;
    PrepareMp3Job(job, false);
    const pid_t pid = job.Start();
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    ASSERT_TRUE(EngineJob::IsRunning(pid));
    EngineJob::Kill(pid);
    EXPECT_EQ(job.Block().nState, kKvJobRunning);
    EXPECT_FALSE(fs::exists(job.Folder() + "out.mp3"));
}

TEST_F(EngineProcess, ListModeConvertsWithoutTheGoFlag)
{
    EngineJob job;
    ASSERT_TRUE(job.WriteOptions(EngineJob::AudioOptions(kKvOutputMp3, 128, 44100, 1)));
    // Only the list project exists: a normal job would fail to load.
    ASSERT_TRUE(job.WriteProject({{s_source, 3.0, 0.0, 1.5, 1.0, 0.0}}, 4, true));
    const std::string listFile = job.Folder() + "list.txt";
    WriteFileBytes(listFile, "x");
    job.FillConversion(job.Folder() + "list.mp3", false);
    SetJobPathUtf8(job.Block().szListFile, listFile);
    job.Block().nSizeModeOverride = 1;
    job.Block().nVideoBitrateOverride = 777;
    EXPECT_EQ(job.Run(30000), 0);
    EXPECT_EQ(job.Block().nState, kKvJobIdle);
    EXPECT_EQ(job.Block().bConvertFailed, 0);
    EXPECT_EQ(job.Block().dPosition, 1.5);
    EXPECT_TRUE(fs::exists(job.Folder() + "list.mp3"));
}

TEST_F(EngineProcess, ListFileThatDoesNotExistMeansNormalMode)
{
    EngineJob job;
    PrepareMp3Job(job, false);
    SetJobPathUtf8(job.Block().szListFile, job.Folder() + "missing-list.txt");
    const pid_t pid = job.Start();
    std::this_thread::sleep_for(std::chrono::milliseconds(800));
    EXPECT_TRUE(EngineJob::IsRunning(pid)); // waits for the go flag
    EngineJob::Kill(pid);
}

// Every way a job can fail ends it at once: nState 0 after the failure flag, a line
// in the log, and no output under either name.
struct FailureCase
{
    const char* name;
    void (*prepare)(EngineJob&, const std::string& source);
    const char* reason = ""; // what the log line must say
};

void PrintTo(const FailureCase& c, std::ostream* os)
{
    *os << c.name;
}

class EngineFailure : public EngineProcess, public ::testing::WithParamInterface<FailureCase>
{
};

TEST_P(EngineFailure, EndsAtOnceMarkedAsFailed)
{
    EngineJob job;
    GetParam().prepare(job, s_source);
    const std::string output = GetJobPathUtf8(job.Block().szOutputFile);
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(job.Run(15000), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
    EXPECT_EQ(job.Block().nState, kKvJobIdle);
    EXPECT_EQ(job.Block().bConvertFailed, 1);
    EXPECT_EQ(job.Block().bEngineClosed, 1);
    EXPECT_FALSE(fs::exists(output));
    EXPECT_FALSE(fs::exists(PartialOutputPath(output)));
    EXPECT_NE(job.LogText().find("job failed"), std::string::npos) << job.LogText();
    EXPECT_NE(job.LogText().find(GetParam().reason), std::string::npos) << job.LogText();
}

TEST_F(EngineProcess, ALinkPlantedAtTheTemporaryNameFailsTheJobAndWritesNothingThrough)
{
    EngineJob job;
    PrepareMp3Job(job);
    const std::string output = job.Folder() + "out.mp3";
    const std::string victim = job.Folder() + "victim.txt";
    WriteFileBytes(victim, "keep me");
    ASSERT_EQ(symlink(victim.c_str(), PartialOutputPath(output).c_str()), 0);
    EXPECT_EQ(job.Run(15000), 0);
    EXPECT_EQ(job.Block().bConvertFailed, 1);
    EXPECT_EQ(job.Block().nState, kKvJobIdle);
    EXPECT_EQ(ReadFileBytes(victim), "keep me");
    EXPECT_FALSE(fs::exists(output));
    EXPECT_NE(job.LogText().find("already there"), std::string::npos) << job.LogText();
}

TEST_F(EngineProcess, ASecondEngineOnABlockInUseExitsAtOnceWithoutWritingToIt)
{
    EngineJob job;
    PrepareMp3Job(job, false);
    const pid_t first = job.Start();
    std::this_thread::sleep_for(std::chrono::milliseconds(800));
    ASSERT_TRUE(EngineJob::IsRunning(first));
    tagKvJobBlock before = job.Block();
    EXPECT_EQ(job.Run(5000), 0); // the second engine
    EXPECT_EQ(std::memcmp(&before, &job.Block(), sizeof before), 0);
    EXPECT_TRUE(EngineJob::IsRunning(first));

    // The first one still owns the job and finishes it.
    StoreRelease(job.Block().bStartConvert, 1);
    EXPECT_EQ(EngineJob::Wait(first, 30000), 0);
    EXPECT_EQ(job.Block().bConvertFailed, 0);
    EXPECT_TRUE(fs::exists(job.Folder() + "out.mp3"));
}

TEST_F(EngineProcess, ASourceRemovedBeforeTheGoFlagFailsTheJob)
{
    EngineJob job;
    const std::string source = job.Folder() + "soon-gone.wav";
    fs::copy_file(s_source, source);
    ASSERT_TRUE(job.WriteOptions(EngineJob::AudioOptions(kKvOutputMp3, 128, 44100, 1)));
    ASSERT_TRUE(job.WriteProject({{source, 3.0, 0.0, 2.0, 1.0, 0.0}}));
    job.FillConversion(job.Folder() + "out.mp3", false);
    const pid_t pid = job.Start();
    std::this_thread::sleep_for(std::chrono::milliseconds(800)); // the project is loaded
    ASSERT_TRUE(EngineJob::IsRunning(pid));
    fs::remove(source);
    StoreRelease(job.Block().bStartConvert, 1);
    EXPECT_EQ(EngineJob::Wait(pid, 15000), 0);
    EXPECT_EQ(job.Block().bConvertFailed, 1);
    EXPECT_FALSE(fs::exists(job.Folder() + "out.mp3"));
    EXPECT_NE(job.LogText().find("cannot read the source " + source), std::string::npos) << job.LogText();
}

INSTANTIATE_TEST_SUITE_P(Jobs, EngineFailure,
    ::testing::Values(
        FailureCase{"MissingOptionFile",
            [](EngineJob& job, const std::string& source) {
                ASSERT_TRUE(job.WriteProject({{source, 3.0, 0.0, 2.0, 1.0, 0.0}}));
                job.FillConversion(job.Folder() + "out.mp3");
            }},
        FailureCase{"MissingProject",
            [](EngineJob& job, const std::string&) {
                ASSERT_TRUE(job.WriteOptions(EngineJob::AudioOptions(kKvOutputMp3, 128, 44100, 1)));
                job.FillConversion(job.Folder() + "out.mp3");
            }},
        FailureCase{"PresetIndexOutOfRange",
            [](EngineJob& job, const std::string& source) {
                ASSERT_TRUE(job.WriteOptions(EngineJob::AudioOptions(kKvOutputMp3, 128, 44100, 1)));
                ASSERT_TRUE(job.WriteProject({{source, 3.0, 0.0, 2.0, 1.0, 0.0}}, 10));
                job.FillConversion(job.Folder() + "out.mp3");
            }},
        FailureCase{"EndTypedAsZero",
            [](EngineJob& job, const std::string& source) {
                ASSERT_TRUE(job.WriteOptions(EngineJob::AudioOptions(kKvOutputMp3, 128, 44100, 1)));
                ASSERT_TRUE(job.WriteProject({{source, 3.0, 0.0, 0.0, 1.0, 0.0}}));
                job.FillConversion(job.Folder() + "out.mp3");
            }},
        FailureCase{"SourceRemovedAfterAdding",
            [](EngineJob& job, const std::string&) {
                ASSERT_TRUE(job.WriteOptions(EngineJob::AudioOptions(kKvOutputMp3, 128, 44100, 1)));
                ASSERT_TRUE(job.WriteProject({{job.Folder() + "gone.wav", 3.0, 0.0, 2.0, 1.0, 0.0}}));
                job.FillConversion(job.Folder() + "out.mp3");
            }},
        FailureCase{"TargetFolderNotWritable",
            [](EngineJob& job, const std::string& source) {
                ASSERT_TRUE(job.WriteOptions(EngineJob::AudioOptions(kKvOutputMp3, 128, 44100, 1)));
                ASSERT_TRUE(job.WriteProject({{source, 3.0, 0.0, 2.0, 1.0, 0.0}}));
                // A folder whose place is taken by a file cannot be written even by root.
                WriteFileBytes(job.Folder() + "blocked", "");
                job.FillConversion(job.Folder() + "blocked/out.mp3");
            }},
        FailureCase{"TargetFolderReadOnly",
            [](EngineJob& job, const std::string& source) {
                ASSERT_TRUE(job.WriteOptions(EngineJob::AudioOptions(kKvOutputMp3, 128, 44100, 1)));
                ASSERT_TRUE(job.WriteProject({{source, 3.0, 0.0, 2.0, 1.0, 0.0}}));
                const std::string folder = job.Folder() + "readonly/";
                fs::create_directories(folder);
                if (geteuid() == 0) // permissions do not stop root: use a folder that is gone
                    fs::remove(folder);
                else
                    fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec);
                job.FillConversion(folder + "out.mp3");
            }},
        FailureCase{"WindowsMediaWithoutProfile",
            [](EngineJob& job, const std::string& source) {
                ASSERT_TRUE(job.WriteOptions(EngineJob::AudioOptions(kKvOutputWma, 128, 44100, 1)));
                ASSERT_TRUE(job.WriteProject({{source, 3.0, 0.0, 2.0, 1.0, 0.0}}));
                job.FillConversion(job.Folder() + "out.wma");
            }},
        // The record the project selects never got the option file: its audio is 0.
        FailureCase{"ProjectNamesAnotherPresetThanTheJob",
            [](EngineJob& job, const std::string& source) {
                ASSERT_TRUE(job.WriteOptions(EngineJob::AudioOptions(kKvOutputMp3, 128, 44100, 1)));
                ASSERT_TRUE(job.WriteProject({{source, 3.0, 0.0, 2.0, 1.0, 0.0}}, 5));
                job.FillConversion(job.Folder() + "out.mp3", true, 4);
            }, "audio settings are missing (0 kbit/s, 0 Hz)"},
        FailureCase{"ZeroAudioSettings",
            [](EngineJob& job, const std::string& source) {
                ASSERT_TRUE(job.WriteOptions(EngineJob::AudioOptions(kKvOutputMp3, 0, 0, 1)));
                ASSERT_TRUE(job.WriteProject({{source, 3.0, 0.0, 2.0, 1.0, 0.0}}));
                job.FillConversion(job.Folder() + "out.mp3");
            }, "audio settings are missing"},
        FailureCase{"ShortOptionFile",
            [](EngineJob& job, const std::string& source) {
                const tagKvOptionRecord record = EngineJob::AudioOptions(kKvOutputMp3, 128, 44100, 1);
                WriteFileBytes(job.JobFile("option.dat"), std::string(reinterpret_cast<const char*>(&record), 40));
                ASSERT_TRUE(job.WriteProject({{source, 3.0, 0.0, 2.0, 1.0, 0.0}}));
                job.FillConversion(job.Folder() + "out.mp3");
            }, "holds 40 of 84 bytes"},
        FailureCase{"EmptyOptionFile",
            [](EngineJob& job, const std::string& source) {
                WriteFileBytes(job.JobFile("option.dat"), "");
                ASSERT_TRUE(job.WriteProject({{source, 3.0, 0.0, 2.0, 1.0, 0.0}}));
                job.FillConversion(job.Folder() + "out.mp3");
            }, "holds 0 of 84 bytes"},
        // Would be written relative to wherever the engine happens to run.
        FailureCase{"RelativeOutputPath",
            [](EngineJob& job, const std::string& source) {
                ASSERT_TRUE(job.WriteOptions(EngineJob::AudioOptions(kKvOutputMp3, 128, 44100, 1)));
                ASSERT_TRUE(job.WriteProject({{source, 3.0, 0.0, 2.0, 1.0, 0.0}}));
                job.FillConversion("velmora-relative-out.mp3");
            }, "is not a full path"}),
    [](const ::testing::TestParamInfo<FailureCase>& info) { return std::string(info.param.name); });
