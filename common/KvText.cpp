#include "common/KvText.h"

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cwctype>
#include <locale.h>

namespace velmora {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Decodes one UTF-8 sequence at text[i]; advances i. Returns kReplacement for an
// invalid, overlong or truncated sequence (one byte consumed).
char32_t DecodeUtf8(std::string_view text, size_t& i)
{
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
    unsigned char c = byte(i);
    if (c < 0x80) {
        ++i;
        return c;
    }
    int length = 0;
    char32_t cp = 0;
    char32_t minimum = 0;
    if ((c & 0xE0) == 0xC0) {
        length = 2;
        cp = c & 0x1F;
        minimum = 0x80;
    } else if ((c & 0xF0) == 0xE0) {
        length = 3;
        cp = c & 0x0F;
        minimum = 0x800;
    } else if ((c & 0xF8) == 0xF0) {
        length = 4;
        cp = c & 0x07;
        minimum = 0x10000;
    } else {
        ++i;
        return kReplacement;
    }
    if (i + length > text.size()) {
        ++i;
        return kReplacement;
    }
    for (int k = 1; k < length; ++k) {
        unsigned char next = byte(i + k);
        if ((next & 0xC0) != 0x80) {
            ++i;
            return kReplacement;
        }
        cp = (cp << 6) | (next & 0x3F);
    }
    if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        ++i;
        return kReplacement;
    }
    i += length;
    return cp;
}

void AppendUtf8(std::string& out, char32_t cp)
{
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        cp = kReplacement;
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

void AppendUtf16(std::u16string& out, char32_t cp)
{
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        cp = kReplacement;
    if (cp < 0x10000) {
        out += static_cast<char16_t>(cp);
    } else {
        cp -= 0x10000;
        out += static_cast<char16_t>(0xD800 + (cp >> 10));
        out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    }
}

template <typename Sink>
void DecodeUtf16(std::u16string_view text, Sink sink)
{
    for (size_t i = 0; i < text.size(); ++i) {
        char32_t unit = text[i];
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            sink(0x10000 + ((unit - 0xD800) << 10) + (text[i + 1] - 0xDC00));
            ++i;
        } else if (unit >= 0xD800 && unit <= 0xDFFF) {
            sink(kReplacement);
        } else {
            sink(unit);
        }
    }
}

locale_t CLocale()
{
    static locale_t locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return locale;
}

// The C library's number routines follow the thread's locale; switch the calling
// thread to the C locale for the duration of one call.
class ScopedCLocale
{
public:
    ScopedCLocale() : m_previous(uselocale(CLocale())) {}
    ~ScopedCLocale() { uselocale(m_previous); }
    ScopedCLocale(const ScopedCLocale&) = delete;
    ScopedCLocale& operator=(const ScopedCLocale&) = delete;

private:
    locale_t m_previous;
};

int SaturateToInt(long long value)
{
    if (value > INT_MAX)
        return INT_MAX;
    if (value < INT_MIN)
        return INT_MIN;
    return static_cast<int>(value);
}

} // namespace

std::wstring Utf8ToWide(std::string_view text)
{
    std::wstring out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();)
        out += static_cast<wchar_t>(DecodeUtf8(text, i));
    return out;
}

std::string WideToUtf8(std::wstring_view text)
{
    std::string out;
    out.reserve(text.size());
    for (wchar_t c : text)
        AppendUtf8(out, static_cast<char32_t>(c));
    return out;
}

std::u16string WideToUtf16(std::wstring_view text)
{
    std::u16string out;
    out.reserve(text.size());
    for (wchar_t c : text)
        AppendUtf16(out, static_cast<char32_t>(c));
    return out;
}

std::wstring Utf16ToWide(std::u16string_view text)
{
    std::wstring out;
    out.reserve(text.size());
    DecodeUtf16(text, [&](char32_t cp) { out += static_cast<wchar_t>(cp); });
    return out;
}

std::u16string Utf8ToUtf16(std::string_view text)
{
    std::u16string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();)
        AppendUtf16(out, DecodeUtf8(text, i));
    return out;
}

std::string Utf16ToUtf8(std::u16string_view text)
{
    std::string out;
    out.reserve(text.size());
    DecodeUtf16(text, [&](char32_t cp) { AppendUtf8(out, cp); });
    return out;
}

bool IsValidUtf8(std::string_view text)
{
    for (size_t i = 0; i < text.size();) {
        size_t start = i;
        char32_t cp = DecodeUtf8(text, i);
        // A genuine U+FFFD is three bytes long; a replacement for an error is one.
        if (cp == kReplacement && i - start == 1)
            return false;
    }
    return true;
}

std::string FormatInt(long long value)
{
    return std::to_string(value);
}

std::string FormatDoubleAs(const char* format, double value)
{
    ScopedCLocale c;
    char buffer[128];
    int n = std::snprintf(buffer, sizeof buffer, format, value);
    if (n < 0)
        return {};
    if (static_cast<size_t>(n) < sizeof buffer)
        return std::string(buffer, static_cast<size_t>(n));
    std::string big(static_cast<size_t>(n) + 1, '\0');
    std::snprintf(big.data(), big.size(), format, value);
    big.resize(static_cast<size_t>(n));
    return big;
}

std::string FormatDouble(double value)
{
    return FormatDoubleAs("%g", value);
}

std::wstring FormatIntW(long long value)
{
    return std::to_wstring(value);
}

std::wstring FormatDoubleW(double value)
{
    return Utf8ToWide(FormatDouble(value));
}

int ParseInt(std::string_view text)
{
    std::string s(text);
    ScopedCLocale c;
    errno = 0;
    long long value = std::strtoll(s.c_str(), nullptr, 10);
    return SaturateToInt(value);
}

int ParseIntW(std::wstring_view text)
{
    std::wstring s(text);
    ScopedCLocale c;
    long long value = std::wcstoll(s.c_str(), nullptr, 10);
    return SaturateToInt(value);
}

double ParseDouble(std::string_view text)
{
    std::string s(text);
    ScopedCLocale c;
    return std::strtod(s.c_str(), nullptr);
}

double ParseDoubleW(std::wstring_view text)
{
    std::wstring s(text);
    ScopedCLocale c;
    return std::wcstod(s.c_str(), nullptr);
}

bool TryParseDouble(std::string_view text, double& value)
{
    std::string s(text);
    ScopedCLocale c;
    const char* begin = s.c_str();
    char* end = nullptr;
    errno = 0;
    double parsed = std::strtod(begin, &end);
    if (end == begin || errno == ERANGE || !std::isfinite(parsed))
        return false;
    while (*end == ' ' || *end == '\t')
        ++end;
    if (*end != '\0')
        return false;
    value = parsed;
    return true;
}

std::wstring ToLowerW(std::wstring_view text)
{
    std::wstring out(text);
    for (auto& c : out)
        c = static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
    return out;
}

std::string ToLowerAscii(std::string_view text)
{
    std::string out(text);
    for (auto& c : out) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

} // namespace velmora
