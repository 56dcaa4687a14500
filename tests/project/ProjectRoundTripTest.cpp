// The front end's writer and the engine's reader agree on the whole vocabulary: a
// project that uses every element and attribute comes back with the same values.

#include "ProjectTestHelper.h"

#include "common/KvText.h"
#include "xml/KvXmlNode.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace velmora;
using velmora::test::ProjectFiles;

namespace {

const std::wstring kOddPath = L"/media/Live <2019> & \"Friends\" \u00e9t\u00e9.mkv";

tagKvMediaData FullItem(int nKind, int nSeed)
{
    tagKvMediaData item;
    item.eMediaTypeLine = nKind;
    item.eMediaType = kMediaVideo;
    item.bUseStartKeyFrameFor3DGroup = 0;
    item.dStartTimeOfKeyFrameFor3DGroup = 1.25;
    item.bVocalCut = 1;
    item.dAudioDelay = -0.75;
    item.bEnableCamera = 0;
    item.nSubtitleChapterIndex = 3;
    item.bEnableAudioEffect = 1;
    item.dAudioFadeInDuration = 2.5;
    item.dAudioFadeOutDuration = 3.5;
    item.bHadAudio = 1;
    item.dASelfStartTime = 10;
    item.dASelfEndTime = 50;
    item.dASelfDuration = 3723.46;
    item.dVSelfStartTime = 10;
    item.dVSelfEndTime = 50;
    item.dVSelfDuration = 3723.46;
    item.dEditorStartTime = 0;
    item.dEditorEndTime = 40;
    item.dPlaybackRate = 1;
    item.dVoiceScale = 0.8;
    item.eImageFillMode = 2;
    item.nIndex = nSeed;
    item.nIndexVEffect = 4;
    item.nIndexVTranEffect = 5;
    item.nIndexVTranEffect3D = 6;
    item.nVideoWidth = 1280;
    item.nVideoHeight = 720;
    item.nCountCaptureImageForEffect_End = 7;
    item.dwselptrinmainapp = 1000 + nSeed;
    item.source = kOddPath;
    return item;
}

tagKvProjectData BuildEverything()
{
    tagKvProjectData project;
    project.b3D = 1;
    project.bEnableFog = 1;
    project.bEnableLighting = 1;
    project.clrFog = 123;
    project.clrLightAmbient = 456;
    project.clrLightDiffuse = 789;

    auto addLine = [&](int nKind) -> tagKvLineData& {
        auto line = std::make_unique<tagKvLineData>();
        line->nLineType = nKind;
        project.lines.push_back(std::move(line));
        return *project.lines.back();
    };
    auto addItem = [](tagKvLineData& line, tagKvMediaData item) -> tagKvMediaData& {
        line.items.push_back(std::make_unique<tagKvMediaData>(std::move(item)));
        return *line.items.back();
    };

    // Main video line: the picture sub-records, 3D values and shapes.
    {
        tagKvLineData& line = addLine(kLineMainVideo);
        line.b3DGroup = 1;
        line.ax3DGroup = 1.5;
        line.ay3DGroup = 2.5;
        line.az3DGroup = 3.5;
        line.x3DGroup = 4.5;
        line.y3DGroup = 5.5;
        line.z3DGroup = 41;
        line.enableLighting3DGroup = 1;
        line.clrLightAmbient3DGroup = 1111;
        line.clrLightDiffuse3DGroup = 2222;
        line.bAlwaysInFrontOfPrevLines = 1;
        tagKvMediaData& item = addItem(line, FullItem(kLineMainVideo, 1));
        item.colorblk = tagKvColorBlock{255};
        item.vumeter = tagKvVuMeterData{{{L"1", L"10"}, {L"2", L"a<b"}, {L"28", L"x"}, {L"style", L"bar"}}};
        item.VideoSnapshots = {{1, 25.5, 1.5, 2, 12, 3, L"snap <1>"}, {0, 0, 0, 0, 20, 1, L"snap2"}};
        tagKvColorAdjustment adjust;
        adjust.bEnableBlur = 1;
        adjust.dColorizeBlend = 0.25;
        adjust.nMasaicH = 9;
        adjust.nSaturate = -4;
        item.ColorAdjustment = adjust;
        tagKv3DGroupSettings settings;
        settings.dDepth = 2.5;
        settings.ax = 30;
        settings.z = -7.5;
        settings.nVisiblePart = 3;
        settings.bTop = 1;
        settings.Camera = {{1, 2, 3, 0.5, 4, 5, 6}};
        settings.Motion = {{1, 2, 3, 0.5, 4, 5, 6, 0.75, 1.25}, {0, 0, 0, 1, 0, 0, 0, 1, 1}};
        item._3DGroupSettings = settings;
        item.dxAngle = 10;
        item.dxScale = 1.5;
        item.dyAngle = 20;
        item.dyScale = 0.5;
        item.dzAngle = 30;
        item.dzScale = 2;
        item.n3Depth = 4;
        item.dzDelPos = -1.5;
        item.action3D = tagKv3DActionData{1, 0, 5, 6, 2, 3};
        item.bLoopVideoShapes = 1;
        item.shape = {{4, 0.5, 0.75, 2, 1, 3, 4, 1.5, L"round.png", L"edge1.png", L"thumb1.png"},
                      {2, 0, 0, 0, 0, 0, 0, 0, L"star & moon.png", L"", L""}};
        item.mask = tagKvMaskData{1.5, 1, 0, 1, 4242, 2.5, 3, 4, 5, L"fill.png"};
        item.rotation = tagKvRotationData{1, 1, 0, 90};
        item.colorKey = tagKvColorKeyData{1, 12, 0x00FF00};
        item.border = tagKvBorderData{1, 0x0000FF, 2, 3};
        item.crop = tagKvCropData{1, 8, 16, 640, 360};
    }
    // Overlay line with a 3D group template and its model.
    {
        tagKvLineData& line = addLine(3);
        line.bUse3DGroupTemplate = 1;
        line.b3DGroup = 1;
        tagKv3DGroupModel model;
        model.nTransitionMode = 2;
        model.dScaleX = 1.5;
        model.nCurFrameWidth = 640;
        model.cz = -3;
        model.appCamera = {{1, 2, 3, 4, 5, 6, 0.5}};
        model.disappCamera = {{6, 5, 4, 3, 2, 1, 1.5}, {0, 0, 0, 0, 0, 0, 2}};
        model.side = {{1, 0, 1, 10, 20, 30, 120, 160, 1, 2, 3}, {0, 1, 0, 0, 0, 0, 100, 90, 0, 0, 0}};
        model.camera0 = {7, 8, 9, 10, 11, 12, 0.25};
        model.camera = {{1, 1, 1, 1, 1, 1, 1}};
        model.rotatetofirst = {15, 25, 35};
        line._3DGroupModel = model;
        tagKvMediaData& item = addItem(line, FullItem(3, 2));
        item.overlay = tagKvOverlayData{0.5, 240, 320, 12, 34};
        item.dxScale = 1;
        item.dyScale = 1;
        item.dzScale = 1;
    }
    // Subtitle line: title block and its three texts, a subtitle file.
    {
        tagKvLineData& line = addLine(kLineSubtitle);
        line.subtitlebottommargin = 15;
        line.chorus = tagKvChorusData{1, 2, 3, 4, 5, 6};
        tagKvMediaData& item = addItem(line, FullItem(kLineSubtitle, 3));
        item.bSubtitleFile = 1;
        item.source = L"/subs/a&b <c>.srt";
        tagKvTitleData title;
        title.nAlign = 1;
        title.TitledTranparent = 0.5;
        title.TitlelfHeight = -24;
        title.TitleX = 100;
        title.TitleyposScale = 0.9;
        title.clrShining = 77;
        title.nOutlineFactor = 5;
        title.nShadeFactor = 6;
        title.nShineFactor = 7;
        title.nRotateAngle = 45;
        title.fontname = L"Arial <Bold>";
        title.text = L"1 < 2 & \"3\" > 0";
        title.fontcolorimage = L"/img/gold & silver.png";
        item.title = title;
    }
    // Block action line: action block, parts motion and custom key points.
    {
        tagKvLineData& line = addLine(9);
        tagKvMediaData& item = addItem(line, FullItem(9, 4));
        tagKvActionData action;
        action.actionToMediaIndex = 1;
        action.ActiondTransparentEnd = 0.25;
        action.ActionrcEnd_bottom = 480;
        action.ActionrcStart_left = 8;
        action.nAppearType = 3;
        action.AppearDur = 1.5;
        action.DisappearDur = 2.5;
        action.bCustomizeAction = 1;
        action.nLoopCustomCount = 2;
        action.bDoneInBlock = 1;
        action.nClarityEnd = 80;
        action.partscustommotion = L"wave";
        action.custommotionname = L"zig & zag";
        action.keypoint = {{0, 1, 2, 3, 4, 100, 50, 0}, {100, 5, 6, 7, 8, 90, 40, 180}};
        item.action = action;
    }
    // Camera line and handwriting line.
    {
        tagKvLineData& line = addLine(kLineCamera);
        tagKvMediaData& item = addItem(line, FullItem(kLineCamera, 5));
        tagKvCameraData camera;
        camera.FadebEnable = 1;
        camera.FadebFillDuration = 1;
        camera.FadeclrMaskFade = 99;
        camera.FadedFadeInDur = 1.5;
        camera.FadedFadeOutDur = 2.5;
        camera.points = {{1, 2, 3, 4, 5, 6, L"clip.mkv"}, {-1, -2, -3, 0, 0, 0, L"clip.mkv"}};
        item.camera = camera;
    }
    {
        tagKvLineData& line = addLine(kLineHandwriting);
        tagKvMediaData& item = addItem(line, FullItem(kLineHandwriting, 6));
        tagKvGraffitiObj stroke{1, 255, 0.5, 2, 30, 4.5, 3, 1, L"pen.png", 99, 1.5, 2, 1, {{1.5f, 2.25f}, {300.75f, 400}}};
        item.graffitilayer = {{1, 0.5, 2.5, L"layer <1>", {stroke}}, {0, 0, 0, L"empty", {}}};
        item.dxScale = 1;
        item.dyScale = 1;
        item.dzScale = 1;
    }
    // Audio line, as a job writes it.
    {
        tagKvLineData& line = addLine(kLineAudio);
        tagKvMediaData item = FullItem(kLineAudio, 7);
        item.eMediaType = kMediaAudio;
        addItem(line, item);
    }
    return project;
}

// What the engine holds for a front-end item after a read with no post-load changes.
tagKvMediaData ExpectedItem(const tagKvMediaData& written, const std::string& folder)
{
    tagKvMediaData expected = written;
    expected.nFileNameWidth = 0; // not read
    if (!HasSourceChild(expected.eMediaTypeLine) && expected.bSubtitleFile == 0)
        expected.source.clear(); // not written for these kinds
    if (expected.camera) {
        for (auto& point : expected.camera->points)
            point.name.clear(); // not read
    }
    const std::wstring skin = Utf8ToWide(folder) + L"skin/shape/";
    for (auto& shape : expected.shape) {
        shape.shapemask = skin + L"mask/" + shape.shapemask;
        if (!shape.shapeedge.empty())
            shape.shapeedge = skin + L"edge/" + shape.shapeedge;
        if (!shape.shapethumb.empty())
            shape.shapethumb = skin + L"thumb/" + shape.shapethumb;
    }
    return expected;
}

} // namespace

