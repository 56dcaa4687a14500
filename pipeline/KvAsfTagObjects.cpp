#include "pipeline/KvAsfTagObjects.h"

#include "common/KvText.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace velmora {

namespace {

using Guid = std::array<std::uint8_t, 16>;

// The object identifiers as they stand in the file (little-endian fields).
constexpr Guid kHeaderObject = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
constexpr Guid kContentDescription = {0x33, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                      0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
constexpr Guid kExtendedContentDescription = {0x40, 0xA4, 0xD0, 0xD2, 0x07, 0xE3, 0xD2, 0x11,
                                              0x97, 0xF0, 0x00, 0xA0, 0xC9, 0x5E, 0xA8, 0x50};
constexpr Guid kPadding = {0x74, 0xD4, 0x06, 0x18, 0xDF, 0xCA, 0x09, 0x45,
                           0xA4, 0xBA, 0x9A, 0xAB, 0xCB, 0x96, 0xAA, 0xE8};

constexpr std::size_t kObjectHeaderBytes = 24;  // GUID + QWORD size
constexpr std::size_t kHeaderObjectBytes = 30;  // + DWORD count + two reserved bytes
constexpr std::uint16_t kTypeString = 0;
constexpr std::uint16_t kTypeBytes = 1;
constexpr std::uint16_t kTypeDword = 3;
constexpr std::uint8_t kFrontCover = 3;
// The longest text an attribute's 16-bit byte count can hold, terminator included.
constexpr std::size_t kMaxUtf16Units = 32767;
// Each placeholder value stays well inside a 16-bit byte count.
constexpr std::size_t kMaxPlaceholderBytes = 60000;
const char* const kPlaceholderPrefix = "WM/Reserved";

void PutLe(std::vector<std::uint8_t>& out, std::uint64_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

std::uint64_t GetLe(const std::uint8_t* at, int bytes)
{
    std::uint64_t value = 0;
    for (int i = bytes - 1; i >= 0; --i)
        value = value << 8 | at[i];
    return value;
}

void SetLe(std::uint8_t* at, std::uint64_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// UTF-16 LE with its terminator; empty text gives nothing at all.
std::vector<std::uint8_t> Utf16z(const std::string& text)
{
    if (text.empty())
        return {};
    std::u16string units = Utf8ToUtf16(text);
    if (units.size() > kMaxUtf16Units - 1) {
        units.resize(kMaxUtf16Units - 1);
        if (!units.empty() && units.back() >= 0xD800 && units.back() < 0xDC00)
            units.pop_back(); // never keep half a surrogate pair
    }
    units.push_back(0);
    std::vector<std::uint8_t> out;
    for (char16_t unit : units)
        PutLe(out, unit, 2);
    return out;
}

void BeginObject(std::vector<std::uint8_t>& out, const Guid& guid, std::size_t& start)
{
    start = out.size();
    out.insert(out.end(), guid.begin(), guid.end());
    PutLe(out, 0, 8); // patched by EndObject
}

void EndObject(std::vector<std::uint8_t>& out, std::size_t start)
{
    SetLe(out.data() + start + 16, out.size() - start, 8);
}

void PutDescriptor(std::vector<std::uint8_t>& out, const std::string& name, std::uint16_t type,
                   const std::vector<std::uint8_t>& value)
{
    const std::vector<std::uint8_t> key = Utf16z(name);
    PutLe(out, key.size(), 2);
    out.insert(out.end(), key.begin(), key.end());
    PutLe(out, type, 2);
    PutLe(out, value.size(), 2);
    out.insert(out.end(), value.begin(), value.end());
}

// WM/Year holds a year; a full date gives its year.
std::string YearOf(const std::string& date)
{
    if (date.size() >= 4 && std::all_of(date.begin(), date.begin() + 4, [](char c) { return c >= '0' && c <= '9'; }))
        return date.substr(0, 4);
    return date;
}

// The leading number of "3/12"; 0 when there is none.
std::uint32_t TrackNumberOf(const std::string& track)
{
    std::uint64_t value = 0;
    for (char c : track) {
        if (c < '0' || c > '9' || value > 0xFFFFFFFFull / 10)
            break;
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
    }
    return value <= 0xFFFFFFFFull ? static_cast<std::uint32_t>(value) : 0;
}

} // namespace

AsfTagObjects BuildAsfTagObjects(const MediaTags& tags)
{
    AsfTagObjects objects;
    std::vector<std::uint8_t>& out = objects.bytes;

    if (!tags.title.empty() || !tags.artist.empty() || !tags.comment.empty()) {
        std::size_t start = 0;
        BeginObject(out, kContentDescription, start);
        const std::vector<std::uint8_t> fields[5] = {Utf16z(tags.title), Utf16z(tags.artist), {},
                                                     Utf16z(tags.comment), {}};
        for (const auto& field : fields)
            PutLe(out, field.size(), 2);
        for (const auto& field : fields)
            out.insert(out.end(), field.begin(), field.end());
        EndObject(out, start);
        ++objects.count;
    }

    std::vector<std::uint8_t> descriptors;
    int count = 0;
    auto putText = [&](const char* name, const std::string& text) {
        if (text.empty())
            return;
        PutDescriptor(descriptors, name, kTypeString, Utf16z(text));
        ++count;
    };
    putText("WM/AlbumTitle", tags.album);
    putText("WM/AlbumArtist", tags.albumArtist);
    putText("WM/Year", YearOf(tags.date));
    if (const std::uint32_t track = TrackNumberOf(tags.track); track > 0) {
        std::vector<std::uint8_t> value;
        PutLe(value, track, 4);
        PutDescriptor(descriptors, "WM/TrackNumber", kTypeDword, value);
        ++count;
    }
    putText("WM/Genre", tags.genre);
    if (!tags.cover.empty() && !tags.coverMime.empty() && tags.cover.size() <= kMaxAsfPictureBytes) {
        std::vector<std::uint8_t> value;
        value.push_back(kFrontCover);
        PutLe(value, tags.cover.size(), 4);
        const std::vector<std::uint8_t> mime = Utf16z(tags.coverMime);
        value.insert(value.end(), mime.begin(), mime.end());
        PutLe(value, 0, 2); // empty description
        value.insert(value.end(), tags.cover.begin(), tags.cover.end());
        if (value.size() <= 0xFFFF) {
            PutDescriptor(descriptors, "WM/Picture", kTypeBytes, value);
            ++count;
        }
    }
    if (count > 0) {
        std::size_t start = 0;
        BeginObject(out, kExtendedContentDescription, start);
        PutLe(out, static_cast<std::uint64_t>(count), 2);
        out.insert(out.end(), descriptors.begin(), descriptors.end());
        EndObject(out, start);
        ++objects.count;
    }
    return objects;
}

std::size_t AsfReservationSize(const AsfTagObjects& objects)
{
    // The muxer's smallest object (one placeholder with a one-character value), and
    // the rule that what is left over must hold a Padding object.
    const std::size_t smallest = kObjectHeaderBytes + 2 + 2 + Utf16z(kPlaceholderPrefix + std::string("1")).size() + 4 + 2;
    std::size_t size = objects.bytes.size();
    if (size % 2 == 0 && size >= smallest)
        return size;
    size += kObjectHeaderBytes + (size % 2 == 0 ? 0 : 1);
    return std::max(size, smallest + (smallest % 2));
}

std::vector<std::pair<std::string, std::string>> AsfReservationTags(std::size_t reservedBytes)
{
    // Object: 24 + count (2) + per descriptor: name length (2) + name + type (2) +
    // value length (2) + value. Values are runs of blanks, two bytes each plus the
    // terminator; split so that no value passes its 16-bit length.
    std::size_t room = reservedBytes > kObjectHeaderBytes + 2 ? reservedBytes - kObjectHeaderBytes - 2 : 0;
    std::vector<std::pair<std::string, std::string>> tags;
    for (int index = 1; room > 0; ++index) {
        const std::string key = kPlaceholderPrefix + std::to_string(index);
        const std::size_t fixed = 6 + Utf16z(key).size();
        const std::size_t nextFixed = 6 + Utf16z(kPlaceholderPrefix + std::to_string(index + 1)).size();
        std::size_t value = std::min(kMaxPlaceholderBytes, room - fixed);
        // Leave the next placeholder enough for a value of one character.
        if (room - fixed - value > 0 && room - fixed - value < nextFixed + 4)
            value -= nextFixed + 4;
        tags.emplace_back(key, std::string(value / 2 - 1, ' '));
        room -= fixed + value;
    }
    return tags;
}

std::uint64_t AsfHeaderObjectSize(const std::uint8_t* first30)
{
    if (!std::equal(kHeaderObject.begin(), kHeaderObject.end(), first30))
        return 0;
    return GetLe(first30 + 16, 8);
}

bool PlaceAsfTagObjects(std::vector<std::uint8_t>& header, const AsfTagObjects& objects, std::size_t reservedBytes,
                        std::string* why)
{
    auto fail = [&](const std::string& text) {
        if (why)
            *why = text;
        return false;
    };
    if (header.size() < kHeaderObjectBytes || AsfHeaderObjectSize(header.data()) != header.size())
        return fail("no ASF header object");
    const std::vector<std::uint8_t> firstKey = Utf16z(kPlaceholderPrefix + std::string("1"));

    for (std::size_t at = kHeaderObjectBytes; at + kObjectHeaderBytes <= header.size();) {
        const std::uint64_t size = GetLe(header.data() + at + 16, 8);
        if (size < kObjectHeaderBytes || size > header.size() - at)
            return fail("a damaged object in the header");
        const bool extended = std::equal(kExtendedContentDescription.begin(), kExtendedContentDescription.end(),
                                          header.data() + at);
        const std::size_t keyAt = at + kObjectHeaderBytes + 4;
        if (extended && size >= kObjectHeaderBytes + 4 + firstKey.size() &&
            GetLe(header.data() + at + kObjectHeaderBytes + 2, 2) == firstKey.size() &&
            std::equal(firstKey.begin(), firstKey.end(), header.data() + keyAt)) {
            // The muxer adds tags of its own (the "encoder" string) after ours: the room
            // is the whole object, ours and theirs.
            if (size < reservedBytes)
                return fail("the reserved object has " + std::to_string(size) + " bytes, not " +
                            std::to_string(reservedBytes));
            const std::size_t room = static_cast<std::size_t>(size);
            const std::size_t left = room - std::min(room, objects.bytes.size());
            if (objects.bytes.size() > room || (left > 0 && left < kObjectHeaderBytes))
                return fail("the tags do not fit the reserved room");
            std::copy(objects.bytes.begin(), objects.bytes.end(), header.begin() + static_cast<long>(at));
            std::uint8_t* padding = header.data() + at + objects.bytes.size();
            int added = objects.count;
            if (left > 0) {
                std::copy(kPadding.begin(), kPadding.end(), padding);
                SetLe(padding + 16, left, 8);
                std::fill(padding + kObjectHeaderBytes, padding + left, 0);
                ++added;
            }
            // The reserved object is replaced by what was added.
            SetLe(header.data() + 24, GetLe(header.data() + 24, 4) - 1 + static_cast<std::uint64_t>(added), 4);
            return true;
        }
        at += size;
    }
    return fail("the reserved object is not in the header");
}

} // namespace velmora
