#pragma once

// The job block: the one channel between the front end (velmora) and the engine
// (kvengine) while a job runs.
//
// A 1128-byte record in named shared memory (see KvJobBlockMapping.h for the two
// sides of the mapping and KvSharedMemory.h for the name). The front end creates and
// zero-fills it once at start-up and keeps it until it exits; for every job it fills
// the block, writes "tmp/option.dat" and "tmp/kvengine.kvmmpj", and starts a fresh
// engine, which opens the block, reads the job and writes its progress and end back.
// There is no other control path: the front end stops an engine only by killing it.
//
// Layout: little-endian, no padding, every offset fixed (checked below at compile
// time). Integers are 32-bit, doubles IEEE-754 64-bit, strings UTF-16 with a
// terminating zero. Every field is naturally aligned, so the record needs no packing
// pragma: the offset checks prove there is no padding, and the natural alignment is
// what lets each field be read and written as one atomic value across the processes.
//
// Sharing: there is no lock. Each field has one writer at a time: the front end fills
// the job before the engine exists, and afterwards writes only nState = 0 (stop) or
// the preview fields before the next engine start; while the job runs, the engine
// writes dPosition, nState, bGraphRunning, bPlayFailed, bEngineClosed, bConvertFailed,
// nFailureCode and dSoundEnd. Fields that one side writes while the other side polls
// are read and written with LoadAcquire / StoreRelease below.
//
// Field by field (offset, writer, meaning):
//
//    0  nPreset        front end  Output preset 0..9, the option record's nPreset. The
//                                 engine reads "tmp/option.dat" over the preset entry
//                                 it selects (any other value selects entry 4).
//    4  bGraphRunning  engine     1 once the engine's media graph is built and
//                                 running. The front end clears it before each preview.
//    8  bStartConvert  front end  The "go" flag of a conversion, set to 1 last, after
//                                 the rest of the job is filled; the engine's
//                                 conversion waits for it (not in list mode).
//   12  bPreview       front end  1 when the job is a preview (with bPlayMode = 1).
//   16  bPlayMode      front end  1 = play (preview) job, 0 = conversion job.
//   20  bEngineClosed  engine     1 when the conversion ends, just before the engine
//                                 unmaps the block.
//   24  nState         both       KvJobState: 0 idle / ended, 2 running, 3 preview
//                                 requested. See KvJobState.
//   28  nReserved28    front end  Written, never read.
//   32  dPosition      engine     Seconds from the start of the time line reached by
//                                 the engine: the progress of a conversion, the play
//                                 position of a preview. Written as one 64-bit value.
//   40  dSoundEnd      both       The front end writes 0.0 before a conversion. The engine
//                                 writes the seconds of the time line its output
//                                 holds when the sources ran out of sound before the
//                                 time line's end (a file shorter than its header
//                                 says), and leaves 0 when the output is whole.
//   48  dDuration      front end  Preview only: the time-line length in seconds, for the
//                                 front end's own preview dialog. The engine ignores it.
//   56  bConvertJob    front end  1 for a conversion, 0 for a preview. The engine
//                                 ignores it.
//   60  szListFile     front end  Optional list file; when it names an existing file the
//                                 engine runs in list mode (project from
//                                 "tmp/listctrl.kvmmpj", the four overrides below, no
//                                 wait for bStartConvert). This front end always writes
//                                 it empty.
//  580  szOutputFile   front end  Full path of the output file of a conversion.
// 1100  nSizeModeOverride         List mode: replaces the option record's nSizeMode.
// 1104  hPreviewWnd / nVideoBitrateOverride
//                      front end  Play mode: a non-zero 32-bit id of the front end's
//                                 preview surface (the X11 window id where there is
//                                 one). List mode: replaces nVideoBitrate.
// 1108  nFileSizeOverride         List mode: replaces nFileSizeMB.
// 1112  nQualityOverride          List mode: replaces nQuality.
// 1116  nFailureCode   engine     Why a failed conversion failed: a KvJobFailure code
//                                 (KvJobFailure.h), written before bConvertFailed = 1.
//                                 The front end clears it before each job; an older
//                                 engine leaves it 0 (the field was reserved, zero).
// 1120  bPlayFailed    engine     1 when a preview cannot start or its graph never ran;
//                                 the front end clears it before each preview.
// 1124  bConvertFailed engine     1 when a conversion job fails (the output is missing
//                                 or incomplete), so the row is not shown as a plain
//                                 success; the front end clears it before each job. A
//                                 block of an older engine leaves it 0 (the field was
//                                 reserved and always zero).
//
// The two path fields hold at most 259 UTF-16 units and a terminating zero. A longer
// path does not fit and is refused before anything is written (SetJobPath).

