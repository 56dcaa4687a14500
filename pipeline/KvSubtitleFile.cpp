#include "pipeline/KvSubtitleFile.h"

#include "common/KvText.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velmora {

namespace {

// A line longer than this is cut (the rest up to its line end is skipped): a caption
// keeps 259 units anyway, and a file without line ends must not fill the memory.
constexpr std::size_t kMaxLineUnits = 64 * 1024;
// A caption's text stops growing here; its lines are still read to find its end.
constexpr std::size_t kMaxCollectedUnits = 4 * CKvSubtitleFile::kMaxTextUnits;

bool IsBlank(char16_t c)
{
    return c == u' ' || c == u'\t';
}

bool IsBlankLine(std::u16string_view line)
{
    return std::all_of(line.begin(), line.end(), IsBlank);
}

std::u16string_view TrimBlanks(std::u16string_view text)
{
    while (!text.empty() && IsBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

bool Contains(std::u16string_view text, std::u16string_view part)
{
    return text.find(part) != std::u16string_view::npos;
}

// The leading decimal integer of text (blanks before it and anything after it
// ignored), 0 when there is none. Saturates instead of overflowing.
double LeadingNumber(std::u16string_view text)
{
    text = TrimBlanks(text);
    bool negative = false;
    if (!text.empty() && (text.front() == u'-' || text.front() == u'+')) {
        negative = text.front() == u'-';
        text.remove_prefix(1);
    }
    double value = 0.0;
    for (char16_t c : text) {
        if (c < u'0' || c > u'9')
            break;
        if (value < 1e15)
            value = value * 10.0 + (c - u'0');
    }
    return negative ? -value : value;
}

// The digits of a fraction of a second: "5", "50" and "500" are all half a second.
double LeadingFraction(std::u16string_view text)
{
    text = TrimBlanks(text);
    double value = 0.0;
    double scale = 0.1;
    for (char16_t c : text) {
        if (c < u'0' || c > u'9' || scale < 1e-9)
            break;
        value += (c - u'0') * scale;
        scale /= 10.0;
    }
    return value;
}

// Splits text at the first separator: the part before goes to field, text keeps what
// follows. False when the separator is missing.
bool TakeField(std::u16string_view& text, std::u16string_view separator, std::u16string_view& field)
{
    const std::size_t at = text.find(separator);
    if (at == std::u16string_view::npos)
        return false;
    field = text.substr(0, at);
    text.remove_prefix(at + separator.size());
    return true;
}

// "h:m:s<fractionSeparator>f": the fraction field is taken up to finalSeparator, or
// is the rest of the text when finalSeparator is empty.
bool ParseClock(std::u16string_view& text, char16_t fractionSeparator, std::u16string_view finalSeparator,
                double& seconds)
{
    std::u16string_view hours, minutes, whole, fraction;
    if (!TakeField(text, u":", hours) || !TakeField(text, u":", minutes)
        || !TakeField(text, std::u16string_view(&fractionSeparator, 1), whole))
        return false;
    if (finalSeparator.empty()) {
        fraction = text;
        text = {};
    } else if (!TakeField(text, finalSeparator, fraction)) {
        return false;
    }
    seconds = LeadingNumber(hours) * 3600.0 + LeadingNumber(minutes) * 60.0 + LeadingNumber(whole)
        + LeadingFraction(fraction);
    return true;
}

void StoreEntry(tagKvSubtitleEntry& entry, double start, double end, std::u16string_view text)
{
    std::size_t count = std::min<std::size_t>(text.size(), CKvSubtitleFile::kMaxTextUnits);
    // Never keep half of a surrogate pair.
    if (count < text.size() && count > 0 && text[count - 1] >= 0xD800 && text[count - 1] <= 0xDBFF)
        --count;
    std::copy_n(text.begin(), count, entry.text);
    std::fill(entry.text + count, entry.text + tagKvSubtitleEntry::kTextUnits, u'\0');
    entry.start = start;
    entry.end = end;
}

bool IsDialogueLine(std::u16string_view line)
{
    const std::size_t colon = line.find(u':');
    if (colon == std::u16string_view::npos)
        return false;
    const std::u16string_view key = TrimBlanks(line.substr(0, colon));
    static constexpr std::u16string_view kDialogue = u"dialogue";
    if (key.size() != kDialogue.size())
        return false;
    for (std::size_t i = 0; i < key.size(); ++i) {
        char16_t c = key[i];
        if (c >= u'A' && c <= u'Z')
            c = char16_t(c - u'A' + u'a');
        if (c != kDialogue[i])
            return false;
    }
    return true;
}

int FormatOfName(const std::string& path)
{
    const std::size_t slash = path.find_last_of('/');
    const std::string name = ToLowerAscii(slash == std::string::npos ? path : path.substr(slash + 1));
    auto endsWith = [&name](std::string_view suffix) {
        return name.size() > suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0;
    };
    if (endsWith(".srt"))
        return CKvSubtitleFile::kFormatSrt;
    if (endsWith(".ssa"))
        return CKvSubtitleFile::kFormatSsa;
    if (endsWith(".ass"))
        return CKvSubtitleFile::kFormatAss;
    return CKvSubtitleFile::kFormatNone;
}

// Opens a regular file for reading without ever blocking on a pipe or device that
// carries a subtitle name. Fills size.
std::FILE* OpenRegularFile(const std::string& path, std::int64_t& size)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size > INT32_MAX) {
        ::close(fd);
        return nullptr;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    std::FILE* file = fdopen(fd, "rb");
    if (!file) {
        ::close(fd);
        return nullptr;
    }
    size = info.st_size;
    return file;
}

} // namespace

std::u16string RemoveSubtitleOverrides(std::u16string_view text)
{
    std::u16string result;
    result.reserve(text.size());
    while (!text.empty()) {
        const std::size_t open = text.find(u'{');
        const std::size_t close = open == std::u16string_view::npos ? open : text.find(u'}', open);
        if (close == std::u16string_view::npos) {
            result.append(text);
            break;
        }
        result.append(text.substr(0, open));
        text.remove_prefix(close + 1);
    }
    return result;
}

std::u16string RemoveSrtStyling(std::u16string_view text)
{
    // The next '>' and '}' are looked up again only once passed, so a line full of
    // '<' costs one pass, not one per character.
    constexpr auto npos = std::u16string_view::npos;
    std::size_t angle = 0;
    std::size_t brace = 0;
    bool angleKnown = false;
    bool braceKnown = false;
    std::u16string result;
    result.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const char16_t c = text[i];
        if (c == u'{' && i + 1 < text.size() && text[i + 1] == u'\\') {
            if (!braceKnown || (brace != npos && brace < i)) {
                brace = text.find(u'}', i);
                braceKnown = true;
            }
            if (brace != npos) {
                i = brace + 1;
                continue;
            }
        } else if (c == u'<') {
            if (!angleKnown || (angle != npos && angle < i)) {
                angle = text.find(u'>', i);
                angleKnown = true;
            }
            if (angle != npos) {
                std::u16string_view tag = text.substr(i + 1, angle - i - 1);
                if (!tag.empty() && tag.front() == u'/')
                    tag.remove_prefix(1);
                std::u16string name;
                for (std::size_t k = 0; k < tag.size() && name.size() < 5; ++k) {
                    const char16_t t = tag[k];
                    if (t == u' ' || t == u'\t')
                        break;
                    name += (t >= u'A' && t <= u'Z') ? char16_t(t - u'A' + u'a') : t;
                }
                if (name == u"i" || name == u"b" || name == u"u" || name == u"s" || name == u"font") {
                    i = angle + 1;
                    continue;
                }
            }
        }
        result += c;
        ++i;
    }
    return result;
}

