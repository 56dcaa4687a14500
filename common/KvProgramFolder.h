#pragma once

// The program folder and the work folder: where every file of the system lives.
//
// The program folder holds what is installed: both programs and skin/ as shipped. It
// may be read-only and shared by every user of the machine (/usr/lib/velmora/).
// Everything the programs write goes into the work folder, one per user and program
// folder:
//
//     $XDG_STATE_HOME/velmora/<hash>/     (default ~/.local/state/velmora/<hash>/)
//
// where <hash> is the 16 lowercase hex digits of FNV-1a 64 of the program folder,
// trailing "/" included, so both programs of one installation find the same folder
// and two installations never share one. It holds tmp/ (job files, extracted WAVs,
// the engine log) and skin/ for the skin files the programs write.
//
// Every relative path of the system ("tmp/option.dat", "skin/h264.dat",
// "skin/btn/add.png") is resolved here and nowhere else, never against the working
// directory, because the front end starts the engine without telling it where it is
// and the user may start either program from anywhere:
//
//   ProgramPath(relative)   where to read or use relative:
//                             "tmp/..."   the job folder in the work folder (tmp/ of
//                                         the work folder; tmp/slot-k/ in engine slot
//                                         k, see KvEngineSlot.h)
//                             "skin/..."  the work folder's copy when there is one
//                                         (a skin file the programs wrote), else the
//                                         program folder's
//                             anything else: the program folder
//   WritablePath(relative)  where to write relative: "tmp/..." as above, anything
//                           else in the work folder (never the program folder)
//
// Both come in two forms: under GetProgramFolder(), and under a program folder given
// by the caller (with its trailing "/"), whose work folder follows by the same rule.

#include <string>
#include <string_view>

namespace velmora {

// The folder of the running executable as UTF-8 with a trailing "/": the real path of
// /proc/self/exe (symbolic links resolved, so a launcher link in /usr/bin leads to the
// installed folder) without its file name. Computed on the first call and cached for
// the life of the process; safe to call from any thread. When /proc is not available
// the result is "" (relative paths then resolve against the working directory, which
// is the best that is left).
std::string GetProgramFolder();

// Tests only: makes GetProgramFolder return folder (a "/" is appended when missing)
// until it is called again; an empty folder returns to the real one. The work folder
// and the shared-memory names follow the program folder, so a test that sets its own
// temporary folder (and its own XDG_STATE_HOME) gets its own job block and files.
void SetProgramFolderForTesting(std::string folder);

// "0123456789abcdef": FNV-1a 64 of programFolder's bytes as 16 lowercase hex digits.
std::string ProgramFolderHash(std::string_view programFolder);

// The work folder of programFolder with a trailing "/". The base is $XDG_STATE_HOME
// when it is an absolute path, else $HOME/.local/state (the home folder of the
// password database when HOME is unset or relative). "" when there is no home at all.
std::string WorkFolderOf(std::string_view programFolder);
std::string GetWorkFolder();  // of GetProgramFolder()

// Creates the work folder of programFolder (and the folders above it that are
// missing) with mode 0700, and its tmp/ and skin/. True when the three exist, belong
// to the effective user and can be written; the work folder's mode is then 0700.
// Otherwise false, and error (when given) says which folder and why, in words.
bool EnsureWorkFolder(std::string_view programFolder, std::string* error = nullptr);

std::string ProgramPath(std::string_view relative);
std::string ProgramPath(std::string_view programFolder, std::string_view relative);
std::string WritablePath(std::string_view relative);
std::string WritablePath(std::string_view programFolder, std::string_view relative);

} // namespace velmora
