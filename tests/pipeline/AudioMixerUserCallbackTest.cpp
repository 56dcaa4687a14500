#include "pipeline/AudioMixerUserCallback.h"

#include "FakeAudioSource.h"
#include "common/KvJobBlock.h"
#include "pipeline/KvLevelMap.h"
#include "project/KvEngineProject.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

using namespace velmora;
using velmora::test::Constant;
using velmora::test::FakeAudioSourceFactory;
using velmora::test::Ramp;

namespace {

constexpr int kRate = 44100;
constexpr int kFramesPerBuffer = 1470; // one frame of a 30 fps time line

KvWaveFormat Stereo16()
{
    return KvWaveFormat{1, 2, kRate, kRate * 4, 4, 16};
}

// A project with an audio line, items added on it, and a callback over fakes.
class MixerFixture : public ::testing::Test
{
protected:
    CKvEngineItem& AddItem(const std::string& path, double start, double end)
    {
        auto item = std::make_unique<CKvEngineItem>();
        item->bHadAudio = 1;
        item->dPlaybackRate = 1.0;
        item->dVoiceScale = 1.0;
        item->eMediaType = kMediaAudio;
        item->eMediaTypeLine = kLineAudio;
        item->dEditorStartTime = start;
        item->dEditorEndTime = end;
        item->dAudioTimelineStart = start;
        item->dAudioTimelineEnd = end;
        item->source = std::wstring(path.begin(), path.end());
        return *project.FindLine(kLineAudio)->AppendItem(std::move(item));
    }

    CAudioMixerUserCallback& Callback()
    {
        if (!callback) {
            KvAudioMixerSetup setup;
            setup.project = &project;
            setup.jobBlock = jobBlock;
            setup.vuMeter = vuMeter;
            setup.programFolder = folder.Path();
            setup.clocks = &clocks;
            setup.sources = &sources;
            callback = std::make_unique<CAudioMixerUserCallback>(setup);
        }
        return *callback;
    }

    // Mixes count buffers of framesPerBuffer frames and returns them end to end.
    std::vector<std::int16_t> Run(int count, int framesPerBuffer = kFramesPerBuffer)
    {
        std::vector<std::int16_t> out;
        std::vector<std::int16_t> buffer(2 * framesPerBuffer);
        const KvWaveFormat format = Stereo16();
        for (int i = 0; i < count; ++i) {
            std::fill(buffer.begin(), buffer.end(), 1234); // carrier samples must vanish
            const auto bytes = static_cast<std::int32_t>(buffer.size() * 2);
            EXPECT_EQ(Callback().MixAudioBuffer(0, bytes, 0, buffer.data(), &format, bytes), S_OK);
            out.insert(out.end(), buffer.begin(), buffer.end());
        }
        return out;
    }

    // Left sample of output frame n.
    static std::int16_t Left(const std::vector<std::int16_t>& pcm, std::int64_t n) { return pcm[2 * n]; }
    static std::int64_t FirstSounding(const std::vector<std::int16_t>& pcm)
    {
        for (std::size_t i = 0; i < pcm.size(); ++i)
            if (pcm[i] != 0)
                return static_cast<std::int64_t>(i / 2);
        return -1;
    }
    // Output frames from..from+count are source frames first.. of the ramp.
    static void ExpectRamp(const std::vector<std::int16_t>& pcm, std::int64_t from, std::int64_t count,
                           std::int64_t first)
    {
        ASSERT_LE(2 * (from + count), static_cast<std::int64_t>(pcm.size()));
        for (std::int64_t n = from; n < from + count; ++n) {
            const auto v = static_cast<std::int16_t>((first + n - from) % 30000 + 1);
            ASSERT_EQ(pcm[2 * n], v) << "output frame " << n;
            ASSERT_EQ(pcm[2 * n + 1], -v) << "output frame " << n;
        }
    }
    static void ExpectSilent(const std::vector<std::int16_t>& pcm, std::int64_t from, std::int64_t count)
    {
        ASSERT_LE(2 * (from + count), static_cast<std::int64_t>(pcm.size()));
        for (std::int64_t n = from; n < from + count; ++n)
            ASSERT_TRUE(pcm[2 * n] == 0 && pcm[2 * n + 1] == 0) << "output frame " << n;
    }

