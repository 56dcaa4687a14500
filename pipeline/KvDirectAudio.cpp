#include "pipeline/KvDirectAudio.h"

#include "media/KvFFMpegStream.h"

#include <algorithm>
#include <cmath>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/error.h>
#include <libswresample/swresample.h>
}

namespace velmora {

bool CKvDirectAudio::Open(const std::string& path, int stream, double start, double end, std::string& why,
                          KvJobFailure& failure)
{
    m_stream = OpenAudioTrack(path, stream, m_input, why, failure);
    if (m_stream < 0)
        return false;
    const AVStream* track = m_input->streams[m_stream];
    if (!OpenStreamDecoder(track, m_decoder)) {
        why = "the sound track of " + path + " cannot be decoded";
        failure = KvJobFailure::NotDecodable;
        return false;
    }
    failure = KvJobFailure::SourceUnreadable;
    AVCodecContext* decoder = m_decoder.get();
    if (decoder->sample_rate <= 0 || decoder->ch_layout.nb_channels <= 0 || decoder->ch_layout.nb_channels > 8) {
        why = "the sound track of " + path + " has no usable sample rate or channels";
        failure = KvJobFailure::NotDecodable;
        return false;
    }
    const AVSampleFormat packed = av_get_packed_sample_fmt(decoder->sample_fmt);
    const AVCodecDescriptor* descriptor = avcodec_descriptor_get(decoder->codec_id);
    const bool lossless = descriptor != nullptr && (descriptor->props & AV_CODEC_PROP_LOSSLESS) != 0;
    const int bits = decoder->bits_per_raw_sample > 0 ? decoder->bits_per_raw_sample : av_get_bytes_per_sample(packed) * 8;
    const bool deep = lossless && bits > 16 && packed != AV_SAMPLE_FMT_FLT && packed != AV_SAMPLE_FMT_DBL;
    m_decodedFormat = decoder->sample_fmt;
    m_format.rate = decoder->sample_rate;
    m_format.channels = decoder->ch_layout.nb_channels;
    m_format.sampleFormat = deep ? AV_SAMPLE_FMT_S32 : AV_SAMPLE_FMT_S16;
    m_format.bits = deep ? std::min(bits, 24) : 16;

    AVChannelLayout layout;
    av_channel_layout_default(&layout, m_format.channels);
    SwrContext* convert = nullptr;
    int ret = swr_alloc_set_opts2(&convert, &layout, static_cast<AVSampleFormat>(m_format.sampleFormat), m_format.rate,
                                  &layout, decoder->sample_fmt, decoder->sample_rate, 0, nullptr);
    av_channel_layout_uninit(&layout);
    m_convert.reset(convert);
    if (ret < 0 || (ret = swr_init(convert)) < 0) {
        why = "the sound of " + path + " cannot be converted: " + FFmpegErrorText(ret);
        failure = KvJobFailure::Internal;
        return false;
    }

    m_first = std::llround(std::max(start, 0.0) * m_format.rate);
    m_last = end > start ? std::llround(end * m_format.rate) : -1;
    m_given = 0;
    if (m_first > 0) {
        // A second early, to land on a frame before Start whatever the demuxer's index.
        const std::int64_t target = av_rescale_q(std::max<std::int64_t>(m_first - m_format.rate, 0),
                                                 AVRational{1, m_format.rate}, track->time_base)
            + (track->start_time != AV_NOPTS_VALUE ? track->start_time : 0);
        if (av_seek_frame(m_input.get(), m_stream, target, AVSEEK_FLAG_BACKWARD) >= 0)
            avcodec_flush_buffers(decoder);
    }
    failure = KvJobFailure::None;
    return true;
}

int CKvDirectAudio::CodecId() const
{
    return m_stream >= 0 ? m_input->streams[m_stream]->codecpar->codec_id : AV_CODEC_ID_NONE;
}

const AVCodecParameters* CKvDirectAudio::Parameters() const
{
    return m_stream >= 0 ? m_input->streams[m_stream]->codecpar : nullptr;
}

int CKvDirectAudio::Run(const Sink& sink, const std::atomic<bool>& stop, const std::function<void(double)>& progress,
                        std::string& why)
{
    const AVStream* track = m_input->streams[m_stream];
    const std::int64_t zero = track->start_time != AV_NOPTS_VALUE ? track->start_time : 0;
    const int bytesPerFrame = av_get_bytes_per_sample(static_cast<AVSampleFormat>(m_format.sampleFormat)) * m_format.channels;
    ScopedPacket packet(av_packet_alloc());
    ScopedFrame frame(av_frame_alloc());
    std::vector<std::uint8_t> buffer;
    std::int64_t next = -1; // the sample after the last one decoded
    bool done = false;
    int tryAgain = 0;

    // Hands on the part of a decoded frame that lies within Start and End.
    const auto deliver = [&]() -> int {
        std::int64_t position = next;
        if (frame->best_effort_timestamp != AV_NOPTS_VALUE)
            position = av_rescale_q(frame->best_effort_timestamp - zero, track->time_base, AVRational{1, m_format.rate});
        if (position < 0 && next < 0)
            position = 0;
        else if (position < 0 || (next >= 0 && std::llabs(position - next) <= 1))
            position = next; // a rounding step between frames is not a gap
        // The converter is set up for the sound the track starts with; a frame of another
        // format, rate or channel count (a stream that changes midway) cannot go through it.
        if (frame->format != m_decodedFormat || frame->sample_rate != m_format.rate
            || frame->ch_layout.nb_channels != m_format.channels) {
            why = "the sound track changes its sample format, rate or channels midway";
            return AVERROR_INVALIDDATA;
        }
        const int samples = frame->nb_samples;
        next = position + samples;
        buffer.resize(static_cast<std::size_t>(samples) * bytesPerFrame);
        std::uint8_t* out[1] = {buffer.data()};
        const int converted = swr_convert(m_convert.get(), out, samples, const_cast<const std::uint8_t**>(frame->extended_data), samples);
        if (converted < 0) {
            why = "the sound cannot be converted: " + FFmpegErrorText(converted);
            return converted;
        }
        const std::int64_t from = std::max<std::int64_t>(m_first - position, 0);
        std::int64_t to = converted;
        if (m_last >= 0)
            to = std::min<std::int64_t>(to, m_last - position);
        if (m_last >= 0 && next >= m_last)
            done = true;
        if (to <= from)
            return 0;
        const int ret = sink(buffer.data() + from * bytesPerFrame, static_cast<int>(to - from));
        if (ret < 0)
            return ret;
        m_given += to - from;
        if (progress)
            progress(static_cast<double>(m_given) / m_format.rate);
        return 0;
    };
    const auto drain = [&]() -> int {
        for (;;) {
            const int ret = avcodec_receive_frame(m_decoder.get(), frame.get());
            if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF)
                return 0;
            if (ret < 0)
                return 0; // a damaged frame is left out, as players do
            const int given = deliver();
            av_frame_unref(frame.get());
            if (given < 0 || done)
                return given;
        }
    };

    while (!done) {
        if (stop.load())
            return AVERROR_EXIT;
        int ret = av_read_frame(m_input.get(), packet.get());
        if (ret == AVERROR(EAGAIN) && ++tryAgain < kMaxTryAgain)
            continue;
        tryAgain = 0;
        if (ret < 0)
            break; // the end, or as far as the file can be read
        if (packet->stream_index == m_stream)
            avcodec_send_packet(m_decoder.get(), packet.get());
        av_packet_unref(packet.get());
        if ((ret = drain()) < 0)
            return ret;
    }
    if (!done) {
        avcodec_send_packet(m_decoder.get(), nullptr);
        if (const int ret = drain(); ret < 0)
            return ret;
    }
    return 0;
}

} // namespace velmora
