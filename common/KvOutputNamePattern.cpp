#include "common/KvOutputNamePattern.h"

#include "common/KvOutputFile.h"
#include "common/KvText.h"

#include <algorithm>
#include <cstdint>

namespace velmora {

namespace {

constexpr wchar_t kReplacement = L'_';
// A number is counted at its widest when the pattern's own text is measured.
constexpr std::size_t kNumberBytes = 10;
constexpr std::wstring_view kFallbackName = L"output";

bool IsControl(wchar_t c)
{
    return c < 0x20 || (c >= 0x7F && c <= 0x9F);
}

std::size_t Utf8Bytes(wchar_t c)
{
    const auto code = static_cast<std::uint32_t>(c);
    return code < 0x80 ? 1 : code < 0x800 ? 2 : code < 0x10000 ? 3 : 4;
}

std::size_t Utf8Bytes(std::wstring_view text)
{
    std::size_t bytes = 0;
    for (wchar_t c : text)
        bytes += Utf8Bytes(c);
    return bytes;
}

// value as a name may hold it (see the header); fromTag also replaces what removable
// disks refuse.
std::wstring CleanValue(std::wstring_view value, bool fromTag)
{
    static constexpr std::wstring_view kRefusedByDisks = L"\\:*?\"<>|";
    std::wstring clean;
    clean.reserve(value.size());
    for (wchar_t c : value) {
        const auto code = static_cast<std::uint32_t>(c);
        if (IsControl(c) || c == L'/' || (fromTag && kRefusedByDisks.find(c) != std::wstring_view::npos))
            clean += kReplacement;
        else if ((code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF)
            clean += L'\xFFFD'; // would not make valid UTF-8
        else
            clean += c;
    }
    return clean;
}

// text cut to at most bytes of UTF-8, by whole characters.
void CutToBytes(std::wstring& text, std::size_t bytes)
{
    std::size_t used = 0;
    std::size_t keep = 0;
    while (keep < text.size() && used + Utf8Bytes(text[keep]) <= bytes)
        used += Utf8Bytes(text[keep++]);
    text.resize(keep);
}

// Cuts the values so that together they take at most budget bytes: the longest are cut
// first, down to a common length, so a long title does not crowd out a short artist.
void FitValues(std::vector<std::wstring*>& values, std::size_t budget)
{
    std::vector<std::size_t> sizes;
    std::size_t total = 0;
    for (const std::wstring* value : values) {
        sizes.push_back(Utf8Bytes(*value));
        total += sizes.back();
    }
    if (total <= budget)
        return;
    // The largest cap with sum(min(size, cap)) <= budget.
    std::size_t low = 0;
    std::size_t high = *std::max_element(sizes.begin(), sizes.end());
    while (low < high) {
        const std::size_t cap = (low + high + 1) / 2;
        std::size_t sum = 0;
        for (std::size_t size : sizes)
            sum += std::min(size, cap);
        if (sum <= budget)
            low = cap;
        else
            high = cap - 1;
    }
    for (std::wstring* value : values)
        CutToBytes(*value, low);
}

bool IsBlank(wchar_t c)
{
    return c == L' ' || c == L'\xA0';
}

void TrimBlanks(std::wstring& text)
{
    const auto first = std::find_if_not(text.begin(), text.end(), IsBlank);
    const auto last = std::find_if_not(text.rbegin(), text.rend(), IsBlank).base();
    text = first < last ? std::wstring(first, last) : std::wstring();
}

bool IsUnusableName(std::wstring_view name)
{
    return name.empty() || name == L"." || name == L".." || std::all_of(name.begin(), name.end(), IsBlank);
}

std::wstring NumberText(int number)
{
    std::wstring text = FormatIntW(number);
    if (number >= 0 && text.size() < 3)
        text.insert(0, 3 - text.size(), L'0');
    return text;
}

} // namespace

KvOutputNamePattern::KvOutputNamePattern()
{
    Parse(kDefaultText);
}

bool KvOutputNamePattern::Parse(std::wstring_view text, std::string* error)
{
    auto fail = [error](std::string why) {
        if (error)
            *error = std::move(why);
        return false;
    };
    if (text.empty())
        return fail("the name pattern is empty");
    std::vector<Piece> pieces;
    std::size_t ownBytes = 0;
    auto addText = [&pieces, &ownBytes](wchar_t c) {
        if (pieces.empty() || pieces.back().kind != Kind::Text)
            pieces.push_back({Kind::Text, {}});
        pieces.back().text += c;
        ownBytes += Utf8Bytes(c);
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        const wchar_t c = text[i];
        const bool brace = c == L'{' || c == L'}';
        const bool doubled = brace && i + 1 < text.size() && text[i + 1] == c;
        if (c == L'{' && !doubled) {
            const std::size_t close = text.find_first_of(L"{}", i + 1);
            if (close == std::wstring_view::npos || text[close] != L'}')
                return fail("a \"{\" in the name pattern has no \"}\"");
            const std::wstring key = ToLowerW(text.substr(i + 1, close - i - 1));
            if (key == L"name") {
                pieces.push_back({Kind::Name, {}});
            } else if (key == L"n") {
                pieces.push_back({Kind::Number, {}});
                ownBytes += kNumberBytes;
            } else if (key == L"title") {
                pieces.push_back({Kind::Title, {}});
            } else if (key == L"artist") {
                pieces.push_back({Kind::Artist, {}});
            } else if (key == L"album") {
                pieces.push_back({Kind::Album, {}});
            } else if (key == L"track") {
                pieces.push_back({Kind::Track, {}});
                ownBytes += kNumberBytes;
            } else if (key == L"chapter") {
                pieces.push_back({Kind::Chapter, {}});
            } else {
                return fail("the name pattern has an unknown placeholder \"{" + WideToUtf8(key)
                            + "}\" (known: {name}, {n}, {title}, {artist}, {album}, {track}, {chapter})");
            }
            i = close;
        } else if (c == L'}' && !doubled) {
            return fail("a \"}\" in the name pattern has no \"{\"");
        } else if (c == L'/') {
            return fail("a name cannot hold \"/\"");
        } else if (IsControl(c)) {
            return fail("a name cannot hold control characters");
        } else {
            addText(c);
            if (doubled)
                ++i;
        }
    }
    if (ownBytes > kMaxTextBytes)
        return fail("the name pattern is too long (its own text may take " + std::to_string(kMaxTextBytes)
                    + " bytes)");
    m_text.assign(text);
    m_pieces = std::move(pieces);
    return true;
}

bool KvOutputNamePattern::UsesNumber() const
{
    return std::any_of(m_pieces.begin(), m_pieces.end(), [](const Piece& piece) { return piece.kind == Kind::Number; });
}

bool KvOutputNamePattern::UsesTags() const
{
    return std::any_of(m_pieces.begin(), m_pieces.end(),
                       [](const Piece& piece) {
                           return piece.kind == Kind::Title || piece.kind == Kind::Artist || piece.kind == Kind::Album
                               || piece.kind == Kind::Track;
                       });
}

std::wstring KvOutputNamePattern::FileName(const KvOutputNameValues& values, int number, int copy,
                                           std::wstring_view extension) const
{
    const std::wstring suffix = copy > 1 ? L" (" + FormatIntW(copy) + L")" : std::wstring();
    const std::size_t room = kKvMaxNameBytes - std::min(kKvMaxNameBytes, Utf8Bytes(extension) + Utf8Bytes(suffix));

    std::vector<std::wstring> parts;
    parts.reserve(m_pieces.size());
    std::vector<std::wstring*> cuttable;
    std::size_t ownBytes = 0;
    for (const Piece& piece : m_pieces) {
        switch (piece.kind) {
        case Kind::Text:
            parts.push_back(piece.text);
            break;
        case Kind::Number:
            parts.push_back(NumberText(number));
            break;
        case Kind::Name:
            parts.push_back(CleanValue(values.name, false));
            break;
        case Kind::Title:
            // As the output's own title: the file's name where the source has none.
            parts.push_back(values.title.empty() ? CleanValue(values.name, false) : CleanValue(values.title, true));
            break;
        case Kind::Artist:
            parts.push_back(CleanValue(values.artist, true));
            break;
        case Kind::Album:
            parts.push_back(CleanValue(values.album, true));
            break;
        case Kind::Track:
            parts.push_back(values.track > 0 ? (values.track < 10 ? L"0" : L"") + FormatIntW(values.track) : L"");
            break;
        case Kind::Chapter:
            parts.push_back(CleanValue(values.chapter, true));
            break;
        }
        if (piece.kind == Kind::Text || piece.kind == Kind::Number || piece.kind == Kind::Track)
            ownBytes += Utf8Bytes(parts.back());
    }
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (m_pieces[i].kind != Kind::Text && m_pieces[i].kind != Kind::Number && m_pieces[i].kind != Kind::Track)
            cuttable.push_back(&parts[i]);
    }
    if (!cuttable.empty())
        FitValues(cuttable, room - std::min(room, ownBytes));

