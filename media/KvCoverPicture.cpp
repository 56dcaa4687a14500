#include "media/KvCoverPicture.h"

#include "media/KvFFMpegDeleters.h"

#include <algorithm>
#include <cmath>
#include <utility>

extern "C" {
#include <libavutil/pixdesc.h>
}

namespace velmora {

namespace {

// The picture formats a cover may come in.
constexpr std::pair<AVCodecID, const char*> kPictureTypes[] = {
    {AV_CODEC_ID_MJPEG, "image/jpeg"}, {AV_CODEC_ID_PNG, "image/png"},   {AV_CODEC_ID_BMP, "image/bmp"},
    {AV_CODEC_ID_GIF, "image/gif"},    {AV_CODEC_ID_WEBP, "image/webp"}, {AV_CODEC_ID_TIFF, "image/tiff"},
};

AVCodecID CodecOfMime(const std::string& mime)
{
    for (const auto& [codec, type] : kPictureTypes) {
        if (mime == type)
            return codec;
    }
    return AV_CODEC_ID_NONE;
}

ScopedFrame DecodePicture(const std::vector<std::uint8_t>& bytes, AVCodecID id)
{
    const AVCodec* decoder = avcodec_find_decoder(id);
    if (decoder == nullptr || bytes.size() > static_cast<std::size_t>(INT32_MAX - AV_INPUT_BUFFER_PADDING_SIZE))
        return nullptr;
    ScopedCodecContext context(avcodec_alloc_context3(decoder));
    ScopedPacket packet(av_packet_alloc());
    ScopedFrame frame(av_frame_alloc());
    if (!context || !packet || !frame)
        return nullptr;
    context->max_pixels = kMaxCoverPixels;
    if (avcodec_open2(context.get(), decoder, nullptr) < 0 ||
        av_new_packet(packet.get(), static_cast<int>(bytes.size())) < 0)
        return nullptr;
    std::copy(bytes.begin(), bytes.end(), packet->data);
    packet->flags |= AV_PKT_FLAG_KEY;
    if (avcodec_send_packet(context.get(), packet.get()) < 0)
        return nullptr;
    avcodec_send_packet(context.get(), nullptr);
    if (avcodec_receive_frame(context.get(), frame.get()) < 0 || frame->width <= 0 || frame->height <= 0)
        return nullptr;
    return frame;
}

// The picture scaled to fit side × side and written as a JPEG at quantiser q (2 fine
// .. 31 coarse); empty on failure.
std::vector<std::uint8_t> EncodeJpeg(const AVFrame* picture, int side, int q)
{
    const double scale = std::min(1.0, static_cast<double>(side) / std::max(picture->width, picture->height));
    const int width = std::max(1, static_cast<int>(std::lround(picture->width * scale)));
    const int height = std::max(1, static_cast<int>(std::lround(picture->height * scale)));

    const AVCodec* encoder = avcodec_find_encoder(AV_CODEC_ID_MJPEG);
    if (encoder == nullptr)
        return {};
    ScopedCodecContext context(avcodec_alloc_context3(encoder));
    ScopedFrame frame(av_frame_alloc());
    ScopedPacket packet(av_packet_alloc());
    if (!context || !frame || !packet)
        return {};
    context->width = width;
    context->height = height;
    context->pix_fmt = AV_PIX_FMT_YUVJ420P;
    context->time_base = AVRational{1, 25};
    context->flags |= AV_CODEC_FLAG_QSCALE;
    context->global_quality = FF_QP2LAMBDA * q;
    if (avcodec_open2(context.get(), encoder, nullptr) < 0)
        return {};

    frame->format = context->pix_fmt;
    frame->width = width;
    frame->height = height;
    if (av_frame_get_buffer(frame.get(), 0) < 0)
        return {};
    ScopedSwsContext scaler(sws_getContext(picture->width, picture->height, static_cast<AVPixelFormat>(picture->format),
                                           width, height, context->pix_fmt, SWS_BICUBIC, nullptr, nullptr, nullptr));
    if (!scaler)
        return {};
    sws_scale(scaler.get(), picture->data, picture->linesize, 0, picture->height, frame->data, frame->linesize);
    frame->quality = context->global_quality;
    frame->pts = 0;
    if (avcodec_send_frame(context.get(), frame.get()) < 0 || avcodec_send_frame(context.get(), nullptr) < 0 ||
        avcodec_receive_packet(context.get(), packet.get()) < 0)
        return {};
    return std::vector<std::uint8_t>(packet->data, packet->data + packet->size);
}

} // namespace

std::string CoverMimeOfCodec(int codecId)
{
    for (const auto& [codec, type] : kPictureTypes) {
        if (codec == codecId)
            return type;
    }
    return std::string();
}

bool FitCoverPicture(std::vector<std::uint8_t>& bytes, std::string& mime, std::size_t maxBytes, int maxSide)
{
    if ((mime == "image/jpeg" || mime == "image/png") && !bytes.empty() && bytes.size() <= maxBytes)
        return true;
    QuietFFmpegLog();
    const ScopedFrame picture = DecodePicture(bytes, CodecOfMime(mime));
    if (!picture)
        return false;
    // Each step down costs detail; the first that fits wins.
    for (int side = std::max(16, maxSide); side >= 16; side = side * 2 / 3) {
        for (int q : {3, 6, 12, 24}) {
            std::vector<std::uint8_t> jpeg = EncodeJpeg(picture.get(), side, q);
            if (jpeg.empty())
                return false;
            if (jpeg.size() <= maxBytes) {
                bytes = std::move(jpeg);
                mime = "image/jpeg";
                return true;
            }
        }
    }
    return false;
}

CoverPictureSize MeasureCoverPicture(const std::vector<std::uint8_t>& bytes, const std::string& mime)
{
    QuietFFmpegLog();
    CoverPictureSize size;
    const ScopedFrame picture = DecodePicture(bytes, CodecOfMime(mime));
    if (!picture)
        return size;
    size.width = picture->width;
    size.height = picture->height;
    if (const AVPixFmtDescriptor* format = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(picture->format)))
        size.depth = format->nb_components * format->comp[0].depth;
    return size;
}

} // namespace velmora