    velmora::test::TempFolder folder{"velmora-mixer"};
    CKvEngineProject project;
    FakeAudioSourceFactory sources;
    KvEngineClocks clocks;
    tagKvJobBlock* jobBlock = nullptr;
    bool vuMeter = false;
    std::unique_ptr<CAudioMixerUserCallback> callback;
};

TEST_F(MixerFixture, EmptyAudioLineIsSilenceAndTheClockRuns)
{
    const auto pcm = Run(30);
    ExpectSilent(pcm, 0, 30 * kFramesPerBuffer);
    EXPECT_DOUBLE_EQ(clocks.audioClock.load(), 1.0);
    EXPECT_DOUBLE_EQ(clocks.playClock.load(), 1.0);
    EXPECT_EQ(Callback().GetBytesDelivered(), 30u * kFramesPerBuffer * 4);
}

TEST_F(MixerFixture, ComInterfaceHandsOutItselfWithoutCounting)
{
    void* object = nullptr;
    EXPECT_EQ(Callback().QueryInterface(IID_IKvVideoMixer, &object), S_OK);
    EXPECT_EQ(object, static_cast<IKvAudioMixerUserCallback*>(&Callback()));
    EXPECT_EQ(Callback().AddRef(), 0u);
    EXPECT_EQ(Callback().Release(), 0u);
    EXPECT_EQ(Callback().QueryInterface(IID_IKvAudioMixer, nullptr), E_POINTER);
}

TEST_F(MixerFixture, OverlappingItemsFollowTheMixLaw)
{
    sources.Add("a", Constant(16384, 16384));
    sources.Add("b", Constant(16384, -16384));
    AddItem("a", 0.0, 10.0);
    AddItem("b", 0.0, 10.0);
    const auto pcm = Run(3);
    EXPECT_EQ(pcm[0], 28672);
    EXPECT_EQ(pcm[1], 16384 - 16384 + 4096); // right: −16384 over 16384
    EXPECT_EQ(pcm[pcm.size() - 2], 28672);
}

TEST_F(MixerFixture, GainScalesAndClips)
{
    sources.Add("loud", [](std::int64_t k, int) {
        return k % 2 ? std::make_pair<std::int16_t, std::int16_t>(32767, -32768)
                     : std::make_pair<std::int16_t, std::int16_t>(1000, -1001);
    });
    AddItem("loud", 0.0, 10.0).dVoiceScale = 2.0;
    const auto pcm = Run(1);
    EXPECT_EQ(pcm[0], 2000);
    EXPECT_EQ(pcm[1], -2002);
    EXPECT_EQ(pcm[2], 32767);
    EXPECT_EQ(pcm[3], -32768);
}

TEST_F(MixerFixture, VocalCutOfIdenticalChannelsIsSilence)
{
    sources.Add("wide", Constant(1000, 3000));
    CKvEngineItem& mono = AddItem("mono", 0.0, 10.0);
    mono.bVocalCut = 1;
    sources.Add("mono", [](std::int64_t k, int) {
        const auto v = static_cast<std::int16_t>(k % 20000 - 10000);
        return std::make_pair(v, v);
    });
    auto pcm = Run(2);
    ExpectSilent(pcm, 0, 2 * kFramesPerBuffer);

    mono.bDisableAudio = 1;
    AddItem("wide", 0.0, 10.0).bVocalCut = 1;
    pcm = Run(1);
    EXPECT_EQ(pcm[0], 2000);
    EXPECT_EQ(pcm[1], 2000);
}

TEST_F(MixerFixture, FadesFollowTheBufferEndTime)
{
    sources.Add("in", Constant(16000, -16000));
    CKvEngineItem& item = AddItem("in", 0.0, 10.0);
    item.bEnableAudioEffect = 1;
    item.dAudioFadeInDuration = 2.0;
    item.dAudioFadeOutDuration = 2.0;
    const auto pcm = Run(300); // 10 s
    // The buffer that ends at 0.5 s (the 15th) plays at 0.25.
    EXPECT_EQ(Left(pcm, 14 * kFramesPerBuffer), 4000);
    EXPECT_EQ(pcm[2 * 14 * kFramesPerBuffer + 1], -4000);
    // The buffer that ends at 1 s: half.
    EXPECT_EQ(Left(pcm, 29 * kFramesPerBuffer), 8000);
    EXPECT_EQ(Left(pcm, 100 * kFramesPerBuffer), 16000);
    // The buffer that ends at 9.5 s: a quarter again, on the way out.
    EXPECT_EQ(Left(pcm, 284 * kFramesPerBuffer), 4000);
}

TEST_F(MixerFixture, ItemAtZeroGivesSourceSampleKAsOutputSampleK)
{
    auto log = sources.Add("src", Ramp());
    AddItem("src", 0.0, 10.0);
    const auto pcm = Run(60);
    ExpectRamp(pcm, 0, 60 * kFramesPerBuffer, 0);
    ASSERT_EQ(log->seeks.size(), 1u);
    EXPECT_DOUBLE_EQ(log->seeks[0], 0.0); // positioned at the START of the first buffer
    ASSERT_EQ(log->requests.size(), 60u);
    EXPECT_EQ(log->requests[0], std::make_pair(kFramesPerBuffer, kRate));
}

TEST_F(MixerFixture, ItemAtFiveSecondsSoundsFromExactlyFiveSeconds)
{
    sources.Add("src", Ramp());
    AddItem("src", 5.0, 10.0);
    const auto pcm = Run(240);
    EXPECT_EQ(FirstSounding(pcm), 5 * kRate);
    ExpectRamp(pcm, 5 * kRate, 3 * kRate, 0);
}

TEST_F(MixerFixture, TrimmedItemAheadOfItsStartStaysSilentUntilItBegins)
{
    // Item at 1 s with a 3 s trim: the reader opened at 0 is inside the trimmed part.
    sources.Add("src", Ramp());
    CKvEngineItem& item = AddItem("src", 1.0, 5.0);
    item.dASelfStartTime = 3.0;
    const auto pcm = Run(60);
    EXPECT_EQ(FirstSounding(pcm), kRate);
    ExpectRamp(pcm, kRate, kRate, 3 * kRate);
}

TEST_F(MixerFixture, SoundEndsWhereTheLastSourceRunsOutNotWhereItsItemSaysItEnds)
{
    // A 10 s item whose source holds 2.5 s, beside a 4 s item that plays to its end:
    // the time line's sound ends at 4 s, not 10 s.
    sources.Add("short", Ramp(), 0.0, 2.5);
    sources.Add("whole", Constant(0, 0));
    AddItem("short", 0.0, 10.0);
    AddItem("whole", 0.0, 4.0);
    const auto first = Run(90); // 3 s: the short one ran out, the other still sounds
    EXPECT_FALSE(Callback().SoundEnd().has_value());
    ExpectRamp(first, 0, kRate * 5 / 2, 0);
    Run(30); // 4 s: both ended
    ASSERT_TRUE(Callback().SoundEnd().has_value());
    EXPECT_DOUBLE_EQ(*Callback().SoundEnd(), 4.0);
}

TEST_F(MixerFixture, SoundEndOfASourceThatRunsOutIsExactToTheFrame)
{
    // Runs out 100 frames into buffer 30, and the one item sets the end there.
    const double seconds = (30.0 * kFramesPerBuffer + 100) / kRate;
    sources.Add("src", Ramp(), 0.0, seconds);
    AddItem("src", 0.0, 60.0);
    Run(30);
    EXPECT_FALSE(Callback().SoundEnd().has_value());
    Run(1);
    ASSERT_TRUE(Callback().SoundEnd().has_value());
    EXPECT_NEAR(*Callback().SoundEnd() * kRate, 30.0 * kFramesPerBuffer + 100, 1e-6);
}

TEST_F(MixerFixture, SpeedIsAResamplingRate)
{
    auto log = sources.Add("src", Ramp());
    CKvEngineItem& item = AddItem("src", 2.0, 10.0);
    item.dPlaybackRate = 1.5;
    item.dASelfStartTime = 1.0;
    const auto pcm = Run(120);
    ASSERT_FALSE(log->requests.empty());
    EXPECT_EQ(log->requests[0].second, 29400);
    // Two seconds ahead at 1.5 times the speed: 3 s of source before the in-point.
    ASSERT_EQ(log->seeks.size(), 1u);
    EXPECT_DOUBLE_EQ(log->seeks[0], 1.0 - 3.0);
    EXPECT_EQ(FirstSounding(pcm), 2 * kRate);
    ExpectRamp(pcm, 2 * kRate, kRate, 29400); // source 1 s at the fake's 29400 frames/s
}

TEST_F(MixerFixture, SnapshotFreezesTheSoundAndResumesWhereItStopped)
{
    sources.Add("src", Ramp());
    CKvEngineItem& item = AddItem("src", 0.0, 20.0);
    tagKvVideoSnapshotData snapshot;
    snapshot.dCaptureTime = 10.0;
    snapshot.dDuration = 2.0;
    item.VideoSnapshots.push_back(snapshot);
    const auto pcm = Run(390); // 13 s
    ExpectRamp(pcm, 10 * kRate - 100, 100, 10 * kRate - 100);
    ExpectSilent(pcm, 10 * kRate, 2 * kRate);
    ExpectRamp(pcm, 12 * kRate, kRate, 10 * kRate); // source 10 s at 12 s
}

struct DelayCase
{
    const char* name;
    double start;
    double selfStart;
    double delay;
    double soundFrom;    // time-line seconds where the sound starts
    double sourceFrom;   // source seconds heard there
};

class MixerDelayTest : public MixerFixture, public ::testing::WithParamInterface<DelayCase> {};

TEST_P(MixerDelayTest, PlacesTheSourceToTheSample)
{
    const DelayCase& c = GetParam();
    sources.Add("src", Ramp());
    CKvEngineItem& item = AddItem("src", c.start, c.start + 8.0);
    item.dASelfStartTime = c.selfStart;
    item.dAudioDelay = c.delay;
    const auto pcm = Run(static_cast<int>((c.start + 4.0) * 30));
    const auto from = static_cast<std::int64_t>(c.soundFrom * kRate);
    EXPECT_EQ(FirstSounding(pcm), from);
    ExpectRamp(pcm, from, kRate, static_cast<std::int64_t>(c.sourceFrom * kRate));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MixerDelayTest,
    ::testing::Values(
        // The first 1.5 s of the item are silent, then the source from 0.
        DelayCase{"SilenceFirst", 0.0, 0.0, 1.5, 1.5, 0.0},
        // The delay eats into the trim instead: source 2.5 s, no silence.
        DelayCase{"EarlierSource", 0.0, 4.0, 1.5, 0.0, 2.5},
        // Part trim, part silence: 0.5 s of silence, then source 0.
        DelayCase{"TrimThenSilence", 0.0, 1.0, 1.5, 0.5, 0.0},
        // A negative delay reads later source audio.
        DelayCase{"Negative", 0.0, 1.0, -0.5, 0.0, 1.5},
        // An item further on keeps its delay relative to its own start.
        DelayCase{"LaterItem", 5.0, 0.0, 1.5, 6.5, 0.0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(MixerFixture, SkippedItemsAreNeitherOpenedNorRead)
{
    auto logA = sources.Add("a", Constant(100, 100));
    auto logB = sources.Add("b", Constant(100, 100));
    auto logC = sources.Add("c", Constant(100, 100));
    AddItem("a", 0.0, 1.0).bDisableAudio = 1;
    AddItem("b", 0.0, 1.0).bHadAudio = 0;
    AddItem("c", 0.0, 1.0);
    const auto pcm = Run(45);
    EXPECT_EQ(sources.opens, std::vector<std::string>{"c"});
    // "c" ends at 1 s: the buffer that ends there is its last.
    EXPECT_EQ(logC->requests.size(), 30u);
    EXPECT_EQ(Left(pcm, 30 * kFramesPerBuffer - 1), 100);
    ExpectSilent(pcm, 30 * kFramesPerBuffer, 15 * kFramesPerBuffer);
}

TEST_F(MixerFixture, ReaderGetsItsOwnFirstAudioTimeAsLeadInUnlessItIsAnExtractedWav)
{
    auto log = sources.Add("video.ts", Ramp(), 1.5);
    auto wavLog = sources.Add("/tmp/x.wav", Ramp(), 7.0);
    AddItem("video.ts", 0.0, 10.0).nAudioStream = 2;
    CKvEngineItem& wav = AddItem("other.mkv", 0.0, 10.0);
    wav.bUsesExtractedWav = 1;
    wav.szExtractedWav = L"/tmp/x.wav";
    wav.nAudioStream = 2;
    Run(1);
    // One reader per item: no separate probe opens the file again.
    EXPECT_EQ((sources.opens), (std::vector<std::string>{"video.ts", "/tmp/x.wav"}));
    // The chosen track of the source; the extracted WAV holds that track alone.
    EXPECT_EQ((sources.openStreams), (std::vector<int>{2, -1}));
    EXPECT_EQ(log->leadIns, std::vector<double>{1.5});
    EXPECT_TRUE(wavLog->leadIns.empty());
    EXPECT_DOUBLE_EQ(sources.openFrameRates[0], 30.0);
}

TEST_F(MixerFixture, UnreadableSourceIsSilenceAndTheOthersStillMix)
{
    sources.Add("good", Constant(500, 500));
    AddItem("missing.mp3", 0.0, 10.0);
    AddItem("good", 0.0, 10.0);
    const auto pcm = Run(2);
    EXPECT_EQ(pcm[0], 500);
    EXPECT_EQ(sources.opens.size(), 2u); // opened once, not retried every buffer
}

TEST_F(MixerFixture, OpenSourcesRefusesAnItemThatCannotSoundAndKeepsTheReadersItOpened)
{
    sources.Add("good", Constant(500, 500), 2.0);
    AddItem("good", 0.0, 10.0);
    AddItem("notes.dat", 0.0, 10.0).bDisableAudio = 1; // silent on purpose: never opened
    std::string why;
    ASSERT_TRUE(Callback().OpenSources(why)) << why;
    Run(2);
    EXPECT_EQ(sources.opens, std::vector<std::string>{"good"}); // the mix reused that reader

    AddItem("broken.mp4", 0.0, 10.0);
    EXPECT_FALSE(Callback().OpenSources(why));
    EXPECT_EQ(why, "the source broken.mp4 cannot be opened as media");
}

// GIVEN an item whose times cannot be placed on a time line THEN the sources are
// refused with the field named, before any reader is opened.
class MixerUnusableItemTest : public MixerFixture, public ::testing::WithParamInterface<int>
{
};

TEST_P(MixerUnusableItemTest, IsRefusedByName)
{
    sources.Add("src", Ramp());
    CKvEngineItem& item = AddItem("src", 0.0, 10.0);
    const char* field = "";
    switch (GetParam()) {
    case 0: item.dEditorStartTime = std::nan(""); field = "dEditorStartTime"; break;
    case 1: item.dASelfStartTime = 1e20; field = "dASelfStartTime"; break;
    case 2: item.dAudioDelay = -HUGE_VAL; field = "dAudioDelay"; break;
    case 3: item.dPlaybackRate = 0.0; field = "dPlaybackRate"; break;
    case 4: item.dVoiceScale = HUGE_VAL; field = "dVoiceScale"; break;
    default:
        item.VideoSnapshots.emplace_back().dCaptureTime = std::nan("");
        field = "VideoSnapshots";
        break;
    }
    std::string why;
    EXPECT_FALSE(Callback().OpenSources(why));
    EXPECT_NE(why.find(field), std::string::npos) << why;
    EXPECT_TRUE(sources.opens.empty());
    // Mixed anyway (a preview does not ask first): silence, nothing undefined.
    Run(3);
}

INSTANTIATE_TEST_SUITE_P(Fields, MixerUnusableItemTest, ::testing::Range(0, 6));

TEST_F(MixerFixture, HoldClockLeavesTheClockWhereItWas)
{
    sources.Add("src", Ramp());
    AddItem("src", 0.0, 10.0);
    Run(3);
    std::vector<std::int16_t> buffer(2 * kFramesPerBuffer, 77);
    const KvWaveFormat format = Stereo16();
    const std::int32_t bytes = kFramesPerBuffer * 4;
    Callback().MixAudioBuffer(0, bytes, 1, buffer.data(), &format, bytes);
    EXPECT_DOUBLE_EQ(clocks.audioClock.load(), 0.1);
    EXPECT_EQ(Callback().GetBytesDelivered(), 3u * bytes);
    Callback().MixAudioBuffer(0, bytes, 0, buffer.data(), &format, bytes);
    EXPECT_DOUBLE_EQ(clocks.audioClock.load(), 4.0 / 30);
}

TEST_F(MixerFixture, StartOffsetShiftsTheClock)
{
    Callback().SetStartOffset(2.0);
    Run(15);
    EXPECT_DOUBLE_EQ(clocks.playClock.load(), 2.5);
}

TEST_F(MixerFixture, BuffersThatAreNot16BitPassUntouched)
{
    sources.Add("src", Ramp());
    AddItem("src", 0.0, 10.0);
    std::vector<std::int16_t> buffer(64, 77);
    KvWaveFormat format = Stereo16();
    format.wBitsPerSample = 8;
    EXPECT_EQ(Callback().MixAudioBuffer(0, 128, 0, buffer.data(), &format, 128), S_OK);
    EXPECT_EQ(buffer, std::vector<std::int16_t>(64, 77));
    EXPECT_EQ(Callback().GetBytesDelivered(), 0u);
    EXPECT_EQ(Callback().MixAudioBuffer(0, 128, 0, buffer.data(), nullptr, 128), S_OK);
}

TEST_F(MixerFixture, ClaimedBytesBeyondTheBufferAreNotWritten)
{
    sources.Add("src", Constant(1000, 1000));
    AddItem("src", 0.0, 10.0);
    std::vector<std::int16_t> storage(2 * 100 + 8, 55); // 100 frames and a guard
    const KvWaveFormat format = Stereo16();
    EXPECT_EQ(Callback().MixAudioBuffer(0, 4000, 0, storage.data(), &format, 400), S_OK);
    EXPECT_EQ(storage[0], 1000);
    EXPECT_EQ(storage[199], 1000);
    for (std::size_t i = 200; i < storage.size(); ++i)
        EXPECT_EQ(storage[i], 55);
    // An odd byte count: the half frame at the end stays silent.
    std::vector<std::int16_t> odd(8, 55);
    EXPECT_EQ(Callback().MixAudioBuffer(0, 14, 0, odd.data(), &format, 16), S_OK);
    EXPECT_EQ(odd[4], 1000);
    EXPECT_EQ(odd[6], 0);
}

TEST_F(MixerFixture, LevelsStayInProcessForAPreview)
{
    tagKvJobBlock block{};
    block.bPlayMode = 1;
    jobBlock = &block;
    vuMeter = true;
    sources.Add("src", Constant(1000, -3000));
    AddItem("src", 0.0, 10.0);
    EXPECT_FALSE(Callback().UsesSharedLevels());
    Run(2);
    std::int16_t left[kKvLevelSlices], right[kKvLevelSlices];
    Callback().GetLevels(left, right);
    EXPECT_EQ(left[0], 1000 * 21 / 22); // slice 0 holds G − 1 of G frames
    EXPECT_EQ(left[10], 1000);
    EXPECT_EQ(right[10], 3000);
    EXPECT_EQ(block.dPosition, 0.0); // only a conversion publishes its position here
}

TEST_F(MixerFixture, ConversionPublishesPositionAndLevelsThroughTheLevelMap)
{
    tagKvJobBlock block{};
    block.bPlayMode = 0;
    jobBlock = &block;
    vuMeter = true;
    CKvLevelMap creator;
    ASSERT_TRUE(creator.Create(folder.Path(), 10.0, 30.0));
    EXPECT_EQ(creator.Size(), 11u * 30 * 256 + 24);
    EXPECT_EQ(creator.FrameTotal(), 300);

    sources.Add("src", Constant(2000, -4000));
    AddItem("src", 0.0, 10.0);
    EXPECT_TRUE(Callback().UsesSharedLevels());
    Run(3);
    EXPECT_DOUBLE_EQ(block.dPosition, 0.1);

    CKvLevelMap reader;
    ASSERT_TRUE(reader.Open(folder.Path()));
    EXPECT_EQ(reader.WriteCount(), 3u);
    std::int16_t left[kKvLevelSlices], right[kKvLevelSlices];
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(reader.ReadRecord(left, right, 0));
        EXPECT_EQ(left[5], 2000);
        EXPECT_EQ(right[5], 4000);
    }
    EXPECT_EQ(reader.ReadCount(), 3u);
    EXPECT_FALSE(reader.ReadRecord(left, right, 20)); // nothing more written
}

TEST_F(MixerFixture, ConversionWithoutALevelMapStillMixes)
{
    tagKvJobBlock block{};
    jobBlock = &block;
    vuMeter = true;
    sources.Add("src", Constant(2000, 2000));
    AddItem("src", 0.0, 10.0);
    const auto pcm = Run(2);
    EXPECT_EQ(pcm[0], 2000);
    EXPECT_DOUBLE_EQ(block.dPosition, 2.0 / 30);
}

TEST(LevelMap, RecordsBeyondTheRegionAreCountedButNotWritten)
{
    velmora::test::TempFolder folder("velmora-levelmap");
    CKvLevelMap map;
    ASSERT_TRUE(map.Create(folder.Path(), 0.0, 2.0)); // room for 2 records
    EXPECT_EQ(map.RecordCapacity(), 2u);
    std::int16_t left[kKvLevelSlices], right[kKvLevelSlices];
    for (int i = 0; i < kKvLevelSlices; ++i)
        left[i] = right[i] = 9;
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(map.WriteRecord(left, right));
    EXPECT_EQ(map.WriteCount(), 3u);
    std::int16_t l[kKvLevelSlices], r[kKvLevelSlices];
    EXPECT_TRUE(map.ReadRecord(l, r, 0));
    EXPECT_EQ(l[63], 9);
    EXPECT_TRUE(map.ReadRecord(l, r, 0));
    EXPECT_TRUE(map.ReadRecord(l, r, 0));
    EXPECT_EQ(l[63], 0); // the third never fitted
    CKvLevelMap other;
    EXPECT_FALSE(other.Open(folder.Path() + "elsewhere/")); // another program folder
}

TEST(LevelMap, CoversAtMostTheLongestProjectAndIsNotMadeBeyond)
{
    EXPECT_EQ(CKvLevelMap::RegionSize(10800.0, 30.0), static_cast<std::size_t>(10801.0 * 30 * 256 + 24));
    for (const double duration : {10800.5, 1e6, 1e300, -1.0, std::nan(""), HUGE_VAL})
        EXPECT_EQ(CKvLevelMap::RegionSize(duration, 30.0), 0u) << duration;
    EXPECT_EQ(CKvLevelMap::RegionSize(10.0, std::nan("")), 0u);

    // A project of 1e6 s gets no map at all (it used to take 7.7 GB of /dev/shm).
    velmora::test::TempFolder folder("velmora-levelmap");
    CKvLevelMap map;
    EXPECT_FALSE(map.Create(folder.Path(), 1e6, 30.0));
    EXPECT_FALSE(map.IsOpen());
    CKvLevelMap reader;
    EXPECT_FALSE(reader.Open(folder.Path()));
}

TEST(MixerIds, MatchTheRegisteredClassAndInterfaceIds)
{
    EXPECT_EQ(IID_IKvAudioMixer.Data1, 0xBB86136Du);
    EXPECT_EQ(IID_IKvAudioMixer.Data4[7], 0x79);
    EXPECT_EQ(CLSID_KvVideoMixer.Data4[0], 0x9A);
    EXPECT_EQ(CLSID_KvVideoMixer.Data4[7], 0xE5);
    EXPECT_FALSE(IID_IKvAudioMixer == IID_IKvVideoMixer);
}

} // namespace
