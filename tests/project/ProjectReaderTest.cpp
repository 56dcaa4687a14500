// The engine's project reader: defaults, failures, values it must not pass on, and
// the post-load steps over hand-written project files.

#include "ProjectTestHelper.h"

#include "common/KvText.h"

#include <gtest/gtest.h>

#include <climits>
#include <filesystem>

using namespace velmora;
using velmora::test::ProjectFiles;
using velmora::test::WriteFileBytes;

namespace {

// A UTF-8 project file (no mark) with these lines inside the root.
std::string ProjectText(const std::string& lines, const std::string& rootAttributes = "vensettingIndex=\"4\"")
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<project " + rootAttributes + ">\r\n" + lines
        + "</project>\r\n";
}

std::string Item(const std::string& attributes, const std::string& children = "")
{
    if (children.empty())
        return "<item " + attributes + "/>\r\n";
    return "<item " + attributes + ">" + children + "</item>\r\n";
}

std::string Line(const std::string& items, const std::string& attributes = "")
{
    return "<line " + attributes + ">\r\n" + items + "</line>\r\n";
}

class ProjectReader : public ::testing::Test
{
protected:
    bool Load(const std::string& text)
    {
        engine.Clear();
        WriteFileBytes(files.ProjectPath(), text);
        return files.Read(engine);
    }

    const std::vector<std::unique_ptr<CKvEngineItem>>& Items(int nKind) { return engine.FindLine(nKind)->items; }

    ProjectFiles files;
    CKvEngineProject engine;
};

} // namespace

TEST(EngineProject, LineObjectsExistForEveryKindButEight)
{
    CKvEngineProject project;
    EXPECT_EQ(project.Lines().size(), 47u);
    for (int nKind = -1; nKind <= 49; ++nKind) {
        const CKvEngineLine* pLine = project.FindLine(nKind);
        if (nKind < 0 || nKind == 8 || nKind >= 48) {
            EXPECT_EQ(pLine, nullptr) << nKind;
        } else {
            ASSERT_NE(pLine, nullptr) << nKind;
        }
        if (pLine != nullptr) {
            EXPECT_EQ(pLine->nLineType, nKind);
        }
    }
    const std::vector<int> start = {32, 15, 0, 9, 3, 10, 16, 21, 17, 22};
    for (size_t i = 0; i < start.size(); ++i)
        EXPECT_EQ(project.Lines()[i]->nLineType, start[i]);
    EXPECT_EQ(project.Lines().back()->nLineType, 33);
}

TEST_F(ProjectReader, MissingAttributesTakeTheEngineDefaults)
{
    ASSERT_TRUE(Load(ProjectText(Line(Item("eMediaType=\"1\" eMediaTypeLine=\"1\"")), "")));
    EXPECT_EQ(engine.option, MakeEnginePresetTable()[0]); // "vensettingIndex" missing: preset 0
    EXPECT_EQ(engine.nFrameWidth, 1920);
    EXPECT_EQ(engine.nFrameHeight, 1080);
    EXPECT_EQ(engine.b3D, 0);
    EXPECT_EQ(engine.clrFog, 11697996);
    EXPECT_EQ(engine.nLoadTotal, 1);
    EXPECT_EQ(engine.nLoadCount, 1);
    EXPECT_TRUE(engine.RelativeDir.empty());
    ASSERT_EQ(Items(kLineAudio).size(), 1u);
    const CKvEngineItem& item = *Items(kLineAudio)[0];
    EXPECT_EQ(item.bHadAudio, 0);
    EXPECT_EQ(item.dVoiceScale, 0.0);
    EXPECT_EQ(item.dPlaybackRate, 0.01);
    EXPECT_EQ(item.dEditorEndTime, 0.0);
    EXPECT_EQ(item.bEnableCamera, 1);
    EXPECT_EQ(item.nAudioStream, -1); // the first sound track, as before the attribute
    EXPECT_FALSE(item.title || item.action || item.mask || item.overlay || item.rotation);
    EXPECT_TRUE(item.source.empty());
    EXPECT_EQ(engine.FindLine(kLineAudio)->subtitlebottommargin, 10);
}

