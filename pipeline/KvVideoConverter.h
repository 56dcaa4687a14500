#pragma once

// The graph owner of the engine and its conversion build.
//
// A conversion runs this graph:
//
//   time-line source (D seconds, 44100 Hz stereo s16, one buffer per 1/30 s frame)
//     → "Kv Audio Mixer" stage (calls CAudioMixerUserCallback: the project's mix)
//     → output chain: MP3 (libmp3lame, "mp3" muxer) for every output code but 7 and 8,
//       Windows Media (wmav2, "asf" muxer, configured from "tmp/wmv.prx") for 7 and 8
//     → a temporary file beside the output (PartialOutputPath), moved to the output
//       name once complete, never over a file that is there
//
// The graph runs unpaced: the source's streaming thread reads and mixes each buffer
// and resamples it into the output chain's frames; the chain's own thread encodes and
// writes them (AudioEncoderChain), so the sources' decoding and the encoder work side
// by side. When every source has handed out all it holds before the time line's end
// (a file that is shorter than its header says), the stream ends there: the output
// holds what the sources hold and never silence in their place. When the time line is
// through, the file is finished, played back (unless the job's flags skip that) and
// renamed first, and only then is EC_COMPLETE
// posted, so an owner that sees completion finds the file whole under its name. A
// chain that fails while running posts EC_ERRORABORT and leaves no file behind.
//
// Events: the graph queues its events and calls the notify callback (with the notify
// message) for each; the owner drains the queue with GetEvent / FreeEventParams on
// its own thread. The callback runs on the streaming thread, so it must only post.
//
// Positions: the converter publishes the play position into the job block itself
// (never above D, never backwards); the mixer callback writes into a private copy,
// so the two writers cannot race each other into a position that goes back.

#include "common/KvJobBlock.h"
#include "common/KvOptionRecord.h"
#include "media/KvLoudness.h"
#include "project/KvProjectData.h"
#include "pipeline/AudioEncoderChain.h"
#include "pipeline/AudioMixerUserCallback.h"
#include "pipeline/KvAudioMixerStage.h"
#include "pipeline/KvComTypes.h"
#include "pipeline/KvDirectAudio.h"
#include "pipeline/KvTrackCopy.h"
#include "pipeline/KvEngineClocks.h"
#include "pipeline/KvLevelMap.h"
#include "pipeline/KvTimeLineSource.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <optional>
#include <thread>
#include <vector>

class CKvEngineItem;
class CKvEngineProject;

namespace velmora {

// Graph events posted to the owner.
inline constexpr long EC_COMPLETE = 1;
inline constexpr long EC_USERABORT = 2;
inline constexpr long EC_ERRORABORT = 3;
// The output's true peak went over the loudness ceiling: nothing was kept, and the row
// is to be converted again with the loudness MeasuredLoudness() gives.
inline constexpr long EC_LOUDNESS_AGAIN = 4;

// GetEvent's result when the queue is empty.
inline constexpr HRESULT E_ABORT = static_cast<HRESULT>(0x80004004u);

// Graph states: those of a media graph, and 3 for no graph at all.
enum KvGraphState : int {
    kKvGraphStopped = 0,
    kKvGraphPaused = 1,
    kKvGraphRunning = 2,
    kKvGraphNone = 3,
};

// Stands in for a window and its private message: called with the message number
// each time the graph queues an event.
using KvNotifyCallback = std::function<void(int message)>;

// The project's time-line length: the largest dEditorEndTime among the items of the
// audio line (kind 1), 0 when there are none.
double GetProjectDuration(const CKvEngineProject* project);

// Raises a job block's dPosition to value (capped at limit) and never lowers it;
// several threads may call it at once.
void RaiseJobPosition(tagKvJobBlock& block, double value, double limit);

// What a conversion needs besides the project.
struct KvConverterSetup
{
    CKvEngineProject* project = nullptr;  // loaded; its audio line is the mix
    tagKvJobBlock* jobBlock = nullptr;    // mapped, or null (tests)
    tagKvOptionRecord option{};           // nOutputType, nAudioBitrate, nSampleRate, nChannels
    std::string programFolder;            // ends with "/"; empty: GetProgramFolder()
    IKvAudioSourceFactory* sources = nullptr; // null: the FFmpeg readers
};

} // namespace velmora

