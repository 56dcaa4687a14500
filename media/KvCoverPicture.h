#pragma once

// Makes a cover picture fit what an output can carry.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace velmora {

// The MIME type of a picture of an FFmpeg codec id (AVCodecID); empty for a codec
// that is no picture format a cover comes in.
std::string CoverMimeOfCodec(int codecId);

// Pictures that would decode to more pixels than this are not decoded (a hostile
// header could ask for gigabytes).
constexpr std::int64_t kMaxCoverPixels = 50'000'000;

// A JPEG or PNG of at most maxBytes is kept as it is. Anything else (larger, or
// another format) is decoded and written as a JPEG whose longer side is at most
// maxSide pixels (never enlarged), smaller and coarser until it fits maxBytes.
// Returns false when the picture cannot be decoded or made to fit; bytes and mime
// are then left as they were. On success they hold the picture to write.
bool FitCoverPicture(std::vector<std::uint8_t>& bytes, std::string& mime, std::size_t maxBytes, int maxSide);

// What a picture decodes to, as a FLAC picture block describes it: width and height
// in pixels, and bits per pixel (components times their depth: 24 for a colour JPEG,
// 32 for a PNG with alpha). All 0 when the picture cannot be decoded.
struct CoverPictureSize
{
    int width = 0;
    int height = 0;
    int depth = 0;
};
CoverPictureSize MeasureCoverPicture(const std::vector<std::uint8_t>& bytes, const std::string& mime);

} // namespace velmora