TEST_F(ProjectReader, PresetPicksTheRecordAndTellsTheDecoderStore)
{
    std::vector<int> selected;
    files.Options().onPresetSelected = [&](const tagKvOptionRecord& record) { selected.push_back(record.nPreset); };
    ASSERT_TRUE(Load(ProjectText("", "vensettingIndex=\"9\"")));
    EXPECT_EQ(selected, std::vector<int>{9});
    EXPECT_EQ(engine.nFrameWidth, 320);
    EXPECT_EQ(engine.nFrameHeight, 240);
}

class ProjectReaderFailure : public ProjectReader, public ::testing::WithParamInterface<std::string>
{
};

TEST_P(ProjectReaderFailure, ReadFails)
{
    EXPECT_FALSE(Load(GetParam()));
}

INSTANTIATE_TEST_SUITE_P(Cases, ProjectReaderFailure,
                         ::testing::Values(ProjectText("", "vensettingIndex=\"10\""),
                                           ProjectText("", "vensettingIndex=\"-1\""),
                                           std::string("<p"),                        // two bytes
                                           std::string("<project><line></project>"), // unbalanced
                                           std::string()));

TEST_F(ProjectReader, MissingFileFails)
{
    EXPECT_FALSE(files.Read(engine));
}

struct RateCase
{
    const char* attributes;
    double rate;
    double editorEnd;
    double vStart;
};

class ProjectReaderValues : public ProjectReader, public ::testing::WithParamInterface<RateCase>
{
};

// A speed the mixer would divide by, or a time that is no number, is not passed on.
TEST_P(ProjectReaderValues, UnusableNumbersAreReplaced)
{
    const RateCase& c = GetParam();
    ASSERT_TRUE(Load(ProjectText(Line(Item(std::string("eMediaType=\"0\" eMediaTypeLine=\"1\" ") + c.attributes)))));
    const CKvEngineItem& item = *Items(kLineAudio)[0];
    EXPECT_EQ(item.dPlaybackRate, c.rate);
    EXPECT_EQ(item.dEditorEndTime, c.editorEnd);
    EXPECT_EQ(item.dVSelfStartTime, c.vStart);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ProjectReaderValues,
    ::testing::Values(RateCase{"", 0.01, 0, 0}, RateCase{"dPlaybackRate=\"nan\"", 0.01, 0, 0},
                      RateCase{"dPlaybackRate=\"inf\"", 0.01, 0, 0}, RateCase{"dPlaybackRate=\"-3\"", 0.01, 0, 0},
                      RateCase{"dPlaybackRate=\"0.005\"", 0.01, 0, 0}, RateCase{"dPlaybackRate=\"1.5\"", 1.5, 0, 0},
                      RateCase{"dEditorEndTime=\"inf\" dVSelfStartTime=\"nan\"", 0.01, 0, 0},
                      RateCase{"dEditorEndTime=\"12.5\" dVSelfStartTime=\"-inf\"", 0.01, 12.5, 0}));

TEST_F(ProjectReader, DisabledLineLoadsNothing)
{
    ASSERT_TRUE(Load(ProjectText(Line(Item("eMediaType=\"1\" eMediaTypeLine=\"1\""), "bDisable=\"1\""), "count=\"2\"")));
    EXPECT_TRUE(Items(kLineAudio).empty());
    EXPECT_EQ(engine.nLoadCount, 1);
    EXPECT_EQ(engine.nLoadTotal, 2);
}

