#pragma once

// The option record and the option file "tmp/option.dat".
//
// One record of 21 little-endian signed 32-bit integers (84 bytes, no header, no
// version) carries the output settings of one job from the front end to the engine.
// The front end writes its current record whole before it starts every conversion
// and preview; the engine picks the entry of its own built-in preset table that the
// job block's nPreset selects and reads the file over it.
//
// Field by field (offset, meaning; "nobody" = written but never read):
//
//    0  nPreset          Preset 0..9 (table below); copied into the job block.
//    4  bForceResize     1 = the source video decoder resizes pictures to nWidth x nHeight.
//    8  bFlipVideo       1 = the source video decoder flips pictures.
//   12  nAudioQuality    The quality number of the audio formats that have one
//                        (KvAudioFormats.h); 0 for every other type.
//   16  nResolutionClass Preset descriptor, nobody: 0 1080P, 1 720P, 2 480P, 3 360P, 4 240P.
//   20  nAspect          Preset descriptor, nobody: 0 = 16:9, 1 = 4:3.
//   24  nSizeMode        0 "Size Priority", 1 "Bitrate Priority", 2 "Quality Priority".
//   28  nVideoBitrate    Video bit rate in kbit/s.
//   32  nFileSizeMB      Target file size in megabytes.
//   36  nQuality         Quality level, 1-based.
//   40  nWidth           Output picture width: a multiple of 4 in 80..1920.
//   44  nHeight          Output picture height: a multiple of 4 in 80..1440.
//   48  nOverlayQuality  0..4: overlay drawing resolution (OverlayResolution).
//   52  nWmvCodec        Index of the Windows Media video codec (front end only).
//   56  nWmaCodec        Index of the Windows Media audio codec (front end only).
//   60  nWmaFormat       Chosen format of that codec, 0 when none (front end only).
//   64  nOutputType      Output type code 0..13 (OutputExtension); 7 and 8 are
//                        Windows Media outputs; 14 on the audio formats of
//                        KvAudioFormats.h.
//   68  nAudioBitrate    Audio bit rate in kbit/s (32 .. 640).
//   72  nSampleRate      Audio sample rate in Hz (8000 .. 96000); for the formats from 14
//                        on, 0 keeps the rate of the sound given (kKvRateOfSource).
//   76  nChannels        0 = mono, 1 = stereo; the engine takes 2 as stereo as well;
//                        for the formats from 14 on, -1 keeps the channels given.
//   80  nJobFlags        Bits that ask the engine for less than its default work;
//                        0 in files of earlier front ends. kKvJobSkipOutputCheck: the
//                        finished output is not played back before it gets its name.
//                        kKvJobMeasureLoudness: nothing is written; the loudness of the
//                        project's items together (an album) is measured and left in
//                        the job folder's "measured.txt".
//
// The engine does not validate the values: the front end only offers valid ones.

#include "common/KvJobBlock.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <type_traits>

namespace velmora {

struct tagKvOptionRecord
{
    std::int32_t nPreset;
    std::int32_t bForceResize;
    std::int32_t bFlipVideo;
    std::int32_t nAudioQuality;
    std::int32_t nResolutionClass;
    std::int32_t nAspect;
    std::int32_t nSizeMode;
    std::int32_t nVideoBitrate;
    std::int32_t nFileSizeMB;
    std::int32_t nQuality;
    std::int32_t nWidth;
    std::int32_t nHeight;
    std::int32_t nOverlayQuality;
    std::int32_t nWmvCodec;
    std::int32_t nWmaCodec;
    std::int32_t nWmaFormat;
    std::int32_t nOutputType;
    std::int32_t nAudioBitrate;
    std::int32_t nSampleRate;
    std::int32_t nChannels;
    std::int32_t nJobFlags;

