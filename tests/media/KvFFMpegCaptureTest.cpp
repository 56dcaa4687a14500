#include "media/KvFFMpegCapture.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "media/MediaTestHelper.h"
#include "support/TempFolder.h"

using velmora::test::MakeMedia;

namespace {

// Every picture carries its frame number in the grey of its upper half
// (luma 16 + 2n); the lower half is white.
const std::string kNumbered =
    "-f lavfi -i color=c=black:s=64x48:r=25:d=4 "
    "-vf \"geq=lum='if(lt(Y,H/2),16+2*N,235)':cb=128:cr=128\" -pix_fmt yuv420p ";

int FrameNumberAt(const CKvFFMpegCapture::Picture& picture, int row)
{
    const uint8_t* pixel = picture.pBits + static_cast<size_t>(row) * picture.nStride + 2 * 4;
    return static_cast<int>(std::lround(pixel[0] / (2.0 * 255.0 / 219.0)));
}

class CaptureTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        // Shared by every suite derived from this fixture: made once, removed at exit.
        if (s_folder)
            return;
        s_folder = std::make_unique<velmora::test::TempFolder>("velmora-capture");
        const std::string& dir = s_folder->Path();
        ASSERT_TRUE(MakeMedia(kNumbered + "-c:v libx264 -qp 0 -x264-params keyint=100:min-keyint=100:scenecut=0", dir + "far-keys.mp4"));
        ASSERT_TRUE(MakeMedia(kNumbered + "-c:v libx264 -qp 0 -x264-params keyint=10:min-keyint=10:scenecut=0", dir + "keys10.mp4"));
        ASSERT_TRUE(MakeMedia(kNumbered + "-c:v libx264 -qp 0 -g 25", dir + "numbered.mkv"));
        ASSERT_TRUE(MakeMedia(kNumbered + "-c:v libx264 -qp 0 -g 25", dir + "numbered.ts"));
        ASSERT_TRUE(MakeMedia("-f lavfi -i sine=d=1", dir + "audio-only.wav"));
        velmora::test::WriteFileBytes(dir + "notes.dat", std::string(3000, 'y'));
        const std::string whole = velmora::test::ReadFileBytes(dir + "numbered.mkv");
        velmora::test::WriteFileBytes(dir + "truncated.mkv", whole.substr(0, whole.size() / 2));
    }
    static std::string Path(const std::string& name) { return s_folder->Path() + name; }

    static std::unique_ptr<velmora::test::TempFolder> s_folder;
};

std::unique_ptr<velmora::test::TempFolder> CaptureTest::s_folder;

class CaptureFileTest : public CaptureTest, public ::testing::WithParamInterface<const char*>
{
};

TEST_P(CaptureFileTest, CountsFramesAndRate)
{
    CKvFFMpegCapture capture(Path(GetParam()), 64, 48, false);
    ASSERT_FALSE(capture.IsFailed());
    EXPECT_DOUBLE_EQ(capture.GetFrameRate(), 25.0);
    EXPECT_NEAR(capture.GetMediaDuration(), 4.0, 0.05);
    EXPECT_NEAR(double(capture.GetFrameCount()), 100.0, 1.0);
}

// GIVEN times in any order (forward, far, backward, just behind)
// THEN the picture is the one on screen at that time, counted from the
// stream's own start (a transport stream's clock offset does not count).
TEST_P(CaptureFileTest, GetFrameAtDeliversThePictureShownAtThatTime)
{
    CKvFFMpegCapture capture(Path(GetParam()), 64, 48, false);
    ASSERT_FALSE(capture.IsFailed());
    for (double seconds : {0.0, 0.5, 2.02, 3.95, 1.0, 0.2, 0.25, 3.0, 3.04}) {
        CKvFFMpegCapture::Picture picture;
        ASSERT_TRUE(capture.GetFrameAt(seconds, &picture)) << seconds;
        EXPECT_EQ(FrameNumberAt(picture, 2), int(std::floor(seconds * 25 + 1e-9))) << seconds;
        EXPECT_EQ(picture.pBits[static_cast<size_t>(40) * picture.nStride + 8], 255) << seconds;
    }
}

// GIVEN a request at or past the end of the stream THEN it shows the last picture,
// and requests for earlier times still find theirs afterwards (the one held and
// the one just before it included).
TEST_P(CaptureFileTest, RecoversAfterARequestAtOrPastTheEnd)
{
    CKvFFMpegCapture capture(Path(GetParam()), 64, 48, false);
    ASSERT_FALSE(capture.IsFailed());
    for (double seconds : {4.0, 0.3, 3.99, 9.0, 3.96, 3.9, 2.0, 4.0, 3.92}) {
        CKvFFMpegCapture::Picture picture;
        ASSERT_TRUE(capture.GetFrameAt(seconds, &picture)) << seconds;
        EXPECT_EQ(FrameNumberAt(picture, 2), std::min(99, int(std::floor(seconds * 25 + 1e-9)))) << seconds;
    }
}

