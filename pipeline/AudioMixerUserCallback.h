#pragma once

// The engine's audio mixer callback: for every buffer of the time line it throws the
// carrier's samples away and writes the mix of the project's audio line in their
// place, publishes the buffer's time and, with a level meter in the project, the
// buffer's levels.
//
// Each item of the audio line (the line of kind 1) is placed on the time line at its
// start, trimmed, delayed, sped up or slowed down by resampling, silent while its
// picture is frozen by a snapshot, faded, scaled by its volume and optionally
// vocal-cut. Items are mixed in list order, each over what the earlier ones left.
//
// Times. A buffer of f frames at r frames per second covers [t − f / r, t), where t
// is start offset + bytes delivered ÷ bytes per second. An item's reader is opened
// and positioned once, at the source time of the buffer's START, so the source's
// sample k becomes the output sample that the item's placement names, to the sample.
// Everything else (skipping ended items, fades, freezes, levels, the published
// position) goes by the END time t.
//
// Readers are opened once per item, by OpenSources before a conversion streams (so a
// source without sound fails the job instead of mixing as silence) or else on the
// item's first fetch. The reader's own first-audio time gives the lead-in, so a
// source is opened by one reader only. A reader is positioned on its item's first
// fetch and then only read on, never repositioned: a freeze holds the reader where
// it is, so the source resumes at the frozen time. Readers belong to the callback and
// last as long as it does, so a graph rebuilt over the same project continues each
// item where it stopped.
//
// Samples are taken as interleaved stereo pairs, left first, whatever channel count
// the format names: the time-line source always delivers stereo.
//
// Threads: MixAudioBuffer runs on the audio stage's streaming thread; the level
// arrays it fills for an in-process reader are the only values behind a lock.

#include "common/KvJobBlock.h"
#include "pipeline/IKvAudioMixer.h"
#include "pipeline/IKvAudioSource.h"
#include "pipeline/KvAudioMixMath.h"
#include "pipeline/KvEngineClocks.h"
#include "pipeline/KvLevelMap.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

class CKvEngineItem;
class CKvEngineProject;
class CKvVideoConverter;

namespace velmora {

// What the callback is built from.
struct KvAudioMixerSetup
{
    // The loaded project; its audio line is what gets mixed. Null mixes silence. It
    // must outlive the callback and keep its items while the callback lives (the
    // callback keeps each item's reader by the item's address).
    CKvEngineProject* project = nullptr;
    // The mapped job block, or null. With the block of a conversion job (bPlayMode 0)
    // the callback writes the play position into it and sends the levels through the
    // Level map; otherwise levels stay in process.
    tagKvJobBlock* jobBlock = nullptr;
    // The engine-wide level-meter flag: the project holds a "vumeter" element.
    bool vuMeter = false;
    // Names the Level map; ends with "/". Empty: GetProgramFolder().
    std::string programFolder;
    // The engine-wide clocks; null: the callback keeps its own.
    KvEngineClocks* clocks = nullptr;
    // Where item readers come from; null: the FFmpeg reader.
    IKvAudioSourceFactory* sources = nullptr;
};

} // namespace velmora

class CAudioMixerUserCallback final : public IKvAudioMixerUserCallback
{
public:
    // Takes the flags from the values current now: build it after the project is
    // loaded and the job block is mapped.
    explicit CAudioMixerUserCallback(const velmora::KvAudioMixerSetup& setup);
    ~CAudioMixerUserCallback();
    CAudioMixerUserCallback(const CAudioMixerUserCallback&) = delete;
    CAudioMixerUserCallback& operator=(const CAudioMixerUserCallback&) = delete;

    // Any interface id yields the object itself; no reference counting.
    velmora::HRESULT QueryInterface(const velmora::KvGuid& iid, void** object) override;
    std::uint32_t AddRef() override;
    std::uint32_t Release() override;

    velmora::HRESULT MixAudioBuffer(std::int32_t reserved, std::int32_t dataBytes, std::int32_t holdClock,
                                    std::int16_t* buffer, const velmora::KvWaveFormat* format,
                                    std::int32_t bufferBytes) override;

    // Opens the reader of every item of the audio line that has sound (bHadAudio set,
    // bDisableAudio clear) and has none yet. False at the first item whose values
    // cannot be placed on a time line (not finite, beyond any media) or whose source
    // gives no sound (cannot be opened, no sound track, no decoder); why then names
    // the item's file and the reason, and failure (when given) what kind of failure it
    // is. Call before the stream starts.
    bool OpenSources(std::string& why, velmora::KvJobFailure* failure = nullptr);

    // The graph owner that holds the callback (kept for it, not used here).
    void SetOwner(CKvVideoConverter* owner) { m_owner = owner; }
    CKvVideoConverter* GetOwner() const { return m_owner; }

    // Time-line position of the first byte (the preview's start position).
    void SetStartOffset(double seconds) { m_startOffset = seconds; }
    double GetStartOffset() const { return m_startOffset; }

    std::uint64_t GetBytesDelivered() const { return m_bytesDelivered; }
    bool HasVuMeter() const { return m_vuMeter; }
    // Levels go to the Level map (a conversion) rather than to the in-process arrays.
    bool UsesSharedLevels() const { return m_sharedLevels; }

    // The in-process levels of the last buffer, copied under the level lock.
    void GetLevels(std::int16_t left[velmora::kKvLevelSlices], std::int16_t right[velmora::kKvLevelSlices]) const;

    velmora::KvEngineClocks& Clocks() const { return *m_clocks; }

    // Where the sound of the time line ends when its sources run out before the
    // time line does: once every item with sound has either reached its end or
    // handed out all its source holds, the latest of those ends (time-line seconds).
    // nullopt while any of them still sounds, or when none has sound.
    std::optional<double> SoundEnd() const;

private:
    struct ItemAudio
    {
        std::unique_ptr<velmora::IKvAudioSource> source;
        double selfStart = 0.0;  // sound in-point after the delay was folded in
        double delay = 0.0;      // what is left of the delay: leading silence
        bool positioned = false; // lead-in given and sought (on the first fetch)
        bool dry = false;        // the source ran out of sound ...
        double soundEnd = 0.0;   // ... at this time-line time
    };

    void MixItem(CKvEngineItem& item, double t, double bufferStart, int frames, int sampleRate,
                 std::int16_t* mix);
    ItemAudio& PrepareItem(CKvEngineItem& item);
    ItemAudio& OpenItem(CKvEngineItem& item, double bufferStart);
    void PublishLevels(const std::int16_t* mix, int frames);

    velmora::KvAudioMixerSetup m_setup;
    CKvVideoConverter* m_owner = nullptr;
    std::uint64_t m_bytesDelivered = 0;
    double m_lastBufferEnd = 0.0;
    double m_startOffset = 0.0;
    bool m_vuMeter = false;
    bool m_sharedLevels = false;

    velmora::KvEngineClocks m_ownClocks;
    velmora::KvEngineClocks* m_clocks = nullptr;
    std::unique_ptr<velmora::IKvAudioSourceFactory> m_ownFactory;
    velmora::IKvAudioSourceFactory* m_factory = nullptr;

    std::unordered_map<const CKvEngineItem*, ItemAudio> m_items;
    std::vector<std::int16_t> m_scratch;

    mutable std::mutex m_levelLock;
    std::int16_t m_left[velmora::kKvLevelSlices] = {};
    std::int16_t m_right[velmora::kKvLevelSlices] = {};

    velmora::CKvLevelMap m_levelMap;
    bool m_levelMapTried = false;
};
