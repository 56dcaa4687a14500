#pragma once

// The attribute lists of the project vocabulary, in the order the writer emits them,
// shared by the writer and both readers so the three can never disagree on a name,
// a type or an order. Each entry binds an attribute name to the record member of
// the same name.

#include "project/KvProjectData.h"

#include <initializer_list>
#include <string>
#include <utility>
#include <variant>

namespace velmora {

template <class T>
struct KvField
{
    const wchar_t* name;
    std::variant<int T::*, double T::*, float T::*, std::wstring T::*> member;
};

template <class T>
using KvFieldList = std::initializer_list<KvField<T>>;

inline const KvFieldList<tagKvColorBlock> kColorBlockFields = {{L"clr", &tagKvColorBlock::clr}};

inline const KvFieldList<tagKvVideoSnapshotData> kSnapshotFields = {
    {L"bRewind", &tagKvVideoSnapshotData::bRewind},
    {L"dBackDurationPercent", &tagKvVideoSnapshotData::dBackDurationPercent},
    {L"dRewindMediaDuration", &tagKvVideoSnapshotData::dRewindMediaDuration},
    {L"nRewindLoop", &tagKvVideoSnapshotData::nRewindLoop},
    {L"dCaptureTime", &tagKvVideoSnapshotData::dCaptureTime},
    {L"dDuration", &tagKvVideoSnapshotData::dDuration},
    {L"lpszName", &tagKvVideoSnapshotData::lpszName},
};

inline const KvFieldList<tagKvColorAdjustment> kColorAdjustmentFields = {
    {L"bEnableBlur", &tagKvColorAdjustment::bEnableBlur},
    {L"bEnableBrightnessAndContrast", &tagKvColorAdjustment::bEnableBrightnessAndContrast},
    {L"bEnableColorize", &tagKvColorAdjustment::bEnableColorize},
    {L"bEnableEdgeDetection", &tagKvColorAdjustment::bEnableEdgeDetection},
    {L"bEnableGrayScale", &tagKvColorAdjustment::bEnableGrayScale},
    {L"bEnableJitter", &tagKvColorAdjustment::bEnableJitter},
    {L"bEnableLevels", &tagKvColorAdjustment::bEnableLevels},
    {L"bEnableSaturate", &tagKvColorAdjustment::bEnableSaturate},
    {L"bEnableSharpen", &tagKvColorAdjustment::bEnableSharpen},
    {L"bEnableSoften", &tagKvColorAdjustment::bEnableSoften},
    {L"dColorizeBlend", &tagKvColorAdjustment::dColorizeBlend},
    {L"nBlueLevels", &tagKvColorAdjustment::nBlueLevels},
    {L"nBrightness", &tagKvColorAdjustment::nBrightness},
    {L"nColorizeHue", &tagKvColorAdjustment::nColorizeHue},
    {L"nColorizeSaturation", &tagKvColorAdjustment::nColorizeSaturation},
    {L"nContrast", &tagKvColorAdjustment::nContrast},
    {L"nGreenLevels", &tagKvColorAdjustment::nGreenLevels},
    {L"nJitter", &tagKvColorAdjustment::nJitter},
    {L"nRedLevels", &tagKvColorAdjustment::nRedLevels},
    {L"nSaturate", &tagKvColorAdjustment::nSaturate},
    {L"bEnableMasaic", &tagKvColorAdjustment::bEnableMasaic},
    {L"nMasaicTileSize", &tagKvColorAdjustment::nMasaicTileSize},
    {L"nMasaicX", &tagKvColorAdjustment::nMasaicX},
    {L"nMasaicY", &tagKvColorAdjustment::nMasaicY},
    {L"nMasaicW", &tagKvColorAdjustment::nMasaicW},
    {L"nMasaicH", &tagKvColorAdjustment::nMasaicH},
};

inline const KvFieldList<tagKv3DGroupSettings> k3DGroupSettingsFields = {
    {L"dDepth", &tagKv3DGroupSettings::dDepth},
    {L"ax", &tagKv3DGroupSettings::ax},
    {L"ay", &tagKv3DGroupSettings::ay},
    {L"az", &tagKv3DGroupSettings::az},
    {L"x", &tagKv3DGroupSettings::x},
    {L"y", &tagKv3DGroupSettings::y},
    {L"z", &tagKv3DGroupSettings::z},
    {L"nDelHY", &tagKv3DGroupSettings::nDelHY},
    {L"nDelWX", &tagKv3DGroupSettings::nDelWX},
    {L"nHeight", &tagKv3DGroupSettings::nHeight},
    {L"nMotionReferencePos", &tagKv3DGroupSettings::nMotionReferencePos},
    {L"nVisible", &tagKv3DGroupSettings::nVisible},
    {L"nWidth", &tagKv3DGroupSettings::nWidth},
    {L"bBottom", &tagKv3DGroupSettings::bBottom},
    {L"bEnable", &tagKv3DGroupSettings::bEnable},
    {L"bLeft", &tagKv3DGroupSettings::bLeft},
    {L"bRight", &tagKv3DGroupSettings::bRight},
    {L"bTop", &tagKv3DGroupSettings::bTop},
    {L"nMaxTransparency", &tagKv3DGroupSettings::nMaxTransparency},
    {L"nVisiblePart", &tagKv3DGroupSettings::nVisiblePart},
};

inline const KvFieldList<tagKv3DGroupCameraPoint> k3DGroupCameraFields = {
    {L"ax", &tagKv3DGroupCameraPoint::ax},
    {L"ay", &tagKv3DGroupCameraPoint::ay},
    {L"az", &tagKv3DGroupCameraPoint::az},
    {L"dDurationToNext", &tagKv3DGroupCameraPoint::dDurationToNext},
    {L"x", &tagKv3DGroupCameraPoint::x},
    {L"y", &tagKv3DGroupCameraPoint::y},
    {L"z", &tagKv3DGroupCameraPoint::z},
};

inline const KvFieldList<tagKv3DGroupMotionPoint> k3DGroupMotionFields = {
    {L"ax", &tagKv3DGroupMotionPoint::ax},
    {L"ay", &tagKv3DGroupMotionPoint::ay},
    {L"az", &tagKv3DGroupMotionPoint::az},
    {L"dDurationToNext", &tagKv3DGroupMotionPoint::dDurationToNext},
    {L"x", &tagKv3DGroupMotionPoint::x},
    {L"y", &tagKv3DGroupMotionPoint::y},
    {L"z", &tagKv3DGroupMotionPoint::z},
    {L"transparency", &tagKv3DGroupMotionPoint::transparency},
    {L"zoom", &tagKv3DGroupMotionPoint::zoom},
};

inline const KvFieldList<tagKvGraffitiLayer> kGraffitiLayerFields = {
    {L"bVisible", &tagKvGraffitiLayer::bVisible},
    {L"dDelayTime", &tagKvGraffitiLayer::dDelayTime},
    {L"dDrawTime", &tagKvGraffitiLayer::dDrawTime},
    {L"lpszName", &tagKvGraffitiLayer::lpszName},
};

inline const KvFieldList<tagKvGraffitiObj> kGraffitiObjFields = {
    {L"bEraser", &tagKvGraffitiObj::bEraser},
    {L"clrPen", &tagKvGraffitiObj::clrPen},
    {L"dTransparent", &tagKvGraffitiObj::dTransparent},
    {L"eType", &tagKvGraffitiObj::eType},
    {L"nAngle", &tagKvGraffitiObj::nAngle},
    {L"nEraserRadius", &tagKvGraffitiObj::nEraserRadius},
    {L"nPenWidth", &tagKvGraffitiObj::nPenWidth},
    {L"nShapeType", &tagKvGraffitiObj::nShapeType},
    {L"lpszImagePen", &tagKvGraffitiObj::lpszImagePen},
    {L"clrOutline", &tagKvGraffitiObj::clrOutline},
    {L"nOutlineWidth", &tagKvGraffitiObj::nOutlineWidth},
    {L"nOutlineType", &tagKvGraffitiObj::nOutlineType},
    {L"bSmooth", &tagKvGraffitiObj::bSmooth},
};

inline const KvFieldList<tagKvGraffitiPoint> kGraffitiPointFields = {
    {L"X", &tagKvGraffitiPoint::X},
    {L"Y", &tagKvGraffitiPoint::Y},
};

inline const KvFieldList<tagKvCameraData> kCameraFadeFields = {
    {L"FadebEnable", &tagKvCameraData::FadebEnable},
    {L"FadebFillDuration", &tagKvCameraData::FadebFillDuration},
    {L"FadeclrMaskFade", &tagKvCameraData::FadeclrMaskFade},
    {L"FadedFadeInDur", &tagKvCameraData::FadedFadeInDur},
    {L"FadedFadeOutDur", &tagKvCameraData::FadedFadeOutDur},
};

inline const KvFieldList<tagKv3DCameraInfo> kCameraPointFields = {
    {L"dx", &tagKv3DCameraInfo::dx},
    {L"dy", &tagKv3DCameraInfo::dy},
    {L"dz", &tagKv3DCameraInfo::dz},
    {L"dax", &tagKv3DCameraInfo::dax},
    {L"day", &tagKv3DCameraInfo::day},
    {L"daz", &tagKv3DCameraInfo::daz},
    {L"name", &tagKv3DCameraInfo::name},
};

// "dxAngle" .. "dzDelPos" of the full form (the short form writes the same list).
inline const KvFieldList<tagKvMediaData> kItem3DFields = {
    {L"dxAngle", &tagKvMediaData::dxAngle},
    {L"dxScale", &tagKvMediaData::dxScale},
    {L"dyAngle", &tagKvMediaData::dyAngle},
    {L"dyScale", &tagKvMediaData::dyScale},
    {L"dzAngle", &tagKvMediaData::dzAngle},
    {L"dzScale", &tagKvMediaData::dzScale},
    {L"n3Depth", &tagKvMediaData::n3Depth},
    {L"dzDelPos", &tagKvMediaData::dzDelPos},
};

inline const KvFieldList<tagKv3DActionData> k3DActionFields = {
    {L"b3DCustomizeAction", &tagKv3DActionData::b3DCustomizeAction},
    {L"b3DFillInWholeDuration", &tagKv3DActionData::b3DFillInWholeDuration},
    {L"d3DAppearingDuration", &tagKv3DActionData::d3DAppearingDuration},
    {L"d3DDisappearingDuration", &tagKv3DActionData::d3DDisappearingDuration},
    {L"n3DAppearActionType", &tagKv3DActionData::n3DAppearActionType},
    {L"n3DDisappearActionType", &tagKv3DActionData::n3DDisappearActionType},
};

// The attributes every full-form item carries after the optional 3D and sound groups.
inline const KvFieldList<tagKvMediaData> kItemCoreFields = {
    {L"bDisableAudio", &tagKvMediaData::bDisableAudio},
    {L"bHadAudio", &tagKvMediaData::bHadAudio},
    {L"dASelfDuration", &tagKvMediaData::dASelfDuration},
    {L"dASelfEndTime", &tagKvMediaData::dASelfEndTime},
    {L"dASelfStartTime", &tagKvMediaData::dASelfStartTime},
    {L"dEditorEndTime", &tagKvMediaData::dEditorEndTime},
    {L"dEditorStartTime", &tagKvMediaData::dEditorStartTime},
    {L"dVSelfDuration", &tagKvMediaData::dVSelfDuration},
    {L"dVSelfEndTime", &tagKvMediaData::dVSelfEndTime},
    {L"dVSelfStartTime", &tagKvMediaData::dVSelfStartTime},
    {L"dEffectDuration", &tagKvMediaData::dEffectDuration},
    {L"dPlaybackRate", &tagKvMediaData::dPlaybackRate},
    {L"dVoiceScale", &tagKvMediaData::dVoiceScale},
    {L"eImageFillMode", &tagKvMediaData::eImageFillMode},
    {L"eMediaType", &tagKvMediaData::eMediaType},
    {L"eMediaTypeLine", &tagKvMediaData::eMediaTypeLine},
    {L"nFileNameWidth", &tagKvMediaData::nFileNameWidth},
    {L"nIndex", &tagKvMediaData::nIndex},
    {L"nIndexVEffect", &tagKvMediaData::nIndexVEffect},
    {L"nIndexVTranEffect", &tagKvMediaData::nIndexVTranEffect},
    {L"nVideoWidth", &tagKvMediaData::nVideoWidth},
    {L"nVideoHeight", &tagKvMediaData::nVideoHeight},
    {L"dwselptrinmainapp", &tagKvMediaData::dwselptrinmainapp},
    {L"nCountCaptureImageForEffect_End", &tagKvMediaData::nCountCaptureImageForEffect_End},
    {L"nIndexVTranEffect3D", &tagKvMediaData::nIndexVTranEffect3D},
};

inline const KvFieldList<tagKvMaskData> kMaskFields = {
    {L"MaskdSizeScale", &tagKvMaskData::MaskdSizeScale},
    {L"MaskbFillMovementTimeDur", &tagKvMaskData::MaskbFillMovementTimeDur},
    {L"MaskbFillWithColor", &tagKvMaskData::MaskbFillWithColor},
    {L"MaskbStretchToFill", &tagKvMaskData::MaskbStretchToFill},
    {L"MaskclrFill", &tagKvMaskData::MaskclrFill},
    {L"MaskdMovementTimeDur", &tagKvMaskData::MaskdMovementTimeDur},
    {L"MasknImageMaskIndex", &tagKvMaskData::MasknImageMaskIndex},
    {L"MasknMovementLoop", &tagKvMaskData::MasknMovementLoop},
    {L"MasknType", &tagKvMaskData::MasknType},
    {L"MaskszImageFill", &tagKvMaskData::MaskszImageFill},
};

inline const KvFieldList<tagKvRotationData> kRotationFields = {
    {L"enablerotation", &tagKvRotationData::enablerotation},
    {L"rotationflip", &tagKvRotationData::rotationflip},
    {L"rotationreverse", &tagKvRotationData::rotationreverse},
    {L"rotationangle", &tagKvRotationData::rotationangle},
};

inline const KvFieldList<tagKvColorKeyData> kColorKeyFields = {
    {L"VideoKeyEnable", &tagKvColorKeyData::VideoKeyEnable},
    {L"VideoKeyErrorDel", &tagKvColorKeyData::VideoKeyErrorDel},
    {L"VideoKeyColor", &tagKvColorKeyData::VideoKeyColor},
};

inline const KvFieldList<tagKvBorderData> kBorderFields = {
    {L"BorderEnable", &tagKvBorderData::BorderEnable},
    {L"BorderColor", &tagKvBorderData::BorderColor},
    {L"BorderType", &tagKvBorderData::BorderType},
    {L"BorderSize", &tagKvBorderData::BorderSize},
};

// The texts of an item's "track" element, each a child element of its own (a tag may
// hold a double quote, which an attribute cannot); its "start" and "end" are
// attributes written to the last digit.
inline const std::pair<const wchar_t*, std::wstring tagKvItemTrack::*> kItemTrackTexts[] = {
    {L"title", &tagKvItemTrack::title},
    {L"artist", &tagKvItemTrack::artist},
    {L"album", &tagKvItemTrack::album},
    {L"albumartist", &tagKvItemTrack::albumartist},
    {L"date", &tagKvItemTrack::date},
    {L"track", &tagKvItemTrack::track},
    {L"genre", &tagKvItemTrack::genre},
};

inline const KvFieldList<tagKvCropData> kCropFields = {
    {L"enablecrop", &tagKvCropData::enablecrop},
    {L"xcrop", &tagKvCropData::xcrop},
    {L"ycrop", &tagKvCropData::ycrop},
    {L"wcrop", &tagKvCropData::wcrop},
    {L"hcrop", &tagKvCropData::hcrop},
};

inline const KvFieldList<tagKvOverlayData> kOverlayFields = {
    {L"OverlaydTransparent", &tagKvOverlayData::OverlaydTransparent},
    {L"OverlaynHeight", &tagKvOverlayData::OverlaynHeight},
    {L"OverlaynWidth", &tagKvOverlayData::OverlaynWidth},
    {L"OverlayX", &tagKvOverlayData::OverlayX},
    {L"OverlayY", &tagKvOverlayData::OverlayY},
};

inline const KvFieldList<tagKvTitleData> kTitleFields = {
    {L"nAlign", &tagKvTitleData::nAlign},
    {L"TitleclrText", &tagKvTitleData::TitleclrText},
    {L"TitledTranparent", &tagKvTitleData::TitledTranparent},
    {L"TitlelfCharSet", &tagKvTitleData::TitlelfCharSet},
    {L"TitlelfClipPrecision", &tagKvTitleData::TitlelfClipPrecision},
    {L"TitlelfEscapement", &tagKvTitleData::TitlelfEscapement},
    {L"TitlelfHeight", &tagKvTitleData::TitlelfHeight},
    {L"TitlelfItalic", &tagKvTitleData::TitlelfItalic},
    {L"TitlelfOrientation", &tagKvTitleData::TitlelfOrientation},
    {L"TitlelfOutPrecision", &tagKvTitleData::TitlelfOutPrecision},
    {L"TitlelfPitchAndFamily", &tagKvTitleData::TitlelfPitchAndFamily},
    {L"TitlelfQuality", &tagKvTitleData::TitlelfQuality},
    {L"TitlelfStrikeOut", &tagKvTitleData::TitlelfStrikeOut},
    {L"TitlelfUnderline", &tagKvTitleData::TitlelfUnderline},
    {L"TitlelfWeight", &tagKvTitleData::TitlelfWeight},
    {L"TitlelfWidth", &tagKvTitleData::TitlelfWidth},
    {L"TitleX", &tagKvTitleData::TitleX},
    {L"TitlexposScale", &tagKvTitleData::TitlexposScale},
    {L"TitleY", &tagKvTitleData::TitleY},
    {L"TitleyposScale", &tagKvTitleData::TitleyposScale},
    {L"bBold", &tagKvTitleData::bBold},
    {L"bVertical", &tagKvTitleData::bVertical},
    {L"clrFont", &tagKvTitleData::clrFont},
    {L"clrOutline", &tagKvTitleData::clrOutline},
    {L"clrShade", &tagKvTitleData::clrShade},
    {L"clrShining", &tagKvTitleData::clrShining},
    {L"efe", &tagKvTitleData::efe},
    {L"nOutlineFactor", &tagKvTitleData::nOutlineFactor},
    {L"nShadeFactor", &tagKvTitleData::nShadeFactor},
    {L"nShineFactor", &tagKvTitleData::nShineFactor},
    {L"nRotateAngle", &tagKvTitleData::nRotateAngle},
};

inline const KvFieldList<tagKvActionData> kActionFields = {
    {L"actionToMediaIndex", &tagKvActionData::actionToMediaIndex},
    {L"ActiondTransparentEnd", &tagKvActionData::ActiondTransparentEnd},
    {L"ActiondTransparentStart", &tagKvActionData::ActiondTransparentStart},
    {L"ActionrcEnd_left", &tagKvActionData::ActionrcEnd_left},
    {L"ActionrcEnd_top", &tagKvActionData::ActionrcEnd_top},
    {L"ActionrcEnd_right", &tagKvActionData::ActionrcEnd_right},
    {L"ActionrcEnd_bottom", &tagKvActionData::ActionrcEnd_bottom},
    {L"ActionrcStart_left", &tagKvActionData::ActionrcStart_left},
    {L"ActionrcStart_top", &tagKvActionData::ActionrcStart_top},
    {L"ActionrcStart_right", &tagKvActionData::ActionrcStart_right},
    {L"ActionrcStart_bottom", &tagKvActionData::ActionrcStart_bottom},
    {L"ActionulfHeightEnd", &tagKvActionData::ActionulfHeightEnd},
    {L"ActionulfHeightStart", &tagKvActionData::ActionulfHeightStart},
    {L"nAppearType", &tagKvActionData::nAppearType},
    {L"nDisappearType", &tagKvActionData::nDisappearType},
    {L"AppearDur", &tagKvActionData::AppearDur},
    {L"DisappearDur", &tagKvActionData::DisappearDur},
    {L"bFillInDuration", &tagKvActionData::bFillInDuration},
    {L"bCustomizeAction", &tagKvActionData::bCustomizeAction},
    {L"nLoopCustomCount", &tagKvActionData::nLoopCustomCount},
};

inline const KvFieldList<tagKvActionData> kActionBlockFields = {
    {L"bDoneInBlock", &tagKvActionData::bDoneInBlock},
    {L"bKeepOriginalSurroundingOfBlock", &tagKvActionData::bKeepOriginalSurroundingOfBlock},
    {L"nClarityStart", &tagKvActionData::nClarityStart},
    {L"nClarityEnd", &tagKvActionData::nClarityEnd},
};

inline const KvFieldList<tagKvCustomMotionData> kKeyPointFields = {
    {L"dDurationPercent", &tagKvCustomMotionData::dDurationPercent},
    {L"X", &tagKvCustomMotionData::X},
    {L"Y", &tagKvCustomMotionData::Y},
    {L"CX", &tagKvCustomMotionData::CX},
    {L"CY", &tagKvCustomMotionData::CY},
    {L"nSizePercent", &tagKvCustomMotionData::nSizePercent},
    {L"nTransPercent", &tagKvCustomMotionData::nTransPercent},
    {L"nAngle", &tagKvCustomMotionData::nAngle},
};

inline const KvFieldList<tagKvShapeInfo> kShapeFields = {
    {L"dDuration", &tagKvShapeInfo::dDuration},
    {L"dStartTransitionEffectDuration", &tagKvShapeInfo::dStartTransitionEffectDuration},
    {L"dEndTransitionEffectDuration", &tagKvShapeInfo::dEndTransitionEffectDuration},
    {L"nTransitionEffectIndex", &tagKvShapeInfo::nTransitionEffectIndex},
    {L"bPacket", &tagKvShapeInfo::bPacket},
    {L"nMaskCountOfPacket", &tagKvShapeInfo::nMaskCountOfPacket},
    {L"nEdgeCountOfPacket", &tagKvShapeInfo::nEdgeCountOfPacket},
    {L"dEachDurationOfPacket", &tagKvShapeInfo::dEachDurationOfPacket},
};

// ---- Line ----------------------------------------------------------------------

// "b3DGroup" .. "bAlwaysInFrontOfPrevLines" follow "bUse3DGroupTemplate" and "bDisable".
inline const KvFieldList<tagKvLineAttributes> kLineGroupFields = {
    {L"b3DGroup", &tagKvLineAttributes::b3DGroup},
    {L"ax3DGroup", &tagKvLineAttributes::ax3DGroup},
    {L"ay3DGroup", &tagKvLineAttributes::ay3DGroup},
    {L"az3DGroup", &tagKvLineAttributes::az3DGroup},
    {L"x3DGroup", &tagKvLineAttributes::x3DGroup},
    {L"y3DGroup", &tagKvLineAttributes::y3DGroup},
    {L"z3DGroup", &tagKvLineAttributes::z3DGroup},
};

inline const KvFieldList<tagKvLineAttributes> kLineLightingFields = {
    {L"enableLighting3DGroup", &tagKvLineAttributes::enableLighting3DGroup},
    {L"clrLightAmbient3DGroup", &tagKvLineAttributes::clrLightAmbient3DGroup},
    {L"clrLightDiffuse3DGroup", &tagKvLineAttributes::clrLightDiffuse3DGroup},
};

inline const KvFieldList<tagKvChorusData> kChorusFields = {
    {L"enableaudiochorus", &tagKvChorusData::enableaudiochorus},
    {L"audiochorusdelay", &tagKvChorusData::audiochorusdelay},
    {L"audiochorusdrymix", &tagKvChorusData::audiochorusdrymix},
    {L"audiochorusfeedback", &tagKvChorusData::audiochorusfeedback},
    {L"audiochorusstereo", &tagKvChorusData::audiochorusstereo},
    {L"audiochoruswetmix", &tagKvChorusData::audiochoruswetmix},
};

inline const KvFieldList<tagKv3DGroupModel> k3DGroupModelFields = {
    {L"nTransitionMode", &tagKv3DGroupModel::nTransitionMode},
    {L"dScaleX", &tagKv3DGroupModel::dScaleX},
    {L"dScaleY", &tagKv3DGroupModel::dScaleY},
    {L"dScaleZ", &tagKv3DGroupModel::dScaleZ},
    {L"nCurFrameHeight", &tagKv3DGroupModel::nCurFrameHeight},
    {L"nCurFrameWidth", &tagKv3DGroupModel::nCurFrameWidth},
    {L"cax", &tagKv3DGroupModel::cax},
    {L"cay", &tagKv3DGroupModel::cay},
    {L"caz", &tagKv3DGroupModel::caz},
    {L"cx", &tagKv3DGroupModel::cx},
    {L"cy", &tagKv3DGroupModel::cy},
    {L"cz", &tagKv3DGroupModel::cz},
};

inline const KvFieldList<tagKv3DGroupModelCamera> k3DGroupModelCameraFields = {
    {L"ax", &tagKv3DGroupModelCamera::ax},
    {L"ay", &tagKv3DGroupModelCamera::ay},
    {L"az", &tagKv3DGroupModelCamera::az},
    {L"x", &tagKv3DGroupModelCamera::x},
    {L"y", &tagKv3DGroupModelCamera::y},
    {L"z", &tagKv3DGroupModelCamera::z},
    {L"dDurationToNext", &tagKv3DGroupModelCamera::dDurationToNext},
};

inline const KvFieldList<tagKv3DGroupModelSide> k3DGroupModelSideFields = {
    {L"bLoop", &tagKv3DGroupModelSide::bLoop},
    {L"bReflection", &tagKv3DGroupModelSide::bReflection},
    {L"bBackFaceInvisible", &tagKv3DGroupModelSide::bBackFaceInvisible},
    {L"dax", &tagKv3DGroupModelSide::dax},
    {L"day", &tagKv3DGroupModelSide::day},
    {L"daz", &tagKv3DGroupModelSide::daz},
    {L"dh", &tagKv3DGroupModelSide::dh},
    {L"dw", &tagKv3DGroupModelSide::dw},
    {L"dx", &tagKv3DGroupModelSide::dx},
    {L"dy", &tagKv3DGroupModelSide::dy},
    {L"dz", &tagKv3DGroupModelSide::dz},
};

inline const KvFieldList<tagKv3DGroupModelRotation> k3DGroupModelRotationFields = {
    {L"ax", &tagKv3DGroupModelRotation::ax},
    {L"ay", &tagKv3DGroupModelRotation::ay},
    {L"az", &tagKv3DGroupModelRotation::az},
};

} // namespace velmora
