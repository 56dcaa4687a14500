// CUE sheets as rippers write them, and chapters as containers list them.

#include "media/KvChapters.h"
#include "media/KvCueSheet.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <string>

using namespace velmora;
using namespace velmora::test;

namespace {

// Two FILEs, a pre-gap before track 2, the album's fields in REM lines and CD-TEXT.
std::string Sheet(const std::string& title)
{
    return "REM GENRE \"Art Rock\"\r\nREM DATE 1997\r\nPERFORMER \"Bj\xC3\xB6rk\"\r\nTITLE \"" + title + "\"\r\n"
           "FILE \"side a.wav\" WAVE\r\n"
           "  TRACK 01 AUDIO\r\n    TITLE \"Caf\xC3\xA9\"\r\n    INDEX 01 00:00:00\r\n"
           "  TRACK 02 AUDIO\r\n    TITLE \"Two\"\r\n    PERFORMER \"Guest\"\r\n"
           "    INDEX 00 01:58:00\r\n    INDEX 01 02:00:37\r\n"
           "FILE \"side b.wav\" WAVE\r\n"
           "  TRACK 03 AUDIO\r\n    INDEX 01 00:00:00\r\n"
           "  TRACK 04 AUDIO\r\n    INDEX 01 03:10:00";
}

std::string Utf16(const std::string& utf8, bool bigEndian)
{
    std::string out = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
    for (size_t i = 0; i < utf8.size();) {
        unsigned code = static_cast<unsigned char>(utf8[i]);
        int more = code >= 0xE0 ? 2 : code >= 0xC0 ? 1 : 0;
        code &= more == 2 ? 0x0F : more == 1 ? 0x1F : 0x7F;
        for (int k = 1; k <= more; ++k)
            code = code << 6 | (static_cast<unsigned char>(utf8[i + size_t(k)]) & 0x3F);
        i += size_t(more) + 1;
        const char high = char(code >> 8), low = char(code & 0xFF);
        out += bigEndian ? std::string{high, low} : std::string{low, high};
    }
    return out;
}

} // namespace

TEST(CueSheet, TracksStartAtIndexOneAndAPreGapStaysWithTheTrackBefore)
{
    KvCueSheet sheet;
    std::string error;
    ASSERT_TRUE(ParseCueSheet(Sheet("Album"), sheet, &error)) << error;
    EXPECT_EQ(sheet.title, "Album");
    EXPECT_EQ(sheet.performer, "Bj\xC3\xB6rk");
    EXPECT_EQ(sheet.date, "1997");
    EXPECT_EQ(sheet.genre, "Art Rock");
    ASSERT_EQ(sheet.tracks.size(), 4u);
    EXPECT_EQ(sheet.Files(), (std::vector<std::string>{"side a.wav", "side b.wav"}));
    const KvCueTrack& one = sheet.tracks[0];
    EXPECT_EQ(one.file, "side a.wav");
    EXPECT_DOUBLE_EQ(one.start, 0.0);
    EXPECT_DOUBLE_EQ(one.end, 120.0 + 37.0 / 75.0) << "the pre-gap of track 2 is played with track 1";
    EXPECT_EQ(one.title, "Caf\xC3\xA9");
    const KvCueTrack& two = sheet.tracks[1];
    EXPECT_DOUBLE_EQ(two.start, 120.0 + 37.0 / 75.0);
    EXPECT_LT(two.end, 0.0) << "the last track of a FILE ends at its end";
    EXPECT_EQ(two.performer, "Guest");
    EXPECT_EQ(sheet.tracks[2].file, "side b.wav");
    EXPECT_DOUBLE_EQ(sheet.tracks[2].start, 0.0);
    EXPECT_DOUBLE_EQ(sheet.tracks[2].end, 190.0);
    EXPECT_EQ(sheet.tracks[3].number, 4);
}

