#include "project/KvProjectReader.h"

#include "common/KvProgramFolder.h"
#include "common/KvText.h"
#include "project/KvAudioPreparation.h"
#include "project/KvProjectElement.h"
#include "project/KvProjectFields.h"
#include "xml/KvTinyXmlLoader.h"
#include "xml/KvXmlNode.h"

#include <tinyxml.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cwchar>
#include <filesystem>
#include <iterator>
#include <limits>
#include <system_error>
#include <type_traits>

namespace velmora {

namespace {

using Element = IKvProjectElement;

// A number the engine cannot work with (inf, nan) reads as 0.
double Finite(double value)
{
    return std::isfinite(value) ? value : 0.0;
}

double ReadDouble(const Element& e, const wchar_t* name, double def)
{
    return Finite(e.Double(name, def));
}

// A value beyond the float range would be infinite as a float: it reads as 0, like
// any other number that is not finite.
float ReadFloat(const Element& e, const wchar_t* name, float def)
{
    const double value = ReadDouble(e, name, def);
    return std::abs(value) <= static_cast<double>(std::numeric_limits<float>::max()) ? static_cast<float>(value) : 0.0f;
}

// Sizes and places in pixels come from doubles and sums that a file can push past
// the int range: they end at its edges instead (not-a-number gives 0).
int SaturatedInt(double value)
{
    if (std::isnan(value))
        return 0;
    if (value >= static_cast<double>(INT_MAX))
        return INT_MAX;
    if (value <= static_cast<double>(INT_MIN))
        return INT_MIN;
    return static_cast<int>(value);
}

int SaturatedInt(long long value)
{
    return static_cast<int>(std::clamp<long long>(value, INT_MIN, INT_MAX));
}

// The largest picture side a play scale factor may ask for; a larger one would only
// make the preview allocate pictures nobody can show.
constexpr double kMaxScaledFrameSide = 16384.0;

// Reads the listed attributes that are present; missing ones keep the record's values.
template <class T>
void ReadFields(const Element& e, T& record, const KvFieldList<T>& fields)
{
    for (const auto& field : fields) {
        if (!e.Has(field.name))
            continue;
        if (auto p = std::get_if<int T::*>(&field.member))
            record.**p = e.Int(field.name, record.**p);
        else if (auto p = std::get_if<double T::*>(&field.member))
            record.**p = ReadDouble(e, field.name, record.**p);
        else if (auto p = std::get_if<float T::*>(&field.member))
            record.**p = ReadFloat(e, field.name, record.**p);
        else if (auto p = std::get_if<std::wstring T::*>(&field.member))
            record.**p = e.String(field.name, record.**p);
    }
}

template <class T>
T ReadRecord(const Element& e, const KvFieldList<T>& fields)
{
    T record{};
    ReadFields(e, record, fields);
    return record;
}

bool FileExists(const std::wstring& path)
{
    std::error_code error;
    return !path.empty() && std::filesystem::exists(std::filesystem::path(WideToUtf8(path)), error);
}

struct ReadContext
{
    CKvEngineProject& project;
    const tagKvProjectReadOptions& options;
    double dScale = 1.0;
};

void AdvanceProgress(ReadContext& context)
{
    CKvEngineProject& project = context.project;
    if (project.nLoadCount < project.nLoadTotal)
        ++project.nLoadCount;
    if (context.options.onProgress)
        context.options.onProgress(project.nLoadCount, project.nLoadTotal);
}

void ReadShortItem(const Element& e, CKvEngineItem& item, ReadContext& context)
{
    item.eMediaTypeLine = e.Int(L"eMediaTypeLine", 0);
    item.dEditorStartTime = ReadDouble(e, L"dEditStartTime", 0.0);
    item.dEditorEndTime = ReadDouble(e, L"dEditEndTime", 0.0);
    item.dxAngle = ReadDouble(e, L"dxAngle", 0.0);
    item.dxScale = ReadDouble(e, L"dxScale", 0.0);
    item.dyAngle = ReadDouble(e, L"dyAngle", 0.0);
    item.dyScale = ReadDouble(e, L"dyScale", 0.0);
    item.dzAngle = ReadDouble(e, L"dzAngle", 0.0);
    item.dzScale = ReadDouble(e, L"dzScale", 0.0);
    if (auto pSource = e.Child(L"source"))
        item.source = RelocateSource(pSource->Text(), context.project.RelativeDir);
}

void ReadCamera(const Element& e, CKvEngineItem& item)
{
    tagKvCameraData camera; // fades 0.5 unless the file has a fade block
    if (e.Has(L"FadebEnable")) {
        camera.FadebEnable = e.Int(L"FadebEnable", 0);
        camera.FadebFillDuration = e.Int(L"FadebFillDuration", 0);
        camera.FadeclrMaskFade = e.Int(L"FadeclrMaskFade", 0);
        camera.FadedFadeInDur = ReadDouble(e, L"FadedFadeInDur", 0.0);
        camera.FadedFadeOutDur = ReadDouble(e, L"FadedFadeOutDur", 0.0);
    }
    for (const auto& pPoint : e.Children(L"item")) {
        tagKv3DCameraInfo point = ReadRecord(*pPoint, kCameraPointFields);
        point.name.clear(); // written for the editor only
        camera.points.push_back(point);
    }
    item.camera = camera;
}

void ReadAction(const Element& e, CKvEngineItem& item)
{
    tagKvActionData action;
    ReadFields(e, action, kActionFields);
    ReadFields(e, action, kActionBlockFields);
    if (auto pParts = e.Child(L"partscustommotion")) {
        if (auto pName = pParts->Child(L"name"))
            action.partscustommotion = pName->Text();
    }
    if (auto pCustom = e.Child(L"custommotion")) {
        if (auto pName = pCustom->Child(L"name"))
            action.custommotionname = pName->Text();
        for (const auto& pPoint : pCustom->Children(L"keypoint"))
            action.keypoint.push_back(ReadRecord(*pPoint, kKeyPointFields));
    }
    item.action = action;
}

void ReadTitle(const Element& e, CKvEngineItem& item)
{
    tagKvTitleData title;
    ReadFields(e, title, kTitleFields);
    if (title.nOutlineFactor < 1)
        title.nOutlineFactor = 2;
    if (title.nShadeFactor < 1)
        title.nShadeFactor = 4;
    if (title.nShineFactor < 1)
        title.nShineFactor = 3;
    if (auto p = e.Child(L"fontname"))
        title.fontname = p->Text();
    if (auto p = e.Child(L"text"))
        title.text = p->Text();
    if (auto p = e.Child(L"fontcolorimage"))
        title.fontcolorimage = p->Text();
    item.title = title;
}

void ReadShapes(const Element& e, CKvEngineItem& item, const std::string& programFolder)
{
    const std::wstring skin = Utf8ToWide(ProgramPath(programFolder, "skin/shape/"));
    for (const auto& pShapeElement : e.Children(L"shape")) {
        tagKvShapeInfo shape = ReadRecord(*pShapeElement, kShapeFields);
        if (auto p = pShapeElement->Child(L"shapemask"))
            shape.shapemask = skin + L"mask/" + p->Text();
        if (auto p = pShapeElement->Child(L"shapeedge"))
            shape.shapeedge = skin + L"edge/" + p->Text();
        if (auto p = pShapeElement->Child(L"shapethumb"))
            shape.shapethumb = skin + L"thumb/" + p->Text();
        item.shape.push_back(shape);
    }
}

void ReadFullItem(const Element& e, CKvEngineItem& item, ReadContext& context)
{
    CKvEngineProject& project = context.project;
    const bool b3D = project.b3D != 0;

    item.bUseStartKeyFrameFor3DGroup = e.Int(L"bUseStartKeyFrameFor3DGroup", item.bUseStartKeyFrameFor3DGroup);
    item.dStartTimeOfKeyFrameFor3DGroup =
        ReadDouble(e, L"dStartTimeOfKeyFrameFor3DGroup", item.dStartTimeOfKeyFrameFor3DGroup);
    item.bVocalCut = e.Int(L"bVocalCut", 0);
    item.dAudioDelay = ReadDouble(e, L"dAudioDelay", 0.0);
    if (e.Has(L"bEnableCamera"))
        item.bEnableCamera = e.Int(L"bEnableCamera", 0);

    // Fields whose reading depends on the item's kind and type.
    item.eMediaTypeLine = e.Int(L"eMediaTypeLine", 0);
    const int nKind = item.eMediaTypeLine;

    if (auto p = e.Child(L"colorblk"))
        item.colorblk = ReadRecord(*p, kColorBlockFields);
    if (auto p = e.Child(L"vumeter")) {
        item.vumeter = tagKvVuMeterData{p->Attributes()};
        project.bHasVuMeter = 1;
    }
    if (auto p = e.Child(L"VideoSnapshots")) {
        for (const auto& pSnapshot : p->Children(L"item"))
            item.VideoSnapshots.push_back(ReadRecord(*pSnapshot, kSnapshotFields));
    }
    if (auto p = e.Child(L"ColorAdjustment"))
        item.ColorAdjustment = ReadRecord(*p, kColorAdjustmentFields);
    if (b3D) {
        if (auto p = e.Child(L"_3DGroupSettings")) {
            tagKv3DGroupSettings settings = ReadRecord(*p, k3DGroupSettingsFields);
            for (const auto& pPoint : p->Children(L"Camera"))
                settings.Camera.push_back(ReadRecord(*pPoint, k3DGroupCameraFields));
            for (const auto& pPoint : p->Children(L"Motion"))
                settings.Motion.push_back(ReadRecord(*pPoint, k3DGroupMotionFields));
            item._3DGroupSettings = settings;
        }
    }
    if (nKind == kLineHandwriting) {
        for (const auto& pLayer : e.Children(L"graffitilayer")) {
            tagKvGraffitiLayer layer = ReadRecord(*pLayer, kGraffitiLayerFields);
            for (const auto& pStroke : pLayer->Children(L"obj")) {
                tagKvGraffitiObj stroke = ReadRecord(*pStroke, kGraffitiObjFields);
                for (const auto& pPoint : pStroke->Children(L"point"))
                    stroke.point.push_back(ReadRecord(*pPoint, kGraffitiPointFields));
                layer.obj.push_back(stroke);
            }
            item.graffitilayer.push_back(layer);
        }
    }
    if (nKind == kLineCamera) {
        if (auto p = e.Child(L"camera"))
            ReadCamera(*p, item);
    }

    if (b3D) {
        if (e.Has(L"dxAngle")) {
            for (const auto& field : kItem3DFields) {
                if (std::wcscmp(field.name, L"dzDelPos") != 0)
                    item.*std::get<double tagKvMediaData::*>(field.member) = ReadDouble(e, field.name, 0.0);
            }
        }
        if (e.Has(L"dzDelPos"))
            item.dzDelPos = ReadDouble(e, L"dzDelPos", 0.0);
        if (e.Has(L"b3DFillInWholeDuration"))
            item.action3D = ReadRecord(e, k3DActionFields);
    }
    ReadFields(e, item, {{L"bSubtitleFile", &tagKvMediaData::bSubtitleFile},
                         {L"nSubtitleChapterIndex", &tagKvMediaData::nSubtitleChapterIndex},
                         {L"bEnableAudioEffect", &tagKvMediaData::bEnableAudioEffect},
                         {L"dAudioFadeInDuration", &tagKvMediaData::dAudioFadeInDuration},
                         {L"dAudioFadeOutDuration", &tagKvMediaData::dAudioFadeOutDuration},
                         {L"bLoopVideoShapes", &tagKvMediaData::bLoopVideoShapes},
                         {L"nIndexVTranEffect3D", &tagKvMediaData::nIndexVTranEffect3D}});

    item.eMediaType = e.Int(L"eMediaType", 0);
    if (item.eMediaType == kMediaVideo || item.eMediaType == kMediaAudio) {
        item.bDisableAudio = e.Int(L"bDisableAudio", 0);
        item.bHadAudio = e.Int(L"bHadAudio", 0);
        item.dASelfDuration = ReadDouble(e, L"dASelfDuration", 0.0);
        item.dASelfEndTime = ReadDouble(e, L"dASelfEndTime", 0.0);
        item.dASelfStartTime = ReadDouble(e, L"dASelfStartTime", 0.0);
        item.dVSelfDuration = ReadDouble(e, L"dVSelfDuration", 0.0);
        item.dVSelfEndTime = ReadDouble(e, L"dVSelfEndTime", 0.0);
        item.dVSelfStartTime = ReadDouble(e, L"dVSelfStartTime", 0.0);
        item.dPlaybackRate = e.Double(L"dPlaybackRate", 0.0);
        item.dVoiceScale = ReadDouble(e, L"dVoiceScale", 0.0);
        // Absent in older files: the first sound track, as they always meant.
        item.nAudioStream = std::max(-1, e.Int(L"nAudioStream", -1));
    }
    item.dEditorEndTime = ReadDouble(e, L"dEditorEndTime", 0.0);
    item.dEditorStartTime = ReadDouble(e, L"dEditorStartTime", 0.0);
    item.dEffectDuration = ReadDouble(e, L"dEffectDuration", 0.0);
    item.eImageFillMode = e.Int(L"eImageFillMode", 0);
    item.nIndex = e.Int(L"nIndex", 0);
    item.nIndexVEffect = e.Int(L"nIndexVEffect", 0);
    item.nIndexVTranEffect = e.Int(L"nIndexVTranEffect", 0);
    item.nVideoWidth = e.Int(L"nVideoWidth", 0);
    item.nVideoHeight = e.Int(L"nVideoHeight", 0);
    item.dwselptrinmainapp = e.Int(L"dwselptrinmainapp", 0);
    item.nCountCaptureImageForEffect_End = e.Int(L"nCountCaptureImageForEffect_End", 0);

    if (e.Has(L"MaskdSizeScale"))
        item.mask = ReadRecord(e, kMaskFields);
    for (const auto& field : kRotationFields) {
        if (e.Has(field.name)) {
            item.rotation = ReadRecord(e, kRotationFields);
            break;
        }
    }
    if (e.Has(L"VideoKeyEnable"))
        item.colorKey = ReadRecord(e, kColorKeyFields);
    if (e.Has(L"BorderEnable"))
        item.border = ReadRecord(e, kBorderFields);
    if (e.Has(L"enablecrop"))
        item.crop = ReadRecord(e, kCropFields);
    if (e.Has(L"OverlaydTransparent"))
        item.overlay = ReadRecord(e, kOverlayFields);
    if (e.Has(L"nAlign") || e.Child(L"text") != nullptr)
        ReadTitle(e, item);
    if (e.Has(L"actionToMediaIndex"))
        ReadAction(e, item);

    if (auto p = e.Child(L"source"))
        item.source = RelocateSource(p->Text(), project.RelativeDir);
    if (auto p = e.Child(L"track")) {
        tagKvItemTrack track;
        for (const auto& [name, member] : kItemTrackTexts) {
            if (auto text = p->Child(name))
                track.*member = text->Text();
        }
        track.start = ReadDouble(*p, L"start", -1.0);
        track.end = ReadDouble(*p, L"end", -1.0);
        // The exact bounds stand for the item's own, which are the same to six digits.
        if (track.start >= 0.0 && std::abs(track.start - item.dASelfStartTime) < 0.01)
            item.dASelfStartTime = item.dVSelfStartTime = track.start;
        if (track.end >= 0.0 && std::abs(track.end - item.dASelfEndTime) < 0.01)
            item.dASelfEndTime = item.dVSelfEndTime = track.end;
        item.track = track;
    }
    if (auto p = e.Child(L"loudness")) {
        tagKvItemLoudness loudness;
        loudness.mode = p->Int(L"mode", 0);
        loudness.target = ReadDouble(*p, L"target", loudness.target);
        if (p->Has(L"albumintegrated")) {
            loudness.albumIntegrated = ReadDouble(*p, L"albumintegrated", -1e9);
            loudness.albumPeak = ReadDouble(*p, L"albumpeak", 0.0);
        }
        if (loudness.mode == 1 || loudness.mode == 2)
            item.loudness = loudness;
    }
    ReadShapes(e, item, context.options.programFolder);
}

// Places a subtitle's title picture centred, 20 pixels above the bottom; the line's
// own margin replaces the 20 once the whole line is read.
void PlaceSubtitle(CKvEngineItem& item, const ReadContext& context, int nBottom)
{
    if (!item.title || item.nTitlePictureWidth <= 0 || item.nTitlePictureHeight <= 0)
        return;
    const CKvEngineProject& project = context.project;
    const long long nWidth = project.nFrameWidth;
    const long long nHeight = project.nFrameHeight;
    item.title->TitleX = SaturatedInt((nWidth - item.nTitlePictureWidth) / 2);
    item.title->TitleY = SaturatedInt(nHeight - item.nTitlePictureHeight - nBottom);
}

void ReadLineAttributes(const Element& e, CKvEngineLine& line, ReadContext& context)
{
    line.bUse3DGroupTemplate = e.Int(L"bUse3DGroupTemplate", 0);
    if (e.Has(L"b3DGroup")) {
        line.b3DGroup = e.Int(L"b3DGroup", 0);
        line.ax3DGroup = ReadDouble(e, L"ax3DGroup", 0.0);
        line.ay3DGroup = ReadDouble(e, L"ay3DGroup", 0.0);
        line.az3DGroup = ReadDouble(e, L"az3DGroup", 0.0);
        line.x3DGroup = ReadDouble(e, L"x3DGroup", 0.0);
        line.y3DGroup = ReadDouble(e, L"y3DGroup", 0.0);
        line.z3DGroup = ReadDouble(e, L"z3DGroup", 0.0);
        if (e.Has(L"enableLighting3DGroup"))
            ReadFields(e, static_cast<tagKvLineAttributes&>(line), kLineLightingFields);
        line.bAlwaysInFrontOfPrevLines = e.Int(L"bAlwaysInFrontOfPrevLines", 0);
    }
    line.subtitlebottommargin = SaturatedInt(e.Int(L"subtitlebottommargin", 10) * context.dScale);

    if (line.bUse3DGroupTemplate != 0 && line.b3DGroup != 0 && context.project.b3D != 0) {
        if (auto p = e.Child(L"_3DGroupModel")) {
            tagKv3DGroupModel model = ReadRecord(*p, k3DGroupModelFields);
            auto readCameras = [&](const wchar_t* name, std::vector<tagKv3DGroupModelCamera>& points) {
                if (auto pList = p->Child(name)) {
                    for (const auto& pPoint : pList->Children(L"item"))
                        points.push_back(ReadRecord(*pPoint, k3DGroupModelCameraFields));
                }
            };
            readCameras(L"appCamera", model.appCamera);
            readCameras(L"disappCamera", model.disappCamera);
            for (const auto& pSide : p->Children(L"side"))
                model.side.push_back(ReadRecord(*pSide, k3DGroupModelSideFields));
            if (auto pCamera0 = p->Child(L"camera0"))
                model.camera0 = ReadRecord(*pCamera0, k3DGroupModelCameraFields);
            readCameras(L"camera", model.camera);
            if (auto pRotation = p->Child(L"rotatetofirst"))
                model.rotatetofirst = ReadRecord(*pRotation, k3DGroupModelRotationFields);
            line._3DGroupModel = model;
        }
    }
}

void ReadLine(const Element& e, ReadContext& context)
{
    CKvEngineProject& project = context.project;
    if (e.Int(L"bDisable", 0) != 0) {
        AdvanceProgress(context);
        return;
    }

    int nFirstKind = -1;
    std::vector<CKvEngineItem*> subtitles;
    for (const auto& pItemElement : e.Children(L"item")) {
        auto pItem = std::make_unique<CKvEngineItem>();
        pItem->eMediaType = pItemElement->Int(L"eMediaType", 0);
        if (pItem->eMediaType == kMediaLyricProject)
            ReadShortItem(*pItemElement, *pItem, context);
        else
            ReadFullItem(*pItemElement, *pItem, context);
        // The mixer and the player divide by the speed.
        if (!std::isfinite(pItem->dPlaybackRate) || pItem->dPlaybackRate < 0.01)
            pItem->dPlaybackRate = 0.01;

        if (nFirstKind < 0)
            nFirstKind = pItem->eMediaTypeLine;
        CKvEngineLine* pLine = project.FindLine(pItem->eMediaTypeLine);
        if (pLine != nullptr) {
            FitAppearDisappear(*pItem, project.b3D != 0);
            if (pItem->eMediaTypeLine == kLineSubtitle && pItem->title && context.options.measureTitle) {
                int w = 0;
                int h = 0;
                if (context.options.measureTitle(*pItem, w, h)) {
                    pItem->nTitlePictureWidth = w;
                    pItem->nTitlePictureHeight = h;
                }
            }
            CKvEngineItem* pPlaced = pLine->AppendItem(std::move(pItem));
            if (pPlaced->eMediaTypeLine == kLineSubtitle) {
                PlaceSubtitle(*pPlaced, context, 20);
                subtitles.push_back(pPlaced);
            }
        }
        AdvanceProgress(context);
    }

    if (CKvEngineLine* pLine = project.FindLine(nFirstKind))
        ReadLineAttributes(e, *pLine, context);
    if (const CKvEngineLine* pSubtitleLine = project.FindLine(kLineSubtitle)) {
        for (CKvEngineItem* pItem : subtitles)
            PlaceSubtitle(*pItem, context, pSubtitleLine->subtitlebottommargin);
    }
    AdvanceProgress(context);
}

// Reads a loaded document. bFallback: the TinyXML path, which keeps the play factor
// at 1 and sizes only the first six overlay lines.
bool ReadDocument(const Element& root, CKvEngineProject& project, const tagKvProjectReadOptions& options,
                  bool bFallback)
{
    ReadContext context{project, options};
    project.RelativeDir = root.String(L"RelativeDir", L"");
    project.b3D = root.Int(L"b3D", 0);
    project.bEnableFog = root.Int(L"bEnableFog", project.bEnableFog);
    project.bEnableLighting = root.Int(L"bEnableLighting", project.bEnableLighting);
    project.clrFog = root.Int(L"clrFog", project.clrFog);
    project.clrLightAmbient = root.Int(L"clrLightAmbient", project.clrLightAmbient);
    project.clrLightDiffuse = root.Int(L"clrLightDiffuse", project.clrLightDiffuse);

    project.nLoadTotal = std::max(1, root.Int(L"count", 0));
    project.nLoadCount = 0;
    const int nPreset = root.Int(L"vensettingIndex", 0);
    if (nPreset < 0 || nPreset >= kKvPresetCount)
        return false;
    if (options.pPresetTable != nullptr) {
        project.option = options.pPresetTable[nPreset];
        if (options.onPresetSelected)
            options.onPresetSelected(project.option);
    }

    context.dScale = 1.0;
    if (options.bPlayMode && !bFallback && root.Has(L"dScaleFactorForPlay")) {
        const double dFactor = root.Double(L"dScaleFactorForPlay", 1.0);
        // A factor that would leave no picture, or make one larger than any screen, is
        // not passed on: the frame keeps the preset's size.
        const double dLargerSide = std::max(std::abs(static_cast<double>(project.option.nWidth)),
                                            std::abs(static_cast<double>(project.option.nHeight)));
        if (std::isfinite(dFactor) && dFactor > 0.0 && (dFactor <= 1.0 || dLargerSide * dFactor <= kMaxScaledFrameSide))
            context.dScale = dFactor;
    }
    project.dScaleFactorForPlay = context.dScale;
    project.nFrameWidth = SaturatedInt(project.option.nWidth * context.dScale);
    project.nFrameHeight = SaturatedInt(project.option.nHeight * context.dScale);
    if (options.bPlayMode) {
        project.nFrameWidth -= project.nFrameWidth % 4;
        project.nFrameHeight -= project.nFrameHeight % 4;
    }

    for (const auto& pLine : root.Children(nullptr))
        ReadLine(*pLine, context);

    ApplyTransitions(project);
    FitSnapshotRewinds(project);
    SizeOverlayLines(project, options.bPlayMode, bFallback ? 6 : 12);
    if (options.prepareAudio)
        options.prepareAudio(project);
    else
        PrepareAudioTimeline(project, options.programFolder);
    return true;
}

long long Millis(double seconds)
{
    return std::llround(seconds * 1000.0);
}

} // namespace

std::wstring RelocateSource(const std::wstring& source, const std::wstring& relativeDir)
{
    if (FileExists(source))
        return source;
    const auto slash = source.find_last_of(L"/\\");
    const std::wstring name = slash == std::wstring::npos ? source : source.substr(slash + 1);
    const std::wstring moved = relativeDir + name;
    return FileExists(moved) ? moved : source;
}

void FitAppearDisappear(CKvEngineItem& item, bool b3D)
{
    double* pAppear = nullptr;
    double* pDisappear = nullptr;
    int bFill = 0;
    if (b3D) {
        if (!item.action3D)
            return;
        pAppear = &item.action3D->d3DAppearingDuration;
        pDisappear = &item.action3D->d3DDisappearingDuration;
        bFill = item.action3D->b3DFillInWholeDuration;
    } else {
        if (!item.action)
            return;
        pAppear = &item.action->AppearDur;
        pDisappear = &item.action->DisappearDur;
        bFill = item.action->bFillInDuration;
    }
    const double dLength = item.dEditorEndTime - item.dEditorStartTime;
    if (!std::isfinite(dLength))
        return; // ends too far apart to share out; the durations stay as read
    const double dA = *pAppear;
    const double dD = *pDisappear;
    if (dA + dD <= dLength && bFill == 0)
        return;
    double dNewA = dA;
    if (dA > 0.0 && dD > 0.0)
        dNewA = dLength / (1.0 + dD / dA); // the appear share, without a sum that can overflow
    else if (dD > 0.0)
        dNewA = 0.0;
    else if (dA > 0.0)
        dNewA = dLength;
    *pAppear = dNewA;
    *pDisappear = dLength - dNewA;
}

void ApplyTransitions(CKvEngineProject& project)
{
    CKvEngineLine* pLine = project.FindLine(kLineMainVideo);
    if (pLine == nullptr)
        return;
    auto& items = pLine->items;
    const size_t nCount = items.size();
    std::vector<bool> marked(nCount, false);
    for (size_t i = 0; i < nCount; ++i) {
        CKvEngineItem& item = *items[i];
        if (i > 0) {
            const double dEffect = items[i - 1]->dEffectDuration;
            // Times near the ends of the double range stay where they are rather than
            // becoming infinite.
            if (std::isfinite(item.dEditorStartTime - dEffect))
                item.dEditorStartTime -= dEffect;
            const double dSourceStart = std::max(0.0, item.dVSelfStartTime - item.dPlaybackRate * dEffect);
            if (item.eMediaType == kMediaVideo && std::isfinite(dSourceStart))
                item.dVSelfStartTime = dSourceStart;
        }
        if (item.dEffectDuration > 0.0 && i + 1 < nCount && !marked[i])
            marked[i + 1] = true;
    }

    std::vector<std::unique_ptr<CKvEngineItem>> kept;
    std::vector<std::unique_ptr<CKvEngineItem>> moved;
    for (size_t i = 0; i < nCount; ++i)
        (marked[i] ? moved : kept).push_back(std::move(items[i]));
    items = std::move(kept);
    project.detached.insert(project.detached.begin(), std::make_move_iterator(moved.begin()),
                            std::make_move_iterator(moved.end()));
    LinkEngineItems(project.detached);
    pLine->Relink();
}

void FitSnapshotRewinds(CKvEngineProject& project)
{
    auto fit = [](CKvEngineItem& item) {
        double dReference = item.dVSelfStartTime;
        for (auto& snapshot : item.VideoSnapshots) {
            if (Millis(snapshot.dCaptureTime) < Millis(item.dVSelfStartTime))
                continue;
            if (Millis(snapshot.dCaptureTime) > Millis(item.dVSelfEndTime))
                break;
            if (snapshot.bRewind == 0)
                continue;
            snapshot.dRewindMediaDuration =
                std::min(snapshot.dRewindMediaDuration, snapshot.dCaptureTime - dReference);
            if (snapshot.dRewindMediaDuration < 0.001) {
                snapshot.bRewind = 0;
                snapshot.dRewindMediaDuration = 0.0;
            }
            dReference = snapshot.dCaptureTime;
        }
    };
    std::vector<int> kinds = {kLineMainVideo};
    kinds.insert(kinds.end(), std::begin(kOverlayLineKinds), std::end(kOverlayLineKinds));
    for (int nKind : kinds) {
        if (CKvEngineLine* pLine = project.FindLine(nKind)) {
            for (auto& pItem : pLine->items)
                fit(*pItem);
        }
    }
    for (auto& pItem : project.detached)
        fit(*pItem);
}

void SizeOverlayLines(CKvEngineProject& project, bool bPlayMode, int nLines)
{
    const KvSize quality = OverlayResolution(project.option.nOverlayQuality);
    for (int i = 0; i < nLines && i < 12; ++i) {
        CKvEngineLine* pLine = project.FindLine(kOverlayLineKinds[i]);
        if (pLine == nullptr)
            break;
        int nWidth = 0;
        int nHeight = 0;
        int nTemplateWidth = 20;
        int nTemplateHeight = 20;
        const bool bTemplate = pLine->bUse3DGroupTemplate != 0 && pLine->_3DGroupModel.has_value();
        if (bTemplate) {
            for (const auto& side : pLine->_3DGroupModel->side) {
                nTemplateWidth = std::max(nTemplateWidth, SaturatedInt(side.dw));
                nTemplateHeight = std::max(nTemplateHeight, SaturatedInt(side.dh));
            }
        }
        for (const auto& pItem : pLine->items) {
            if (bTemplate) {
                nWidth = std::max(nWidth, nTemplateWidth);
                nHeight = std::max(nHeight, nTemplateHeight);
            } else if (pItem->overlay) {
                nWidth = std::max(nWidth, pItem->overlay->OverlaynWidth);
                nHeight = std::max(nHeight, pItem->overlay->OverlaynHeight);
            }
        }
        if (bPlayMode) {
            nWidth = std::min(nWidth, 256);
            nHeight = std::min(nHeight, 256);
        }
        nWidth = std::min(nWidth, quality.nWidth);
        nHeight = std::min(nHeight, quality.nHeight);
        pLine->nOverlayMaxWidth = std::max(4, nWidth - nWidth % 4);
        pLine->nOverlayMaxHeight = std::max(4, nHeight - nHeight % 4);
    }
}

} // namespace velmora

bool ReadProject(const std::string& path, CKvEngineProject& project, const tagKvProjectReadOptions& options)
{
    using namespace velmora;
    std::error_code error;
    if (!std::filesystem::is_regular_file(std::filesystem::path(path), error))
        return false;

    CKvXmlNode document;
    if (document.Load(path)) {
        const CKvXmlNode* pRoot = document.FirstElement();
        if (pRoot == nullptr)
            return false;
        return ReadDocument(*MakeXmlNodeElement(*pRoot), project, options, false);
    }

    // Keep every character of paths and texts exactly as written. The loader reads an
    // 8-bit file that is not UTF-8 byte by byte, and refuses a file nested too deep for
    // TinyXML's recursion.
    TiXmlBase::SetCondenseWhiteSpace(false);
    TiXmlDocument fallback;
    if (!LoadTinyXmlFile(fallback, path))
        return false;
    const TiXmlElement* pRoot = fallback.FirstChildElement();
    if (pRoot == nullptr)
        return false;
    return ReadDocument(*MakeTinyXmlElement(*pRoot), project, options, true);
}
