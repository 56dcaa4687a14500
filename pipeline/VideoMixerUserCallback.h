#pragma once

// The engine's video mixer callback: for every frame of the preview graph it fixes
// the frame's time, publishes it, fetches the level-meter values and prepares the
// frame for the renderer.
//
// Time. A frame's time is its owner's play position (what the sound device has
// played), so the picture follows the sound. It goes into the render time, the
// engine-wide play clock and a history of the last 16 frame times, and in a preview
// into the job block's dPosition (never backwards, never beyond the duration).
//
// Pictures. This engine draws no pictures of its own: the frame is cleared to
// transparent black and the overlay pass draws nothing, so an audio preview hands
// the sink black frames. The levels are fetched all the same (when the project has a
// level meter), so they are ready for whoever draws.
//
// Levels come from the audio callback of the same graph (in-process, under its
// lock) or, with the shared-levels flag, from the Level map (one record per frame).
//
// Temporary folders: "tmp/rwv/" is emptied and made at construction and emptied at
// destruction; "tmp/frameimage/" is emptied and made at construction.
//
// Threads: both operations run on the video branch's streaming thread; the values
// read elsewhere are atomics.

#include "common/KvJobBlock.h"
#include "pipeline/IKvVideoMixer.h"
#include "pipeline/KvAudioMixMath.h"
#include "pipeline/KvEngineClocks.h"
#include "pipeline/KvLevelMap.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

class CAudioMixerUserCallback;
class CKvEngineProject;
class CKvVideoConverter;

namespace velmora {

struct KvVideoMixerSetup
{
    CKvEngineProject* project = nullptr;        // loaded; must outlive the callback
    tagKvJobBlock* jobBlock = nullptr;          // mapped, or null
    std::string programFolder;                  // ends with "/"; empty: GetProgramFolder()
    KvEngineClocks* clocks = nullptr;           // the engine-wide clocks; null: its own
    CAudioMixerUserCallback* levels = nullptr;  // in-process levels, or null
    int width = 0;                              // output frame size
    int height = 0;
};

} // namespace velmora

class CVideoMixerUserCallback final : public IKvVideoMixerUserCallback
{
public:
    static constexpr std::size_t kHistoryLength = 16;

    explicit CVideoMixerUserCallback(const velmora::KvVideoMixerSetup& setup);
    ~CVideoMixerUserCallback();
    CVideoMixerUserCallback(const CVideoMixerUserCallback&) = delete;
    CVideoMixerUserCallback& operator=(const CVideoMixerUserCallback&) = delete;

    velmora::HRESULT QueryInterface(const velmora::KvGuid& iid, void** object) override;
    std::uint32_t AddRef() override;
    std::uint32_t Release() override;

    velmora::HRESULT RenderFrame(void* source, std::int32_t reserved1, std::int32_t reserved2,
                                 const velmora::KvBitmapInfoHeader* format, std::uint8_t* buffer,
                                 std::int32_t bufferBytes) override;
    velmora::HRESULT RenderOverlays(void* target, std::int32_t reserved1, std::int32_t reserved2,
                                    std::int32_t reserved3, std::uint8_t* pixels, std::int32_t reserved4,
                                    std::int32_t active) override;

    // Set by the graph builder: whose position a frame takes, and whether levels
    // come through the Level map.
    void SetOwner(CKvVideoConverter* owner) { m_owner = owner; }
    CKvVideoConverter* GetOwner() const { return m_owner; }
    void SetSharedLevels(bool shared) { m_sharedLevels = shared; }
    bool UsesSharedLevels() const { return m_sharedLevels; }
    // The graph builder's scratch frame (one frame of the output size, zeroed).
    void AllocateScratchFrame();
    const std::vector<std::uint8_t>& ScratchFrame() const { return m_scratch; }

    double RenderTime() const { return m_renderTime.load(std::memory_order_acquire); }
    // The last frame times, oldest first (at most kHistoryLength). Streaming thread,
    // or after it has stopped.
    std::vector<double> RenderTimeHistory() const;
    // The levels the last overlay pass fetched.
    void GetLevels(std::int16_t left[velmora::kKvLevelSlices], std::int16_t right[velmora::kKvLevelSlices]) const;
    const velmora::KvBitmapInfoHeader& CurrentFormat() const { return m_format; }

private:
    void FetchLevels();

    velmora::KvVideoMixerSetup m_setup;
    CKvVideoConverter* m_owner = nullptr;
    bool m_sharedLevels = false;
    bool m_vuMeter = false;
    double m_duration = 0.0;
    std::size_t m_frameBytes = 0;

    velmora::KvEngineClocks m_ownClocks;
    velmora::KvEngineClocks* m_clocks = nullptr;
    std::atomic<double> m_renderTime{0.0};
    std::array<double, kHistoryLength> m_history{};
    std::size_t m_historyCount = 0;
    std::size_t m_historyNext = 0;
    velmora::KvBitmapInfoHeader m_format;
    void* m_source = nullptr;

    std::vector<std::uint8_t> m_scratch;
    std::int16_t m_left[velmora::kKvLevelSlices] = {};
    std::int16_t m_right[velmora::kKvLevelSlices] = {};
    velmora::CKvLevelMap m_levelMap;
    bool m_levelMapTried = false;
};
