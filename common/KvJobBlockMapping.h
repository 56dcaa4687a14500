#pragma once

// The two sides of the job block's shared memory.
//
// The front end owns the block: CKvJobBlockOwner creates it at start-up (removing a
// stale object a crashed front end left under the same name), zero-fills it, and
// removes the name when it goes, at front-end exit. The engine only borrows it:
// CKvJobBlockView opens the existing block for the engine's lifetime and never
// creates one; an engine that cannot open it ends without doing anything.
//
// One engine per block: the view holds an exclusive lock (flock) on the block's
// object for as long as it is open, so a second engine started on a block in use
// is refused before it maps it, and writes nothing. The lock goes with the process,
// so an engine that was killed never leaves the block locked.
//
// The name is JobBlockName(program folder, slot), so a front end and an engine meet
// only when they run from the same program folder, as the same user, for the same
// engine slot.

#include "common/KvJobBlock.h"
#include "common/KvSharedMemory.h"

#include <string>

namespace velmora {

class CKvJobBlockOwner
{
public:
    CKvJobBlockOwner() = default;
    CKvJobBlockOwner(const CKvJobBlockOwner&) = delete;
    CKvJobBlockOwner& operator=(const CKvJobBlockOwner&) = delete;

    // Creates the block of programFolder for engine slot (exclusive, mode 0600, 1128
    // bytes, all zero) and maps it. False when it cannot; Error() gives the errno and
    // Name() the block's name.
    bool Create(const std::string& programFolder, int slot = 0);
    bool Create();  // under GetProgramFolder()

    // Unmaps the block and removes its name (also done by the destructor).
    void Close() { m_memory.Close(); }

    bool IsOpen() const { return m_memory.IsOpen(); }
    tagKvJobBlock* Block() const { return static_cast<tagKvJobBlock*>(m_memory.Data()); }
    const std::string& Name() const { return m_memory.Name(); }
    int Error() const { return m_memory.Error(); }

private:
    CKvSharedMemory m_memory;
};

class CKvJobBlockView
{
public:
    CKvJobBlockView() = default;
    ~CKvJobBlockView() { Close(); }
    CKvJobBlockView(const CKvJobBlockView&) = delete;
    CKvJobBlockView& operator=(const CKvJobBlockView&) = delete;

    // Opens and maps the existing block of programFolder for this process's engine
    // slot (CurrentEngineSlot) read-write and locks it. Refused (false) when there is
    // none (Error() = ENOENT), when it is not a plain object of 1128 bytes (EINVAL),
    // when another user owns it or anyone else may read or write it (mode other than
    // 0600: EPERM), or when another view holds it (EBUSY).
    bool Open(const std::string& programFolder);
    bool Open();  // under GetProgramFolder()

    // Unmaps the block and drops the lock (also done by the destructor); the block
    // itself stays.
    void Close();

    bool IsOpen() const { return m_block != nullptr; }
    tagKvJobBlock* Block() const { return m_block; }
    const std::string& Name() const { return m_name; }
    int Error() const { return m_error; }

private:
    bool Fail(int error);

    tagKvJobBlock* m_block = nullptr;
    int m_fd = -1;  // kept open while mapped: it carries the lock
    std::string m_name;
    int m_error = 0;
};

} // namespace velmora
