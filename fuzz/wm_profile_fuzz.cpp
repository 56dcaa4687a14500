// The Windows Media profile reader over any bytes, and the settings the engine makes of
// what it finds: whatever the profile says, the encoder gets a rate, a bit rate and a
// channel count it can write.

#include "FuzzSupport.h"

#include "common/KvWmProfile.h"
#include "pipeline/AudioEncoderChain.h"

#include <algorithm>
#include <array>
#include <cstdint>

using velmora::fuzz::Expect;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    velmora::WmProfileStream stream;
    if (!velmora::ParseWmProfile(std::string_view(reinterpret_cast<const char*>(data), size), stream))
        return 0;
    Expect(stream.nChannels > 0 && stream.nSampleRate > 0, "a stream has channels and a rate");

    std::string note;
    const velmora::AudioOutputSettings settings =
        velmora::LegaliseWmaSettings(stream.wFormatTag, stream.nBitrate, stream.nSampleRate, stream.nChannels, &note);
    static constexpr std::array<int, 9> kRates = {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000};
    Expect(std::find(kRates.begin(), kRates.end(), settings.nSampleRate) != kRates.end(), "a rate the coder takes");
    Expect(settings.nChannels == 1 || settings.nChannels == 2, "one or two channels");
    Expect(settings.nBitrate >= 24000, "at least 24 kbit/s");
    return 0;
}
