#pragma once

// Test media made with the ffmpeg command-line tools, and the known signal
// that the sample-exact tests compare against.

#include <cstdint>
#include <string>
#include <vector>

namespace velmora::test {

// Runs "ffmpeg <arguments> <output>" quietly; true when it succeeded and the
// output exists. ctest runs every test in a process of its own, so the result is
// kept in a cache beside the build (keyed by the arguments and the extension)
// and copied from there on later calls; pass cache = false when the arguments
// name files of a temporary folder.
bool MakeMedia(const std::string& arguments, const std::string& output, bool cache = true);

// The ramp signal: channels differ, every value is an exact 16-bit integer, and
// the pattern does not repeat within a few seconds at 44.1 kHz.
int16_t RampLeft(int64_t n);
int16_t RampRight(int64_t n);
// An ffmpeg input (-f lavfi -i ...) producing the ramp at rate for seconds.
std::string RampInput(int rate, double seconds);

// Decodes path with the ffmpeg tool to interleaved s16 stereo at rate.
std::vector<int16_t> DecodeWithTool(const std::string& path, int rate);

// Runs ffprobe and returns the value of one stream entry (e.g. "channels").
std::string ProbeStreamEntry(const std::string& path, const std::string& entry);

} // namespace velmora::test
