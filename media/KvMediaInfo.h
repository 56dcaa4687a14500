#pragma once

// The media information of one file, as the media list shows it: which streams
// it carries, the picture size and the length. Built on FFmpeg's probe.

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
};

// Fills info for path (UTF-8). Returns false when the file cannot be opened or
// probed as media; info is then all zero. When FFmpeg only estimates the length
// from the bit rate (VBR MP3 without a Xing header, raw ADTS AAC) or knows none,
// the packets are read through for the real length.
bool GetMediaInfo(const std::string& path, MediaInfo& info);

} // namespace velmora

// The media information query of the media list: path as a wide string, six
// outputs (any may be null), non-zero on success. The further 64-bit value is
// the duration in 100-nanosecond units; the list does not use it.
int kvplaydll_GetMediaInfoEx(const wchar_t* path, int* hasVideo, int* hasAudio, int* width,
                             int* height, double* duration, int64_t* further);
