#pragma once

// The tags of a Windows Media output: the header objects that carry them, and how
// they get into the file the "asf" muxer writes.
//
// What the file carries:
//   Content Description object: Title, Author (the artist), Description (the comment)
//   Extended Content Description object: WM/AlbumTitle, WM/AlbumArtist, WM/Year,
//     WM/TrackNumber (a DWORD), WM/Genre (UTF-16 strings) and WM/Picture (a byte
//     array: picture type 3 "front cover", data length, MIME type, empty description,
//     the picture file), as Windows Media Player writes pictures up to 64 KB.
// Every text is UTF-16 LE with its terminator, within the 64 KB an attribute holds.
//
// Why not the muxer's metadata: it writes every tag as a string (no picture, no
// DWORD), under its own names ("date" instead of WM/Year), and never fills the
// Content Description's Description. So the chain reserves room instead: it gives the
// muxer placeholder strings (AsfReservationTags) that make it write one Extended
// Content Description object of at least the size the real objects need, and once the
// muxer has written its final header, PlaceAsfTagObjects puts the real objects in
// that room (and a Padding object for an odd byte). Nothing after the header moves.

#include "media/KvMediaTags.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace velmora {

// The most picture data WM/Picture can hold in an Extended Content Description
// attribute (64 KB less the attribute's own fields for a JPEG).
constexpr std::size_t kMaxAsfPictureBytes = 65535 - 1 - 4 - 22 - 2;

struct AsfTagObjects
{
    std::vector<std::uint8_t> bytes; // the header objects, one after the other
    int count = 0;                   // how many objects bytes holds
};

// The header objects for tags; empty when there is nothing to write. A picture of
// more than kMaxAsfPictureBytes is left out.
AsfTagObjects BuildAsfTagObjects(const MediaTags& tags);

// The size the muxer must reserve for objects: their own size, or more when a
// Padding object has to fill the rest (the muxer's object is always of even size).
std::size_t AsfReservationSize(const AsfTagObjects& objects);

// Metadata (key, value) entries, in order, that make the "asf" muxer write exactly one
// Extended Content Description object of reservedBytes (from AsfReservationSize).
std::vector<std::pair<std::string, std::string>> AsfReservationTags(std::size_t reservedBytes);

// header: the whole ASF Header Object as the muxer wrote it. Replaces the reserved
// object (with whatever the muxer added to it, such as its "encoder" string) with
// objects, plus a Padding object for what is left, and counts them in the header.
// Returns false, and leaves header as it was, when the reservation is not found as
// reserved (why says what was found).
bool PlaceAsfTagObjects(std::vector<std::uint8_t>& header, const AsfTagObjects& objects, std::size_t reservedBytes,
                        std::string* why);

// The size of the Header Object from its first 30 bytes; 0 when they are not one.
std::uint64_t AsfHeaderObjectSize(const std::uint8_t* first30);

} // namespace velmora
