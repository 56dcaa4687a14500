#include "common/KvWmProfile.h"

#include "common/KvText.h"

#include <algorithm>
#include <cctype>
#include <climits>
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

bool IsBlank(char c)
{
    return std::isspace(static_cast<unsigned char>(c)) != 0;
}

std::string_view TrimBlanks(std::string_view value)
{
    const size_t first = value.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos)
        return {};
    return value.substr(first, value.find_last_not_of(" \t\r\n") - first + 1);
}

// One start tag of the two elements the reader needs, with its quoted attributes in
// the order they stand (names in lower case, values as written, blanks trimmed).
struct ProfileTag
{
    bool bStreamConfig = false; // else a "waveformatex"
    std::vector<std::pair<std::string_view, std::string_view>> attributes;

    // The first attribute of that name (lower case), as a tag read by eye would give it.
    bool Find(std::string_view name, std::string_view& value) const
    {
        for (const auto& [key, text] : attributes) {
            if (key == name) {
                value = text;
                return true;
            }
        }
        return false;
    }
};

// Reads the start tags of "streamconfig" and "waveformatex" elements in one pass over
// the text, so that the time grows with the length of the file alone. Names compare
// without regard to case; values may be in double or single quotes, with blanks and
// line breaks around "="; comments are skipped. A "<" outside quotes starts a new tag,
// so a tag left open cannot hide the ones after it.
std::vector<ProfileTag> ReadProfileTags(const std::string& text, const std::string& lower)
{
    std::vector<ProfileTag> tags;
    const size_t n = text.size();
    size_t i = lower.find('<');
    while (i != std::string::npos) {
        if (lower.compare(i, 4, "<!--") == 0) {
            const size_t close = lower.find("-->", i + 4);
            if (close == std::string::npos)
                break;
            i = lower.find('<', close + 3);
            continue;
        }
        size_t p = i + 1;
        while (p < n && !IsBlank(lower[p]) && lower[p] != '>' && lower[p] != '/' && lower[p] != '<')
            ++p;
        const std::string_view name(lower.data() + i + 1, p - i - 1);
        // An element counts only when its name is followed by a blank, ">" or "/".
        const bool named = p < n && lower[p] != '<';
        ProfileTag tag;
        tag.bStreamConfig = name == "streamconfig";
        const bool wanted = named && (tag.bStreamConfig || name == "waveformatex");
        while (p < n && lower[p] != '>' && lower[p] != '<') {
            if (IsBlank(lower[p]) || lower[p] == '/') {
                ++p;
                continue;
            }
            const size_t nameStart = p;
            while (p < n && !IsBlank(lower[p]) && lower[p] != '=' && lower[p] != '>' && lower[p] != '/' && lower[p] != '<')
                ++p;
            const std::string_view key(lower.data() + nameStart, p - nameStart);
            while (p < n && IsBlank(lower[p]))
                ++p;
            if (p >= n || lower[p] != '=')
                continue;
            ++p;
            while (p < n && IsBlank(lower[p]))
                ++p;
            if (p >= n || (lower[p] != '"' && lower[p] != '\''))
                continue; // an unquoted value is not taken
            const char quote = lower[p];
            const size_t close = lower.find(quote, p + 1);
            const size_t valueEnd = close == std::string::npos ? n : close;
            if (wanted && !key.empty())
                tag.attributes.emplace_back(key, TrimBlanks(std::string_view(text).substr(p + 1, valueEnd - p - 1)));
            p = valueEnd == n ? n : valueEnd + 1;
        }
        if (wanted)
            tags.push_back(std::move(tag));
        i = p < n && lower[p] == '<' ? p : lower.find('<', p);
    }
    return tags;
}

// Bytes per second as bits per second; a value beyond the int range stops at its edge.
int BitsPerSecond(int bytesPerSecond)
{
    const long long bits = static_cast<long long>(bytesPerSecond) * 8;
    return static_cast<int>(std::clamp<long long>(bits, INT_MIN, INT_MAX));
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
    const std::vector<ProfileTag> tags = ReadProfileTags(text, lower);

    for (size_t config = 0; config < tags.size(); ++config) {
        if (!tags[config].bStreamConfig)
            continue;
        std::string_view majorType;
        if (tags[config].Find("majortype", majorType) && ToLowerAscii(majorType).find("73647561") == std::string::npos)
            continue; // not an audio stream
        // The stream's wave format: the first one before the next stream description.
        const size_t wave = config + 1;
        if (wave >= tags.size() || tags[wave].bStreamConfig)
            continue;
        std::string_view tag, channels, rate, avgBytes, bitrate;
        if (!tags[wave].Find("wformattag", tag) || !tags[wave].Find("nchannels", channels)
            || !tags[wave].Find("nsamplespersec", rate))
            continue;
        WmProfileStream found;
        found.wFormatTag = static_cast<uint16_t>(ParseInt(tag));
        found.nChannels = ParseInt(channels);
        found.nSampleRate = ParseInt(rate);
        if (tags[config].Find("bitrate", bitrate))
            found.nBitrate = ParseInt(bitrate);
        if (found.nBitrate <= 0 && tags[wave].Find("navgbytespersec", avgBytes))
            found.nBitrate = BitsPerSecond(ParseInt(avgBytes));
        if (found.nChannels <= 0 || found.nSampleRate <= 0)
            continue;
        stream = found;
        return true;
    }
    return false;
}

} // namespace velmora
