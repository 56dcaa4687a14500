#include "xml/KvXmlNode.h"

#include "common/KvText.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <numeric>
#include <random>

namespace velmora {

namespace {

struct Entity
{
    std::wstring_view text;
    wchar_t ch;
};

constexpr Entity kEntities[] = {
    {L"&amp;", L'&'},
    {L"&lt;", L'<'},
    {L"&gt;", L'>'},
    {L"&quot;", L'"'},
};

} // namespace

std::wstring XmlEscape(std::wstring_view text)
{
    std::wstring out;
    out.reserve(text.size());
    for (wchar_t ch : text) {
        switch (ch) {
        case L'&': out += L"&amp;"; break;
        case L'<': out += L"&lt;"; break;
        case L'>': out += L"&gt;"; break;
        case L'"': out += L"&quot;"; break;
        default: out += ch; break;
        }
    }
    return out;
}

std::wstring XmlUnescape(std::wstring_view text)
{
    std::wstring out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        if (text[i] == L'&') {
            const std::wstring_view rest = text.substr(i);
            bool matched = false;
            for (const Entity& entity : kEntities) {
                if (rest.substr(0, entity.text.size()) == entity.text) {
                    out += entity.ch;
                    i += entity.text.size();
                    matched = true;
                    break;
                }
            }
            if (matched)
                continue;
        }
        out += text[i];
        ++i;
    }
    return out;
}

} // namespace velmora

namespace {

bool IsBlank(wchar_t ch)
{
    return ch == L' ' || ch == L'\t' || ch == L'\r' || ch == L'\n';
}

bool DecodeBytes(std::string_view bytes, std::wstring& text)
{
    if (bytes.size() < 3)
        return false;
    const auto b0 = static_cast<unsigned char>(bytes[0]);
    const auto b1 = static_cast<unsigned char>(bytes[1]);
    const auto b2 = static_cast<unsigned char>(bytes[2]);

    if ((b0 == 0xFF && b1 == 0xFE) || (b0 == 0xFE && b1 == 0xFF)) {
        const bool bigEndian = b0 == 0xFE;
        std::u16string units;
        units.reserve((bytes.size() - 2) / 2);
        // A trailing odd byte cannot form a code unit and is dropped.
        for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) {
            const auto lo = static_cast<unsigned char>(bytes[bigEndian ? i + 1 : i]);
            const auto hi = static_cast<unsigned char>(bytes[bigEndian ? i : i + 1]);
            units += static_cast<char16_t>((hi << 8) | lo);
        }
        text = velmora::Utf16ToWide(units);
        return true;
    }
    if (b0 == 0xEF && b1 == 0xBB && b2 == 0xBF) {
        text = velmora::Utf8ToWide(bytes.substr(3));
        return true;
    }
    if (!velmora::IsValidUtf8(bytes))
        return false;
    text = velmora::Utf8ToWide(bytes);
    return true;
}

// Keeps, of every attribute name, only its last pair, where that pair stands: the
// result of setting the pairs one after another, where a replaced attribute moves to
// the end. Sorting by name keeps the work near linear however many attributes a tag
// carries.
void KeepLastOfEachName(std::vector<CKvXmlNode::Attribute>& attributes)
{
    if (attributes.size() < 2)
        return;
    std::vector<std::size_t> order(attributes.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return attributes[a].first < attributes[b].first; });
    std::vector<bool> keep(attributes.size(), false);
    for (std::size_t i = 0; i < order.size(); ++i) {
        if (i + 1 == order.size() || attributes[order[i]].first != attributes[order[i + 1]].first)
            keep[order[i]] = true;
    }
    std::size_t kept = 0;
    for (std::size_t i = 0; i < attributes.size(); ++i) {
        if (!keep[i])
            continue;
        if (kept != i)
            attributes[kept] = std::move(attributes[i]);
        ++kept;
    }
    attributes.resize(kept);
}

bool ReadWholeFile(const std::string& path, std::string& bytes)
{
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file)
        return false;
    bytes.clear();
    char buffer[65536];
    std::size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0)
        bytes.append(buffer, n);
    const bool ok = !std::ferror(file);
    std::fclose(file);
    return ok;
}

bool WriteFile(std::FILE* file, const std::string& bytes)
{
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    const bool closed = std::fclose(file) == 0;
    return written && closed;
}

