#pragma once

// The project vocabulary in memory: the front end's project (`tagKvProjectData`),
// its lines (`tagKvLineData`) and media items (`tagKvMediaData`), with the optional
// sub-records an item or a line may carry.
//
// Every field is named after its key in the project file, so the writer and the
// reader read like the file itself. Times are seconds; picture sizes and crop
// rectangles are pixels of the source picture; colours are COLORREF (0x00BBGGRR).
//
// The engine's model (project/KvEngineProject.h) reuses the item and line records
// and adds its run-time fields, so both programs keep one spelling of the vocabulary.
//
// Optional sub-records are std::optional (absent = the item has none); lists are
// value vectors. All records compare by value, which the round-trip tests rely on.

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// ---- Line kinds and media types -------------------------------------------------

namespace velmora {

constexpr int kLineMainVideo = 0;
constexpr int kLineAudio = 1;       // the line the audio mixer mixes; every job item lives here
constexpr int kLineSubtitle = 7;
constexpr int kLineCamera = 32;
constexpr int kLineHandwriting = 33;
constexpr int kLineNone = 48;       // an item not yet placed
constexpr int kLineKindCount = 48;  // kinds 0..47 have line objects in the engine (8 excepted)

constexpr int kMediaVideo = 0;
constexpr int kMediaAudio = 1;
constexpr int kMediaLyricProject = 6;

// Overlay lines 0 to 11 and 3D overlay lines 0 to 11, in their order.
constexpr int kOverlayLineKinds[12] = {3, 16, 17, 18, 19, 20, 34, 35, 36, 37, 38, 39};
constexpr int k3DOverlayLineKinds[12] = {10, 21, 22, 23, 24, 25, 40, 41, 42, 43, 44, 45};

bool IsOverlayLine(int nKind);   // 3, 16..20, 34..39
bool IsTextLine(int nKind);      // 4, 5, 6, 7, 26, 27, 28
bool IsActionLine(int nKind);    // 9..14, 21..25, 29..31, 40..45
bool IsBlockActionLine(int nKind); // 9, 10, 21..25, 40..45: the action block carries the block values
bool Has3DItemValues(int nKind); // kinds whose items carry the "dxAngle" .. "dzDelPos" group
bool HasSourceChild(int nKind);  // kinds whose items are written with a "source" child
bool Has3DGroupSettings(int nKind); // kinds whose items may carry "_3DGroupSettings"

} // namespace velmora

// ---- Item sub-records -------------------------------------------------------------

struct tagKvColorBlock
{
    int clr = 0;
    bool operator==(const tagKvColorBlock&) const = default;
};

// Level-meter settings belong to the renderer; their attributes ("1" to "28" and
// others) are kept as name/value pairs in file order and written back unchanged.
struct tagKvVuMeterData
{
    std::vector<std::pair<std::wstring, std::wstring>> attributes;
    bool operator==(const tagKvVuMeterData&) const = default;
};

struct tagKvVideoSnapshotData
{
    int bRewind = 0;
    double dBackDurationPercent = 0.0;
    double dRewindMediaDuration = 0.0;
    int nRewindLoop = 0;
    double dCaptureTime = 0.0;  // source time that is frozen
    double dDuration = 0.0;     // length of the freeze on the time line
    std::wstring lpszName;
    bool operator==(const tagKvVideoSnapshotData&) const = default;
};

struct tagKvColorAdjustment
{
    int bEnableBlur = 0;
    int bEnableBrightnessAndContrast = 0;
    int bEnableColorize = 0;
    int bEnableEdgeDetection = 0;
    int bEnableGrayScale = 0;
    int bEnableJitter = 0;
    int bEnableLevels = 0;
    int bEnableSaturate = 0;
    int bEnableSharpen = 0;
    int bEnableSoften = 0;
    double dColorizeBlend = 0.0;
    int nBlueLevels = 0;
    int nBrightness = 0;
    int nColorizeHue = 0;
    int nColorizeSaturation = 0;
    int nContrast = 0;
    int nGreenLevels = 0;
    int nJitter = 0;
    int nRedLevels = 0;
    int nSaturate = 0;
    int bEnableMasaic = 0;
    int nMasaicTileSize = 0;
    int nMasaicX = 0;
    int nMasaicY = 0;
    int nMasaicW = 0;
    int nMasaicH = 0;
    bool operator==(const tagKvColorAdjustment&) const = default;
};

struct tagKv3DGroupCameraPoint // a "Camera" child of "_3DGroupSettings"
{
    double ax = 0.0;
    double ay = 0.0;
    double az = 0.0;
    double dDurationToNext = 0.0;
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;
    bool operator==(const tagKv3DGroupCameraPoint&) const = default;
};

