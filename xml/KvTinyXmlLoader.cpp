#include "xml/KvTinyXmlLoader.h"

#include "common/KvText.h"

#include <tinyxml.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>

namespace velmora {

namespace {

// U+0000 bytes after the text. TinyXML steps over a whole UTF-8 sequence at once and
// may step past the end of a truncated one; the padding keeps that inside the buffer.
constexpr std::size_t kPadding = 8;

// Walks a NUL-terminated text the way TinyXML 2.6 parses it, building nothing. Every
// member function mirrors the TinyXML routine of the same purpose and returns where
// TinyXML would go on, or nullptr where TinyXML gives up; the walk stops (refused)
// where TinyXML would fail an assertion or pass one of the limits. Keep it in step
// with the library: the fuzz target of this loader checks that the tree TinyXML builds
// never nests deeper, or holds more attributes in one element, than the walk says.
class CTinyXmlWalk
{
public:
    explicit CTinyXmlWalk(bool bUtf8)
        : m_bUtf8(bUtf8)
        , m_bCondense(TiXmlBase::IsWhiteSpaceCondensed())
    {
    }

    TinyXmlTextShape Walk(const char* p)
    {
        // The document level: nodes one after another until one fails.
        p = SkipWhiteSpace(p);
        while (!m_bRefused && p && *p) {
            const Kind kind = Identify(p);
            if (m_bRefused || kind == Kind::kNone)
                break;
            p = ParseNode(kind, p);
            if (m_bRefused)
                break;
            p = SkipWhiteSpace(p);
        }
        m_shape.bAccepted = !m_bRefused;
        return m_shape;
    }

private:
    enum class Kind
    {
        kNone,
        kDeclaration,
        kComment,
        kCData,
        kUnknown,
        kElement,
    };

    static bool IsWhiteSpace(char c) { return std::isspace(static_cast<unsigned char>(c)) || c == '\n' || c == '\r'; }
    // Any byte from 127 up counts as a letter.
    static bool IsAlpha(unsigned char c) { return c < 127 ? std::isalpha(c) != 0 : true; }
    static bool IsAlphaNum(unsigned char c) { return c < 127 ? std::isalnum(c) != 0 : true; }

    int ToLower(int v) const
    {
        if (m_bUtf8)
            return v < 128 ? std::tolower(v) : v;
        return std::tolower(v);
    }

    // TinyXML asserts that it never compares at the end of the text; where it would,
    // the walk refuses the text.
    bool StringEqual(const char* p, std::string_view tag, bool bIgnoreCase)
    {
        if (!p || !*p) {
            m_bRefused = true;
            return false;
        }
        std::size_t i = 0;
        for (; p[i] && i < tag.size(); ++i) {
            const bool same = bIgnoreCase ? ToLower(p[i]) == ToLower(tag[i]) : p[i] == tag[i];
            if (!same)
                return false;
        }
        return i == tag.size();
    }

    const char* SkipWhiteSpace(const char* p) const
    {
        if (!p || !*p)
            return nullptr;
        if (m_bUtf8) {
            while (*p) {
                const auto* u = reinterpret_cast<const unsigned char*>(p);
                // Byte-order marks and the two non-characters U+FFFE and U+FFFF.
                if (u[0] == 0xEF && ((u[1] == 0xBB && u[2] == 0xBF) || (u[1] == 0xBF && (u[2] == 0xBE || u[2] == 0xBF)))) {
                    p += 3;
                    continue;
                }
                if (!IsWhiteSpace(*p))
                    break;
                ++p;
            }
        } else {
            while (*p && IsWhiteSpace(*p))
                ++p;
        }
        return p;
    }

    const char* ReadName(const char* p, std::string_view& name)
    {
        if (!p) {
            m_bRefused = true; // an assertion in TinyXML
            return nullptr;
        }
        if (!*p || !(IsAlpha(static_cast<unsigned char>(*p)) || *p == '_'))
            return nullptr;
        const char* start = p;
        while (*p && (IsAlphaNum(static_cast<unsigned char>(*p)) || *p == '_' || *p == '-' || *p == '.' || *p == ':'))
            ++p;
        name = std::string_view(start, static_cast<std::size_t>(p - start));
        return p;
    }

    // A character reference or entity: "&#65;", "&#x41;", "&amp;" and the like.
    static const char* GetEntity(const char* p)
    {
        if (p[1] == '#' && p[2]) {
            const bool hex = p[2] == 'x';
            if (hex && !p[3])
                return nullptr;
            const char* q = std::strchr(p + (hex ? 3 : 2), ';');
            if (!q)
                return nullptr;
            const std::ptrdiff_t delta = q - p;
            for (--q; *q != (hex ? 'x' : '#'); --q) {
                const bool digit = hex ? std::isxdigit(static_cast<unsigned char>(*q)) != 0 : (*q >= '0' && *q <= '9');
                if (!digit)
                    return nullptr;
            }
            return p + delta + 1;
        }
        for (const char* entity : {"&amp;", "&lt;", "&gt;", "&quot;", "&apos;"}) {
            const std::size_t length = std::strlen(entity);
            if (std::strncmp(entity, p, length) == 0)
                return p + length;
        }
        return p + 1;
    }

