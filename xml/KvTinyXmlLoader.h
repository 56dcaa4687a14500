#pragma once

// The one way this system hands 8-bit XML files (the skin description, the colour
// scheme, the project file that the document layer cannot read) to TinyXML.
//
// TinyXML is not safe with text it has not seen before:
//   - it parses by recursion, one level of the C++ stack per open element, and frees
//     its tree the same way, so a file nested a few hundred thousand levels deep ends
//     the process with a stack overflow;
//   - it checks every attribute of an element against all earlier ones, so a tag with
//     a hundred thousand attributes keeps it busy for minutes;
//   - the library keeps its internal assertions, and builds without the 2023 security
//     fix stop the process on one when a declaration runs to the end of the text
//     ("<?xml ").
// So the text is first walked the way TinyXML will walk it, without building
// anything; only a text whose elements nest at most kMaxTinyXmlDepth levels, whose
// elements carry at most kMaxTinyXmlAttributes attributes each and that reaches no
// assertion is parsed. Anything else is refused like a file that cannot be read.
//
// The text is prepared as TinyXML's own file loader prepares it (up to the first
// U+0000, CR LF and lone CR turned into LF), without a UTF-8 byte-order mark, and
// parsed with a fixed encoding: UTF-8 when the text is valid UTF-8, the legacy 8-bit
// mode otherwise (so that a byte such as 0xE9 cannot swallow the "<" after it).

#include <cstddef>
#include <string>
#include <string_view>

class TiXmlDocument;

namespace velmora {

// Deeper than the vocabularies that TinyXML reads (four levels for a skin, seven for a
// project) by far, and shallow enough for any thread's stack.
inline constexpr std::size_t kMaxTinyXmlDepth = 1024;
// A project item carries about 150 attributes; beyond this many the duplicate check
// of TinyXML grows with the square of the count.
inline constexpr std::size_t kMaxTinyXmlAttributes = 1024;

// What a walk of a prepared text found.
struct TinyXmlTextShape
{
    bool bAccepted = false;         // within both limits and reaching no assertion
    std::size_t nDepth = 0;         // deepest element nesting TinyXML reaches (until it stops)
    std::size_t nAttributes = 0;    // most attributes TinyXML reads for one element
};

// A text prepared for TinyXML: the bytes it will parse, followed by U+0000 padding.
struct TinyXmlText
{
    std::string bytes;  // ends with several U+0000 bytes
    bool bUtf8 = false; // parse as UTF-8, else in the legacy 8-bit mode
};

TinyXmlText PrepareTinyXmlText(std::string_view fileBytes);

// Walks a prepared text as TinyXML will, with its current white-space setting.
TinyXmlTextShape WalkTinyXmlText(const TinyXmlText& text);

// Prepares, walks and, when accepted, parses fileBytes into document. Returns false
// when the walk refuses the text or TinyXML reports an error.
bool LoadTinyXml(TiXmlDocument& document, std::string_view fileBytes);
// The same for a file (false when it cannot be read).
bool LoadTinyXmlFile(TiXmlDocument& document, const std::string& path);

} // namespace velmora