struct tagKv3DGroupMotionPoint // a "Motion" child of "_3DGroupSettings"
{
    double ax = 0.0;
    double ay = 0.0;
    double az = 0.0;
    double dDurationToNext = 0.0;
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;
    double transparency = 0.0;
    double zoom = 0.0;
    bool operator==(const tagKv3DGroupMotionPoint&) const = default;
};

struct tagKv3DGroupSettings
{
    double dDepth = 0.0;
    int ax = 0;
    int ay = 0;
    int az = 0;
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;
    int nDelHY = 0;
    int nDelWX = 0;
    int nHeight = 0;
    int nMotionReferencePos = 0;
    int nVisible = 0;
    int nWidth = 0;
    int bBottom = 0;
    int bEnable = 0;
    int bLeft = 0;
    int bRight = 0;
    int bTop = 0;
    int nMaxTransparency = 0;
    int nVisiblePart = 0;
    std::vector<tagKv3DGroupCameraPoint> Camera;
    std::vector<tagKv3DGroupMotionPoint> Motion;
    bool operator==(const tagKv3DGroupSettings&) const = default;
};

struct tagKvGraffitiPoint
{
    float X = 0.0f;
    float Y = 0.0f;
    bool operator==(const tagKvGraffitiPoint&) const = default;
};

struct tagKvGraffitiObj // one stroke of a handwriting layer
{
    int bEraser = 0;
    int clrPen = 0;
    double dTransparent = 0.0;
    int eType = 0;
    int nAngle = 0;
    double nEraserRadius = 0.0;
    double nPenWidth = 0.0;
    int nShapeType = 0;
    std::wstring lpszImagePen;
    int clrOutline = 0;
    double nOutlineWidth = 0.0;
    int nOutlineType = 0;
    int bSmooth = 0;
    std::vector<tagKvGraffitiPoint> point;
    bool operator==(const tagKvGraffitiObj&) const = default;
};

struct tagKvGraffitiLayer
{
    int bVisible = 0;
    double dDelayTime = 0.0;
    double dDrawTime = 0.0;
    std::wstring lpszName;
    std::vector<tagKvGraffitiObj> obj;
    bool operator==(const tagKvGraffitiLayer&) const = default;
};

struct tagKv3DCameraInfo // one camera point of a camera-line item
{
    double dx = 0.0;
    double dy = 0.0;
    double dz = 0.0;
    double dax = 0.0;
    double day = 0.0;
    double daz = 0.0;
    std::wstring name; // the item's source name; written for the renderer's editor, not read
    bool operator==(const tagKv3DCameraInfo&) const = default;
};

struct tagKvCameraData // the "camera" child: a fade record and the camera points
{
    int FadebEnable = 0;
    int FadebFillDuration = 0;
    int FadeclrMaskFade = 0;
    double FadedFadeInDur = 0.5;
    double FadedFadeOutDur = 0.5;
    std::vector<tagKv3DCameraInfo> points;
    bool operator==(const tagKvCameraData&) const = default;
};

struct tagKv3DActionData
{
    int b3DCustomizeAction = 0;
    int b3DFillInWholeDuration = 0;
    double d3DAppearingDuration = 0.0;
    double d3DDisappearingDuration = 0.0;
    int n3DAppearActionType = 0;
    int n3DDisappearActionType = 0;
    bool operator==(const tagKv3DActionData&) const = default;
};

struct tagKvMaskData
{
    double MaskdSizeScale = 0.0;
    int MaskbFillMovementTimeDur = 0;
    int MaskbFillWithColor = 0;
    int MaskbStretchToFill = 0;
    int MaskclrFill = 0;
    double MaskdMovementTimeDur = 0.0;
    int MasknImageMaskIndex = 0;
    int MasknMovementLoop = 0;
    int MasknType = 0;
    std::wstring MaskszImageFill; // written only when not empty
    bool operator==(const tagKvMaskData&) const = default;
};

struct tagKvRotationData
{
    int enablerotation = 0;
    int rotationflip = 0;
    int rotationreverse = 0;
    int rotationangle = 0;
    bool operator==(const tagKvRotationData&) const = default;
};

struct tagKvColorKeyData
{
    int VideoKeyEnable = 0;
    int VideoKeyErrorDel = 0;
    int VideoKeyColor = 0; // the three key bytes as a COLORREF
    bool operator==(const tagKvColorKeyData&) const = default;
};

struct tagKvBorderData
{
    int BorderEnable = 0;
    int BorderColor = 0;
    int BorderType = 0;
    int BorderSize = 0;
    bool operator==(const tagKvBorderData&) const = default;
};

