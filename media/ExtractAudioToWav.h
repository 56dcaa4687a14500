#pragma once

// Decodes one whole sound track of a media file (the first unless one is named) into
// a 44100 Hz stereo signed 16-bit WAV file with a canonical 44-byte header.

#include <cstdint>
#include <string>

// source, target: UTF-8 paths. Returns true when the WAV file was written
// completely. On failure nothing is left at target once it was opened (a target
// that could not be opened is not touched). A sound track whose data would not fit
// the 32-bit sizes of the format (4 GiB) is a failure, never a wrapped header.
// audioStream: the container's index of the sound track; -1 takes the first one.
bool ExtractAudioToWav(const std::string& source, const std::string& target, int audioStream = -1);

namespace velmora {

// The largest data chunk a WAV header can describe: the RIFF size (data + 36)
// must fit in 32 bits.
constexpr uint64_t kMaxWavDataBytes = 0xFFFFFFFFull - 36;

// ExtractAudioToWav with a smaller data limit (so the limit can be exercised
// without writing gigabytes). maxDataBytes above kMaxWavDataBytes is capped.
bool ExtractAudioToWavLimited(const std::string& source, const std::string& target,
                              uint64_t maxDataBytes, int audioStream = -1);

} // namespace velmora