TEST(CueSheet, ReadsTheSameInEveryEncodingRippersWrite)
{
    const std::string utf8 = Sheet("Caf\xC3\xA9 \xE2\x82\xAC");
    std::string cp1252 = Sheet("Caf\xE9 \x80");
    // Windows-1252 throughout: the performer and the first title too.
    for (auto [from, to] : {std::pair<std::string, std::string>{"Bj\xC3\xB6rk", "Bj\xF6rk"}, {"Caf\xC3\xA9\"", "Caf\xE9\""}}) {
        for (size_t at; (at = cp1252.find(from)) != std::string::npos;)
            cp1252.replace(at, from.size(), to);
    }
    for (const auto& [name, bytes] : {std::pair<const char*, std::string>{"UTF-8", utf8},
                                      {"UTF-8 with its mark", "\xEF\xBB\xBF" + utf8},
                                      {"UTF-16LE", Utf16(utf8, false)},
                                      {"UTF-16BE", Utf16(utf8, true)},
                                      {"Windows-1252", cp1252}}) {
        KvCueSheet sheet;
        std::string error;
        ASSERT_TRUE(ParseCueSheet(bytes, sheet, &error)) << name << ": " << error;
        EXPECT_EQ(sheet.title, "Caf\xC3\xA9 \xE2\x82\xAC") << name;
        EXPECT_EQ(sheet.performer, "Bj\xC3\xB6rk") << name;
        ASSERT_EQ(sheet.tracks.size(), 4u) << name;
        EXPECT_EQ(sheet.tracks[0].title, "Caf\xC3\xA9") << name;
    }
}

TEST(CueSheet, WhatIsNoSheetOfTracksIsRefusedWithItsReason)
{
    KvCueSheet sheet;
    std::string error;
    EXPECT_FALSE(ParseCueSheet("", sheet, &error));
    EXPECT_FALSE(ParseCueSheet("just some words\n", sheet, &error));
    EXPECT_FALSE(ParseCueSheet("FILE \"a.wav\" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 02:00:00\n"
                               "  TRACK 02 AUDIO\n    INDEX 01 01:00:00\n",
                               sheet, &error));
    EXPECT_EQ(error, "its tracks do not start one after another");
}

TEST(Chapters, AreReadFromMp4MatroskaAndOggWithTheirTitles)
{
    TempFolder folder("velmora-chapters");
    WriteFileBytes(folder.Path() + "meta.txt", ";FFMETADATA1\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=0\nEND=1500\ntitle=Opening\n"
                                               "[CHAPTER]\nTIMEBASE=1/1000\nSTART=1500\nEND=3000\ntitle=Caf\xC3\xA9\n");
    // Ogg keeps chapters as CHAPTERnnn comments (the ffmpeg tool's own Ogg writer puts
    // wrong times in them, so they are written as other tools write them).
    const std::string ogg = " -c:a libvorbis -metadata CHAPTER000=00:00:00.000 -metadata CHAPTER000NAME=Opening"
                            " -metadata CHAPTER001=00:00:01.500 -metadata CHAPTER001NAME=Caf\xC3\xA9 ";
    for (const char* name : {"book.m4b", "talk.mka", "talk.ogg"}) {
        const std::string path = folder.Path() + name;
        const std::string written = std::string(name) == "talk.ogg"
            ? ogg
            : " -i " + ShellQuote(folder.Path() + "meta.txt") + " -map 0 -map_metadata 1 -map_chapters 1 ";
        ASSERT_EQ(RunCommand("ffmpeg -v error -y -f lavfi -i sine=duration=3" + written + ShellQuote(path)), 0);
        const std::vector<KvChapter> chapters = ReadChapters(path);
        ASSERT_EQ(chapters.size(), 2u) << name;
        EXPECT_NEAR(chapters[0].start, 0.0, 1e-3) << name;
        EXPECT_NEAR(chapters[0].end, 1.5, 1e-3) << name;
        EXPECT_NEAR(chapters[1].start, 1.5, 1e-3) << name;
        EXPECT_EQ(chapters[0].title, "Opening") << name;
        EXPECT_EQ(chapters[1].title, "Caf\xC3\xA9") << name;
    }
    WriteFileBytes(folder.Path() + "notes.txt", "no media");
    EXPECT_TRUE(ReadChapters(folder.Path() + "notes.txt").empty());
}

TEST(Chapters, AFlacRipCarriesItsSheetInItsCuesheetTag)
{
    TempFolder folder("velmora-embedded");
    const std::string path = folder.Path() + "album.flac";
    const std::string sheet = "FILE \"album.wav\" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
                              "  TRACK 02 AUDIO\n    INDEX 01 00:01:00\n";
    ASSERT_EQ(RunCommand("ffmpeg -v error -y -f lavfi -i sine=duration=2 -metadata CUESHEET=" + ShellQuote(sheet) + " "
                         + ShellQuote(path)),
              0);
    KvCueSheet read;
    ASSERT_TRUE(ParseCueSheet(ReadEmbeddedCueSheet(path), read));
    ASSERT_EQ(read.tracks.size(), 2u);
    EXPECT_DOUBLE_EQ(read.tracks[0].end, 1.0);
    EXPECT_TRUE(ReadEmbeddedCueSheet(folder.Path() + "none.flac").empty());
}