struct tagKvCropData
{
    int enablecrop = 0;
    int xcrop = 0;
    int ycrop = 0;
    int wcrop = 0;
    int hcrop = 0;
    bool operator==(const tagKvCropData&) const = default;
};

struct tagKvOverlayData
{
    double OverlaydTransparent = 0.0;
    int OverlaynHeight = 0;
    int OverlaynWidth = 0;
    int OverlayX = 0;
    int OverlayY = 0;
    bool operator==(const tagKvOverlayData&) const = default;
};

// Title settings of a text-line item; the three texts are written as the
// "fontname", "text" and "fontcolorimage" children.
struct tagKvTitleData
{
    int nAlign = 0;
    int TitleclrText = 0;
    double TitledTranparent = 0.0;
    int TitlelfCharSet = 0;
    int TitlelfClipPrecision = 0;
    int TitlelfEscapement = 0;
    int TitlelfHeight = 0;
    int TitlelfItalic = 0;
    int TitlelfOrientation = 0;
    int TitlelfOutPrecision = 0;
    int TitlelfPitchAndFamily = 0;
    int TitlelfQuality = 0;
    int TitlelfStrikeOut = 0;
    int TitlelfUnderline = 0;
    int TitlelfWeight = 0;
    int TitlelfWidth = 0;
    int TitleX = 0;
    double TitlexposScale = 0.0;
    int TitleY = 0;
    double TitleyposScale = 0.0;
    int bBold = 0;
    int bVertical = 0;
    int clrFont = 0;
    int clrOutline = 0;
    int clrShade = 0;
    int clrShining = 0;
    int efe = 0;
    int nOutlineFactor = 2;
    int nShadeFactor = 4;
    int nShineFactor = 3;
    int nRotateAngle = 0;
    std::wstring fontname;
    std::wstring text;
    std::wstring fontcolorimage;
    bool operator==(const tagKvTitleData&) const = default;
};

struct tagKvCustomMotionData // one "keypoint" of a custom motion
{
    double dDurationPercent = 0.0;
    int X = 0;
    int Y = 0;
    int CX = 0;
    int CY = 0;
    int nSizePercent = 0;
    int nTransPercent = 0;
    int nAngle = 0;
    bool operator==(const tagKvCustomMotionData&) const = default;
};

struct tagKvActionData
{
    int actionToMediaIndex = 0; // "nIndex" of the item the action refers to
    double ActiondTransparentEnd = 0.0;
    double ActiondTransparentStart = 0.0;
    int ActionrcEnd_left = 0;
    int ActionrcEnd_top = 0;
    int ActionrcEnd_right = 0;
    int ActionrcEnd_bottom = 0;
    int ActionrcStart_left = 0;
    int ActionrcStart_top = 0;
    int ActionrcStart_right = 0;
    int ActionrcStart_bottom = 0;
    int ActionulfHeightEnd = 0;
    int ActionulfHeightStart = 0;
    int nAppearType = 0;
    int nDisappearType = 0;
    double AppearDur = 0.0;
    double DisappearDur = 0.0;
    int bFillInDuration = 0;
    int bCustomizeAction = 0;
    int nLoopCustomCount = 0;
    // Only for the block action lines (9, 10, 21..25, 40..45).
    int bDoneInBlock = 0;
    int bKeepOriginalSurroundingOfBlock = 0;
    int nClarityStart = 0;
    int nClarityEnd = 0;
    // Named parts motion: written as "partscustommotion" with a copy of the motion
    // file "skin/motion/mop/<name>.mop"; empty when the action has none.
    std::wstring partscustommotion;
    // Custom key points: written as "custommotion" when there are points.
    std::wstring custommotionname;
    std::vector<tagKvCustomMotionData> keypoint;
    bool operator==(const tagKvActionData&) const = default;
};

struct tagKvShapeInfo
{
    double dDuration = 0.0;
    double dStartTransitionEffectDuration = 0.0;
    double dEndTransitionEffectDuration = 0.0;
    int nTransitionEffectIndex = 0;
    int bPacket = 0;
    int nMaskCountOfPacket = 0;
    int nEdgeCountOfPacket = 0;
    double dEachDurationOfPacket = 0.0;
    // Relative to "skin/shape/mask/", "skin/shape/edge/", "skin/shape/thumb/" in the
    // front end and in the file; the engine holds full paths (program folder and
    // prefix put back in front). Edge and thumbnail are optional (empty = none).
    std::wstring shapemask;
    std::wstring shapeedge;
    std::wstring shapethumb;
    bool operator==(const tagKvShapeInfo&) const = default;
};

