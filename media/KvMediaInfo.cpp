#include "media/KvMediaInfo.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cmath>
#include <string_view>

#include "common/KvNumeric.h"
#include "common/KvText.h"
#include "media/KvDecodedLength.h"
#include "media/KvFFMpegStream.h"
#include "media/KvMediaTags.h"

extern "C" {
#include <libavutil/dict.h>
#include <libavutil/intreadwrite.h>
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

// The name a player's track menu would show, not FFmpeg's identifier.
std::string CodecDisplayName(AVCodecID id)
{
    switch (id) {
    case AV_CODEC_ID_AC3: return "AC-3";
    case AV_CODEC_ID_EAC3: return "E-AC-3";
    case AV_CODEC_ID_AAC:
    case AV_CODEC_ID_AAC_LATM: return "AAC";
    case AV_CODEC_ID_MP3: return "MP3";
    case AV_CODEC_ID_MP2: return "MP2";
    case AV_CODEC_ID_OPUS: return "Opus";
    case AV_CODEC_ID_VORBIS: return "Vorbis";
    case AV_CODEC_ID_FLAC: return "FLAC";
    case AV_CODEC_ID_ALAC: return "ALAC";
    case AV_CODEC_ID_DTS: return "DTS";
    case AV_CODEC_ID_TRUEHD: return "TrueHD";
    case AV_CODEC_ID_WMAV1:
    case AV_CODEC_ID_WMAV2: return "WMA";
    case AV_CODEC_ID_WMAPRO: return "WMA Pro";
    case AV_CODEC_ID_AMR_NB:
    case AV_CODEC_ID_AMR_WB: return "AMR";
    default: break;
    }
    const AVCodecDescriptor* descriptor = avcodec_descriptor_get(id);
    if (descriptor != nullptr && std::string_view(descriptor->name).rfind("pcm_", 0) == 0)
        return "PCM";
    std::string name = avcodec_get_name(id);
    for (char& c : name)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return name;
}

std::string StreamTag(const AVStream* stream, const char* key)
{
    const AVDictionaryEntry* entry = av_dict_get(stream->metadata, key, nullptr, 0);
    return entry != nullptr && entry->value != nullptr ? entry->value : std::string();
}

AudioTrackInfo DescribeAudioTrack(const AVStream* stream)
{
    AudioTrackInfo track;
    track.nStreamIndex = stream->index;
    track.language = StreamTag(stream, "language");
    if (track.language == "und")
        track.language.clear();
    track.codec = CodecDisplayName(stream->codecpar->codec_id);
    track.nChannels = stream->codecpar->ch_layout.nb_channels;
    track.title = StreamTag(stream, "title");
    return track;
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

double MeasureSoundLength(const std::string& path, int audioStream, const std::atomic<bool>* cancel)
{
    QuietFFmpegLog();
    ScopedFormatContext format;
    if (!OpenMediaInput(path, format))
        return 0.0;
    const int index = FindAudioStream(format.get(), audioStream);
    if (index < 0)
        return 0.0;
    DiscardOtherStreams(format.get(), index);
    const AVStream* stream = format->streams[index];
    ScopedPacket packet(av_packet_alloc());
    if (!packet)
        return 0.0;
    int64_t first = AV_NOPTS_VALUE;
    int64_t end = AV_NOPTS_VALUE;
    int64_t packets = 0;
    int64_t trimmed = 0; // samples the container tells the decoder to drop (priming, padding)
    int tryAgain = 0;
    for (;;) {
        if (cancel != nullptr && cancel->load(std::memory_order_relaxed))
            return 0.0;
        const int ret = av_read_frame(format.get(), packet.get());
        if (ret == AVERROR(EAGAIN) && ++tryAgain < kMaxTryAgain)
            continue;
        if (ret < 0)
            break;
        if (packet->stream_index == index && packet->size > 0) {
            ++packets;
            const int64_t stamp = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
            size_t size = 0;
            if (const uint8_t* skip = av_packet_get_side_data(packet.get(), AV_PKT_DATA_SKIP_SAMPLES, &size);
                skip != nullptr && size >= 8)
                trimmed += static_cast<int64_t>(AV_RL32(skip)) + static_cast<int64_t>(AV_RL32(skip + 4));
            if (stamp != AV_NOPTS_VALUE) {
                first = first == AV_NOPTS_VALUE ? stamp : std::min(first, stamp);
                int64_t last = 0;
                if (__builtin_add_overflow(stamp, std::max<int64_t>(packet->duration, 0), &last))
                    last = stamp; // a crafted stamp: its length cannot be counted
                end = end == AV_NOPTS_VALUE ? last : std::max(end, last);
            }
        }
        av_packet_unref(packet.get());
    }
    if (end == AV_NOPTS_VALUE) {
        // No packet says when it plays (a raw stream, Shorten): count what decodes.
        DecodedLength decoded;
        if (packets == 0 || !MeasureDecodedLength(path, decoded, index))
            return 0.0;
        return decoded.Seconds();
    }
    // What the decoder drops (an encoder's priming and padding) is not played.
    double seconds = (static_cast<double>(end) - static_cast<double>(first)) * av_q2d(stream->time_base);
    if (stream->codecpar->sample_rate > 0)
        seconds -= static_cast<double>(trimmed) / stream->codecpar->sample_rate;
    return std::isfinite(seconds) && seconds > 0.0 ? seconds : 0.0;
}

std::string AudioTrackLabel(const AudioTrackInfo& track)
{
    std::string label = std::to_string(track.nStreamIndex) + ": ";
    if (!track.language.empty())
        label += track.language + ", ";
    label += track.codec;
    switch (track.nChannels) {
    case 0: break;
    case 1: label += " mono"; break;
    case 2: label += " stereo"; break;
    case 6: label += " 5.1"; break;
    case 8: label += " 7.1"; break;
    default: label += " " + std::to_string(track.nChannels) + " ch"; break;
    }
    if (!track.title.empty()) {
        // A name is a hint, not a description: a list cell has no room for an essay.
        constexpr size_t kMaxTitleBytes = 40;
        std::string title = track.title.substr(0, kMaxTitleBytes);
        while (title.size() < track.title.size() && !title.empty() &&
               (static_cast<unsigned char>(track.title[title.size()]) & 0xC0) == 0x80)
            title.pop_back(); // never cut a character in two
        if (title.size() < track.title.size())
            title += "...";
        label += " (" + title + ")";
    }
    return label;
}

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
        if (type == AVMEDIA_TYPE_AUDIO && HasDecoder(stream)) {
            info.nHasAudio = 1;
            info.audioTracks.push_back(DescribeAudioTrack(stream));
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
    // would cut the end of a rip; count it out instead. Sound alone is measured by
    // the caller (MeasureSoundLength), where it costs the user no wait.
    if (info.nHasVideo && (duration <= 0.0 || format->duration_estimation_method == AVFMT_DURATION_FROM_BITRATE)) {
        const double measured = MeasureByPackets(format.get());
        if (measured > 0.0)
            duration = measured;
    }
    info.dDuration = duration;
    info.llDuration100ns = SaturateToInt64(std::round(duration * 10000000.0));
    info.nChapters = static_cast<int>(std::min<unsigned>(format->nb_chapters, INT_MAX));
    info.bCueSheet = av_dict_get(format->metadata, "cuesheet", nullptr, 0) != nullptr;
    info.album = ReadAlbumTag(format.get());
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