bool WriteWholeFile(const std::string& path, const std::string& bytes)
{
    // Several engines may run at once and read and rewrite the same side file: each
    // writes a file of its own beside it and moves it over the name whole, so a reader
    // sees the old content or the new one, never a file cut short by a writer.
    static std::atomic<unsigned> s_serial{0};
    std::random_device random;
    char suffix[48];
    std::snprintf(suffix, sizeof suffix, ".~%08x%04x", random(), s_serial.fetch_add(1) & 0xFFFF);
    const std::string temporary = path + suffix;
    if (std::FILE* file = std::fopen(temporary.c_str(), "wbx")) {
        if (WriteFile(file, bytes) && std::rename(temporary.c_str(), path.c_str()) == 0)
            return true;
        std::remove(temporary.c_str());
        return false;
    }
    // A folder that takes no new names may still let us rewrite the file itself.
    std::FILE* file = std::fopen(path.c_str(), "wb");
    return file && WriteFile(file, bytes);
}

} // namespace

CKvXmlNode::CKvXmlNode() = default;

CKvXmlNode::CKvXmlNode(int nKind, std::wstring name, CKvXmlNode* pParent)
    : m_nKind(nKind)
    , m_name(std::move(name))
    , m_pParent(pParent)
{
}

CKvXmlNode::~CKvXmlNode() = default;

// ---- Children -------------------------------------------------------------------

CKvXmlNode* CKvXmlNode::AddChild(std::wstring_view name, int nKind)
{
    if (nKind != kElement && nKind != kComment)
        return nullptr;
    std::wstring childName = nKind == kElement ? std::wstring(name) : std::wstring();
    m_children.push_back(std::unique_ptr<CKvXmlNode>(new CKvXmlNode(nKind, std::move(childName), this)));
    m_children.back()->m_nIndex = m_children.size() - 1;
    return m_children.back().get();
}

bool CKvXmlNode::RemoveChild(CKvXmlNode* pChild)
{
    if (pChild == nullptr || pChild->m_pParent != this)
        return false;
    const std::size_t nIndex = pChild->m_nIndex;
    m_children.erase(m_children.begin() + static_cast<std::ptrdiff_t>(nIndex));
    for (std::size_t i = nIndex; i < m_children.size(); ++i)
        m_children[i]->m_nIndex = i;
    return true;
}

void CKvXmlNode::ClearChildren()
{
    m_children.clear();
}

CKvXmlNode* CKvXmlNode::GetChild(std::size_t nIndex) const
{
    return nIndex < m_children.size() ? m_children[nIndex].get() : nullptr;
}

CKvXmlNode* CKvXmlNode::FirstChild() const
{
    return m_children.empty() ? nullptr : m_children.front().get();
}

// Each child knows its place, so walking the children one after another stays linear
// however many there are (an index of sound tracks can list thousands).
CKvXmlNode* CKvXmlNode::NextChild(const CKvXmlNode* pPrevious) const
{
    if (pPrevious == nullptr || pPrevious->m_pParent != this)
        return nullptr;
    return GetChild(pPrevious->m_nIndex + 1);
}

CKvXmlNode* CKvXmlNode::FirstChild(std::wstring_view name) const
{
    for (const auto& child : m_children) {
        if (child->m_nKind == kElement && child->m_name == name)
            return child.get();
    }
    return nullptr;
}

CKvXmlNode* CKvXmlNode::NextChild(std::wstring_view name, const CKvXmlNode* pPrevious) const
{
    if (pPrevious == nullptr || pPrevious->m_pParent != this)
        return nullptr;
    for (std::size_t i = pPrevious->m_nIndex + 1; i < m_children.size(); ++i) {
        const auto& child = m_children[i];
        if (child->m_nKind == kElement && child->m_name == name)
            return child.get();
    }
    return nullptr;
}

CKvXmlNode* CKvXmlNode::FirstElement() const
{
    for (const auto& child : m_children) {
        if (child->m_nKind == kElement)
            return child.get();
    }
    return nullptr;
}

// ---- Attributes -----------------------------------------------------------------

void CKvXmlNode::SetRawAttribute(std::wstring_view name, std::wstring value)
{
    // A replaced attribute moves to the end: the written order is the order of the
    // last assignments, which the text form relies on.
    RemoveAttribute(name);
    m_attributes.emplace_back(std::wstring(name), std::move(value));
}

void CKvXmlNode::SetAttribute(std::wstring_view name, std::wstring_view value)
{
    SetRawAttribute(name, velmora::XmlEscape(value));
}

void CKvXmlNode::SetAttributeInPlace(std::wstring_view name, std::wstring_view value)
{
    for (Attribute& attribute : m_attributes) {
        if (attribute.first == name) {
            attribute.second = velmora::XmlEscape(value);
            return;
        }
    }
    m_attributes.emplace_back(std::wstring(name), velmora::XmlEscape(value));
}

void CKvXmlNode::SetIntAttribute(std::wstring_view name, int nValue)
{
    SetRawAttribute(name, velmora::FormatIntW(nValue));
}

void CKvXmlNode::SetDoubleAttribute(std::wstring_view name, double dValue)
{
    SetRawAttribute(name, velmora::FormatDoubleW(dValue));
}

