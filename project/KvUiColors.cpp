#include "project/KvUiColors.h"

#include "xml/KvTinyXmlLoader.h"

#include <tinyxml.h>

#include <cstdlib>

namespace {

// Colours are COLORREF values written in decimal; anything that is not a whole
// decimal number leaves the current colour in place rather than turning it black.
void ReadColor(const TiXmlElement& entry, const char* name, uint32_t& color)
{
    const char* text = entry.Attribute(name);
    if (!text)
        return;
    char* end = nullptr;
    long long value = std::strtoll(text, &end, 10);
    if (end == text)
        return;
    color = static_cast<uint32_t>(value);
}

bool ReadUiColors(const TiXmlDocument& document, tagKvUiColors& colors)
{
    const TiXmlElement* root = document.RootElement();
    if (!root)
        return false;

    int selected = 0;
    root->QueryIntAttribute("selID", &selected);

    // Every matching entry is applied in turn, so the last one in the file wins.
    // An entry that lacks a colour keeps the value that was current for it.
    for (const TiXmlElement* entry = root->FirstChildElement(); entry; entry = entry->NextSiblingElement()) {
        int id = 0; // an entry without "nID" counts as 0, like a root without "selID"
        entry->QueryIntAttribute("nID", &id);
        if (id != selected)
            continue;
        ReadColor(*entry, "clrDlgBK", colors.clrDlgBK);
        ReadColor(*entry, "clrDlgEdge", colors.clrDlgEdge);
        ReadColor(*entry, "clrCtrlBK", colors.clrCtrlBK);
        ReadColor(*entry, "clrText", colors.clrText);
    }
    return true;
}

} // namespace

bool LoadUiColors(const std::string& path, tagKvUiColors& colors)
{
    TiXmlDocument document;
    if (!velmora::LoadTinyXmlFile(document, path))
        return false;
    return ReadUiColors(document, colors);
}

bool ParseUiColors(std::string_view bytes, tagKvUiColors& colors)
{
    TiXmlDocument document;
    if (!velmora::LoadTinyXml(document, bytes))
        return false;
    return ReadUiColors(document, colors);
}
