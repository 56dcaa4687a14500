#pragma once

// The small XML document layer both programs use for the project file and the side
// files.
//
// A document is a tree of CKvXmlNode: one invisible document node (kind 0) that holds
// the root element, elements (kind 1) and comments (kind 2). Every node owns its
// attributes and children; children keep a link to their parent.
//
// Text form written by Save (what the engine and the side-file readers expect):
//   - an optional byte-order mark and a declaration line chosen by the save code;
//   - one node per line, indented by one TAB per level, every line ending in CR LF;
//   - `<name a="v"/>` for an element without children and text,
//     `<name a="v">text</name>` for an element with text only,
//     `<name a="v">` CR LF children `</name>` for an element with children,
//     `<!--text-->` for a comment.
//
// Values and texts are stored in their escaped form: "&", "<", ">" and the double
// quote become "&amp;", "&lt;", "&gt;" and "&quot;" when they are set, and every
// getter of a string value or a text turns them back. Paths on Linux may contain all
// four characters, and they must come back unchanged from the file.
//
// Numbers are written with "%d" and "%g" and read back in the C locale, whatever
// locale the process runs in.
//
// No exceptions leave this class (allocation failure aside); failures are reported by
// return values.

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace velmora {

// "&" -> "&amp;", "<" -> "&lt;", ">" -> "&gt;", '"' -> "&quot;".
std::wstring XmlEscape(std::wstring_view text);
// The reverse, in one left-to-right pass ("&amp;lt;" gives "&lt;"). Anything that is
// not one of the four entities is kept as it stands.
std::wstring XmlUnescape(std::wstring_view text);

} // namespace velmora

class CKvXmlNode
{
public:
    // Node kinds.
    static constexpr int kDocument = 0;
    static constexpr int kElement = 1;
    static constexpr int kComment = 2;

    // Save codes: which byte-order mark, declaration and body encoding Save writes.
    static constexpr int kSaveFail = 0;      // nothing is written, Save fails
    static constexpr int kUtf8Bom = 1;       // EF BB BF, UTF-8
    static constexpr int kUtf8 = 2;          // no mark, UTF-8
    static constexpr int kUtf16Le = 3;       // FF FE, UTF-16 little-endian (project and side files)
    static constexpr int kUtf16Be = 4;       // FE FF, UTF-16 big-endian

    // Nesting far beyond anything the programs write; a deeper file is refused rather
    // than risking the stack when the tree is walked, written or freed recursively.
    static constexpr std::size_t kMaxDepth = 1024;

    using Attribute = std::pair<std::wstring, std::wstring>; // name, stored (escaped) value

    // A new, empty document node.
    CKvXmlNode();
    ~CKvXmlNode();

    CKvXmlNode(const CKvXmlNode&) = delete;
    CKvXmlNode& operator=(const CKvXmlNode&) = delete;

    int GetKind() const { return m_nKind; }
    const std::wstring& GetName() const { return m_name; }
    CKvXmlNode* GetParent() const { return m_pParent; }

    // ---- Children -------------------------------------------------------------

    // Appends a new element (kind 1) or comment (kind 2) child and returns it; any
    // other kind returns nullptr. For a comment the name is ignored.
    CKvXmlNode* AddChild(std::wstring_view name, int nKind = kElement);
    // Deletes one child (and its subtree). Returns false when it is not a child of this node.
    bool RemoveChild(CKvXmlNode* pChild);
    // Deletes every child.
    void ClearChildren();

    // All children in order (elements and comments).
    const std::vector<std::unique_ptr<CKvXmlNode>>& GetChildren() const { return m_children; }
    std::size_t GetChildCount() const { return m_children.size(); }
    CKvXmlNode* GetChild(std::size_t nIndex) const; // nullptr when out of range

    // Children of any name and kind, in order: FirstChild(), then NextChild(previous).
    CKvXmlNode* FirstChild() const;
    CKvXmlNode* NextChild(const CKvXmlNode* pPrevious) const;
    // Children whose name equals `name` exactly (case-sensitive), in order:
    // FirstChild(name), then NextChild(name, previous) until it returns nullptr.
    CKvXmlNode* FirstChild(std::wstring_view name) const;
    CKvXmlNode* NextChild(std::wstring_view name, const CKvXmlNode* pPrevious) const;