TEST_F(ProjectReader, ItemsAreFiledByTheirOwnKindAndUnknownKindsDropped)
{
    const std::string items = Item("eMediaType=\"1\" eMediaTypeLine=\"4\" nIndex=\"1\"")
        + Item("eMediaType=\"1\" eMediaTypeLine=\"8\" nIndex=\"2\"") + Item("eMediaType=\"1\" eMediaTypeLine=\"48\"")
        + Item("eMediaType=\"1\" eMediaTypeLine=\"5\" nIndex=\"3\"")
        + Item("eMediaType=\"1\" eMediaTypeLine=\"4\" nIndex=\"4\"");
    ASSERT_TRUE(Load(ProjectText(Line(items, "b3DGroup=\"1\" z3DGroup=\"7\" subtitlebottommargin=\"33\""))));
    ASSERT_EQ(Items(4).size(), 2u);
    EXPECT_EQ(Items(4)[0]->nIndex, 1);
    EXPECT_EQ(Items(4)[1]->nIndex, 4);
    EXPECT_EQ(Items(4)[1]->pPrev, Items(4)[0].get());
    EXPECT_EQ(Items(4)[1]->nPosition, 1);
    ASSERT_EQ(Items(5).size(), 1u);
    EXPECT_EQ(Items(5)[0]->nIndex, 3);
    // The line's own values go to the line of its first item's kind.
    EXPECT_EQ(engine.FindLine(4)->subtitlebottommargin, 33);
    EXPECT_EQ(engine.FindLine(4)->z3DGroup, 7);
    EXPECT_EQ(engine.FindLine(5)->z3DGroup, 40);
}

TEST_F(ProjectReader, TransitionsAlternateItemsBetweenLineAndDetachedList)
{
    const std::string items =
        Item("eMediaType=\"0\" eMediaTypeLine=\"0\" nIndex=\"1\" dEditorStartTime=\"0\" dEditorEndTime=\"10\" "
             "dEffectDuration=\"1\" dPlaybackRate=\"1\"")
        + Item("eMediaType=\"0\" eMediaTypeLine=\"0\" nIndex=\"2\" dEditorStartTime=\"10\" dEditorEndTime=\"20\" "
               "dVSelfStartTime=\"5\" dPlaybackRate=\"2\"")
        + Item("eMediaType=\"0\" eMediaTypeLine=\"0\" nIndex=\"3\" dEditorStartTime=\"20\" dEditorEndTime=\"30\" "
               "dEffectDuration=\"1\" dVSelfStartTime=\"0.5\" dPlaybackRate=\"1\"")
        + Item("eMediaType=\"0\" eMediaTypeLine=\"0\" nIndex=\"4\" dEditorStartTime=\"30\" dEditorEndTime=\"40\" "
               "dVSelfStartTime=\"0.5\" dPlaybackRate=\"1\"");
    ASSERT_TRUE(Load(ProjectText(Line(items))));

    const auto& line = Items(kLineMainVideo);
    ASSERT_EQ(line.size(), 2u);
    EXPECT_EQ(line[0]->nIndex, 1);
    EXPECT_EQ(line[1]->nIndex, 3);
    EXPECT_EQ(line[0]->pNext, line[1].get());
    EXPECT_EQ(line[1]->pPrev, line[0].get());
    EXPECT_EQ(line[1]->nPosition, 1);
    EXPECT_DOUBLE_EQ(line[1]->dEditorStartTime, 20); // B had no transition

    ASSERT_EQ(engine.detached.size(), 2u);
    const CKvEngineItem& b = *engine.detached[0];
    const CKvEngineItem& d = *engine.detached[1];
    EXPECT_EQ(b.nIndex, 2);
    EXPECT_EQ(d.nIndex, 4);
    EXPECT_DOUBLE_EQ(b.dEditorStartTime, 9); // one second earlier than written
    EXPECT_DOUBLE_EQ(b.dVSelfStartTime, 3);  // 5 - speed 2 x 1 s
    EXPECT_DOUBLE_EQ(d.dEditorStartTime, 29);
    EXPECT_DOUBLE_EQ(d.dVSelfStartTime, 0);  // never before the source's start
    EXPECT_EQ(b.pNext, &d);
    EXPECT_EQ(d.pPrev, &b);
    EXPECT_EQ(d.nPosition, 1);
}

