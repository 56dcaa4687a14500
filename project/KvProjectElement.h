#pragma once

// A read-only view of one element of a project document, so that the project reader
// runs unchanged over the document layer and over the TinyXML fallback.
//
// Every string a view returns holds the original characters: the entities the
// writer puts in ("&lt;", "&gt;", "&amp;", "&quot;") are already turned back.

#include <memory>
#include <string>
#include <utility>
#include <vector>

class CKvXmlNode;
class TiXmlElement;

namespace velmora {

class IKvProjectElement
{
public:
    virtual ~IKvProjectElement() = default;

    virtual bool Has(const wchar_t* name) const = 0;
    // Leading decimal digits (0 when none); def when the attribute is missing.
    virtual int Int(const wchar_t* name, int def) const = 0;
    // Decimal number in the C locale; def when the attribute is missing.
    virtual double Double(const wchar_t* name, double def) const = 0;
    virtual std::wstring String(const wchar_t* name, const std::wstring& def) const = 0;
    virtual std::wstring Text() const = 0;
    virtual std::vector<std::pair<std::wstring, std::wstring>> Attributes() const = 0;
    // Element children with that exact name, or all element children for nullptr.
    virtual std::vector<std::unique_ptr<IKvProjectElement>> Children(const wchar_t* name) const = 0;

    // The first element child with that name, or nullptr.
    std::unique_ptr<IKvProjectElement> Child(const wchar_t* name) const;
};

std::unique_ptr<IKvProjectElement> MakeXmlNodeElement(const CKvXmlNode& node);
std::unique_ptr<IKvProjectElement> MakeTinyXmlElement(const TiXmlElement& element);

} // namespace velmora
