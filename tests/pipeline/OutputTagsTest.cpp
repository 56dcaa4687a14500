// Tags and the cover picture in the files the output chain writes, read back with the
// ffmpeg tools and, where a player looks, in the raw file: text in several scripts,
// a cover that comes out byte for byte, and hostile sizes that must not break a file.

#include "pipeline/AudioEncoderChain.h"

#include "media/KvTagWriter.h"
#include "support/MediaProbe.h"
#include "support/TempFolder.h"

#include <cmath>
#include <gtest/gtest.h>
#include <map>
#include <vector>

using namespace velmora;
using namespace velmora::test;

namespace {

const AudioOutputSettings kMp3{AudioOutputCodec::Mp3, 128000, 44100, 2};
const AudioOutputSettings kWma{AudioOutputCodec::WmaStandard, 128000, 44100, 2};

std::vector<uint8_t> Bytes(const std::string& text)
{
    return std::vector<uint8_t>(text.begin(), text.end());
}

std::string Probe(const std::string& arguments, const std::string& path)
{
    std::string out;
    RunCommand("ffprobe -v error " + arguments + " " + ShellQuote(path), &out);
    return out;
}

// What the ffmpeg tool says while decoding the whole file: nothing for a sound file.
std::string DecodeErrors(const std::string& path)
{
    std::string out;
    RunCommand("ffmpeg -nostdin -v error -i " + ShellQuote(path) + " -f null - 2>&1", &out);
    return out;
}

// One second of a tone through the chain with tags.
void Encode(const std::string& path, const AudioOutputSettings& settings, const MediaTags& tags)
{
    AudioEncoderChain chain;
    chain.SetTags(tags);
    int ret = chain.Open(path, settings);
    std::vector<int16_t> pcm(1470 * 2);
    for (int frame = 0; ret == 0 && frame < 30; ++frame) {
        for (int i = 0; i < 1470; ++i)
            pcm[2 * i] = pcm[2 * i + 1] = static_cast<int16_t>(8000 * std::sin(2 * M_PI * 440 * (frame * 1470 + i) / 44100.0));
        ret = chain.Write(pcm.data(), 1470);
    }
    if (ret == 0)
        ret = chain.Finish();
    ASSERT_EQ(ret, 0) << chain.LastError();
}

// The tags every format carries under the same names, those it names its own way
// (expected), and the cover byte for byte.
void ExpectSongTags(const std::string& path, const MediaTags& tags, std::map<std::string, std::string> expected)
{
    expected.insert({{"title", tags.title}, {"artist", tags.artist}, {"album", tags.album},
                     {"album_artist", tags.albumArtist}, {"genre", tags.genre}, {"comment", tags.comment}});
    for (const auto& [key, value] : expected)
        EXPECT_EQ(ProbeFormatTag(path, key), value) << key;
    EXPECT_EQ(Probe("-select_streams v -show_entries stream=codec_name:stream_disposition=attached_pic -of default=nw=1", path),
              "codec_name=mjpeg\nDISPOSITION:attached_pic=1\n");
    EXPECT_EQ(Bytes(ExtractCover(path)), tags.cover);
}

uint64_t Le(const std::string& bytes, std::size_t at, int size)
{
    uint64_t value = 0;
    for (int i = size - 1; i >= 0; --i)
        value = value << 8 | static_cast<uint8_t>(bytes[at + static_cast<std::size_t>(i)]);
    return value;
}

class OutputTags : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        s_media = std::make_unique<TempFolder>("velmora-tags");
        const std::string cover = s_media->Path() + "cover.jpg";
        ASSERT_EQ(RunCommand("ffmpeg -nostdin -v error -y -f lavfi -i testsrc=s=300x300 -frames:v 1 " + ShellQuote(cover)), 0);
        s_cover = Bytes(ReadFileBytes(cover));
    }
    static void TearDownTestSuite() { s_media.reset(); }

    static MediaTags SongTags()
    {
        MediaTags tags;
        tags.title = "Заголовок — 标题 🎵"; // beyond U+FFFF too: a surrogate pair in UTF-16
        tags.artist = "Ярослав & Σοφία";
        tags.album = "Альбом «Зима»";
        tags.albumArtist = "Various 様々";
        tags.date = "2021-05-03";
        tags.track = "3/12";
        tags.genre = "Джаз";
        tags.comment = "line one\nline two: ünïcødé";
        tags.cover = s_cover;
        tags.coverMime = "image/jpeg";
        return tags;
    }

    static std::unique_ptr<TempFolder> s_media;
    static std::vector<uint8_t> s_cover;
};

std::unique_ptr<TempFolder> OutputTags::s_media;
std::vector<uint8_t> OutputTags::s_cover;

} // namespace

