// Files of many tracks split into one output per track by the built program: chapters
// of MP4, Matroska and Ogg, CUE sheets of album rips, the tracks' bounds, tags and
// names, their decodes end to end against the source's, and chapters kept by an output
// that is not split.

#include "MediaTestSupport.h"
#include "support/MediaProbe.h"
#include "support/TempFolder.h"

#include <QStringList>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using namespace velmora;
using namespace velmora::test;
using velmora::fetest::Q;

namespace {

// Samples per channel of a stereo 16-bit decode.
long long Frames(const std::string& pcm)
{
    return static_cast<long long>(pcm.size() / 4);
}

struct Chapter
{
    double start = 0.0;
    double end = 0.0;
    std::string title;
};

std::vector<Chapter> Chapters(const std::string& path)
{
    std::string out;
    RunCommand("ffprobe -v error -show_chapters -of csv=p=0 " + ShellQuote(path), &out);
    std::vector<Chapter> chapters;
    std::size_t at = 0;
    while (at < out.size()) {
        const std::size_t end = out.find('\n', at);
        const std::string line = out.substr(at, end == std::string::npos ? std::string::npos : end - at);
        at = end == std::string::npos ? out.size() : end + 1;
        // id, time base, start, start time, end, end time, title
        std::vector<std::string> fields;
        std::size_t from = 0;
        for (std::size_t comma; (comma = line.find(',', from)) != std::string::npos; from = comma + 1)
            fields.push_back(line.substr(from, comma - from));
        fields.push_back(line.substr(from));
        if (fields.size() >= 7)
            chapters.push_back({std::atof(fields[3].c_str()), std::atof(fields[5].c_str()), fields[6]});
    }
    return chapters;
}

const char* const kChapterMeta = ";FFMETADATA1\ntitle=Book\nartist=Reader\n"
                                 "[CHAPTER]\nTIMEBASE=1/1000\nSTART=0\nEND=3000\ntitle=One\n"
                                 "[CHAPTER]\nTIMEBASE=1/1000\nSTART=3000\nEND=7500\ntitle=Two\n"
                                 "[CHAPTER]\nTIMEBASE=1/1000\nSTART=7500\nEND=12000\ntitle=Three\n";
const std::string kTone = "-f lavfi -i sine=frequency=440:sample_rate=44100:duration=12 ";

} // namespace

// Chapters as the ffmpeg tool writes them into MP4 (from an FFMETADATA file), into
// Matroska, and as Ogg's CHAPTERnnn comments: one track per chapter, each cut to the
// sample where the container times its samples exactly (Matroska times them to the
// millisecond), the tracks together the source's samples, and each tagged and named
// after its chapter.
TEST(SplitTracks, ChaptersBecomeTracksThatDecodeEndToEndToTheSource)
{
    TempFolder folder("velmora-chapters");
    const std::string meta = folder.Path() + "meta.txt";
    WriteFileBytes(meta, kChapterMeta);
    const std::string chapters = "-i " + ShellQuote(meta) + " -map 0 -map_metadata 1 -map_chapters 1 ";
    struct Source
    {
        const char* name;
        std::string arguments;
        long long slack; // samples a bound may be off
        const char* format;
    };
    const Source sources[] = {
        {"book.m4b", kTone + chapters + "-ac 2 -c:a alac -f ipod", 0, "flac"},
        {"concert.mkv", kTone + chapters + "-ac 2 -c:a flac", 23, "wav"},
        {"lecture.oga",
         kTone + "-ac 2 -c:a flac -metadata title=Book -metadata artist=Reader -metadata CHAPTER001=00:00:00.000 "
                 "-metadata CHAPTER001NAME=One -metadata CHAPTER002=00:00:03.000 -metadata CHAPTER002NAME=Two "
                 "-metadata CHAPTER003=00:00:07.500 -metadata CHAPTER003NAME=Three",
         0, "alac"},
        {"again.mkv", kTone + chapters + "-ac 2 -c:a flac", 23, "original"},
    };
    const long long bounds[] = {0, 3 * 44100, 7 * 44100 + 22050, 12 * 44100};
    const char* titles[] = {"One", "Two", "Three"};
    for (const Source& source : sources) {
        SCOPED_TRACE(source.name);
        const std::string path = folder.Path() + source.name;
        ASSERT_TRUE(fetest::MakeMedia(source.arguments, path));
        const std::string out = folder.Path() + "out-" + source.name + "/";
        fs::create_directories(out);
        const fetest::RenderRun run = fetest::RunRender({Q(out), "--format", source.format, "--split", "chapters", Q(path)});
        ASSERT_EQ(run.code, 0) << run.out << run.err;

        const std::string extension = std::string(source.format) == "wav" ? ".wav"
                                    : std::string(source.format) == "alac" ? ".m4a"
                                                                           : ".flac";
        std::string joined;
        for (int k = 0; k < 3; ++k) {
            const std::string track = out + "0" + std::to_string(k + 1) + " " + titles[k] + extension;
            ASSERT_TRUE(fs::exists(track)) << run.out;
            const std::string pcm = fetest::DecodePcm16(track);
            EXPECT_NEAR(Frames(pcm), bounds[k + 1] - bounds[k], 2 * source.slack) << track;
            joined += pcm;
            EXPECT_EQ(ProbeFormatTag(track, "title"), titles[k]);
            EXPECT_EQ(ProbeFormatTag(track, "artist"), "Reader");
            EXPECT_EQ(ProbeFormatTag(track, "album"), "Book") << "a chapter's album is its file's title";
            EXPECT_EQ(ProbeFormatTag(track, "track").substr(0, 1), std::to_string(k + 1));
            EXPECT_TRUE(Chapters(track).empty()) << "a track keeps none of its file's chapters";
        }
        EXPECT_TRUE(joined == fetest::DecodePcm16(path)) << "the tracks end to end are the source, sample for sample";
    }
}

