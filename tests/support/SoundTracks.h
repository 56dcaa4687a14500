#pragma once

// Sources with several sound tracks, and telling which one an output carries by its
// sound: each track is a steady tone of its own pitch.

#include <cstdint>
#include <string>
#include <vector>

namespace velmora::test {

constexpr double kEnglishTone = 440.0;
constexpr double kGermanTone = 1250.0;

// A short film: a picture (stream 0), an English track at kEnglishTone (stream 1,
// stereo) and a German one at kGermanTone (stream 2, germanChannels), made with the
// ffmpeg tool. codecs: ffmpeg arguments for the three streams, e.g. "-c:v mpeg4 -c:a:0
// aac -c:a:1 ac3". Returns whether the file was made.
bool MakeTwoTrackFilm(const std::string& path, const std::string& codecs, int germanChannels = 6,
                      double seconds = 3.0);

// The pitch of the first channel of interleaved PCM, from its zero crossings over the
// middle of the signal; 0 for silence.
double ToneFrequency(const std::vector<std::int16_t>& interleaved, int channels, int rate);

// The pitch of a file's first sound track, decoded with the ffmpeg tool.
double FileToneFrequency(const std::string& path);

} // namespace velmora::test
