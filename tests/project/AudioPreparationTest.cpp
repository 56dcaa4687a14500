#include "project/KvAudioPreparation.h"

#include "common/KvText.h"
#include "project/KvEngineProject.h"
#include "project/KvProjectReader.h"
#include "project/KvWavIndex.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

using namespace velmora;
using velmora::test::TempProgramFolder;
using velmora::test::WriteFileBytes;

namespace {

constexpr double kUntouched = -123.0;

// A sounding item 10 s .. 40 s on the time line, picture trims 5 .. 35, sound trims
// deliberately different so a copy shows.
std::unique_ptr<CKvEngineItem> MakeItem(const std::wstring& source = L"/media/clip.mkv")
{
    auto item = std::make_unique<CKvEngineItem>();
    item->bHadAudio = 1;
    item->dEditorStartTime = 10.0;
    item->dEditorEndTime = 40.0;
    item->dVSelfStartTime = 5.0;
    item->dVSelfEndTime = 35.0;
    item->dASelfStartTime = 1.0;
    item->dASelfEndTime = 2.0;
    item->dPlaybackRate = 1.0;
    item->dAudioTimelineStart = kUntouched;
    item->dAudioTimelineEnd = kUntouched;
    item->source = source;
    return item;
}

CKvEngineItem& Place(CKvEngineProject& project, int nKind, std::unique_ptr<CKvEngineItem> item)
{
    CKvEngineLine* line = project.FindLine(nKind);
    EXPECT_NE(line, nullptr) << "kind " << nKind;
    item->eMediaTypeLine = nKind;
    return *line->AppendItem(std::move(item));
}

// ---- Which lines are prepared ---------------------------------------------------------

class PreparedLineTest : public ::testing::TestWithParam<std::pair<int, bool>>
{
};

TEST_P(PreparedLineTest, OnlySoundCarryingLinesArePrepared)
{
    const auto [kind, prepared] = GetParam();
    TempProgramFolder folder;
    CKvEngineProject project;
    CKvEngineItem& item = Place(project, kind, MakeItem());

    PrepareAudioTimeline(project, folder.Path());

    if (prepared) {
        EXPECT_DOUBLE_EQ(item.dAudioTimelineStart, 10.0);
        EXPECT_DOUBLE_EQ(item.dAudioTimelineEnd, 40.0);
    } else {
        EXPECT_DOUBLE_EQ(item.dAudioTimelineStart, kUntouched);
        EXPECT_DOUBLE_EQ(item.dAudioTimelineEnd, kUntouched);
        EXPECT_DOUBLE_EQ(item.dASelfStartTime, 1.0);
    }
}

INSTANTIATE_TEST_SUITE_P(
    AudioPreparation, PreparedLineTest,
    ::testing::Values(std::pair{0, true}, std::pair{1, true}, std::pair{2, true}, std::pair{3, true},
                      std::pair{16, true}, std::pair{20, true}, std::pair{34, true}, std::pair{39, true},
                      std::pair{46, true}, std::pair{47, true},
                      std::pair{4, false}, std::pair{7, false}, std::pair{9, false}, std::pair{10, false},
                      std::pair{15, false}, std::pair{21, false}, std::pair{33, false}, std::pair{40, false},
                      std::pair{45, false}),
    [](const auto& info) {
        return "Kind" + std::to_string(info.param.first) + (info.param.second ? "Prepared" : "Skipped");
    });

// ---- Items without sound, trims ----------------------------------------------------

TEST(AudioPreparation, SilentOrMutedItemsAreLeftAlone)
{
    TempProgramFolder folder;
    CKvEngineProject project;
    auto silent = MakeItem();
    silent->bHadAudio = 0;
    auto muted = MakeItem();
    muted->bDisableAudio = 1;
    CKvEngineItem& a = Place(project, 0, std::move(silent));
    CKvEngineItem& b = Place(project, 0, std::move(muted));

    PrepareAudioTimeline(project, folder.Path());

    for (const CKvEngineItem* item : {&a, &b}) {
        EXPECT_DOUBLE_EQ(item->dAudioTimelineStart, kUntouched);
        EXPECT_DOUBLE_EQ(item->dASelfStartTime, 1.0);
        EXPECT_EQ(item->bUsesExtractedWav, 0);
    }
}

TEST(AudioPreparation, SoundTrimsFollowPictureTrimsOnMainLineOverlaysAndDetachedItems)
{
    TempProgramFolder folder;
    CKvEngineProject project;
    CKvEngineItem& mainItem = Place(project, 0, MakeItem());
    CKvEngineItem& audioItem = Place(project, 1, MakeItem());
    auto overlaid = MakeItem();
    overlaid->overlay = tagKvOverlayData{};
    CKvEngineItem& overlayItem = Place(project, 1, std::move(overlaid));
    CKvEngineItem& overlayLineItem = Place(project, 3, MakeItem()); // no overlay settings
    project.detached.push_back(MakeItem());
    CKvEngineItem& detached = *project.detached.back();

    PrepareAudioTimeline(project, folder.Path());

    for (const CKvEngineItem* copied : {&mainItem, &overlayItem, &detached}) {
        EXPECT_DOUBLE_EQ(copied->dASelfStartTime, 5.0);
        EXPECT_DOUBLE_EQ(copied->dASelfEndTime, 35.0);
    }
    for (const CKvEngineItem* kept : {&audioItem, &overlayLineItem}) {
        EXPECT_DOUBLE_EQ(kept->dASelfStartTime, 1.0);
        EXPECT_DOUBLE_EQ(kept->dASelfEndTime, 2.0);
    }
    EXPECT_DOUBLE_EQ(detached.dAudioTimelineStart, 10.0);
    EXPECT_DOUBLE_EQ(detached.dAudioTimelineEnd, 40.0);
}

// ---- Extracted WAVs ----------------------------------------------------------------

class ExtractedWavTest : public ::testing::Test
{
protected:
    std::wstring Extract(const std::wstring& source, const std::string& name, const char* delayXml,
                         int audioStream = -1)
    {
        const std::string wav = folder.Work() + "tmp/" + name;
        WriteFileBytes(wav, "RIFF");
        if (delayXml)
            WriteFileBytes(wav + ".xml", delayXml);
        EXPECT_TRUE(RecordWavExtraction(folder.Path(), source, Utf8ToWide(wav), audioStream));
        return Utf8ToWide(wav);
    }

