#include "project/KvWavIndex.h"

#include "common/KvText.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

using namespace velmora;
using velmora::test::ReadFileBytes;
using velmora::test::TempProgramFolder;
using velmora::test::WriteFileBytes;

namespace {

// The index as text: checks the UTF-16 LE mark and returns the body as UTF-8.
std::string IndexText(const std::string& folder)
{
    const std::string bytes = ReadFileBytes(WavIndexPath(folder));
    if (bytes.size() < 2 || bytes.substr(0, 2) != "\xFF\xFE")
        return "<no UTF-16 LE mark>";
    std::u16string units;
    for (size_t i = 2; i + 1 < bytes.size(); i += 2)
        units.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) | (static_cast<unsigned char>(bytes[i + 1]) << 8)));
    return Utf16ToUtf8(units);
}

// Writes an index in the front end's form from UTF-8 item lines.
void WriteIndex(const std::string& folder, const std::string& items)
{
    const std::string text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<WavFiles>\r\n" + items + "</WavFiles>\r\n";
    WriteFileBytes(WavIndexPath(folder), text);
}

class WavIndexTest : public ::testing::Test
{
protected:
    std::wstring MakeWav(const std::string& name)
    {
        const std::string path = folder.Work() + "tmp/" + name;
        WriteFileBytes(path, "RIFF");
        return Utf8ToWide(path);
    }

    TempProgramFolder folder;
    const std::string& dir() const { return folder.Path(); }
};

TEST_F(WavIndexTest, MissingOrUnreadableIndexListsNothing)
{
    EXPECT_EQ(LookupWavIndex(dir(), L"/media/a.wmv").state, WavIndexState::kNotListed);
    WriteFileBytes(WavIndexPath(dir()), "\x80\x81\x82 not xml");
    EXPECT_EQ(LookupWavIndex(dir(), L"/media/a.wmv").state, WavIndexState::kNotListed);

    // A damaged index is replaced by a fresh one on the next extraction.
    const std::wstring wav = MakeWav("1.wav");
    ASSERT_TRUE(RecordWavExtraction(dir(), L"/media/a.wmv", wav));
    const WavIndexLookup found = LookupWavIndex(dir(), L"/media/a.wmv");
    EXPECT_EQ(found.state, WavIndexState::kPresent);
    EXPECT_EQ(found.wav, wav);
}

TEST_F(WavIndexTest, NewItemsAreWrittenSourceThenWavOneTabIndented)
{
    ASSERT_TRUE(RecordWavExtraction(dir(), L"/m/a.wmv", L"/p/tmp/1.wav"));
    ASSERT_TRUE(RecordWavExtraction(dir(), L"/m/b.asf", L"/p/tmp/2.wav"));
    EXPECT_EQ(IndexText(dir()),
              "<?xml version=\"1.0\" encoding=\"UTF-16\"?>\r\n"
              "<WavFiles>\r\n"
              "\t<item source=\"/m/a.wmv\" wav=\"/p/tmp/1.wav\"/>\r\n"
              "\t<item source=\"/m/b.asf\" wav=\"/p/tmp/2.wav\"/>\r\n"
              "</WavFiles>\r\n");
}

TEST_F(WavIndexTest, StaleItemIsRewrittenInPlaceNotDuplicated)
{
    const std::wstring a = MakeWav("a.wav");
    const std::wstring c = MakeWav("c.wav");
    WriteIndex(dir(), "\t<item source=\"/m/a.wmv\" wav=\"" + WideToUtf8(a) + "\"/>\r\n"
                      "\t<item source=\"/m/b.wmv\" wav=\"" + folder.Work() + "tmp/gone.wav\"/>\r\n"
                      "\t<item source=\"/m/c.wmv\" wav=\"" + WideToUtf8(c) + "\"/>\r\n");

    const WavIndexLookup stale = LookupWavIndex(dir(), L"/m/b.wmv");
    EXPECT_EQ(stale.state, WavIndexState::kStale);
    EXPECT_EQ(WideToUtf8(stale.wav), folder.Work() + "tmp/gone.wav");

    const std::wstring fresh = MakeWav("new.wav");
    ASSERT_TRUE(RecordWavExtraction(dir(), L"/m/b.wmv", fresh));
    EXPECT_EQ(IndexText(dir()),
              "<?xml version=\"1.0\" encoding=\"UTF-16\"?>\r\n"
              "<WavFiles>\r\n"
              "\t<item source=\"/m/a.wmv\" wav=\"" + WideToUtf8(a) + "\"/>\r\n"
              "\t<item source=\"/m/b.wmv\" wav=\"" + WideToUtf8(fresh) + "\"/>\r\n"
              "\t<item source=\"/m/c.wmv\" wav=\"" + WideToUtf8(c) + "\"/>\r\n"
              "</WavFiles>\r\n");
    EXPECT_EQ(LookupWavIndex(dir(), L"/m/b.wmv").state, WavIndexState::kPresent);
}

TEST_F(WavIndexTest, ReplacedWavKeepsItsAttributePosition)
{
    // An item whose attributes stand in another order keeps that order.
    WriteIndex(dir(), "\t<item wav=\"/gone.wav\" source=\"/m/a.wmv\"/>\r\n");
    ASSERT_TRUE(RecordWavExtraction(dir(), L"/m/a.wmv", L"/p/tmp/9.wav"));
    EXPECT_NE(IndexText(dir()).find("\t<item wav=\"/p/tmp/9.wav\" source=\"/m/a.wmv\"/>\r\n"), std::string::npos)
        << IndexText(dir());
}