TEST(ProjectRoundTrip, EveryElementAndAttributeComesBackUnchanged)
{
    ProjectFiles files;
    // The motion file whose root the writer copies into "partscustommotion".
    std::filesystem::create_directories(files.Folder() + "skin/motion/mop");
    {
        CKvXmlNode motion;
        CKvXmlNode* pRoot = motion.AddChild(L"motion");
        pRoot->SetIntAttribute(L"frames", 12);
        pRoot->AddChild(L"step")->SetText(L"a & b");
        ASSERT_TRUE(motion.Save(files.Folder() + "skin/motion/mop/wave.mop", CKvXmlNode::kUtf16Le));
    }

    const tagKvProjectData project = BuildEverything();
    ASSERT_TRUE(files.Write(project, 6));

    CKvEngineProject engine;
    ASSERT_TRUE(files.Read(engine));

    EXPECT_EQ(engine.b3D, 1);
    EXPECT_EQ(engine.bEnableFog, 1);
    EXPECT_EQ(engine.bEnableLighting, 1);
    EXPECT_EQ(engine.clrFog, 123);
    EXPECT_EQ(engine.clrLightAmbient, 456);
    EXPECT_EQ(engine.clrLightDiffuse, 789);
    EXPECT_EQ(engine.option, MakeEnginePresetTable()[6]);
    EXPECT_EQ(engine.nFrameWidth, 640);
    EXPECT_EQ(engine.nFrameHeight, 360);
    EXPECT_EQ(engine.bHasVuMeter, 1);
    EXPECT_EQ(engine.nLoadTotal, 14); // 7 lines + 7 items
    EXPECT_EQ(engine.nLoadCount, 14);
    EXPECT_TRUE(engine.detached.empty());

    for (const auto& pLine : project.lines) {
        SCOPED_TRACE(pLine->nLineType);
        const CKvEngineLine* pEngineLine = engine.FindLine(pLine->nLineType);
        ASSERT_NE(pEngineLine, nullptr);
        ASSERT_EQ(pEngineLine->items.size(), pLine->items.size());
        for (size_t i = 0; i < pLine->items.size(); ++i) {
            const tagKvMediaData& read = *pEngineLine->items[i];
            EXPECT_EQ(read, ExpectedItem(*pLine->items[i], files.Folder()));
        }

        tagKvLineAttributes expected = *pLine;
        expected.chorus.reset(); // the engine has no chorus
        if (!IsTextLine(pLine->nLineType))
            expected.subtitlebottommargin = 10; // not written: the engine's default
        EXPECT_EQ(static_cast<const tagKvLineAttributes&>(*pEngineLine), expected);
    }

    // The parts motion carries a copy of the motion file's root.
    CKvXmlNode document;
    ASSERT_TRUE(document.Load(files.ProjectPath()));
    const CKvXmlNode* pParts = nullptr;
    for (const CKvXmlNode* pLine = document.FirstElement()->FirstChild(L"line"); pLine && !pParts;
         pLine = document.FirstElement()->NextChild(L"line", pLine)) {
        if (const CKvXmlNode* pItem = pLine->FirstChild(L"item"))
            pParts = pItem->FirstChild(L"partscustommotion");
    }
    ASSERT_NE(pParts, nullptr);
    ASSERT_EQ(pParts->GetChildCount(), 2u);
    EXPECT_EQ(pParts->GetChild(0)->GetText(), L"wave");
    EXPECT_EQ(pParts->GetChild(1)->GetName(), L"motion");
    EXPECT_EQ(pParts->GetChild(1)->GetIntAttribute(L"frames"), 12);
    EXPECT_EQ(pParts->GetChild(1)->FirstChild(L"step")->GetText(), L"a & b");
}

