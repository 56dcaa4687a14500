#pragma once

// Where a sound track kept as it is goes: the container that suits its codec. AAC and
// ALAC go into .m4a, MP3 into .mp3, Opus into .opus, Vorbis into .ogg, FLAC into
// .flac, AC-3 into .ac3, E-AC-3 into .eac3, PCM into .wav, WMA into .wma, anything
// else into Matroska (.mka), which holds every codec.

#include <string>

namespace velmora {

struct KvOriginalContainer
{
    std::string extension; // ".m4a"
    std::string muxer;     // FFmpeg's muxer name: "ipod"
    bool lossless = false; // the codec keeps every sample (FLAC, ALAC, PCM)
};

// The container of an FFmpeg codec id (an AVCodecID).
KvOriginalContainer OriginalContainerOf(int codecId);

// The container of the sound track audioStream (-1: the first) of path; false when the
// file cannot be opened or has no such track.
bool OriginalContainerOf(const std::string& path, int audioStream, KvOriginalContainer& container);

} // namespace velmora
