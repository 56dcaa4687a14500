#pragma once

// Starting and stopping the engine.
//
// The front end starts one engine per job from the program folder, with no arguments
// and its standard streams on /dev/null, and never sends it a message: it stops an
// engine by killing it by executable name. The engine, to end itself, calls _exit(0).

#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

namespace velmora {

// Kills (SIGKILL) the first running process that
//   - has an executable whose file name equals name, compared case-insensitively
//     (ASCII letters),
//   - whose executable lies directly in programFolder (compared after resolving both
//     to real paths), so an engine of another installation is left alone,
//   - runs as the same user as the caller (its real user id equals ours), and
//   - is not the caller itself.
// A killed child of the caller is reaped; for any killed process the call waits
// briefly (up to about two seconds) for it to be gone, so that a next engine does not
// meet the old one. Returns true when a process was killed. A caller that keeps a
// pid of the killed child must forget it: the pid is free for reuse once reaped.
bool KillProcessByName(std::string_view name, const std::string& programFolder);
bool KillProcessByName(std::string_view name);  // in GetProgramFolder()

// Kills (SIGKILL) the process pid when it is alive and runs as the same user, waits
// briefly (up to about two seconds) for it to be gone and reaps it when it is a child
// of the caller. For an engine the caller started itself (its pid kept from
// SpawnProgram), so nothing of another program folder or user is ever touched.
// Returns true when a process was killed. pid <= 0 and the caller itself are refused.
bool KillProcessById(pid_t pid);

// Starts the program at path (an absolute path such as GetProgramFolder() + "kvengine")
// with argv[0] = path followed by args (none for the engine), standard input, output
// and error on /dev/null, default signal dispositions and an empty signal mask, in
// the caller's environment and working directory. Returns the child's pid, or -1 when
// it cannot be started (a missing or non-executable file included).
pid_t SpawnProgram(const std::string& path, const std::vector<std::string>& args = {});

// True while pid names a live process. A child of the caller that has ended is
// reaped here (so it does not linger as a zombie) and reported as not alive; a zombie
// that is not our child counts as ended too. pid <= 0 is never alive.
bool IsProcessAlive(pid_t pid);

// A descriptor that becomes readable when the child pid ends (a pidfd), or -1 where
// the system has none. The caller closes it.
int OpenProcessFd(pid_t pid);

} // namespace velmora
