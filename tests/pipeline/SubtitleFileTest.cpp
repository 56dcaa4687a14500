// The subtitle reader on files shaped like the ones people download: each line-end
// and encoding variant, styling, escapes, comments, zero-length and out-of-order
// events, chapters, and the per-frame lookup that joins overlapping captions.

#include "common/KvText.h"
#include "pipeline/KvSubtitleFile.h"
#include "pipeline/KvSubtitleTrack.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>
#include <vector>

using namespace velmora;
using namespace velmora::test;

namespace {

struct Caption
{
    double start;
    double end;
    std::string text; // UTF-8; "\r\n" between lines
};

std::string Utf16Le(const std::string& utf8)
{
    std::string bytes = "\xFF\xFE";
    for (char16_t unit : Utf8ToUtf16(utf8)) {
        bytes += static_cast<char>(unit & 0xFF);
        bytes += static_cast<char>(unit >> 8);
    }
    return bytes;
}

std::string ReplaceAll(std::string text, const std::string& from, const std::string& to)
{
    for (std::size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size())
        text.replace(at, from.size(), to);
    return text;
}

std::vector<Caption> ReadAll(CKvSubtitleFile& file)
{
    std::vector<Caption> captions;
    tagKvSubtitleEntry entry;
    while (file.ReadEntry(entry))
        captions.push_back({entry.start, entry.end, Utf16ToUtf8(entry.text)});
    return captions;
}

void ExpectCaptions(const std::vector<Caption>& actual, const std::vector<Caption>& expected)
{
    ASSERT_EQ(actual.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_NEAR(actual[i].start, expected[i].start, 1e-9) << "caption " << i;
        EXPECT_NEAR(actual[i].end, expected[i].end, 1e-9) << "caption " << i;
        EXPECT_EQ(actual[i].text, expected[i].text) << "caption " << i;
    }
}

class SubtitleFiles : public ::testing::Test
{
protected:
    std::string Write(const std::string& name, const std::string& bytes)
    {
        const std::string path = m_folder.Path() + name;
        WriteFileBytes(path, bytes);
        return path;
    }

