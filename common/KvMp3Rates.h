#pragma once

// What an MP3 stream can carry: the sample rates of MPEG-1, MPEG-2 and MPEG-2.5
// Layer III and the bit rates each of them allows. The settings dialog offers only
// these, and the engine brings any other value of an option record to the nearest
// one, so both programs must read the same tables.
//
//   MPEG-1   32000, 44100, 48000 Hz   32 40 48 56 64 80 96 112 128 160 192 224 256 320 kbit/s
//   MPEG-2   16000, 22050, 24000 Hz    8 16 24 32 40 48 56 64 80 96 112 128 144 160 kbit/s
//   MPEG-2.5  8000, 11025, 12000 Hz    8 16 24 32 40 48 56 64 kbit/s

#include <vector>

namespace velmora {

// The nine sample rates, ascending.
const std::vector<int>& Mp3SampleRates();
// The bit rates (kbit/s, ascending) of the MPEG version sampleRate belongs to; an
// illegal rate is first brought to the nearest legal one.
const std::vector<int>& Mp3Bitrates(int sampleRate);
// The legal value nearest to the wanted one (the lower of two equally near). A rate of
// 0 or less ("the rate of the sound given", which for MP3 is always the mix's) is
// 44100 Hz.
int LegalMp3SampleRate(int sampleRate);
int LegalMp3Bitrate(int kbps, int sampleRate);

} // namespace velmora
