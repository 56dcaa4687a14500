#pragma once

// Engine slots: several engines of one front end at once, each with its own job.
//
// Slot 0 is the engine the front end has always started, without arguments: job
// block and level map under their plain names, job files in tmp/ of the work folder.
// Slot k (1..kKvMaxEngineSlot) is started with the single argument "--slot=k"; its
// job block and level map names end in "-k" (after the user id) and its job files
// are in tmp/slot-k/ of the work folder. Nothing else differs, so an engine never
// needs to know which slot it is beyond calling SetCurrentEngineSlot once: the job
// block view, the level map and ProgramPath("tmp/...") follow the current slot.

#include <string>
#include <string_view>
#include <vector>

namespace velmora {

inline constexpr int kKvMaxEngineSlot = 999;

// The engine's arguments for slot: none for slot 0, {"--slot=k"} otherwise.
std::vector<std::string> EngineSlotArguments(int slot);

// The slot an engine was started for, from its arguments (argv without argv[0]):
// none is slot 0; exactly "--slot=k" (k written as EngineSlotArguments writes it, in
// 1..kKvMaxEngineSlot) is slot k; anything else is -1, and the engine must not touch
// any job.
int ParseEngineSlot(const std::vector<std::string>& args);

// The slot of this process: 0 unless the engine set another at start-up. Set it
// before anything opens a job block or builds a path.
int CurrentEngineSlot();
void SetCurrentEngineSlot(int slot);

// The job block and level map names of slot under programFolder:
// SharedObjectName(guid, programFolder), plus "-k" for slot k >= 1.
std::string JobBlockName(std::string_view programFolder, int slot);
std::string LevelMapName(std::string_view programFolder, int slot);

// The job-file folder of slot with a trailing "/": the work folder's "tmp/", or
// "tmp/slot-k/" for slot k >= 1.
std::string JobFolder(std::string_view programFolder, int slot);

// Creates the job folder of slot (the work folder must exist, EnsureWorkFolder) with
// mode 0700. True when it is there.
bool EnsureJobFolder(std::string_view programFolder, int slot);

} // namespace velmora
