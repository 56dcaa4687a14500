// The document layer over any bytes: loading, every getter, and the writer and reader
// agreeing with each other (what Save writes, Load reads back to the same tree).

#include "FuzzSupport.h"

#include "xml/KvXmlNode.h"

#include <cstdint>
#include <string>
#include <vector>

using velmora::fuzz::Expect;

namespace {

// Every getter on every node, walked without recursion.
void Touch(const CKvXmlNode& document)
{
    std::vector<const CKvXmlNode*> pending = {&document};
    while (!pending.empty()) {
        const CKvXmlNode* node = pending.back();
        pending.pop_back();
        (void)node->GetText();
        for (const auto& [name, value] : node->GetAttributes()) {
            Expect(node->HasAttribute(name), "a listed attribute is found by its name");
            (void)node->GetStringAttribute(name);
            (void)node->GetIntAttribute(name, 0);
            (void)node->GetDoubleAttribute(name, 0.0);
        }
        std::size_t count = 0;
        for (const CKvXmlNode* child = node->FirstChild(); child; child = node->NextChild(child)) {
            Expect(child->GetParent() == node, "a child knows its parent");
            Expect(node->GetChild(count) == child, "iteration follows the child list");
            ++count;
            pending.push_back(child);
            if (child->GetKind() == CKvXmlNode::kElement)
                Expect(node->FirstChild(child->GetName()) != nullptr, "a child is found by its name");
        }
        Expect(count == node->GetChildCount(), "iteration visits every child");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    CKvXmlNode document;
    if (!document.LoadFromBuffer(bytes)) {
        Expect(document.GetChildCount() == 0, "a failed load leaves the document empty");
        return 0;
    }
    Touch(document);

    for (int code : {CKvXmlNode::kUtf8, CKvXmlNode::kUtf16Le, CKvXmlNode::kUtf16Be}) {
        std::string saved;
        Expect(document.SaveToBuffer(code, saved), "every save code 1 to 4 writes");
        CKvXmlNode reloaded;
        Expect(reloaded.LoadFromBuffer(saved), "what the layer writes, it reads");
        std::string again;
        reloaded.SaveToBuffer(code, again);
        Expect(again == saved, "a written tree reads back to the same tree");
    }

    // Editing a loaded tree: removing the first child keeps the others in order.
    if (CKvXmlNode* root = document.FirstElement()) {
        const std::size_t before = root->GetChildCount();
        if (before > 0) {
            CKvXmlNode* second = root->GetChild(1);
            Expect(root->RemoveChild(root->FirstChild()), "a child can be removed");
            Expect(root->FirstChild() == second, "the next child moves up");
            Expect(root->GetChildCount() == before - 1, "one child fewer");
        }
        root->SetAttributeInPlace(L"fuzz", L"<&\">");
        Expect(root->GetStringAttribute(L"fuzz") == L"<&\">", "a value comes back as it was set");
    }
    return 0;
}
