#include "frontend/KvStopSignals.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <initializer_list>
#include <unistd.h>

namespace velmora {

namespace {

volatile std::sig_atomic_t g_received = 0;
int g_pipe[2] = {-1, -1};

void OnStopSignal(int)
{
    const int saved = errno;
    g_received = 1;
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = write(g_pipe[1], &byte, 1);
    errno = saved;
}

} // namespace

bool InstallStopSignals()
{
    if (g_pipe[0] >= 0)
        return true;
    if (pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return false;
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaction(signal, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    return true;
}

bool StopSignalReceived()
{
    return g_received != 0;
}

int StopSignalFd()
{
    return g_pipe[0];
}

void DrainStopSignals()
{
    char bytes[16];
    while (g_pipe[0] >= 0 && read(g_pipe[0], bytes, sizeof bytes) > 0) {
    }
}

} // namespace velmora
