#include "project/KvProjectWriter.h"

#include "common/KvProgramFolder.h"
#include "common/KvText.h"
#include "project/KvJobProject.h"
#include "project/KvProjectFields.h"
#include "xml/KvXmlNode.h"

#include <type_traits>

namespace velmora {

namespace {

// bSkipEmptyText leaves out text attributes whose value is empty.
template <class T>
void WriteFields(CKvXmlNode& node, const T& record, const KvFieldList<T>& fields, bool bSkipEmptyText = false)
{
    for (const auto& field : fields) {
        std::visit(
            [&](auto member) {
                using V = std::remove_cvref_t<decltype(record.*member)>;
                if constexpr (std::is_same_v<V, int>)
                    node.SetIntAttribute(field.name, record.*member);
                else if constexpr (std::is_same_v<V, double>)
                    node.SetDoubleAttribute(field.name, record.*member);
                else if constexpr (std::is_same_v<V, float>)
                    node.SetFloatAttribute(field.name, record.*member);
                else if (!bSkipEmptyText || !(record.*member).empty())
                    node.SetAttribute(field.name, record.*member);
            },
            field.member);
    }
}

template <class T>
CKvXmlNode* AddRecord(CKvXmlNode& parent, const wchar_t* name, const T& record, const KvFieldList<T>& fields)
{
    CKvXmlNode* pNode = parent.AddChild(name);
    WriteFields(*pNode, record, fields);
    return pNode;
}

void AddTextChild(CKvXmlNode& parent, const wchar_t* name, const std::wstring& text)
{
    parent.AddChild(name)->SetText(text);
}

// Copies an element (attributes, text or children) under parent.
void CopyElement(CKvXmlNode& parent, const CKvXmlNode& source)
{
    if (source.GetKind() == CKvXmlNode::kComment) {
        parent.AddChild(L"", CKvXmlNode::kComment)->SetText(source.GetText());
        return;
    }
    CKvXmlNode* pCopy = parent.AddChild(source.GetName());
    for (const auto& attribute : source.GetAttributes())
        pCopy->SetAttribute(attribute.first, source.GetStringAttribute(attribute.first));
    if (source.GetChildCount() == 0)
        pCopy->SetText(source.GetText());
    for (const auto& pChild : source.GetChildren())
        CopyElement(*pCopy, *pChild);
}

// Sound fades fitted to the item's time-line length, as they are written.
void FittedFades(const tagKvMediaData& item, double& dIn, double& dOut)
{
    tagKvMediaData fitted;
    fitted.bHadAudio = item.bHadAudio;
    fitted.dEditorStartTime = item.dEditorStartTime;
    fitted.dEditorEndTime = item.dEditorEndTime;
    fitted.dAudioFadeInDuration = item.dAudioFadeInDuration;
    fitted.dAudioFadeOutDuration = item.dAudioFadeOutDuration;
    ::FitAudioFades(fitted);
    dIn = fitted.dAudioFadeInDuration;
    dOut = fitted.dAudioFadeOutDuration;
}

void WriteShortItem(CKvXmlNode& line, const tagKvMediaData& item)
{
    CKvXmlNode* pItem = line.AddChild(L"item");
    pItem->SetDoubleAttribute(L"dEditStartTime", item.dEditorStartTime);
    pItem->SetDoubleAttribute(L"dEditEndTime", item.dEditorEndTime);
    pItem->SetIntAttribute(L"eMediaType", item.eMediaType);
    pItem->SetIntAttribute(L"eMediaTypeLine", item.eMediaTypeLine);
    WriteFields(*pItem, item, kItem3DFields);
    AddTextChild(*pItem, L"source", item.source);
}

void Write3DGroupSettings(CKvXmlNode& item, const tagKv3DGroupSettings& settings)
{
    CKvXmlNode* pNode = AddRecord(item, L"_3DGroupSettings", settings, k3DGroupSettingsFields);
    for (const auto& point : settings.Camera)
        AddRecord(*pNode, L"Camera", point, k3DGroupCameraFields);
    for (const auto& point : settings.Motion)
        AddRecord(*pNode, L"Motion", point, k3DGroupMotionFields);
}

void WriteAction(CKvXmlNode& item, const tagKvActionData& action, int nKind, const std::string& programFolder)
{
    WriteFields(item, action, kActionFields);
    if (IsBlockActionLine(nKind))
        WriteFields(item, action, kActionBlockFields);
    if (!action.partscustommotion.empty()) {
        CKvXmlNode* pMotion = item.AddChild(L"partscustommotion");
        AddTextChild(*pMotion, L"name", action.partscustommotion);
        CKvXmlNode motionFile;
        const std::string path = ProgramPath(programFolder, "skin/motion/mop/" + WideToUtf8(action.partscustommotion) + ".mop");
        if (motionFile.Load(path) && motionFile.FirstElement() != nullptr)
            CopyElement(*pMotion, *motionFile.FirstElement());
    }
    if (!action.keypoint.empty()) {
        CKvXmlNode* pMotion = item.AddChild(L"custommotion");
        if (!action.custommotionname.empty())
            AddTextChild(*pMotion, L"name", action.custommotionname);
        for (const auto& point : action.keypoint)
            AddRecord(*pMotion, L"keypoint", point, kKeyPointFields);
    }
}

void WriteFullItem(CKvXmlNode& line, const tagKvMediaData& item, const std::string& programFolder)
{
    const int nKind = item.eMediaTypeLine;
    CKvXmlNode* pItem = line.AddChild(L"item");
    pItem->SetIntAttribute(L"bUseStartKeyFrameFor3DGroup", item.bUseStartKeyFrameFor3DGroup);
    pItem->SetDoubleAttribute(L"dStartTimeOfKeyFrameFor3DGroup", item.dStartTimeOfKeyFrameFor3DGroup);
    pItem->SetIntAttribute(L"bVocalCut", item.bVocalCut);
    pItem->SetDoubleAttribute(L"dAudioDelay", item.dAudioDelay);
    pItem->SetIntAttribute(L"bEnableCamera", item.bEnableCamera);

    if (item.colorblk)
        AddRecord(*pItem, L"colorblk", *item.colorblk, kColorBlockFields);
    if (item.vumeter) {
        CKvXmlNode* pMeter = pItem->AddChild(L"vumeter");
        for (const auto& attribute : item.vumeter->attributes)
            pMeter->SetAttribute(attribute.first, attribute.second);
    }
    if (!item.VideoSnapshots.empty()) {
        CKvXmlNode* pSnapshots = pItem->AddChild(L"VideoSnapshots");
        for (const auto& snapshot : item.VideoSnapshots)
            AddRecord(*pSnapshots, L"item", snapshot, kSnapshotFields);
    }
    if (item.ColorAdjustment)
        AddRecord(*pItem, L"ColorAdjustment", *item.ColorAdjustment, kColorAdjustmentFields);
    if (item._3DGroupSettings && item.bSubtitleFile == 0 && Has3DGroupSettings(nKind))
        Write3DGroupSettings(*pItem, *item._3DGroupSettings);
    for (const auto& layer : item.graffitilayer) {
        CKvXmlNode* pLayer = AddRecord(*pItem, L"graffitilayer", layer, kGraffitiLayerFields);
        for (const auto& stroke : layer.obj) {
            CKvXmlNode* pStroke = AddRecord(*pLayer, L"obj", stroke, kGraffitiObjFields);
            for (const auto& point : stroke.point)
                AddRecord(*pStroke, L"point", point, kGraffitiPointFields);
        }
    }
    if (item.camera && nKind == kLineCamera) {
        CKvXmlNode* pCamera = AddRecord(*pItem, L"camera", *item.camera, kCameraFadeFields);
        for (const auto& point : item.camera->points)
            AddRecord(*pCamera, L"item", point, kCameraPointFields);
    }

    if (Has3DItemValues(nKind)) {
        WriteFields(*pItem, item, kItem3DFields);
        if (item.action3D)
            WriteFields(*pItem, *item.action3D, k3DActionFields);
    }
    pItem->SetIntAttribute(L"bSubtitleFile", item.bSubtitleFile);
    pItem->SetIntAttribute(L"nSubtitleChapterIndex", item.nSubtitleChapterIndex);
    if (item.bHadAudio != 0) {
        double dIn = 0.0;
        double dOut = 0.0;
        FittedFades(item, dIn, dOut);
        pItem->SetIntAttribute(L"bEnableAudioEffect", item.bEnableAudioEffect);
        pItem->SetDoubleAttribute(L"dAudioFadeInDuration", dIn);
        pItem->SetDoubleAttribute(L"dAudioFadeOutDuration", dOut);
    }
    if (!item.shape.empty())
        pItem->SetIntAttribute(L"bLoopVideoShapes", item.bLoopVideoShapes);
    WriteFields(*pItem, item, kItemCoreFields);
    if (item.nAudioStream >= 0)
        pItem->SetIntAttribute(L"nAudioStream", item.nAudioStream);

    if (item.mask)
        WriteFields(*pItem, *item.mask, kMaskFields, true); // no "MaskszImageFill" without an image
    if (item.rotation)
        WriteFields(*pItem, *item.rotation, kRotationFields);
    if (item.colorKey)
        WriteFields(*pItem, *item.colorKey, kColorKeyFields);
    if (item.border)
        WriteFields(*pItem, *item.border, kBorderFields);
    if (item.crop)
        WriteFields(*pItem, *item.crop, kCropFields);
    if (item.overlay && IsOverlayLine(nKind))
        WriteFields(*pItem, *item.overlay, kOverlayFields);
    const bool bTitle = item.title && IsTextLine(nKind);
    if (bTitle)
        WriteFields(*pItem, *item.title, kTitleFields);
    if (item.action && IsActionLine(nKind))
        WriteAction(*pItem, *item.action, nKind, programFolder);

    if (bTitle) {
        AddTextChild(*pItem, L"fontname", item.title->fontname);
        AddTextChild(*pItem, L"text", item.title->text);
        AddTextChild(*pItem, L"fontcolorimage", item.title->fontcolorimage);
    }
    if (HasSourceChild(nKind) || item.bSubtitleFile != 0)
        AddTextChild(*pItem, L"source", item.source);
    if (item.track) {
        CKvXmlNode* pTrack = pItem->AddChild(L"track");
        pTrack->SetAttribute(L"start", Utf8ToWide(FormatDoubleAs("%.17g", item.track->start)));
        pTrack->SetAttribute(L"end", Utf8ToWide(FormatDoubleAs("%.17g", item.track->end)));
        for (const auto& [name, member] : kItemTrackTexts) {
            if (!((*item.track).*member).empty())
                AddTextChild(*pTrack, name, (*item.track).*member);
        }
    }
    if (item.loudness) {
        CKvXmlNode* pLoudness = pItem->AddChild(L"loudness");
        pLoudness->SetIntAttribute(L"mode", item.loudness->mode);
        pLoudness->SetAttribute(L"target", Utf8ToWide(FormatDoubleAs("%.17g", item.loudness->target)));
        if (item.loudness->albumIntegrated) {
            pLoudness->SetAttribute(L"albumintegrated", Utf8ToWide(FormatDoubleAs("%.17g", *item.loudness->albumIntegrated)));
            pLoudness->SetAttribute(L"albumpeak", Utf8ToWide(FormatDoubleAs("%.17g", item.loudness->albumPeak)));
        }
    }
    for (const auto& shape : item.shape) {
        CKvXmlNode* pShape = AddRecord(*pItem, L"shape", shape, kShapeFields);
        AddTextChild(*pShape, L"shapemask", shape.shapemask);
        if (!shape.shapeedge.empty())
            AddTextChild(*pShape, L"shapeedge", shape.shapeedge);
        if (!shape.shapethumb.empty())
            AddTextChild(*pShape, L"shapethumb", shape.shapethumb);
    }
}

void Write3DGroupModel(CKvXmlNode& line, const tagKv3DGroupModel& model)
{
    CKvXmlNode* pModel = AddRecord(line, L"_3DGroupModel", model, k3DGroupModelFields);
    auto writeCameraList = [&](const wchar_t* name, const std::vector<tagKv3DGroupModelCamera>& points) {
        CKvXmlNode* pList = pModel->AddChild(name);
        for (const auto& point : points)
            AddRecord(*pList, L"item", point, k3DGroupModelCameraFields);
    };
    writeCameraList(L"appCamera", model.appCamera);
    writeCameraList(L"disappCamera", model.disappCamera);
    for (const auto& side : model.side)
        AddRecord(*pModel, L"side", side, k3DGroupModelSideFields);
    AddRecord(*pModel, L"camera0", model.camera0, k3DGroupModelCameraFields);
    writeCameraList(L"camera", model.camera);
    AddRecord(*pModel, L"rotatetofirst", model.rotatetofirst, k3DGroupModelRotationFields);
}

void WriteLine(CKvXmlNode& root, const tagKvLineData& line, const std::string& programFolder)
{
    CKvXmlNode* pLine = root.AddChild(L"line");
    pLine->SetIntAttribute(L"bUse3DGroupTemplate", line.bUse3DGroupTemplate);
    pLine->SetIntAttribute(L"bDisable", line.bDisable);
    WriteFields(*pLine, static_cast<const tagKvLineAttributes&>(line), kLineGroupFields);
    WriteFields(*pLine, static_cast<const tagKvLineAttributes&>(line), kLineLightingFields);
    pLine->SetIntAttribute(L"bAlwaysInFrontOfPrevLines", line.bAlwaysInFrontOfPrevLines);
    if (IsTextLine(line.nLineType))
        pLine->SetIntAttribute(L"subtitlebottommargin", line.subtitlebottommargin);
    if (line.chorus)
        WriteFields(*pLine, *line.chorus, kChorusFields);

    for (const auto& pItem : line.items) {
        if (pItem->eMediaType == kMediaLyricProject)
            WriteShortItem(*pLine, *pItem);
        else
            WriteFullItem(*pLine, *pItem, programFolder);
    }
    if (line._3DGroupModel)
        Write3DGroupModel(*pLine, *line._3DGroupModel);
}

} // namespace

} // namespace velmora

