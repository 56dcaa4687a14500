#pragma once

// The preview player: plays the project's time line to the sound device while a
// picture branch runs beside it.
//
//   time-line source (D seconds, 44100 Hz stereo s16, one 2940-frame buffer per
//   1/15 s frame)
//     → "Kv Audio Mixer" stage (the same CAudioMixerUserCallback as a conversion)
//     → SDL2 sound device (CKvSdlAudioSink), which paces the stream
//
//   frame clock (15 fps, following what the device has played)
//     → "Kv Video Mixer" stage (CVideoMixerUserCallback)
//     → a frame sink that draws nothing: an audio preview shows no picture
//
// Position: what the device has taken from the queue (never what was mixed ahead),
// plus the start position, at most the duration. EC_COMPLETE is posted once both
// branches are through and the device has played the last sample; a device that
// fails while playing ends the graph with EC_ERRORABORT (LastError says why).
//
// States: no graph → built (BuildPreviewGraph; the job block's bGraphRunning = 1) →
// running (Run) ↔ paused (Pause / Run) → stopped (Stop, or the end of the time
// line). Stop holds the graph where it is, and Run goes on from there; Run on a graph
// that has played to its end announces the end again. TearDown releases everything,
// the sound device included; the next Run builds anew.
//
// Threads: the operations come from the owner's thread; the audio branch streams on
// the source's thread, the picture branch on a thread of its own, and SDL calls the
// device from its audio thread.

#include "pipeline/KvAudioMixerStage.h"
#include "pipeline/KvSdlAudioSink.h"
#include "pipeline/KvTimeLineSource.h"
#include "pipeline/KvVideoConverter.h"
#include "pipeline/KvVideoMixerStage.h"
#include "pipeline/VideoMixerUserCallback.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

class CKvTimeLinePlayer : public CKvVideoConverter
{
public:
    static constexpr double kFrameRate = 15.0;
    static constexpr int kSampleRate = 44100;
    static constexpr int kChannels = 2;
    // Mixed audio held ahead of the device: four time-line frames (about 0.27 s).
    static constexpr int kQueueFrames = 4 * 2940;

    // ownerDialog: the dialog that drives the player (kept, not used). Build it after
    // the project is loaded and the job block is mapped.
    CKvTimeLinePlayer(const velmora::KvConverterSetup& setup, void* ownerDialog = nullptr);
    ~CKvTimeLinePlayer() override;

    velmora::HRESULT Stop() override;
    // Running: 0. Paused or stopped: goes on. No graph: builds the preview graph and
    // runs it; a build that leaves bGraphRunning at 0 sets the job block's bPlayFailed.
    velmora::HRESULT Run() override;
    velmora::HRESULT Pause() override;
    velmora::HRESULT TearDown() override;
    // Seconds played: start position + what the device has played, at most the
    // duration; 0 without a graph.
    double GetPosition() const override;
    // The duration of the last build.
    double GetDuration() const override;
    velmora::KvGraphState GetState() const override;

    // Builds the preview graph (tearing down an earlier one) and opens the sound
    // device. 0 when built; -1 for a time line without length or no sound device
    // (LastError says why); bGraphRunning is then left at 0.
    virtual velmora::HRESULT BuildPreviewGraph();

    // The window the picture would go into (hPreviewWnd); 0 for none. Returns 0.
    velmora::HRESULT SetOwnerWindow(std::uint32_t window);
    std::uint32_t OwnerWindow() const { return m_ownerWindow; }
    void* OwnerDialog() const { return m_ownerDialog; }
    double GetStartPosition() const { return m_startPosition; }

    CVideoMixerUserCallback& VideoCallback() { return *m_videoCallback; }
    // Frames the picture branch has delivered since the last build.
    std::int64_t FramesRendered() const { return m_framesRendered.load(); }
    std::int64_t FramesPlayed() const { return m_sink.FramesPlayed(); }
    bool HasPictureBranch() const { return m_videoStage.HasFrames(); }

private:
    velmora::HRESULT StartStreams();
    void HoldStreams(bool hold);
    void RunPictures(std::int64_t frames);
    void BranchEnded(int result, const std::string& why = std::string());
    void StopPictures();

    void* m_ownerDialog = nullptr;
    std::uint32_t m_ownerWindow = 0;
    double m_startPosition = 0.0;
    double m_duration = 0.0;

    std::unique_ptr<CVideoMixerUserCallback> m_videoCallback;
    velmora::CKvAudioMixerStage m_audioStage{kSampleRate, kChannels};
    velmora::CKvVideoMixerStage m_videoStage;
    velmora::CKvSdlAudioSink m_sink;
    velmora::CKvTimeLineSource m_source;
    std::thread m_pictures;

    bool m_hasGraph = false;
    bool m_started = false;   // the streams were started
    bool m_held = false;      // paused or stopped
    bool m_stopped = false;   // held by Stop
    std::atomic<bool> m_ended{false};
    std::atomic<int> m_endResult{0};  // how the streams ended: 0, or the failure
    std::atomic<bool> m_tearingDown{false};
    std::atomic<int> m_branchesLeft{0};
    std::atomic<std::int64_t> m_framesRendered{0};

    std::mutex m_pictureLock;
    std::condition_variable m_pictureWake;
    bool m_pictureHeld = false;
    bool m_pictureStop = false;
};