    const char* GetChar(const char* p) const
    {
        std::size_t length = 1;
        if (m_bUtf8) {
            const auto lead = static_cast<unsigned char>(*p);
            if (lead >= 0xC2 && lead <= 0xDF)
                length = 2;
            else if (lead >= 0xE0 && lead <= 0xEF)
                length = 3;
            else if (lead >= 0xF0 && lead <= 0xF4)
                length = 4;
        }
        if (length == 1)
            return *p == '&' ? GetEntity(p) : p + 1;
        return p + length;
    }

    const char* ReadText(const char* p, std::string_view endTag, bool bTrimWhiteSpace)
    {
        if (!bTrimWhiteSpace || !m_bCondense) {
            while (p && *p && !StringEqual(p, endTag, false))
                p = GetChar(p);
        } else {
            p = SkipWhiteSpace(p);
            while (p && *p && !StringEqual(p, endTag, false))
                p = IsWhiteSpace(*p) ? p + 1 : GetChar(p);
        }
        if (p && *p)
            p += endTag.size();
        return p && *p ? p : nullptr;
    }

    const char* ParseAttribute(const char* p, std::string_view& name)
    {
        p = SkipWhiteSpace(p);
        if (!p || !*p)
            return nullptr;
        p = ReadName(p, name);
        if (!p || !*p)
            return nullptr;
        p = SkipWhiteSpace(p);
        if (!p || !*p || *p != '=')
            return nullptr;
        p = SkipWhiteSpace(p + 1);
        if (!p || !*p)
            return nullptr;
        if (*p == '\'')
            return ReadText(p + 1, "'", false);
        if (*p == '"')
            return ReadText(p + 1, "\"", false);
        // An unquoted value runs to a blank, "/" or ">"; a quote inside it is an error.
        while (*p && !IsWhiteSpace(*p) && *p != '/' && *p != '>') {
            if (*p == '\'' || *p == '"')
                return nullptr;
            ++p;
        }
        return p;
    }

    Kind Identify(const char* p)
    {
        p = SkipWhiteSpace(p);
        if (!p || !*p || *p != '<')
            return Kind::kNone;
        if (StringEqual(p, "<?xml", true))
            return Kind::kDeclaration;
        if (StringEqual(p, "<!--", false))
            return Kind::kComment;
        if (StringEqual(p, "<![CDATA[", false))
            return Kind::kCData;
        if (StringEqual(p, "<!", false))
            return Kind::kUnknown;
        if (IsAlpha(static_cast<unsigned char>(p[1])) || p[1] == '_')
            return Kind::kElement;
        return Kind::kUnknown;
    }

    const char* ParseNode(Kind kind, const char* p)
    {
        switch (kind) {
        case Kind::kDeclaration: return ParseDeclaration(p);
        case Kind::kComment: return ParseComment(p);
        case Kind::kCData: return ParseText(p, true);
        case Kind::kUnknown: return ParseUnknown(p);
        case Kind::kElement: return ParseElement(p);
        case Kind::kNone: break;
        }
        return nullptr;
    }

    const char* ParseDeclaration(const char* p)
    {
        p = SkipWhiteSpace(p);
        if (!p || !*p || !StringEqual(p, "<?xml", true))
            return nullptr;
        p += 5;
        while (p && *p) {
            if (*p == '>')
                return p + 1;
            p = SkipWhiteSpace(p);
            // In this order, as TinyXML asks; the first question at the end of the
            // text is the one that stops it.
            const bool known = StringEqual(p, "version", true) || StringEqual(p, "encoding", true)
                || StringEqual(p, "standalone", true);
            if (m_bRefused)
                return nullptr;
            if (known) {
                std::string_view ignored;
                p = ParseAttribute(p, ignored);
            } else {
                while (p && *p && *p != '>' && !IsWhiteSpace(*p))
                    ++p;
            }
        }
        return nullptr;
    }

    const char* ParseComment(const char* p)
    {
        p = SkipWhiteSpace(p);
        if (!StringEqual(p, "<!--", false))
            return nullptr;
        p += 4;
        while (p && *p && !StringEqual(p, "-->", false))
            ++p;
        if (p && *p)
            p += 3;
        return p;
    }

    const char* ParseUnknown(const char* p)
    {
        p = SkipWhiteSpace(p);
        if (!p || !*p || *p != '<')
            return nullptr;
        ++p;
        while (*p && *p != '>')
            ++p;
        return *p == '>' ? p + 1 : p;
    }

    const char* ParseText(const char* p, bool bCData)
    {
        if (bCData || StringEqual(p, "<![CDATA[", false)) {
            if (!StringEqual(p, "<![CDATA[", false))
                return nullptr;
            p += 9;
            while (p && *p && !StringEqual(p, "]]>", false))
                ++p;
            return ReadText(p, "]]>", false);
        }
        p = ReadText(p, "<", true);
        return p && *p ? p - 1 : nullptr;
    }