TEST_F(CaptureTest, RefusesTimesThatAreNoTimesAndGoesOn)
{
    CKvFFMpegCapture capture(Path("keys10.mp4"), 64, 48, false);
    for (double seconds : {std::nan(""), HUGE_VAL, -HUGE_VAL, 1e20})
        EXPECT_FALSE(capture.GetFrameAt(seconds)) << seconds;
    CKvFFMpegCapture::Picture picture;
    ASSERT_TRUE(capture.GetFrameAt(1.2, &picture));
    EXPECT_EQ(FrameNumberAt(picture, 2), 30);
}

INSTANTIATE_TEST_SUITE_P(Files, CaptureFileTest,
                         ::testing::Values("far-keys.mp4", "keys10.mp4", "numbered.mkv", "numbered.ts"));

TEST_F(CaptureTest, FlipDeliversThePictureUpsideDown)
{
    CKvFFMpegCapture capture(Path("keys10.mp4"), 64, 48, true);
    CKvFFMpegCapture::Picture picture;
    ASSERT_TRUE(capture.GetFrameAt(1.2, &picture));
    EXPECT_EQ(picture.pBits[2 * picture.nStride + 8], 255);
    EXPECT_EQ(FrameNumberAt(picture, 45), 30);
}

TEST_F(CaptureTest, ScalesToTheFixedSize)
{
    CKvFFMpegCapture capture(Path("keys10.mp4"), 32, 20, false);
    CKvFFMpegCapture::Picture picture;
    ASSERT_TRUE(capture.GetFrameAt(0.4, &picture));
    EXPECT_EQ(picture.nWidth, 32);
    EXPECT_EQ(picture.nHeight, 20);
    EXPECT_EQ(picture.nStride, 32 * 4);
    EXPECT_EQ(picture.nBytesPerPixel, 4);
    EXPECT_EQ(FrameNumberAt(picture, 1), 10);
    EXPECT_EQ(capture.GetSourceWidth(), 64);
}

// SeekToFrame stops at the first picture decoded before the target (the key
// frame), reads one more, and leaves the index at the frame after that.
TEST_F(CaptureTest, SeekToFrameLandsOnTheKeyFrameBeforeTheTarget)
{
    CKvFFMpegCapture capture(Path("keys10.mp4"), 64, 48, false);
    capture.SeekToFrame(50);
    EXPECT_EQ(capture.GetFrameIndex(), 32);
    // Beyond the end counts as the frame count.
    capture.SeekToFrame(1000);
    EXPECT_EQ(capture.GetFrameIndex(), 82);
    capture.SeekToFrame(0);
    EXPECT_EQ(capture.GetFrameIndex(), 0);
    ASSERT_TRUE(capture.ReadFrame());
    CKvFFMpegCapture::Picture picture;
    ASSERT_TRUE(capture.GetPicture(picture));
    EXPECT_EQ(FrameNumberAt(picture, 2), 0);
}

TEST_F(CaptureTest, ReadFrameStopsAtTheFrameCount)
{
    CKvFFMpegCapture capture(Path("keys10.mp4"), 64, 48, false);
    int pictures = 0;
    while (capture.ReadFrame() && pictures < 500)
        ++pictures;
    EXPECT_EQ(pictures, 100);
}

TEST_F(CaptureTest, TruncatedFileEndsWithoutHarm)
{
    CKvFFMpegCapture capture(Path("truncated.mkv"), 64, 48, false);
    ASSERT_FALSE(capture.IsFailed());
    int pictures = 0;
    while (capture.ReadFrame() && pictures < 500)
        ++pictures;
    EXPECT_GT(pictures, 10);
    EXPECT_LT(pictures, 100);
    CKvFFMpegCapture::Picture picture;
    capture.GetFrameAt(3.5, &picture);
}

class CaptureUnreadableTest : public CaptureTest, public ::testing::WithParamInterface<const char*>
{
};

TEST_P(CaptureUnreadableTest, FailsQuietly)
{
    CKvFFMpegCapture capture(Path(GetParam()), 64, 48, false);
    EXPECT_TRUE(capture.IsFailed());
    CKvFFMpegCapture::Picture picture;
    EXPECT_FALSE(capture.GetFrameAt(1.0, &picture));
    EXPECT_FALSE(capture.GetPicture(picture));
    EXPECT_FALSE(capture.ReadFrame());
    capture.SeekToFrame(10);
    EXPECT_EQ(capture.GetFrameCount(), 0);
}

INSTANTIATE_TEST_SUITE_P(Files, CaptureUnreadableTest,
                         ::testing::Values("audio-only.wav", "notes.dat", "missing.mp4"));

} // namespace
