#include "pipeline/KvAudioMixMath.h"
#include "project/KvProjectData.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <numeric>
#include <vector>

using namespace velmora;

namespace {

struct MixCase
{
    std::int16_t source;
    double gain;
    std::int16_t mixed;
    std::int16_t expected;
};

class MixSampleTest : public ::testing::TestWithParam<MixCase> {};

TEST_P(MixSampleTest, FollowsTheMixLawAndClips)
{
    const MixCase& c = GetParam();
    EXPECT_EQ(MixSample(c.source, c.gain, c.mixed), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MixSampleTest,
    ::testing::Values(
        MixCase{16384, 1.0, 16384, 28672},     // two items: 16384 + 16384 − 4096
        MixCase{12345, 1.0, 0, 12345},         // the first item over silence passes unchanged
        MixCase{0, 1.0, -777, -777},           // a silent item leaves the mix alone
        MixCase{32767, 2.0, 0, 32767},         // gain 2 on full scale clips
        MixCase{-32768, 2.0, 0, -32768},
        MixCase{-16384, 1.0, -16384, -32768},  // −36864 clips rather than wrapping
        MixCase{1001, 0.5, 0, 500},            // truncated toward zero
        MixCase{-1001, 0.5, 0, -500},
        MixCase{-3, 1.0, 5, 3},                // (−15) >> 16 rounds down to −1: −3 + 5 + 1
        MixCase{32767, 1000.0, 32767, 32767},  // a huge gain clips instead of overflowing
        MixCase{-32768, 1e12, 32767, -32768}));

TEST(MixSamples, OrderMattersForThreeItems)
{
    // Two items over silence commute; a third after a clip does not.
    const std::int16_t p = 30000, q = 30000, r = -30000;
    std::int16_t c = 0, d = 0;
    for (const std::int16_t* s : {&p, &q, &r})
        MixSamples(&c, s, 1, 1.0);
    for (const std::int16_t* s : {&r, &q, &p})
        MixSamples(&d, s, 1, 1.0);
    EXPECT_EQ(c, 17767);  // clipped to 32767, then −30000 + 32767 + 15000
    EXPECT_EQ(d, 32767);
}

// The buffer loop takes shortcuts for gains within ±1; every sample must still come
// out as the one-sample law gives it, extremes included.
class MixSamplesGainTest : public ::testing::TestWithParam<double> {};

TEST_P(MixSamplesGainTest, MatchesTheOneSampleLaw)
{
    const double gain = GetParam();
    std::vector<std::int16_t> source;
    for (int v = -32768; v <= 32767; v += 257)
        source.push_back(static_cast<std::int16_t>(v));
    source.push_back(32767);
    for (std::int16_t mixed : source) {
        std::vector<std::int16_t> mix(source.size(), mixed);
        MixSamples(mix.data(), source.data(), static_cast<int>(source.size()), gain);
        for (std::size_t j = 0; j < source.size(); ++j)
            ASSERT_EQ(mix[j], MixSample(source[j], gain, mixed)) << source[j] << " over " << mixed;
    }
}

INSTANTIATE_TEST_SUITE_P(Gains, MixSamplesGainTest,
                         ::testing::Values(1.0, 0.999999, 0.5, 0.0, -0.25, -1.0, 1.0000001, 2.0));

TEST(VocalCut, RemovesWhatBothChannelsShare)
{
    std::vector<std::int16_t> pcm = {1000, 1000, -5, -5, 300, 1000, 32767, -32768, -32768, 32767};
    ApplyVocalCut(pcm.data(), 5);
    const std::vector<std::int16_t> expected = {0, 0, 0, 0, 700, 700, -32768, -32768, 32767, 32767};
    EXPECT_EQ(pcm, expected);
}

struct FadeCase
{
    KvAudioFade fade;
    double t;
    double expected;
};

class AudioFadeTest : public ::testing::TestWithParam<FadeCase> {};

TEST_P(AudioFadeTest, IsLinear)
{
    EXPECT_NEAR(AudioFadeAt(GetParam().fade, GetParam().t), GetParam().expected, 1e-12);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AudioFadeTest,
    ::testing::Values(
        FadeCase{{true, 0.0, 10.0, 2.0, 0.0}, 0.5, 0.25},  // fade-in 2 s at 0.5 s
        FadeCase{{true, 3.0, 10.0, 2.0, 0.0}, 4.0, 0.5},   // measured from the item's start
        FadeCase{{true, 0.0, 10.0, 2.0, 0.0}, 2.0, 1.0},   // over at its end
        FadeCase{{true, 0.0, 10.0, 0.0, 2.0}, 9.5, 0.25},  // fade-out 2 s, 0.5 s before the end
        FadeCase{{true, 0.0, 10.0, 0.0, 2.0}, 8.0, 1.0},
        FadeCase{{true, 0.0, 2.0, 2.0, 2.0}, 1.5, 0.75},   // both apply: the fade-in wins
        FadeCase{{false, 0.0, 10.0, 2.0, 2.0}, 0.5, 1.0},  // effects off
        FadeCase{{true, 5.0, 10.0, 2.0, 0.0}, 4.9, 0.0})); // ahead of the item: never negative

std::vector<tagKvVideoSnapshotData> Snapshots(std::initializer_list<std::pair<double, double>> list)
{
    std::vector<tagKvVideoSnapshotData> result;
    for (auto [capture, duration] : list) {
        tagKvVideoSnapshotData s;
        s.dCaptureTime = capture;
        s.dDuration = duration;
        result.push_back(s);
    }
    return result;
}

TEST(MapTimelineToSource, StraightLineWithoutSnapshots)
{
    KvAudioPlacement p{5.0, 2.0, 1.5, nullptr};
    EXPECT_DOUBLE_EQ(MapTimelineToSource(p, 5.0), 2.0);
    EXPECT_DOUBLE_EQ(MapTimelineToSource(p, 7.0), 5.0);
    EXPECT_DOUBLE_EQ(MapTimelineToSource(p, 0.0), 2.0 - 7.5); // ahead of the item: negative
}

TEST(MapTimelineToSource, SnapshotsHoldTheSourceAndPushTheRestLater)
{
    const auto snaps = Snapshots({{1.0, 0.5}, {10.0, 2.0}, {20.0, 1.0}});
    KvAudioPlacement p{0.0, 4.0, 1.0, &snaps}; // the first snapshot lies before the in-point
    EXPECT_DOUBLE_EQ(MapTimelineToSource(p, 3.0), 7.0);
    EXPECT_DOUBLE_EQ(MapTimelineToSource(p, 6.0), 10.0);  // freeze starts
    EXPECT_DOUBLE_EQ(MapTimelineToSource(p, 7.5), 10.0);  // inside it
    EXPECT_DOUBLE_EQ(MapTimelineToSource(p, 8.0), 10.0);  // its end
    EXPECT_DOUBLE_EQ(MapTimelineToSource(p, 9.0), 11.0);  // 2 s later than the line
    EXPECT_DOUBLE_EQ(MapTimelineToSource(p, 18.0), 20.0); // second freeze
    EXPECT_DOUBLE_EQ(MapTimelineToSource(p, 19.0), 20.0);  // its end, 18 .. 19
    EXPECT_DOUBLE_EQ(MapTimelineToSource(p, 21.5), 22.5);
}

TEST(MapTimelineToSource, AheadOfTheItemSnapshotsDoNotApply)
{
    const auto snaps = Snapshots({{10.0, 2.0}});
    KvAudioPlacement p{5.0, 2.0, 1.0, &snaps};
    // A reader opened at 0 must reach the in-point exactly at 5 s.
    EXPECT_DOUBLE_EQ(MapTimelineToSource(p, 0.0), -3.0);
    EXPECT_DOUBLE_EQ(MapTimelineToSource(p, 5.0), 2.0);
}

struct FreezeCase
{
    double x;
    bool frozen;
};

class FreezeTest : public ::testing::TestWithParam<FreezeCase> {};

TEST_P(FreezeTest, SilencesBuffersEndingInsideTheFreeze)
{
    const auto snaps = Snapshots({{10.0, 2.0}, {14.0, 1.0}});
    KvAudioPlacement p{0.0, 0.0, 1.0, &snaps};
    EXPECT_EQ(IsFrozenAt(p, GetParam().x), GetParam().frozen) << GetParam().x;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FreezeTest,
    ::testing::Values(FreezeCase{9.99, false}, FreezeCase{10.0, false}, FreezeCase{10.0 + 1.0 / 30, true},
                      FreezeCase{11.0, true}, FreezeCase{12.0, true}, FreezeCase{12.0 + 1.0 / 30, false},
                      // second freeze: 4 s of source after the first, so at 16 .. 17
                      FreezeCase{16.0, false}, FreezeCase{16.5, true}, FreezeCase{17.0, true},
                      FreezeCase{17.01, false}));

TEST(Freeze, SpeedAndInPointMoveTheFreeze)
{
    const auto snaps = Snapshots({{1.0, 5.0}, {10.0, 2.0}});
    // Source 4 .. 10 at speed 2 takes 3 s; the item starts at 1 s; the snapshot at
    // source 1 lies before the in-point and is ignored.
    KvAudioPlacement p{1.0, 4.0, 2.0, &snaps};
    EXPECT_FALSE(IsFrozenAt(p, 3.9));
    EXPECT_TRUE(IsFrozenAt(p, 4.5));
    EXPECT_TRUE(IsFrozenAt(p, 6.0));
    EXPECT_FALSE(IsFrozenAt(p, 6.1));
    KvAudioPlacement none{1.0, 4.0, 2.0, nullptr};
    EXPECT_FALSE(IsFrozenAt(none, 4.5));
}

TEST(LevelSlices, FourHundredFramesGiveSlicesOfSix)
{
    // Left frame i has level i + 1, right frame i has level 2 (i + 1), negated on odd frames.
    std::vector<std::int16_t> pcm(800);
    for (int i = 0; i < 400; ++i) {
        const int sign = i % 2 ? -1 : 1;
        pcm[2 * i] = static_cast<std::int16_t>(sign * (i + 1));
        pcm[2 * i + 1] = static_cast<std::int16_t>(sign * 2 * (i + 1));
    }
    std::int16_t left[kKvLevelSlices], right[kKvLevelSlices];
    ComputeLevelSlices(pcm.data(), 400, left, right);

    auto sumLevels = [](int from, int count) { // sum of i + 1 over frames from .. from + count − 1
        long long s = 0;
        for (int i = from; i < from + count; ++i)
            s += i + 1;
        return s;
    };
    EXPECT_EQ(left[0], sumLevels(0, 5) / 6);            // the first slice holds G − 1 frames
    EXPECT_EQ(left[1], sumLevels(5, 6) / 6);
    EXPECT_EQ(left[62], sumLevels(5 + 61 * 6, 6) / 6);
    EXPECT_EQ(left[63], sumLevels(377, 23) / 22);        // the last 23 frames over 22
    EXPECT_EQ(right[63], 2 * sumLevels(377, 23) / 22);
}

TEST(LevelSlices, ExactMultipleAndShortBuffers)
{
    std::vector<std::int16_t> pcm(2 * 1470, 0);
    for (int i = 0; i < 1470; ++i)
        pcm[2 * i] = pcm[2 * i + 1] = -32768;
    std::int16_t left[kKvLevelSlices], right[kKvLevelSlices];
    ComputeLevelSlices(pcm.data(), 1470, left, right);
    // 1470 frames: G = 22; full scale clips at the top instead of wrapping.
    EXPECT_EQ(left[0], 32768LL * 21 / 22);
    EXPECT_EQ(left[30], 32767);
    EXPECT_EQ(right[63], 32767);

    std::vector<std::int16_t> shortBuffer = {100, -200, 300, -400, 500, -600};
    ComputeLevelSlices(shortBuffer.data(), 3, left, right);
    EXPECT_EQ(left[0], 0);
    EXPECT_EQ(left[63], 300);
    EXPECT_EQ(right[63], 400);
    ComputeLevelSlices(shortBuffer.data(), 0, left, right);
    EXPECT_EQ(left[63], 0);
}

} // namespace
