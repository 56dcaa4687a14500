#pragma once

// CUE sheets: the track list of a whole-album rip, read with libcue.
//
// A sheet's text may come in UTF-8 (with or without a byte-order mark), in UTF-16 with
// one, or, where it is not valid UTF-8, in Windows-1252 (the old rippers' default);
// CueTextToUtf8 makes UTF-8 of any of them before libcue reads it.
//
// A track starts at its INDEX 01 and ends where the next track of the same FILE
// starts: a pre-gap (INDEX 00) stays with the track before it, as players play it. The
// last track of a FILE ends at that file's end (end < 0). Times are in seconds, CD
// frames of 1/75 s as the sheet gives them.

#include <string>
#include <string_view>
#include <vector>

namespace velmora {

struct KvCueTrack
{
    int number = 0;        // the sheet's TRACK number
    std::string file;      // the FILE it is in, as the sheet names it
    double start = 0.0;    // seconds into that file
    double end = -1.0;     // seconds; < 0: the file's end
    std::string title;     // the track's TITLE, else empty
    std::string performer; // the track's PERFORMER, else empty
};

struct KvCueSheet
{
    std::string title;     // the album's TITLE
    std::string performer; // the album's PERFORMER
    std::string date;      // REM DATE
    std::string genre;     // REM GENRE
    std::vector<KvCueTrack> tracks;

    // The FILE names the sheet uses, in the order they first appear.
    std::vector<std::string> Files() const;
};

// bytes as UTF-8: a UTF-8 byte-order mark dropped, UTF-16 (either order, with its mark)
// converted, text that is not valid UTF-8 read as Windows-1252.
std::string CueTextToUtf8(std::string_view bytes);

// Reads a sheet's bytes. False (and error, in a few words) for what is no sheet of
// audio tracks: not parsed by libcue, no track, a track with no FILE, or tracks of one
// FILE that do not start one after another.
bool ParseCueSheet(std::string_view bytes, KvCueSheet& sheet, std::string* error = nullptr);

} // namespace velmora
