// A file of many tracks seen as its tracks: sheets beside rips (renamed, of several
// files, missing their audio) and chapters.

#include "media/KvTrackSplit.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace velmora;
using namespace velmora::test;

namespace {

const char* const kTwoFiles = "PERFORMER \"Band\"\nTITLE \"Live\"\nREM DATE 2001\n"
                              "FILE \"one.wav\" WAVE\n  TRACK 01 AUDIO\n    TITLE \"A\"\n    INDEX 01 00:00:00\n"
                              "  TRACK 02 AUDIO\n    TITLE \"B\"\n    PERFORMER \"Guest\"\n    INDEX 01 00:01:00\n"
                              "FILE \"two.wav\" WAVE\n  TRACK 03 AUDIO\n    TITLE \"C\"\n    INDEX 01 00:00:00\n";

void Tone(const std::string& path, const std::string& extra = std::string())
{
    ASSERT_EQ(RunCommand("ffmpeg -v error -y -f lavfi -i sine=duration=2 " + extra + " " + ShellQuote(path)), 0) << path;
}

} // namespace

TEST(TrackSplit, ASheetFindsItsFilesAsNamedRenamedOrNotAtAll)
{
    TempFolder folder("velmora-rip");
    WriteFileBytes(folder.Path() + "live.cue", kTwoFiles);
    Tone(folder.Path() + "one.wav");
    Tone(folder.Path() + "two.flac"); // ripped as WAV, kept as FLAC

    std::string why;
    const std::vector<KvSplitTrack> tracks = ReadCueTracks(folder.Path() + "live.cue", &why);
    ASSERT_EQ(tracks.size(), 3u) << why;
    EXPECT_EQ(tracks[0].file, folder.Path() + "one.wav");
    EXPECT_DOUBLE_EQ(tracks[0].end, 1.0);
    EXPECT_EQ(tracks[1].performer, "Guest");
    EXPECT_EQ(tracks[0].performer, "Band") << "a track without its own performer has the album's";
    EXPECT_EQ(tracks[2].file, folder.Path() + "two.flac");
    EXPECT_EQ(tracks[2].number, 3);
    EXPECT_EQ(tracks[2].count, 3);
    EXPECT_EQ(tracks[2].album, "Live");
    EXPECT_EQ(tracks[2].albumArtist, "Band");
    EXPECT_EQ(tracks[2].date, "2001");

    // The audio file of a sheet of several files splits into its own tracks only.
    const std::vector<KvSplitTrack> own = FindSplitTracks(folder.Path() + "two.flac", KvSplitSource::Auto, &why);
    EXPECT_TRUE(own.empty()) << "two.flac has no sheet of its own name";
    WriteFileBytes(folder.Path() + "one.cue", kTwoFiles);
    const std::vector<KvSplitTrack> first = FindSplitTracks(folder.Path() + "one.wav", KvSplitSource::Cue, &why);
    ASSERT_EQ(first.size(), 2u) << why;
    EXPECT_EQ(first[1].title, "B");

    // Missing, or not to be told apart: refused with the reason.
    Tone(folder.Path() + "two.mp3");
    EXPECT_TRUE(ReadCueTracks(folder.Path() + "live.cue", &why).empty());
    EXPECT_EQ(why, "the sheet's FILE \"two.wav\" is not beside it, and 2 files named \"two\" are");
    std::filesystem::remove(folder.Path() + "two.flac");
    std::filesystem::remove(folder.Path() + "two.mp3");
    EXPECT_TRUE(ReadCueTracks(folder.Path() + "live.cue", &why).empty());
    EXPECT_EQ(why, "the sheet's FILE \"two.wav\" is not beside it, nor a file named \"two\" with another extension");
}

TEST(TrackSplit, ChaptersAndAnEmbeddedSheetSplitEndToEnd)
{
    TempFolder folder("velmora-book");
    WriteFileBytes(folder.Path() + "meta.txt", ";FFMETADATA1\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=200\nEND=900\ntitle=One\n"
                                               "[CHAPTER]\nTIMEBASE=1/1000\nSTART=1000\nEND=2000\ntitle=Two\n");
    const std::string book = folder.Path() + "book.m4b";
    Tone(book, "-i " + ShellQuote(folder.Path() + "meta.txt") + " -map 0 -map_chapters 1 -c:a aac");
    std::string why;
    const std::vector<KvSplitTrack> chapters = FindSplitTracks(book, KvSplitSource::Auto, &why);
    ASSERT_EQ(chapters.size(), 2u) << why;
    EXPECT_DOUBLE_EQ(chapters[0].start, 0.0) << "the lead-in goes with the first chapter";
    EXPECT_NEAR(chapters[0].end, 1.0, 1e-6) << "a gap goes with the chapter before it";
    EXPECT_NEAR(chapters[1].start, 1.0, 1e-6);
    EXPECT_LT(chapters[1].end, 0.0);
    EXPECT_EQ(chapters[1].title, "Two");
    EXPECT_EQ(chapters[1].number, 2);
    EXPECT_TRUE(FindSplitTracks(book, KvSplitSource::Cue, &why).empty());
    EXPECT_EQ(why, "it has no CUE sheet");

    const std::string rip = folder.Path() + "rip.flac";
    Tone(rip, "-metadata CUESHEET=" + ShellQuote("FILE \"x.wav\" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
                                                 "  TRACK 02 AUDIO\n    INDEX 01 00:01:00\n"));
    const std::vector<KvSplitTrack> inside = FindSplitTracks(rip, KvSplitSource::Auto, &why);
    ASSERT_EQ(inside.size(), 2u) << why;
    EXPECT_EQ(inside[1].file, rip) << "an embedded sheet names its own file, whatever it calls it";
    EXPECT_TRUE(FindSplitTracks(rip, KvSplitSource::Chapters, &why).empty());
}