std::u16string ExpandSubtitleEscapes(std::u16string_view text)
{
    std::u16string result;
    result.reserve(text.size() + 8);
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t next = i + 1 < text.size() ? text[i + 1] : u'\0';
        if (text[i] == u'\\' && (next == u'N' || next == u'n')) {
            result += u"\r\n";
            ++i;
        } else if (text[i] == u'\\' && next == u'h') {
            result += char16_t(0x00A0);
            ++i;
        } else {
            result += text[i];
        }
    }
    return result;
}

void CKvSubtitleFile::FileCloser::operator()(std::FILE* file) const
{
    std::fclose(file);
}

CKvSubtitleFile::CKvSubtitleFile() = default;

CKvSubtitleFile::~CKvSubtitleFile() = default;

int CKvSubtitleFile::Open(const std::string& path, int bRebuildIndex)
{
    const int format = FormatOfName(path);
    if (format == kFormatNone)
        return 0;
    std::int64_t size = 0;
    std::unique_ptr<std::FILE, FileCloser> file(OpenRegularFile(path, size));
    if (!file)
        return 0;
    Close();
    m_path = path;
    m_nFormat = format;
    m_nFileSize = size;
    unsigned char mark[2] = {};
    m_bWideText = std::fread(mark, 1, 2, file.get()) == 2 && mark[0] == 0xFF && mark[1] == 0xFE;
    std::rewind(file.get());
    m_file = std::move(file);

    const bool rebuild = bRebuildIndex != 0 || m_chapters.empty();
    if (rebuild)
        m_chapters.clear();
    if (m_nFormat == kFormatAss || m_nFormat == kFormatSsa) {
        m_nCurrentChapter = 0;
        m_bChapterMode = 0;
        if (rebuild)
            BuildChapterIndex();
        m_bChapterMode = 1;
        if (!m_file) {
            m_file.reset(OpenRegularFile(m_path, m_nFileSize));
            if (!m_file)
                return 0;
        }
    }
    return 1;
}

