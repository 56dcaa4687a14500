#pragma once

// The Level map: the level-meter data of a conversion, passed from the audio mixer
// callback (writer) to the video callback (reader) through named shared memory.
//
// Name: LevelMapName(program folder, engine slot). Layout, little-endian:
//
//    0  uint64  write count: level records written (writer only)
//    8  uint64  read count: level records consumed (reader only)
//   16  int64   frame total: duration × frame rate, truncated (creator)
//   24  records of 256 bytes: 64 int16 left levels, then 64 int16 right levels;
//       record k at 24 + 256·k, k = low 32 bits of the count
//
// Size: truncate((duration + 1) × frame rate × 128 × 2 + 24) bytes, room for one
// record per time-line frame and one second to spare. The map covers at most the
// longest time line a project holds ("nmaxduration", 10800 s: about 83 MB at 30
// frames per second); a longer time line gets no map, and its conversion goes on
// without levels. The conversion graph builder creates it (a fresh object reads as
// zeros, and its pages are reserved up front, so a full /dev/shm fails the creation
// rather than a later write); writer and reader open it by name. The two sides meet only
// through the counters: the writer copies a record and then publishes it by raising
// the write count, the reader waits until the write count is ahead of its own.
//
// Records beyond the region are never written: the count still advances, so a
// reader is not left waiting, and such a record reads as silence.

#include "common/KvSharedMemory.h"
#include "pipeline/KvAudioMixMath.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace velmora {

class CKvLevelMap
{
public:
    static constexpr std::size_t kHeaderBytes = 24;
    static constexpr std::size_t kRecordBytes = 256;
    // The longest time line a map is made for, in seconds.
    static constexpr double kMaxDuration = 10800.0;

    CKvLevelMap() = default;
    ~CKvLevelMap();
    CKvLevelMap(const CKvLevelMap&) = delete;
    CKvLevelMap& operator=(const CKvLevelMap&) = delete;

    // 0 when no map is made for these values: a duration that is negative, not
    // finite or above kMaxDuration, or a frame rate that is not a usable rate.
    static std::size_t RegionSize(double duration, double frameRate);
    static std::string ObjectName(const std::string& programFolder);

    // Creating side (the conversion graph builder): replaces any earlier object of
    // the name and writes the frame total. Keeps the name until Close. False (and
    // logged) when RegionSize gives 0 or the memory cannot be had.
    bool Create(const std::string& programFolder, double duration, double frameRate);
    // Writer and reader: opens the existing object read-write. False when there is
    // none, when it is smaller than its header, or when another user owns it.
    bool Open(const std::string& programFolder);
    void Close();

    bool IsOpen() const { return m_data != nullptr; }
    std::size_t Size() const { return m_size; }
    std::size_t RecordCapacity() const;
    std::uint64_t WriteCount() const;
    std::uint64_t ReadCount() const;
    std::int64_t FrameTotal() const;

    // Writer: stores the record at the write count and advances the count.
    bool WriteRecord(const std::int16_t left[kKvLevelSlices], const std::int16_t right[kKvLevelSlices]);
    // Reader: waits (polling every 10 ms) until a record is ahead of the read count,
    // copies it and advances the count. maxWaitMs < 0 waits as long as it takes;
    // otherwise false when nothing came within that time.
    bool ReadRecord(std::int16_t left[kKvLevelSlices], std::int16_t right[kKvLevelSlices], int maxWaitMs = -1);

private:
    std::uint64_t& Counter(std::size_t offset) const;
    unsigned char* Record(std::uint64_t count) const;

    CKvSharedMemory m_created;     // when this side created the region
    unsigned char* m_data = nullptr;
    std::size_t m_size = 0;
    bool m_mappedHere = false;     // opened (not created): unmapped by Close
};

} // namespace velmora
