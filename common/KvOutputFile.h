#pragma once

// How the engine puts an output file in place, and the one name that both programs
// agree on for the file while it is being written.
//
// The engine never writes under the final name. It creates a temporary file beside
// it exclusively (never following or reusing anything that is already there, so a
// link planted at that name cannot redirect the write), writes it whole, and moves
// it to the final name without replacing anything: a file that appeared under the
// final name meanwhile stays, and the job fails instead. The front end removes the
// temporary file when it stops a job, and avoids names whose temporary is taken.

#include <string>
#include <string_view>

namespace velmora {

// The longest file name (one path component) that Linux file systems take.
inline constexpr std::size_t kKvMaxNameBytes = 255;

// The temporary file of finalPath, in the same folder: "<name>.part" when that fits
// kKvMaxNameBytes; otherwise the name is cut back (never inside a UTF-8 character)
// and ended with "~" and 16 hex digits of the FNV-1a 64 hash of the whole name, then
// ".part", so every final name has a temporary name of its own that fits.
std::string PartialOutputPath(std::string_view finalPath);

// Creates path for writing, exclusively and without following a link at it (mode
// 0666 less the umask). Returns the descriptor, or -errno (-EEXIST when anything,
// a link included, is at path).
int CreateExclusiveFile(const std::string& path);

// Moves from to to, never replacing what is at to. Returns 0, or -errno (-EEXIST
// when to is taken). Uses renameat2 with RENAME_NOREPLACE; where the file system
// does not offer that, a hard link and unlink; where it offers neither, a check for
// a free name and a rename.
int MoveNoReplace(const std::string& from, const std::string& to);

} // namespace velmora
