#pragma once

// The time-line source: the head of every engine graph. For a time line of D seconds
// it delivers, on its own streaming thread and without pacing, one buffer of
// interleaved signed 16-bit stereo PCM per time-line frame: at 30 frames per second
// and 44100 Hz that is 1470 frames a buffer, the last one partial, round(D × 44100)
// frames in all. The buffers carry silence; the mixer stage behind the source
// replaces it with the project's mix, so only their timing and format matter.
//
// Buffer k ends at sample round((k + 1) × rate ÷ fps) (capped at the total), so the
// buffer edges never drift from the frame edges however long the time line is.
//
// Threads: Start, Pause, Resume and Stop come from the owner's thread; both sinks run
// on the streaming thread. Stop joins the thread, after which neither sink runs again.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

namespace velmora {

class CKvTimeLineSource
{
public:
    // Gets each buffer: pcm holds frames valid stereo frames and has room for
    // capacityFrames. The sink may rewrite it in place. A negative result stops the
    // stream and is passed to the end sink; kEndsHere makes this buffer the last, as
    // if the time line ended with it.
    using BufferSink = std::function<int(std::int16_t* pcm, int frames, int capacityFrames)>;
    // Called once when the stream ends by itself: 0 after the last buffer, or the
    // buffer sink's negative result. Not called when the owner stops the stream.
    using EndSink = std::function<void(int result)>;

    static constexpr int kEndsHere = 1;

    CKvTimeLineSource() = default;
    ~CKvTimeLineSource();
    CKvTimeLineSource(const CKvTimeLineSource&) = delete;
    CKvTimeLineSource& operator=(const CKvTimeLineSource&) = delete;

    // Frames of a time line of duration seconds: round(duration × sampleRate); 0 for
    // a duration that is not above 0, not finite or too long to count.
    static std::int64_t TotalFrames(double duration, int sampleRate);
    // Frames that buffers 0..k together cover (the end of buffer k).
    static std::int64_t BufferEnd(std::int64_t k, std::int64_t totalFrames, double frameRate, int sampleRate);
    static std::int64_t BufferCount(std::int64_t totalFrames, double frameRate, int sampleRate);

    // Starts the streaming thread (stopping an earlier stream first). False when the
    // arguments cannot describe a stream (no frames, frame rate or rate not above 0).
    bool Start(double duration, double frameRate, int sampleRate, BufferSink onBuffer, EndSink onEnd);
    // Holds the stream between two buffers until Resume or Stop; returns once the
    // buffer in flight is through.
    void Pause();
    void Resume();
    // Ends the stream and joins the thread. Harmless when nothing runs. Called from a
    // sink (on the streaming thread) it only asks the stream to end.
    void Stop();

    bool IsStarted() const { return m_thread.joinable(); }
    bool IsPaused() const { return m_paused.load(); }
    bool HasEnded() const { return m_ended.load(); }
    std::int64_t FramesDelivered() const { return m_framesDelivered.load(); }
    std::int64_t BuffersDelivered() const { return m_buffersDelivered.load(); }

private:
    void Stream(std::int64_t totalFrames, double frameRate, int sampleRate, BufferSink onBuffer, EndSink onEnd);

    std::thread m_thread;
    std::mutex m_lock;
    std::condition_variable m_wake;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_paused{false};
    std::atomic<bool> m_ended{false};
    bool m_held = false;      // the streaming thread waits in Pause (under m_lock)
    bool m_finished = false;  // the streaming thread has left (under m_lock)
    std::atomic<std::int64_t> m_framesDelivered{0};
    std::atomic<std::int64_t> m_buffersDelivered{0};
};

} // namespace velmora
