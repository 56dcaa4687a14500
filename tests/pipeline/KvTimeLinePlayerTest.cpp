// The preview player over scripted sources and SDL's disk driver: how it starts,
// holds, ends and fails, and what its picture branch publishes.

#include "pipeline/KvTimeLinePlayer.h"

#include "FakeAudioSource.h"
#include "common/KvJobBlock.h"
#include "project/KvEngineProject.h"
#include "support/ScopedEnv.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

using namespace velmora;
using velmora::test::Constant;
using velmora::test::FakeAudioSourceFactory;
using velmora::test::ScopedEnv;

namespace {

class PlayerTest : public ::testing::Test
{
protected:
    void SetUp() override { block.bPlayMode = 1; }

    void AddItem(double end)
    {
        auto item = std::make_unique<CKvEngineItem>();
        item->bHadAudio = 1;
        item->dPlaybackRate = 1.0;
        item->dVoiceScale = 1.0;
        item->eMediaType = kMediaAudio;
        item->eMediaTypeLine = kLineAudio;
        item->dEditorEndTime = end;
        item->dAudioTimelineEnd = end;
        item->source = L"src";
        project.FindLine(kLineAudio)->AppendItem(std::move(item));
    }

    CKvTimeLinePlayer& Player()
    {
        if (!player) {
            KvConverterSetup setup;
            setup.project = &project;
            setup.jobBlock = &block;
            setup.option.nWidth = 64;
            setup.option.nHeight = 48;
            setup.programFolder = folder.Path();
            setup.sources = &sources;
            player = std::make_unique<CKvTimeLinePlayer>(setup);
        }
        return *player;
    }

    // The next graph event within timeoutMs, or 0.
    long NextEvent(int timeoutMs = 10000)
    {
        long code = 0;
        std::intptr_t p1 = 0, p2 = 0;
        return Player().GetEvent(code, p1, p2, timeoutMs) == S_OK ? code : 0;
    }

