#include "common/KvProgramFolder.h"

#include "common/KvEngineSlot.h"
#include "common/KvSharedMemory.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

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

// "tmp" or "tmp/...": the relative path lies in the named top folder.
bool IsUnder(std::string_view relative, std::string_view top)
{
    return relative.substr(0, top.size()) == top && (relative.size() == top.size() || relative[top.size()] == '/');
}

std::string WithoutTrailingSlashes(std::string path)
{
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

std::string HomeFolder()
{
    const char* home = std::getenv("HOME");
    if (home && home[0] == '/')
        return home;
    std::vector<char> buffer(16384);
    passwd entry {};
    passwd* found = nullptr;
    if (getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found && found->pw_dir
        && found->pw_dir[0] == '/')
        return found->pw_dir;
    return {};
}

// The folder the work folders of every installation live in, without a trailing "/".
std::string StateHome()
{
    // A relative XDG_STATE_HOME is invalid and ignored, as the base-directory rules say.
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state && state[0] == '/')
        return WithoutTrailingSlashes(state);
    const std::string home = HomeFolder();
    if (home.empty())
        return {};
    return WithoutTrailingSlashes(home) + "/.local/state";
}

std::string Describe(const std::string& what, int error)
{
    return what + ": " + std::strerror(error);
}

// mkdir -p with mode 0700 for every folder it makes.
bool MakeFolders(const std::string& folder, std::string* error)
{
    const std::string path = WithoutTrailingSlashes(folder);
    for (std::string::size_type at = 1; at != std::string::npos;) {
        at = path.find('/', at + 1);
        const std::string prefix = path.substr(0, at);
        if (mkdir(prefix.c_str(), 0700) != 0 && errno != EEXIST) {
            if (error)
                *error = Describe("cannot create the folder " + prefix, errno);
            return false;
        }
    }
    return true;
}

// folder exists, is a folder of ours that we can write and enter.
bool CheckOwnFolder(const std::string& folder, std::string* error)
{
    struct stat info {};
    if (stat(folder.c_str(), &info) != 0) {
        if (error)
            *error = Describe("cannot use the folder " + folder, errno);
        return false;
    }
    if (!S_ISDIR(info.st_mode)) {
        if (error)
            *error = folder + " is not a folder";
        return false;
    }
    if (info.st_uid != geteuid()) {
        if (error)
            *error = folder + " belongs to another user (user id " + std::to_string(info.st_uid) + ")";
        return false;
    }
    if (access(folder.c_str(), W_OK | X_OK) != 0) {
        if (error)
            *error = Describe("cannot write into the folder " + folder, errno);
        return false;
    }
    return true;
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

void SetProgramFolderForTesting(std::string folder)
{
    if (!folder.empty() && folder.back() != '/')
        folder += '/';
    Override& test = TestOverride();
    std::lock_guard<std::mutex> lock(test.lock);
    test.folder = std::move(folder);
}

std::string ProgramFolderHash(std::string_view programFolder)
{
    static constexpr char kHex[] = "0123456789abcdef";
    const std::uint64_t hash = Fnv1a64(programFolder);
    std::string text;
    for (int shift = 60; shift >= 0; shift -= 4)
        text += kHex[(hash >> shift) & 0xF];
    return text;
}

std::string WorkFolderOf(std::string_view programFolder)
{
    const std::string base = StateHome();
    if (base.empty())
        return {};
    return base + "/velmora/" + ProgramFolderHash(programFolder) + "/";
}

std::string GetWorkFolder()
{
    return WorkFolderOf(GetProgramFolder());
}

bool EnsureWorkFolder(std::string_view programFolder, std::string* error)
{
    const std::string work = WorkFolderOf(programFolder);
    if (work.empty()) {
        if (error)
            *error = "there is no home folder to keep the work folder in (HOME is not set)";
        return false;
    }
    if (!MakeFolders(work, error) || !CheckOwnFolder(work, error))
        return false;
    // Job files name the user's media; nobody else needs to read them.
    if (chmod(work.c_str(), 0700) != 0) {
        if (error)
            *error = Describe("cannot make the folder " + work + " private", errno);
        return false;
    }
    for (const char* sub : {"tmp/", "skin/"}) {
        const std::string folder = work + sub;
        if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
            if (error)
                *error = Describe("cannot create the folder " + folder, errno);
            return false;
        }
        if (!CheckOwnFolder(folder, error))
            return false;
    }
    return true;
}

std::string ProgramPath(std::string_view relative)
{
    return ProgramPath(GetProgramFolder(), relative);
}

std::string ProgramPath(std::string_view programFolder, std::string_view relative)
{
    if (IsUnder(relative, "tmp"))
        return JobFolder(programFolder, CurrentEngineSlot()) + std::string(relative.substr(std::min<size_t>(4, relative.size())));
    if (IsUnder(relative, "skin")) {
        // A skin file the programs wrote replaces the installed one.
        const std::string work = WorkFolderOf(programFolder);
        if (!work.empty()) {
            std::string written = work + std::string(relative);
            if (access(written.c_str(), F_OK) == 0)
                return written;
        }
    }
    return std::string(programFolder) + std::string(relative);
}

std::string WritablePath(std::string_view relative)
{
    return WritablePath(GetProgramFolder(), relative);
}

std::string WritablePath(std::string_view programFolder, std::string_view relative)
{
    if (IsUnder(relative, "tmp"))
        return ProgramPath(programFolder, relative);
    return WorkFolderOf(programFolder) + std::string(relative);
}

} // namespace velmora
