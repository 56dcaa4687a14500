#pragma once

// The media information of one file, as the media list shows it: which streams
// it carries, the picture size and the length. Built on FFmpeg's probe.

#include <cstdint>
#include <string>

namespace velmora {

struct MediaInfo
{
    int nHasVideo = 0;     // 1 when a decodable video stream (not a cover picture) exists
    int nHasAudio = 0;     // 1 when a decodable audio stream exists
    int nWidth = 0;        // picture size in pixels; 0 for audio-only files
    int nHeight = 0;
    double dDuration = 0;  // seconds
    int64_t llDuration100ns = 0; // the same length in 100-nanosecond units
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
