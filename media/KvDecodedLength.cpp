#include "media/KvDecodedLength.h"

#include "media/KvFFMpegStream.h"

extern "C" {
#include <libavformat/avformat.h>
}

namespace velmora {

namespace {

// Decodes the sound track audioStream of an opened file to its end.
bool MeasureOpened(ScopedFormatContext& format, DecodedLength& out, int audioStream)
{
    const int index = FindAudioStream(format.get(), audioStream);
    if (index < 0) {
        out.error = "has no sound track";
        return false;
    }
    DiscardOtherStreams(format.get(), index);
    ScopedCodecContext codec;
    if (!OpenStreamDecoder(format->streams[index], codec)) {
        out.error = std::string("has no decoder for ") + avcodec_get_name(format->streams[index]->codecpar->codec_id);
        return false;
    }
    ScopedPacket packet(av_packet_alloc());
    ScopedFrame frame(av_frame_alloc());
    if (!packet || !frame) {
        out.error = "cannot be read: out of memory";
        return false;
    }

    const auto receive = [&] {
        int got = 0;
        while ((got = avcodec_receive_frame(codec.get(), frame.get())) >= 0) {
            out.nFrames += frame->nb_samples;
            if (frame->sample_rate > 0)
                out.nSampleRate = frame->sample_rate;
            av_frame_unref(frame.get());
        }
        if (got != AVERROR(EAGAIN) && got != AVERROR_EOF) {
            ++out.nBadPackets;
            out.error = FFmpegErrorText(got);
        }
    };
    int tryAgain = 0;
    for (;;) {
        const int ret = av_read_frame(format.get(), packet.get());
        if (ret == AVERROR(EAGAIN) && ++tryAgain < kMaxTryAgain)
            continue;
        if (ret < 0)
            break;
        if (packet->stream_index == index) {
            const int sent = avcodec_send_packet(codec.get(), packet.get());
            if (sent < 0 && sent != AVERROR(EAGAIN)) {
                ++out.nBadPackets;
                out.error = FFmpegErrorText(sent);
            }
            receive();
        }
        av_packet_unref(packet.get());
    }
    avcodec_send_packet(codec.get(), nullptr);
    receive();
    if (out.nSampleRate <= 0)
        out.nSampleRate = codec->sample_rate;
    return true;
}

// Opens input (a path or an I/O context) and measures its sound track audioStream.
template <typename Input>
bool MeasureInput(const Input& input, DecodedLength& out, int audioStream)
{
    out = DecodedLength{};
    QuietFFmpegLog();
    ScopedFormatContext format;
    if (!OpenMediaInput(input, format)) {
        out.error = "cannot be opened as media";
        return false;
    }
    return MeasureOpened(format, out, audioStream);
}

} // namespace

bool MeasureDecodedLength(const std::string& path, DecodedLength& out, int audioStream)
{
    return MeasureInput(path, out, audioStream);
}

bool MeasureDecodedLength(AVIOContext* io, DecodedLength& out)
{
    return MeasureInput(io, out, -1);
}

} // namespace velmora