    // The start tag: its name, then attributes up to ">" (bOpen) or "/>".
    const char* ParseStartTag(const char* p, std::string_view& name, bool& bOpen)
    {
        bOpen = false;
        p = SkipWhiteSpace(p);
        if (!p || !*p || *p != '<')
            return nullptr;
        p = ReadName(SkipWhiteSpace(p + 1), name);
        if (!p || !*p)
            return nullptr;
        std::set<std::string_view> names; // ordered: no hash to flood
        while (p && *p) {
            p = SkipWhiteSpace(p);
            if (!p || !*p)
                return nullptr;
            if (*p == '/')
                return p[1] == '>' ? p + 2 : nullptr;
            if (*p == '>') {
                bOpen = true;
                return p + 1;
            }
            std::string_view attribute;
            p = ParseAttribute(p, attribute);
            if (!p || !*p)
                return nullptr;
            if (!names.insert(attribute).second)
                return nullptr; // TinyXML refuses a name given twice
            if (names.size() > kMaxTinyXmlAttributes) {
                m_bRefused = true;
                return nullptr;
            }
            m_shape.nAttributes = std::max(m_shape.nAttributes, names.size());
        }
        return p;
    }

    const char* ParseElement(const char* p)
    {
        if (m_nDepth == kMaxTinyXmlDepth) {
            m_bRefused = true;
            return nullptr;
        }
        ++m_nDepth;
        m_shape.nDepth = std::max(m_shape.nDepth, m_nDepth);
        const char* end = ParseElementAt(p);
        --m_nDepth;
        return end;
    }

    const char* ParseElementAt(const char* p)
    {
        std::string_view name;
        bool bOpen = false;
        p = ParseStartTag(p, name, bOpen);
        if (!p || !bOpen)
            return p;
        p = ReadValue(p);
        if (!p || !*p)
            return nullptr;
        // The end tag must name this element: "</name", blanks, ">".
        if (!StringEqual(p, "</", false) || std::strncmp(p + 2, name.data(), name.size()) != 0)
            return nullptr;
        p = SkipWhiteSpace(p + 2 + name.size());
        return p && *p == '>' ? p + 1 : nullptr;
    }

    // The content of an open element, up to its end tag.
    const char* ReadValue(const char* p)
    {
        const char* pWithWhiteSpace = p;
        if (m_bCondense)
            p = SkipWhiteSpace(p);
        while (p && *p) {
            if (*p != '<') {
                p = ParseText(m_bCondense ? p : pWithWhiteSpace, false);
            } else {
                if (StringEqual(p, "</", false))
                    return p;
                const Kind kind = Identify(p);
                if (kind == Kind::kNone)
                    return nullptr;
                p = ParseNode(kind, p);
            }
            if (m_bRefused)
                return nullptr;
            pWithWhiteSpace = p;
            if (m_bCondense)
                p = SkipWhiteSpace(p);
        }
        return m_bCondense ? p : pWithWhiteSpace;
    }

    const bool m_bUtf8;
    const bool m_bCondense;
    bool m_bRefused = false;
    std::size_t m_nDepth = 0;
    TinyXmlTextShape m_shape;
};

} // namespace

TinyXmlText PrepareTinyXmlText(std::string_view fileBytes)
{
    // TinyXML reads a file up to its first U+0000.
    fileBytes = fileBytes.substr(0, fileBytes.find('\0'));
    if (fileBytes.substr(0, 3) == "\xEF\xBB\xBF")
        fileBytes.remove_prefix(3);
    TinyXmlText text;
    text.bytes.reserve(fileBytes.size() + kPadding);
    for (std::size_t i = 0; i < fileBytes.size(); ++i) {
        if (fileBytes[i] != '\r') {
            text.bytes += fileBytes[i];
            continue;
        }
        text.bytes += '\n';
        if (i + 1 < fileBytes.size() && fileBytes[i + 1] == '\n')
            ++i;
    }
    text.bUtf8 = IsValidUtf8(text.bytes);
    text.bytes.append(kPadding, '\0');
    return text;
}

TinyXmlTextShape WalkTinyXmlText(const TinyXmlText& text)
{
    return CTinyXmlWalk(text.bUtf8).Walk(text.bytes.c_str());
}

bool LoadTinyXml(TiXmlDocument& document, std::string_view fileBytes)
{
    document.Clear();
    const TinyXmlText text = PrepareTinyXmlText(fileBytes);
    if (!WalkTinyXmlText(text).bAccepted)
        return false;
    document.Parse(text.bytes.c_str(), nullptr, text.bUtf8 ? TIXML_ENCODING_UTF8 : TIXML_ENCODING_LEGACY);
    return !document.Error();
}

bool LoadTinyXmlFile(TiXmlDocument& document, const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    if (!file)
        return false;
    const std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (file.bad())
        return false;
    return LoadTinyXml(document, bytes);
}

} // namespace velmora
