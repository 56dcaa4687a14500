#include "media/KvMediaInfo.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cctype>
#include <cmath>
#include <memory>

#include "common/KvText.h"
#include "media/MediaTestHelper.h"
#include "support/TempFolder.h"

using velmora::test::MakeMedia;

namespace {

class MediaInfoTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        // Shared by every suite derived from this fixture: made once, removed at exit.
        if (s_folder)
            return;
        s_folder = std::make_unique<velmora::test::TempFolder>("velmora-info");
        const std::string& dir = s_folder->Path();
        ASSERT_TRUE(MakeMedia("-f lavfi -i testsrc2=s=320x240:r=25:d=2 -f lavfi -i sine=d=2 -c:v mpeg4 -c:a aac "
                              "-shortest",
                              dir + "movie clip ü.mp4"));
        ASSERT_TRUE(MakeMedia("-f lavfi -i testsrc2=s=176x144:r=25:d=3 -c:v wmv2 -f lavfi -i sine=d=3 -c:a wmav2",
                              dir + "clip.wmv"));
        ASSERT_TRUE(MakeMedia("-f lavfi -i testsrc2=s=160x120:r=25:d=2 -c:v mpeg4", dir + "video-only.avi"));
        // Quiet first, loud later: a length guessed from the first frames' bit
        // rate is far off for this VBR file without a Xing header.
        ASSERT_TRUE(MakeMedia("-f lavfi -i anullsrc=r=44100:cl=stereo:d=6 -f lavfi -i anoisesrc=r=44100:d=6 "
                              "-filter_complex '[0][1]concat=v=0:a=1' -c:a libmp3lame -q:a 2 -write_xing 0",
                              dir + "vbr.mp3"));
        ASSERT_TRUE(MakeMedia("-f lavfi -i anullsrc=r=44100:cl=stereo:d=5 -f lavfi -i anoisesrc=r=44100:d=5 "
                              "-filter_complex '[0][1]concat=v=0:a=1' -c:a aac -f adts",
                              dir + "raw.aac"));
        ASSERT_TRUE(MakeMedia("-f lavfi -i color=c=red:s=64x64 -frames:v 1", dir + "cover.png"));
        ASSERT_TRUE(MakeMedia("-f lavfi -i sine=d=2 -i " + velmora::test::ShellQuote(dir + "cover.png") +
                                  " -map 0 -map 1 -c:a libmp3lame -c:v png -disposition:v attached_pic",
                              dir + "with-cover.mp3", false));
        velmora::test::WriteFileBytes(dir + "notes.dat", std::string(4000, 'z'));

        // Files whose headers promise more (or other) than their packets hold.
        const std::string tone = "-f lavfi -i sine=f=440:r=44100:d=20";
        ASSERT_TRUE(MakeMedia(tone + " -c:a libmp3lame -q:a 4", dir + "xing.mp3"));
        ASSERT_TRUE(MakeMedia(tone + " -c:a flac", dir + "whole.flac"));
        ASSERT_TRUE(MakeMedia(tone + " -c:a aac -movflags +faststart", dir + "whole.m4a"));
        for (const char* name : {"xing.mp3", "whole.flac", "whole.m4a"}) {
            const std::string bytes = velmora::test::ReadFileBytes(dir + name);
            const std::string ext = std::string(name).substr(std::string(name).find('.'));
            velmora::test::WriteFileBytes(dir + "cut10" + ext, bytes.substr(0, bytes.size() / 10));
        }
        ASSERT_TRUE(MakeMedia("-f lavfi -i sine=f=440:r=48000:d=3 -c:a libopus", dir + "preskip.opus"));
        ASSERT_TRUE(MakeMedia("-f lavfi -i sine=f=440:r=8000:d=3 -c:a libmp3lame -b:a 16k", dir + "mpeg25.mp3"));
    }
    static std::string Path(const std::string& name) { return s_folder->Path() + name; }

    static std::unique_ptr<velmora::test::TempFolder> s_folder;
};

std::unique_ptr<velmora::test::TempFolder> MediaInfoTest::s_folder;

struct InfoCase
{
    const char* file;
    int hasVideo;
    int hasAudio;
    int width;
    int height;
    double duration;
};

class MediaInfoFileTest : public MediaInfoTest, public ::testing::WithParamInterface<InfoCase>
{
};

TEST_P(MediaInfoFileTest, ReportsStreamsSizeAndLength)
{
    const InfoCase c = GetParam();
    velmora::MediaInfo info;
    ASSERT_TRUE(velmora::GetMediaInfo(Path(c.file), info));
    EXPECT_EQ(info.nHasVideo, c.hasVideo);
    EXPECT_EQ(info.nHasAudio, c.hasAudio);
    EXPECT_EQ(info.nWidth, c.width);
    EXPECT_EQ(info.nHeight, c.height);
    EXPECT_NEAR(info.dDuration, c.duration, 0.06);
    EXPECT_EQ(info.llDuration100ns, std::llround(info.dDuration * 1e7));
}

