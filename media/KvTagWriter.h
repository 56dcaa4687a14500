#pragma once

// Writes the tags and the cover into a finished output file, in place, with TagLib.
//
// What each container gets (only the fields that are not empty):
//   Mp3        an ID3v2.4 tag in front of the first frame (the muxer's Xing/LAME frame
//              stays as it is): TIT2, TPE1, TALB, TPE2, TDRC, TRCK, TCON in UTF-8, COMM
//              (language "XXX", no description), APIC front cover, a TXXX per extra
//              tag. No ID3v1 and no APE tag (any there are removed).
//   Asf        Title, Author, Description; WM/AlbumTitle, WM/AlbumArtist, WM/Year (the
//              year of the date), WM/TrackNumber (a DWORD), WM/Genre, WM/Picture (front
//              cover), an attribute per extra tag.
//   Mp4        ©nam ©ART ©alb aART ©day trkn (number and total of "3/12") ©gen ©cmt,
//              covr (JPEG or PNG), a "----:com.apple.iTunes:NAME" atom per extra tag.
//   Flac       Vorbis comments TITLE ARTIST ALBUM ALBUMARTIST DATE TRACKNUMBER
//              (TRACKTOTAL from "3/12") GENRE COMMENT and the extra tags; the cover
//              as a PICTURE block (front cover, with its size and colour depth).
//   OggVorbis, OggOpus
//              the same comments; the cover as METADATA_BLOCK_PICTURE.
//   Wav        a LIST INFO chunk (INAM IART IPRD ICRD IPRT IGNR ICMT, in UTF-8) and an
//              "ID3 " chunk with the frames an Mp3 gets, cover included.
//   None       nothing (Matroska, AC-3 and the like keep what their muxer wrote).
// Chapters go into Mp3 as CHAP frames under a CTOC, into Ogg as CHAPTERnnn and
// CHAPTERnnnNAME comments; Mp4 and Matroska get theirs from the muxer.
// A field written again replaces the one there; fields of the file that are not
// written are kept.
//
// The cover is first fitted to what the container holds (FitCoverPicture): a JPEG or
// PNG of up to kMaxTagCoverBytes (kMaxAsfTagCoverBytes in Windows Media, whose
// attribute is 64 KB) is written as it is, anything else becomes a JPEG within
// kTagCoverSide (kAsfTagCoverSide) pixels. A cover that cannot be fitted is left
// out; the other tags are still written.

#include "media/KvMediaTags.h"

#include <cstddef>
#include <string>
#include <vector>

namespace velmora {

enum class KvTagContainer { Mp3, Asf, Mp4, Flac, OggVorbis, OggOpus, Wav, None };

constexpr std::size_t kMaxTagCoverBytes = 4u << 20;
constexpr int kTagCoverSide = 1600;
// WM/Picture's value within an attribute's 16-bit length: the picture type, its
// length, the MIME type "image/jpeg" and the empty description in UTF-16 with their
// terminators, and the picture.
constexpr std::size_t kMaxAsfTagCoverBytes = 65535 - 1 - 4 - 22 - 2;
constexpr int kAsfTagCoverSide = 600;

// Writes tags (their extra fields among them) into the file at path (UTF-8) as
// container holds them. Tags
// with nothing to write leave the file untouched (it is not even opened). Returns
// false, with a one-line reason in why, when TagLib cannot open the file as that
// container or cannot save it. note (when given) is set to why the cover was left
// out, and cleared otherwise.
bool WriteMediaTags(const std::string& path, KvTagContainer container, const MediaTags& tags, std::string* why,
                    std::string* note = nullptr);

} // namespace velmora
