// The engine's project reader over UTF-16 files, the form the front end writes: the
// input is taken as text (UTF-8, invalid bytes as U+FFFD) and written as UTF-16
// little-endian with a byte-order mark, so that mutations act on characters.

#include "ProjectFuzzRead.h"

#include "common/KvText.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::u16string text = velmora::Utf8ToUtf16(std::string_view(reinterpret_cast<const char*>(data), size));
    std::string bytes = "\xFF\xFE";
    bytes.reserve(2 + text.size() * 2);
    for (char16_t unit : text) {
        bytes += static_cast<char>(unit & 0xFF);
        bytes += static_cast<char>(unit >> 8);
    }
    velmora::fuzz::ReadProjectFile(bytes);
    return 0;
}