void CKvSubtitleFile::BuildChapterIndex()
{
    SeekTo(0);
    tagKvSubtitleEntry entry;
    bool open = false;
    tagKvSubtitleChapter chapter;
    double previousStart = 0.0;
    std::int32_t remembered = 0;
    while (ReadEntry(entry)) {
        const auto offset = static_cast<std::int32_t>(Tell());
        if (!open) {
            chapter = tagKvSubtitleChapter();
            chapter.nStartOffset = m_chapters.empty() ? 0 : m_chapters.back()->nEndOffset;
            open = true;
        } else if (entry.start < previousStart) {
            // The times start again: the run so far is a chapter, and this entry,
            // which lies after its end, is the first of the next one.
            chapter.nEndOffset = remembered;
            m_chapters.push_back(std::make_unique<tagKvSubtitleChapter>(chapter));
            chapter = tagKvSubtitleChapter();
            chapter.nStartOffset = remembered;
        }
        previousStart = entry.start;
        remembered = offset;
    }
    if (open) {
        chapter.nEndOffset = remembered;
        m_chapters.push_back(std::make_unique<tagKvSubtitleChapter>(chapter));
    }
    for (auto& each : m_chapters)
        each->nFirstOffset = each->nResumeOffset = each->nStartOffset;
}

int CKvSubtitleFile::ReadEntry(tagKvSubtitleEntry& entry)
{
    if (!m_file)
        return 0;
    return m_nFormat == kFormatSrt ? ReadSrtEntry(entry) : ReadAssEntry(entry);
}

bool CKvSubtitleFile::ReadLine(std::u16string& line, bool& hadBreak)
{
    line.clear();
    hadBreak = false;
    std::FILE* file = m_file.get();
    if (!file)
        return false;
    if (std::ftell(file) == 0) {
        // The byte-order mark is not part of the first line.
        unsigned char mark[3] = {};
        const std::size_t want = m_bWideText ? 2 : 3;
        const bool isMark = std::fread(mark, 1, want, file) == want
            && (m_bWideText ? (mark[0] == 0xFF && mark[1] == 0xFE)
                            : (mark[0] == 0xEF && mark[1] == 0xBB && mark[2] == 0xBF));
        if (!isMark)
            std::rewind(file);
    }
    bool any = false;
    if (m_bWideText) {
        auto readUnit = [file](char16_t& unit) {
            const int low = std::getc(file);
            if (low == EOF)
                return false;
            const int high = std::getc(file);
            if (high == EOF)
                return false; // an odd last byte is not a character
            unit = static_cast<char16_t>(low | (high << 8));
            return true;
        };
        char16_t unit = 0;
        while (readUnit(unit)) {
            any = true;
            if (unit == u'\n' || unit == u'\r') {
                hadBreak = true;
                const long after = std::ftell(file);
                char16_t next = 0;
                if (unit == u'\r' && !(readUnit(next) && next == u'\n'))
                    std::fseek(file, after, SEEK_SET);
                break;
            }
            if (line.size() < kMaxLineUnits)
                line.push_back(unit);
        }
        return any;
    }
    std::string bytes;
    int c = 0;
    while ((c = std::getc(file)) != EOF) {
        any = true;
        if (c == '\n' || c == '\r') {
            hadBreak = true;
            if (c == '\r') {
                const int next = std::getc(file);
                if (next != '\n' && next != EOF)
                    std::ungetc(next, file);
            }
            break;
        }
        if (bytes.size() < kMaxLineUnits)
            bytes.push_back(static_cast<char>(c));
    }
    line = Utf8ToUtf16(bytes);
    return any;
}

