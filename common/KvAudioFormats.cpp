#include "common/KvAudioFormats.h"

#include "common/KvMp3Rates.h"

#include <algorithm>
#include <cctype>

namespace velmora {

namespace {

const std::vector<int> kLosslessRates = {8000, 11025, 16000, 22050, 32000, 44100, 48000, 88200, 96000, 176400, 192000};
const std::vector<int> kAacRates = {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000, 64000, 88200, 96000};
const std::vector<int> kVorbisRates = {8000, 11025, 16000, 22050, 32000, 44100, 48000, 96000};

} // namespace

const std::vector<KvAudioFormat>& AudioFormats()
{
    static const std::vector<KvAudioFormat> formats = {
        {kKvOutputOriginal, "original", "Original (kept as it is)", ".mka", true, 0, 0, 0, nullptr, 0, 0, 0, {}, 0},
        {kKvOutputFlac, "flac", "FLAC (lossless)", ".flac", true, 0, 0, 0, "compression level", 0, 8, 5, kLosslessRates, 8},
        {kKvOutputWav, "wav", "WAV (uncompressed)", ".wav", true, 0, 0, 0, "bits", 0, 24, 0, kLosslessRates, 8},
        {kKvOutputAlac, "alac", "ALAC (lossless, .m4a)", ".m4a", true, 0, 0, 0, nullptr, 0, 0, 0, kLosslessRates, 8},
        {kKvOutputOpus, "opus", "Opus", ".opus", false, 6, 510, 128, nullptr, 0, 0, 0, {48000}, 8},
        {kKvOutputAac, "aac", "AAC (.m4a)", ".m4a", false, 32, 320, 192, nullptr, 0, 0, 0, kAacRates, 8},
        {kKvOutputVorbis, "vorbis", "Ogg Vorbis", ".ogg", false, 0, 0, 0, "quality", -1, 10, 5, kVorbisRates, 8},
        {kKvOutputMp3Vbr, "mp3-vbr", "MP3 (variable bit rate)", ".mp3", false, 0, 0, 0, "V", 0, 9, 2, Mp3SampleRates(), 2},
    };
    return formats;
}

const KvAudioFormat* FindAudioFormat(int outputType)
{
    for (const KvAudioFormat& format : AudioFormats()) {
        if (format.outputType == outputType)
            return &format;
    }
    return nullptr;
}

const KvAudioFormat* FindAudioFormatByWord(std::string_view word)
{
    for (const KvAudioFormat& format : AudioFormats()) {
        const std::string_view name = format.word;
        if (name.size() == word.size()
            && std::equal(name.begin(), name.end(), word.begin(),
                          [](char a, char b) { return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b)); }))
            return &format;
    }
    return nullptr;
}

bool IsAudioQuality(const KvAudioFormat& format, int value)
{
    if (format.qualityName == nullptr)
        return false;
    if (format.outputType == kKvOutputWav)
        return value == 0 || value == 16 || value == 24;
    return value >= format.minQuality && value <= format.maxQuality;
}

} // namespace velmora
