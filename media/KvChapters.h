#pragma once

// The chapters a media file's container lists (MP4/M4B, Matroska, Ogg, MP3 with ID3
// CHAP frames: what FFmpeg reads as chapters), and the CUESHEET tag a FLAC rip may
// carry inside it.

#include <string>
#include <vector>

namespace velmora {

struct KvChapter
{
    double start = 0.0; // seconds
    double end = 0.0;   // seconds
    std::string title;  // empty: none
};

// The chapters of path in time order, those of no length left out; empty for a file
// without chapters or one that cannot be read.
std::vector<KvChapter> ReadChapters(const std::string& path);

// The text of path's CUESHEET tag (a FLAC rip's embedded sheet); empty when it has none.
std::string ReadEmbeddedCueSheet(const std::string& path);

} // namespace velmora