TEST_F(OutputTags, Mp3CarriesEveryTagAsId3v24AndTheCoverAsItWas)
{
    TempFolder folder;
    const std::string path = folder.Path() + "song.mp3";
    const MediaTags tags = SongTags();
    Encode(path, kMp3, tags);
    ExpectSongTags(path, tags, {{"date", tags.date}, {"track", tags.track}});

    // Where a player looks: version 2.4, the comment in COMM (not a user text frame).
    const std::string bytes = ReadFileBytes(path);
    EXPECT_EQ(bytes.substr(0, 4), std::string("ID3\x04", 4));
    EXPECT_NE(bytes.find("COMM"), std::string::npos);
    EXPECT_EQ(bytes.find("TXXX"), std::string::npos);
    // The sound behind the tag is whole, and the muxer's Info frame (updated at the end,
    // where the muxer thinks it wrote it) counts the bytes behind the tag.
    EXPECT_EQ(DecodeErrors(path), "");
    auto byte = [&bytes](std::size_t at) { return static_cast<std::size_t>(static_cast<uint8_t>(bytes[at])); };
    const std::size_t tagEnd = 10 + (byte(6) << 21 | byte(7) << 14 | byte(8) << 7 | byte(9)); // 7 bits a byte
    const std::size_t info = bytes.find("Info", tagEnd);
    ASSERT_LT(info, tagEnd + 64);
    EXPECT_EQ(byte(info + 12) << 24 | byte(info + 13) << 16 | byte(info + 14) << 8 | byte(info + 15), bytes.size() - tagEnd);
}

TEST_F(OutputTags, WmaCarriesEveryTagInItsHeaderObjectsAndTheCoverAsWmPicture)
{
    TempFolder folder;
    const std::string path = folder.Path() + "song.wma";
    const MediaTags tags = SongTags();
    Encode(path, kWma, tags);
    // Windows Media names a year and a track number.
    ExpectSongTags(path, tags, {{"WM/Year", "2021"}, {"track", "3"}});
    EXPECT_EQ(Probe("-show_entries format_tags -of default=nw=1", path).find("Reserved"), std::string::npos)
        << "the room the muxer kept was filled";

    // The header counts the objects it holds: ours and the Padding object among them.
    const std::string bytes = ReadFileBytes(path);
    uint64_t objects = 0;
    for (std::size_t at = 30; at + 24 <= Le(bytes, 16, 8) && Le(bytes, at + 16, 8) >= 24; at += Le(bytes, at + 16, 8))
        ++objects;
    EXPECT_EQ(Le(bytes, 24, 4), objects);
    EXPECT_EQ(DecodeErrors(path), "");
}

// A comment of 16000 characters in UTF-16 and a cover of about 20 MB: the comment
// stays whole, the cover becomes a JPEG each format can hold, the file plays.
TEST_F(OutputTags, HugeCommentAndCoverAreFittedNotFatal)
{
    // Noise does not compress: a PNG of about 20 MB.
    const std::string big = s_media->Path() + "big.png";
    ASSERT_EQ(RunCommand("ffmpeg -nostdin -v error -y -f lavfi -i \"nullsrc=s=2800x2800,format=rgb48be,"
                         "geq=r='random(1)*65535':g='random(2)*65535':b='random(3)*65535'\" -frames:v 1 "
                         "-pix_fmt rgb48be " + ShellQuote(big)),
              0);
    MediaTags tags = SongTags();
    tags.cover = Bytes(ReadFileBytes(big));
    tags.coverMime = "image/png";
    ASSERT_GT(tags.cover.size(), 15u << 20);
    tags.comment.clear();
    for (std::size_t i = 0; i < kMaxTagCommentChars; ++i)
        tags.comment += "語";

    struct Case
    {
        const char* name;
        AudioOutputSettings settings;
        std::size_t maxBytes;
        int maxSide;
    };
    for (const Case& c : {Case{"big.mp3", kMp3, kMaxTagCoverBytes, kTagCoverSide},
                          Case{"big.wma", kWma, kMaxAsfTagCoverBytes, kAsfTagCoverSide}}) {
        SCOPED_TRACE(c.name);
        TempFolder folder;
        const std::string path = folder.Path() + c.name;
        Encode(path, c.settings, tags);
        EXPECT_EQ(ProbeFormatTag(path, "comment"), tags.comment);
        const std::string cover = ExtractCover(path);
        EXPECT_LE(cover.size(), c.maxBytes);
        EXPECT_EQ(cover.substr(0, 3), "\xFF\xD8\xFF");
        WriteFileBytes(folder.Path() + "cover.jpg", cover);
        int width = 0;
        int height = 0;
        ASSERT_EQ(std::sscanf(Probe("-show_entries stream=width,height -of csv=p=0", folder.Path() + "cover.jpg").c_str(),
                              "%d,%d", &width, &height),
                  2);
        EXPECT_GT(width, 100);
        EXPECT_LE(width, c.maxSide);
        EXPECT_EQ(height, width);
        EXPECT_EQ(DecodeErrors(path), "");
    }
}

// A cover that cannot be decoded is left out; the tags and the sound are not.
TEST_F(OutputTags, UnreadableCoverIsLeftOut)
{
    MediaTags tags = SongTags();
    tags.cover = Bytes(std::string(5000, 'x'));
    tags.coverMime = "image/bmp";
    for (const char* name : {"x.mp3", "x.wma"}) {
        TempFolder folder;
        const std::string path = folder.Path() + name;
        Encode(path, std::string(name).ends_with("mp3") ? kMp3 : kWma, tags);
        EXPECT_EQ(ProbeFormatTag(path, "title"), tags.title);
        EXPECT_EQ(ExtractCover(path), "");
    }
}
