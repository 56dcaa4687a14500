#pragma once

// SIGINT, SIGTERM and SIGHUP (Ctrl-C, a desktop's logout, a closed terminal) as an
// event of the program's own loop: the handler only notes the signal and writes a
// byte to a pipe, which a socket notifier reads on the GUI thread, where the program
// ends the way it ends on its own (engines ended, their files removed, tmp/ emptied).
// SIGPIPE is ignored: a reader that went away (| head) only loses the output.

namespace velmora {

// Installs the handlers once per process. False when the pipe cannot be made (the
// signals then keep their default effect).
bool InstallStopSignals();
// A stop signal has come since the start.
bool StopSignalReceived();
// The pipe's end to watch for reading (-1 before InstallStopSignals), and emptying it
// once it is readable.
int StopSignalFd();
void DrainStopSignals();

} // namespace velmora
