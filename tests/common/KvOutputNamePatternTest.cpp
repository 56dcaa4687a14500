#include "common/KvOutputNamePattern.h"

#include "common/KvOutputFile.h"
#include "common/KvText.h"

#include <gtest/gtest.h>

#include <set>

namespace velmora {
namespace {

struct ParseCase
{
    const char* name;
    std::wstring pattern;
    const char* says; // nullptr: accepted
};

void PrintTo(const ParseCase& c, std::ostream* os)
{
    *os << c.name;
}

class OutputNameParse : public ::testing::TestWithParam<ParseCase>
{
};

TEST_P(OutputNameParse, AcceptsWhatNamesAFileAndSaysWhyNot)
{
    KvOutputNamePattern pattern;
    std::string error;
    const bool parsed = pattern.Parse(GetParam().pattern, &error);
    if (!GetParam().says) {
        EXPECT_TRUE(parsed) << error;
        EXPECT_EQ(pattern.Text(), GetParam().pattern);
        return;
    }
    EXPECT_FALSE(parsed);
    EXPECT_NE(error.find(GetParam().says), std::string::npos) << error;
    EXPECT_EQ(pattern.Text(), KvOutputNamePattern::kDefaultText) << "a refused text changes nothing";
}

INSTANTIATE_TEST_SUITE_P(
    OutputName, OutputNameParse,
    ::testing::Values(ParseCase{"Default", L"(output{n}){name}", nullptr},
                      ParseCase{"TagsAndBraces", L"{{{Artist}}} - {title} {n}", nullptr},
                      ParseCase{"Empty", L"", "empty"},
                      ParseCase{"Unknown", L"{name}{year}", "unknown placeholder \"{year}\""},
                      ParseCase{"OpenBrace", L"{name", "has no \"}\""},
                      ParseCase{"NestedBrace", L"{na{n}me}", "has no \"}\""},
                      ParseCase{"CloseBrace", L"name}", "has no \"{\""},
                      ParseCase{"Slash", L"{artist}/{title}", "\"/\""},
                      ParseCase{"Control", L"a\tb", "control"},
                      ParseCase{"TooLong", std::wstring(191, L'x') + L"{n}", "too long"}),
    [](const auto& info) { return std::string(info.param.name); });

struct NameCase
{
    const char* name;
    const wchar_t* pattern;
    const wchar_t* source; // its file name without extension
    const wchar_t* title;
    const wchar_t* artist;
    int number;
    int copy;
    const wchar_t* expected;
};

void PrintTo(const NameCase& c, std::ostream* os)
{
    *os << c.name;
}

class OutputFileName : public ::testing::TestWithParam<NameCase>
{
};

TEST_P(OutputFileName, ExpandsThePatternIntoAName)
{
    KvOutputNamePattern pattern;
    ASSERT_TRUE(pattern.Parse(GetParam().pattern));
    EXPECT_EQ(pattern.FileName({GetParam().source, GetParam().title, GetParam().artist}, GetParam().number, GetParam().copy, L".mp3"), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    OutputName, OutputFileName,
    ::testing::Values(
        NameCase{"Default", L"(output{n}){name}", L"holiday clip", L"", L"", 7, 1, L"(output007)holiday clip.mp3"},
        NameCase{"DefaultPastThreeDigits", L"(output{n}){name}", L"a:b", L"", L"", 1234, 1, L"(output1234)a:b.mp3"},
        NameCase{"NameAlone", L"{name}", L"holiday clip", L"", L"", 3, 1, L"holiday clip.mp3"},
        NameCase{"Copy", L"{name}", L"holiday clip", L"", L"", 3, 2, L"holiday clip (2).mp3"},
        NameCase{"TagsWithSlashes", L"{artist} - {title}", L"x", L"Live: 1/2 <edit>?", L"AC/DC", 1, 1,
                 L"AC_DC - Live_ 1_2 _edit__.mp3"},
        NameCase{"ControlCharacters", L"{name} {title}", L"a\x1b[31m", L"b\nc", L"", 1, 1, L"a_[31m b_c.mp3"},
        NameCase{"TitleFallsBackToTheName", L"{n} {title}", L"holiday clip", L"", L"", 2, 1, L"002 holiday clip.mp3"},
        NameCase{"MissingTagLeavesNoBlanks", L"{artist} - {title} {artist}", L"x", L"Song", L"", 1, 2, L"- Song (2).mp3"},
        NameCase{"EmptyFallsBackToTheName", L"{artist}", L"holiday clip", L"", L"", 1, 3, L"holiday clip (3).mp3"},
        NameCase{"DotsFallBackToTheName", L"..", L"clip", L"", L"", 1, 1, L"clip.mp3"},
        NameCase{"NothingAtAll", L"{artist}", L"", L"", L"", 1, 1, L"output.mp3"},
        NameCase{"Braces", L"Mixx {{{n}}}", L"x", L"", L"", 5, 1, L"Mixx {005}.mp3"}),
    [](const auto& info) { return std::string(info.param.name); });

std::size_t Bytes(const std::wstring& text)
{
    return WideToUtf8(text).size();
}

// A 300-byte title of two- and four-byte characters, next to a short artist and a long
// one: the name fits, is whole UTF-8, keeps the extension, " (k)" and the pattern's own
// text, and the short value stays whole.
TEST(OutputName, LongTagsAreCutByWholeCharactersToFitOneName)
{
    std::wstring title;
    for (int i = 0; i < 50; ++i)
        title += L"\u00E9\U0001F3B5"; // 6 bytes
    ASSERT_EQ(Bytes(title), 300u);
    KvOutputNamePattern pattern;
    ASSERT_TRUE(pattern.Parse(L"{artist} - {title} #{n}"));
    for (const std::wstring& artist : {std::wstring(L"Short"), std::wstring(300, L'a')}) {
        const std::wstring name = pattern.FileName({L"clip", title, artist}, 12, 10, L".wma");
        const std::string bytes = WideToUtf8(name);
        EXPECT_LE(bytes.size(), kKvMaxNameBytes);
        EXPECT_GE(bytes.size(), kKvMaxNameBytes - 3) << "no more is cut than a character's bytes";
        EXPECT_TRUE(IsValidUtf8(bytes));
        EXPECT_EQ(name.find(L'\xFFFD'), std::wstring::npos);
        EXPECT_TRUE(name.ends_with(L" #012 (10).wma")) << bytes;
        if (artist == L"Short") {
            EXPECT_TRUE(name.starts_with(L"Short - \u00E9\U0001F3B5")) << bytes;
        } else {
            // Both long: each keeps about half of the room.
            const std::size_t dash = name.find(L" - ");
            EXPECT_NEAR(double(dash), 119.0, 3.0) << bytes;
        }
    }
    // The default keeps its number whatever the name's length.
    const std::wstring name = KvOutputNamePattern().FileName({std::wstring(300, L'x'), L"", L""}, 1000, 1, L".mp3");
    EXPECT_EQ(Bytes(name), kKvMaxNameBytes);
    EXPECT_TRUE(name.starts_with(L"(output1000)xxx"));
}

// A track's fields: {track} two digits at least and never cut, {album} and {chapter}
// cleaned as tags are; a missing track number leaves no blank at the start.
TEST(OutputName, TrackFieldsNameTheTracksOfASplitFile)
{
    KvOutputNamePattern pattern;
    ASSERT_TRUE(pattern.Parse(KvOutputNamePattern::kSplitDefaultText));
    KvOutputNameValues values{L"rip", L"Intro: Act 1", L"Band", L"Live", 3, L"Intro"};
    EXPECT_EQ(pattern.FileName(values, 1, 1, L".flac"), L"03 Intro_ Act 1.flac");
    values.track = 112;
    EXPECT_EQ(pattern.FileName(values, 1, 1, L".flac"), L"112 Intro_ Act 1.flac");
    values.track = 0;
    EXPECT_EQ(pattern.FileName(values, 1, 1, L".flac"), L"Intro_ Act 1.flac");
    ASSERT_TRUE(pattern.Parse(L"{album} - {track} {chapter}"));
    values.track = 7;
    values.album = std::wstring(300, L'a');
    const std::wstring name = pattern.FileName(values, 1, 1, L".mp3");
    EXPECT_EQ(Bytes(name), kKvMaxNameBytes);
    EXPECT_TRUE(name.ends_with(L" - 07 Intro.mp3")) << WideToUtf8(name);
}

TEST(OutputName, ATakenNameGetsTheNextNumberOrTheNextCopy)
{
    std::set<std::wstring> taken = {L"(output002)clip.mp3", L"(output003)clip.mp3", L"clip.mp3", L"clip (2).mp3"};
    auto isTaken = [&taken](const std::wstring& name) { return taken.count(name) > 0; };
    int counter = 1;
    EXPECT_EQ(KvOutputNamePattern().ChooseFileName({L"clip", L"", L""}, L".mp3", counter, isTaken), L"(output004)clip.mp3");
    EXPECT_EQ(counter, 4);

    KvOutputNamePattern byName;
    ASSERT_TRUE(byName.Parse(L"{name}"));
    EXPECT_EQ(byName.ChooseFileName({L"clip", L"", L""}, L".mp3", counter, isTaken), L"clip (3).mp3");
    EXPECT_EQ(counter, 5) << "one number a row, used or not";
    EXPECT_EQ(byName.ChooseFileName({L"other", L"", L""}, L".mp3", counter, isTaken), L"other.mp3");

    // Where everything reads as taken the search ends.
    EXPECT_FALSE(byName.ChooseFileName({L"clip", L"", L""}, L".mp3", counter, [](const std::wstring&) { return true; }).empty());
}

TEST(OutputName, SourceNameDropsTheFolderAndTheLastExtension)
{
    EXPECT_EQ(KvOutputNamePattern::SourceName(L"/videos/clip.final.mp4"), L"clip.final");
    EXPECT_EQ(KvOutputNamePattern::SourceName(L"/vid.eos/noext"), L"noext");
    EXPECT_EQ(KvOutputNamePattern::SourceName(L"holiday clip.mp3"), L"holiday clip");
}

} // namespace
} // namespace velmora
