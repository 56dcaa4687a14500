#include "common/KvOutputFile.h"

#include "common/KvSharedMemory.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velmora {

namespace {

constexpr std::string_view kPartSuffix = ".part";

// What a file system answers for a kind of move it does not offer.
bool RenameFlagsUnsupported(int error)
{
    return error == EINVAL || error == ENOSYS || error == EOPNOTSUPP;
}

bool HardLinksUnsupported(int error)
{
    return error == EPERM || error == ENOSYS || error == EOPNOTSUPP;
}

} // namespace

std::string PartialOutputPath(std::string_view finalPath)
{
    const std::size_t slash = finalPath.rfind('/');
    const std::size_t nameStart = slash == std::string_view::npos ? 0 : slash + 1;
    const std::string_view folder = finalPath.substr(0, nameStart);
    std::string_view name = finalPath.substr(nameStart);
    std::string path(folder);
    if (name.size() + kPartSuffix.size() <= kKvMaxNameBytes) {
        path += name;
        path += kPartSuffix;
        return path;
    }
    static constexpr char kHex[] = "0123456789abcdef";
    const std::uint64_t hash = Fnv1a64(name);
    std::string tail = "~";
    for (int shift = 60; shift >= 0; shift -= 4)
        tail += kHex[(hash >> shift) & 0xF];
    tail += kPartSuffix;
    std::size_t keep = kKvMaxNameBytes - tail.size();
    // Back to the start of a character: continuation bytes are 10xxxxxx.
    while (keep > 0 && (static_cast<unsigned char>(name[keep]) & 0xC0) == 0x80)
        --keep;
    path += name.substr(0, keep);
    path += tail;
    return path;
}

int CreateExclusiveFile(const std::string& path)
{
    // Readable too: a chain may put header fields in place after its muxer is done.
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    return fd >= 0 ? fd : -errno;
}

int MoveNoReplace(const std::string& from, const std::string& to)
{
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return 0;
    if (!RenameFlagsUnsupported(errno))
        return -errno;
    // A hard link fails on a taken name just as well.
    if (link(from.c_str(), to.c_str()) == 0) {
        unlink(from.c_str());
        return 0;
    }
    if (!HardLinksUnsupported(errno))
        return -errno;
    // A file system with neither (some network shares): the best left is to look
    // first; only a file made in the instant between the two steps is replaced.
    struct stat st {};
    if (lstat(to.c_str(), &st) == 0)
        return -EEXIST;
    if (errno != ENOENT)
        return -errno;
    return rename(from.c_str(), to.c_str()) == 0 ? 0 : -errno;
}

} // namespace velmora
