// The tags and cover a source hands its output, from the containers people rip from,
// and what a hostile file gets through: nothing that an output could not hold.

#include "common/KvText.h"
#include "media/KvCoverPicture.h"
#include "media/KvMediaTags.h"

#include <gtest/gtest.h>

#include <memory>

#include "media/MediaTestHelper.h"
#include "support/TempFolder.h"

using namespace velmora;
using namespace velmora::test;

namespace {

const char* const kTitle = "Заголовок — 标题";
const char* const kArtist = "Ярослав & Σοφία";

std::string SongMetadata()
{
    return std::string(" -metadata title='") + kTitle + "' -metadata artist='" + kArtist +
           "' -metadata album=Album -metadata album_artist='Various 様々' -metadata date=2021-05-03"
           " -metadata track=3/12 -metadata genre=Jazz -metadata comment='line one' ";
}

std::vector<uint8_t> Bytes(const std::string& text)
{
    return std::vector<uint8_t>(text.begin(), text.end());
}

class MediaTagsTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        if (s_folder)
            return;
        s_folder = std::make_unique<TempFolder>("velmora-read-tags");
        const std::string& dir = s_folder->Path();
        ASSERT_TRUE(MakeMedia("-f lavfi -i testsrc=s=64x64 -frames:v 1", dir + "cover.jpg", false));
        ASSERT_TRUE(MakeMedia("-f lavfi -i testsrc=s=64x64 -frames:v 1", dir + "cover.png", false));
        const std::string cover = " -i " + ShellQuote(dir + "cover.jpg") + " -map 0:a -map 1 -c:v copy -disposition:v attached_pic ";
        const std::string sine = "-f lavfi -i sine=d=1";
        ASSERT_TRUE(MakeMedia(sine + cover + SongMetadata() + "-c:a libmp3lame", dir + "song.mp3", false));
        ASSERT_TRUE(MakeMedia(sine + cover + SongMetadata() + "-c:a aac", dir + "song.m4a", false));
        ASSERT_TRUE(MakeMedia(sine + cover + SongMetadata() + "-c:a flac", dir + "song.flac", false));
        ASSERT_TRUE(MakeMedia(sine + SongMetadata() + "-c:a libvorbis", dir + "song.ogg", false));
        // A film: its own title, and a sound track named like a track, not like a song.
        ASSERT_TRUE(MakeMedia("-f lavfi -i color=s=64x48:d=1 " + sine + " -map 0 -map 1 -metadata title='The Film'"
                              " -metadata:s:a:0 title=Commentary -c:v mpeg4 -c:a aac",
                              dir + "film.mkv", false));
        ASSERT_TRUE(MakeMedia("-f lavfi -i color=s=64x48:d=1 " + sine + " -map 0 -map 1"
                              " -metadata:s:a:0 title=Commentary -c:v mpeg4 -c:a aac",
                              dir + "untitled film.mkv", false));
        std::string base64;
        RunCommand("base64 -w0 " + ShellQuote(dir + "cover.jpg"), &base64);
        ASSERT_TRUE(MakeMedia(sine + " -metadata COVERART=" + base64 + " -c:a libvorbis", dir + "coverart.ogg", false));
        // Hostile: a comment of 100 000 characters with control characters in it, a
        // title whose bytes are not UTF-8.
        ASSERT_TRUE(MakeMedia(sine + " -metadata comment=\"$(head -c 100000 /dev/zero | tr '\\0' 'a')$(printf "
                              "'\\001\\033')end\" -metadata title=\"$(printf ' bad\\377byte ')\" -c:a libmp3lame",
                              dir + "hostile.mp3", false));
    }
    static std::string Path(const std::string& name) { return s_folder->Path() + name; }

    static std::unique_ptr<TempFolder> s_folder;
};

std::unique_ptr<TempFolder> MediaTagsTest::s_folder;

class MediaTagsSongTest : public MediaTagsTest, public ::testing::WithParamInterface<const char*>
{
};

} // namespace

TEST_P(MediaTagsSongTest, EveryFieldAndTheCoverAreRead)
{
    const std::string file = GetParam();
    MediaTags tags;
    ASSERT_TRUE(ReadMediaTags(Path(file), -1, tags));
    EXPECT_EQ(tags.title, kTitle);
    EXPECT_EQ(tags.artist, kArtist);
    EXPECT_EQ(tags.album, "Album");
    EXPECT_EQ(tags.albumArtist, "Various 様々");
    EXPECT_EQ(tags.date.substr(0, 4), "2021");
    EXPECT_EQ(tags.track.substr(0, 1), "3");
    EXPECT_EQ(tags.genre, "Jazz");
    EXPECT_EQ(tags.comment, "line one");
    if (file != "song.ogg") {
        EXPECT_EQ(tags.coverMime, "image/jpeg");
        EXPECT_EQ(tags.cover, Bytes(ReadFileBytes(Path("cover.jpg"))));
    }
}

