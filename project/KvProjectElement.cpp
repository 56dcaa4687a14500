#include "project/KvProjectElement.h"

#include "common/KvText.h"
#include "xml/KvXmlNode.h"

#include <tinyxml.h>

namespace velmora {

std::unique_ptr<IKvProjectElement> IKvProjectElement::Child(const wchar_t* name) const
{
    auto children = Children(name);
    if (children.empty())
        return nullptr;
    return std::move(children.front());
}

namespace {

class CXmlNodeElement : public IKvProjectElement
{
public:
    explicit CXmlNodeElement(const CKvXmlNode& node) : m_node(node) {}

    bool Has(const wchar_t* name) const override { return m_node.HasAttribute(name); }
    int Int(const wchar_t* name, int def) const override { return m_node.GetIntAttribute(name, def); }
    double Double(const wchar_t* name, double def) const override { return m_node.GetDoubleAttribute(name, def); }
    std::wstring String(const wchar_t* name, const std::wstring& def) const override
    {
        return m_node.GetStringAttribute(name, def);
    }
    std::wstring Text() const override { return m_node.GetText(); }

    std::vector<std::pair<std::wstring, std::wstring>> Attributes() const override
    {
        std::vector<std::pair<std::wstring, std::wstring>> result;
        for (const auto& attribute : m_node.GetAttributes())
            result.emplace_back(attribute.first, XmlUnescape(attribute.second));
        return result;
    }

    std::vector<std::unique_ptr<IKvProjectElement>> Children(const wchar_t* name) const override
    {
        std::vector<std::unique_ptr<IKvProjectElement>> result;
        for (const auto& pChild : m_node.GetChildren()) {
            if (pChild->GetKind() != CKvXmlNode::kElement)
                continue;
            if (name == nullptr || pChild->GetName() == name)
                result.push_back(std::make_unique<CXmlNodeElement>(*pChild));
        }
        return result;
    }

private:
    const CKvXmlNode& m_node;
};

// TinyXML hands out bytes as they stand in the file. A file that is valid UTF-8 is
// taken as UTF-8; any other 8-bit text as Latin-1, so every byte keeps a character.
std::wstring FromFileBytes(const char* text)
{
    if (text == nullptr)
        return {};
    const std::string_view bytes(text);
    if (IsValidUtf8(bytes))
        return Utf8ToWide(bytes);
    std::wstring wide;
    wide.reserve(bytes.size());
    for (unsigned char c : bytes)
        wide.push_back(static_cast<wchar_t>(c));
    return wide;
}

class CTinyXmlElement : public IKvProjectElement
{
public:
    explicit CTinyXmlElement(const TiXmlElement& element) : m_element(element) {}

    bool Has(const wchar_t* name) const override { return Raw(name) != nullptr; }
    int Int(const wchar_t* name, int def) const override
    {
        const char* value = Raw(name);
        return value == nullptr ? def : ParseInt(value);
    }
    double Double(const wchar_t* name, double def) const override
    {
        const char* value = Raw(name);
        return value == nullptr ? def : ParseDouble(value);
    }
    std::wstring String(const wchar_t* name, const std::wstring& def) const override
    {
        const char* value = Raw(name);
        return value == nullptr ? def : FromFileBytes(value);
    }
    std::wstring Text() const override { return FromFileBytes(m_element.GetText()); }

    std::vector<std::pair<std::wstring, std::wstring>> Attributes() const override
    {
        std::vector<std::pair<std::wstring, std::wstring>> result;
        for (const TiXmlAttribute* p = m_element.FirstAttribute(); p != nullptr; p = p->Next())
            result.emplace_back(FromFileBytes(p->Name()), FromFileBytes(p->Value()));
        return result;
    }

    std::vector<std::unique_ptr<IKvProjectElement>> Children(const wchar_t* name) const override
    {
        std::vector<std::unique_ptr<IKvProjectElement>> result;
        const std::wstring wanted = name == nullptr ? std::wstring() : std::wstring(name);
        for (const TiXmlElement* p = m_element.FirstChildElement(); p != nullptr; p = p->NextSiblingElement()) {
            if (name == nullptr || FromFileBytes(p->Value()) == wanted)
                result.push_back(std::make_unique<CTinyXmlElement>(*p));
        }
        return result;
    }

private:
    const char* Raw(const wchar_t* name) const { return m_element.Attribute(WideToUtf8(name).c_str()); }

    const TiXmlElement& m_element;
};

} // namespace

std::unique_ptr<IKvProjectElement> MakeXmlNodeElement(const CKvXmlNode& node)
{
    return std::make_unique<CXmlNodeElement>(node);
}

std::unique_ptr<IKvProjectElement> MakeTinyXmlElement(const TiXmlElement& element)
{
    return std::make_unique<CTinyXmlElement>(element);
}

} // namespace velmora