// ---- Media item -----------------------------------------------------------------------

// A job item that is one track of its source (a chapter, or a track of a CUE sheet):
// its exact bounds, and the tags its output takes in place of the source's (an empty
// field keeps the source's own). The "track" child of the item.
struct tagKvItemTrack
{
    // Seconds into the source, written to the last digit (the item's own times keep
    // six), so that tracks meet at the same sample; < 0: the item's own times.
    double start = -1.0;
    double end = -1.0;
    std::wstring title;
    std::wstring artist;
    std::wstring album;
    std::wstring albumartist;
    std::wstring date;
    std::wstring track; // "3/12"
    std::wstring genre;

    bool operator==(const tagKvItemTrack&) const = default;
};

// How a job item's output is made even in loudness: the "loudness" child of the item.
struct tagKvItemLoudness
{
    int mode = 0;          // 1: normalised to target; 2: ReplayGain tags, the sound as it is
    double target = -16.0; // LUFS integrated, mode 1
    // The album's integrated loudness (LUFS) and true peak (linear), measured over every
    // row of the album beforehand: one gain for them all (mode 1), or the album's tags
    // (mode 2). No album when not given.
    std::optional<double> albumIntegrated;
    double albumPeak = 0.0;

    bool operator==(const tagKvItemLoudness&) const = default;
};

struct tagKvMediaData
{
    int bUseStartKeyFrameFor3DGroup = 1;
    double dStartTimeOfKeyFrameFor3DGroup = 0.0;
    int bVocalCut = 0;
    double dAudioDelay = 0.0;
    int bEnableCamera = 1;
    double dxAngle = 0.0;
    double dyAngle = 0.0;
    double dzAngle = 0.0;
    double dxScale = 1.0;
    double dyScale = 1.0;
    double dzScale = 1.0;
    double n3Depth = 0.0;
    double dzDelPos = 0.0;
    int bSubtitleFile = 0;
    int nSubtitleChapterIndex = 0;
    int bEnableAudioEffect = 0;
    double dAudioFadeInDuration = 0.0;
    double dAudioFadeOutDuration = 0.0;
    int bLoopVideoShapes = 0;
    int bDisableAudio = 0;
    int bHadAudio = 0;
    double dASelfStartTime = 0.0;
    double dASelfEndTime = 0.0;
    double dASelfDuration = 0.0;
    double dVSelfStartTime = 0.0;
    double dVSelfEndTime = 0.0;
    double dVSelfDuration = 0.0;
    double dEditorStartTime = 0.0;  // "dEditStartTime" in the short form
    double dEditorEndTime = 0.0;    // "dEditEndTime" in the short form
    double dEffectDuration = 0.0;   // transition into the next item
    double dPlaybackRate = 0.0;     // a job sets at least 0.01
    double dVoiceScale = 0.0;       // a job sets the row's volume
    int eImageFillMode = 0;
    int eMediaType = 0;
    int eMediaTypeLine = velmora::kLineNone;
    int nFileNameWidth = 0;
    int nIndex = 0;                 // target of "actionToMediaIndex"
    int nIndexVEffect = 0;
    int nIndexVTranEffect = 0;
    int nIndexVTranEffect3D = 0;
    int nVideoWidth = 0;
    int nVideoHeight = 0;
    int nCountCaptureImageForEffect_End = 0;
    // "nAudioStream": the container's stream index of the sound track the item plays,
    // when the source has several and another than the first was chosen. -1 (and a
    // file without the attribute, as every file before it) means the first sound
    // track; the writer emits it only when it is not -1, so such files stay as they were.
    int nAudioStream = -1;
    // Identifies the item inside the front end and names its temporary pictures in
    // tmp/ ("vum_<id>.png"); the engine keeps it unchanged.
    int dwselptrinmainapp = 0;
    std::wstring source;            // full path of the source file ("source" child)
    // The "track" child: the item is a track of its source (tagKvItemTrack), so its
    // output has the track's tags and none of the source's chapters.
    std::optional<tagKvItemTrack> track;
    // The "loudness" child: the output normalised or tagged (tagKvItemLoudness).
    std::optional<tagKvItemLoudness> loudness;

