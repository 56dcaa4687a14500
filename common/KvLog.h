#pragma once

// One place where the lower layers (readers, mixer, output chain) say what they
// refused or changed, without knowing where it goes. The engine points the sink at
// its log file at start-up; without a sink (the front end, most tests) the lines
// are dropped. Safe to call from any thread.

#include <functional>
#include <string_view>

namespace velmora {

using KvLogSink = std::function<void(std::string_view line)>;

// Replaces the sink; an empty function drops every line from then on.
void SetLogSink(KvLogSink sink);
// Hands one line to the sink.
void LogLine(std::string_view line);

} // namespace velmora
