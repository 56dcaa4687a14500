#include "media/KvMediaInfo.h"

#include <gtest/gtest.h>

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
                                           InfoCase{"vbr.mp3", 0, 1, 0, 0, 12.0},
                                           InfoCase{"raw.aac", 0, 1, 0, 0, 10.0},
                                           InfoCase{"with-cover.mp3", 0, 1, 0, 0, 2.0}));

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
