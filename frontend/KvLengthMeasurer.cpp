#include "frontend/KvLengthMeasurer.h"

#include "media/KvMediaInfo.h"

namespace velmora {

KvLengthMeasurer::KvLengthMeasurer(std::function<void(qint64 key, double seconds)> done)
    : m_done(std::move(done))
{
}

KvLengthMeasurer::~KvLengthMeasurer()
{
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_stop = true;
        m_jobs.clear();
    }
    m_wake.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

void KvLengthMeasurer::Measure(qint64 key, std::string path, int audioStream)
{
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_jobs.push_back({key, std::move(path), audioStream});
        ++m_pending;
        if (!m_thread.joinable())
            m_thread = std::thread([this] { Run(); });
    }
    m_wake.notify_one();
}

void KvLengthMeasurer::Run()
{
    for (;;) {
        Job job;
        {
            std::unique_lock<std::mutex> lock(m_lock);
            m_wake.wait(lock, [this] { return m_stop.load() || !m_jobs.empty(); });
            if (m_stop)
                return;
            job = std::move(m_jobs.front());
            m_jobs.pop_front();
        }
        const double seconds = MeasureSoundLength(job.path, job.audioStream, &m_stop);
        if (m_stop)
            return;
        // Queued to the context: once the measurer is gone, so is the call.
        QMetaObject::invokeMethod(
            &m_context,
            [this, key = job.key, seconds] {
                --m_pending;
                m_done(key, seconds);
            },
            Qt::QueuedConnection);
    }
}

} // namespace velmora