#include <atomic>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <type_traits>

namespace velmora {

inline constexpr std::size_t kKvJobBlockSize = 1128;
inline constexpr std::size_t kKvJobPathUnits = 260;              // including the zero
inline constexpr std::size_t kKvJobPathMaxLength = kKvJobPathUnits - 1;

// Values of nState.
enum KvJobState : std::int32_t {
    // No job running: never started, finished, stopped or failed. Written by the
    // front end on stop and by the engine at the end of every job.
    kKvJobIdle = 0,
    // A conversion is being made (front end, at conversion start) or a preview is
    // playing (engine, once it plays).
    kKvJobRunning = 2,
    // A preview was requested and the engine has not started to play yet (front end).
    kKvJobPreviewRequested = 3,
};

struct alignas(8) tagKvJobBlock
{
    std::int32_t nPreset;
    std::int32_t bGraphRunning;
    std::int32_t bStartConvert;
    std::int32_t bPreview;
    std::int32_t bPlayMode;
    std::int32_t bEngineClosed;
    std::int32_t nState;
    std::int32_t nReserved28;
    double dPosition;
    double dSoundEnd;
    double dDuration;
    std::int32_t bConvertJob;
    char16_t szListFile[kKvJobPathUnits];
    char16_t szOutputFile[kKvJobPathUnits];
    std::int32_t nSizeModeOverride;
    union {
        std::uint32_t hPreviewWnd;           // play mode
        std::int32_t nVideoBitrateOverride;  // list mode
    };
    std::int32_t nFileSizeOverride;
    std::int32_t nQualityOverride;
    std::int32_t nFailureCode;
    std::int32_t bPlayFailed;
    std::int32_t bConvertFailed;
};

// The layout is the contract: both programs, built separately, rely on it.
static_assert(std::endian::native == std::endian::little, "the job block is little-endian");
static_assert(std::numeric_limits<double>::is_iec559 && sizeof(double) == 8);
static_assert(std::is_standard_layout_v<tagKvJobBlock> && std::is_trivially_copyable_v<tagKvJobBlock>);
static_assert(sizeof(tagKvJobBlock) == kKvJobBlockSize);
static_assert(offsetof(tagKvJobBlock, nPreset) == 0);
static_assert(offsetof(tagKvJobBlock, bGraphRunning) == 4);
static_assert(offsetof(tagKvJobBlock, bStartConvert) == 8);
static_assert(offsetof(tagKvJobBlock, bPreview) == 12);
static_assert(offsetof(tagKvJobBlock, bPlayMode) == 16);
static_assert(offsetof(tagKvJobBlock, bEngineClosed) == 20);
static_assert(offsetof(tagKvJobBlock, nState) == 24);
static_assert(offsetof(tagKvJobBlock, nReserved28) == 28);
static_assert(offsetof(tagKvJobBlock, dPosition) == 32);
static_assert(offsetof(tagKvJobBlock, dSoundEnd) == 40);
static_assert(offsetof(tagKvJobBlock, dDuration) == 48);
static_assert(offsetof(tagKvJobBlock, bConvertJob) == 56);
static_assert(offsetof(tagKvJobBlock, szListFile) == 60);
static_assert(sizeof(tagKvJobBlock::szListFile) == 520);
static_assert(offsetof(tagKvJobBlock, szOutputFile) == 580);
static_assert(sizeof(tagKvJobBlock::szOutputFile) == 520);
static_assert(offsetof(tagKvJobBlock, nSizeModeOverride) == 1100);
static_assert(offsetof(tagKvJobBlock, hPreviewWnd) == 1104);
static_assert(offsetof(tagKvJobBlock, nVideoBitrateOverride) == 1104);
static_assert(offsetof(tagKvJobBlock, nFileSizeOverride) == 1108);
static_assert(offsetof(tagKvJobBlock, nQualityOverride) == 1112);
static_assert(offsetof(tagKvJobBlock, nFailureCode) == 1116);
static_assert(offsetof(tagKvJobBlock, bPlayFailed) == 1120);
static_assert(offsetof(tagKvJobBlock, bConvertFailed) == 1124);

// Cross-process atomics must not fall back to a lock inside one process.
static_assert(std::atomic_ref<std::int32_t>::is_always_lock_free);
static_assert(std::atomic_ref<std::uint32_t>::is_always_lock_free);
static_assert(std::atomic_ref<double>::is_always_lock_free);

// One field of the block as one atomic value: a store publishes everything written
// before it (the front end's last store is bStartConvert = 1), a load sees it.
inline std::int32_t LoadAcquire(const std::int32_t& field)
{
    return std::atomic_ref<std::int32_t>(const_cast<std::int32_t&>(field)).load(std::memory_order_acquire);
}
inline std::uint32_t LoadAcquire(const std::uint32_t& field)
{
    return std::atomic_ref<std::uint32_t>(const_cast<std::uint32_t&>(field)).load(std::memory_order_acquire);
}
inline double LoadAcquire(const double& field)
{
    return std::atomic_ref<double>(const_cast<double&>(field)).load(std::memory_order_acquire);
}
inline void StoreRelease(std::int32_t& field, std::int32_t value)
{
    std::atomic_ref<std::int32_t>(field).store(value, std::memory_order_release);
}
inline void StoreRelease(std::uint32_t& field, std::uint32_t value)
{
    std::atomic_ref<std::uint32_t>(field).store(value, std::memory_order_release);
}
inline void StoreRelease(double& field, double value)
{
    std::atomic_ref<double>(field).store(value, std::memory_order_release);
}

// Writes path into a path field (szListFile or szOutputFile): all 520 bytes are
// cleared, then the path and its terminating zero are copied. Refused (false, the
// field left untouched) when the path is longer than 259 UTF-16 units or contains a
// zero unit (the reader would see a shorter, different path).
bool SetJobPath(char16_t (&field)[kKvJobPathUnits], std::u16string_view path);
// The same from a wide (UTF-32) or UTF-8 path, measured after conversion to UTF-16.
// A UTF-8 path that is not valid UTF-8 is refused too: it could only be stored
// altered, and the engine would then write to another file.
bool SetJobPathWide(char16_t (&field)[kKvJobPathUnits], std::wstring_view path);
bool SetJobPathUtf8(char16_t (&field)[kKvJobPathUnits], std::string_view path);

// Reads a path field up to its first zero unit; a field without one (never written by
// this code) yields its 260 units rather than running past the field.
std::u16string GetJobPath(const char16_t (&field)[kKvJobPathUnits]);
std::wstring GetJobPathWide(const char16_t (&field)[kKvJobPathUnits]);
std::string GetJobPathUtf8(const char16_t (&field)[kKvJobPathUnits]);

// Engine, list mode: true when szListFile is not empty and names an existing file
// (a folder is not a list file).
bool IsListModeJob(const tagKvJobBlock& block);

} // namespace velmora
