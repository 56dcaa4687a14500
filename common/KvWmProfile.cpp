#include "common/KvWmProfile.h"

#include "common/KvText.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fstream>

namespace velmora {

namespace {

WmAudioFormat MakeFormat(int kbps, int sampleRate, int channels)
{
    WmAudioFormat format;
    format.nBitrate = kbps * 1000;
    format.nSampleRate = sampleRate;
    format.nChannels = channels;
    // Sample rates are named by their whole kHz, as users know them: 44100 is "44 kHz".
    format.description = FormatIntW(kbps) + L" kbps, " + FormatIntW(sampleRate / 1000) + L" kHz, "
        + (channels == 1 ? L"mono" : L"stereo") + L" CBR";
    return format;
}

std::vector<WmCodecInfo> BuildCodecs()
{
    WmCodecInfo wma;
    wma.name = L"Windows Media Audio 9.2";
    wma.wFormatTag = kWaveFormatWmaStandard;
    // Only rates and bit rates the encoder accepts: at most 48 kHz and two channels,
    // at least 24 kbit/s.
    wma.formats = {
        MakeFormat(320, 48000, 2), MakeFormat(256, 48000, 2), MakeFormat(192, 48000, 2),
        MakeFormat(192, 44100, 2), MakeFormat(160, 44100, 2), MakeFormat(128, 44100, 2),
        MakeFormat(128, 48000, 2), MakeFormat(96, 44100, 2), MakeFormat(80, 44100, 2),
        MakeFormat(64, 44100, 2), MakeFormat(48, 44100, 2), MakeFormat(48, 32000, 2),
        MakeFormat(40, 32000, 2), MakeFormat(32, 32000, 2), MakeFormat(32, 22050, 2),
        MakeFormat(64, 44100, 1), MakeFormat(48, 44100, 1), MakeFormat(32, 22050, 1),
        MakeFormat(24, 16000, 1),
    };
    return {wma};
}

// Frame length of the WMA standard coder at a sample rate, used to describe the
// packet size in the profile the way the encoder will choose it.
int WmaFrameLength(int sampleRate)
{
    if (sampleRate <= 16000)
        return 512;
    if (sampleRate <= 22050)
        return 1024;
    return 2048;
}

std::string GuidForTag(uint16_t tag)
{
    char text[64];
    std::snprintf(text, sizeof text, "{%08X-0000-0010-8000-00AA00389B71}", tag);
    return text;
}

// Turns the file's bytes into 8-bit text: UTF-16 in either byte order (with or
// without a mark) loses its high bytes, which is harmless since everything we look
// for is ASCII; U+0000 terminators are dropped.
std::string Narrow(std::string_view bytes)
{
    auto at = [&](size_t i) { return static_cast<unsigned char>(bytes[i]); };
    bool littleEndian = false;
    bool bigEndian = false;
    size_t start = 0;
    if (bytes.size() >= 2 && at(0) == 0xFF && at(1) == 0xFE) {
        littleEndian = true;
        start = 2;
    } else if (bytes.size() >= 2 && at(0) == 0xFE && at(1) == 0xFF) {
        bigEndian = true;
        start = 2;
    } else if (bytes.size() >= 3 && at(0) == 0xEF && at(1) == 0xBB && at(2) == 0xBF) {
        start = 3;
    } else if (bytes.size() >= 2 && at(0) != 0 && at(1) == 0) {
        littleEndian = true;
    } else if (bytes.size() >= 2 && at(0) == 0 && at(1) != 0) {
        bigEndian = true;
    }
    std::string text;
    if (littleEndian || bigEndian) {
        for (size_t i = start; i + 1 < bytes.size(); i += 2) {
            unsigned lo = littleEndian ? at(i) : at(i + 1);
            unsigned hi = littleEndian ? at(i + 1) : at(i);
            unsigned unit = lo | (hi << 8);
            if (unit == 0)
                continue;
            text += unit < 0x80 ? static_cast<char>(unit) : '?';
        }
    } else {
        for (size_t i = start; i < bytes.size(); ++i) {
            if (bytes[i] != '\0')
                text += bytes[i];
        }
    }
    return text;
}

// Finds the start of the element `name` at or after from (case-insensitive).
size_t FindElement(const std::string& lower, const std::string& name, size_t from)
{
    std::string needle = "<" + name;
    for (size_t pos = lower.find(needle, from); pos != std::string::npos; pos = lower.find(needle, pos + 1)) {
        size_t after = pos + needle.size();
        if (after < lower.size() && (std::isspace(static_cast<unsigned char>(lower[after])) || lower[after] == '>' || lower[after] == '/'))
            return pos;
    }
    return std::string::npos;
}

// Reads attribute `name` of the tag that starts at tagStart: blanks and line breaks
// are allowed around "=", and the value may be in double or single quotes.
bool FindAttribute(const std::string& text, const std::string& lower, size_t tagStart, const std::string& name, std::string& value)
{
    size_t tagEnd = lower.find('>', tagStart);
    if (tagEnd == std::string::npos)
        tagEnd = lower.size();
    for (size_t pos = lower.find(name, tagStart); pos != std::string::npos && pos < tagEnd; pos = lower.find(name, pos + 1)) {
        if (!std::isspace(static_cast<unsigned char>(lower[pos - 1])))
            continue;
        size_t i = pos + name.size();
        while (i < tagEnd && std::isspace(static_cast<unsigned char>(lower[i])))
            ++i;
        if (i >= tagEnd || lower[i] != '=')
            continue;
        ++i;
        while (i < tagEnd && std::isspace(static_cast<unsigned char>(lower[i])))
            ++i;
        if (i >= tagEnd || (lower[i] != '"' && lower[i] != '\''))
            continue;
        char quote = lower[i];
        size_t close = text.find(quote, i + 1);
        if (close == std::string::npos)
            return false;
        value = text.substr(i + 1, close - i - 1);
        // Trim stray blanks inside the quotes.
        value.erase(0, value.find_first_not_of(" \t\r\n"));
        value.erase(value.find_last_not_of(" \t\r\n") + 1);
        return true;
    }
    return false;
}

} // namespace

const std::vector<WmCodecInfo>& WmAudioCodecs()
{
    static const std::vector<WmCodecInfo> codecs = BuildCodecs();
    return codecs;
}

std::vector<WmAudioFormat> WmAudioFormats(int codecIndex, int passes)
{
    const auto& codecs = WmAudioCodecs();
    if (codecIndex < 0 || codecIndex >= static_cast<int>(codecs.size()) || passes != 0)
        return {};
    return codecs[codecIndex].formats;
}

bool ResolveWmAudioFormat(int codecIndex, int formatValue, WmAudioFormat& format)
{
    if (formatValue < 0)
        return false;
    auto formats = WmAudioFormats(codecIndex, formatValue / kWmaPassesFactor);
    int position = formatValue % kWmaPassesFactor;
    if (position >= static_cast<int>(formats.size()))
        return false;
    format = formats[position];
    return true;
}

std::u16string BuildWmAudioProfileText(const WmAudioFormat& format, uint16_t wFormatTag, std::string_view languageTag)
{
    const int avgBytes = format.nBitrate / 8;
    const int blockAlign = static_cast<int>(static_cast<int64_t>(format.nBitrate) * WmaFrameLength(format.nSampleRate) / (format.nSampleRate * 8LL));
    std::string text;
    text += "<profile version=\"589824\" storageformat=\"1\" name=\"WM Media Profile\" description=\"1 Audio\">\r\n";
    text += "\t<streamconfig majortype=\"{73647561-0000-0010-8000-00AA00389B71}\" streamnumber=\"1\" streamname=\"Audio1\""
            " inputname=\"\" bitrate=\"" + FormatInt(format.nBitrate) + "\" bufferwindow=\"3000\" reliabletransport=\"0\""
            " decodercomplexity=\"\" rfc1766langid=\"" + std::string(languageTag) + "\">\r\n";
    text += "\t\t<wmmediatype subtype=\"" + GuidForTag(wFormatTag) + "\" bfixedsizesamples=\"1\" btemporalcompression=\"0\""
            " lsamplesize=\"" + FormatInt(blockAlign) + "\">\r\n";
    text += "\t\t\t<waveformatex wFormatTag=\"" + FormatInt(wFormatTag) + "\" nChannels=\"" + FormatInt(format.nChannels)
        + "\" nSamplesPerSec=\"" + FormatInt(format.nSampleRate) + "\" nAvgBytesPerSec=\"" + FormatInt(avgBytes)
        + "\" nBlockAlign=\"" + FormatInt(blockAlign) + "\" wBitsPerSample=\"16\" codecdata=\"\"/>\r\n";
    text += "\t\t</wmmediatype>\r\n";
    text += "\t</streamconfig>\r\n";
    text += "</profile>\r\n";
    return Utf8ToUtf16(text);
}

bool WriteWmProfile(const std::string& path, int codecIndex, int formatValue, std::string_view languageTag)
{
    WmAudioFormat format;
    if (!ResolveWmAudioFormat(codecIndex, formatValue, format))
        return false;
    std::u16string text = BuildWmAudioProfileText(format, WmAudioCodecs()[codecIndex].wFormatTag, languageTag);
    std::string bytes;
    bytes.reserve(text.size() * 2);
    for (char16_t unit : text) {
        bytes += static_cast<char>(unit & 0xFF);
        bytes += static_cast<char>(unit >> 8);
    }
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out)
        return false;
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    return static_cast<bool>(out);
}

