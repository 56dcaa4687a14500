#pragma once

// Text helpers shared by both programs.
//
// In memory, wide text is std::wstring (UTF-32 on Linux). UTF-16 appears only where
// a file or the job block stores it; UTF-8 is what every path handed to the system
// or to FFmpeg uses.
//
// Numbers that are written to or read from files and list cells always use the C
// locale: Qt switches the process to the user's locale, where "%g" could write a
// decimal comma that the other program would read as the end of the number.

#include <string>
#include <string_view>

namespace velmora {

std::wstring Utf8ToWide(std::string_view text);   // invalid sequences become U+FFFD
std::string WideToUtf8(std::wstring_view text);
std::u16string WideToUtf16(std::wstring_view text); // surrogate pairs above U+FFFF
std::wstring Utf16ToWide(std::u16string_view text); // lone surrogates become U+FFFD
std::u16string Utf8ToUtf16(std::string_view text);
std::string Utf16ToUtf8(std::u16string_view text);

// True when every byte of 0x80 or more belongs to a valid 2- to 4-byte UTF-8 sequence.
bool IsValidUtf8(std::string_view text);

// "%d" and "%g" in the C locale.
std::string FormatInt(long long value);
std::string FormatDouble(double value);
std::wstring FormatIntW(long long value);
std::wstring FormatDoubleW(double value);
// printf-style formatting of one double in the C locale, e.g. FormatDoubleAs("%3.3lf%%", v).
std::string FormatDoubleAs(const char* format, double value);

// Decimal conversions as the C library's strtol/strtod do them in the C locale:
// leading white space is skipped, the longest valid prefix is converted, and 0 is
// returned when there is none. ParseInt saturates to the int range.
int ParseInt(std::string_view text);
int ParseIntW(std::wstring_view text);
double ParseDouble(std::string_view text);
double ParseDoubleW(std::wstring_view text);
// Strict variant for user input: the whole text (surrounding blanks allowed) must be
// one finite number; returns false otherwise.
bool TryParseDouble(std::string_view text, double& value);

std::wstring ToLowerW(std::wstring_view text);
std::string ToLowerAscii(std::string_view text);

} // namespace velmora
