// The preview's sound device through SDL's disk driver: what it counts as played,
// and that nobody waits on it for ever.

#include "pipeline/KvSdlAudioSink.h"

#include "support/ScopedEnv.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <vector>

using namespace velmora;
using velmora::test::ScopedEnv;

namespace {

class SinkTest : public ::testing::Test
{
protected:
    velmora::test::TempFolder folder{"velmora-sink"};
    ScopedEnv file{"SDL_DISKAUDIOFILE", folder.Path() + "played.raw"};
    CKvSdlAudioSink sink;
    std::vector<std::int16_t> pcm = std::vector<std::int16_t>(2 * 441, 100);
};

} // namespace

TEST_F(SinkTest, PlaysWhatWasWrittenAndCountsOnlyThat)
{
    const auto opened = std::chrono::steady_clock::now();
    ASSERT_TRUE(sink.Open(44100, 2, 4410)) << sink.LastError();
    EXPECT_EQ(sink.DriverName(), "disk");
    for (int i = 0; i < 30; ++i)
        ASSERT_TRUE(sink.Write(pcm.data(), 441));
    // Writing is paced by the device, and what counts as played is what it took:
    // never more than real time allows (the disk driver runs a little fast, and one
    // device buffer is taken at once).
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - opened).count();
    EXPECT_LE(sink.FramesPlayed(), elapsed * 44100 * 1.02 + 1024);
    ASSERT_TRUE(sink.Drain()) << sink.LastError();
    EXPECT_EQ(sink.FramesPlayed(), 30 * 441);
    EXPECT_EQ(sink.FramesWritten(), 30 * 441);
    sink.Close();
    EXPECT_FALSE(sink.IsOpen());
    EXPECT_FALSE(sink.Write(pcm.data(), 441));
}

TEST_F(SinkTest, AHeldOrAbortedDeviceNeverLeavesAWriterWaiting)
{
    ASSERT_TRUE(sink.Open(44100, 2, 4410)) << sink.LastError();
    {   // A short stream ends, the owner holds the device before it ever started,
        // then lets it go: the drain must finish.
        ASSERT_TRUE(sink.Write(pcm.data(), 441));
        sink.SetPaused(true);
        auto drained = std::async(std::launch::async, [this] { return sink.Drain(); });
        EXPECT_EQ(drained.wait_for(std::chrono::milliseconds(300)), std::future_status::timeout);
        sink.SetPaused(false);
        if (drained.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
            sink.Abort(); // lets the drain go, so the test fails instead of hanging
            FAIL() << "the drain waits for a device that never starts";
        }
        EXPECT_TRUE(drained.get());
    }
    {   // A writer waiting on a held, full queue is released by Abort.
        sink.SetPaused(true);
        auto written = std::async(std::launch::async, [this] {
            for (int i = 0; i < 20; ++i)
                if (!sink.Write(pcm.data(), 441))
                    return false;
            return true;
        });
        EXPECT_EQ(written.wait_for(std::chrono::milliseconds(300)), std::future_status::timeout);
        sink.Abort();
        ASSERT_EQ(written.wait_for(std::chrono::seconds(5)), std::future_status::ready);
        EXPECT_FALSE(written.get());
    }
}
