// The front end's job project: a media-list row becomes one item of the audio line,
// and the written file is exactly the text the engine expects.

#include "ProjectTestHelper.h"

#include "project/KvJobProject.h"

#include <cmath>
#include <gtest/gtest.h>

#include <clocale>
#include <filesystem>

using namespace velmora;
using velmora::test::ProjectFiles;

namespace {

tagKvJobRow Row(double start, double end, double speed, double duration = 100.0)
{
    tagKvJobRow row;
    row.file = L"/media/clip.mp4";
    row.duration = duration;
    row.start = start;
    row.end = end;
    row.speed = speed;
    row.sourceWidth = 640;
    row.sourceHeight = 360;
    return row;
}

const double kNan = std::nan("");

} // namespace

TEST(JobProject, EmptyListBuildsNothing)
{
    EXPECT_EQ(BuildJobProject({}), nullptr);
    EXPECT_EQ(GetAudioLineDuration(nullptr), 0.0);
}

struct TrimCase
{
    double start;
    double end;
    double speed;
    double in;
    double out;
    double rate;
    double editorEnd;
};

class JobProjectTrim : public ::testing::TestWithParam<TrimCase>
{
};

TEST_P(JobProjectTrim, RowBecomesAudioLineItem)
{
    const TrimCase& c = GetParam();
    auto project = BuildJobProject({Row(c.start, c.end, c.speed)});
    ASSERT_NE(project, nullptr);
    ASSERT_EQ(project->lines.size(), 1u);
    const tagKvLineData& line = *project->lines[0];
    EXPECT_EQ(line.nLineType, kLineAudio);
    ASSERT_EQ(line.items.size(), 1u);
    const tagKvMediaData& item = *line.items[0];
    EXPECT_DOUBLE_EQ(item.dVSelfStartTime, c.in);
    EXPECT_DOUBLE_EQ(item.dASelfStartTime, c.in);
    EXPECT_DOUBLE_EQ(item.dVSelfEndTime, c.out);
    EXPECT_DOUBLE_EQ(item.dASelfEndTime, c.out);
    EXPECT_DOUBLE_EQ(item.dPlaybackRate, c.rate);
    EXPECT_DOUBLE_EQ(item.dEditorStartTime, 0.0);
    EXPECT_NEAR(item.dEditorEndTime, c.editorEnd, 1e-9);
    EXPECT_EQ(item.eMediaType, 1);
    EXPECT_EQ(item.eMediaTypeLine, 1);
    EXPECT_EQ(item.eImageFillMode, 1);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, JobProjectTrim,
    ::testing::Values(TrimCase{10, 70, 2, 10, 70, 2, 30},          // speed halves the length
                      TrimCase{0, 250, 1, 0, 100, 1, 100},         // end beyond the duration
                      TrimCase{150, 250, 1, 99.9, 100, 1, 0.1},    // start beyond the duration
                      TrimCase{69.95, 70, 1, 69.9, 70, 1, 0.1},    // start pulled back to end - 0.1
                      TrimCase{80, 70, 1, 69.9, 70, 1, 0.1},       // start beyond end
                      TrimCase{0.0005, 70, 1, 0, 70, 1, 70},       // a start this small is 0
                      TrimCase{kNan, kNan, kNan, 0, 0, 0.01, 0},            // no numbers: zeros, speed 0.01
                      TrimCase{0, 10, 0.001, 0, 10, 0.01, 1000},   // speed held at 0.01
                      TrimCase{0, 10, kNan, 0, 10, 0.01, 1000}));   // so is a speed that is no number

