#pragma once

// The file an output chain writes into until the output is complete.
//
// Create makes the temporary file of the final name (PartialOutputPath in
// common/KvOutputFile.h) exclusively, never following a link planted there, and
// hands the muxer an AVIOContext over that descriptor, so nothing can redirect the
// write after the check. Commit closes it and moves it to the final name without
// replacing anything there; Discard (and the destructor of an uncommitted file)
// removes it. A file that this object did not create is never removed.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

struct AVIOContext;

namespace velmora {

class CKvPartialOutputFile
{
public:
    CKvPartialOutputFile() = default;
    ~CKvPartialOutputFile();
    CKvPartialOutputFile(const CKvPartialOutputFile&) = delete;
    CKvPartialOutputFile& operator=(const CKvPartialOutputFile&) = delete;

    // Creates the temporary file of finalPath (discarding an earlier one of this
    // object). 0, or a negative AVERROR code with Error() saying why.
    int Create(const std::string& finalPath);
    // Told the size the file has reached after each write that made it longer, on the
    // writing thread (set before the first write).
    void SetGrowthListener(std::function<void(std::int64_t bytes)> listener) { m_onGrowth = std::move(listener); }
    // What the muxer writes through (seekable); null before Create.
    AVIOContext* Io() const { return m_io; }
    // Flush what the muxer wrote, then read or overwrite size bytes at offset in place
    // (for header fields a muxer cannot write itself). 0, or a negative AVERROR code
    // (a short file is AVERROR(EIO)).
    int ReadAt(std::int64_t offset, std::uint8_t* data, std::size_t size);
    int WriteAt(std::int64_t offset, const std::uint8_t* data, std::size_t size);
    // Closes the file (what is written can then be read back under PartialPath). 0, or
    // a negative AVERROR code for a write that failed (the file stays until Discard).
    int Close();
    // Closes the file if still open and moves it to the final name. 0, or a negative AVERROR code
    // (a write that failed, the final name taken: AVERROR(EEXIST)); the temporary
    // file is then removed.
    int Commit();
    // Closes and removes the temporary file if this object created it.
    void Discard();

    const std::string& PartialPath() const { return m_partPath; }
    const std::string& Error() const { return m_error; }

private:
    int Fail(int code, const std::string& why);
    int CloseFile();
    int TransferAt(std::int64_t offset, std::uint8_t* data, std::size_t size, bool write);
    static int WritePacket(void* opaque, std::uint8_t* data, int size);
    static std::int64_t SeekTo(void* opaque, std::int64_t offset, int whence);

    std::string m_finalPath;
    std::string m_partPath;
    std::string m_error;
    int m_fd = -1;
    AVIOContext* m_io = nullptr;
    bool m_created = false;  // the temporary file at m_partPath is ours
    std::int64_t m_size = 0; // how far the file reaches
    std::function<void(std::int64_t)> m_onGrowth;
};

} // namespace velmora
