// The front end's colour scheme over any bytes (read through TinyXML).

#include "project/KvUiColors.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    tagKvUiColors colors;
    ParseUiColors(std::string_view(reinterpret_cast<const char*>(data), size), colors);
    return 0;
}