TEST(JobProject, RowsChainOnTheLineAndDurationIsTheLastEnd)
{
    auto project = BuildJobProject({Row(0, 10, 1), Row(5, 25, 2), Row(0, 4, 1)});
    const auto& items = project->lines[0]->items;
    ASSERT_EQ(items.size(), 3u);
    EXPECT_DOUBLE_EQ(items[1]->dEditorStartTime, 10);
    EXPECT_DOUBLE_EQ(items[1]->dEditorEndTime, 20);
    EXPECT_DOUBLE_EQ(items[2]->dEditorStartTime, 20);
    EXPECT_DOUBLE_EQ(GetAudioLineDuration(project.get()), 24);
    EXPECT_NE(items[0]->dwselptrinmainapp, items[1]->dwselptrinmainapp);

    // Only the audio line counts.
    auto other = std::make_unique<tagKvLineData>();
    other->nLineType = kLineMainVideo;
    other->items.push_back(std::make_unique<tagKvMediaData>());
    other->items.back()->dEditorEndTime = 500;
    project->lines.push_back(std::move(other));
    EXPECT_DOUBLE_EQ(GetAudioLineDuration(project.get()), 24);
}

struct FadeCase
{
    int bHadAudio;
    double length, in, out, fittedIn, fittedOut;
};

class AudioFadeFitting : public ::testing::TestWithParam<FadeCase>
{
};

TEST_P(AudioFadeFitting, FadesFitTheItem)
{
    const FadeCase& c = GetParam();
    tagKvMediaData item;
    item.bHadAudio = c.bHadAudio;
    item.dEditorStartTime = 10;
    item.dEditorEndTime = 10 + c.length;
    item.dAudioFadeInDuration = c.in;
    item.dAudioFadeOutDuration = c.out;
    FitAudioFades(item);
    EXPECT_DOUBLE_EQ(item.dAudioFadeInDuration, c.fittedIn);
    EXPECT_DOUBLE_EQ(item.dAudioFadeOutDuration, c.fittedOut);
}

INSTANTIATE_TEST_SUITE_P(Cases, AudioFadeFitting,
                         ::testing::Values(FadeCase{1, 5, 4, 6, 2, 3},   // shared in proportion
                                           FadeCase{1, 3, 4, 0, 3, 0},   // fade-in alone takes the item
                                           FadeCase{1, 3, 0, 6, 0, 3},   // fade-out alone takes the item
                                           FadeCase{1, 10, 4, 6, 4, 6},  // fits: unchanged
                                           FadeCase{0, 5, 4, 6, 4, 6})); // no sound: unchanged

TEST(JobProject, FreeProjectDeletesOnlyTheItemsPictures)
{
    ProjectFiles files;
    auto project = BuildJobProject({Row(0, 10, 1)});
    const std::string id = std::to_string(project->lines[0]->items[0]->dwselptrinmainapp);
    const std::string tmp = files.Work() + "tmp/";
    for (const std::string& name : {"vum_" + id + ".png", "shape_" + id + ".png", "vum_" + id + "0.png",
                                    "vum_9" + id + ".png", std::string("keep.wav"), "vum_" + id + ".txt"})
        velmora::test::WriteFileBytes(tmp + name, "x");

    FreeProject(project, files.Folder());
    EXPECT_EQ(project, nullptr);
    EXPECT_FALSE(std::filesystem::exists(tmp + "vum_" + id + ".png"));
    EXPECT_FALSE(std::filesystem::exists(tmp + "shape_" + id + ".png"));
    for (const std::string& kept : {"vum_" + id + "0.png", "vum_9" + id + ".png", std::string("keep.wav"),
                                    "vum_" + id + ".txt"})
        EXPECT_TRUE(std::filesystem::exists(tmp + kept)) << kept;
}