    void WaitUntilPlaying()
    {
        for (int i = 0; i < 500 && Player().FramesPlayed() == 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ASSERT_GT(Player().FramesPlayed(), 0);
    }

    velmora::test::TempFolder folder{"velmora-player"};
    ScopedEnv file{"SDL_DISKAUDIOFILE", folder.Path() + "played.raw"};
    CKvEngineProject project;
    FakeAudioSourceFactory sources;
    tagKvJobBlock block{};
    std::unique_ptr<CKvTimeLinePlayer> player;
};

} // namespace

TEST_F(PlayerTest, PlaysToTheEndOnceAndSaysSoAgainWhenRunAtTheEnd)
{
    sources.Add("src", Constant(1000, -1000));
    AddItem(0.5);
    EXPECT_EQ(Player().GetPosition(), 0.0);
    EXPECT_EQ(Player().GetState(), kKvGraphNone);

    ASSERT_EQ(Player().Run(), S_OK) << Player().LastError();
    EXPECT_EQ(block.bGraphRunning, 1);
    EXPECT_EQ(Player().Run(), S_OK); // running: nothing more to do
    ASSERT_EQ(NextEvent(), EC_COMPLETE);
    EXPECT_EQ(NextEvent(300), 0) << "the end is announced once";

    EXPECT_EQ(Player().GetState(), kKvGraphStopped);
    EXPECT_EQ(Player().FramesPlayed(), 22050);
    EXPECT_DOUBLE_EQ(Player().GetPosition(), 0.5);
    EXPECT_EQ(Player().GetDuration(), 0.5);
    // 15 pictures a second, each into the sink that draws nothing, each publishing
    // its time.
    EXPECT_EQ(Player().FramesRendered(), 8);
    EXPECT_GT(block.dPosition, 0.4);
    EXPECT_LE(block.dPosition, 0.5);
    EXPECT_EQ(block.bPlayFailed, 0);
    // The readers follow the preview's frame rate.
    ASSERT_EQ(sources.openFrameRates.size(), 1u);
    EXPECT_EQ(sources.openFrameRates[0], 15.0);

    EXPECT_EQ(Player().Run(), S_OK);
    EXPECT_EQ(NextEvent(1000), EC_COMPLETE);

    EXPECT_EQ(Player().TearDown(), S_OK);
    EXPECT_EQ(Player().TearDown(), S_OK);
    EXPECT_EQ(Player().GetState(), kKvGraphNone);
    EXPECT_EQ(Player().GetPosition(), 0.0);
}

TEST_F(PlayerTest, HoldsWhenPausedOrStoppedAndGoesOnFromThere)
{
    sources.Add("src", Constant(1000, -1000));
    AddItem(30.0);
    ASSERT_EQ(Player().Run(), S_OK) << Player().LastError();
    WaitUntilPlaying();

    for (const bool stop : {false, true}) {
        EXPECT_EQ(stop ? Player().Stop() : Player().Pause(), S_OK);
        EXPECT_EQ(Player().GetState(), stop ? kKvGraphStopped : kKvGraphPaused);
        const std::int64_t held = Player().FramesPlayed();
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        EXPECT_EQ(Player().FramesPlayed(), held) << "a held device takes nothing";
        EXPECT_EQ(Player().Pause(), S_OK);
        EXPECT_EQ(Player().Run(), S_OK);
        EXPECT_EQ(Player().GetState(), kKvGraphRunning);
        for (int i = 0; i < 300 && Player().FramesPlayed() == held; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        EXPECT_GT(Player().FramesPlayed(), held);
    }

    // Tearing down while the device is held must not wait for it.
    EXPECT_EQ(Player().Pause(), S_OK);
    EXPECT_EQ(Player().TearDown(), S_OK);
    EXPECT_EQ(NextEvent(200), 0);
    EXPECT_EQ(Player().GetState(), kKvGraphNone);
}

struct StartFailure
{
    const char* name;
    const char* driver;
    double length;
    const char* reason;
};

class PlayerStartFailure : public PlayerTest, public ::testing::WithParamInterface<StartFailure>
{
};

TEST_P(PlayerStartFailure, RefusesToRunAndMarksThePlayFailed)
{
    ScopedEnv driver("SDL_AUDIODRIVER", GetParam().driver);
    sources.Add("src", Constant(1000, -1000));
    if (GetParam().length > 0.0)
        AddItem(GetParam().length);
    EXPECT_LT(Player().Run(), 0);
    EXPECT_NE(Player().LastError().find(GetParam().reason), std::string::npos) << Player().LastError();
    EXPECT_EQ(block.bGraphRunning, 0);
    EXPECT_EQ(block.bPlayFailed, 1);
    EXPECT_EQ(Player().GetState(), kKvGraphNone);
    EXPECT_EQ(Player().GetPosition(), 0.0);
}

INSTANTIATE_TEST_SUITE_P(Cases, PlayerStartFailure,
                         ::testing::Values(StartFailure{"EmptyTimeLine", "disk", 0.0, "time line is empty"},
                                           StartFailure{"NoSoundDevice", "no-such-driver", 1.0, "no sound device"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(PlayerTest, PicturesCarryTheLevelsOfTheSoundBeingPlayed)
{
    project.bHasVuMeter = 1;
    sources.Add("src", Constant(1000, -3000));
    AddItem(0.3);
    ASSERT_EQ(Player().Run(), S_OK) << Player().LastError();
    ASSERT_EQ(NextEvent(), EC_COMPLETE);
    // A preview keeps its levels in process: the picture branch reads what the mixer
    // measured, with no Level map in between.
    EXPECT_FALSE(Player().AudioCallback().UsesSharedLevels());
    std::int16_t left[kKvLevelSlices], right[kKvLevelSlices];
    Player().VideoCallback().GetLevels(left, right);
    EXPECT_EQ(left[10], 1000);
    EXPECT_EQ(right[10], 3000);
}

// The video callback on its own, with an owner whose position the test sets.
class FixedPosition : public CKvVideoConverter
{
public:
    explicit FixedPosition(const KvConverterSetup& setup)
        : CKvVideoConverter(setup)
    {
    }
    double GetPosition() const override { return position; }
    double position = 0.0;
};

TEST(VideoMixerCallback, PublishesEachFrameTimeAndDrawsNothing)
{
    velmora::test::TempFolder folder("velmora-video");
    namespace fs = std::filesystem;
    fs::create_directories(folder.Work() + "tmp/rwv");
    velmora::test::WriteFileBytes(folder.Work() + "tmp/rwv/old.png", "x");

    CKvEngineProject project;
    auto item = std::make_unique<CKvEngineItem>();
    item->dEditorEndTime = 20.0;
    project.FindLine(kLineAudio)->AppendItem(std::move(item));
    tagKvJobBlock block{};
    block.bPlayMode = 1;
    KvConverterSetup converterSetup;
    FixedPosition owner(converterSetup);

    KvVideoMixerSetup setup;
    setup.project = &project;
    setup.jobBlock = &block;
    setup.programFolder = folder.Path();
    setup.width = 4;
    setup.height = 2;
    {
        CVideoMixerUserCallback callback(setup);
        EXPECT_FALSE(fs::exists(folder.Work() + "tmp/rwv/old.png")) << "left over from an earlier run";
        EXPECT_TRUE(fs::is_directory(folder.Work() + "tmp/frameimage"));
        callback.SetOwner(&owner);
        callback.AllocateScratchFrame();
        EXPECT_EQ(callback.ScratchFrame().size(), 32u);

        std::vector<std::uint8_t> pixels(32, 0xAB);
        KvBitmapInfoHeader format;
        format.biWidth = 4;
        format.biHeight = -2;
        for (int k = 1; k <= 20; ++k) {
            owner.position = k;
            EXPECT_EQ(callback.RenderFrame(nullptr, 0, 0, &format, pixels.data(), 32), S_OK);
        }
        EXPECT_EQ(std::count(pixels.begin(), pixels.end(), 0), 32);
        EXPECT_EQ(callback.RenderTime(), 20.0);
        EXPECT_EQ(block.dPosition, 20.0);
        EXPECT_EQ(callback.CurrentFormat().biHeight, 2);
        const std::vector<double> history = callback.RenderTimeHistory();
        ASSERT_EQ(history.size(), CVideoMixerUserCallback::kHistoryLength);
        EXPECT_EQ(history.front(), 5.0);
        EXPECT_EQ(history.back(), 20.0);

        // An inactive overlay pass touches nothing.
        std::fill(pixels.begin(), pixels.end(), 0x11);
        EXPECT_EQ(callback.RenderOverlays(nullptr, 0, 0, 0, pixels.data(), 0, 0), S_OK);
        EXPECT_EQ(std::count(pixels.begin(), pixels.end(), 0x11), 32);

        // A conversion's block is not the picture's to write.
        block.bPlayMode = 0;
        block.dPosition = 1.0;
        owner.position = 2.0;
        callback.RenderFrame(nullptr, 0, 0, &format, pixels.data(), 32);
        EXPECT_EQ(block.dPosition, 1.0);
        velmora::test::WriteFileBytes(folder.Work() + "tmp/rwv/cache.png", "x");
    }
    EXPECT_FALSE(fs::exists(folder.Work() + "tmp/rwv/cache.png"));
}
