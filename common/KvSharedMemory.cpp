#include "common/KvSharedMemory.h"

#include "common/KvProgramFolder.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace velmora {

std::string SharedObjectName(std::string_view guid, std::string_view programFolder)
{
    std::string name = "/";
    name += guid;
    name += '-';
    name += ProgramFolderHash(programFolder);
    name += '-';
    name += std::to_string(geteuid());
    return name;
}

std::string SharedObjectName(std::string_view guid)
{
    return SharedObjectName(guid, GetProgramFolder());
}

std::string SharedObjectPath(std::string_view name)
{
    return "/dev/shm" + std::string(name);
}

KvSharedObjectInfo InspectSharedObject(const std::string& name)
{
    KvSharedObjectInfo info;
    const std::string path = SharedObjectPath(name);
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0)
        return info;
    info.exists = true;
    info.owner = st.st_uid;

    DIR* proc = opendir("/proc");
    if (!proc)
        return info;
    while (dirent* entry = readdir(proc)) {
        char* end = nullptr;
        const long pid = std::strtol(entry->d_name, &end, 10);
        if (pid <= 0 || *end != '\0')
            continue;
        std::ifstream maps("/proc/" + std::string(entry->d_name) + "/maps");
        std::string line;
        while (std::getline(maps, line)) {
            // The path is the last field; an unlinked object ends in " (deleted)" and
            // no longer holds the name.
            if (line.size() > path.size() && line.compare(line.size() - path.size(), path.size(), path) == 0
                && line[line.size() - path.size() - 1] == ' ') {
                info.processes.push_back(static_cast<int>(pid));
                break;
            }
        }
    }
    closedir(proc);
    return info;
}

CKvSharedMemory::~CKvSharedMemory()
{
    Close();
}

CKvSharedMemory::CKvSharedMemory(CKvSharedMemory&& other) noexcept
    : m_data(std::exchange(other.m_data, nullptr))
    , m_size(std::exchange(other.m_size, 0))
    , m_name(std::move(other.m_name))
    , m_creator(std::exchange(other.m_creator, false))
    , m_error(other.m_error)
    , m_device(other.m_device)
    , m_inode(other.m_inode)
{
}

CKvSharedMemory& CKvSharedMemory::operator=(CKvSharedMemory&& other) noexcept
{
    if (this != &other) {
        Close();
        m_data = std::exchange(other.m_data, nullptr);
        m_size = std::exchange(other.m_size, 0);
        m_name = std::move(other.m_name);
        m_creator = std::exchange(other.m_creator, false);
        m_error = other.m_error;
        m_device = other.m_device;
        m_inode = other.m_inode;
    }
    return *this;
}

bool CKvSharedMemory::Fail(int error)
{
    m_error = error;
    return false;
}

bool CKvSharedMemory::Create(const std::string& name, std::size_t size)
{
    Close();
    m_error = 0;
    m_name = name; // kept on failure, so the caller can say which object it was
    if (size == 0)
        return Fail(EINVAL);

    // A creator that crashed left its object behind; it may have another size or
    // stale contents, so it goes rather than being reused.
    const int unlinkError = shm_unlink(name.c_str()) == 0 ? 0 : errno;

    int fd = shm_open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, S_IRUSR | S_IWUSR);
    if (fd < 0) {
        // "It exists" says less than why the leftover could not go.
        return Fail(errno == EEXIST && unlinkError != 0 && unlinkError != ENOENT ? unlinkError : errno);
    }
    // The umask may have taken bits off the mode; the opening side takes an object
    // of exactly 0600 only, so set it whole.
    if (fchmod(fd, S_IRUSR | S_IWUSR) != 0) {
        int error = errno;
        close(fd);
        shm_unlink(name.c_str());
        return Fail(error);
    }
    if (ftruncate(fd, static_cast<off_t>(size)) != 0) {
        int error = errno;
        close(fd);
        shm_unlink(name.c_str());
        return Fail(error);
    }
    // The new object reads as zeros already. Reserve its pages now: where /dev/shm
    // has no room left, that fails here instead of killing a later write (SIGBUS).
    if (fallocate(fd, 0, 0, static_cast<off_t>(size)) != 0 && errno != EOPNOTSUPP) {
        int error = errno;
        close(fd);
        shm_unlink(name.c_str());
        return Fail(error);
    }
    struct stat st;
    if (fstat(fd, &st) != 0) {
        int error = errno;
        close(fd);
        shm_unlink(name.c_str());
        return Fail(error);
    }
    void* data = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    int error = errno;
    close(fd); // the mapping keeps the object alive
    if (data == MAP_FAILED) {
        shm_unlink(name.c_str());
        return Fail(error);
    }

    m_data = data;
    m_size = size;
    m_name = name;
    m_creator = true;
    m_device = st.st_dev;
    m_inode = st.st_ino;
    return true;
}

bool CKvSharedMemory::Open(const std::string& name, std::size_t size)
{
    Close();
    m_error = 0;
    m_name = name;

    int fd = shm_open(name.c_str(), O_RDWR | O_CLOEXEC, 0);
    if (fd < 0)
        return Fail(errno);
    struct stat st;
    if (fstat(fd, &st) != 0) {
        int error = errno;
        close(fd);
        return Fail(error);
    }
    if (st.st_uid != geteuid()) {
        close(fd);
        return Fail(EPERM);
    }
    if (!S_ISREG(st.st_mode) || st.st_size < 0 || static_cast<std::size_t>(st.st_size) != size || size == 0) {
        close(fd);
        return Fail(EINVAL);
    }
    void* data = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    int error = errno;
    close(fd);
    if (data == MAP_FAILED)
        return Fail(error);

    m_data = data;
    m_size = size;
    m_name = name;
    m_creator = false;
    return true;
}

bool CKvSharedMemory::NameStillOurs() const
{
    // Someone may have removed our name and made a new object under it since; that
    // one is not ours to remove.
    int fd = shm_open(m_name.c_str(), O_RDONLY | O_CLOEXEC, 0);
    if (fd < 0)
        return false;
    struct stat st;
    bool ours = fstat(fd, &st) == 0 && st.st_dev == m_device && st.st_ino == m_inode;
    close(fd);
    return ours;
}

void CKvSharedMemory::Close()
{
    if (m_data) {
        munmap(m_data, m_size);
        if (m_creator && NameStillOurs())
            shm_unlink(m_name.c_str());
    }
    m_data = nullptr;
    m_size = 0;
    m_creator = false;
    m_name.clear();
}

} // namespace velmora
