#include "pipeline/KvTimeLineSource.h"

#include "common/KvNumeric.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace velmora {

CKvTimeLineSource::~CKvTimeLineSource()
{
    Stop();
    if (m_thread.joinable())
        m_thread.join();
}

std::int64_t CKvTimeLineSource::TotalFrames(double duration, int sampleRate)
{
    std::int64_t frames = 0;
    if (!std::isfinite(duration) || duration <= 0.0 || sampleRate <= 0 || !RoundToInt64(duration * sampleRate, frames))
        return 0;
    return frames;
}

std::int64_t CKvTimeLineSource::BufferEnd(std::int64_t k, std::int64_t totalFrames, double frameRate, int sampleRate)
{
    const double end = std::round(static_cast<double>(k + 1) * sampleRate / frameRate);
    return std::min<std::int64_t>(static_cast<std::int64_t>(end), totalFrames);
}

std::int64_t CKvTimeLineSource::BufferCount(std::int64_t totalFrames, double frameRate, int sampleRate)
{
    if (totalFrames <= 0 || frameRate <= 0.0 || sampleRate <= 0)
        return 0;
    // The smallest k whose end reaches the total; the estimate is off by one at most.
    std::int64_t k = static_cast<std::int64_t>(std::ceil(static_cast<double>(totalFrames) * frameRate / sampleRate));
    while (k > 1 && BufferEnd(k - 2, totalFrames, frameRate, sampleRate) >= totalFrames)
        --k;
    while (BufferEnd(k - 1, totalFrames, frameRate, sampleRate) < totalFrames)
        ++k;
    return k;
}

bool CKvTimeLineSource::Start(double duration, double frameRate, int sampleRate, BufferSink onBuffer, EndSink onEnd)
{
    Stop();
    const std::int64_t total = TotalFrames(duration, sampleRate);
    if (total <= 0 || !(frameRate > 0.0) || !onBuffer)
        return false;
    m_stop = false;
    m_paused = false;
    m_ended = false;
    m_framesDelivered = 0;
    m_buffersDelivered = 0;
    m_held = false;
    m_finished = false;
    m_thread = std::thread(&CKvTimeLineSource::Stream, this, total, frameRate, sampleRate, std::move(onBuffer),
                           std::move(onEnd));
    return true;
}

void CKvTimeLineSource::Pause()
{
    std::unique_lock<std::mutex> lock(m_lock);
    m_paused = true;
    // Return only once the stream is held, so a paused graph really delivers nothing
    // more; a sink that pauses its own stream cannot wait for itself.
    if (m_thread.joinable() && m_thread.get_id() != std::this_thread::get_id())
        m_wake.wait(lock, [this] { return m_held || m_ended.load() || m_stop.load() || m_finished; });
}

void CKvTimeLineSource::Resume()
{
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_paused = false;
    }
    m_wake.notify_all();
}

void CKvTimeLineSource::Stop()
{
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_stop = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable() && m_thread.get_id() != std::this_thread::get_id())
        m_thread.join();
}

void CKvTimeLineSource::Stream(std::int64_t totalFrames, double frameRate, int sampleRate, BufferSink onBuffer,
                               EndSink onEnd)
{
    struct FinishedMark
    {
        CKvTimeLineSource& source;
        ~FinishedMark()
        {
            std::lock_guard<std::mutex> lock(source.m_lock);
            source.m_finished = true;
            source.m_wake.notify_all();
        }
    } finishedMark{*this};

    const int capacity = static_cast<int>(std::ceil(sampleRate / frameRate)) + 1;
    std::vector<std::int16_t> pcm(static_cast<std::size_t>(capacity) * 2);
    const std::int64_t count = BufferCount(totalFrames, frameRate, sampleRate);
    std::int64_t start = 0;
    int result = 0;
    for (std::int64_t k = 0; k < count; ++k) {
        {
            std::unique_lock<std::mutex> lock(m_lock);
            if (m_paused) {
                m_held = true;
                m_wake.notify_all();
                m_wake.wait(lock, [this] { return m_stop.load() || !m_paused.load(); });
                m_held = false;
            }
        }
        if (m_stop)
            return;
        const std::int64_t end = BufferEnd(k, totalFrames, frameRate, sampleRate);
        const int frames = static_cast<int>(end - start);
        std::fill(pcm.begin(), pcm.end(), std::int16_t{0});
        result = onBuffer(pcm.data(), frames, capacity);
        if (result < 0)
            break;
        start = end;
        m_framesDelivered = end;
        ++m_buffersDelivered;
        if (result == kEndsHere)
            break;
    }
    if (m_stop)
        return;
    m_ended = true;
    if (onEnd)
        onEnd(result < 0 ? result : 0);
}

} // namespace velmora