    TempFolder m_folder{"velmora-subtitle"};
};

// A film's SRT as it comes from the web: numbered captions, two-line text, a tag or
// two, a blank line between captions. Written with LF; the variants below change
// the line ends and the encoding.
const std::string kSrt = "1\n"
                         "00:00:01,500 --> 00:00:03,250\n"
                         "<i>Where were you</i>\n"
                         "last night?\n"
                         "\n"
                         "2\n"
                         "00:00:04,000 --> 00:00:06,000 X1:40 X2:600\n"
                         "{\\an8}Café, then <font color=\"#ffff00\">home</font>.\n"
                         "\n"
                         "3\n"
                         "01:02:03,040 --> 01:02:05,900\n"
                         "日本語 & a < b\n";

const std::vector<Caption> kSrtCaptions = {
    {1.5, 3.25, "Where were you\r\nlast night?\r\n"},
    {4.0, 6.0, "Café, then home.\r\n"},
    {3723.04, 3725.9, "日本語 & a < b\r\n"},
};

struct SrtVariant
{
    const char* name;
    std::string (*make)(const std::string& lf);
};

class SrtVariants : public SubtitleFiles, public ::testing::WithParamInterface<SrtVariant> {};

TEST_P(SrtVariants, EveryCaptionKeepsItsTimesAndText)
{
    const std::string path = Write("film.srt", GetParam().make(kSrt));
    CKvSubtitleFile file;
    ASSERT_EQ(file.Open(path, 1), 1);
    EXPECT_EQ(file.Format(), CKvSubtitleFile::kFormatSrt);
    EXPECT_EQ(file.ChapterCount(), 0);
    ExpectCaptions(ReadAll(file), kSrtCaptions);
    EXPECT_FALSE(file.IsOpen()) << "the end of the file closes it";
    tagKvSubtitleEntry entry;
    EXPECT_EQ(file.ReadEntry(entry), 0);
}

INSTANTIATE_TEST_SUITE_P(
    LineEndsAndEncodings, SrtVariants,
    ::testing::Values(
        SrtVariant{"Utf8Lf", [](const std::string& s) { return s; }},
        SrtVariant{"Utf8CrLf", [](const std::string& s) { return ReplaceAll(s, "\n", "\r\n"); }},
        SrtVariant{"Utf8CrOnly", [](const std::string& s) { return ReplaceAll(s, "\n", "\r"); }},
        SrtVariant{"Utf8BomCrLf",
                   [](const std::string& s) { return "\xEF\xBB\xBF" + ReplaceAll(s, "\n", "\r\n"); }},
        SrtVariant{"NoFinalNewline", [](const std::string& s) { return s.substr(0, s.size() - 1); }},
        SrtVariant{"BlankLinesOfSpaces",
                   [](const std::string& s) { return ReplaceAll(s, "\n\n", "\n  \t\n"); }},
        SrtVariant{"Utf16LeCrLf", [](const std::string& s) { return Utf16Le(ReplaceAll(s, "\n", "\r\n")); }},
        SrtVariant{"Utf16LeLf", [](const std::string& s) { return Utf16Le(s); }},
        SrtVariant{"Utf16LeCrOnly", [](const std::string& s) { return Utf16Le(ReplaceAll(s, "\n", "\r")); }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SubtitleFiles, SrtEdgeLinesAndCuts)
{
    // A malformed timing line ends the reading; what came before it counts.
    const std::string broken = Write("broken.SRT", "1\n00:00:01,000 --> 00:00:02,000\nfine\n\n"
                                                   "2\n00:00:03 --> 00:00:04,000\nlost\n\n"
                                                   "3\n00:00:05,000 --> 00:00:06,000\nlost too\n");
    CKvSubtitleFile file;
    ASSERT_EQ(file.Open(broken, 1), 1);
    ExpectCaptions(ReadAll(file), {{1.0, 2.0, "fine\r\n"}});
    EXPECT_FALSE(file.IsOpen());

    // A long caption is cut to 259 units without splitting a surrogate pair.
    const std::string longText = std::string(258, 'x') + "\xF0\x9F\x8E\xAC" + "tail";
    ASSERT_EQ(file.Open(Write("long.srt", "1\n00:00:00,000 --> 00:00:01,000\n" + longText + "\n"), 1), 1);
    tagKvSubtitleEntry entry;
    ASSERT_EQ(file.ReadEntry(entry), 1);
    EXPECT_EQ(std::u16string(entry.text), std::u16string(258, u'x'));

    // Bad bytes are not UTF-8: they show as replacement characters, and the rest reads.
    ASSERT_EQ(file.Open(Write("latin1.srt", "1\n00:00:00,000 --> 00:00:01,000\ncaf\xE9\n"), 1), 1);
    ASSERT_EQ(file.ReadEntry(entry), 1);
    EXPECT_EQ(Utf16ToUtf8(entry.text), "caf\xEF\xBF\xBD\r\n");
}

TEST_F(SubtitleFiles, OpenRefusesWhatIsNotASubtitleFile)
{
    CKvSubtitleFile file;
    EXPECT_EQ(file.Open(m_folder.Path() + "missing.srt", 1), 0);
    EXPECT_EQ(file.Open(Write("notes.txt", "1\n00:00:01,000 --> 00:00:02,000\nx\n"), 1), 0);
    EXPECT_EQ(file.Format(), CKvSubtitleFile::kFormatNone);
    ASSERT_EQ(mkdir((m_folder.Path() + "folder.ass").c_str(), 0700), 0);
    EXPECT_EQ(file.Open(m_folder.Path() + "folder.ass", 1), 0);
    // A pipe with a subtitle name must not hang the reader.
    ASSERT_EQ(mkfifo((m_folder.Path() + "pipe.srt").c_str(), 0600), 0);
    EXPECT_EQ(file.Open(m_folder.Path() + "pipe.srt", 1), 0);
    EXPECT_FALSE(file.IsOpen());
}

const std::string kAssHeader = "[Script Info]\n"
                               "; Script generated by an editor: http://example.invalid/\n"
                               "Title: Episode 1\n"
                               "ScriptType: v4.00+\n"
                               "\n"
                               "[V4+ Styles]\n"
                               "Format: Name, Fontname, Fontsize, PrimaryColour, Bold\n"
                               "Style: Default,Arial,20,&H00FFFFFF,0\n"
                               "\n"
                               "[Fonts]\n"
                               "fontname: a.ttf\n"
                               "M9&E=:W,:Q:1:2:3:4:5,6,7,8,9\n"
                               "\n"
                               "[Events]\n"
                               "Format: Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text\n";

TEST_F(SubtitleFiles, AssEventsWithStylingEscapesCommentsAndEmptyEvents)
{
    const std::string events =
        "Dialogue: 0,0:01:02.50,0:01:04.00,Default,,0,0,0,,Hello\\NWorld\n"
        "Comment: 0,0:01:05.00,0:01:06.00,Default,,0,0,0,,note to the translator\n"
        "Dialogue: 0,0:01:05.00,0:01:05.00,Default,,0,0,0,,zero length\n"
        "Dialogue: 0,0:01:07.00,0:01:06.00,Default,,0,0,0,,ends before it starts\n"
        "Dialogue: 0,0:01:08.00,0:01:09.50,Default,,0,0,0,,{\\i1}Hello{\\i0} there, {\\b1}you{\\b0}\n"
        "Dialogue: 0,0:01:10.00,0:01:11.00,Default,,0,0,0,,Hi {\\b1}you\\nsoft\\hbreak {TL note}\n"
        "Dialogue: 0,0:01:12.00,0:01:13.00,Default,,0,0,0,,{\\pos(10,20)}\n"
        "Dialogue: 0,0:01:14.00,0:01:15.00,Default,,0,0,0,,Text, with: commas, and: colons\n";
    for (const bool crlf : {false, true}) {
        std::string bytes = kAssHeader + events;
        if (crlf)
            bytes = "\xEF\xBB\xBF" + ReplaceAll(bytes, "\n", "\r\n");
        CKvSubtitleFile file;
        ASSERT_EQ(file.Open(Write("episode.ass", bytes), 1), 1);
        EXPECT_EQ(file.Format(), CKvSubtitleFile::kFormatAss);
        EXPECT_EQ(file.ChapterCount(), 1);
        ASSERT_TRUE(file.EnterChapter(0));
        ExpectCaptions(ReadAll(file), {
                                          {62.5, 64.0, "Hello\r\nWorld"},
                                          {68.0, 69.5, "Hello there, you"},
                                          {70.0, 71.0, "Hi you\r\nsoft\u00A0break "},
                                          {74.0, 75.0, "Text, with: commas, and: colons"},
                                      });
    }
}

TEST_F(SubtitleFiles, SsaInUtf16AndAMalformedTimeClosesTheFile)
{
    const std::string ssa = "[Script Info]\r\nScriptType: v4.00\r\n\r\n[Events]\r\n"
                            "Format: Marked, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text\r\n"
                            "Dialogue: Marked=0,0:00:01.00,0:00:02.5,Default,NTP,0000,0000,0000,,Ça va ?\r\n"
                            "Dialogue: Marked=0,0:00:03.00,0:00:04.00,Default,NTP,0000,0000,0000\r\n"
                            "Dialogue: Marked=0,0:00:05.00,0:00:06.00,Default,,0,0,0,,never read\r\n";
    CKvSubtitleFile file;
    ASSERT_EQ(file.Open(Write("old.SSA", Utf16Le(ssa)), 1), 1);
    EXPECT_TRUE(file.IsWideText());
    EXPECT_EQ(file.Format(), CKvSubtitleFile::kFormatSsa);
    // The chapter index stops where the reading stops.
    ASSERT_EQ(file.ChapterCount(), 1);
    ASSERT_TRUE(file.EnterChapter(0));
    ExpectCaptions(ReadAll(file), {{1.0, 2.5, "Ça va ?"}});
}

TEST_F(SubtitleFiles, CaptionsThatStartAgainFormChapters)
{
    auto event = [](const char* start, const char* end, const char* text) {
        return std::string("Dialogue: 0,") + start + "," + end + ",Default,,0,0,0,," + text + "\n";
    };
    const std::string first = kAssHeader + event("0:00:01.00", "0:00:02.00", "one")
        + event("0:00:05.00", "0:00:06.00", "five");
    const std::string bytes = first + event("0:00:02.00", "0:00:03.00", "two")
        + event("0:00:07.00", "0:00:08.00", "seven") + "\n[Aegisub Extradata]\nData: 1,a:b:c:d:e,f\n";
    CKvSubtitleFile file;
    ASSERT_EQ(file.Open(Write("chapters.ass", bytes), 1), 1);
    ASSERT_EQ(file.ChapterCount(), 2);
    EXPECT_EQ(file.Chapter(0)->nStartOffset, 0);
    EXPECT_EQ(file.Chapter(0)->nEndOffset, static_cast<int>(first.size()));
    EXPECT_EQ(file.Chapter(1)->nStartOffset, static_cast<int>(first.size())) << "right after the 5 s caption";
    EXPECT_EQ(file.Chapter(2), nullptr);

    ASSERT_TRUE(file.EnterChapter(1));
    ExpectCaptions(ReadAll(file), {{2.0, 3.0, "two"}, {7.0, 8.0, "seven"}});
    EXPECT_FALSE(file.IsOpen());
    // Reopening without rebuilding keeps the index; chapter 0 ends after "five".
    ASSERT_EQ(file.Open(file.Path(), 0), 1);
    ASSERT_TRUE(file.EnterChapter(0));
    ExpectCaptions(ReadAll(file), {{1.0, 2.0, "one"}, {5.0, 6.0, "five"}});

    // Resume offsets never go below the chapter's start; out of range reads 0.
    file.SetResumeOffset(1, 3);
    EXPECT_EQ(file.ResumeOffset(1), static_cast<int>(first.size()));
    EXPECT_EQ(file.ResumeOffset(7), 0);
    EXPECT_FALSE(file.EnterChapter(-1));
}

TEST_F(SubtitleFiles, LookupJoinsOverlappingSrtCaptionsAndMovesOn)
{
    const std::string path = Write("overlap.srt", "1\n00:00:01,000 --> 00:00:04,000\nfirst\n\n"
                                                  "2\n00:00:02,000 --> 00:00:05,000\nsecond\n\n"
                                                  "3\n00:00:06,000 --> 00:00:07,000\nthird\n");
    auto track = CKvSubtitleTrack::Load(path, 0, 10.0);
    ASSERT_NE(track, nullptr);
    EXPECT_FALSE(track->LookUp(10.5)) << "the first frame only finds the caption";
    EXPECT_FALSE(track->LookUp(10.9)) << "before the caption";
    EXPECT_TRUE(track->LookUp(12.5));
    EXPECT_TRUE(track->PictureNeeded());
    EXPECT_EQ(Utf16ToUtf8(track->Text()), "first\r\nsecond\r\n");
    EXPECT_TRUE(track->LookUp(12.6));
    EXPECT_FALSE(track->PictureNeeded()) << "the picture is made once";
    EXPECT_FALSE(track->LookUp(14.5)) << "past the shown caption: the next one is found";
    // The caption that did not overlap was read again, not lost.
    EXPECT_DOUBLE_EQ(track->ShownStart(), 16.0);
    EXPECT_TRUE(track->LookUp(16.5));
    EXPECT_EQ(Utf16ToUtf8(track->Text()), "third\r\n");
    EXPECT_FALSE(track->LookUp(20.0));
    EXPECT_EQ(CKvSubtitleTrack::Load(m_folder.Path() + "missing.srt", 0, 0.0), nullptr);
}

TEST_F(SubtitleFiles, LookupInAChapterResumesAndFollowsTheTime)
{
    auto event = [](const char* start, const char* end, const char* text) {
        return std::string("Dialogue: 0,") + start + "," + end + ",Default,,0,0,0,," + text + "\n";
    };
    const std::string path =
        Write("runs.ass", kAssHeader + event("0:00:01.00", "0:00:02.00", "a1") + event("0:00:03.00", "0:00:04.00", "a2")
                              + event("0:00:01.00", "0:00:02.00", "b1") + event("0:00:03.00", "0:00:04.00", "b2"));
    auto track = CKvSubtitleTrack::Load(path, 1, 0.0);
    ASSERT_NE(track, nullptr);
    ASSERT_EQ(track->File().ChapterCount(), 2);
    EXPECT_FALSE(track->LookUp(0.5));
    EXPECT_TRUE(track->LookUp(1.5));
    EXPECT_EQ(Utf16ToUtf8(track->Text()), "b1");
    EXPECT_TRUE(track->PictureNeeded());
    EXPECT_FALSE(track->LookUp(2.5)) << "between captions nothing is drawn";
    EXPECT_TRUE(track->LookUp(3.5));
    EXPECT_EQ(Utf16ToUtf8(track->Text()), "b2");
    EXPECT_TRUE(track->PictureNeeded());
    // The chapter's end closed the file; a later lookup reopens it and still works.
    EXPECT_FALSE(track->File().IsOpen());
    EXPECT_FALSE(track->LookUp(9.0));
    EXPECT_TRUE(track->LookUp(3.9));
    EXPECT_EQ(Utf16ToUtf8(track->Text()), "b2");
}

TEST(SubtitleText, OverridesAndEscapes)
{
    struct Case
    {
        std::u16string in;
        std::u16string out;
    };
    for (const Case& c : std::vector<Case>{
             {u"{\\i1}Hello{\\i0} there", u"Hello there"},
             {u"Hi {\\b1}you", u"Hi you"},
             {u"{\\an8}{\\c&H00FF00&}top", u"top"},
             {u"open { never closed", u"open { never closed"},
             {u"a}b{c}d", u"a}bd"},
         })
        EXPECT_EQ(RemoveSubtitleOverrides(c.in), c.out);
    EXPECT_EQ(ExpandSubtitleEscapes(u"a\\Nb\\nc\\hd\\x\\"), u"a\r\nb\r\nc\u00A0d\\x\\");
    for (const Case& c : std::vector<Case>{
             {u"<i>x</i> <B>y</B> <font color=\"red\">z</font>", u"x y z"},
             {u"a < b > c <3", u"a < b > c <3"},
             {u"{\\an8}top {not a tag}", u"top {not a tag}"},
         })
        EXPECT_EQ(RemoveSrtStyling(c.in), c.out);
}

} // namespace
