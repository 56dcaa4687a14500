#include "pipeline/KvOutputCheck.h"

#include "media/KvFFMpegDeleters.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

extern "C" {
#include <libavformat/avio.h>
#include <libavutil/mem.h>
}

namespace velmora {

namespace {

constexpr int kReadBufferBytes = 64 * 1024;
// The decoder catches up in runs of this much (about a minute of a 128 kbit/s file),
// not at every write: a thread that woke at each one would take turns with the
// encoder's and cost more in switching than in decoding.
constexpr std::int64_t kBatchBytes = 1 << 20;

} // namespace

CKvOutputCheck::~CKvOutputCheck()
{
    Stop();
}

bool CKvOutputCheck::Start(const std::string& path)
{
    Stop();
    m_fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (m_fd < 0)
        return false;
    m_available = 0;
    m_position = 0;
    m_batch = kBatchBytes;
    m_wakeAt = kBatchBytes;
    m_done = false;
    m_abandoned = false;
    m_result = DecodedLength{};
    m_thread = std::thread([this] { Run(); });
    return true;
}

void CKvOutputCheck::Grow(std::int64_t bytes)
{
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (bytes <= m_available)
            return;
        m_available = bytes;
        // Woken only once the reader has a run to read, not at every write.
        if (m_available < m_wakeAt)
            return;
    }
    m_grown.notify_all();
}

DecodedLength CKvOutputCheck::Finish()
{
    if (!m_thread.joinable()) {
        DecodedLength none;
        none.error = "cannot be read back";
        return none;
    }
    End(false);
    return m_result;
}

void CKvOutputCheck::Stop()
{
    End(true);
}

void CKvOutputCheck::End(bool abandon)
{
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_done = true;
        m_abandoned = m_abandoned || abandon;
    }
    m_grown.notify_all();
    if (m_thread.joinable())
        m_thread.join();
    if (m_fd >= 0)
        close(m_fd);
    m_fd = -1;
}

int CKvOutputCheck::ReadPacket(void* opaque, std::uint8_t* data, int size)
{
    auto* self = static_cast<CKvOutputCheck*>(opaque);
    std::int64_t available = 0;
    bool done = false;
    {
        std::unique_lock<std::mutex> lock(self->m_lock);
        self->m_wakeAt = self->m_position + self->m_batch;
        self->m_grown.wait(lock, [self] {
            return self->m_abandoned || self->m_done || self->m_available >= self->m_wakeAt;
        });
        if (self->m_abandoned)
            return AVERROR_EXIT;
        available = self->m_available;
        done = self->m_done;
    }
    // Read on to where the writer is, then wait for the next run.
    self->m_batch = available - self->m_position > kReadBufferBytes ? 1 : kBatchBytes;
    // Once the writer is done, everything in the file counts, whatever was announced.
    const std::int64_t room = done ? size : std::min<std::int64_t>(size, available - self->m_position);
    for (;;) {
        const ssize_t n = pread(self->m_fd, data, static_cast<size_t>(room), static_cast<off_t>(self->m_position));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return AVERROR(errno);
        if (n == 0)
            return AVERROR_EOF;
        self->m_position += n;
        return static_cast<int>(n);
    }
}

void CKvOutputCheck::Run()
{
    // The writer's threads come first: the check takes what time they leave.
    setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)), 19);
    auto* buffer = static_cast<std::uint8_t*>(av_malloc(kReadBufferBytes));
    AVIOContext* io =
        buffer != nullptr ? avio_alloc_context(buffer, kReadBufferBytes, 0, this, &ReadPacket, nullptr, nullptr) : nullptr;
    if (io == nullptr) {
        av_free(buffer);
        m_result.error = "cannot be read back: out of memory";
        return;
    }
    io->seekable = 0;
    MeasureDecodedLength(io, m_result);
    av_freep(&io->buffer);
    avio_context_free(&io);
}

} // namespace velmora