// Moving a start back by a transition must not leave the double range: the start
// stays as read instead of becoming minus infinity.
TEST_F(ProjectReader, TransitionThatWouldMoveAStartPastAnyTimeLeavesItAsRead)
{
    const std::string items = Item("eMediaType=\"0\" eMediaTypeLine=\"0\" dEffectDuration=\"1.7e308\"")
        + Item("eMediaType=\"0\" eMediaTypeLine=\"0\" dEditorStartTime=\"-1.7e308\" dPlaybackRate=\"1\"")
        + Item("eMediaType=\"0\" eMediaTypeLine=\"0\" dEffectDuration=\"-1.7e308\"")
        + Item("eMediaType=\"0\" eMediaTypeLine=\"0\" dVSelfStartTime=\"1\" dPlaybackRate=\"2\"");
    ASSERT_TRUE(Load(ProjectText(Line(items))));
    ASSERT_EQ(engine.detached.size(), 1u);
    EXPECT_EQ(engine.detached[0]->dEditorStartTime, -1.7e308);
    EXPECT_EQ(engine.detached[0]->dVSelfStartTime, 0.0);
    // Twice the speed times minus 1.7e308 would move the source start to infinity.
    ASSERT_EQ(Items(kLineMainVideo).size(), 3u);
    EXPECT_EQ(Items(kLineMainVideo)[2]->dVSelfStartTime, 1.0);
}

TEST_F(ProjectReader, SubtitleTitleIsCentredAboveTheLinesMargin)
{
    files.Options().measureTitle = [](const CKvEngineItem&, int& w, int& h) {
        w = 100;
        h = 40;
        return true;
    };
    const std::string item = Item("eMediaType=\"1\" eMediaTypeLine=\"7\" nAlign=\"1\"", "<text>Hello</text>");
    ASSERT_TRUE(Load(ProjectText(Line(item, "subtitlebottommargin=\"10\""), "vensettingIndex=\"5\"")));
    const CKvEngineItem& placed = *Items(kLineSubtitle)[0];
    ASSERT_TRUE(placed.title.has_value());
    EXPECT_EQ(placed.title->TitleX, 270);
    EXPECT_EQ(placed.title->TitleY, 430);
    EXPECT_EQ(placed.title->text, L"Hello");
}

TEST_F(ProjectReader, PlayModeScalesFrameAndMargin)
{
    files.Options().bPlayMode = true;
    const std::string item = Item("eMediaType=\"1\" eMediaTypeLine=\"7\"");
    ASSERT_TRUE(Load(ProjectText(Line(item, "subtitlebottommargin=\"15\""),
                                 "vensettingIndex=\"4\" dScaleFactorForPlay=\"0.45\"")));
    // 864 x 0.45 = 388.8 -> 388; 480 x 0.45 = 216; margin 15 x 0.45 = 6.75 -> 6.
    EXPECT_EQ(engine.nFrameWidth, 388);
    EXPECT_EQ(engine.nFrameHeight, 216);
    EXPECT_EQ(engine.FindLine(kLineSubtitle)->subtitlebottommargin, 6);

    // Outside play mode the factor is 1 whatever the file says.
    ProjectReader::TearDown();
    CKvEngineProject conversion;
    files.Options().bPlayMode = false;
    ASSERT_TRUE(files.Read(conversion));
    EXPECT_EQ(conversion.nFrameWidth, 864);
    EXPECT_EQ(conversion.FindLine(kLineSubtitle)->subtitlebottommargin, 15);
}

