#pragma once

// The media information of one file, as the media list shows it: which streams
// it carries, the picture size and the length. Built on FFmpeg's probe.

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

namespace velmora {

// One sound track of a file, as the media list offers it for choice.
struct AudioTrackInfo
{
    int nStreamIndex = -1; // the container's stream index: what a job names
    std::string language;  // ISO 639-2 code from the container ("deu"); empty when unknown
    std::string codec;     // a short name people know ("AC-3", "AAC")
    int nChannels = 0;
    std::string title;     // the track's own name ("Commentary"); often empty
};

// "2: deu, AC-3 5.1", "1: AAC stereo", "3: eng, AAC stereo (Commentary)": index,
// language when known, codec and channels, and the track's name when it has one.
std::string AudioTrackLabel(const AudioTrackInfo& track);

struct MediaInfo
{
    int nHasVideo = 0;     // 1 when a decodable video stream (not a cover picture) exists
    int nHasAudio = 0;     // 1 when a decodable audio stream exists
    int nWidth = 0;        // picture size in pixels; 0 for audio-only files
    int nHeight = 0;
    double dDuration = 0;  // seconds
    int64_t llDuration100ns = 0; // the same length in 100-nanosecond units
    // Every decodable sound track, in stream order; the first is what a job reads
    // unless it names another.
    std::vector<AudioTrackInfo> audioTracks;
    // What the file may split into: the chapters its container lists, and whether it
    // carries a CUE sheet (a FLAC rip's CUESHEET tag). KvTrackSplit.h tells the tracks.
    int nChapters = 0;
    bool bCueSheet = false;
    // Its album tag (ReadAlbumTag); empty: none.
    std::string album;
};

// Fills info for path (UTF-8) from the file's header, quickly. Returns false when the
// file cannot be opened or probed as media; info is then all zero. The length is the
// container's; for a file with pictures whose container knows none or only estimates
// it from the bit rate, the packets are read through for it. A file of sound alone
// can declare anything (a cut file keeps its header): MeasureSoundLength tells what
// it holds.
bool GetMediaInfo(const std::string& path, MediaInfo& info);

// How long the sound track audioStream (-1: the first) of path really lasts: from its
// first packet to the end of its last packet that can be read, less what the
// container tells the decoder to drop (priming, padding), without decoding. A track whose packets carry no times is decoded and
// its samples counted. 0 when nothing can be measured, or when cancel turns true.
double MeasureSoundLength(const std::string& path, int audioStream = -1, const std::atomic<bool>* cancel = nullptr);

} // namespace velmora

// The media information query of the media list: path as a wide string, six
// outputs (any may be null), non-zero on success. The further 64-bit value is
// the duration in 100-nanosecond units; the list does not use it.
int kvplaydll_GetMediaInfoEx(const wchar_t* path, int* hasVideo, int* hasAudio, int* width,
                             int* height, double* duration, int64_t* further);
