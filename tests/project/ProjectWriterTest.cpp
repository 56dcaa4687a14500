// What the writer leaves out or adds depending on the line an item is on.

#include "ProjectTestHelper.h"

#include "xml/KvXmlNode.h"

#include <gtest/gtest.h>

using namespace velmora;
using velmora::test::ProjectFiles;

namespace {

std::vector<std::wstring> AttributeNames(const CKvXmlNode& node)
{
    std::vector<std::wstring> names;
    for (const auto& attribute : node.GetAttributes())
        names.push_back(attribute.first);
    return names;
}

std::vector<std::wstring> ChildNames(const CKvXmlNode& node)
{
    std::vector<std::wstring> names;
    for (const auto& child : node.GetChildren())
        names.push_back(child->GetName());
    return names;
}

bool HasName(const std::vector<std::wstring>& names, const std::wstring& name)
{
    return std::find(names.begin(), names.end(), name) != names.end();
}

// An item carrying every optional record, on a line of the given kind.
tagKvProjectData ProjectWithLoadedItem(int nKind)
{
    tagKvProjectData project;
    auto line = std::make_unique<tagKvLineData>();
    line->nLineType = nKind;
    auto item = std::make_unique<tagKvMediaData>();
    item->eMediaTypeLine = nKind;
    item->eMediaType = kMediaVideo;
    item->overlay = tagKvOverlayData{};
    item->title = tagKvTitleData{};
    item->action = tagKvActionData{};
    item->action3D = tagKv3DActionData{};
    item->camera = tagKvCameraData{};
    item->_3DGroupSettings = tagKv3DGroupSettings{};
    item->source = L"/a.mp4";
    line->items.push_back(std::move(item));
    project.lines.push_back(std::move(line));
    return project;
}

struct KindCase
{
    int nKind;
    bool b3DValues, bOverlay, bTitle, bAction, bBlock, bCamera, bGroupSettings, bSource;
};

class WriterGroupsByKind : public ::testing::TestWithParam<KindCase>
{
};

} // namespace

TEST_P(WriterGroupsByKind, OnlyTheKindsGroupsAreWritten)
{
    const KindCase& c = GetParam();
    ProjectFiles files;
    ASSERT_TRUE(files.Write(ProjectWithLoadedItem(c.nKind)));
    CKvXmlNode document;
    ASSERT_TRUE(document.Load(files.ProjectPath()));
    const CKvXmlNode& line = *document.FirstElement()->FirstChild(L"line");
    const CKvXmlNode& item = *line.FirstChild(L"item");
    const auto attributes = AttributeNames(item);
    const auto children = ChildNames(item);
    EXPECT_EQ(HasName(attributes, L"dxAngle"), c.b3DValues);
    EXPECT_EQ(HasName(attributes, L"b3DFillInWholeDuration"), c.b3DValues);
    EXPECT_EQ(HasName(attributes, L"OverlaydTransparent"), c.bOverlay);
    EXPECT_EQ(HasName(attributes, L"nAlign"), c.bTitle);
    EXPECT_EQ(HasName(children, L"text"), c.bTitle);
    EXPECT_EQ(HasName(attributes, L"actionToMediaIndex"), c.bAction);
    EXPECT_EQ(HasName(attributes, L"bDoneInBlock"), c.bBlock);
    EXPECT_EQ(HasName(children, L"camera"), c.bCamera);
    EXPECT_EQ(HasName(children, L"_3DGroupSettings"), c.bGroupSettings);
    EXPECT_EQ(HasName(children, L"source"), c.bSource);
    EXPECT_EQ(line.HasAttribute(L"subtitlebottommargin"), c.bTitle);
}

