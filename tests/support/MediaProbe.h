#pragma once

// What the ffmpeg tools read from an output: its tags and its cover picture.

#include <string>

namespace velmora::test {

// One tag of the file as ffprobe names it ("title", "WM/Year"); empty when missing.
std::string ProbeFormatTag(const std::string& path, const std::string& key);

// What the ffmpeg tool's ebur128 filter says of a file's sound: its integrated
// loudness (LUFS) and its true peak (dBTP).
struct EbuR128Reading
{
    double integrated = 0.0;
    double truePeak = 0.0;
};
EbuR128Reading MeasureLoudness(const std::string& path);

// The attached picture's bytes as the file holds them; empty when there is none.
std::string ExtractCover(const std::string& path);

} // namespace velmora::test
