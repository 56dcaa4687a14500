// The engine's project reader over any bytes: the document layer for UTF-16 and UTF-8
// files, and the TinyXML fallback for whatever the layer refuses (an 8-bit file that is
// not UTF-8, for one).

#include "ProjectFuzzRead.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    velmora::fuzz::ReadProjectFile(std::string_view(reinterpret_cast<const char*>(data), size));
    return 0;
}