class CKvVideoConverter
{
public:
    // Build it after the project is loaded and the job block is mapped: the mixer
    // callback takes its flags from them at construction.
    explicit CKvVideoConverter(const velmora::KvConverterSetup& setup);
    virtual ~CKvVideoConverter();
    CKvVideoConverter(const CKvVideoConverter&) = delete;
    CKvVideoConverter& operator=(const CKvVideoConverter&) = delete;

    // Stores where events are announced. Returns 0.
    virtual velmora::HRESULT SetNotifyWindow(velmora::KvNotifyCallback notify, int message);
    // Stops a paused or running graph (abandoning an unfinished output). 0 when
    // nothing had to be done.
    virtual velmora::HRESULT Stop();
    // Resumes a paused graph; builds the conversion graph when there is none (and an
    // output path is set, else -1); 0 on a running graph.
    virtual velmora::HRESULT Run();
    // Holds a running graph between two buffers.
    virtual velmora::HRESULT Pause();
    // Stops and releases the graph; the converter can then build again. Returns 0.
    virtual velmora::HRESULT TearDown();
    // Seconds of the time line delivered so far (time-line frames ÷ frame rate,
    // never above the duration).
    virtual double GetPosition() const;
    // D while a graph exists, else 0.
    virtual double GetDuration() const;
    // Seconds the output holds when the sources ran out of sound before D (the
    // stream then ended there); negative while it holds, or will hold, the whole
    // time line.
    double GetSoundEnd() const { return m_soundEnd.load(); }

    // Builds the conversion graph for outputPath and runs it. 0 when it runs; a
    // negative code when it cannot be built (LastError() says why in one line; the
    // job block's bGraphRunning then stays 0 and no file is left behind).
    velmora::HRESULT BuildConversionGraph(const std::string& outputPath);

    virtual velmora::KvGraphState GetState() const;
    void SetOutputPath(const std::string& path) { m_outputPath = path; }
    const std::string& GetOutputPath() const { return m_outputPath; }
    double GetFrameRate() const { return m_frameRate; }

    // Takes the next queued event; E_ABORT when there is none within timeoutMs.
    velmora::HRESULT GetEvent(long& eventCode, std::intptr_t& param1, std::intptr_t& param2, int timeoutMs);
    velmora::HRESULT FreeEventParams(long eventCode, std::intptr_t param1, std::intptr_t param2);

    // Why the last build or run failed, in one line.
    std::string LastError() const;
    // What kind of failure LastError is, for the job block's failure code.
    velmora::KvJobFailure LastFailure() const;
    // What the build used instead of settings the encoder cannot take; empty when the
    // settings were used as they are.
    const std::string& SettingsNote() const { return m_settingsNote; }
    // What became of the row's loudness, for its tip ("-16 LUFS missed by 2.4 LU: ...");
    // empty when it came out as asked, or nothing was asked.
    const std::string& LoudnessNote() const { return m_loudnessNote; }
    // Measures the loudness of the time line's items together (an album's rows),
    // publishing its progress over the whole bar; nothing is encoded. On the calling
    // thread.
    bool MeasureLoudness(velmora::KvLoudness& measured, std::string& why);
    // The loudness measured for the gain (after EC_LOUDNESS_AGAIN, with its true peak).
    const velmora::KvLoudness& MeasuredLoudness() const { return m_measured; }
    // The row's loudness as measured before: no measuring pass, and the progress
    // published runs from progressFrom (a fraction of the bar) to its end.
    void SetKnownLoudness(const velmora::KvLoudness& loudness, double progressFrom);
    // The encoder settings of the last build.
    const velmora::AudioOutputSettings& OutputSettings() const { return m_outputSettings; }

