#pragma once

// The subtitle file of a text item: SRT, ASS or SSA captions read entry by entry as
// play time advances.
//
// Text encodings: a file that starts with FF FE is UTF-16 little-endian; any other
// file is UTF-8 (a leading EF BB BF is skipped, invalid bytes become U+FFFD). Lines
// may end in LF, CR LF or CR alone, and the last line needs no line end.
//
// SRT: a caption is its timing line "hh:mm:ss,mmm --> hh:mm:ss,mmm" and the text
// lines after it up to a blank line (or a line of blanks) or the end of the file.
// ASS and SSA: every "Dialogue:" line of at least five colons is a caption; other
// lines (sections, formats, styles, script information, "Comment:" events, embedded
// fonts) are passed over. Style overrides ("{\i1}" and any other "{...}" block) are
// removed, "\N" and "\n" become line breaks, "\h" a no-break space. An event whose
// end is not after its start is passed over too.
//
// ASS and SSA files may hold several runs of captions whose times start again
// (chapters): at Open the file is indexed, a new chapter beginning wherever a
// caption starts earlier than the one before it. Once a chapter is entered, reading
// ends at the end of that chapter.
//
// Caption text keeps at most 259 UTF-16 units; its line breaks are CR LF. An SRT
// caption's text ends with CR LF after each of its lines, so the texts of captions
// shown together can simply be appended.
//
// Failures: Open returns 0 for a missing file, an unknown extension or a file larger
// than 2 GiB (offsets are 32-bit); a malformed timing line closes the file (ReadEntry
// returns 0 from then on, until the file is opened again).

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace velmora {

// One caption.
struct tagKvSubtitleEntry
{
    static constexpr int kTextUnits = 260;

    double start = 0.0;               // seconds from the start of the file's time scale
    double end = 0.0;                 // seconds
    char16_t text[kTextUnits] = {};   // zero-terminated, at most 259 units, CR LF breaks
};
static_assert(sizeof(tagKvSubtitleEntry) == 536);

// One run of ASS/SSA captions, as byte offsets in the file.
struct tagKvSubtitleChapter
{
    std::int32_t nStartOffset = 0;   // where the chapter begins
    std::int32_t nEndOffset = 0;     // just after its last counted entry
    std::int32_t nFirstOffset = 0;   // start offset, set whenever the chapter is entered
    std::int32_t nResumeOffset = 0;  // where the next lookup reads from; >= start offset
    double dCurrentStart = 0.0;      // the entry found last in this chapter (0 before any)
    double dCurrentEnd = 0.0;
};
static_assert(sizeof(tagKvSubtitleChapter) == 32);

class CKvSubtitleFile
{
public:
    static constexpr int kFormatNone = 0;
    static constexpr int kFormatSrt = 1;
    static constexpr int kFormatAss = 2;
    static constexpr int kFormatSsa = 3;
    static constexpr int kMaxTextUnits = tagKvSubtitleEntry::kTextUnits - 1;

    CKvSubtitleFile();
    ~CKvSubtitleFile();
    CKvSubtitleFile(const CKvSubtitleFile&) = delete;
    CKvSubtitleFile& operator=(const CKvSubtitleFile&) = delete;

    // Opens path (UTF-8) by its extension (".srt", ".ass", ".ssa", any case). With
    // bRebuildIndex, or when there is no index yet, an ASS/SSA file is indexed anew.
    // Returns 1 when the file is open, else 0.
    int Open(const std::string& path, int bRebuildIndex);
    // Reads the next caption. Returns 1 when one was read; 0 at the end of the file
    // or of the current chapter, after a malformed timing line, or when closed.
    int ReadEntry(tagKvSubtitleEntry& entry);

    int ChapterCount() const { return static_cast<int>(m_chapters.size()); }
    // nullptr for an index out of range.
    tagKvSubtitleChapter* Chapter(int index);
    // ASS/SSA with an open file and a valid index: makes index the current chapter and
    // positions the file at its start. Returns whether it did.
    bool EnterChapter(int index);
    int CurrentChapter() const { return m_nCurrentChapter; }
    // A chapter's resume offset, never below its start offset; out of range reads 0
    // and writes nothing.
    int ResumeOffset(int index) const;
    void SetResumeOffset(int index, int offset);

    // Positions the open file at offset, limited to 0 ... file size.
    void SeekTo(std::int64_t offset);
    // The current file offset, 0 when closed.
    std::int64_t Tell() const;
    void Close();
    bool IsOpen() const { return m_file != nullptr; }

    const std::string& Path() const { return m_path; }
    int Format() const { return m_nFormat; }
    bool IsWideText() const { return m_bWideText != 0; }

private:
    struct FileCloser
    {
        void operator()(std::FILE* file) const;
    };

    // One line without its line end; false at the end of the file. hadBreak tells
    // whether a line end followed the text.
    bool ReadLine(std::u16string& line, bool& hadBreak);
    int ReadSrtEntry(tagKvSubtitleEntry& entry);
    int ReadAssEntry(tagKvSubtitleEntry& entry);
    bool AtChapterEnd() const;
    void BuildChapterIndex();

    std::string m_path;
    int m_nFormat = kFormatNone;
    int m_bWideText = 0;
    std::unique_ptr<std::FILE, FileCloser> m_file;
    std::int64_t m_nFileSize = 0;
    std::vector<std::unique_ptr<tagKvSubtitleChapter>> m_chapters;
    int m_nCurrentChapter = 0;
    int m_bChapterMode = 0;
};

// Helpers of the two parsers, exposed for tests.
// "{...}" blocks removed one by one, the text between them kept.
std::u16string RemoveSubtitleOverrides(std::u16string_view text);
// SRT styling: the tags <i>, <b>, <u>, <s>, <font ...> and their end tags (any
// case), and "{\...}" blocks; any other "<...>" is text.
std::u16string RemoveSrtStyling(std::u16string_view text);
// "\N" and "\n" as CR LF, "\h" as a no-break space.
std::u16string ExpandSubtitleEscapes(std::u16string_view text);

} // namespace velmora
