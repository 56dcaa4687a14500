// The option file as the engine reads it (up to 84 bytes over the entry the job block's
// preset chooses; bytes after the record give that preset), and what the engine makes
// of the record: the MP3 settings, the overlay size, the decoder settings store.

#include "FuzzSupport.h"

#include "common/KvOptionRecord.h"
#include "pipeline/AudioEncoderChain.h"
#include "project/KvDecoderSettings.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

using velmora::fuzz::Expect;
using velmora::fuzz::Scratch;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const std::string folder = Scratch().Path();
    velmora::fuzz::WriteFile(Scratch().Writable("tmp/option.dat"), bytes.substr(0, velmora::kKvOptionRecordSize));
    int32_t jobPreset = velmora::kKvDefaultPreset;
    if (size >= velmora::kKvOptionRecordSize + sizeof jobPreset)
        std::memcpy(&jobPreset, data + velmora::kKvOptionRecordSize, sizeof jobPreset);

    velmora::tagKvEngineOptions options;
    Expect(velmora::LoadOptions(jobPreset, options, folder), "an option file that exists is read");
    Expect(options.nCurrent >= 0 && options.nCurrent < velmora::kKvPresetCount, "the entry is one of the table");
    const velmora::tagKvOptionRecord& record = options.Current();

    const velmora::AudioOutputSettings mp3 =
        velmora::LegaliseMp3Settings(record.nAudioBitrate, record.nSampleRate, record.nChannels, nullptr);
    static constexpr std::array<int, 9> kRates = {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000};
    Expect(std::find(kRates.begin(), kRates.end(), mp3.nSampleRate) != kRates.end(), "an MP3 rate");
    Expect(mp3.nBitrate >= 8000 && mp3.nBitrate <= 320000, "an MP3 bit rate");

    const velmora::KvSize overlay = velmora::OverlayResolution(record.nOverlayQuality);
    Expect(overlay.nWidth >= 320 && overlay.nWidth <= 1440, "an overlay size of the table");
    (void)velmora::OutputExtension(record.nOutputType);
    (void)velmora::OutputChannelCount(record.nChannels);
    (void)velmora::RoundAndClampWidth(record.nWidth);
    (void)velmora::RoundAndClampHeight(record.nHeight);

    // The engine writes the record into the decoder settings store; it reads back whole.
    Expect(velmora::WriteDecoderSettings(folder, record), "the store is written");
    const velmora::DecoderSettings stored = velmora::ReadDecoderSettings(folder);
    Expect(stored.flip == record.bFlipVideo && stored.isResize == record.bForceResize && stored.resizeAscpect == 0
               && stored.resizeDx == record.nWidth && stored.resizeDy == record.nHeight,
           "the decoder settings read back as written");
    return 0;
}
