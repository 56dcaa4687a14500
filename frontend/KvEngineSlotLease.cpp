#include "frontend/KvEngineSlotLease.h"

#include "common/KvEngineSlot.h"
#include "common/KvProgramFolder.h"
#include "common/KvSharedMemory.h"
#include "frontend/KvFrontEndApp.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <set>
#include <sys/mman.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velmora {

namespace {

// The slot whose job folder is called name ("slot-3" -> 3), or 0 for any other name.
int SlotOfFolderName(const std::string& name)
{
    constexpr std::string_view prefix = "slot-";
    if (name.compare(0, prefix.size(), prefix) != 0)
        return 0;
    int slot = 0;
    const char* first = name.data() + prefix.size();
    const char* last = name.data() + name.size();
    const auto [end, error] = std::from_chars(first, last, slot);
    if (error != std::errc() || end != last || slot < 1 || slot > kKvMaxEngineSlot
        || name != std::string(prefix) + std::to_string(slot))
        return 0;
    return slot;
}

} // namespace

KvEngineSlotLease::~KvEngineSlotLease()
{
    // The block goes first: an engine still starting must not find a block without a
    // folder behind it.
    m_block.Close();
    if (!m_jobFolder.empty() && DeleteFolderContents(m_jobFolder))
        rmdir(m_jobFolder.c_str());
    if (m_lockFd >= 0)
        UnlockSlot(m_programFolder, m_slot, m_lockFd);
}

std::string KvEngineSlotLease::LockName(const std::string& programFolder, int slot)
{
    return JobBlockName(programFolder, slot) + ".owner";
}

std::string KvEngineSlotLease::LockPath(const std::string& programFolder, int slot)
{
    return SharedObjectPath(LockName(programFolder, slot));
}

int KvEngineSlotLease::LockSlot(const std::string& programFolder, int slot)
{
    const std::string name = LockName(programFolder, slot);
    const std::string path = LockPath(programFolder, slot);
    while (true) {
        // shm_open opens close-on-exec: an engine must not carry our lock beyond our life.
        const int fd = shm_open(name.c_str(), O_RDWR | O_CREAT, 0600);
        if (fd < 0)
            return -1;
        if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
            close(fd);
            return -1;
        }
        // The holder before us removes the object before it lets go: what we locked
        // counts only while it is still the object under the name. Otherwise a newer
        // one may be held already; look again.
        struct stat held {};
        struct stat named {};
        if (fstat(fd, &held) == 0 && stat(path.c_str(), &named) == 0 && held.st_dev == named.st_dev
            && held.st_ino == named.st_ino)
            return fd;
        close(fd);
    }
}

void KvEngineSlotLease::UnlockSlot(const std::string& programFolder, int slot, int fd)
{
    // Removed while still locked, so no lock object stays behind in /dev/shm, and
    // whoever opened it meanwhile sees that it is gone once it gets the lock.
    shm_unlink(LockName(programFolder, slot).c_str());
    close(fd);
}

std::unique_ptr<KvEngineSlotLease> KvEngineSlotLease::Take(const std::string& programFolder, int slot,
                                                           std::string* error)
{
    auto fail = [error](std::string why) {
        if (error)
            *error = std::move(why);
        return nullptr;
    };
    if (slot < 1 || slot > kKvMaxEngineSlot)
        return fail("there is no engine slot " + std::to_string(slot));
    const int fd = LockSlot(programFolder, slot);
    if (fd < 0)
        return fail("engine slot " + std::to_string(slot) + " is in use");
    std::unique_ptr<KvEngineSlotLease> lease(new KvEngineSlotLease);
    lease->m_programFolder = programFolder;
    lease->m_slot = slot;
    lease->m_lockFd = fd;
    if (!EnsureJobFolder(programFolder, slot))
        return fail("the job folder " + velmora::JobFolder(programFolder, slot) + " cannot be made: " + std::strerror(errno));
    lease->m_jobFolder = velmora::JobFolder(programFolder, slot);
    // Nothing of a holder that crashed (job files, a WAV index) may reach our engines.
    DeleteFolderContents(lease->m_jobFolder);
    if (!lease->m_block.Create(programFolder, slot))
        return fail("the job block " + lease->m_block.Name() + " cannot be made: " + std::strerror(lease->m_block.Error()));
    return lease;
}

std::vector<std::unique_ptr<KvEngineSlotLease>> KvEngineSlotLease::TakeFree(const std::string& programFolder, int count,
                                                                            std::string* error)
{
    std::vector<std::unique_ptr<KvEngineSlotLease>> leases;
    std::string firstError;
    for (int slot = 1; slot <= kKvMaxEngineSlot && int(leases.size()) < count; ++slot) {
        std::string why;
        if (auto lease = Take(programFolder, slot, &why))
            leases.push_back(std::move(lease));
        else if (firstError.empty() && why.find("in use") == std::string::npos)
            firstError = why;
    }
    if (leases.empty() && error)
        *error = firstError.empty() ? "every engine slot is in use" : firstError;
    return leases;
}

std::vector<std::string> KvEngineSlotLease::EngineArguments() const
{
    return EngineSlotArguments(m_slot);
}

bool EmptyWorkTmpFolder(const std::string& programFolder)
{
    const std::string tmp = JobFolder(programFolder, 0);
    std::set<std::string> busy;
    std::vector<std::pair<int, int>> held; // slot, lock
    if (DIR* dir = opendir(tmp.c_str())) {
        while (dirent* entry = readdir(dir)) {
            const std::string name = entry->d_name;
            const int slot = SlotOfFolderName(name);
            if (slot == 0)
                continue;
            const int fd = KvEngineSlotLease::LockSlot(programFolder, slot);
            if (fd < 0)
                busy.insert(name);
            else
                held.emplace_back(slot, fd);
        }
        closedir(dir);
    }
    const bool emptied = DeleteFolderContents(tmp, [&busy](const std::string& name) { return busy.count(name) != 0; });
    for (const auto& [slot, fd] : held)
        KvEngineSlotLease::UnlockSlot(programFolder, slot, fd);
    return emptied;
}

} // namespace velmora
