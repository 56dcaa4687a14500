#pragma once

// The tags of a source that an output carries on: title, artist, album, album
// artist, date, track, genre, comment and the cover picture.
//
// Every text comes out as valid UTF-8 without control characters (tabs and line
// breaks stay) and within the length caps below, so a writer can pass it on as it
// is; a hostile file cannot hand an output a tag it could not hold.

#include "media/KvChapters.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct AVFormatContext;

namespace velmora {

// Characters (code points) kept of each text. Names are short in real life; a comment
// may hold liner notes or lyrics. The comment's cap keeps it, in UTF-16, within the
// 64 KB that one Windows Media attribute can hold.
constexpr std::size_t kMaxTagNameChars = 1024;   // title, artist, album, album artist, genre
constexpr std::size_t kMaxTagNumberChars = 64;   // date, track
constexpr std::size_t kMaxTagCommentChars = 16000;
// A picture larger than this is not taken from the source at all.
constexpr std::size_t kMaxCoverSourceBytes = 64u << 20;

// A free-form field beside the usual ones ("REPLAYGAIN_TRACK_GAIN" = "-3.21 dB"):
// a TXXX frame (Mp3, Wav), a Vorbis comment (Flac, Ogg), a "----:com.apple.iTunes:"
// atom (Mp4), an attribute (Asf). Fields with an empty name or value are left out.
struct KvExtraTag
{
    std::string name;
    std::string value;

    bool operator==(const KvExtraTag&) const = default;
};

struct MediaTags
{
    std::string title;
    std::string artist;
    std::string album;
    std::string albumArtist;
    std::string date;   // as the source writes it ("2021", "2021-05-03")
    std::string track;  // as the source writes it ("3", "3/12")
    std::string genre;
    std::string comment;
    std::vector<std::uint8_t> cover; // the picture file's bytes; empty: none
    std::string coverMime;           // "image/jpeg", "image/png", ...
    // The output's chapters, in its own time; ReadMediaTags leaves them empty (the
    // engine places a source's chapters: ChaptersOfPart).
    std::vector<KvChapter> chapters;
    // Fields an output gets beside these (its ReplayGain); ReadMediaTags leaves it empty.
    std::vector<KvExtraTag> extra;

    bool operator==(const MediaTags&) const = default;
};

// Reads the tags of path (UTF-8). The container's tags come first; for an Ogg file,
// or a file whose only stream is the sound track, the tags of the sound track
// audioStream (-1: the first) fill what the container lacks (Ogg keeps its comments
// there; a film's track "title" names the track, not the film). The cover is the
// front cover among the attached pictures (or the first of them), else a base64
// "COVERART" comment. Returns false when the file cannot be opened; tags is then
// empty.
bool ReadMediaTags(const std::string& path, int audioStream, MediaTags& tags);
// The same from a file that is open already (its header read); reads no packet.
void ReadMediaTags(const AVFormatContext* format, int audioStream, MediaTags& tags);
// The album tag of an open file as ReadMediaTags reads it (without its cover); empty
// when it has none.
std::string ReadAlbumTag(const AVFormatContext* format);

// text as a tag may hold it: invalid UTF-8 becomes U+FFFD, control characters other
// than tab, line feed and carriage return are dropped, blanks at both ends are
// trimmed, and at most maxChars code points are kept.
std::string CleanTagText(std::string_view text, std::size_t maxChars);

} // namespace velmora
