#pragma once

// Measures how long sound-only sources really last (MeasureSoundLength) on a worker
// thread of its own, one file after another, so adding a thousand files shows them
// at once and their lengths fill in as they are measured. Results come back on the
// thread that made the measurer, through its event loop.

#include <QObject>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace velmora {

class KvLengthMeasurer
{
public:
    // done(key, seconds) runs on the creating thread for every measured file;
    // seconds is 0 when the file could not be measured.
    explicit KvLengthMeasurer(std::function<void(qint64 key, double seconds)> done);
    // Drops what is still queued, cancels the file being measured, joins the worker.
    ~KvLengthMeasurer();
    KvLengthMeasurer(const KvLengthMeasurer&) = delete;
    KvLengthMeasurer& operator=(const KvLengthMeasurer&) = delete;

    // Queues path (UTF-8), sound track audioStream (-1: the first).
    void Measure(qint64 key, std::string path, int audioStream);
    // Files queued or being measured whose result has not been handed back yet.
    int Pending() const { return m_pending.load(); }

private:
    struct Job
    {
        qint64 key;
        std::string path;
        int audioStream;
    };
    void Run();

    std::function<void(qint64, double)> m_done;
    QObject m_context; // results are delivered to it; gone with the measurer
    std::thread m_thread;
    std::mutex m_lock;
    std::condition_variable m_wake;
    std::deque<Job> m_jobs;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_pending{0};
};

} // namespace velmora
