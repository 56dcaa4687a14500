#pragma once

// The program folder: the folder that holds both programs, skin/ and tmp/.
//
// Every relative path of the system ("tmp/option.dat", "skin/h264.dat") is resolved
// against it, never against the working directory, because the front end starts the
// engine without telling it where it is and the user may start either program from
// anywhere.

#include <string>
#include <string_view>

namespace velmora {

// The folder of the running executable as UTF-8 with a trailing "/": the real path of
// /proc/self/exe (symbolic links resolved) without its file name. Computed on the
// first call and cached for the life of the process; safe to call from any thread.
// When /proc is not available the result is "" (relative paths then resolve against
// the working directory, which is the best that is left).
std::string GetProgramFolder();

// Program folder + relative, e.g. ProgramPath("tmp/option.dat").
std::string ProgramPath(std::string_view relative);

// Tests only: makes GetProgramFolder return folder (a "/" is appended when missing)
// until it is called again; an empty folder returns to the real one. The shared-memory
// names follow the program folder, so a test that sets its own temporary folder gets
// its own job block too.
void SetProgramFolderForTesting(std::string folder);

} // namespace velmora