// An album rip with a sheet in UTF-16 that names two files, one of them renamed since
// (.wav to .flac), with a pre-gap: each track from its INDEX 01 to the next, to the CD
// frame; its title, performer and the album's tags; lossy tracks meet within a frame;
// a sheet whose file is gone is refused with the reason.
TEST(SplitTracks, ACueSheetSplitsItsFilesAtTheirIndexesWithTheAlbumsTags)
{
    TempFolder folder("velmora-album");
    const std::string one = folder.Path() + "one.wav";
    const std::string two = folder.Path() + "two.flac";
    ASSERT_TRUE(fetest::MakeMedia("-f lavfi -i sine=frequency=300:sample_rate=44100:duration=10 -ac 2", one));
    ASSERT_TRUE(fetest::MakeMedia("-f lavfi -i sine=frequency=500:sample_rate=44100:duration=6 -ac 2 -c:a flac", two));
    const std::string sheet = "REM GENRE Rock\nREM DATE 1999\nPERFORMER \"Band\"\nTITLE \"Album \xC3\x89t\xC3\xA9\"\n"
                              "FILE \"one.wav\" WAVE\n  TRACK 01 AUDIO\n    TITLE \"First\"\n    INDEX 01 00:00:00\n"
                              "  TRACK 02 AUDIO\n    TITLE \"Second\"\n    PERFORMER \"Guest\"\n"
                              "    INDEX 00 00:03:00\n    INDEX 01 00:04:37\n"
                              "FILE \"two.wav\" WAVE\n  TRACK 03 AUDIO\n    TITLE \"Third\"\n    INDEX 01 00:00:00\n"
                              "  TRACK 04 AUDIO\n    TITLE \"Fourth/Last\"\n    INDEX 01 00:02:10\n";
    WriteFileBytes(folder.Path() + "sheet.txt", sheet);
    ASSERT_EQ(RunCommand("iconv -f UTF-8 -t UTF-16 " + ShellQuote(folder.Path() + "sheet.txt") + " > "
                         + ShellQuote(folder.Path() + "album.cue")),
              0);

    const std::string out = folder.Path() + "out/";
    fs::create_directories(out);
    const fetest::RenderRun run = fetest::RunRender({Q(out), "--format", "wav", Q(folder.Path() + "album.cue")});
    ASSERT_EQ(run.code, 0) << run.out << run.err;
    // 4 s and 37 CD frames of 588 samples: the pre-gap from 3 s on stays with track 1.
    const long long first = 4 * 44100 + 37 * 588;
    const long long third = 2 * 44100 + 10 * 588;
    const struct
    {
        const char* name;
        long long frames;
        const char* artist;
    } tracks[] = {{"01 First.wav", first, "Band"},
                  {"02 Second.wav", 10 * 44100 - first, "Guest"},
                  {"03 Third.wav", third, "Band"},
                  {"04 Fourth_Last.wav", 6 * 44100 - third, "Band"}};
    std::string joined;
    for (int k = 0; k < 4; ++k) {
        const std::string path = out + tracks[k].name;
        SCOPED_TRACE(path);
        const std::string pcm = fetest::DecodePcm16(path);
        EXPECT_EQ(Frames(pcm), tracks[k].frames);
        joined += pcm;
        if (k == 1) {
            EXPECT_TRUE(joined == fetest::DecodePcm16(one)) << "tracks 1 and 2 are one.wav";
            joined.clear();
        }
        EXPECT_EQ(ProbeFormatTag(path, "artist"), tracks[k].artist);
        EXPECT_EQ(ProbeFormatTag(path, "album"), "Album \xC3\x89t\xC3\xA9");
        EXPECT_EQ(ProbeFormatTag(path, "genre"), "Rock");
        EXPECT_EQ(ProbeFormatTag(path, "date"), "1999");
    }
    EXPECT_EQ(ProbeFormatTag(out + "04 Fourth_Last.wav", "title"), "Fourth/Last") << "the tag keeps what the name cannot";
    EXPECT_TRUE(joined == fetest::DecodePcm16(two)) << "tracks 3 and 4 are the renamed two.flac";

    // The first file with a sheet of its own name beside it, split by --split cue into
    // MP3: its own tracks of the two files', each within one frame of its length,
    // named by the pattern given.
    fs::copy_file(folder.Path() + "album.cue", folder.Path() + "one.cue");
    const std::string lossy = folder.Path() + "mp3/";
    fs::create_directories(lossy);
    const fetest::RenderRun mp3 = fetest::RunRender({Q(lossy), "--format", "mp3", "--rate", "44100", "--split", "cue", "--name", "{album} - {track} {chapter}",
                            Q(folder.Path() + "one.wav")});
    ASSERT_EQ(mp3.code, 0) << mp3.out << mp3.err;
    const long long lengths[] = {first, 10 * 44100 - first};
    for (int k = 0; k < 2; ++k) {
        const std::string path = lossy + "Album \xC3\x89t\xC3\xA9 - 0" + std::to_string(k + 1)
                               + (k == 0 ? " First.mp3" : " Second.mp3");
        ASSERT_TRUE(fs::exists(path)) << mp3.out;
        EXPECT_NEAR(Frames(fetest::DecodePcm16(path)), lengths[k], 1152) << path;
        EXPECT_EQ(ProbeFormatTag(path, "track"), std::to_string(k + 1) + "/4");
    }

    fs::remove(two);
    const std::string missing = folder.Path() + "missing/";
    fs::create_directories(missing);
    const fetest::RenderRun refused = fetest::RunRender({Q(missing), Q(folder.Path() + "album.cue")});
    EXPECT_EQ(refused.code, 1);
    EXPECT_NE(refused.out.find("the CUE sheet cannot be split: the sheet's FILE \"two.wav\" is not beside it, nor a "
                               "file named \"two\" with another extension"),
              std::string::npos)
        << refused.out << refused.err;
    EXPECT_TRUE(fs::is_empty(missing));
}

