#pragma once

// The sound device of a preview: an SDL2 audio output device (audio subsystem only)
// fed from a bounded queue of interleaved signed 16-bit PCM.
//
// The streaming thread writes mixed buffers with Write, which waits while the queue
// is full, so the device's own pace paces the whole graph. SDL's audio thread takes
// the samples out in its callback; only what it has taken counts as played
// (FramesPlayed), so a position built on it follows what the listener hears rather
// than what was mixed ahead. When the queue runs dry the device gets silence, and
// that silence is not counted.
//
// The device starts held and begins to play once the queue has filled for the first
// time (or at Drain), so slow opening of the sources never puts a gap of silence at
// the start.
//
// Threads: Open, Close, SetPaused and Abort come from the owner's thread; Write and
// Drain from one streaming thread. A device that stops asking for samples (unplugged,
// its server gone) makes Write and Drain fail after a few seconds instead of waiting
// for ever.
//
// The object owns the device and its share of SDL's audio subsystem: both are
// released by Close or the destructor.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace velmora {

class CKvSdlAudioSink
{
public:
    // How long the device may take no samples, while playing, before Write or Drain
    // give up on it.
    static constexpr int kStallTimeoutMs = 3000;

    CKvSdlAudioSink() = default;
    ~CKvSdlAudioSink();
    CKvSdlAudioSink(const CKvSdlAudioSink&) = delete;
    CKvSdlAudioSink& operator=(const CKvSdlAudioSink&) = delete;

    // Opens the default output device for sampleRate, channels, signed 16-bit
    // (SDL converts when the hardware wants something else), with a queue of
    // queueFrames. False, with LastError saying why, when there is no sound device or
    // it cannot be opened. Opening again closes the earlier device first.
    bool Open(int sampleRate, int channels, int queueFrames);
    // Stops the device and releases it and the audio subsystem. Harmless when closed.
    void Close();
    bool IsOpen() const { return m_device != 0; }

    // Queues frames of pcm, waiting for room as long as needed. False when the sink
    // was aborted or closed, or the device stopped taking samples.
    bool Write(const std::int16_t* pcm, int frames);
    // Waits until everything written has been played: the queue is empty and the
    // device has come back for more after taking the last samples. False as Write.
    bool Drain();
    // Holds or releases the device. A held device takes nothing; Write and Drain
    // then wait without counting the time against the device.
    void SetPaused(bool paused);
    // Makes a waiting Write or Drain return false at once, and every later one too,
    // and drops what is queued. Any thread.
    void Abort();

    std::int64_t FramesPlayed() const { return m_framesPlayed.load(std::memory_order_acquire); }
    std::int64_t FramesWritten() const { return m_framesWritten.load(std::memory_order_acquire); }
    // Why Open, Write or Drain failed, in one line.
    std::string LastError() const;
    // The SDL audio driver in use ("pulseaudio", "alsa", "disk", ...); empty when closed.
    std::string DriverName() const;

private:
    static void OnDeviceCallback(void* userdata, std::uint8_t* stream, int length);
    void Fill(std::uint8_t* stream, int length);
    void StartDevice();
    // Waits (lock held) until ready() or an abort; false on abort or a stalled device.
    template <typename Ready>
    bool WaitFor(std::unique_lock<std::mutex>& lock, Ready ready);
    void SetError(const std::string& why);

    std::uint32_t m_device = 0;  // SDL_AudioDeviceID
    bool m_subsystem = false;    // we hold a share of SDL's audio subsystem
    int m_channels = 2;

    mutable std::mutex m_lock;
    std::condition_variable m_changed;
    std::vector<std::int16_t> m_ring;  // capacity: the queue, in samples
    std::size_t m_head = 0;            // next sample the device takes
    std::size_t m_count = 0;           // samples queued
    bool m_started = false;            // the device has been released once
    bool m_paused = false;             // held by the owner
    bool m_aborted = false;
    bool m_draining = false;           // the stream has ended: Drain waits
    std::uint64_t m_callbacks = 0;     // device callbacks so far
    std::chrono::steady_clock::time_point m_lastTake{};
    std::string m_error;

    std::atomic<std::int64_t> m_framesPlayed{0};
    std::atomic<std::int64_t> m_framesWritten{0};
};

} // namespace velmora
