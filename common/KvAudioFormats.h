#pragma once

// The audio formats beyond MP3 and WMA, and what each can carry: one table that the
// settings dialog, the command line and the engine all read, so an offered value is
// always one the engine writes.
//
// A format's record: nOutputType is its code (14 on); nAudioBitrate its kbit/s where
// it has a bit rate; nAudioQuality its one number where it has one (FLAC's compression
// level, Vorbis's quality, the V level of MP3 VBR, WAV's bits per sample); nSampleRate
// a rate in Hz or kKvRateOfSource; nChannels 0 mono, 1 stereo or kKvChannelsOfSource.
// "Of source" is the sound the engine is given: the source's own where the row has
// nothing to mix, else the mix (44100 Hz stereo).

#include <string>
#include <string_view>
#include <vector>

namespace velmora {

inline constexpr int kKvOutputOriginal = 14; // the sound track's packets as they are
inline constexpr int kKvOutputFlac = 15;
inline constexpr int kKvOutputWav = 16;
inline constexpr int kKvOutputAlac = 17;
inline constexpr int kKvOutputOpus = 18;
inline constexpr int kKvOutputAac = 19;
inline constexpr int kKvOutputVorbis = 20;
inline constexpr int kKvOutputMp3Vbr = 21;

inline constexpr int kKvRateOfSource = 0;
inline constexpr int kKvChannelsOfSource = -1;

struct KvAudioFormat
{
    int outputType;
    const char* word;      // what --format takes: "flac"
    const char* label;     // what the Format list shows: "FLAC (lossless)"
    const char* extension; // ".flac"; Original's depends on the codec it keeps
    bool lossless;
    // Bit rate in kbit/s; maxKbps 0: the format has none.
    int minKbps, maxKbps, defaultKbps;
    // The one quality number; qualityName null: the format has none.
    const char* qualityName; // "compression level", "quality", "V", "bits"
    int minQuality, maxQuality, defaultQuality;
    // Sample rates on offer besides "same as the source", ascending.
    std::vector<int> sampleRates;
    int maxChannels; // for "same as the source"; 0: the format keeps what it is given
};

// The formats of this table in the order the Format list shows them.
const std::vector<KvAudioFormat>& AudioFormats();
// The entry of an output type, or null (MP3 CBR, WMA and the video types are not here).
const KvAudioFormat* FindAudioFormat(int outputType);
// The entry whose word is word (any case), or null.
const KvAudioFormat* FindAudioFormatByWord(std::string_view word);
// Whether value is one of the format's quality values (WAV: 16 or 24; 0 keeps the
// source's depth).
bool IsAudioQuality(const KvAudioFormat& format, int value);

} // namespace velmora