    // The first element child: for a loaded document, its root element.
    CKvXmlNode* FirstElement() const;

    // ---- Attributes -----------------------------------------------------------

    // Set or replace one attribute. Replacing removes the old pair and appends the
    // new one at the end of the list. Text values are escaped; numbers use "%d" and
    // "%g" in the C locale.
    void SetAttribute(std::wstring_view name, std::wstring_view value);
    // Sets one text attribute where it stands: an existing pair keeps its place in the
    // list, a new one is appended.
    void SetAttributeInPlace(std::wstring_view name, std::wstring_view value);
    void SetIntAttribute(std::wstring_view name, int nValue);
    void SetDoubleAttribute(std::wstring_view name, double dValue);
    void SetFloatAttribute(std::wstring_view name, float fValue);
    // Removes one attribute; returns false when there was none.
    bool RemoveAttribute(std::wstring_view name);

    // Lookups compare the whole name exactly (case-sensitive).
    bool HasAttribute(std::wstring_view name) const;
    // The value with the four entities turned back, or `def` when missing.
    std::wstring GetStringAttribute(std::wstring_view name, std::wstring_view def = {}) const;
    // Leading decimal digits (after optional blanks and sign), 0 when there are none;
    // `nDef` when missing.
    int GetIntAttribute(std::wstring_view name, int nDef = 0) const;
    // wcstod-like conversion in the C locale; `dDef` when missing.
    double GetDoubleAttribute(std::wstring_view name, double dDef = 0.0) const;

    // The stored, escaped pairs in list order.
    const std::vector<Attribute>& GetAttributes() const { return m_attributes; }

    // ---- Text -----------------------------------------------------------------

    // Element text (written only when the element has no children) or comment body;
    // escaped when set.
    void SetText(std::wstring_view text);
    // The text with the four entities turned back.
    std::wstring GetText() const;
    // The stored form: escaped when set through SetText, raw characters when loaded.
    const std::wstring& GetRawText() const { return m_text; }

    // ---- Saving and loading ---------------------------------------------------

    // Serialises the tree in the text form above. A document writes the declaration
    // and its children from level 0; any other node writes itself as the root.
    // Returns false (and writes nothing) when the code is not 1 to 4.
    bool SaveToBuffer(int nEncoding, std::string& bytes) const;
    // Writes the file (UTF-8 path), truncating it. Returns false when the code is not
    // 1 to 4 or the file cannot be created or written.
    bool Save(const std::string& pathUtf8, int nEncoding) const;
    bool Save(const std::wstring& path, int nEncoding) const;

    // Only on a document node: replaces its children with the parsed content.
    // Fails when the bytes cannot be decoded (fewer than 3 bytes; no mark and not
    // valid UTF-8) or parsed (a malformed tag, an element left open, a stray end tag,
    // elements nested deeper than kMaxDepth). An attribute given twice in one tag keeps
    // its last value, in the place of its last occurrence. On failure the document is
    // left empty. Time and memory grow linearly with the input (n log n for the
    // attributes of one tag).
    bool LoadFromBuffer(std::string_view bytes);
    // Reads the whole file (UTF-8 path) and loads it; false when it cannot be opened
    // or LoadFromBuffer fails.
    bool Load(const std::string& pathUtf8);
    bool Load(const std::wstring& path);

private:
    CKvXmlNode(int nKind, std::wstring name, CKvXmlNode* pParent);

    void SetRawAttribute(std::wstring_view name, std::wstring value);
    const std::wstring* FindAttribute(std::wstring_view name) const;
    void WriteNode(std::wstring& out, int nLevel) const;
    bool Parse(std::wstring_view text);

    int m_nKind = kDocument;
    std::size_t m_nIndex = 0; // position among the parent's children
    std::wstring m_name;
    std::wstring m_text;
    std::vector<Attribute> m_attributes;
    std::vector<std::unique_ptr<CKvXmlNode>> m_children;
    CKvXmlNode* m_pParent = nullptr;
};
