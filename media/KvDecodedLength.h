#pragma once

// How much sound a file really plays back: its first sound track decoded from start
// to end, as a player would, with the container's encoder delay and padding taken
// off the way FFmpeg's decoders take them off.

#include <cstdint>
#include <string>

struct AVIOContext;

namespace velmora {

struct DecodedLength
{
    std::int64_t nFrames = 0; // samples per channel that came out of the decoder
    int nSampleRate = 0;      // the decoded rate; 0 when nothing decoded
    int nBadPackets = 0;      // packets the decoder refused
    std::string error;        // why the file could not be measured; FFmpeg's words for a refused packet

    double Seconds() const { return nSampleRate > 0 ? static_cast<double>(nFrames) / nSampleRate : 0.0; }
};

// Decodes path's (UTF-8) sound track audioStream (-1: the first) from start to end.
// False when the file cannot be opened or has no decodable sound track (error says
// why); a file that decodes in part is measured to where it stops.
bool MeasureDecodedLength(const std::string& path, DecodedLength& out, int audioStream = -1);
// The same over the bytes io reads (a file still being written, read as it grows).
bool MeasureDecodedLength(AVIOContext* io, DecodedLength& out);

} // namespace velmora
