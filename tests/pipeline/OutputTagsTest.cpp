// Tags and the cover picture in the files the output chain writes, read back with the
// ffmpeg tools and, where a player looks, in the raw file: text in several scripts,
// a cover that comes out byte for byte, and hostile sizes that must not break a file.

#include "pipeline/AudioEncoderChain.h"

#include "common/KvText.h"
#include "pipeline/KvAsfTagObjects.h"
#include "support/TempFolder.h"

#include <cmath>
#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <vector>

using namespace velmora;
using namespace velmora::test;
namespace fs = std::filesystem;

namespace {

// The format's tags as ffprobe reads them (its JSON, unescaped).
std::map<std::string, std::string> ProbeTags(const std::string& path)
{
    std::string json;
    RunCommand("ffprobe -v error -show_entries format_tags -of json " + ShellQuote(path), &json);
    std::map<std::string, std::string> tags;
    auto readString = [&](std::size_t& at) {
        std::string text;
        for (++at; at < json.size() && json[at] != '"'; ++at) {
            if (json[at] != '\\') {
                text += json[at];
                continue;
            }
            const char c = json[++at];
            if (c == 'n')
                text += '\n';
            else if (c == 'r')
                text += '\r';
            else if (c == 't')
                text += '\t';
            else
                text += c;
        }
        ++at;
        return text;
    };
    std::size_t at = json.find("\"tags\"");
    if (at == std::string::npos)
        return tags;
    at = json.find('{', at);
    while ((at = json.find('"', at)) != std::string::npos) {
        const std::string key = readString(at);
        at = json.find('"', at);
        if (at == std::string::npos)
            break;
        tags[key] = readString(at);
    }
    return tags;
}

std::string ProbeCoverStream(const std::string& path)
{
    std::string out;
    RunCommand("ffprobe -v error -select_streams v -show_entries stream=codec_name:stream_disposition=attached_pic "
               "-of default=nw=1 " + ShellQuote(path),
               &out);
    return out;
}

// The attached picture as the file holds it.
std::string ExtractCover(const std::string& path, const std::string& target)
{
    RunCommand("ffmpeg -nostdin -v error -y -i " + ShellQuote(path) + " -map 0:v -c copy -f image2 " + ShellQuote(target));
    return ReadFileBytes(target);
}

std::string ProbePictureSize(const std::string& path)
{
    std::string out;
    RunCommand("ffprobe -v error -select_streams v -show_entries stream=width,height -of csv=p=0 " + ShellQuote(path), &out);
    return out;
}

// What the ffmpeg tool says while decoding the whole file: nothing for a sound file.
std::string DecodeErrors(const std::string& path)
{
    std::string out;
    RunCommand("ffmpeg -nostdin -v error -i " + ShellQuote(path) + " -f null - 2>&1", &out);
    return out;
}

int Encode(const std::string& path, const AudioOutputSettings& settings, const MediaTags& tags)
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
    EXPECT_EQ(ret, 0) << chain.LastError();
    return ret;
}

std::vector<uint8_t> Bytes(const std::string& text)
{
    return std::vector<uint8_t>(text.begin(), text.end());
}

uint64_t Le(const std::string& bytes, std::size_t at, int size)
{
    uint64_t value = 0;
    for (int i = size - 1; i >= 0; --i)
        value = value << 8 | static_cast<uint8_t>(bytes[at + static_cast<std::size_t>(i)]);
    return value;
}

// The header objects of an ASF file: identifier (first 4 bytes, hex) and size, and
// whether the header's count agrees with what is there.
struct AsfHeader
{
    std::vector<std::pair<std::string, uint64_t>> objects;
    uint64_t declaredCount = 0;
    std::string description; // the Content Description's Description, as UTF-8
};

AsfHeader ReadAsfHeader(const std::string& bytes)
{
    AsfHeader header;
    const uint64_t size = Le(bytes, 16, 8);
    header.declaredCount = Le(bytes, 24, 4);
    for (std::size_t at = 30; at + 24 <= size;) {
        char id[9];
        std::snprintf(id, sizeof id, "%02x%02x%02x%02x", static_cast<uint8_t>(bytes[at]), static_cast<uint8_t>(bytes[at + 1]),
                      static_cast<uint8_t>(bytes[at + 2]), static_cast<uint8_t>(bytes[at + 3]));
        const uint64_t objectSize = Le(bytes, at + 16, 8);
        header.objects.emplace_back(id, objectSize);
        if (std::string(id) == "3326b275") { // Content Description
            std::size_t text = at + 34 + Le(bytes, at + 24, 2) + Le(bytes, at + 26, 2) + Le(bytes, at + 28, 2);
            std::u16string units;
            for (uint64_t i = 0; i + 2 < Le(bytes, at + 30, 2); i += 2)
                units.push_back(static_cast<char16_t>(Le(bytes, text + i, 2)));
            header.description = Utf16ToUtf8(units);
        }
        if (objectSize < 24)
            break;
        at += objectSize;
    }
    return header;
}