// A whole file converted with a trim keeps the chapters it plays: moved by Start, the
// one before it left out, the last cut at End; in M4A, MKA (a copy of its MP2 sound),
// MP3 and Opus, as the ffmpeg tool reads them back.
TEST(SplitTracks, AnOutputThatIsNotSplitKeepsTheChaptersOfItsPart)
{
    TempFolder folder("velmora-kept");
    const std::string meta = folder.Path() + "meta.txt";
    WriteFileBytes(meta, kChapterMeta);
    const std::string source = folder.Path() + "talk.mkv";
    ASSERT_TRUE(fetest::MakeMedia(kTone + "-i " + ShellQuote(meta) + " -map 0 -map_chapters 1 -ac 2 -c:a mp2", source));
    for (const char* format : {"aac", "original", "mp3", "opus"}) {
        SCOPED_TRACE(format);
        const std::string out = folder.Path() + format + "/";
        fs::create_directories(out);
        const fetest::RenderRun run = fetest::RunRender({Q(out), "--format", format, "--start", "3.5", "--end", "9", "--name", "{name}",
                                Q(source)});
        ASSERT_EQ(run.code, 0) << run.out << run.err;
        ASSERT_FALSE(fs::is_empty(out));
        const std::string output = fs::directory_iterator(out)->path().string();
        const std::vector<Chapter> chapters = Chapters(output);
        ASSERT_EQ(chapters.size(), 2u) << output;
        EXPECT_EQ(chapters[0].title, "Two");
        EXPECT_NEAR(chapters[0].start, 0.0, 0.002);
        EXPECT_NEAR(chapters[0].end, 4.0, 0.002);
        EXPECT_EQ(chapters[1].title, "Three");
        EXPECT_NEAR(chapters[1].start, 4.0, 0.002);
        EXPECT_NEAR(chapters[1].end, 5.5, 0.01);
    }
}