bool ParseWmProfile(std::string_view bytes, WmProfileStream& stream)
{
    const std::string text = Narrow(bytes);
    std::string lower = text;
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });

    for (size_t config = FindElement(lower, "streamconfig", 0); config != std::string::npos;
         config = FindElement(lower, "streamconfig", config + 1)) {
        std::string majorType;
        if (FindAttribute(text, lower, config, "majortype", majorType)
            && ToLowerAscii(majorType).find("73647561") == std::string::npos)
            continue; // not an audio stream
        size_t next = FindElement(lower, "streamconfig", config + 1);
        size_t wave = FindElement(lower, "waveformatex", config);
        if (wave == std::string::npos || (next != std::string::npos && wave > next))
            continue;
        std::string tag, channels, rate, avgBytes, bitrate;
        if (!FindAttribute(text, lower, wave, "wformattag", tag) || !FindAttribute(text, lower, wave, "nchannels", channels)
            || !FindAttribute(text, lower, wave, "nsamplespersec", rate))
            continue;
        WmProfileStream found;
        found.wFormatTag = static_cast<uint16_t>(ParseInt(tag));
        found.nChannels = ParseInt(channels);
        found.nSampleRate = ParseInt(rate);
        if (FindAttribute(text, lower, config, "bitrate", bitrate))
            found.nBitrate = ParseInt(bitrate);
        if (found.nBitrate <= 0 && FindAttribute(text, lower, wave, "navgbytespersec", avgBytes))
            found.nBitrate = ParseInt(avgBytes) * 8;
        if (found.nChannels <= 0 || found.nSampleRate <= 0)
            continue;
        stream = found;
        return true;
    }
    return false;
}

} // namespace velmora