// The whole text of a job project, checked by hand against the file format: mark,
// declaration, TAB indentation, CR LF, attribute order, "%g" and escaping.
TEST(JobProject, WrittenTextMatchesTheFormatByteForByte)
{
    ProjectFiles files;
    tagKvJobRow row;
    row.file = L"/media/Live <2019> & \"Friends\".mkv";
    row.duration = 3723.456;
    row.start = 0.0005;
    row.end = 3723.456;
    row.syncAudio = 59.9999999;
    row.sourceWidth = 640;
    row.sourceHeight = 360;
    auto project = BuildJobProject({row});
    project->lines[0]->items[0]->dwselptrinmainapp = 7;
    ASSERT_TRUE(files.Write(*project, 4));

    const std::u16string expected =
        u"<?xml version=\"1.0\" encoding=\"UTF-16\"?>\r\n"
        u"<project dScaleFactorForPlay=\"1\" b3D=\"0\" bEnableFog=\"0\" bEnableLighting=\"0\" clrFog=\"11697996\""
        u" clrLightAmbient=\"8355711\" clrLightDiffuse=\"16777215\" vensettingIndex=\"4\" nmaxduration=\"10800\""
        u" count=\"2\">\r\n"
        u"\t<line bUse3DGroupTemplate=\"0\" bDisable=\"0\" b3DGroup=\"0\" ax3DGroup=\"0\" ay3DGroup=\"0\""
        u" az3DGroup=\"0\" x3DGroup=\"0\" y3DGroup=\"0\" z3DGroup=\"40\" enableLighting3DGroup=\"0\""
        u" clrLightAmbient3DGroup=\"8355711\" clrLightDiffuse3DGroup=\"16777215\" bAlwaysInFrontOfPrevLines=\"0\">\r\n"
        u"\t\t<item bUseStartKeyFrameFor3DGroup=\"1\" dStartTimeOfKeyFrameFor3DGroup=\"0\" bVocalCut=\"0\""
        u" dAudioDelay=\"60\" bEnableCamera=\"1\" bSubtitleFile=\"0\" nSubtitleChapterIndex=\"0\""
        u" bEnableAudioEffect=\"0\" dAudioFadeInDuration=\"0\" dAudioFadeOutDuration=\"0\" bDisableAudio=\"0\""
        u" bHadAudio=\"1\" dASelfDuration=\"3723.46\" dASelfEndTime=\"3723.46\" dASelfStartTime=\"0\""
        u" dEditorEndTime=\"3723.46\" dEditorStartTime=\"0\" dVSelfDuration=\"3723.46\" dVSelfEndTime=\"3723.46\""
        u" dVSelfStartTime=\"0\" dEffectDuration=\"0\" dPlaybackRate=\"1\" dVoiceScale=\"1\" eImageFillMode=\"1\""
        u" eMediaType=\"1\" eMediaTypeLine=\"1\" nFileNameWidth=\"0\" nIndex=\"0\" nIndexVEffect=\"0\""
        u" nIndexVTranEffect=\"0\" nVideoWidth=\"640\" nVideoHeight=\"360\" dwselptrinmainapp=\"7\""
        u" nCountCaptureImageForEffect_End=\"0\" nIndexVTranEffect3D=\"0\">\r\n"
        u"\t\t\t<source>/media/Live &lt;2019&gt; &amp; &quot;Friends&quot;.mkv</source>\r\n"
        u"\t\t</item>\r\n"
        u"\t</line>\r\n"
        u"</project>\r\n";
    EXPECT_EQ(velmora::test::ReadFileBytes(files.ProjectPath()), velmora::test::Utf16LeFile(expected));

    // And the engine gets the path back as the user named it.
    CKvEngineProject engine;
    ASSERT_TRUE(files.Read(engine));
    ASSERT_EQ(engine.FindLine(kLineAudio)->items.size(), 1u);
    EXPECT_EQ(engine.FindLine(kLineAudio)->items[0]->source, row.file);
}

