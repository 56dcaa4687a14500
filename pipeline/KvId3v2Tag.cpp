#include "pipeline/KvId3v2Tag.h"

#include <cstring>
#include <string>

namespace velmora {

namespace {

constexpr std::uint8_t kUtf8 = 3;
constexpr std::uint8_t kFrontCover = 3;

// Four 7-bit groups, high first: what version 2.4 uses for tag and frame sizes.
void PutSyncSafe(std::vector<std::uint8_t>& out, std::uint32_t value)
{
    for (int shift = 21; shift >= 0; shift -= 7)
        out.push_back(static_cast<std::uint8_t>((value >> shift) & 0x7F));
}

void PutFrame(std::vector<std::uint8_t>& out, const char* id, const std::vector<std::uint8_t>& body)
{
    out.insert(out.end(), id, id + 4);
    PutSyncSafe(out, static_cast<std::uint32_t>(body.size()));
    out.push_back(0); // no frame flags
    out.push_back(0);
    out.insert(out.end(), body.begin(), body.end());
}

void PutText(std::vector<std::uint8_t>& out, const char* id, const std::string& text)
{
    if (text.empty())
        return;
    std::vector<std::uint8_t> body;
    body.push_back(kUtf8);
    body.insert(body.end(), text.begin(), text.end());
    PutFrame(out, id, body);
}

} // namespace

std::vector<std::uint8_t> BuildId3v2Tag(const MediaTags& tags)
{
    std::vector<std::uint8_t> frames;
    PutText(frames, "TIT2", tags.title);
    PutText(frames, "TPE1", tags.artist);
    PutText(frames, "TALB", tags.album);
    PutText(frames, "TPE2", tags.albumArtist);
    PutText(frames, "TDRC", tags.date);
    PutText(frames, "TRCK", tags.track);
    PutText(frames, "TCON", tags.genre);
    if (!tags.comment.empty()) {
        std::vector<std::uint8_t> body = {kUtf8, 'X', 'X', 'X', 0}; // unknown language, empty description
        body.insert(body.end(), tags.comment.begin(), tags.comment.end());
        PutFrame(frames, "COMM", body);
    }
    if (!tags.cover.empty() && !tags.coverMime.empty()) {
        std::vector<std::uint8_t> body = {kUtf8};
        body.insert(body.end(), tags.coverMime.begin(), tags.coverMime.end());
        body.push_back(0);
        body.push_back(kFrontCover);
        body.push_back(0); // empty description
        body.insert(body.end(), tags.cover.begin(), tags.cover.end());
        PutFrame(frames, "APIC", body);
    }
    // Sizes are 28-bit; a tag beyond that cannot be written (the caps keep far below).
    if (frames.empty() || frames.size() >= (1u << 28))
        return {};

    std::vector<std::uint8_t> tag = {'I', 'D', '3', 4, 0, 0};
    PutSyncSafe(tag, static_cast<std::uint32_t>(frames.size()));
    tag.insert(tag.end(), frames.begin(), frames.end());
    return tag;
}

} // namespace velmora
