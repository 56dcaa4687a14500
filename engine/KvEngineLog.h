#pragma once

// The engine's log, "tmp/kvengine.log": one line per event a user or developer
// needs to find out later why a job ended as it did (a failed job, settings the
// encoder could not take). The engine has no window, so this is where it speaks.

#include <string>
#include <string_view>

namespace velmora {

// Appends "<UTC time> <text>" as one line to programFolder + "tmp/kvengine.log".
// Line breaks inside text become spaces. Failures are ignored: the log must never
// stop a job.
void AppendEngineLog(const std::string& programFolder, std::string_view text);

} // namespace velmora