bool WriteProject(const tagKvProjectData* project, const std::string& path, const tagKvProjectWriteOptions& options)
{
    using namespace velmora;
    if (project == nullptr)
        return false;

    CKvXmlNode document;
    CKvXmlNode* pRoot = document.AddChild(L"project");
    if (options.pEditorState != nullptr) {
        const tagKvEditorState& state = *options.pEditorState;
        pRoot->SetDoubleAttribute(L"dCurFrameTime", state.dCurFrameTime);
        pRoot->SetIntAttribute(L"nCurTimeScaleZoomIndex", state.nCurTimeScaleZoomIndex);
        pRoot->SetIntAttribute(L"nEditMode", state.nEditMode);
        pRoot->SetIntAttribute(L"nHorizonalPos", state.nHorizonalPos);
        pRoot->SetIntAttribute(L"nVerticalPos", state.nVerticalPos);
    }
    pRoot->SetDoubleAttribute(L"dScaleFactorForPlay", options.dScaleFactorForPlay);
    pRoot->SetIntAttribute(L"b3D", project->b3D);
    pRoot->SetIntAttribute(L"bEnableFog", project->bEnableFog);
    pRoot->SetIntAttribute(L"bEnableLighting", project->bEnableLighting);
    pRoot->SetIntAttribute(L"clrFog", project->clrFog);
    pRoot->SetIntAttribute(L"clrLightAmbient", project->clrLightAmbient);
    pRoot->SetIntAttribute(L"clrLightDiffuse", project->clrLightDiffuse);
    pRoot->SetIntAttribute(L"vensettingIndex", options.vensettingIndex);
    pRoot->SetIntAttribute(L"nmaxduration", 10800);

    int nCount = 0;
    for (const auto& pLine : project->lines) {
        WriteLine(*pRoot, *pLine, options.programFolder);
        const int nItems = static_cast<int>(pLine->items.size());
        // The items of a line of kind 15 count twice in the engine's loading total.
        nCount += 1 + (pLine->nLineType == 15 ? 2 * nItems : nItems);
    }
    pRoot->SetIntAttribute(L"count", nCount);
    return document.Save(path, CKvXmlNode::kUtf16Le);
}