TEST_F(ProjectReader, SnapshotRewindsFitTheTimeBeforeThem)
{
    const std::string snapshots =
        "<VideoSnapshots>"
        "<item bRewind=\"1\" dRewindMediaDuration=\"5\" dCaptureTime=\"12\" dDuration=\"1\"/>"  // 2 s after the in-point
        "<item bRewind=\"1\" dRewindMediaDuration=\"1\" dCaptureTime=\"20\" dDuration=\"1\"/>"  // room enough
        "<item bRewind=\"1\" dRewindMediaDuration=\"3\" dCaptureTime=\"20.0004\" dDuration=\"1\"/>" // no room left
        "<item bRewind=\"1\" dRewindMediaDuration=\"3\" dCaptureTime=\"5\" dDuration=\"1\"/>"   // before the in-point
        "<item bRewind=\"1\" dRewindMediaDuration=\"3\" dCaptureTime=\"60\" dDuration=\"1\"/>"  // after the out-point
        "</VideoSnapshots>";
    const std::string atInPoint =
        "<VideoSnapshots><item bRewind=\"1\" dRewindMediaDuration=\"4\" dCaptureTime=\"10\"/></VideoSnapshots>";
    const std::string items =
        Item("eMediaType=\"0\" eMediaTypeLine=\"0\" dVSelfStartTime=\"10\" dVSelfEndTime=\"50\"", snapshots)
        + Item("eMediaType=\"0\" eMediaTypeLine=\"0\" dVSelfStartTime=\"10\" dVSelfEndTime=\"50\"", atInPoint);
    ASSERT_TRUE(Load(ProjectText(Line(items))));
    const auto& first = Items(kLineMainVideo)[0]->VideoSnapshots;
    ASSERT_EQ(first.size(), 5u);
    EXPECT_EQ(first[0].bRewind, 1);
    EXPECT_DOUBLE_EQ(first[0].dRewindMediaDuration, 2);
    EXPECT_DOUBLE_EQ(first[1].dRewindMediaDuration, 1);
    EXPECT_EQ(first[2].bRewind, 0);
    EXPECT_EQ(first[2].dRewindMediaDuration, 0);
    EXPECT_DOUBLE_EQ(first[3].dRewindMediaDuration, 3);
    EXPECT_DOUBLE_EQ(first[4].dRewindMediaDuration, 3);
    const auto& second = Items(kLineMainVideo)[1]->VideoSnapshots;
    EXPECT_EQ(second[0].bRewind, 0);
    EXPECT_EQ(second[0].dRewindMediaDuration, 0);
}

struct AppearCase
{
    double length, appear, disappear;
    int bFill;
    double fittedAppear, fittedDisappear;
};

class AppearDisappearFitting : public ::testing::TestWithParam<AppearCase>
{
};

