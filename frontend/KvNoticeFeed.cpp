#include "frontend/KvNoticeFeed.h"

#include "common/KvText.h"
#include "xml/KvXmlNode.h"

#include <algorithm>
#include <vector>

namespace velmora {

std::vector<tagKvNoticeItem> ReadNoticeFeed(std::string_view bytes)
{
    std::vector<tagKvNoticeItem> items;
    if (bytes.size() > kMaxNoticeFeedBytes)
        return items;
    CKvXmlNode document;
    if (!document.LoadFromBuffer(bytes))
        return items;
    // Depth first in document order, without recursion.
    std::vector<const CKvXmlNode*> pending{&document};
    while (!pending.empty()) {
        const CKvXmlNode* node = pending.back();
        pending.pop_back();
        if (node->GetKind() == CKvXmlNode::kElement && node->GetName() == L"item") {
            tagKvNoticeItem item;
            item.pic = node->GetStringAttribute(L"pic");
            item.save = node->GetStringAttribute(L"save");
            item.link = node->GetStringAttribute(L"link");
            item.title = node->GetStringAttribute(L"title");
            item.disp = node->GetStringAttribute(L"disp");
            items.push_back(std::move(item));
        }
        const auto& children = node->GetChildren();
        for (auto it = children.rbegin(); it != children.rend(); ++it)
            pending.push_back(it->get());
    }
    return items;
}

bool IsPlainNoticeName(std::wstring_view name)
{
    if (name.empty() || name.size() > kMaxNoticeNameBytes || name.front() == L'.')
        return false;
    const bool plain = std::all_of(name.begin(), name.end(), [](wchar_t c) {
        return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9') || c == L'.'
            || c == L'_' || c == L'-';
    });
    // ASCII only, so characters and bytes agree. The feed's own file shares the folder.
    return plain && ToLowerW(name) != L"msg.xml";
}

bool IsNoticeWebAddress(std::wstring_view address)
{
    if (address.size() > 4096)
        return false;
    const std::wstring lower = ToLowerW(address.substr(0, 8));
    std::size_t hostStart = 0;
    if (lower.rfind(L"http://", 0) == 0)
        hostStart = 7;
    else if (lower.rfind(L"https://", 0) == 0)
        hostStart = 8;
    else
        return false;
    if (std::any_of(address.begin(), address.end(), [](wchar_t c) { return c <= 0x20 || c == 0x7F; }))
        return false;
    const std::size_t hostEnd = address.find_first_of(L"/?#", hostStart);
    const std::wstring_view authority = address.substr(hostStart, hostEnd - hostStart);
    // A host must be left once any "user@" part is taken off.
    const std::size_t at = authority.rfind(L'@');
    const std::wstring_view host = at == std::wstring_view::npos ? authority : authority.substr(at + 1);
    return !host.empty() && host.front() != L':';
}

bool IsNoticePicture(std::string_view head)
{
    static constexpr std::string_view kPng("\x89PNG\r\n\x1A\n", 8);
    static constexpr std::string_view kJpeg("\xFF\xD8\xFF", 3);
    return head.substr(0, kPng.size()) == kPng || head.substr(0, kJpeg.size()) == kJpeg;
}

bool IsUsableNoticeItem(const tagKvNoticeItem& item)
{
    return IsPlainNoticeName(item.save) && IsNoticeWebAddress(item.pic)
        && (item.link.empty() || (item.link.size() <= kMaxNoticeLinkChars && IsNoticeWebAddress(item.link)));
}

std::vector<tagKvNoticeItem> UsableNoticeItems(std::string_view feedBytes)
{
    std::vector<tagKvNoticeItem> items = ReadNoticeFeed(feedBytes);
    items.erase(std::remove_if(items.begin(), items.end(), [](const auto& item) { return !IsUsableNoticeItem(item); }),
                items.end());
    if (items.size() > kMaxNotices)
        items.resize(kMaxNotices);
    return items;
}

} // namespace velmora
