// The skin description over any bytes: the TinyXML side of the UI manager's loading,
// without a window (the controls, pictures and fonts are made from what this returns).

#include "FuzzSupport.h"

#include "ui/KvSkinDescription.h"

#include <cstdint>

using velmora::fuzz::Expect;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    tagKvSkinDescription description;
    if (!ParseSkinDescription(std::string_view(reinterpret_cast<const char*>(data), size), description)) {
        Expect(description.elements.empty(), "a refused file describes nothing");
        return 0;
    }
    for (const tagKvSkinElement& element : description.elements) {
        for (const char* name : {"x", "y", "width", "height", "id", "state", "fontid"})
            Expect(element.HasInt(name) || element.Int(name, 7) == 7, "a missing value gives the fallback");
        (void)element.Double("curpos", 0.0);
        for (const char* child : {"background", "tooltip", "text", "name"})
            (void)element.ChildText(child);
    }
    return 0;
}
