#include "media/KvFFMpegStream.h"

namespace velmora {

bool OpenMediaInput(const std::string& path, ScopedFormatContext& format)
{
    format.reset();
    AVFormatContext* raw = nullptr;
    if (avformat_open_input(&raw, path.c_str(), nullptr, nullptr) < 0)
        return false;
    format.reset(raw);
    if (avformat_find_stream_info(format.get(), nullptr) < 0) {
        format.reset();
        return false;
    }
    return true;
}

void DiscardOtherStreams(AVFormatContext* format, int keep)
{
    for (unsigned i = 0; i < format->nb_streams; ++i) {
        if (static_cast<int>(i) != keep)
            format->streams[i]->discard = AVDISCARD_ALL;
    }
}

bool OpenStreamDecoder(const AVStream* stream, ScopedCodecContext& codec, int threads)
{
    codec.reset();
    const AVCodec* decoder = avcodec_find_decoder(stream->codecpar->codec_id);
    if (decoder == nullptr)
        return false;
    codec.reset(avcodec_alloc_context3(decoder));
    if (!codec || avcodec_parameters_to_context(codec.get(), stream->codecpar) < 0) {
        codec.reset();
        return false;
    }
    // Lets the decoder move the time stamps of frames it trims (encoder delay).
    codec->pkt_timebase = stream->time_base;
    if (threads > 0)
        codec->thread_count = threads;
    if (avcodec_open2(codec.get(), decoder, nullptr) < 0) {
        codec.reset();
        return false;
    }
    return true;
}

} // namespace velmora