INSTANTIATE_TEST_SUITE_P(Files, MediaInfoFileTest,
                         ::testing::Values(InfoCase{"movie clip ü.mp4", 1, 1, 320, 240, 2.0},
                                           InfoCase{"clip.wmv", 1, 1, 176, 144, 3.09},
                                           InfoCase{"video-only.avi", 1, 0, 160, 120, 2.0},
                                           InfoCase{"with-cover.mp3", 0, 1, 0, 0, 2.0}));

// Sound alone is measured from its packets, whatever its header declares: the length
// is what a decoder gives, within one codec frame.
struct LengthCase
{
    const char* file;
    double frameSeconds; // one codec frame of the file
};

class SoundLengthTest : public MediaInfoTest, public ::testing::WithParamInterface<LengthCase>
{
};

TEST_P(SoundLengthTest, IsWhatTheToolDecodesWithinOneCodecFrame)
{
    const LengthCase c = GetParam();
    const double decoded = static_cast<double>(velmora::test::DecodeWithTool(Path(c.file), 44100).size()) / 2 / 44100;
    ASSERT_GT(decoded, 0.5);
    EXPECT_NEAR(velmora::MeasureSoundLength(Path(c.file)), decoded, c.frameSeconds + 0.002) << c.file;
}

INSTANTIATE_TEST_SUITE_P(Files, SoundLengthTest,
                         ::testing::Values(LengthCase{"vbr.mp3", 1152 / 44100.0},     // no Xing header
                                           LengthCase{"raw.aac", 1024 / 44100.0},     // no length at all
                                           LengthCase{"cut10.mp3", 1152 / 44100.0},   // Xing header of 20 s
                                           LengthCase{"cut10.flac", 4608 / 44100.0},  // STREAMINFO of 20 s
                                           LengthCase{"cut10.m4a", 1024 / 44100.0},   // an index of 20 s
                                           LengthCase{"preskip.opus", 960 / 48000.0}, // stamped from -312
                                           LengthCase{"mpeg25.mp3", 576 / 8000.0}),
                         [](const ::testing::TestParamInfo<LengthCase>& info) {
                             std::string name = info.param.file;
                             for (char& ch : name)
                                 ch = std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
                             return name;
                         });

TEST_F(MediaInfoTest, SoundLengthOfWhatIsNoSoundIsZero)
{
    EXPECT_EQ(velmora::MeasureSoundLength(Path("video-only.avi")), 0.0);
    EXPECT_EQ(velmora::MeasureSoundLength(Path("notes.dat")), 0.0);
    const std::atomic<bool> cancelled{true};
    EXPECT_EQ(velmora::MeasureSoundLength(Path("vbr.mp3"), -1, &cancelled), 0.0);
}

TEST_F(MediaInfoTest, WideEntryPointFillsAllSixValues)
{
    int hasVideo = -1, hasAudio = -1, width = -1, height = -1;
    double duration = -1;
    int64_t further = -1;
    const std::wstring path = velmora::Utf8ToWide(Path("movie clip ü.mp4"));
    ASSERT_NE(kvplaydll_GetMediaInfoEx(path.c_str(), &hasVideo, &hasAudio, &width, &height, &duration, &further), 0);
    EXPECT_EQ(hasVideo, 1);
    EXPECT_EQ(hasAudio, 1);
    EXPECT_EQ(width, 320);
    EXPECT_EQ(height, 240);
    EXPECT_NEAR(duration, 2.0, 0.06);
    EXPECT_NEAR(double(further), 2.0e7, 0.06e7);
}

class MediaInfoFailureTest : public MediaInfoTest, public ::testing::WithParamInterface<const char*>
{
};

TEST_P(MediaInfoFailureTest, FailsWithZeroes)
{
    int hasVideo = -1, hasAudio = -1, width = -1, height = -1;
    double duration = -1;
    int64_t further = -1;
    const std::wstring path = velmora::Utf8ToWide(Path(GetParam()));
    EXPECT_EQ(kvplaydll_GetMediaInfoEx(path.c_str(), &hasVideo, &hasAudio, &width, &height, &duration, &further), 0);
    EXPECT_EQ(hasVideo + hasAudio + width + height, 0);
    EXPECT_EQ(duration, 0.0);
    EXPECT_EQ(further, 0);
    EXPECT_EQ(kvplaydll_GetMediaInfoEx(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr), 0);
}

INSTANTIATE_TEST_SUITE_P(Files, MediaInfoFailureTest, ::testing::Values("missing.mp4", "notes.dat"));

} // namespace
