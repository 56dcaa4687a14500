#pragma once

// The skin description ("skin/mainwnd.xml") as the file gives it, before any window,
// control or picture exists: the root's child elements in document order, each with
// the values the UI manager takes from it. Free of Qt, so that reading an installed
// (or damaged) file can be tested and fuzzed on its own.

#include <map>
#include <string>
#include <string_view>
#include <vector>

struct tagKvSkinElement
{
    std::string name; // "background", "tooltipbackground", "font", "button", ...
    std::string text; // the element's own text (UTF-8 as written), "" when it has none

    // The element's value for an integer attribute of the skin vocabulary ("x", "id",
    // "fontid", "colornormal", ...), or fallback when the attribute is missing or does
    // not start with a number.
    int Int(std::string_view attribute, int fallback) const;
    bool HasInt(std::string_view attribute) const;
    // The same for "minpos", "maxpos" and "curpos".
    double Double(std::string_view attribute, double fallback) const;
    // The text of the first child element of that name ("background", "tooltip",
    // "text", "name"; "" when it has none), or nullptr when there is no such child.
    const std::string* ChildText(std::string_view child) const;

    std::map<std::string, int, std::less<>> ints;
    std::map<std::string, double, std::less<>> doubles;
    std::map<std::string, std::string, std::less<>> children;
};

struct tagKvSkinDescription
{
    std::vector<tagKvSkinElement> elements;
};

// Reads the description file. False (and no elements) when it cannot be read, is not
// XML, or is refused before parsing (nested too deep, too many attributes on one
// element; see xml/KvTinyXmlLoader.h).
bool ReadSkinDescription(const std::string& path, tagKvSkinDescription& description);
// The same over the bytes of a description file.
bool ParseSkinDescription(std::string_view bytes, tagKvSkinDescription& description);
