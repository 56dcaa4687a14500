#pragma once

// What the ffmpeg tools read from an output: its tags and its cover picture.

#include <string>

namespace velmora::test {

// One tag of the file as ffprobe names it ("title", "WM/Year"); empty when missing.
std::string ProbeFormatTag(const std::string& path, const std::string& key);

// The attached picture's bytes as the file holds them; empty when there is none.
std::string ExtractCover(const std::string& path);

} // namespace velmora::test