TEST_P(AppearDisappearFitting, FitsTheItemLength)
{
    const AppearCase& c = GetParam();
    for (bool b3D : {false, true}) {
        CKvEngineItem item;
        item.dEditorStartTime = 3;
        item.dEditorEndTime = 3 + c.length;
        if (b3D)
            item.action3D = tagKv3DActionData{0, c.bFill, c.appear, c.disappear, 0, 0};
        else {
            item.action = tagKvActionData{};
            item.action->AppearDur = c.appear;
            item.action->DisappearDur = c.disappear;
            item.action->bFillInDuration = c.bFill;
        }
        FitAppearDisappear(item, b3D);
        const double dA = b3D ? item.action3D->d3DAppearingDuration : item.action->AppearDur;
        const double dD = b3D ? item.action3D->d3DDisappearingDuration : item.action->DisappearDur;
        EXPECT_DOUBLE_EQ(dA, c.fittedAppear) << b3D;
        EXPECT_DOUBLE_EQ(dD, c.fittedDisappear) << b3D;
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, AppearDisappearFitting,
                         ::testing::Values(AppearCase{10, 2, 3, 0, 2, 3},     // fits
                                           AppearCase{10, 2, 3, 1, 4, 6},     // fill: stretched in proportion
                                           AppearCase{4, 6, 2, 0, 3, 1},      // too long: shared
                                           AppearCase{4, 6, 0, 0, 4, 0},      // appear alone
                                           AppearCase{4, 0, 6, 0, 0, 4},      // disappear alone
                                           AppearCase{4, 0, 0, 1, 0, 4},      // neither, filled
                                           AppearCase{4, 1e308, 1e308, 0, 2, 2},  // a sum that overflows
                                           AppearCase{1e308, 1e308, 1e308, 0, 5e307, 5e307}));

struct OverlayCase
{
    bool bPlayMode;
    int nQuality;
    int width, height;
    int limitWidth, limitHeight;
};

class OverlayLimits : public ::testing::TestWithParam<OverlayCase>
{
};

TEST_P(OverlayLimits, CappedAndRoundedToFour)
{
    const OverlayCase& c = GetParam();
    CKvEngineProject project;
    project.option.nOverlayQuality = c.nQuality;
    auto item = std::make_unique<CKvEngineItem>();
    item->overlay = tagKvOverlayData{1, c.height, c.width, 0, 0};
    project.FindLine(17)->AppendItem(std::move(item));
    SizeOverlayLines(project, c.bPlayMode);
    EXPECT_EQ(project.FindLine(17)->nOverlayMaxWidth, c.limitWidth);
    EXPECT_EQ(project.FindLine(17)->nOverlayMaxHeight, c.limitHeight);
    EXPECT_EQ(project.FindLine(3)->nOverlayMaxWidth, 4); // no items: the minimum
}

INSTANTIATE_TEST_SUITE_P(Cases, OverlayLimits,
                         ::testing::Values(OverlayCase{false, 2, 402, 303, 400, 300},
                                           OverlayCase{false, 0, 1000, 1000, 320, 240},
                                           OverlayCase{false, 4, 1919, 1079, 1440, 1076},
                                           OverlayCase{true, 4, 1000, 1000, 256, 256},
                                           OverlayCase{false, 2, 2, 3, 4, 4}));

TEST_F(ProjectReader, MissingSourceIsRelocatedIntoRelativeDir)
{
    const std::string moved = files.Folder() + "moved/";
    std::filesystem::create_directories(moved);
    WriteFileBytes(moved + "a & b.mp3", "x");
    const std::string items = Item("eMediaType=\"1\" eMediaTypeLine=\"1\"", "<source>/gone/a &amp; b.mp3</source>")
        + Item("eMediaType=\"1\" eMediaTypeLine=\"1\"", "<source>/gone/other.mp3</source>");
    ASSERT_TRUE(Load(ProjectText(Line(items), "vensettingIndex=\"4\" RelativeDir=\"" + moved + "\"")));
    EXPECT_EQ(Items(kLineAudio)[0]->source, Utf8ToWide(moved + "a & b.mp3"));
    EXPECT_EQ(Items(kLineAudio)[1]->source, L"/gone/other.mp3"); // kept: the reader reports it later
}

TEST_F(ProjectReader, AudioPreparationRunsLast)
{
    files.Options().prepareAudio = nullptr; // the real pass
    const std::string item = Item("eMediaType=\"0\" eMediaTypeLine=\"0\" bHadAudio=\"1\" dVSelfStartTime=\"4\" "
                                  "dVSelfEndTime=\"9\" dASelfStartTime=\"1\" dEditorStartTime=\"2\" dEditorEndTime=\"7\"");
    ASSERT_TRUE(Load(ProjectText(Line(item))));
    const CKvEngineItem& read = *Items(kLineMainVideo)[0];
    EXPECT_DOUBLE_EQ(read.dASelfStartTime, 4);
    EXPECT_DOUBLE_EQ(read.dAudioTimelineStart, 2);
    EXPECT_DOUBLE_EQ(read.dAudioTimelineEnd, 7);
}

// An 8-bit file that is not UTF-8 goes to the TinyXML reader, which keeps the same
// vocabulary, gives every character back and ignores the play factor.
TEST_F(ProjectReader, FallbackReaderReadsWhatTheDocumentLayerCannot)
{
    files.Options().bPlayMode = true;
    const std::string item =
        Item("eMediaType=\"1\" eMediaTypeLine=\"7\" nAlign=\"2\" dPlaybackRate=\"2\" dEditorEndTime=\"9.5\"",
             "<fontname>Caf\xE9</fontname><text>1 &lt; 2 &amp;&amp; &quot;x&quot;  &gt; 0</text>"
             "<source>/m/Live  &lt;2019&gt;.mkv</source>");
    ASSERT_TRUE(Load(ProjectText(Line(item, "subtitlebottommargin=\"20\""),
                                 "vensettingIndex=\"4\" dScaleFactorForPlay=\"0.5\"")));
    EXPECT_EQ(engine.nFrameWidth, 864);
    EXPECT_EQ(engine.FindLine(kLineSubtitle)->subtitlebottommargin, 20);
    const CKvEngineItem& read = *Items(kLineSubtitle)[0];
    ASSERT_TRUE(read.title.has_value());
    EXPECT_EQ(read.title->nAlign, 2);
    EXPECT_EQ(read.title->fontname, L"Caf\u00e9");
    EXPECT_EQ(read.title->text, L"1 < 2 && \"x\"  > 0");
    EXPECT_EQ(read.source, L"/m/Live  <2019>.mkv");
    EXPECT_EQ(read.dPlaybackRate, 2);
    EXPECT_EQ(read.dEditorEndTime, 9.5);
}

// A file nested deeper than TinyXML's recursion can take used to end the engine with a
// stack overflow when the document layer had refused it; now the read fails.
TEST_F(ProjectReader, FallbackRefusesNestingTooDeepForTinyXml)
{
    const auto nested = [](std::size_t levels) {
        std::string text = "<project vensettingIndex=\"4\" RelativeDir=\"\xE9\">"; // 8-bit: the fallback reads it
        for (std::size_t i = 1; i < levels; ++i)
            text += "<line>";
        for (std::size_t i = 1; i < levels; ++i)
            text += "</line>";
        return text + "</project>";
    };
    EXPECT_TRUE(Load(nested(1024)));
    EXPECT_EQ(engine.RelativeDir, L"\u00e9");
    EXPECT_FALSE(Load(nested(1025)));
    EXPECT_FALSE(Load(nested(100000)));
}

struct PlayScaleCase
{
    const char* factor;
    int width;
    int height;
};

class ProjectReaderPlayScale : public ProjectReader, public ::testing::WithParamInterface<PlayScaleCase>
{
};

// A factor that leaves no picture, or asks for one larger than 16384 pixels a side, is
// ignored; 1e10 used to overflow the int frame size.
TEST_P(ProjectReaderPlayScale, FrameTakesTheFactorOnlyWithinReason)
{
    files.Options().bPlayMode = true;
    ASSERT_TRUE(Load(ProjectText("", std::string("vensettingIndex=\"4\" dScaleFactorForPlay=\"") + GetParam().factor + "\"")));
    EXPECT_EQ(engine.nFrameWidth, GetParam().width);
    EXPECT_EQ(engine.nFrameHeight, GetParam().height);
}

INSTANTIATE_TEST_SUITE_P(Cases, ProjectReaderPlayScale,
                         ::testing::Values(PlayScaleCase{"2", 1728, 960}, PlayScaleCase{"18.9", 16328, 9072},
                                           PlayScaleCase{"19", 864, 480}, PlayScaleCase{"1e10", 864, 480},
                                           PlayScaleCase{"0", 864, 480}, PlayScaleCase{"-2", 864, 480},
                                           PlayScaleCase{"inf", 864, 480}));

// Sizes and places computed from the file stop at the edges of the int range instead
// of overflowing: a margin of INT_MAX doubled by the play factor used to come out as
// INT_MIN, and a template side of 1e20 pixels gave the overlay no room at all.
TEST_F(ProjectReader, ComputedSizesAndPlacesStopAtTheEdgesOfTheIntRange)
{
    files.Options().bPlayMode = true;
    files.Options().measureTitle = [](const CKvEngineItem&, int& w, int& h) {
        w = 100;
        h = 40;
        return true;
    };
    const std::string title = Item("eMediaType=\"1\" eMediaTypeLine=\"7\" nAlign=\"1\"", "<text>Hi</text>");
    ASSERT_TRUE(Load(ProjectText(Line(title, "subtitlebottommargin=\"2147483647\""), "vensettingIndex=\"5\" dScaleFactorForPlay=\"2\"")));
    EXPECT_EQ(engine.FindLine(kLineSubtitle)->subtitlebottommargin, INT_MAX);
    EXPECT_EQ(Items(kLineSubtitle)[0]->title->TitleY, 960 - 40 - INT_MAX);

    ASSERT_TRUE(Load(ProjectText(Line(title, "subtitlebottommargin=\"-2147483648\""), "vensettingIndex=\"5\"")));
    EXPECT_EQ(Items(kLineSubtitle)[0]->title->TitleY, INT_MAX);

    const std::string overlay =
        "<line b3DGroup=\"1\" bUse3DGroupTemplate=\"1\">" + Item("eMediaType=\"0\" eMediaTypeLine=\"16\"")
        + "<_3DGroupModel><side dw=\"1e20\" dh=\"-1e20\"/></_3DGroupModel></line>";
    files.Options().bPlayMode = false;
    ASSERT_TRUE(Load(ProjectText(overlay, "vensettingIndex=\"4\" b3D=\"1\"")));
    EXPECT_EQ(engine.FindLine(16)->nOverlayMaxWidth, 320); // capped by the overlay quality
    EXPECT_EQ(engine.FindLine(16)->nOverlayMaxHeight, 20); // the template's least height

    // A float field holds no value beyond the float range: it reads as 0, like inf.
    const std::string stroke = Item("eMediaType=\"1\" eMediaTypeLine=\"33\"",
                                    "<graffitilayer><obj><point X=\"1e300\" Y=\"2.5\"/></obj></graffitilayer>");
    ASSERT_TRUE(Load(ProjectText(Line(stroke))));
    const auto& point = Items(kLineHandwriting)[0]->graffitilayer.at(0).obj.at(0).point.at(0);
    EXPECT_EQ(point.X, 0.0f);
    EXPECT_EQ(point.Y, 2.5f);
}

TEST_F(ProjectReader, ClearEmptiesTheModelButKeepsTheLineObjects)
{
    const std::string items = Item("eMediaType=\"1\" eMediaTypeLine=\"1\"")
        + Item("eMediaType=\"0\" eMediaTypeLine=\"0\" dEffectDuration=\"1\"") + Item("eMediaType=\"0\" eMediaTypeLine=\"0\"");
    ASSERT_TRUE(Load(ProjectText(Line(items, "b3DGroup=\"1\" z3DGroup=\"3\""), "vensettingIndex=\"4\" RelativeDir=\"/x/\"")));
    const CKvEngineLine* pAudio = engine.FindLine(kLineAudio);
    ASSERT_EQ(engine.detached.size(), 1u);

    engine.Clear();
    EXPECT_EQ(engine.FindLine(kLineAudio), pAudio);
    EXPECT_TRUE(pAudio->items.empty());
    EXPECT_EQ(pAudio->z3DGroup, 40);
    EXPECT_TRUE(engine.detached.empty());
    EXPECT_TRUE(engine.RelativeDir.empty());
    ASSERT_TRUE(files.Read(engine));
    EXPECT_EQ(pAudio->items.size(), 1u);
    EXPECT_EQ(engine.FindLine(kLineMainVideo)->items.size(), 1u);
}
