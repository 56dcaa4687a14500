#include "common/KvLog.h"

#include <mutex>

namespace velmora {

namespace {

std::mutex& SinkLock()
{
    static std::mutex lock;
    return lock;
}

KvLogSink& Sink()
{
    static KvLogSink sink;
    return sink;
}

} // namespace

void SetLogSink(KvLogSink sink)
{
    std::lock_guard<std::mutex> lock(SinkLock());
    Sink() = std::move(sink);
}

void LogLine(std::string_view line)
{
    // Held while the sink runs, so lines from two threads never interleave.
    std::lock_guard<std::mutex> lock(SinkLock());
    if (Sink())
        Sink()(line);
}

} // namespace velmora