INSTANTIATE_TEST_SUITE_P(Cases, WriterGroupsByKind,
                         ::testing::Values(
                             //       kind 3D    overlay title  action block  camera group  source
                             KindCase{0, true, false, false, false, false, false, true, true},
                             KindCase{1, false, false, false, false, false, false, false, true},
                             KindCase{3, true, true, false, false, false, false, true, true},
                             KindCase{7, true, false, true, false, false, false, false, false},
                             KindCase{9, false, false, false, true, true, false, false, false},
                             KindCase{11, false, false, false, true, false, false, false, false},
                             KindCase{15, true, false, false, false, false, false, false, true},
                             KindCase{32, false, false, false, false, false, true, false, false},
                             KindCase{44, false, false, false, true, true, false, false, false},
                             KindCase{46, false, false, false, false, false, false, false, true}));

TEST(ProjectWriter, EditorStateLeadsAndCountWeighsLine15Twice)
{
    ProjectFiles files;
    tagKvProjectData project;
    for (int nKind : {15, 1}) {
        auto line = std::make_unique<tagKvLineData>();
        line->nLineType = nKind;
        for (int i = 0; i < 2; ++i) {
            line->items.push_back(std::make_unique<tagKvMediaData>());
            line->items.back()->eMediaTypeLine = nKind;
        }
        project.lines.push_back(std::move(line));
    }
    tagKvEditorState state{12.5, 3, 1, 40, 50};
    tagKvProjectWriteOptions options;
    options.pEditorState = &state;
    options.dScaleFactorForPlay = 0.5;
    options.vensettingIndex = 2;
    ASSERT_TRUE(WriteProject(&project, files.ProjectPath(), options));

    CKvXmlNode document;
    ASSERT_TRUE(document.Load(files.ProjectPath()));
    const CKvXmlNode& root = *document.FirstElement();
    EXPECT_EQ(AttributeNames(root),
              (std::vector<std::wstring>{L"dCurFrameTime", L"nCurTimeScaleZoomIndex", L"nEditMode", L"nHorizonalPos",
                                         L"nVerticalPos", L"dScaleFactorForPlay", L"b3D", L"bEnableFog",
                                         L"bEnableLighting", L"clrFog", L"clrLightAmbient", L"clrLightDiffuse",
                                         L"vensettingIndex", L"nmaxduration", L"count"}));
    EXPECT_EQ(root.GetDoubleAttribute(L"dCurFrameTime"), 12.5);
    EXPECT_EQ(root.GetDoubleAttribute(L"dScaleFactorForPlay"), 0.5);
    EXPECT_EQ(root.GetIntAttribute(L"vensettingIndex"), 2);
    EXPECT_EQ(root.GetIntAttribute(L"count"), 2 + 2 * 2 + 2); // lines + line 15's items twice + line 1's
}

TEST(ProjectWriter, FadesAreWrittenFittedOnlyForItemsWithSound)
{
    ProjectFiles files;
    tagKvProjectData project;
    auto line = std::make_unique<tagKvLineData>();
    for (int bHadAudio : {1, 0}) {
        auto item = std::make_unique<tagKvMediaData>();
        item->eMediaTypeLine = kLineAudio;
        item->bHadAudio = bHadAudio;
        item->dEditorEndTime = 5;
        item->dAudioFadeInDuration = 4;
        item->dAudioFadeOutDuration = 6;
        line->items.push_back(std::move(item));
    }
    project.lines.push_back(std::move(line));
    ASSERT_TRUE(files.Write(project));

    CKvXmlNode document;
    ASSERT_TRUE(document.Load(files.ProjectPath()));
    const CKvXmlNode* pLine = document.FirstElement()->FirstChild(L"line");
    const CKvXmlNode* pWithSound = pLine->FirstChild(L"item");
    const CKvXmlNode* pSilent = pLine->NextChild(L"item", pWithSound);
    EXPECT_EQ(pWithSound->GetDoubleAttribute(L"dAudioFadeInDuration"), 2);
    EXPECT_EQ(pWithSound->GetDoubleAttribute(L"dAudioFadeOutDuration"), 3);
    EXPECT_FALSE(pSilent->HasAttribute(L"dAudioFadeInDuration"));
    EXPECT_FALSE(pSilent->HasAttribute(L"bEnableAudioEffect"));
}
