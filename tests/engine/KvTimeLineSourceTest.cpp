// The time-line source: buffer layout, totals, and the owner's control of the stream.

#include "pipeline/KvTimeLineSource.h"

#include <atomic>
#include <chrono>
#include <cmath>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>
#include <vector>

using namespace velmora;

namespace {

struct Collected
{
    std::mutex lock;
    std::vector<int> sizes;
    std::vector<int> capacities;
    std::atomic<int> ends{0};
    int endResult = 1;
};

bool WaitFor(const std::function<bool()>& done, int ms = 5000)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

} // namespace

struct LayoutCase
{
    double duration;
    double frameRate;
    std::int64_t total;
    std::int64_t buffers;
    int last;
};

class TimeLineLayout : public ::testing::TestWithParam<LayoutCase>
{
};

TEST_P(TimeLineLayout, OneBufferPerFrameLastOnePartial)
{
    const LayoutCase c = GetParam();
    Collected got;
    CKvTimeLineSource source;
    ASSERT_TRUE(source.Start(
        c.duration, c.frameRate, 44100,
        [&](std::int16_t* pcm, int frames, int capacity) {
            std::lock_guard<std::mutex> lock(got.lock);
            got.sizes.push_back(frames);
            got.capacities.push_back(capacity);
            for (int i = 0; i < frames * 2; ++i)
                EXPECT_EQ(pcm[i], 0) << "the carrier is silence";
            pcm[0] = 1234; // a sink may write in place; the next buffer starts silent again
            return 0;
        },
        [&](int result) {
            got.endResult = result;
            ++got.ends;
        }));
    ASSERT_TRUE(WaitFor([&] { return got.ends.load() == 1; }));
    source.Stop();

    EXPECT_EQ(got.endResult, 0);
    ASSERT_EQ(static_cast<std::int64_t>(got.sizes.size()), c.buffers);
    std::int64_t total = 0;
    const int full = static_cast<int>(std::lround(44100 / c.frameRate));
    for (std::size_t i = 0; i < got.sizes.size(); ++i) {
        total += got.sizes[i];
        if (i + 1 < got.sizes.size()) {
            EXPECT_EQ(got.sizes[i], full) << "buffer " << i;
        }
        EXPECT_GE(got.capacities[i], got.sizes[i]);
    }
    EXPECT_EQ(got.sizes.back(), c.last);
    EXPECT_EQ(total, c.total);
    EXPECT_EQ(source.FramesDelivered(), c.total);
    EXPECT_EQ(CKvTimeLineSource::TotalFrames(c.duration, 44100), c.total);
}

INSTANTIATE_TEST_SUITE_P(Durations, TimeLineLayout,
    ::testing::Values(LayoutCase{1.0, 30.0, 44100, 30, 1470},          // whole frames
                      LayoutCase{0.05, 30.0, 2205, 2, 735},            // a half frame at the end
                      LayoutCase{2.0001, 30.0, 88204, 61, 4},          // a sliver of a frame
                      LayoutCase{0.01, 30.0, 441, 1, 441},             // shorter than one frame
                      LayoutCase{1.0, 15.0, 44100, 15, 2940},          // the preview's frame rate
                      LayoutCase{1.0 / 3.0, 30.0, 14700, 10, 1470}));  // rounding lands on a frame edge

TEST(TimeLineSource, RefusesTimeLinesWithoutLength)
{
    CKvTimeLineSource source;
    auto sink = [](std::int16_t*, int, int) { return 0; };
    EXPECT_FALSE(source.Start(0.0, 30.0, 44100, sink, nullptr));
    EXPECT_FALSE(source.Start(-1.0, 30.0, 44100, sink, nullptr));
    EXPECT_FALSE(source.Start(NAN, 30.0, 44100, sink, nullptr));
    EXPECT_FALSE(source.Start(INFINITY, 30.0, 44100, sink, nullptr));
    EXPECT_FALSE(source.Start(1.0, 0.0, 44100, sink, nullptr));
    EXPECT_FALSE(source.IsStarted());
}

TEST(TimeLineSource, SinkFailureEndsTheStreamWithItsResult)
{
    CKvTimeLineSource source;
    std::atomic<int> buffers{0};
    std::atomic<int> result{1};
    ASSERT_TRUE(source.Start(
        10.0, 30.0, 44100, [&](std::int16_t*, int, int) { return ++buffers == 3 ? -5 : 0; },
        [&](int r) { result = r; }));
    ASSERT_TRUE(WaitFor([&] { return result.load() != 1; }));
    EXPECT_EQ(result.load(), -5);
    EXPECT_EQ(buffers.load(), 3);
    EXPECT_EQ(source.BuffersDelivered(), 2);
}

TEST(TimeLineSource, PauseHoldsResumeContinuesStopEndsWithoutEndNotice)
{
    CKvTimeLineSource source;
    std::atomic<int> buffers{0};
    std::atomic<int> ends{0};
    std::atomic<bool> gate{false};
    ASSERT_TRUE(source.Start(
        3600.0, 30.0, 44100,
        [&](std::int16_t*, int, int) {
            ++buffers;
            while (!gate.load()) // hold the stream on the first buffer until paused
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            return 0;
        },
        [&](int) { ++ends; }));
    ASSERT_TRUE(WaitFor([&] { return buffers.load() == 1; }));
    // Pause returns only once the buffer in flight is through.
    std::thread opener([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        gate = true;
    });
    source.Pause();
    opener.join();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(buffers.load(), 1);
    EXPECT_TRUE(source.IsPaused());

    source.Resume();
    ASSERT_TRUE(WaitFor([&] { return buffers.load() > 10; }));
    source.Stop();
    const int stoppedAt = buffers.load();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(buffers.load(), stoppedAt);
    EXPECT_EQ(ends.load(), 0);
    EXPECT_FALSE(source.HasEnded());

    source.Pause();
    source.Stop(); // stopping a paused or stopped stream is harmless
}
