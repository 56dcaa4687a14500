#pragma once

// The notice feed "msg.xml": the list of online notices shown in the main window's
// bottom strip. Every element named "item", anywhere in the document and in document
// order, is one notice:
//
//   <item pic="https://host/a.png" save="a.png" link="https://host/page" title="..." disp="..."/>
//
//   pic    web address of the notice's picture (used only when downloading)
//   save   file name of the picture in the notice folder (and the staging folder)
//   link   web address opened when the notice is clicked
//   title  the notice's title
//   disp   a further text shown with the notice
//
// The feed comes from the network, so nothing in it is trusted: "save" must be one
// plain file name, and both addresses must be http or https. An item that fails
// either rule is skipped, neither downloaded nor shown.
//
// No Qt and no network here, so the reader can be tried on any bytes.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace velmora {

struct tagKvNoticeItem
{
    std::wstring pic;
    std::wstring save;
    std::wstring link;
    std::wstring title;
    std::wstring disp;
};

// Sizes a download may have at most: the feed and one picture.
inline constexpr std::size_t kMaxNoticeFeedBytes = 1024 * 1024;
inline constexpr std::size_t kMaxNoticePictureBytes = 5 * 1024 * 1024;
// What one feed may bring: its first notices only, and their pictures together.
inline constexpr std::size_t kMaxNotices = 20;
inline constexpr std::size_t kMaxNoticeFeedPictureBytes = 20 * 1024 * 1024;
// A picture whose header gives a side over this is refused before it is decoded.
inline constexpr int kMaxNoticePictureSide = 4096;
// Longest "save" name, in UTF-8 bytes.
inline constexpr std::size_t kMaxNoticeNameBytes = 100;
// Longest link a notice keeps (the list's text fields hold 259 characters).
inline constexpr std::size_t kMaxNoticeLinkChars = 259;
// The feed's own file name in the staging and notice folders.
inline constexpr char kNoticeFeedName[] = "msg.xml";

// Every "item" of the document with its attributes as written (missing ones empty).
// Empty when the bytes are not an XML document the document layer reads.
std::vector<tagKvNoticeItem> ReadNoticeFeed(std::string_view bytes);

// One plain file name: ASCII letters, digits, ".", "_" and "-" only, not starting
// with ".", at most 100 bytes, and not the feed's own name.
bool IsPlainNoticeName(std::wstring_view name);
// An absolute http or https address with a host and without blanks or control
// characters.
bool IsNoticeWebAddress(std::wstring_view address);
// The first bytes of a PNG or JPEG file.
bool IsNoticePicture(std::string_view head);
// Acceptable: a plain "save", a web address as "pic", and a "link" that is empty
// or a web address of at most 259 characters.
bool IsUsableNoticeItem(const tagKvNoticeItem& item);
// The usable items of a feed, in order, the first kMaxNotices of them.
std::vector<tagKvNoticeItem> UsableNoticeItems(std::string_view feedBytes);

} // namespace velmora
