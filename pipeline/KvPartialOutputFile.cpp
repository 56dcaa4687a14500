#include "pipeline/KvPartialOutputFile.h"

#include "common/KvOutputFile.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

extern "C" {
#include <libavformat/avio.h>
#include <libavutil/error.h>
#include <libavutil/mem.h>
}

namespace velmora {

namespace {

constexpr int kIoBufferBytes = 64 * 1024;

} // namespace

CKvPartialOutputFile::~CKvPartialOutputFile()
{
    Discard();
}

int CKvPartialOutputFile::Fail(int code, const std::string& why)
{
    m_error = why;
    return code;
}

int CKvPartialOutputFile::Create(const std::string& finalPath)
{
    Discard();
    m_error.clear();
    m_finalPath = finalPath;
    m_partPath = PartialOutputPath(finalPath);
    const int fd = CreateExclusiveFile(m_partPath);
    if (fd < 0) {
        if (fd == -EEXIST)
            return Fail(AVERROR(EEXIST), "the temporary file " + m_partPath + " is already there");
        return Fail(AVERROR(-fd), "cannot write " + m_partPath + ": " + std::strerror(-fd));
    }
    m_fd = fd;
    m_created = true;
    m_size = 0;
    auto* buffer = static_cast<unsigned char*>(av_malloc(kIoBufferBytes));
    if (buffer != nullptr)
        m_io = avio_alloc_context(buffer, kIoBufferBytes, 1, this, nullptr, &WritePacket, &SeekTo);
    if (m_io == nullptr) {
        av_free(buffer);
        Discard();
        return Fail(AVERROR(ENOMEM), "out of memory");
    }
    return 0;
}

int CKvPartialOutputFile::WritePacket(void* opaque, std::uint8_t* data, int size)
{
    auto* self = static_cast<CKvPartialOutputFile*>(opaque);
    int done = 0;
    while (done < size) {
        const ssize_t n = write(self->m_fd, data + done, static_cast<size_t>(size - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return AVERROR(n < 0 ? errno : EIO);
        done += static_cast<int>(n);
    }
    if (self->m_onGrowth) {
        const off_t at = lseek(self->m_fd, 0, SEEK_CUR);
        if (at > self->m_size) {
            self->m_size = at;
            self->m_onGrowth(self->m_size);
        }
    }
    return done;
}

std::int64_t CKvPartialOutputFile::SeekTo(void* opaque, std::int64_t offset, int whence)
{
    auto* self = static_cast<CKvPartialOutputFile*>(opaque);
    if (whence & AVSEEK_SIZE) {
        struct stat st {};
        return fstat(self->m_fd, &st) == 0 ? static_cast<std::int64_t>(st.st_size) : AVERROR(errno);
    }
    const off_t at = lseek(self->m_fd, static_cast<off_t>(offset), whence & ~AVSEEK_FORCE);
    return at >= 0 ? static_cast<std::int64_t>(at) : AVERROR(errno);
}

int CKvPartialOutputFile::ReadAt(std::int64_t offset, std::uint8_t* data, std::size_t size)
{
    return TransferAt(offset, data, size, false);
}

int CKvPartialOutputFile::WriteAt(std::int64_t offset, const std::uint8_t* data, std::size_t size)
{
    return TransferAt(offset, const_cast<std::uint8_t*>(data), size, true);
}

int CKvPartialOutputFile::TransferAt(std::int64_t offset, std::uint8_t* data, std::size_t size, bool write)
{
    if (m_io == nullptr || m_fd < 0)
        return AVERROR(EINVAL);
    avio_flush(m_io);
    if (m_io->error < 0)
        return m_io->error;
    for (std::size_t done = 0; done < size;) {
        const off_t at = static_cast<off_t>(offset + static_cast<std::int64_t>(done));
        const ssize_t n = write ? pwrite(m_fd, data + done, size - done, at) : pread(m_fd, data + done, size - done, at);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return AVERROR(n < 0 ? errno : EIO);
        done += static_cast<std::size_t>(n);
    }
    return 0;
}

int CKvPartialOutputFile::CloseFile()
{
    int result = 0;
    if (m_io != nullptr) {
        avio_flush(m_io);
        if (m_io->error < 0)
            result = m_io->error;
        av_freep(&m_io->buffer);
        avio_context_free(&m_io);
    }
    if (m_fd >= 0) {
        // A full disk or a network share may only report a failed write here.
        if (close(m_fd) != 0 && result == 0)
            result = AVERROR(errno);
        m_fd = -1;
    }
    return result;
}

int CKvPartialOutputFile::Close()
{
    if (!m_created)
        return Fail(AVERROR(EINVAL), "nothing was written");
    const int closed = CloseFile();
    if (closed < 0) {
        char text[AV_ERROR_MAX_STRING_SIZE] = {};
        av_strerror(closed, text, sizeof text);
        return Fail(closed, "writing " + m_partPath + " failed: " + text);
    }
    return 0;
}

int CKvPartialOutputFile::Commit()
{
    if (const int closed = Close(); closed < 0) {
        Discard();
        return closed;
    }
    const int moved = MoveNoReplace(m_partPath, m_finalPath);
    if (moved == -EEXIST) {
        Discard();
        return Fail(AVERROR(EEXIST), "the output name " + m_finalPath + " was taken while the file was written");
    }
    if (moved < 0) {
        Discard();
        return Fail(AVERROR(-moved), "cannot move " + m_partPath + " to " + m_finalPath + ": " + std::strerror(-moved));
    }
    m_created = false;
    return 0;
}

void CKvPartialOutputFile::Discard()
{
    CloseFile();
    if (m_created)
        unlink(m_partPath.c_str());
    m_created = false;
}

} // namespace velmora