    TempProgramFolder folder;
    CKvEngineProject project;
};

TEST_F(ExtractedWavTest, ListedWavIsUsedAndItsDelayScaledBySpeed)
{
    const std::wstring wav = Extract(L"/media/clip.wmv", "1.wav", "<AudioData dDelay=\"1.5\"/>");
    auto fast = MakeItem(L"/media/clip.wmv");
    fast->dPlaybackRate = 2.0;
    CKvEngineItem& item = Place(project, 1, std::move(fast));
    project.detached.push_back(MakeItem(L"/media/clip.wmv"));
    CKvEngineItem& detached = *project.detached.back();

    PrepareAudioTimeline(project, folder.Path());

    EXPECT_EQ(item.bUsesExtractedWav, 1);
    EXPECT_EQ(item.szExtractedWav, wav);
    EXPECT_DOUBLE_EQ(item.dAudioTimelineStart, 10.75);
    EXPECT_DOUBLE_EQ(item.dAudioTimelineEnd, 40.0);
    EXPECT_EQ(detached.bUsesExtractedWav, 1);
    EXPECT_DOUBLE_EQ(detached.dAudioTimelineStart, 11.5);
}

TEST_F(ExtractedWavTest, WavWithoutDelayFileStartsOnTime)
{
    Extract(L"/media/clip.wmv", "2.wav", nullptr);
    CKvEngineItem& item = Place(project, 1, MakeItem(L"/media/clip.wmv"));
    PrepareAudioTimeline(project, folder.Path());
    EXPECT_EQ(item.bUsesExtractedWav, 1);
    EXPECT_DOUBLE_EQ(item.dAudioTimelineStart, 10.0);
}

TEST_F(ExtractedWavTest, AnItemReadsTheWavOfItsOwnSoundTrack)
{
    const std::wstring first = Extract(L"/media/film.wmv", "first.wav", nullptr);
    const std::wstring german = Extract(L"/media/film.wmv", "german.wav", nullptr, 2);
    auto chosen = MakeItem(L"/media/film.wmv");
    chosen->nAudioStream = 2;
    CKvEngineItem& germanItem = Place(project, 1, std::move(chosen));
    CKvEngineItem& firstItem = Place(project, 1, MakeItem(L"/media/film.wmv"));
    auto unextracted = MakeItem(L"/media/film.wmv");
    unextracted->nAudioStream = 3;
    CKvEngineItem& thirdItem = Place(project, 1, std::move(unextracted));
    PrepareAudioTimeline(project, folder.Path());
    EXPECT_EQ(germanItem.szExtractedWav, german);
    EXPECT_EQ(firstItem.szExtractedWav, first);
    EXPECT_EQ(thirdItem.bUsesExtractedWav, 0); // read from the source itself
}

// The largest delay a file can hold, at the slowest speed, used to move the sound to
// an infinite start.
TEST_F(ExtractedWavTest, DelayThatWouldMoveTheSoundPastAnyTimeIsNotApplied)
{
    Extract(L"/media/clip.wmv", "2.wav", "<AudioData dDelay=\"1.7e308\"/>");
    auto slow = MakeItem(L"/media/clip.wmv");
    slow->dPlaybackRate = 0.01;
    CKvEngineItem& item = Place(project, 1, std::move(slow));
    PrepareAudioTimeline(project, folder.Path());
    EXPECT_EQ(item.bUsesExtractedWav, 1);
    EXPECT_DOUBLE_EQ(item.dAudioTimelineStart, 10.0);
}

TEST_F(ExtractedWavTest, SourceDifferingOnlyInCaseReadsItsOwnFile)
{
    Extract(L"/media/Clip.WMV", "3.wav", "<AudioData dDelay=\"2\"/>");
    CKvEngineItem& item = Place(project, 1, MakeItem(L"/media/clip.wmv"));
    PrepareAudioTimeline(project, folder.Path());
    EXPECT_EQ(item.bUsesExtractedWav, 0);
    EXPECT_TRUE(item.szExtractedWav.empty());
    EXPECT_DOUBLE_EQ(item.dAudioTimelineStart, 10.0);
}

TEST_F(ExtractedWavTest, StaleFirstEntryMeansNotExtractedEvenWithALaterGoodOne)
{
    const std::string good = folder.Work() + "tmp/good.wav";
    WriteFileBytes(good, "RIFF");
    WriteFileBytes(WavIndexPath(folder.Path()),
                   "<WavFiles>\r\n"
                   "\t<item source=\"/media/clip.wmv\" wav=\"" + folder.Work() + "tmp/deleted.wav\"/>\r\n"
                   "\t<item source=\"/media/clip.wmv\" wav=\"" + good + "\"/>\r\n"
                   "</WavFiles>\r\n");
    CKvEngineItem& item = Place(project, 1, MakeItem(L"/media/clip.wmv"));
    PrepareAudioTimeline(project, folder.Path());
    EXPECT_EQ(item.bUsesExtractedWav, 0);
    EXPECT_DOUBLE_EQ(item.dAudioTimelineStart, 10.0);
}

TEST_F(ExtractedWavTest, SourceWithMarkupCharactersFindsItsWav)
{
    const std::wstring source = L"/media/Live <2019> & \"Friends\".wmv";
    const std::wstring wav = Extract(source, "4.wav", "<AudioData dDelay=\"0.5\"/>");
    CKvEngineItem& item = Place(project, 1, MakeItem(source));
    PrepareAudioTimeline(project, folder.Path());
    EXPECT_EQ(item.szExtractedWav, wav);
    EXPECT_DOUBLE_EQ(item.dAudioTimelineStart, 10.5);
}

TEST_F(ExtractedWavTest, ProjectReaderRunsThePassInItsProgramFolder)
{
    const std::wstring wav = Extract(L"/media/show.wmv", "5.wav", "<AudioData dDelay=\"0.5\"/>");
    const std::string path = folder.Work() + "tmp/kvengine.kvmmpj";
    WriteFileBytes(path, "<project vensettingIndex=\"4\" count=\"2\">\r\n"
                         "<line><item eMediaType=\"1\" eMediaTypeLine=\"1\" bHadAudio=\"1\" dPlaybackRate=\"1\""
                         " dVoiceScale=\"1\" dEditorStartTime=\"2\" dEditorEndTime=\"12\">"
                         "<source>/media/show.wmv</source></item></line>\r\n"
                         "</project>\r\n");
    tagKvProjectReadOptions options;
    options.programFolder = folder.Path();
    ASSERT_TRUE(ReadProject(path, project, options));

    const CKvEngineLine* line = project.FindLine(kLineAudio);
    ASSERT_NE(line, nullptr);
    ASSERT_EQ(line->items.size(), 1u);
    EXPECT_EQ(line->items[0]->szExtractedWav, wav);
    EXPECT_DOUBLE_EQ(line->items[0]->dAudioTimelineStart, 2.5);
    EXPECT_DOUBLE_EQ(line->items[0]->dAudioTimelineEnd, 12.0);
}

} // namespace