void CKvXmlNode::SetFloatAttribute(std::wstring_view name, float fValue)
{
    SetRawAttribute(name, velmora::FormatDoubleW(static_cast<double>(fValue)));
}

bool CKvXmlNode::RemoveAttribute(std::wstring_view name)
{
    const auto it = std::find_if(m_attributes.begin(), m_attributes.end(),
                                 [name](const Attribute& a) { return a.first == name; });
    if (it == m_attributes.end())
        return false;
    m_attributes.erase(it);
    return true;
}

const std::wstring* CKvXmlNode::FindAttribute(std::wstring_view name) const
{
    for (const Attribute& attribute : m_attributes) {
        if (attribute.first == name)
            return &attribute.second;
    }
    return nullptr;
}

bool CKvXmlNode::HasAttribute(std::wstring_view name) const
{
    return FindAttribute(name) != nullptr;
}

std::wstring CKvXmlNode::GetStringAttribute(std::wstring_view name, std::wstring_view def) const
{
    const std::wstring* value = FindAttribute(name);
    return value ? velmora::XmlUnescape(*value) : std::wstring(def);
}

int CKvXmlNode::GetIntAttribute(std::wstring_view name, int nDef) const
{
    const std::wstring* value = FindAttribute(name);
    return value ? velmora::ParseIntW(*value) : nDef;
}

double CKvXmlNode::GetDoubleAttribute(std::wstring_view name, double dDef) const
{
    const std::wstring* value = FindAttribute(name);
    return value ? velmora::ParseDoubleW(*value) : dDef;
}

// ---- Text -----------------------------------------------------------------------

void CKvXmlNode::SetText(std::wstring_view text)
{
    m_text = velmora::XmlEscape(text);
}

std::wstring CKvXmlNode::GetText() const
{
    return velmora::XmlUnescape(m_text);
}

// ---- Saving ---------------------------------------------------------------------

void CKvXmlNode::WriteNode(std::wstring& out, int nLevel) const
{
    if (m_nKind == kDocument) {
        for (const auto& child : m_children)
            child->WriteNode(out, nLevel);
        return;
    }

    out.append(static_cast<std::size_t>(nLevel), L'\t');
    if (m_nKind == kComment) {
        out += L"<!--";
        out += m_text;
        out += L"-->\r\n";
        return;
    }

    out += L'<';
    out += m_name;
    for (const Attribute& attribute : m_attributes) {
        out += L' ';
        out += attribute.first;
        out += L"=\"";
        out += attribute.second;
        out += L'"';
    }
    if (!m_children.empty()) {
        out += L">\r\n";
        for (const auto& child : m_children)
            child->WriteNode(out, nLevel + 1);
        out.append(static_cast<std::size_t>(nLevel), L'\t');
        out += L"</";
        out += m_name;
        out += L">\r\n";
    } else if (!m_text.empty()) {
        out += L'>';
        out += m_text;
        out += L"</";
        out += m_name;
        out += L">\r\n";
    } else {
        out += L"/>\r\n";
    }
}

bool CKvXmlNode::SaveToBuffer(int nEncoding, std::string& bytes) const
{
    bytes.clear();
    if (nEncoding < kUtf8Bom || nEncoding > kUtf16Be)
        return false;

    const bool utf16 = nEncoding == kUtf16Le || nEncoding == kUtf16Be;
    std::wstring text = utf16 ? L"<?xml version=\"1.0\" encoding=\"UTF-16\"?>\r\n"
                              : L"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n";
    WriteNode(text, 0);

    switch (nEncoding) {
    case kUtf8Bom:
        bytes = "\xEF\xBB\xBF" + velmora::WideToUtf8(text);
        break;
    case kUtf8:
        bytes = velmora::WideToUtf8(text);
        break;
    default: {
        const bool bigEndian = nEncoding == kUtf16Be;
        const std::u16string units = velmora::WideToUtf16(text);
        bytes.reserve(2 + units.size() * 2);
        bytes += bigEndian ? "\xFE\xFF" : "\xFF\xFE";
        for (char16_t unit : units) {
            const char lo = static_cast<char>(unit & 0xFF);
            const char hi = static_cast<char>((unit >> 8) & 0xFF);
            bytes += bigEndian ? hi : lo;
            bytes += bigEndian ? lo : hi;
        }
        break;
    }
    }
    return true;
}

bool CKvXmlNode::Save(const std::string& pathUtf8, int nEncoding) const
{
    std::string bytes;
    if (!SaveToBuffer(nEncoding, bytes))
        return false;
    return WriteWholeFile(pathUtf8, bytes);
}

bool CKvXmlNode::Save(const std::wstring& path, int nEncoding) const
{
    return Save(velmora::WideToUtf8(path), nEncoding);
}