int CKvSubtitleFile::ReadSrtEntry(tagKvSubtitleEntry& entry)
{
    std::u16string line;
    bool hadBreak = false;
    do {
        if (!ReadLine(line, hadBreak)) {
            Close();
            return 0;
        }
    } while (!(Contains(line, u":") && Contains(line, u"-->") && Contains(line, u",")));

    std::u16string_view timing = line;
    double start = 0.0;
    double end = 0.0;
    if (!ParseClock(timing, u',', u"-->", start) || !ParseClock(timing, u',', u"", end)) {
        Close();
        return 0;
    }
    // The text runs to a blank line, whatever the file's line ends are.
    std::u16string text;
    while (true) {
        if (!ReadLine(line, hadBreak)) {
            Close();
            break;
        }
        if (IsBlankLine(line))
            break;
        if (text.size() < kMaxCollectedUnits) {
            text += RemoveSrtStyling(line);
            text += u"\r\n";
        }
    }
    StoreEntry(entry, start, end, text);
    return 1;
}

bool CKvSubtitleFile::AtChapterEnd() const
{
    if (!m_bChapterMode || m_nCurrentChapter < 0 || m_nCurrentChapter >= ChapterCount())
        return false;
    return Tell() >= m_chapters[size_t(m_nCurrentChapter)]->nEndOffset;
}

int CKvSubtitleFile::ReadAssEntry(tagKvSubtitleEntry& entry)
{
    std::u16string line;
    bool hadBreak = false;
    while (true) {
        if (AtChapterEnd() || !ReadLine(line, hadBreak)) {
            Close();
            return 0;
        }
        if (std::count(line.begin(), line.end(), u':') <= 4 || !IsDialogueLine(line))
            continue;
        std::u16string_view rest = line;
        std::u16string_view field;
        double start = 0.0;
        double end = 0.0;
        if (!TakeField(rest, u",", field) || !ParseClock(rest, u'.', u",", start)
            || !ParseClock(rest, u'.', u",", end)) {
            Close();
            return 0;
        }
        // An event that is over before it starts shows nothing; the ones after it still count.
        if (start > end || std::fabs(end - start) < 0.01)
            continue;
        for (int i = 0; i < 6; ++i) {
            if (!TakeField(rest, u",", field)) {
                Close();
                return 0;
            }
        }
        const std::u16string text = RemoveSubtitleOverrides(rest);
        if (text.empty())
            continue;
        StoreEntry(entry, start, end, ExpandSubtitleEscapes(text));
        if (AtChapterEnd())
            Close();
        return 1;
    }
}

tagKvSubtitleChapter* CKvSubtitleFile::Chapter(int index)
{
    return index >= 0 && index < ChapterCount() ? m_chapters[size_t(index)].get() : nullptr;
}

bool CKvSubtitleFile::EnterChapter(int index)
{
    if ((m_nFormat != kFormatAss && m_nFormat != kFormatSsa) || !m_file || !Chapter(index))
        return false;
    m_nCurrentChapter = index;
    tagKvSubtitleChapter& chapter = *m_chapters[size_t(index)];
    SeekTo(chapter.nStartOffset);
    chapter.nFirstOffset = chapter.nStartOffset;
    chapter.nResumeOffset = chapter.nStartOffset;
    return true;
}

int CKvSubtitleFile::ResumeOffset(int index) const
{
    if (index < 0 || index >= ChapterCount())
        return 0;
    const tagKvSubtitleChapter& chapter = *m_chapters[size_t(index)];
    return std::max(chapter.nResumeOffset, chapter.nStartOffset);
}

void CKvSubtitleFile::SetResumeOffset(int index, int offset)
{
    if (tagKvSubtitleChapter* chapter = Chapter(index))
        chapter->nResumeOffset = std::max(offset, chapter->nStartOffset);
}

void CKvSubtitleFile::SeekTo(std::int64_t offset)
{
    if (m_file)
        std::fseek(m_file.get(), static_cast<long>(std::clamp<std::int64_t>(offset, 0, m_nFileSize)), SEEK_SET);
}

std::int64_t CKvSubtitleFile::Tell() const
{
    return m_file ? std::ftell(m_file.get()) : 0;
}

void CKvSubtitleFile::Close()
{
    m_file.reset();
}

} // namespace velmora
