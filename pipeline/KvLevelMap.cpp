#include "pipeline/KvLevelMap.h"

#include "common/KvEngineSlot.h"
#include "common/KvLog.h"

#include <atomic>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace velmora {

namespace {

constexpr std::size_t kWriteCountOffset = 0;
constexpr std::size_t kReadCountOffset = 8;
constexpr std::size_t kFrameTotalOffset = 16;
constexpr std::size_t kChannelBytes = kKvLevelSlices * sizeof(std::int16_t);
// Far above any time line's rate; keeps a broken rate from sizing the region.
constexpr double kMaxFrameRate = 1000.0;

static_assert(std::atomic_ref<std::uint64_t>::is_always_lock_free,
              "the counters are shared between processes");

} // namespace

CKvLevelMap::~CKvLevelMap()
{
    Close();
}

std::size_t CKvLevelMap::RegionSize(double duration, double frameRate)
{
    // Past the bound the region would grow without limit with one project value.
    if (!(duration >= 0.0 && duration <= kMaxDuration) || !(frameRate > 0.0 && frameRate <= kMaxFrameRate))
        return 0;
    const double bytes = (duration + 1.0) * (frameRate * 128.0) * 2.0 + static_cast<double>(kHeaderBytes);
    return static_cast<std::size_t>(bytes);
}

std::string CKvLevelMap::ObjectName(const std::string& programFolder)
{
    return LevelMapName(programFolder, CurrentEngineSlot());
}

bool CKvLevelMap::Create(const std::string& programFolder, double duration, double frameRate)
{
    Close();
    const std::size_t size = RegionSize(duration, frameRate);
    if (size == 0) {
        LogLine("no level map for a time line of " + std::to_string(duration) + " s at " + std::to_string(frameRate) +
                " frames per second (it covers at most " + std::to_string(static_cast<int>(kMaxDuration)) + " s)");
        return false;
    }
    if (!m_created.Create(ObjectName(programFolder), size)) {
        LogLine("no level map: " + std::string(std::strerror(m_created.Error())));
        return false;
    }
    m_data = static_cast<unsigned char*>(m_created.Data());
    m_size = m_created.Size();
    const std::int64_t total = static_cast<std::int64_t>(duration * frameRate);
    std::memcpy(m_data + kFrameTotalOffset, &total, sizeof total);
    return true;
}

bool CKvLevelMap::Open(const std::string& programFolder)
{
    Close();
    const std::string name = ObjectName(programFolder);
    const int fd = shm_open(name.c_str(), O_RDWR | O_CLOEXEC, 0);
    if (fd < 0)
        return false;
    struct stat st;
    if (fstat(fd, &st) != 0 || st.st_uid != geteuid() || !S_ISREG(st.st_mode)
        || st.st_size < static_cast<off_t>(kHeaderBytes)) {
        close(fd);
        return false;
    }
    const std::size_t size = static_cast<std::size_t>(st.st_size);
    void* data = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    close(fd);
    if (data == MAP_FAILED)
        return false;
    m_data = static_cast<unsigned char*>(data);
    m_size = size;
    m_mappedHere = true;
    return true;
}

void CKvLevelMap::Close()
{
    if (m_mappedHere && m_data != nullptr)
        munmap(m_data, m_size);
    m_created.Close();
    m_data = nullptr;
    m_size = 0;
    m_mappedHere = false;
}

std::size_t CKvLevelMap::RecordCapacity() const
{
    return m_size > kHeaderBytes ? (m_size - kHeaderBytes) / kRecordBytes : 0;
}

std::uint64_t& CKvLevelMap::Counter(std::size_t offset) const
{
    return *reinterpret_cast<std::uint64_t*>(m_data + offset);
}

unsigned char* CKvLevelMap::Record(std::uint64_t count) const
{
    const std::uint64_t index = count & 0xFFFFFFFFu;
    if (index >= RecordCapacity())
        return nullptr;
    return m_data + kHeaderBytes + index * kRecordBytes;
}

std::uint64_t CKvLevelMap::WriteCount() const
{
    return m_data ? std::atomic_ref<std::uint64_t>(Counter(kWriteCountOffset)).load(std::memory_order_acquire) : 0;
}

std::uint64_t CKvLevelMap::ReadCount() const
{
    return m_data ? std::atomic_ref<std::uint64_t>(Counter(kReadCountOffset)).load(std::memory_order_acquire) : 0;
}

std::int64_t CKvLevelMap::FrameTotal() const
{
    std::int64_t total = 0;
    if (m_data)
        std::memcpy(&total, m_data + kFrameTotalOffset, sizeof total);
    return total;
}

bool CKvLevelMap::WriteRecord(const std::int16_t left[kKvLevelSlices], const std::int16_t right[kKvLevelSlices])
{
    if (!m_data)
        return false;
    std::atomic_ref<std::uint64_t> count(Counter(kWriteCountOffset));
    const std::uint64_t n = count.load(std::memory_order_relaxed);
    if (unsigned char* record = Record(n)) {
        std::memcpy(record, left, kChannelBytes);
        std::memcpy(record + kChannelBytes, right, kChannelBytes);
    }
    count.store(n + 1, std::memory_order_release);
    return true;
}

bool CKvLevelMap::ReadRecord(std::int16_t left[kKvLevelSlices], std::int16_t right[kKvLevelSlices], int maxWaitMs)
{
    if (!m_data)
        return false;
    std::atomic_ref<std::uint64_t> readCount(Counter(kReadCountOffset));
    std::atomic_ref<std::uint64_t> writeCount(Counter(kWriteCountOffset));
    const std::uint64_t n = readCount.load(std::memory_order_relaxed);
    int waited = 0;
    while (n >= writeCount.load(std::memory_order_acquire)) {
        if (maxWaitMs >= 0 && waited >= maxWaitMs)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        waited += 10;
    }
    if (const unsigned char* record = Record(n)) {
        std::memcpy(left, record, kChannelBytes);
        std::memcpy(right, record + kChannelBytes, kChannelBytes);
    } else {
        std::memset(left, 0, kChannelBytes);
        std::memset(right, 0, kChannelBytes);
    }
    readCount.store(n + 1, std::memory_order_release);
    return true;
}

} // namespace velmora
