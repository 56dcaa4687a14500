#pragma once

// The chapters a media file's container lists (MP4/M4B, Matroska, Ogg, MP3 with ID3
// CHAP frames: what FFmpeg reads as chapters), and the CUESHEET tag a FLAC rip may
// carry inside it.

#include <string>
#include <vector>

struct AVFormatContext;

namespace velmora {

struct KvChapter
{
    double start = 0.0; // seconds
    double end = 0.0;   // seconds
    std::string title;  // empty: none

    bool operator==(const KvChapter&) const = default;
};

// The chapters of path in time order, those of no length left out; empty for a file
// without chapters or one that cannot be read.
std::vector<KvChapter> ReadChapters(const std::string& path);
// The same from a file that is open already (its streams found).
std::vector<KvChapter> ReadChapters(const AVFormatContext* context);

// The chapters an output of the part from start to end seconds of a source holds
// (end < 0: to the source's end), played at speed and placed at offset seconds of the
// output: times moved by start, those outside the part left out, those across its
// bounds cut at them.
std::vector<KvChapter> ChaptersOfPart(const std::vector<KvChapter>& chapters, double start, double end, double speed,
                                      double offset);

// Gives a muxer that writes chapters (MP4, Matroska) these, before its header is
// written; the context frees them with itself.
bool SetMuxerChapters(AVFormatContext* output, const std::vector<KvChapter>& chapters);

// The text of path's CUESHEET tag (a FLAC rip's embedded sheet); empty when it has none.
std::string ReadEmbeddedCueSheet(const std::string& path);

// Both from one opening of path: what a file may split into.
struct KvFileTracks
{
    std::vector<KvChapter> chapters;
    std::string cueSheet;
};
KvFileTracks ReadFileTracks(const std::string& path);

} // namespace velmora
