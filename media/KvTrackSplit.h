#pragma once

// One file holding many tracks, seen as its tracks: an audiobook's or a concert's
// chapters, or the CUE sheet of a whole-album rip (a .cue beside the audio file, of the
// same name, or the CUESHEET tag inside a FLAC). Each track is the same source between
// two times, with its own title and place in the album, ready to become a row.

#include <string>
#include <vector>

namespace velmora {

enum class KvSplitSource
{
    Chapters, // the container's chapters
    Cue,      // a CUE sheet: beside the file, or inside it
    Auto,     // a sheet where there is one, else chapters
};

struct KvSplitTrack
{
    std::string file;      // the audio file, full path
    double start = 0.0;    // seconds into it
    double end = -1.0;     // seconds; < 0: the file's end
    int number = 0;        // track k ...
    int count = 0;         // ... of N
    std::string title;     // the chapter's or track's title; empty: none
    std::string performer; // the track's performer, else the album's
    std::string album;     // the sheet's TITLE (chapters: none)
    std::string albumArtist;
    std::string date;
    std::string genre;
};

// The audio file a sheet in sheetFolder names by named: that file when it is there;
// otherwise the one file beside the sheet with the same base name and another
// extension (the usual .wav renamed .flac), a .cue aside. Empty, and why, when there
// is none or more than one.
std::string MatchCueFile(const std::string& sheetFolder, const std::string& named, std::string* why = nullptr);

// The tracks of the sheet at cuePath, every FILE matched to its audio file. Empty and
// why when the sheet cannot be read or a FILE has no audio file.
std::vector<KvSplitTrack> ReadCueTracks(const std::string& cuePath, std::string* why = nullptr);

// The tracks path splits into, from source; empty (and why) when it has none: a file
// without chapters, without a sheet, or whose sheet does not name it.
std::vector<KvSplitTrack> FindSplitTracks(const std::string& path, KvSplitSource source, std::string* why = nullptr);

} // namespace velmora