// ---- Loading --------------------------------------------------------------------

bool CKvXmlNode::LoadFromBuffer(std::string_view bytes)
{
    if (m_nKind != kDocument)
        return false;
    m_children.clear();
    m_attributes.clear();
    m_text.clear();

    std::wstring text;
    if (!DecodeBytes(bytes, text))
        return false;
    if (!Parse(text)) {
        m_children.clear();
        return false;
    }
    return true;
}

bool CKvXmlNode::Load(const std::string& pathUtf8)
{
    std::string bytes;
    if (!ReadWholeFile(pathUtf8, bytes)) {
        if (m_nKind == kDocument)
            m_children.clear();
        return false;
    }
    return LoadFromBuffer(bytes);
}

bool CKvXmlNode::Load(const std::wstring& path)
{
    return Load(velmora::WideToUtf8(path));
}

bool CKvXmlNode::Parse(std::wstring_view s)
{
    constexpr std::size_t npos = std::wstring_view::npos;
    CKvXmlNode* pCurrent = this;
    // For each open element, where its content starts (just after its start tag).
    std::vector<std::size_t> contentStarts;

    std::size_t pos = 0;
    while ((pos = s.find(L'<', pos)) != npos) {
        const std::size_t tag = pos + 1;
        if (tag >= s.size())
            return false;

        if (s[tag] == L'!') {
            std::wstring_view body;
            if (s.substr(tag, 3) == L"!--") {
                const std::size_t end = s.find(L"-->", tag + 3);
                if (end == npos)
                    return false;
                body = s.substr(tag + 3, end - (tag + 3));
                pos = end + 3;
            } else {
                const std::size_t end = s.find(L'>', tag);
                if (end == npos)
                    return false;
                body = s.substr(tag + 1, end - (tag + 1));
                pos = end + 1;
            }
            pCurrent->AddChild(L"", kComment)->m_text = std::wstring(body);
            continue;
        }

        if (s[tag] == L'?') {
            const std::size_t end = s.find(L'>', tag);
            if (end == npos)
                return false;
            pos = end + 1;
            continue;
        }

        if (s[tag] == L'/') {
            const std::size_t end = s.find(L'>', tag);
            if (end == npos || pCurrent == this)
                return false;
            // Text is kept only for a leaf: an element with children is written
            // without its text, so what stands between its children is layout.
            if (pCurrent->m_children.empty())
                pCurrent->m_text = std::wstring(s.substr(contentStarts.back(), pos - contentStarts.back()));
            contentStarts.pop_back();
            pCurrent = pCurrent->m_pParent;
            pos = end + 1;
            continue;
        }

        // A start tag: the name, then name="value" pairs, then ">" or "/>".
        std::size_t p = tag;
        while (p < s.size() && !IsBlank(s[p]) && s[p] != L'/' && s[p] != L'>')
            ++p;
        if (p >= s.size() || p == tag)
            return false;
        CKvXmlNode* pElement = pCurrent->AddChild(s.substr(tag, p - tag), kElement);

        bool selfClosing = false;
        for (;;) {
            while (p < s.size() && IsBlank(s[p]))
                ++p;
            if (p >= s.size())
                return false;
            if (s[p] == L'>') {
                ++p;
                break;
            }
            if (s[p] == L'/') {
                const std::size_t end = s.find(L'>', p);
                if (end == npos)
                    return false;
                selfClosing = true;
                p = end + 1;
                break;
            }
            const std::size_t nameStart = p;
            while (p < s.size() && !IsBlank(s[p]) && s[p] != L'=' && s[p] != L'/' && s[p] != L'>')
                ++p;
            if (p == nameStart || p >= s.size())
                return false;
            const std::wstring_view name = s.substr(nameStart, p - nameStart);
            while (p < s.size() && IsBlank(s[p]))
                ++p;
            if (p < s.size() && s[p] == L'=') {
                ++p;
                while (p < s.size() && IsBlank(s[p]))
                    ++p;
                if (p >= s.size() || s[p] != L'"')
                    return false;
                const std::size_t close = s.find(L'"', p + 1);
                if (close == npos)
                    return false;
                pElement->m_attributes.emplace_back(name, s.substr(p + 1, close - (p + 1)));
                p = close + 1;
            } else {
                pElement->m_attributes.emplace_back(name, std::wstring());
            }
        }
        // A name given twice keeps its last value, as if each pair had been set in turn.
        KeepLastOfEachName(pElement->m_attributes);

        if (!selfClosing) {
            if (contentStarts.size() >= kMaxDepth)
                return false;
            pCurrent = pElement;
            contentStarts.push_back(p);
        }
        pos = p;
    }
    return pCurrent == this;
}
