#include "common/KvJobBlockMapping.h"

#include "common/KvEngineSlot.h"
#include "common/KvProgramFolder.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velmora {

bool CKvJobBlockOwner::Create(const std::string& programFolder, int slot)
{
    return m_memory.Create(JobBlockName(programFolder, slot), sizeof(tagKvJobBlock));
}

bool CKvJobBlockOwner::Create()
{
    return Create(GetProgramFolder());
}

bool CKvJobBlockView::Fail(int error)
{
    Close();
    m_error = error;
    return false;
}

bool CKvJobBlockView::Open(const std::string& programFolder)
{
    Close();
    m_error = 0;
    m_name = JobBlockName(programFolder, CurrentEngineSlot());
    m_fd = shm_open(m_name.c_str(), O_RDWR | O_CLOEXEC, 0);
    if (m_fd < 0)
        return Fail(errno);
    struct stat st {};
    if (fstat(m_fd, &st) != 0)
        return Fail(errno);
    // A block is an instruction to write a file: only one that this user made for
    // nobody else counts.
    if (st.st_uid != geteuid() || (st.st_mode & 07777) != (S_IRUSR | S_IWUSR))
        return Fail(EPERM);
    if (!S_ISREG(st.st_mode) || st.st_size != static_cast<off_t>(sizeof(tagKvJobBlock)))
        return Fail(EINVAL);
    if (flock(m_fd, LOCK_EX | LOCK_NB) != 0)
        return Fail(errno == EWOULDBLOCK ? EBUSY : errno);
    void* data = mmap(nullptr, sizeof(tagKvJobBlock), PROT_READ | PROT_WRITE, MAP_SHARED, m_fd, 0);
    if (data == MAP_FAILED)
        return Fail(errno);
    m_block = static_cast<tagKvJobBlock*>(data);
    return true;
}

void CKvJobBlockView::Close()
{
    if (m_block != nullptr)
        munmap(m_block, sizeof(tagKvJobBlock));
    m_block = nullptr;
    if (m_fd >= 0)
        close(m_fd);  // drops the lock
    m_fd = -1;
}

bool CKvJobBlockView::Open()
{
    return Open(GetProgramFolder());
}

} // namespace velmora