    CAudioMixerUserCallback& AudioCallback() { return *m_audioCallback; }

protected:
    // Records why the build or run failed (LastError) and returns code.
    velmora::HRESULT Fail(velmora::HRESULT code, const std::string& why,
                          velmora::KvJobFailure kind = velmora::KvJobFailure::Internal);
    // Queues a graph event and announces it through the notify callback. Any thread.
    void PostEvent(long code, std::intptr_t param1 = 0, std::intptr_t param2 = 0);
    const velmora::KvConverterSetup& Setup() const { return m_setup; }

private:
    bool ChooseOutputSettings(bool isWindowsMedia);
    // The sound around the mix: the only item's own, straight into the encoder.
    velmora::HRESULT BuildDirectGraph(const CKvEngineItem& item, const std::string& outputPath, double duration);
    void RunDirect();
    void StopDirect();
    // The sound track kept as it is: copied, or for a trimmed lossless one cut to the
    // sample around the mix.
    velmora::HRESULT BuildOriginalGraph(const std::string& outputPath, double duration);
    void RunCopy();
    // Starts run on the converter's own thread for a graph that does not stream the mix.
    velmora::HRESULT StartOwnThread(double duration, void (CKvVideoConverter::*run)());
    // Loudness: what the row asks for (its first item's "loudness"), measured
    // beforehand where the gain depends on it (a pass through the items' trimmed
    // sound at their volume, no encoding), or heard on the way for the tags.
    void PrepareLoudness(bool copy);
    // The gain of a row to normalise, from the loudness and, where the ceiling may
    // hold it back, the true peak.
    bool FindGain(std::string& why);
    // Measures the items as mode says, publishing progress from..to of the bar.
    bool MeasureItems(velmora::KvLoudness& measured, velmora::KvMeterMode mode, double from, double to,
                      std::string& why);
    void ChooseGain(const velmora::KvLoudness& measured);
    std::vector<velmora::KvExtraTag> LoudnessTags(const velmora::KvLoudness& track, bool opus) const;
    // Brings buffers to the gain chosen and lets the meter hear them; returns what to write.
    const void* Loudness(const void* pcm, int frames, const velmora::AudioInputFormat& format);
    int OnBuffer(std::int16_t* pcm, int frames, int capacityFrames);
    void OnStreamEnd(int result);
    void PublishPosition(double seconds);

    velmora::KvConverterSetup m_setup;
    // The mixer callback writes its progress here; the converter passes it on.
    velmora::tagKvJobBlock m_shadowBlock{};
    velmora::KvEngineClocks m_clocks;
    std::unique_ptr<CAudioMixerUserCallback> m_audioCallback;
    std::unique_ptr<velmora::CKvAudioMixerStage> m_mixer;
    velmora::CKvLevelMap m_levelMap;

    velmora::CKvTimeLineSource m_source;
    velmora::AudioEncoderChain m_chain;
    // Set while the owner stops the graph: the stream's end is then no event.
    std::atomic<bool> m_stopping{false};
    // The stream's end is handled: the file finished or given up.
    std::atomic<bool> m_streamDone{false};
    std::atomic<double> m_soundEnd{-1.0};
    velmora::AudioOutputSettings m_outputSettings;
    std::string m_settingsNote;
    // The graph of a row with nothing to mix.
    std::unique_ptr<velmora::CKvDirectAudio> m_direct;
    std::unique_ptr<velmora::CKvTrackCopy> m_copy;
    std::thread m_directThread;
    std::atomic<bool> m_directStop{false};
    std::atomic<double> m_directPosition{0.0};

    std::optional<tagKvItemLoudness> m_loudness;
    bool m_needMeasure = false;    // the gain or the tags wait for a measuring pass
    double m_renderFrom = 0.0;     // of the progress the measuring passes took
    std::atomic<bool> m_measuring{false};
    std::atomic<double> m_measurePosition{0.0};
    double m_gain = 1.0;           // linear, on every sample the encoder gets
    velmora::KvLoudnessMeter m_meter; // hears the output's sound as it is encoded
    // A gain chosen without the true peak: the output's true peak is heard on the way.
    bool m_checkPeak = false;
    velmora::KvLoudnessMeter m_peakMeter;
    velmora::KvLoudness m_measured;
    std::optional<velmora::KvLoudness> m_known;
    double m_knownFrom = 0.0;
    std::vector<std::uint8_t> m_gainBuffer;
    std::string m_loudnessNote;

    velmora::KvNotifyCallback m_notify;
    int m_notifyMessage = 0;

    bool m_hasGraph = false;
    double m_duration = 0.0;
    double m_frameRate = 30.0;
    std::string m_outputPath;

    mutable std::mutex m_lock;  // the event queue and the error text
    std::condition_variable m_eventReady;
    struct GraphEvent
    {
        long code;
        std::intptr_t param1;
        std::intptr_t param2;
    };
    std::deque<GraphEvent> m_events;
    std::string m_lastError;
    velmora::KvJobFailure m_lastFailure = velmora::KvJobFailure::None;
};
