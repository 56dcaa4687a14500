#include "ui/KvSkinDescription.h"

#include "xml/KvTinyXmlLoader.h"

#include <tinyxml.h>

namespace {

constexpr const char* kIntAttributes[] = {
    "x", "y", "width", "height", "id", "state", "fontid", "number", "edited",
    "size", "bold", "italic", "vertical", "underline",
    "colornormal", "colorhover", "colordown", "colordisable",
};
constexpr const char* kDoubleAttributes[] = {"minpos", "maxpos", "curpos"};
constexpr const char* kChildren[] = {"background", "tooltip", "text", "name"};

std::string TextOf(const TiXmlElement* element)
{
    const char* text = element->GetText();
    return text ? std::string(text) : std::string();
}

bool ReadDocument(const TiXmlDocument& document, tagKvSkinDescription& description)
{
    const TiXmlElement* root = document.RootElement();
    if (!root)
        return false;
    // The root's name is not checked; its child elements are the description.
    for (const TiXmlElement* element = root->FirstChildElement(); element; element = element->NextSiblingElement()) {
        tagKvSkinElement entry;
        entry.name = element->ValueStr();
        entry.text = TextOf(element);
        for (const char* name : kIntAttributes) {
            int value = 0;
            if (element->QueryIntAttribute(name, &value) == TIXML_SUCCESS)
                entry.ints.emplace(name, value);
        }
        for (const char* name : kDoubleAttributes) {
            double value = 0.0;
            if (element->QueryDoubleAttribute(name, &value) == TIXML_SUCCESS)
                entry.doubles.emplace(name, value);
        }
        for (const char* name : kChildren) {
            if (const TiXmlElement* child = element->FirstChildElement(name))
                entry.children.emplace(name, TextOf(child));
        }
        description.elements.push_back(std::move(entry));
    }
    return true;
}

} // namespace

int tagKvSkinElement::Int(std::string_view attribute, int fallback) const
{
    const auto found = ints.find(attribute);
    return found == ints.end() ? fallback : found->second;
}

bool tagKvSkinElement::HasInt(std::string_view attribute) const
{
    return ints.find(attribute) != ints.end();
}

double tagKvSkinElement::Double(std::string_view attribute, double fallback) const
{
    const auto found = doubles.find(attribute);
    return found == doubles.end() ? fallback : found->second;
}

const std::string* tagKvSkinElement::ChildText(std::string_view child) const
{
    const auto found = children.find(child);
    return found == children.end() ? nullptr : &found->second;
}

bool ReadSkinDescription(const std::string& path, tagKvSkinDescription& description)
{
    description.elements.clear();
    TiXmlDocument document;
    return velmora::LoadTinyXmlFile(document, path) && ReadDocument(document, description);
}

bool ParseSkinDescription(std::string_view bytes, tagKvSkinDescription& description)
{
    description.elements.clear();
    TiXmlDocument document;
    return velmora::LoadTinyXml(document, bytes) && ReadDocument(document, description);
}
