#include "media/ExtractAudioToWav.h"

#include <filesystem>
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "media/MediaTestHelper.h"
#include "support/TempFolder.h"

using velmora::test::MakeMedia;
using velmora::test::ProbeStreamEntry;
using velmora::test::ReadFileBytes;

namespace {

uint32_t Le32(const std::string& bytes, size_t at)
{
    return uint32_t(uint8_t(bytes[at])) | uint32_t(uint8_t(bytes[at + 1])) << 8 |
           uint32_t(uint8_t(bytes[at + 2])) << 16 | uint32_t(uint8_t(bytes[at + 3])) << 24;
}

class ExtractTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        // Shared by every suite derived from this fixture: made once, removed at exit.
        if (s_folder)
            return;
        s_folder = std::make_unique<velmora::test::TempFolder>("velmora-extract");
        const std::string& dir = s_folder->Path();
        ASSERT_TRUE(MakeMedia("-f lavfi -i sine=f=440:r=48000:d=2 -ac 6 -c:a pcm_s16le", dir + "surround.wav"));
        ASSERT_TRUE(MakeMedia(velmora::test::RampInput(44100, 2.0) + " -c:a flac", dir + "ramp.flac"));
        ASSERT_TRUE(MakeMedia("-f lavfi -i sine=f=440:d=3 -c:a wmav2 -b:a 128k", dir + "Ünïcødé song.wma"));
        ASSERT_TRUE(MakeMedia("-f lavfi -i sine=f=440:d=1 -ac 6 -c:a ac3", dir + "part1.ts"));
        ASSERT_TRUE(MakeMedia("-f lavfi -i sine=f=660:d=1 -ac 2 -c:a ac3", dir + "part2.ts"));
        velmora::test::WriteFileBytes(dir + "switch.ts", ReadFileBytes(dir + "part1.ts") + ReadFileBytes(dir + "part2.ts"));
        ASSERT_TRUE(MakeMedia("-f lavfi -i testsrc2=s=64x48:d=1 -c:v mpeg4", dir + "video-only.mp4"));
        velmora::test::WriteFileBytes(dir + "notes.dat", "hello, not media");
    }
    static std::string Path(const std::string& name) { return s_folder->Path() + name; }

    // Checks the canonical header against the file and returns its data size.
    static uint32_t CheckHeader(const std::string& bytes)
    {
        EXPECT_GE(bytes.size(), 44u);
        if (bytes.size() < 44)
            return 0;
        EXPECT_EQ(bytes.substr(0, 4), "RIFF");
        EXPECT_EQ(bytes.substr(8, 8), "WAVEfmt ");
        EXPECT_EQ(Le32(bytes, 16), 16u);
        EXPECT_EQ(Le32(bytes, 20), 1u | 2u << 16);        // PCM, 2 channels
        EXPECT_EQ(Le32(bytes, 24), 44100u);
        EXPECT_EQ(Le32(bytes, 28), 176400u);
        EXPECT_EQ(Le32(bytes, 32), 4u | 16u << 16);       // block align 4, 16 bits
        EXPECT_EQ(bytes.substr(36, 4), "data");
        EXPECT_EQ(Le32(bytes, 40), bytes.size() - 44);
        EXPECT_EQ(Le32(bytes, 4), bytes.size() - 8);
        return Le32(bytes, 40);
    }

    static std::unique_ptr<velmora::test::TempFolder> s_folder;
};

std::unique_ptr<velmora::test::TempFolder> ExtractTest::s_folder;

TEST_F(ExtractTest, SurroundBecomesStereo44100WithMatchingSizes)
{
    const std::string target = Path("surround-out.wav");
    ASSERT_TRUE(ExtractAudioToWav(Path("surround.wav"), target));
    const uint32_t data = CheckHeader(ReadFileBytes(target));
    EXPECT_NEAR(double(data) / 176400.0, 2.0, 0.01);
    EXPECT_EQ(ProbeStreamEntry(target, "channels"), "2");
    EXPECT_EQ(ProbeStreamEntry(target, "sample_rate"), "44100");
    EXPECT_EQ(ProbeStreamEntry(target, "codec_name"), "pcm_s16le");
    EXPECT_NEAR(std::stod(ProbeStreamEntry(target, "duration")), 2.0, 0.01);
}

TEST_F(ExtractTest, LosslessSourceIsCopiedSampleForSample)
{
    const std::string target = Path("ramp-out.wav");
    ASSERT_TRUE(ExtractAudioToWav(Path("ramp.flac"), target));
    const std::string bytes = ReadFileBytes(target);
    ASSERT_EQ(CheckHeader(bytes), 2u * 44100 * 4);
    for (int64_t n = 0; n < 2 * 44100; ++n) {
        int16_t pair[2];
        std::memcpy(pair, bytes.data() + 44 + n * 4, 4);
        ASSERT_EQ(pair[0], velmora::test::RampLeft(n)) << n;
        ASSERT_EQ(pair[1], velmora::test::RampRight(n)) << n;
    }
}

TEST_F(ExtractTest, WindowsMediaAudioWithUnicodeName)
{
    const std::string target = Path("wma out ü.wav");
    ASSERT_TRUE(ExtractAudioToWav(Path("Ünïcødé song.wma"), target));
    const uint32_t data = CheckHeader(ReadFileBytes(target));
    EXPECT_NEAR(double(data) / 176400.0, 3.0, 0.1);
}

TEST_F(ExtractTest, ChannelLayoutChangeKeepsBothHalves)
{
    const std::string target = Path("switch-out.wav");
    ASSERT_TRUE(ExtractAudioToWav(Path("switch.ts"), target));
    const uint32_t data = CheckHeader(ReadFileBytes(target));
    EXPECT_NEAR(double(data) / 176400.0, 2.0, 0.1);
}

TEST_F(ExtractTest, DataBeyondTheHeaderLimitIsAFailureNotAWrappedSize)
{
    const std::string target = Path("limited.wav");
    EXPECT_FALSE(velmora::ExtractAudioToWavLimited(Path("ramp.flac"), target, 100000));
    // Nothing half written stays behind.
    EXPECT_FALSE(std::filesystem::exists(target));
    // Exactly at the limit is fine.
    EXPECT_TRUE(velmora::ExtractAudioToWavLimited(Path("ramp.flac"), target, 2u * 44100 * 4));
    EXPECT_EQ(velmora::kMaxWavDataBytes, 0xFFFFFFFFull - 36);
}

class ExtractFailureTest : public ExtractTest, public ::testing::WithParamInterface<const char*>
{
};

TEST_P(ExtractFailureTest, ReturnsFalseAndLeavesNoFile)
{
    EXPECT_FALSE(ExtractAudioToWav(Path(GetParam()), Path("failed.wav")));
    EXPECT_FALSE(std::filesystem::exists(Path("failed.wav")));
}

INSTANTIATE_TEST_SUITE_P(Sources, ExtractFailureTest,
                         ::testing::Values("missing.wav", "notes.dat", "video-only.mp4"));

TEST_F(ExtractTest, UnwritableTargetFails)
{
    EXPECT_FALSE(ExtractAudioToWav(Path("ramp.flac"), Path("no/such/folder/out.wav")));
}

} // namespace
