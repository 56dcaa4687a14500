#pragma once

// The ID3v2.4 tag at the start of an MP3 output.
//
// Frames, in this order, each only when its text (or picture) is not empty: TIT2
// title, TPE1 artist, TALB album, TPE2 album artist, TDRC date, TRCK track, TCON
// genre, COMM comment (language "XXX", no description), APIC front cover. Texts are
// UTF-8 (encoding byte 3), as version 2.4 allows for every script. No padding and no
// unsynchronisation.
//
// The muxer's own ID3 writer would put the comment into a user text frame (TXXX
// "comment"), which players do not show as the comment; so the chain writes this tag
// itself, in front of what the muxer writes.

#include "media/KvMediaTags.h"

#include <cstdint>
#include <vector>

namespace velmora {

// The whole tag, header included; empty when tags hold nothing to write.
std::vector<std::uint8_t> BuildId3v2Tag(const MediaTags& tags);

} // namespace velmora
