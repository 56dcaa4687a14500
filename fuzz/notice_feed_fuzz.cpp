// The notice feed reader on any bytes, with the rules every item must pass before
// anything is downloaded, written or opened: what passes is checked again here by
// simpler means.

#include "frontend/KvNoticeFeed.h"

#include <cstdint>
#include <cstdlib>
#include <cwctype>
#include <string>
#include <string_view>

namespace {

bool StartsWithWebScheme(const std::wstring& address)
{
    std::wstring head = address.substr(0, 8);
    for (wchar_t& c : head)
        c = static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
    return head.rfind(L"http://", 0) == 0 || head.rfind(L"https://", 0) == 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace velmora;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    for (const tagKvNoticeItem& item : ReadNoticeFeed(bytes)) {
        if (!IsUsableNoticeItem(item))
            continue;
        if (item.save.empty() || item.save.size() > 100 || item.save.front() == L'.'
            || item.save.find_first_not_of(L"abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789._-")
                != std::wstring::npos)
            std::abort();
        if (!StartsWithWebScheme(item.pic) || (!item.link.empty() && !StartsWithWebScheme(item.link)))
            std::abort();
    }
    IsNoticePicture(bytes);
    return 0;
}
