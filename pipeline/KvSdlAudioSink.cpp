#include "pipeline/KvSdlAudioSink.h"

#include <SDL.h>

#include <algorithm>
#include <cstring>

namespace velmora {

namespace {

// The device's own buffer: small, so pausing and the position stay close to what is
// heard (about 23 ms at 44100 Hz).
constexpr Uint16 kDeviceFrames = 1024;

} // namespace

CKvSdlAudioSink::~CKvSdlAudioSink()
{
    Close();
}

bool CKvSdlAudioSink::Open(int sampleRate, int channels, int queueFrames)
{
    Close();
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_error.clear();
    }
    if (sampleRate <= 0 || channels <= 0 || channels > 8 || queueFrames <= 0) {
        SetError("the sound format is not valid");
        return false;
    }
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
        SetError(std::string("no sound device: ") + SDL_GetError());
        return false;
    }
    m_subsystem = true;

    SDL_AudioSpec wanted{};
    wanted.freq = sampleRate;
    wanted.format = AUDIO_S16SYS;
    wanted.channels = static_cast<Uint8>(channels);
    wanted.samples = kDeviceFrames;
    wanted.callback = &CKvSdlAudioSink::OnDeviceCallback;
    wanted.userdata = this;
    SDL_AudioSpec obtained{};
    // No changes allowed: SDL converts to whatever the hardware takes, so the queue
    // always holds our own format.
    const SDL_AudioDeviceID device = SDL_OpenAudioDevice(nullptr, 0, &wanted, &obtained, 0);
    if (device == 0) {
        SetError(std::string("the sound device cannot be opened: ") + SDL_GetError());
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        m_subsystem = false;
        return false;
    }

    std::lock_guard<std::mutex> lock(m_lock);
    m_channels = channels;
    m_ring.assign(static_cast<std::size_t>(queueFrames) * static_cast<std::size_t>(channels), 0);
    m_head = 0;
    m_count = 0;
    m_started = false;
    m_paused = false;
    m_aborted = false;
    m_draining = false;
    m_callbacks = 0;
    m_framesPlayed.store(0, std::memory_order_release);
    m_framesWritten.store(0, std::memory_order_release);
    m_device = device;
    return true;
}

void CKvSdlAudioSink::Close()
{
    Abort();
    if (m_device != 0) {
        // Joins SDL's audio thread: no callback runs after this.
        SDL_CloseAudioDevice(m_device);
        m_device = 0;
    }
    if (m_subsystem) {
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        m_subsystem = false;
    }
}

void CKvSdlAudioSink::OnDeviceCallback(void* userdata, std::uint8_t* stream, int length)
{
    static_cast<CKvSdlAudioSink*>(userdata)->Fill(stream, length);
}

void CKvSdlAudioSink::Fill(std::uint8_t* stream, int length)
{
    const std::size_t wanted = static_cast<std::size_t>(std::max(length, 0)) / sizeof(std::int16_t);
    auto* out = reinterpret_cast<std::int16_t*>(stream);
    std::size_t taken = 0;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        // Whole frames only, so the channels never swap.
        const std::size_t frameSamples = static_cast<std::size_t>(m_channels);
        const std::size_t available = (m_count / frameSamples) * frameSamples;
        taken = std::min((wanted / frameSamples) * frameSamples, available);
        const std::size_t capacity = m_ring.size();
        std::size_t done = 0;
        while (done < taken) {
            const std::size_t run = std::min(taken - done, capacity - m_head);
            std::memcpy(out + done, m_ring.data() + m_head, run * sizeof(std::int16_t));
            m_head = (m_head + run) % capacity;
            done += run;
        }
        m_count -= taken;
        ++m_callbacks;
        m_lastTake = std::chrono::steady_clock::now();
        m_framesPlayed.fetch_add(static_cast<std::int64_t>(taken / frameSamples), std::memory_order_acq_rel);
    }
    if (taken < wanted)
        std::memset(out + taken, 0, (wanted - taken) * sizeof(std::int16_t));
    m_changed.notify_all();
}

