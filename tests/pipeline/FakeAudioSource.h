#pragma once

// A scripted audio source for the mixer tests. It behaves as the real reader does
// towards its caller: SetLeadIn puts silence in front of the first audio, Seek may
// be negative (more silence), and every GetBuffer hands out the next frames at the
// requested rate. Sample values come from a function of the source frame index at
// that rate, so a test can tell exactly which source frame landed where.

#include "pipeline/IKvAudioSource.h"

#include <cmath>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace velmora::test {

// Left and right value of source frame k (k ≥ 0) at the requested rate.
using SampleFunction = std::function<std::pair<std::int16_t, std::int16_t>(std::int64_t k, int rate)>;

inline SampleFunction Constant(std::int16_t left, std::int16_t right)
{
    return [=](std::int64_t, int) { return std::make_pair(left, right); };
}

// Never zero, different on both channels, and unique for the first 30000 frames:
// left = k mod 30000 + 1, right = −left.
inline SampleFunction Ramp()
{
    return [](std::int64_t k, int) {
        const auto v = static_cast<std::int16_t>(k % 30000 + 1);
        return std::make_pair(v, static_cast<std::int16_t>(-v));
    };
}

struct FakeSourceLog
{
    std::vector<double> leadIns;
    std::vector<double> seeks;
    std::vector<std::pair<int, int>> requests; // frames, rate
};

class FakeAudioSource : public IKvAudioSource
{
public:
    // seconds: how long the source's audio lasts (after its lead-in); negative: endless.
    FakeAudioSource(SampleFunction samples, std::shared_ptr<FakeSourceLog> log, bool failing,
                    double firstAudioTime = 0.0, double seconds = -1.0)
        : m_samples(std::move(samples)), m_log(std::move(log)), m_failing(failing), m_firstAudio(firstAudioTime),
          m_seconds(seconds)
    {
    }

    std::string OpenError() const override { return m_failing ? "cannot be opened as media" : std::string(); }
    double FirstAudioTime() override { return m_firstAudio; }

    void SetLeadIn(double seconds) override
    {
        m_leadIn = seconds;
        m_log->leadIns.push_back(seconds);
    }

    void Seek(double seconds) override
    {
        m_position = seconds;
        m_started = false;
        m_log->seeks.push_back(seconds);
    }

    const std::int16_t* GetBuffer(int frames, int rate) override
    {
        m_log->requests.emplace_back(frames, rate);
        if (m_failing)
            return nullptr;
        if (!m_started) {
            // Source frame index of the next frame handed out (negative: silence).
            m_next = std::llround((m_position - m_leadIn) * rate);
            m_started = true;
        }
        const std::int64_t end = m_seconds < 0.0 ? INT64_MAX : std::llround(m_seconds * rate);
        if (m_next >= end) {
            m_delivered = 0;
            return nullptr;
        }
        m_buffer.assign(static_cast<std::size_t>(frames) * 2, 0);
        m_delivered = 0;
        for (int i = 0; i < frames && m_next < end; ++i, ++m_next, ++m_delivered) {
            if (m_next < 0)
                continue;
            auto [l, r] = m_samples(m_next, rate);
            m_buffer[2 * i] = l;
            m_buffer[2 * i + 1] = r;
        }
        m_exhausted = m_next >= end;
        return m_buffer.data();
    }

    int LastDeliveredFrames() const override { return m_delivered; }
    bool IsExhausted() const override { return m_exhausted; }

private:
    SampleFunction m_samples;
    std::shared_ptr<FakeSourceLog> m_log;
    bool m_failing;
    double m_firstAudio;
    double m_seconds;
    int m_delivered = 0;
    bool m_exhausted = false;
    double m_leadIn = 0.0;
    double m_position = 0.0;
    bool m_started = false;
    std::int64_t m_next = 0;
    std::vector<std::int16_t> m_buffer;
};

// Serves FakeAudioSources by path; an unknown path gives a source that never
// delivers (as the real reader does on a file it cannot read).
class FakeAudioSourceFactory : public IKvAudioSourceFactory
{
public:
    struct Entry
    {
        SampleFunction samples;
        double firstAudioTime = 0.0;
        double seconds = -1.0;
        std::shared_ptr<FakeSourceLog> log = std::make_shared<FakeSourceLog>();
    };

    std::shared_ptr<FakeSourceLog> Add(const std::string& path, SampleFunction samples, double firstAudioTime = 0.0,
                                       double seconds = -1.0)
    {
        Entry entry;
        entry.samples = std::move(samples);
        entry.firstAudioTime = firstAudioTime;
        entry.seconds = seconds;
        m_entries[path] = entry;
        return entry.log;
    }

    std::unique_ptr<IKvAudioSource> Open(const std::string& path, double engineFrameRate, int audioStream) override
    {
        opens.push_back(path);
        openFrameRates.push_back(engineFrameRate);
        openStreams.push_back(audioStream);
        auto it = m_entries.find(path);
        if (it == m_entries.end())
            return std::make_unique<FakeAudioSource>(Constant(0, 0), std::make_shared<FakeSourceLog>(), true);
        return std::make_unique<FakeAudioSource>(it->second.samples, it->second.log, false,
                                                 it->second.firstAudioTime, it->second.seconds);
    }

    std::vector<std::string> opens;
    std::vector<double> openFrameRates;
    std::vector<int> openStreams;

private:
    std::map<std::string, Entry> m_entries;
};

} // namespace velmora::test
