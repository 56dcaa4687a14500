#pragma once

// The Windows Media profile layer shared by both programs.
//
// The front end offers one audio codec, "Windows Media Audio 9.2" (the WMA standard
// stream, format tag 0x0161), with the formats that our encoder really produces,
// described the way users know them ("128 kbps, 44 kHz, stereo CBR"). For a WMA job it
// writes the chosen format to "tmp/wmv.prx" as published profile text (UTF-16
// little-endian, no byte-order mark); the engine reads that file back with
// ParseWmProfile, which also accepts profiles saved by other tools (a byte-order
// mark, 8-bit text, attributes spread over lines, a trailing U+0000).

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace velmora {

constexpr uint16_t kWaveFormatWmaV1 = 0x0160;
constexpr uint16_t kWaveFormatWmaStandard = 0x0161;
constexpr uint16_t kWaveFormatWmaPro = 0x0162;
constexpr uint16_t kWaveFormatWmaLossless = 0x0163;
constexpr uint16_t kWaveFormatWmaVoice = 0x000A;

// A format value as the option record's nWmaFormat holds it: passes × 5000 + the
// format's position in its codec's list (passes 0 = constant bit rate).
constexpr int kWmaPassesFactor = 5000;

struct WmAudioFormat
{
    int nBitrate = 0;    // bits per second
    int nSampleRate = 0; // Hz
    int nChannels = 0;   // 1 or 2
    std::wstring description;
};

struct WmCodecInfo
{
    std::wstring name;
    uint16_t wFormatTag = 0;
    std::vector<WmAudioFormat> formats; // constant bit rate; our encoder has no VBR
};

// The audio codecs on offer (one), in list order.
const std::vector<WmCodecInfo>& WmAudioCodecs();

// The format list of codec codecIndex for a search with the given pass count (0 for
// constant bit rate). Empty for a codec index out of range and for passes > 0.
std::vector<WmAudioFormat> WmAudioFormats(int codecIndex, int passes);

// Finds the format a format value names; false when the codec or format is unknown.
bool ResolveWmAudioFormat(int codecIndex, int formatValue, WmAudioFormat& format);

// The published profile text of a one-stream audio profile (stream number 1, buffer
// window 3000 ms, language languageTag such as "en-us").
std::u16string BuildWmAudioProfileText(const WmAudioFormat& format, uint16_t wFormatTag, std::string_view languageTag);

// Writes "tmp/wmv.prx" for the chosen codec and format value: UTF-16 LE, no mark.
// Returns false (and writes nothing) for an unknown codec/format or an I/O failure.
bool WriteWmProfile(const std::string& path, int codecIndex, int formatValue, std::string_view languageTag = "en-us");

// The audio stream a profile describes.
struct WmProfileStream
{
    uint16_t wFormatTag = 0;
    int nBitrate = 0;    // bits per second (the stream's "bitrate", else nAvgBytesPerSec × 8)
    int nSampleRate = 0;
    int nChannels = 0;
};

// Parses profile text in any of the forms above; false when no audio stream with a
// format tag, sample rate and channel count is found.
bool ParseWmProfile(std::string_view bytes, WmProfileStream& stream);

} // namespace velmora