    std::wstring name;
    for (const std::wstring& part : parts)
        name += part;
    // A tag that is missing leaves its separator behind ("{artist} - {title}" without an
    // artist): no name starts with blanks or has them before its extension.
    TrimBlanks(name);
    if (IsUnusableName(name)) {
        name = CleanValue(values.name, false);
        CutToBytes(name, room);
        if (IsUnusableName(name))
            name = kFallbackName;
    }
    return name + suffix + std::wstring(extension);
}

std::wstring KvOutputNamePattern::ChooseFileName(const KvOutputNameValues& values, std::wstring_view extension,
                                                 int& counter,
                                                 const std::function<bool(const std::wstring& name)>& taken,
                                                 bool keepNumber) const
{
    if (!keepNumber)
        ++counter;
    const bool numbered = UsesNumber() && !keepNumber;
    int copy = 1;
    std::wstring name = FileName(values, counter, copy, extension);
    for (int attempt = 1; attempt < kMaxAttempts && taken(name); ++attempt) {
        if (numbered)
            ++counter;
        else
            ++copy;
        name = FileName(values, counter, copy, extension);
    }
    return name;
}

std::wstring KvOutputNamePattern::CleanFolderName(std::wstring_view name)
{
    std::wstring clean = CleanValue(name, false);
    if (clean.empty() || clean == L"." || clean == L"..")
        clean = std::wstring(1, kReplacement);
    CutToBytes(clean, kKvMaxNameBytes);
    return clean;
}

std::wstring KvOutputNamePattern::SourceName(std::wstring_view sourcePath)
{
    std::wstring_view name = sourcePath.substr(sourcePath.rfind(L'/') + 1);
    const std::size_t dot = name.rfind(L'.');
    if (dot != std::wstring_view::npos)
        name = name.substr(0, dot);
    return std::wstring(name);
}

} // namespace velmora