template <typename Ready>
bool CKvSdlAudioSink::WaitFor(std::unique_lock<std::mutex>& lock, Ready ready)
{
    // The stall clock runs only while the device is meant to play.
    m_lastTake = std::chrono::steady_clock::now();
    for (;;) {
        if (m_aborted)
            return false;
        if (ready())
            return true;
        m_changed.wait_for(lock, std::chrono::milliseconds(100));
        const auto now = std::chrono::steady_clock::now();
        if (!m_started || m_paused) {
            m_lastTake = now;
            continue;
        }
        if (now - m_lastTake > std::chrono::milliseconds(kStallTimeoutMs) && !m_aborted && !ready()) {
            m_error = "the sound device stopped playing";
            return false;
        }
    }
}

bool CKvSdlAudioSink::Write(const std::int16_t* pcm, int frames)
{
    if (pcm == nullptr || frames <= 0)
        return frames == 0;
    std::size_t left = static_cast<std::size_t>(frames) * static_cast<std::size_t>(m_channels);
    bool startNow = false;
    {
        std::unique_lock<std::mutex> lock(m_lock);
        if (m_device == 0)
            return false;
        const std::size_t capacity = m_ring.size();
        while (left > 0) {
            if (m_count == capacity && !m_started && !m_paused) {
                // The queue is primed: let the device run (outside our lock, which its
                // callback takes) and wait for room.
                lock.unlock();
                StartDevice();
                lock.lock();
            }
            if (!WaitFor(lock, [&] { return m_count < capacity || (!m_started && !m_paused); }))
                return false;
            if (m_count == capacity)
                continue;
            const std::size_t tail = (m_head + m_count) % capacity;
            const std::size_t run = std::min({left, capacity - m_count, capacity - tail});
            std::memcpy(m_ring.data() + tail, pcm, run * sizeof(std::int16_t));
            m_count += run;
            pcm += run;
            left -= run;
        }
        startNow = m_count == capacity && !m_started && !m_paused;
    }
    m_framesWritten.fetch_add(frames, std::memory_order_acq_rel);
    if (startNow)
        StartDevice();
    return true;
}

bool CKvSdlAudioSink::Drain()
{
    std::unique_lock<std::mutex> lock(m_lock);
    if (m_device == 0)
        return false;
    m_draining = true;
    if (!m_started && !m_paused) {
        lock.unlock();
        StartDevice();
        lock.lock();
    }
    if (!WaitFor(lock, [this] { return m_count == 0; }))
        return false;
    // The device has taken the last samples; once it asks again they have left its
    // buffer for the output.
    const std::uint64_t mark = m_callbacks;
    return WaitFor(lock, [this, mark] { return m_callbacks > mark; });
}

void CKvSdlAudioSink::StartDevice()
{
    {
        std::lock_guard<std::mutex> lock(m_lock);
        if (m_started || m_paused || m_device == 0)
            return;
        m_started = true;
    }
    SDL_PauseAudioDevice(m_device, 0);
    m_changed.notify_all();
}

void CKvSdlAudioSink::SetPaused(bool paused)
{
    bool release = false;
    bool startNow = false;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        if (m_device == 0 || m_paused == paused)
            return;
        m_paused = paused;
        release = m_started;
        // A stream that ended before the queue ever filled waits in Drain for a
        // device that has not started yet.
        startNow = !m_started && !paused && m_draining;
    }
    // Before the first start the device is held anyway; a release then resumes the
    // priming, and the next full queue (or Drain) starts it.
    if (release)
        SDL_PauseAudioDevice(m_device, paused ? 1 : 0);
    if (startNow)
        StartDevice();
    m_changed.notify_all();
}

void CKvSdlAudioSink::Abort()
{
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_aborted = true;
        m_count = 0;
    }
    m_changed.notify_all();
}

std::string CKvSdlAudioSink::LastError() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_error;
}

std::string CKvSdlAudioSink::DriverName() const
{
    if (m_device == 0)
        return {};
    const char* name = SDL_GetCurrentAudioDriver();
    return name ? name : "";
}

void CKvSdlAudioSink::SetError(const std::string& why)
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_error = why;
}

} // namespace velmora