TEST_F(WavIndexTest, PathsDifferingOnlyInCaseAreDifferentSources)
{
    const std::wstring upper = MakeWav("upper.wav");
    ASSERT_TRUE(RecordWavExtraction(dir(), L"/media/Concert.WMV", upper));
    EXPECT_EQ(LookupWavIndex(dir(), L"/media/concert.wmv").state, WavIndexState::kNotListed);

    const std::wstring lower = MakeWav("lower.wav");
    ASSERT_TRUE(RecordWavExtraction(dir(), L"/media/concert.wmv", lower));
    EXPECT_EQ(LookupWavIndex(dir(), L"/media/Concert.WMV").wav, upper);
    EXPECT_EQ(LookupWavIndex(dir(), L"/media/concert.wmv").wav, lower);
}

TEST_F(WavIndexTest, FirstMatchingItemDecidesEvenWhenStale)
{
    const std::wstring later = MakeWav("later.wav");
    WriteIndex(dir(), "\t<item source=\"/m/a.wmv\" wav=\"/nowhere/first.wav\"/>\r\n"
                      "\t<item source=\"/m/a.wmv\" wav=\"" + WideToUtf8(later) + "\"/>\r\n");
    const WavIndexLookup found = LookupWavIndex(dir(), L"/m/a.wmv");
    EXPECT_EQ(found.state, WavIndexState::kStale);
    EXPECT_EQ(found.wav, L"/nowhere/first.wav");
}

TEST_F(WavIndexTest, MarkupCharactersInPathsRoundTrip)
{
    const std::wstring source = L"/media/Live <2019> & \"Friends\".wmv";
    const std::wstring wav = MakeWav("R&B <take 2>.wav");
    ASSERT_TRUE(RecordWavExtraction(dir(), source, wav));

    const std::string text = IndexText(dir());
    EXPECT_NE(text.find("source=\"/media/Live &lt;2019&gt; &amp; &quot;Friends&quot;.wmv\""), std::string::npos) << text;

    const WavIndexLookup found = LookupWavIndex(dir(), source);
    EXPECT_EQ(found.state, WavIndexState::kPresent);
    EXPECT_EQ(found.wav, wav);
    // The escaped spelling is not the file's name.
    EXPECT_EQ(LookupWavIndex(dir(), L"/media/Live &lt;2019&gt; &amp; &quot;Friends&quot;.wmv").state,
              WavIndexState::kNotListed);
}

TEST_F(WavIndexTest, FailedExtractionRemovesOnlyAStaleItem)
{
    const std::wstring kept = MakeWav("kept.wav");
    WriteIndex(dir(), "\t<item source=\"/m/stale.wmv\" wav=\"/nowhere/x.wav\"/>\r\n"
                      "\t<item source=\"/m/ok.wmv\" wav=\"" + WideToUtf8(kept) + "\"/>\r\n");
    const std::string before = ReadFileBytes(WavIndexPath(dir()));

    // Nothing to change: the file stays byte for byte.
    EXPECT_FALSE(ForgetStaleWav(dir(), L"/m/ok.wmv"));
    EXPECT_FALSE(ForgetStaleWav(dir(), L"/m/unknown.wmv"));
    EXPECT_EQ(ReadFileBytes(WavIndexPath(dir())), before);

    EXPECT_TRUE(ForgetStaleWav(dir(), L"/m/stale.wmv"));
    EXPECT_EQ(LookupWavIndex(dir(), L"/m/stale.wmv").state, WavIndexState::kNotListed);
    EXPECT_EQ(LookupWavIndex(dir(), L"/m/ok.wmv").state, WavIndexState::kPresent);
}

TEST_F(WavIndexTest, DirectoryIsNotAnExistingWav)
{
    std::filesystem::create_directories(folder.Work() + "tmp/folder.wav");
    WriteIndex(dir(), "\t<item source=\"/m/a.wmv\" wav=\"" + folder.Work() + "tmp/folder.wav\"/>\r\n");
    EXPECT_EQ(LookupWavIndex(dir(), L"/m/a.wmv").state, WavIndexState::kStale);
}

} // namespace

// Each sound track of a source has a WAV of its own; an index written before tracks
// could be chosen (no "nAudioStream") speaks for the first track only.
TEST_F(WavIndexTest, EachSoundTrackOfASourceHasItsOwnWav)
{
    const std::wstring first = MakeWav("first.wav");
    WriteIndex(dir(), "\t<item source=\"/m/film.wmv\" wav=\"" + WideToUtf8(first) + "\"/>\r\n");
    EXPECT_EQ(LookupWavIndex(dir(), L"/m/film.wmv").wav, first);
    EXPECT_EQ(LookupWavIndex(dir(), L"/m/film.wmv", 2).state, WavIndexState::kNotListed);

    const std::wstring german = MakeWav("german.wav");
    ASSERT_TRUE(RecordWavExtraction(dir(), L"/m/film.wmv", german, 2));
    EXPECT_NE(IndexText(dir()).find("\t<item source=\"/m/film.wmv\" wav=\"" + WideToUtf8(german) +
                                    "\" nAudioStream=\"2\"/>\r\n"),
              std::string::npos)
        << IndexText(dir());
    const WavIndexView index(dir());
    EXPECT_EQ(index.Find(L"/m/film.wmv").wav, first);
    EXPECT_EQ(index.Find(L"/m/film.wmv", 2).wav, german);

    // A failed extraction of one track leaves the other's item alone.
    std::filesystem::remove(WideToUtf8(german));
    EXPECT_TRUE(ForgetStaleWav(dir(), L"/m/film.wmv", 2));
    EXPECT_EQ(LookupWavIndex(dir(), L"/m/film.wmv", 2).state, WavIndexState::kNotListed);
    EXPECT_EQ(LookupWavIndex(dir(), L"/m/film.wmv").state, WavIndexState::kPresent);
}
