#include "common/KvProgramFolder.h"

#include <climits>
#include <cstdlib>
#include <mutex>
#include <unistd.h>

namespace velmora {

namespace {

std::string FolderOf(std::string path)
{
    std::string::size_type slash = path.rfind('/');
    if (slash == std::string::npos)
        return {};
    path.resize(slash + 1);
    return path;
}

std::string ComputeProgramFolder()
{
    char resolved[PATH_MAX];
    if (realpath("/proc/self/exe", resolved))
        return FolderOf(resolved);

    // realpath fails when the executable was deleted or replaced while running (a
    // rebuild under a running program): the link then reads "<path> (deleted)".
    char link[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", link, sizeof link - 1);
    if (n <= 0)
        return {};
    std::string path(link, static_cast<size_t>(n));
    constexpr std::string_view kDeleted = " (deleted)";
    if (path.size() > kDeleted.size() && path.compare(path.size() - kDeleted.size(), kDeleted.size(), kDeleted) == 0)
        path.resize(path.size() - kDeleted.size());
    return FolderOf(path);
}

// Function-local, so that code running before main (test helpers) finds them built.
struct Override
{
    std::mutex lock;
    std::string folder;
};

Override& TestOverride()
{
    static Override value;
    return value;
}

} // namespace

std::string GetProgramFolder()
{
    {
        Override& test = TestOverride();
        std::lock_guard<std::mutex> lock(test.lock);
        if (!test.folder.empty())
            return test.folder;
    }
    static const std::string folder = ComputeProgramFolder();
    return folder;
}

std::string ProgramPath(std::string_view relative)
{
    std::string path = GetProgramFolder();
    path += relative;
    return path;
}

void SetProgramFolderForTesting(std::string folder)
{
    if (!folder.empty() && folder.back() != '/')
        folder += '/';
    Override& test = TestOverride();
    std::lock_guard<std::mutex> lock(test.lock);
    test.folder = std::move(folder);
}

} // namespace velmora
