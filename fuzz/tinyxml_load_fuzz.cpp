// The guard in front of TinyXML: whatever it lets through must not take TinyXML deeper,
// or give it more attributes on one element, than the walk said; and nothing it lets
// through may stop the process (a stack overflow, a failed assertion in the library).

#include "FuzzSupport.h"

#include "xml/KvTinyXmlLoader.h"

#include <tinyxml.h>

#include <algorithm>
#include <cstdint>
#include <utility>
#include <vector>

using velmora::fuzz::Expect;

namespace {

struct TreeShape
{
    std::size_t nDepth = 0;
    std::size_t nAttributes = 0;
};

// Measured without recursion: the tree may be exactly as deep as the guard allows.
TreeShape Measure(const TiXmlNode& document)
{
    TreeShape shape;
    std::vector<std::pair<const TiXmlNode*, std::size_t>> pending = {{&document, 0}};
    while (!pending.empty()) {
        const auto [node, depth] = pending.back();
        pending.pop_back();
        std::size_t level = depth;
        if (const TiXmlElement* element = node->ToElement()) {
            level = depth + 1;
            std::size_t count = 0;
            for (const TiXmlAttribute* a = element->FirstAttribute(); a; a = a->Next())
                ++count;
            shape.nAttributes = std::max(shape.nAttributes, count);
            (void)element->GetText();
        }
        shape.nDepth = std::max(shape.nDepth, level);
        for (const TiXmlNode* child = node->FirstChild(); child; child = child->NextSibling())
            pending.emplace_back(child, level);
    }
    return shape;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const velmora::TinyXmlText text = velmora::PrepareTinyXmlText(bytes);
    // Both white-space modes: the project reader keeps white space, the others do not.
    for (bool condense : {true, false}) {
        TiXmlBase::SetCondenseWhiteSpace(condense);
        const velmora::TinyXmlTextShape walked = velmora::WalkTinyXmlText(text);
        TiXmlDocument document;
        const bool loaded = velmora::LoadTinyXml(document, bytes);
        Expect(loaded == (walked.bAccepted && !document.Error()), "the loader parses exactly what the walk accepts");
        if (!walked.bAccepted)
            continue;
        Expect(walked.nDepth <= velmora::kMaxTinyXmlDepth, "an accepted text stays within the depth");
        Expect(walked.nAttributes <= velmora::kMaxTinyXmlAttributes, "an accepted text stays within the attributes");
        // The parsed tree (even one left by an error) must be no larger than the walk said.
        const TreeShape tree = Measure(document);
        Expect(tree.nDepth <= walked.nDepth, "TinyXML nests no deeper than the walk found");
        Expect(tree.nAttributes <= walked.nAttributes, "TinyXML keeps no more attributes than the walk found");
    }
    TiXmlBase::SetCondenseWhiteSpace(true);
    return 0;
}