INSTANTIATE_TEST_SUITE_P(Containers, MediaTagsSongTest,
                         ::testing::Values("song.mp3", "song.m4a", "song.flac", "song.ogg"));

TEST_F(MediaTagsTest, AFilmsTrackNameIsNoSongTitle)
{
    MediaTags tags;
    ASSERT_TRUE(ReadMediaTags(Path("film.mkv"), 1, tags));
    EXPECT_EQ(tags.title, "The Film");
    ASSERT_TRUE(ReadMediaTags(Path("untitled film.mkv"), 1, tags));
    EXPECT_EQ(tags.title, "");
}

TEST_F(MediaTagsTest, ABase64CoverCommentIsACover)
{
    MediaTags tags;
    ASSERT_TRUE(ReadMediaTags(Path("coverart.ogg"), -1, tags));
    EXPECT_EQ(tags.coverMime, "image/jpeg");
    EXPECT_EQ(tags.cover, Bytes(ReadFileBytes(Path("cover.jpg"))));
}

TEST_F(MediaTagsTest, HostileTextIsCappedAndCleaned)
{
    MediaTags tags;
    ASSERT_TRUE(ReadMediaTags(Path("hostile.mp3"), -1, tags));
    EXPECT_EQ(tags.comment, std::string(kMaxTagCommentChars, 'a'));
    EXPECT_EQ(tags.title, "bad\xEF\xBF\xBD" "byte");

    EXPECT_FALSE(ReadMediaTags(Path("missing.mp3"), -1, tags));
    EXPECT_EQ(tags, MediaTags{});
}

TEST(CleanTagText, KeepsWhatATagMayHold)
{
    EXPECT_EQ(CleanTagText("  two\nlines\tand a tab \r\n", 100), "two\nlines\tand a tab");
    EXPECT_EQ(CleanTagText(std::string("a\0b\x01\x1b\x7f" "c", 7), 100), "abc");
    EXPECT_EQ(CleanTagText("\xC2\x85next line", 100), "next line"); // C1 control
    EXPECT_EQ(CleanTagText("日本語テキスト", 3), "日本語");        // characters, not bytes
    EXPECT_EQ(CleanTagText("🎵🎶", 1), "🎵");
    const std::string cut = CleanTagText("x\xE6\x97", 100); // a cut sequence
    EXPECT_TRUE(IsValidUtf8(cut));
    EXPECT_EQ(cut.substr(0, 4), "x\xEF\xBF\xBD");
}

// A picture that fits is kept byte for byte; one too big is made a JPEG that fits;
// one that cannot be decoded, or would decode to a monster, is refused untouched.
TEST_F(MediaTagsTest, CoverPictureIsFittedOrRefused)
{
    const std::vector<uint8_t> png = Bytes(ReadFileBytes(Path("cover.png")));
    std::vector<uint8_t> bytes = png;
    std::string mime = "image/png";
    ASSERT_TRUE(FitCoverPicture(bytes, mime, png.size(), 600));
    EXPECT_EQ(bytes, png);

    ASSERT_TRUE(FitCoverPicture(bytes, mime, png.size() - 1, 32));
    EXPECT_EQ(mime, "image/jpeg");
    EXPECT_LE(bytes.size(), png.size() - 1);
    EXPECT_EQ(bytes[0], 0xFF);

    // The header of a 64 × 64 PNG claiming 40000 × 40000 pixels (width and height are
    // the first fields of IHDR, bytes 16 to 23).
    std::vector<uint8_t> monster = png;
    for (int at : {16, 20}) {
        monster[at] = 0;
        monster[at + 1] = 0;
        monster[at + 2] = 0x9C;
        monster[at + 3] = 0x40;
    }
    for (const std::vector<uint8_t>& refused : {monster, Bytes(std::string(3000, 'x'))}) {
        bytes = refused;
        mime = "image/png";
        EXPECT_FALSE(FitCoverPicture(bytes, mime, 100, 600));
        EXPECT_EQ(bytes, refused);
        EXPECT_EQ(mime, "image/png");
    }
}