// The tags every format carries under the same names, those it names its own way
// (expected), and the cover byte for byte.
void ExpectSongTags(const std::string& path, const MediaTags& tags, std::map<std::string, std::string> expected)
{
    expected.insert({{"title", tags.title}, {"artist", tags.artist}, {"album", tags.album},
                     {"album_artist", tags.albumArtist}, {"genre", tags.genre}, {"comment", tags.comment}});
    const auto read = ProbeTags(path);
    for (const auto& [key, value] : expected)
        EXPECT_EQ(read.count(key) ? read.at(key) : "<missing>", value) << key;
    EXPECT_EQ(ProbeCoverStream(path), "codec_name=mjpeg\nDISPOSITION:attached_pic=1\n");
    EXPECT_EQ(Bytes(ExtractCover(path, path + ".cover.jpg")), tags.cover);
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
        tags.title = "Заголовок — 标题 🎵";
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

const AudioOutputSettings kMp3{AudioOutputCodec::Mp3, 128000, 44100, 2};
const AudioOutputSettings kWma{AudioOutputCodec::WmaStandard, 128000, 44100, 2};

} // namespace

TEST_F(OutputTags, Mp3CarriesEveryTagAsId3v24AndTheCoverAsItWas)
{
    TempFolder folder;
    const std::string path = folder.Path() + "song.mp3";
    const MediaTags tags = SongTags();
    ASSERT_EQ(Encode(path, kMp3, tags), 0);

    ExpectSongTags(path, tags, {{"date", tags.date}, {"track", tags.track}});

    // Where a player looks: version 2.4, the comment in COMM (not a user text frame).
    const std::string bytes = ReadFileBytes(path);
    EXPECT_EQ(bytes.substr(0, 4), std::string("ID3\x04", 4));
    EXPECT_NE(bytes.find(std::string("COMM")), std::string::npos);
    EXPECT_EQ(bytes.find("TXXX"), std::string::npos);
    // The sound behind the tag is whole, its Xing header found where the muxer put it.
    EXPECT_EQ(DecodeErrors(path), "");
    std::string duration;
    RunCommand("ffprobe -v error -show_entries format=duration -of csv=p=0 " + ShellQuote(path), &duration);
    EXPECT_NEAR(std::atof(duration.c_str()), 1.0, 0.06);
}

TEST_F(OutputTags, WmaCarriesEveryTagInItsHeaderObjectsAndTheCoverAsWmPicture)
{
    TempFolder folder;
    const std::string path = folder.Path() + "song.wma";
    const MediaTags tags = SongTags();
    ASSERT_EQ(Encode(path, kWma, tags), 0);

    // Windows Media names a year and a track number.
    ExpectSongTags(path, tags, {{"WM/Year", "2021"}, {"track", "3"}});
    for (const auto& [key, value] : ProbeTags(path))
        EXPECT_EQ(key.find("WM/Reserved"), std::string::npos) << "the room was left as it was";

    const AsfHeader header = ReadAsfHeader(ReadFileBytes(path));
    EXPECT_EQ(header.declaredCount, header.objects.size());
    EXPECT_EQ(header.description, tags.comment);
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
    const std::vector<uint8_t> bigCover = Bytes(ReadFileBytes(big));
    ASSERT_GT(bigCover.size(), 15u << 20);
    MediaTags tags = SongTags();
    std::string comment;
    for (std::size_t i = 0; i < kMaxTagCommentChars; ++i)
        comment += "語";
    tags.comment = comment;
    tags.cover = bigCover;
    tags.coverMime = "image/png";

    struct Case
    {
        const char* name;
        AudioOutputSettings settings;
        std::size_t maxBytes;
        int maxSide;
    };
    for (const Case& c : {Case{"big.mp3", kMp3, kMaxMp3CoverBytes, kMp3CoverSide},
                          Case{"big.wma", kWma, kMaxAsfPictureBytes, kAsfCoverSide}}) {
        SCOPED_TRACE(c.name);
        TempFolder folder;
        const std::string path = folder.Path() + c.name;
        ASSERT_EQ(Encode(path, c.settings, tags), 0);
        EXPECT_EQ(ProbeTags(path)["comment"], comment);
        const std::string cover = ExtractCover(path, folder.Path() + "cover.jpg");
        EXPECT_GT(cover.size(), 1000u);
        EXPECT_LE(cover.size(), c.maxBytes);
        EXPECT_EQ(cover.substr(0, 3), "\xFF\xD8\xFF");
        int width = 0;
        int height = 0;
        ASSERT_EQ(std::sscanf(ProbePictureSize(folder.Path() + "cover.jpg").c_str(), "%d,%d", &width, &height), 2);
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
        ASSERT_EQ(Encode(path, std::string(name).ends_with("mp3") ? kMp3 : kWma, tags), 0);
        EXPECT_EQ(ProbeTags(path)["title"], tags.title);
        EXPECT_EQ(ProbeCoverStream(path), "");
    }
}
