#include "common/KvProcess.h"

#include "common/KvProgramFolder.h"

#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <limits>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace velmora {

namespace {

bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]);
        unsigned char y = static_cast<unsigned char>(b[i]);
        if (x >= 'A' && x <= 'Z')
            x = static_cast<unsigned char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z')
            y = static_cast<unsigned char>(y - 'A' + 'a');
        if (x != y)
            return false;
    }
    return true;
}

std::string RealFolder(const std::string& folder)
{
    char resolved[PATH_MAX];
    if (!realpath(folder.c_str(), resolved))
        return {};
    std::string path = resolved;
    if (path.empty() || path.back() != '/')
        path += '/';
    return path;
}

// The executable of a process, or "" when it cannot be read (another user's process,
// a kernel thread, a zombie). A replaced executable reads "<path> (deleted)"; it is
// still the program that was started from that path.
std::string ExecutableOf(pid_t pid)
{
    std::string link = "/proc/" + std::to_string(pid) + "/exe";
    char buffer[PATH_MAX];
    ssize_t n = readlink(link.c_str(), buffer, sizeof buffer - 1);
    if (n <= 0)
        return {};
    std::string path(buffer, static_cast<size_t>(n));
    constexpr std::string_view kDeleted = " (deleted)";
    if (path.size() > kDeleted.size() && path.compare(path.size() - kDeleted.size(), kDeleted.size(), kDeleted) == 0)
        path.resize(path.size() - kDeleted.size());
    return path;
}

// Real user id from /proc/<pid>/status ("Uid:\treal\teffective\tsaved\tfs"), or -1.
long RealUserOf(pid_t pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string key;
    while (status >> key) {
        if (key == "Uid:") {
            long uid = -1;
            status >> uid;
            return status ? uid : -1;
        }
        status.ignore(std::numeric_limits<std::streamsize>::max(), '\n');
    }
    return -1;
}

// The state letter of /proc/<pid>/stat (after the parenthesised command name, which
// may itself contain blanks and parentheses), or 0 when the process is gone.
char StateOf(pid_t pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    std::string::size_type close = text.rfind(')');
    if (close == std::string::npos || close + 2 >= text.size())
        return 0;
    return text[close + 2];
}

// After SIGKILL: reap our child, or wait until another process is gone or a zombie.
void WaitForEnd(pid_t pid)
{
    using namespace std::chrono;
    const auto deadline = steady_clock::now() + seconds(2);
    while (steady_clock::now() < deadline) {
        int status = 0;
        pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid)
            return;
        if (r < 0 && errno == EINTR)
            continue;
        if (r < 0) {
            // Not our child: it is gone once its /proc entry is gone or a zombie.
            char state = StateOf(pid);
            if (state == 0 || state == 'Z' || state == 'X')
                return;
        }
        std::this_thread::sleep_for(milliseconds(2));
    }
}

} // namespace

bool KillProcessByName(std::string_view name, const std::string& programFolder)
{
    if (name.empty())
        return false;
    const std::string folder = RealFolder(programFolder);
    if (folder.empty())
        return false;
    const pid_t self = getpid();
    const long user = static_cast<long>(getuid());

    DIR* proc = opendir("/proc");
    if (!proc)
        return false;
    bool killed = false;
    while (dirent* entry = readdir(proc)) {
        char* end = nullptr;
        long value = std::strtol(entry->d_name, &end, 10);
        if (*entry->d_name == '\0' || *end != '\0' || value <= 0 || value > INT_MAX)
            continue;
        pid_t pid = static_cast<pid_t>(value);
        if (pid == self)
            continue;
        std::string exe = ExecutableOf(pid);
        std::string::size_type slash = exe.rfind('/');
        if (slash == std::string::npos)
            continue;
        if (!EqualsIgnoringAsciiCase(std::string_view(exe).substr(slash + 1), name))
            continue;
        if (exe.compare(0, slash + 1, folder) != 0 || slash + 1 != folder.size())
            continue;
        if (RealUserOf(pid) != user)
            continue;
        if (kill(pid, SIGKILL) != 0)
            continue; // it ended meanwhile, or is not ours to kill: try the next one
        WaitForEnd(pid);
        killed = true;
        break;
    }
    closedir(proc);
    return killed;
}

bool KillProcessById(pid_t pid)
{
    if (pid <= 0 || pid == getpid() || !IsProcessAlive(pid))
        return false;
    if (RealUserOf(pid) != static_cast<long>(getuid()) || kill(pid, SIGKILL) != 0)
        return false;
    WaitForEnd(pid);
    return true;
}

bool KillProcessByName(std::string_view name)
{
    return KillProcessByName(name, GetProgramFolder());
}

pid_t SpawnProgram(const std::string& path, const std::vector<std::string>& args)
{
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(path.c_str()));
    for (const std::string& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    if (posix_spawn_file_actions_init(&actions) != 0)
        return -1;
    if (posix_spawnattr_init(&attributes) != 0) {
        posix_spawn_file_actions_destroy(&actions);
        return -1;
    }

    bool ready = posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0) == 0
        && posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0) == 0
        && posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0) == 0;

    // The front end's threads may block signals or ignore SIGPIPE; the engine must
    // start from a clean state, since both survive exec.
    sigset_t empty;
    sigemptyset(&empty);
    sigset_t defaults;
    sigemptyset(&defaults);
    for (int signal : {SIGPIPE, SIGCHLD, SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGUSR1, SIGUSR2, SIGALRM})
        sigaddset(&defaults, signal);
    ready = ready
        && posix_spawnattr_setsigmask(&attributes, &empty) == 0
        && posix_spawnattr_setsigdefault(&attributes, &defaults) == 0
        && posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF) == 0;

    pid_t pid = -1;
    if (ready && posix_spawn(&pid, path.c_str(), &actions, &attributes, argv.data(), environ) != 0)
        pid = -1;

    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

bool IsProcessAlive(pid_t pid)
{
    if (pid <= 0)
        return false;
    int status = 0;
    pid_t r;
    do {
        r = waitpid(pid, &status, WNOHANG);
    } while (r < 0 && errno == EINTR);
    if (r == pid)
        return false; // our child ended; reaped now
    if (r == 0)
        return true;  // our child, still running
    // Not our child.
    if (kill(pid, 0) != 0 && errno == ESRCH)
        return false;
    char state = StateOf(pid);
    return state != 0 && state != 'Z' && state != 'X';
}

int OpenProcessFd(pid_t pid)
{
#ifdef SYS_pidfd_open
    return pid > 0 ? static_cast<int>(syscall(SYS_pidfd_open, pid, 0)) : -1;
#else
    (void)pid;
    return -1;
#endif
}

} // namespace velmora
