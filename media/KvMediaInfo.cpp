#include "media/KvMediaInfo.h"

#include <algorithm>
#include <cmath>

#include "common/KvNumeric.h"
#include "common/KvText.h"
#include "media/KvFFMpegStream.h"

extern "C" {
#include <libavutil/mathematics.h>
}

namespace velmora {

namespace {

bool HasDecoder(const AVStream* stream)
{
    return avcodec_find_decoder(stream->codecpar->codec_id) != nullptr;
}

bool IsCoverPicture(const AVStream* stream)
{
    return (stream->disposition & AV_DISPOSITION_ATTACHED_PIC) != 0;
}

// Reads every packet of the audio and video streams and returns the span from
// the container's start to the end of the last packet, in seconds.
double MeasureByPackets(AVFormatContext* format)
{
    const int64_t start = format->start_time != AV_NOPTS_VALUE ? format->start_time : 0;
    if (avformat_seek_file(format, -1, INT64_MIN, start, INT64_MAX, 0) < 0 && format->pb != nullptr)
        avio_seek(format->pb, 0, SEEK_SET);
    for (unsigned i = 0; i < format->nb_streams; ++i) {
        const AVStream* stream = format->streams[i];
        const AVMediaType type = stream->codecpar->codec_type;
        const bool wanted = (type == AVMEDIA_TYPE_AUDIO || type == AVMEDIA_TYPE_VIDEO) && !IsCoverPicture(stream);
        format->streams[i]->discard = wanted ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
    }
    ScopedPacket packet(av_packet_alloc());
    if (!packet)
        return 0.0;
    int64_t endMicros = AV_NOPTS_VALUE;
    while (av_read_frame(format, packet.get()) >= 0) {
        const AVStream* stream = format->streams[packet->stream_index];
        int64_t stamp = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
        if (stamp != AV_NOPTS_VALUE && stream->discard != AVDISCARD_ALL) {
            const int64_t end = stamp + std::max<int64_t>(packet->duration, 0);
            const int64_t micros = av_rescale_q(end, stream->time_base, AV_TIME_BASE_Q);
            if (endMicros == AV_NOPTS_VALUE || micros > endMicros)
                endMicros = micros;
        }
        av_packet_unref(packet.get());
    }
    if (endMicros == AV_NOPTS_VALUE)
        return 0.0;
    return std::max(0.0, static_cast<double>(endMicros - start) / AV_TIME_BASE);
}

} // namespace

bool GetMediaInfo(const std::string& path, MediaInfo& info)
{
    info = MediaInfo{};
    QuietFFmpegLog();

    ScopedFormatContext format;
    if (!OpenMediaInput(path, format))
        return false;

    for (unsigned i = 0; i < format->nb_streams; ++i) {
        const AVStream* stream = format->streams[i];
        const AVMediaType type = stream->codecpar->codec_type;
        if (type == AVMEDIA_TYPE_AUDIO && !info.nHasAudio && HasDecoder(stream)) {
            info.nHasAudio = 1;
        } else if (type == AVMEDIA_TYPE_VIDEO && !info.nHasVideo && !IsCoverPicture(stream) &&
                   HasDecoder(stream)) {
            info.nHasVideo = 1;
            info.nWidth = stream->codecpar->width;
            info.nHeight = stream->codecpar->height;
        }
    }

    double duration = format->duration != AV_NOPTS_VALUE && format->duration > 0
                          ? static_cast<double>(format->duration) / AV_TIME_BASE
                          : 0.0;
    // A length guessed from the bit rate is wrong for variable-rate sources and
    // would cut the end of a rip; count it out instead.
    if (duration <= 0.0 || format->duration_estimation_method == AVFMT_DURATION_FROM_BITRATE) {
        const double measured = MeasureByPackets(format.get());
        if (measured > 0.0)
            duration = measured;
    }
    info.dDuration = duration;
    info.llDuration100ns = SaturateToInt64(std::round(duration * 10000000.0));
    return true;
}

} // namespace velmora

int kvplaydll_GetMediaInfoEx(const wchar_t* path, int* hasVideo, int* hasAudio, int* width,
                             int* height, double* duration, int64_t* further)
{
    velmora::MediaInfo info;
    const bool ok = path != nullptr && velmora::GetMediaInfo(velmora::WideToUtf8(path), info);
    if (hasVideo)
        *hasVideo = info.nHasVideo;
    if (hasAudio)
        *hasAudio = info.nHasAudio;
    if (width)
        *width = info.nWidth;
    if (height)
        *height = info.nHeight;
    if (duration)
        *duration = info.dDuration;
    if (further)
        *further = info.llDuration100ns;
    return ok ? 1 : 0;
}