TEST(ProjectRoundTrip, ShortFormCarriesTimesAnglesScalesAndSource)
{
    ProjectFiles files;
    tagKvProjectData project;
    auto line = std::make_unique<tagKvLineData>();
    line->nLineType = 4;
    auto item = std::make_unique<tagKvMediaData>();
    item->eMediaType = kMediaLyricProject;
    item->eMediaTypeLine = 4;
    item->dEditorStartTime = 2.5;
    item->dEditorEndTime = 12.25;
    item->dxAngle = 1;
    item->dxScale = 2;
    item->dyAngle = 3;
    item->dyScale = 4;
    item->dzAngle = 5;
    item->dzScale = 6;
    item->n3Depth = 7;
    item->dzDelPos = 8;
    item->source = L"/lyrics/song & <dance>.kvlrc";
    line->items.push_back(std::move(item));
    project.lines.push_back(std::move(line));
    ASSERT_TRUE(files.Write(project));

    CKvXmlNode document;
    ASSERT_TRUE(document.Load(files.ProjectPath()));
    const CKvXmlNode* pItem = document.FirstElement()->FirstChild(L"line")->FirstChild(L"item");
    std::vector<std::wstring> names;
    for (const auto& attribute : pItem->GetAttributes())
        names.push_back(attribute.first);
    EXPECT_EQ(names, (std::vector<std::wstring>{L"dEditStartTime", L"dEditEndTime", L"eMediaType", L"eMediaTypeLine",
                                                L"dxAngle", L"dxScale", L"dyAngle", L"dyScale", L"dzAngle",
                                                L"dzScale", L"n3Depth", L"dzDelPos"}));

    CKvEngineProject engine;
    ASSERT_TRUE(files.Read(engine));
    ASSERT_EQ(engine.FindLine(4)->items.size(), 1u);
    const CKvEngineItem& read = *engine.FindLine(4)->items[0];
    EXPECT_EQ(read.eMediaType, kMediaLyricProject);
    EXPECT_DOUBLE_EQ(read.dEditorStartTime, 2.5);
    EXPECT_DOUBLE_EQ(read.dEditorEndTime, 12.25);
    EXPECT_EQ(read.dxAngle, 1);
    EXPECT_EQ(read.dxScale, 2);
    EXPECT_EQ(read.dyAngle, 3);
    EXPECT_EQ(read.dyScale, 4);
    EXPECT_EQ(read.dzAngle, 5);
    EXPECT_EQ(read.dzScale, 6);
    EXPECT_EQ(read.source, L"/lyrics/song & <dance>.kvlrc");
}