    std::optional<tagKvColorBlock> colorblk;
    std::optional<tagKvVuMeterData> vumeter;
    std::vector<tagKvVideoSnapshotData> VideoSnapshots;
    std::optional<tagKvColorAdjustment> ColorAdjustment;
    std::optional<tagKv3DGroupSettings> _3DGroupSettings;
    std::vector<tagKvGraffitiLayer> graffitilayer;
    std::optional<tagKvCameraData> camera;
    std::optional<tagKv3DActionData> action3D;
    std::optional<tagKvMaskData> mask;
    std::optional<tagKvRotationData> rotation;
    std::optional<tagKvColorKeyData> colorKey;
    std::optional<tagKvBorderData> border;
    std::optional<tagKvCropData> crop;
    std::optional<tagKvOverlayData> overlay;
    std::optional<tagKvTitleData> title;
    std::optional<tagKvActionData> action;
    std::vector<tagKvShapeInfo> shape;

    bool operator==(const tagKvMediaData&) const = default;
};

// ---- Line sub-records -------------------------------------------------------------------

struct tagKvChorusData
{
    int enableaudiochorus = 0;
    int audiochorusdelay = 0;
    int audiochorusdrymix = 0;
    int audiochorusfeedback = 0;
    int audiochorusstereo = 0;
    int audiochoruswetmix = 0;
    bool operator==(const tagKvChorusData&) const = default;
};

struct tagKv3DGroupModelCamera // "camera0" and the "item" children of the camera lists
{
    double ax = 0.0;
    double ay = 0.0;
    double az = 0.0;
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;
    double dDurationToNext = 0.0;
    bool operator==(const tagKv3DGroupModelCamera&) const = default;
};

struct tagKv3DGroupModelSide
{
    int bLoop = 0;
    int bReflection = 0;
    int bBackFaceInvisible = 0;
    double dax = 0.0;
    double day = 0.0;
    double daz = 0.0;
    double dh = 0.0;
    double dw = 0.0;
    double dx = 0.0;
    double dy = 0.0;
    double dz = 0.0;
    bool operator==(const tagKv3DGroupModelSide&) const = default;
};

struct tagKv3DGroupModelRotation // "rotatetofirst"
{
    double ax = 0.0;
    double ay = 0.0;
    double az = 0.0;
    bool operator==(const tagKv3DGroupModelRotation&) const = default;
};

struct tagKv3DGroupModel
{
    int nTransitionMode = 0;
    double dScaleX = 0.0;
    double dScaleY = 0.0;
    double dScaleZ = 0.0;
    int nCurFrameHeight = 0;
    int nCurFrameWidth = 0;
    double cax = 0.0;
    double cay = 0.0;
    double caz = 0.0;
    double cx = 0.0;
    double cy = 0.0;
    double cz = 0.0;
    std::vector<tagKv3DGroupModelCamera> appCamera;
    std::vector<tagKv3DGroupModelCamera> disappCamera;
    std::vector<tagKv3DGroupModelSide> side;
    tagKv3DGroupModelCamera camera0;
    std::vector<tagKv3DGroupModelCamera> camera;
    tagKv3DGroupModelRotation rotatetofirst;
    bool operator==(const tagKv3DGroupModel&) const = default;
};

// The values a line carries in both programs (everything but its items).
struct tagKvLineAttributes
{
    int nLineType = velmora::kLineAudio; // line kind
    int bUse3DGroupTemplate = 0;
    int bDisable = 0;
    int b3DGroup = 0;
    double ax3DGroup = 0.0;
    double ay3DGroup = 0.0;
    double az3DGroup = 0.0;
    double x3DGroup = 0.0;
    double y3DGroup = 0.0;
    double z3DGroup = 40.0;
    int enableLighting3DGroup = 0;
    int clrLightAmbient3DGroup = 8355711;
    int clrLightDiffuse3DGroup = 16777215;
    int bAlwaysInFrontOfPrevLines = 0;
    int subtitlebottommargin = 0;     // the engine holds it scaled by the play factor
    std::optional<tagKvChorusData> chorus;
    std::optional<tagKv3DGroupModel> _3DGroupModel; // present = the group model is enabled

    bool operator==(const tagKvLineAttributes&) const = default;
};

// ---- Front-end project ----------------------------------------------------------------

struct tagKvLineData : tagKvLineAttributes
{
    std::vector<std::unique_ptr<tagKvMediaData>> items;
};

struct tagKvProjectData
{
    int b3D = 0;
    int bEnableFog = 0;
    int bEnableLighting = 0;
    int clrFog = 11697996;          // red 76, green 127, blue 178
    int clrLightAmbient = 8355711;  // grey 127
    int clrLightDiffuse = 16777215; // white
    std::vector<std::unique_ptr<tagKvLineData>> lines;
};

// Editor state the editor passes to the writer; jobs pass none.
struct tagKvEditorState
{
    double dCurFrameTime = 0.0;
    int nCurTimeScaleZoomIndex = 0;
    int nEditMode = 0;
    int nHorizonalPos = 0;
    int nVerticalPos = 0;
};
