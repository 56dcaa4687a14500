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

int FindAudioStream(const AVFormatContext* format, int wanted)
{
    const auto isAudio = [format](unsigned i) {
        return format->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO;
    };
    if (wanted >= 0)
        return static_cast<unsigned>(wanted) < format->nb_streams && isAudio(static_cast<unsigned>(wanted)) ? wanted : -1;
    for (unsigned i = 0; i < format->nb_streams; ++i) {
        if (isAudio(i))
            return static_cast<int>(i);
    }
    return -1;
}

bool OpenMediaInput(AVIOContext* io, ScopedFormatContext& format)
{
    format.reset(avformat_alloc_context());
    if (!format || io == nullptr) {
        format.reset();
        return false;
    }
    format->pb = io;
    format->flags |= AVFMT_FLAG_CUSTOM_IO;
    AVFormatContext* raw = format.release();
    // On failure avformat_open_input frees the context (not io).
    if (avformat_open_input(&raw, nullptr, nullptr, nullptr) < 0)
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

int OpenAudioTrack(const std::string& path, int wanted, ScopedFormatContext& format, std::string& why,
                   KvJobFailure& failure)
{
    failure = KvJobFailure::None;
    if (!OpenMediaInput(path, format)) {
        why = "the source " + path + " cannot be opened";
        failure = KvJobFailure::SourceUnreadable;
        return -1;
    }
    const int stream = FindAudioStream(format.get(), wanted);
    if (stream < 0) {
        why = "the source " + path + " has no such sound track";
        failure = KvJobFailure::NotDecodable;
        return -1;
    }
    DiscardOtherStreams(format.get(), stream);
    return stream;
}

} // namespace velmora
