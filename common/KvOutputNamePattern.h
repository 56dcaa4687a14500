#pragma once

// The names Render gives its output files, made from a pattern the user chooses.
//
// A pattern is text with placeholders in braces:
//   {name}    the source's file name without its extension
//   {n}       the row's output number, three digits at least: 001, 002, ... 1000
//   {title}   the source's title tag; without one, the source's name as {name} has it
//             (the output's own title tag is made the same way)
//   {artist}  the source's artist tag; nothing without one
//   {album}   the source's album tag; nothing without one
//   {track}   the track number, two digits at least (03): a split track's place in its
//             file, else the source's track tag; nothing without one
//   {chapter} a split track's chapter or CUE title; nothing for a whole file
// "{{" and "}}" stand for a brace itself. The default, "(output{n}){name}", names the
// outputs "(output001)holiday clip.mp3", "(output002)song.mp3" ...
//
// The output's extension follows the pattern's expansion. When that name is taken, a
// pattern with {n} takes the next number (a number is never given twice, so rows keep
// their order whatever finishes first); one without {n} gets " (2)", " (3)" ... before
// the extension.
//
// What a name may hold:
//  - "/", NUL and every other control character become "_", wherever they come from;
//  - tags, which come from inside the files, also have \ : * ? " < > | replaced by "_"
//    (characters that the file systems of removable disks refuse); the source's own
//    name was a file name already and keeps them;
//  - the name, extension and " (k)" included, fits one file-system name
//    (kKvMaxNameBytes of UTF-8): the placeholders' values are cut, the longest first,
//    at a character's start; the pattern's own text and numbers are never cut. The
//    engine's temporary file beside a name that long has a name of its own that fits
//    (PartialOutputPath);
//  - a name that comes out empty, blank, "." or ".." is the source's name instead.
//
// Free of Qt: the front end supplies what a taken name is.

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace velmora {

// What a pattern's placeholders stand for in one output.
struct KvOutputNameValues
{
    std::wstring name;   // the source's file name without its extension
    std::wstring title;  // the source's title tag; empty: none
    std::wstring artist; // the source's artist tag; empty: none
    std::wstring album;  // the source's album tag; empty: none
    int track = 0;       // the track number; 0: none
    std::wstring chapter; // a split track's title; empty: none
};

class KvOutputNamePattern
{
public:
    static constexpr std::wstring_view kDefaultText = L"(output{n}){name}";
    // What the tracks of a split file are named while the pattern is the default.
    static constexpr std::wstring_view kSplitDefaultText = L"{track} {title}";
    // The pattern's own text (numbers counted at their widest) may take this many bytes
    // of a name, so the placeholders and " (k)" always have room.
    static constexpr std::size_t kMaxTextBytes = 200;

    // The default pattern.
    KvOutputNamePattern();

    // Takes text as the pattern. False (and the pattern unchanged) for an empty text,
    // an unknown placeholder, a brace without its partner, "/" or a control character,
    // or too much text; error (when given) then says which in a few words.
    bool Parse(std::wstring_view text, std::string* error = nullptr);

    const std::wstring& Text() const { return m_text; }
    bool UsesNumber() const;
    // Whether {title}, {artist}, {album} or {track} is used: only then are the
    // source's tags read.
    bool UsesTags() const;

    // The file name (no folder) for the output number, copy k (" (k)" before the
    // extension when k > 1) and extension (".mp3").
    std::wstring FileName(const KvOutputNameValues& values, int number, int copy, std::wstring_view extension) const;
    // The first name that is not taken: counter is advanced first and then, for a
    // pattern with {n}, again while the name is taken; a pattern without {n} tries the
    // copies 2, 3 ... instead. Gives up (and returns the last name tried) only after
    // kMaxAttempts names, where taken answers yes to everything.
    // With keepNumber, counter is the output's own number and stays: a taken name gets
    // the copies 2, 3 ... (an output whose number was fixed beforehand, the same
    // whichever run converts it).
    static constexpr int kMaxAttempts = 100000;
    std::wstring ChooseFileName(const KvOutputNameValues& values, std::wstring_view extension, int& counter,
                                const std::function<bool(const std::wstring& name)>& taken,
                                bool keepNumber = false) const;

    // A folder's name as the target may hold it: control characters become "_" as in
    // file names; an empty name, "." and ".." become "_".
    static std::wstring CleanFolderName(std::wstring_view name);

    // The source's file name without its folder and its last extension.
    static std::wstring SourceName(std::wstring_view sourcePath);

private:
    enum class Kind
    {
        Text,
        Number,
        Name,
        Title,
        Artist,
        Album,
        Track,
        Chapter,
    };
    struct Piece
    {
        Kind kind;
        std::wstring text; // Kind::Text only
    };

    std::wstring m_text;
    std::vector<Piece> m_pieces;
};

} // namespace velmora
