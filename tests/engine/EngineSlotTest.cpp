// Engine slots: an engine started with "--slot=k" takes slot k's job and nothing
// else; one whose arguments name no slot takes no job at all.

#include "EngineTestHelper.h"

#include "common/KvEngineSlot.h"
#include "common/KvProcess.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <memory>

using namespace velmora;
using namespace velmora::test;
namespace fs = std::filesystem;

namespace {

class EngineSlotProcess : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        s_media = std::make_unique<TempFolder>("velmora-slot-media");
        s_source = s_media->Path() + "source.wav";
        ASSERT_TRUE(MakeSource(s_source, 3.0, 44100));
    }
    static void TearDownTestSuite() { s_media.reset(); }

    static void PrepareMp3Job(EngineJob& job, const std::string& output)
    {
        ASSERT_TRUE(job.WriteOptions(EngineJob::AudioOptions(kKvOutputMp3, 128, 44100, 1)));
        ASSERT_TRUE(job.WriteProject({{s_source, 3.0, 0.5, 2.5, 1.0, 0.0}}));
        job.FillConversion(output);
    }

    static std::unique_ptr<TempFolder> s_media;
    static std::string s_source;
};

std::unique_ptr<TempFolder> EngineSlotProcess::s_media;
std::string EngineSlotProcess::s_source;

} // namespace

TEST_F(EngineSlotProcess, SlotEngineConvertsItsOwnJobAndLeavesSlotZeroAlone)
{
    EngineJob slot(2);
    PrepareMp3Job(slot, slot.Folder() + "slot.mp3");
    ASSERT_EQ(slot.JobFile("option.dat"), slot.Work() + "tmp/slot-2/option.dat");
    ASSERT_FALSE(fs::exists(slot.Work() + "tmp/option.dat"));

    // Slot 0 of the same installation has a job ready as well.
    CKvJobBlockOwner zero;
    ASSERT_TRUE(zero.Create(slot.Folder(), 0));
    SetJobPathUtf8(zero.Block()->szOutputFile, slot.Folder() + "zero.mp3");
    zero.Block()->nState = kKvJobRunning;
    StoreRelease(zero.Block()->bStartConvert, 1);

    EXPECT_EQ(slot.Run(30000), 0);
    EXPECT_EQ(slot.Block().nState, kKvJobIdle);
    EXPECT_EQ(slot.Block().bConvertFailed, 0) << slot.LogText();
    EXPECT_EQ(slot.Block().bEngineClosed, 1);
    EXPECT_EQ(slot.Block().dPosition, 2.0);
    EXPECT_NEAR(ProbeDuration(slot.Folder() + "slot.mp3"), 2.0, 0.1);

    EXPECT_EQ(zero.Block()->nState, kKvJobRunning);
    EXPECT_EQ(zero.Block()->bEngineClosed, 0);
    EXPECT_FALSE(fs::exists(slot.Folder() + "zero.mp3"));
}

class EngineSlotArgumentsRefused : public ::testing::TestWithParam<std::vector<std::string>>
{
};

TEST_P(EngineSlotArgumentsRefused, EndAtOnceTouchingNoJob)
{
    EngineJob job;
    job.FillConversion(job.Folder() + "out.mp3");
    const pid_t pid = SpawnProgram(job.Folder() + "kvengine", GetParam());
    EXPECT_EQ(EngineJob::Wait(pid, 5000), 2);
    EXPECT_EQ(job.Block().nState, kKvJobRunning);
    EXPECT_EQ(job.Block().bConvertFailed, 0);
    EXPECT_EQ(job.Block().bEngineClosed, 0);
    EXPECT_FALSE(fs::exists(job.Folder() + "out.mp3"));
}

INSTANTIATE_TEST_SUITE_P(EngineSlot, EngineSlotArgumentsRefused,
                         ::testing::Values(std::vector<std::string>{"--slot=0"}, std::vector<std::string>{"--slot=x"},
                                           std::vector<std::string>{"--slot=1", "--slot=2"},
                                           std::vector<std::string>{"--help"}));
