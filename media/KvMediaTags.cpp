#include "media/KvMediaTags.h"

#include "common/KvText.h"
#include "media/KvCoverPicture.h"
#include "media/KvFFMpegDeleters.h"

#include <algorithm>
#include <cstring>
#include <initializer_list>

extern "C" {
#include <libavutil/base64.h>
#include <libavutil/dict.h>
}

namespace velmora {

namespace {

const AVDictionaryEntry* FindTag(const AVDictionary* metadata, std::initializer_list<const char*> keys)
{
    for (const char* key : keys) {
        // Keys compare without regard to case: "ARTIST" (Matroska, Vorbis) is "artist".
        const AVDictionaryEntry* entry = av_dict_get(metadata, key, nullptr, 0);
        if (entry != nullptr && entry->value != nullptr && entry->value[0] != '\0')
            return entry;
    }
    return nullptr;
}

void TakeTag(std::string& field, const AVDictionary* metadata, std::initializer_list<const char*> keys,
             std::size_t maxChars)
{
    if (!field.empty() || metadata == nullptr)
        return;
    if (const AVDictionaryEntry* entry = FindTag(metadata, keys))
        field = CleanTagText(entry->value, maxChars);
}

void TakeTexts(MediaTags& tags, const AVDictionary* metadata)
{
    TakeTag(tags.title, metadata, {"title"}, kMaxTagNameChars);
    TakeTag(tags.artist, metadata, {"artist", "author"}, kMaxTagNameChars);
    TakeTag(tags.album, metadata, {"album"}, kMaxTagNameChars);
    TakeTag(tags.albumArtist, metadata, {"album_artist", "albumartist", "album artist"}, kMaxTagNameChars);
    TakeTag(tags.date, metadata, {"date", "year", "WM/Year"}, kMaxTagNumberChars);
    TakeTag(tags.track, metadata, {"track", "tracknumber"}, kMaxTagNumberChars);
    TakeTag(tags.genre, metadata, {"genre"}, kMaxTagNameChars);
    TakeTag(tags.comment, metadata, {"comment", "description"}, kMaxTagCommentChars);
}

std::string MimeOfBytes(const std::vector<std::uint8_t>& bytes)
{
    auto starts = [&](std::initializer_list<std::uint8_t> magic) {
        return bytes.size() >= magic.size() && std::equal(magic.begin(), magic.end(), bytes.begin());
    };
    if (starts({0xFF, 0xD8, 0xFF}))
        return "image/jpeg";
    if (starts({0x89, 'P', 'N', 'G'}))
        return "image/png";
    return std::string();
}

bool TakeAttachedPicture(MediaTags& tags, const AVFormatContext* format)
{
    const AVStream* chosen = nullptr;
    for (unsigned i = 0; i < format->nb_streams; ++i) {
        const AVStream* stream = format->streams[i];
        if (!(stream->disposition & AV_DISPOSITION_ATTACHED_PIC) || stream->attached_pic.size <= 0 ||
            static_cast<std::size_t>(stream->attached_pic.size) > kMaxCoverSourceBytes ||
            CoverMimeOfCodec(stream->codecpar->codec_id).empty())
            continue;
        const AVDictionaryEntry* kind = av_dict_get(stream->metadata, "comment", nullptr, 0);
        const bool front = kind != nullptr && std::strcmp(kind->value, "Cover (front)") == 0;
        if (chosen == nullptr || front)
            chosen = stream;
        if (front)
            break;
    }
    if (chosen == nullptr)
        return false;
    tags.cover.assign(chosen->attached_pic.data, chosen->attached_pic.data + chosen->attached_pic.size);
    tags.coverMime = CoverMimeOfCodec(chosen->codecpar->codec_id);
    return true;
}

// The old Vorbis comment form: the picture file itself in base64.
bool TakeCoverTag(MediaTags& tags, const AVDictionary* metadata)
{
    const AVDictionaryEntry* entry = metadata != nullptr ? av_dict_get(metadata, "COVERART", nullptr, 0) : nullptr;
    if (entry == nullptr || entry->value == nullptr)
        return false;
    const std::size_t textBytes = std::strlen(entry->value);
    if (textBytes / 4 * 3 > kMaxCoverSourceBytes)
        return false;
    std::vector<std::uint8_t> bytes(AV_BASE64_DECODE_SIZE(textBytes) + 1);
    const int decoded = av_base64_decode(bytes.data(), entry->value, static_cast<int>(bytes.size()));
    if (decoded <= 0)
        return false;
    bytes.resize(static_cast<std::size_t>(decoded));
    const std::string mime = MimeOfBytes(bytes);
    if (mime.empty())
        return false;
    tags.cover = std::move(bytes);
    tags.coverMime = mime;
    return true;
}

} // namespace

std::string CleanTagText(std::string_view text, std::size_t maxChars)
{
    std::wstring wide = Utf8ToWide(text);
    std::wstring kept;
    kept.reserve(std::min(wide.size(), maxChars));
    for (wchar_t c : wide) {
        if (kept.size() >= maxChars)
            break;
        const bool control = (c < 0x20 && c != L'\t' && c != L'\n' && c != L'\r') || (c >= 0x7F && c < 0xA0);
        if (!control)
            kept.push_back(c);
    }
    auto blank = [](wchar_t c) { return c == L' ' || c == L'\t' || c == L'\n' || c == L'\r'; };
    std::size_t first = 0;
    std::size_t last = kept.size();
    while (first < last && blank(kept[first]))
        ++first;
    while (last > first && blank(kept[last - 1]))
        --last;
    return WideToUtf8(std::wstring_view(kept).substr(first, last - first));
}

bool ReadMediaTags(const std::string& path, int audioStream, MediaTags& tags)
{
    tags = MediaTags{};
    QuietFFmpegLog();
    // The header holds the tags and the attached pictures; no packet is needed.
    AVFormatContext* raw = nullptr;
    if (avformat_open_input(&raw, path.c_str(), nullptr, nullptr) < 0)
        return false;
    const ScopedFormatContext format(raw);
    ReadMediaTags(format.get(), audioStream, tags);
    return true;
}

namespace {

// The texts of format's tags, those of its sound track audioStream (-1: the first)
// among them where they belong to the file (Ogg, or a file of one stream); returns
// that track.
const AVStream* ReadTexts(const AVFormatContext* format, int audioStream, MediaTags& tags)
{
    tags = MediaTags{};
    const AVStream* sound = nullptr;
    int streams = 0;
    for (unsigned i = 0; i < format->nb_streams; ++i) {
        const AVStream* stream = format->streams[i];
        if (!(stream->disposition & AV_DISPOSITION_ATTACHED_PIC))
            ++streams;
        const bool wanted = audioStream < 0 ? sound == nullptr : static_cast<int>(i) == audioStream;
        if (wanted && stream->codecpar->codec_type == AVMEDIA_TYPE_AUDIO)
            sound = stream;
    }

    TakeTexts(tags, format->metadata);
    const bool ogg = std::strcmp(format->iformat->name, "ogg") == 0;
    if (sound != nullptr && (ogg || streams == 1))
        TakeTexts(tags, sound->metadata);
    return sound;
}

} // namespace

std::string ReadAlbumTag(const AVFormatContext* format)
{
    MediaTags tags;
    ReadTexts(format, -1, tags);
    return tags.album;
}

void ReadMediaTags(const AVFormatContext* format, int audioStream, MediaTags& tags)
{
    const AVStream* sound = ReadTexts(format, audioStream, tags);
    if (!TakeAttachedPicture(tags, format) && !TakeCoverTag(tags, format->metadata) && sound != nullptr)
        TakeCoverTag(tags, sound->metadata);
}

} // namespace velmora