    bool operator==(const tagKvOptionRecord&) const = default;
};

inline constexpr std::size_t kKvOptionRecordSize = 84;

// Bits of nJobFlags.
inline constexpr std::int32_t kKvJobSkipOutputCheck = 1;
inline constexpr std::int32_t kKvJobMeasureLoudness = 2;

static_assert(std::is_standard_layout_v<tagKvOptionRecord> && std::is_trivially_copyable_v<tagKvOptionRecord>);
static_assert(sizeof(tagKvOptionRecord) == kKvOptionRecordSize);
static_assert(offsetof(tagKvOptionRecord, nPreset) == 0);
static_assert(offsetof(tagKvOptionRecord, bForceResize) == 4);
static_assert(offsetof(tagKvOptionRecord, bFlipVideo) == 8);
static_assert(offsetof(tagKvOptionRecord, nAudioQuality) == 12);
static_assert(offsetof(tagKvOptionRecord, nResolutionClass) == 16);
static_assert(offsetof(tagKvOptionRecord, nAspect) == 20);
static_assert(offsetof(tagKvOptionRecord, nSizeMode) == 24);
static_assert(offsetof(tagKvOptionRecord, nVideoBitrate) == 28);
static_assert(offsetof(tagKvOptionRecord, nFileSizeMB) == 32);
static_assert(offsetof(tagKvOptionRecord, nQuality) == 36);
static_assert(offsetof(tagKvOptionRecord, nWidth) == 40);
static_assert(offsetof(tagKvOptionRecord, nHeight) == 44);
static_assert(offsetof(tagKvOptionRecord, nOverlayQuality) == 48);
static_assert(offsetof(tagKvOptionRecord, nWmvCodec) == 52);
static_assert(offsetof(tagKvOptionRecord, nWmaCodec) == 56);
static_assert(offsetof(tagKvOptionRecord, nWmaFormat) == 60);
static_assert(offsetof(tagKvOptionRecord, nOutputType) == 64);
static_assert(offsetof(tagKvOptionRecord, nAudioBitrate) == 68);
static_assert(offsetof(tagKvOptionRecord, nSampleRate) == 72);
static_assert(offsetof(tagKvOptionRecord, nChannels) == 76);
static_assert(offsetof(tagKvOptionRecord, nJobFlags) == 80);

// ---- Presets -------------------------------------------------------------------

inline constexpr int kKvPresetCount = 10;
inline constexpr int kKvDefaultPreset = 4;   // "SD VIDEO 480P 16:9"

using KvPresetTable = std::array<tagKvOptionRecord, kKvPresetCount>;

// "HD VIDEO 1080P 16:9" .. "SD VIDEO 240P 4:3" for 0..9; "" for any other index.
const char* PresetName(int preset);

// The front end's ten built-in records: the preset values (preset 4 is 856 x 480),
// nOverlayQuality per preset (2 2 2 2 2 2 1 1 0 0), and in every record nWmvCodec 5,
// nWmaCodec 2, nWmaFormat 0, nOutputType 0, nAudioBitrate 128, nSampleRate 48000,
// nChannels 1.
KvPresetTable MakeFrontEndPresetTable();

// The engine's ten built-in records: the same preset values except preset 4, which
// is 864 x 480; bForceResize, bFlipVideo and every field from nOverlayQuality on are
// 0, since the option file always supplies them.
KvPresetTable MakeEnginePresetTable();

// How many "Overlay Quality" choices the front end offers for a preset: 5 for
// presets 0 and 1, 4 for 2 and 3, 3 for 4 and 5, 2 for 6 and 7, 1 for 8 and 9.
int OverlayQualityChoices(int preset);

// The overlay drawing resolution of nOverlayQuality: 320x240, 480x360, 720x480,
// 1280x720, 1440x1080 for 0..4; values outside are taken as the nearest end.
struct KvSize
{
    int nWidth;
    int nHeight;
};
KvSize OverlayResolution(int overlayQuality);

// ---- Engine: LoadOptions ---------------------------------------------------------

// The engine's option state: its working preset table and the current entry.
struct tagKvEngineOptions
{
    KvPresetTable table = MakeEnginePresetTable();
    int nCurrent = kKvDefaultPreset;
    // Bytes LoadOptions found in the option file; fewer than kKvOptionRecordSize
    // means the entry kept built-in values (zero audio settings) past that point.
    std::size_t nBytesRead = 0;

    tagKvOptionRecord& Current() { return table[static_cast<size_t>(nCurrent)]; }
    const tagKvOptionRecord& Current() const { return table[static_cast<size_t>(nCurrent)]; }
};

// The entry that a job block's nPreset selects: 0..9 select themselves, any other
// value selects 4.
int ChoosePresetIndex(int jobPreset);

// Reads the option file of a job: fills the engine's built-in table, chooses the
// entry by jobPreset (ChoosePresetIndex) and reads up to 84 bytes of
// programFolder + "tmp/option.dat" over it; a shorter file overwrites only the bytes
// it has, the rest keeps the built-in values. The caller then takes
// options.Current() to set the output frame size and to write the decoder settings.
// Returns false when the file is missing or cannot be read; options then holds the
// built-in table with the chosen entry untouched, and the engine ends without
// starting a job.
bool LoadOptions(int jobPreset, tagKvEngineOptions& options, const std::string& programFolder);
bool LoadOptions(int jobPreset, tagKvEngineOptions& options);  // in GetProgramFolder()

// List mode: copies the job block's four overrides over nSizeMode, nVideoBitrate,
// nFileSizeMB and nQuality, in that order.
void ApplyListModeOverrides(tagKvOptionRecord& record, const tagKvJobBlock& block);

// ---- Front end: the writer -------------------------------------------------------

// Creates or truncates programFolder + "tmp/option.dat" and writes the 84 bytes of
// record. False when the file cannot be created or written whole; the engine must then
// not be started (it would read a missing or short record).
bool WriteOptionFile(const tagKvOptionRecord& record, const std::string& programFolder);
bool WriteOptionFile(const tagKvOptionRecord& record);  // in GetProgramFolder()
// The same into the file at path (the option file of an engine slot's job folder).
bool WriteOptionFileTo(const tagKvOptionRecord& record, const std::string& path);

// ---- Values of the settings dialog ----------------------------------------------------

inline constexpr int kKvMinDimension = 80;
inline constexpr int kKvMaxWidth = 1920;
inline constexpr int kKvMaxHeight = 1440;

// Rounded down to a multiple of 4, then clamped to min..max (1923 -> 1920, 50 -> 80,
// 1001 -> 1000 for a width).
int RoundAndClampDimension(int value, int minimum, int maximum);
int RoundAndClampWidth(int width);    // 80..1920
int RoundAndClampHeight(int height);  // 80..1440

// ---- Output types ----------------------------------------------------------------

inline constexpr int kKvOutputMp3 = 0;
inline constexpr int kKvOutputWma = 7;

// The output file extension of a type code: ".mp3" (0-2), ".avi" (3-5), ".mov" (6),
// ".wma" (7), ".asf" (8), ".mpg" (9-11), ".flv" (12), ".mkv" (13), the audio format's
// from 14 on (Original: ".mka", the container of a codec it has no other for); any
// other code gives ".mp3".
const char* OutputExtension(int outputType);

// The save-dialog filter of a type code, e.g. "Audio (*.mp3)|*.mp3|"; any other code
// gives the MP3 filter.
const char* OutputSaveFilter(int outputType);

// Codes 7 and 8 are written through a Windows Media profile ("tmp/wmv.prx").
bool IsWindowsMediaOutput(int outputType);

// nChannels as a channel count: 0 is mono (1); 1 and 2 (and any other value) are
// stereo (2).
int OutputChannelCount(int channels);

} // namespace velmora