// A chosen sound track travels as one attribute after the others and comes back; the
// first track is never named, so those files stay as they were (the test above).
TEST(JobProject, ChosenSoundTrackIsOneAttributeThatComesBack)
{
    ProjectFiles files;
    tagKvJobRow row = Row(0, 10, 1);
    row.audioStream = 2;
    ASSERT_TRUE(files.Write(*BuildJobProject({row}), 4));
    const std::string bytes = velmora::test::ReadFileBytes(files.ProjectPath());
    EXPECT_NE(bytes.find(velmora::test::Utf16LeFile(u" nIndexVTranEffect3D=\"0\" nAudioStream=\"2\">").substr(2)),
              std::string::npos);

    CKvEngineProject engine;
    ASSERT_TRUE(files.Read(engine));
    EXPECT_EQ(engine.FindLine(kLineAudio)->items[0]->nAudioStream, 2);
}

// A track of a long file keeps its bounds to the sample: the item's own times are
// written to six digits, which puts a bound an hour in some 100 samples off.
TEST(JobProject, ATrackKeepsItsBoundsToTheLastDigitAndItsTags)
{
    ProjectFiles files;
    tagKvJobRow row = Row(1234.7466666666667, 3723.4567891, 1.0, 4000.0);
    row.track = tagKvItemTrack{};
    row.track->title = L"Zweiter Satz \"Adagio\" <live> & more";
    row.track->track = L"2/4";
    ASSERT_TRUE(files.Write(*BuildJobProject({row})));

    CKvEngineProject engine;
    ASSERT_TRUE(files.Read(engine));
    const CKvEngineItem& item = *engine.FindLine(kLineAudio)->items[0];
    EXPECT_EQ(item.dASelfStartTime, 1234.7466666666667);
    EXPECT_EQ(item.dASelfEndTime, 3723.4567891);
    ASSERT_TRUE(item.track.has_value());
    EXPECT_EQ(item.track->title, L"Zweiter Satz \"Adagio\" <live> & more");
    EXPECT_EQ(item.track->track, L"2/4");
    EXPECT_TRUE(item.track->artist.empty());

    // A whole file has no track, and its file no "track" element.
    ASSERT_TRUE(files.Write(*BuildJobProject({Row(1.0, 2.0, 1.0)})));
    CKvEngineProject whole;
    ASSERT_TRUE(files.Read(whole));
    EXPECT_FALSE(whole.FindLine(kLineAudio)->items[0]->track.has_value());
}

TEST(JobProject, NoProjectWritesNothing)
{
    ProjectFiles files;
    EXPECT_FALSE(WriteProject(nullptr, files.ProjectPath(), {}));
    EXPECT_FALSE(std::filesystem::exists(files.ProjectPath()));
}

// Qt puts the process into the user's locale; the file must not follow it.
TEST(JobProject, NumbersIgnoreACommaDecimalLocale)
{
    const std::string previous = std::setlocale(LC_ALL, nullptr);
    if (std::setlocale(LC_ALL, "de_DE.UTF-8") == nullptr)
        GTEST_SKIP() << "de_DE.UTF-8 is not installed";

    ProjectFiles files;
    auto project = BuildJobProject({Row(1.5, 3723.456, 1.25, 4000.5)});
    const bool bWritten = files.Write(*project);
    CKvEngineProject engine;
    const bool bRead = files.Read(engine);
    const std::string bytes = velmora::test::ReadFileBytes(files.ProjectPath());
    std::setlocale(LC_ALL, previous.c_str());

    ASSERT_TRUE(bWritten);
    ASSERT_TRUE(bRead);
    const std::u16string text = velmora::test::Utf16Of(bytes);
    EXPECT_NE(text.find(u"dVSelfEndTime=\"3723.46\""), std::u16string::npos);
    EXPECT_EQ(text.find(u','), std::u16string::npos);
    const CKvEngineItem& item = *engine.FindLine(kLineAudio)->items[0];
    EXPECT_DOUBLE_EQ(item.dVSelfStartTime, 1.5);
    EXPECT_DOUBLE_EQ(item.dVSelfEndTime, 3723.46);
    EXPECT_DOUBLE_EQ(item.dPlaybackRate, 1.25);
    EXPECT_DOUBLE_EQ(item.dVSelfDuration, 4000.5);
}
