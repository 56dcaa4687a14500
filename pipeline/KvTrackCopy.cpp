#include "pipeline/KvTrackCopy.h"

#include "media/KvDecodedLength.h"
#include "media/KvFFMpegStream.h"
#include "media/KvMediaInfo.h"
#include "media/KvTagWriter.h"
#include "pipeline/AudioEncoderChain.h"
#include "pipeline/KvPartialOutputFile.h"

#include <cmath>
#include <deque>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/intreadwrite.h>
#include <libavutil/opt.h>
}

namespace velmora {

namespace {

KvTagContainer TagContainerOf(const std::string& extension)
{
    if (extension == ".mp3")
        return KvTagContainer::Mp3;
    if (extension == ".m4a")
        return KvTagContainer::Mp4;
    if (extension == ".flac")
        return KvTagContainer::Flac;
    if (extension == ".ogg")
        return KvTagContainer::OggVorbis;
    if (extension == ".opus")
        return KvTagContainer::OggOpus;
    if (extension == ".wav")
        return KvTagContainer::Wav;
    if (extension == ".wma")
        return KvTagContainer::Asf;
    return KvTagContainer::None;
}

// Times and durations, in a track's time base, beyond which a packet's are taken as
// damage (2^52 ticks: over 3000 years at the finest usual time base, 1/44100).
constexpr std::int64_t kSaneTicks = std::int64_t(1) << 52;

// How a container trims a track cut at packets to the sample.
enum class TrimStyle
{
    Packets,        // it cannot: the copy starts and ends at whole packets
    EditList,       // MP4: times before 0 are cut by an edit list; the last packet's duration ends it
    OpusPreSkip,    // Ogg Opus: the header's pre-skip; the last page's granule position
    OggGranule,     // Ogg Vorbis: the granule positions at both ends
    LameHeader,     // MP3: the LAME header's delay and padding
    DiscardPadding, // Matroska: the last block's discard padding; no trimming at the start
};

TrimStyle TrimStyleOf(const std::string& muxer, int codecId)
{
    if (muxer == "ipod" || muxer == "mp4" || muxer == "mov")
        return TrimStyle::EditList;
    if ((muxer == "opus" || muxer == "ogg") && codecId == AV_CODEC_ID_OPUS)
        return TrimStyle::OpusPreSkip;
    if (muxer == "ogg")
        return TrimStyle::OggGranule;
    if (muxer == "mp3")
        return TrimStyle::LameHeader;
    if (muxer == "matroska")
        return TrimStyle::DiscardPadding;
    return TrimStyle::Packets;
}

bool TrimsStart(TrimStyle style)
{
    return style == TrimStyle::EditList || style == TrimStyle::OpusPreSkip || style == TrimStyle::OggGranule
        || style == TrimStyle::LameHeader;
}

// What a decoder needs before Start to give a sound at Start that is whole: one packet
// for the overlap of its transform, four times the codec's own pre-roll (Opus asks
// for 80 ms; after 320 ms its decoder gives the very samples of a decode from the
// beginning, where 80 ms still differ by a little), and for MP3 enough bytes for the
// bit reservoir a frame may draw on (511).
struct PreRoll
{
    int packets = 1;
    std::int64_t duration = 0; // in the track's time base
    int bytes = 0;
};

PreRoll PreRollOf(const AVStream& track)
{
    PreRoll need;
    const AVCodecParameters& par = *track.codecpar;
    // A damaged header's pre-roll counts for a second at most.
    if (par.seek_preroll > 0 && par.sample_rate > 0)
        need.duration = av_rescale_q(std::min<std::int64_t>(std::int64_t(4) * par.seek_preroll, par.sample_rate),
                                     AVRational{1, par.sample_rate}, track.time_base);
    if (par.codec_id == AV_CODEC_ID_MP3)
        need.bytes = 511;
    return need;
}

// The samples a packet tells the decoder to drop at its start.
std::int64_t SkipAtStart(const AVPacket& packet)
{
    size_t size = 0;
    const std::uint8_t* data = av_packet_get_side_data(&packet, AV_PKT_DATA_SKIP_SAMPLES, &size);
    return data != nullptr && size >= 10 ? AV_RL32(data) : 0;
}

// Sets a packet's samples to drop at its start and its end (AV_PKT_DATA_SKIP_SAMPLES).
bool SetSkipSamples(AVPacket& packet, std::int64_t start, std::int64_t end)
{
    size_t size = 0;
    std::uint8_t* data = av_packet_get_side_data(&packet, AV_PKT_DATA_SKIP_SAMPLES, &size);
    if (data == nullptr || size < 10)
        data = av_packet_new_side_data(&packet, AV_PKT_DATA_SKIP_SAMPLES, 10);
    if (data == nullptr)
        return false;
    AV_WL32(data, static_cast<std::uint32_t>(std::clamp<std::int64_t>(start, 0, INT32_MAX)));
    AV_WL32(data + 4, static_cast<std::uint32_t>(std::clamp<std::int64_t>(end, 0, INT32_MAX)));
    data[8] = 0;
    data[9] = 0;
    return true;
}

// Whether the first packets of path's sound track give sound: the codec's setup
// travelled with them.
bool FirstPacketsDecode(const std::string& path, std::string& why)
{
    ScopedFormatContext input;
    KvJobFailure ignored = KvJobFailure::None;
    const int stream = OpenAudioTrack(path, -1, input, why, ignored);
    ScopedCodecContext decoder;
    if (stream < 0 || !OpenStreamDecoder(input->streams[stream], decoder, 1)) {
        if (stream >= 0)
            why = "its sound track has no decoder";
        return false;
    }
    ScopedPacket packet(av_packet_alloc());
    ScopedFrame frame(av_frame_alloc());
    int tryAgain = 0;
    for (int packets = 0; packets < 64;) {
        const int read = av_read_frame(input.get(), packet.get());
        if (read == AVERROR(EAGAIN) && ++tryAgain < kMaxTryAgain)
            continue;
        tryAgain = 0;
        if (read < 0)
            break;
        if (packet->stream_index == stream) {
            ++packets;
            avcodec_send_packet(decoder.get(), packet.get());
            while (avcodec_receive_frame(decoder.get(), frame.get()) >= 0) {
                if (frame->nb_samples > 0)
                    return true;
            }
        }
        av_packet_unref(packet.get());
    }
    avcodec_send_packet(decoder.get(), nullptr);
    while (avcodec_receive_frame(decoder.get(), frame.get()) >= 0) {
        if (frame->nb_samples > 0)
            return true;
    }
    why = "its first packets give no sound";
    return false;
}

} // namespace

bool CKvTrackCopy::Open(const std::string& path, int stream, double start, double end, std::string& why,
                        KvJobFailure& failure)
{
    m_stream = OpenAudioTrack(path, stream, m_input, why, failure);
    if (m_stream < 0)
        return false;
    const AVStream* track = m_input->streams[m_stream];
    m_container = OriginalContainerOf(track->codecpar->codec_id);
    const std::int64_t zero
        = track->start_time != AV_NOPTS_VALUE && std::llabs(track->start_time) < kSaneTicks ? track->start_time : 0;
    m_startTs = zero + av_rescale_q(std::llround(std::max(start, 0.0) * 1e6), AVRational{1, 1000000}, track->time_base);
    m_endTs = end > start ? zero + av_rescale_q(std::llround(end * 1e6), AVRational{1, 1000000}, track->time_base) : -1;
    m_trimStart = start > 0.0;
    // Far enough back for the packets a decoder needs before Start.
    m_seekMargin = std::max(av_rescale_q(1, AVRational{1, 1}, track->time_base), 2 * PreRollOf(*track).duration);
    if (m_trimStart && av_seek_frame(m_input.get(), m_stream, m_startTs - m_seekMargin, AVSEEK_FLAG_BACKWARD) < 0)
        av_seek_frame(m_input.get(), m_stream, zero, AVSEEK_FLAG_BACKWARD);
    failure = KvJobFailure::None;
    return true;
}

int CKvTrackCopy::CodecId() const
{
    return m_stream >= 0 ? m_input->streams[m_stream]->codecpar->codec_id : AV_CODEC_ID_NONE;
}

int CKvTrackCopy::Run(const std::string& outputPath, const std::atomic<bool>& stop,
                      const std::function<void(double)>& progress, std::string& why, KvJobFailure& failure)
{
    const AVStream* track = m_input->streams[m_stream];
    const auto fail = [&](int code, const std::string& what) {
        why = what + (code < 0 ? ": " + FFmpegErrorText(code) : std::string());
        failure = FailureOfOutputError(code);
        return code < 0 ? code : AVERROR_UNKNOWN;
    };
    const TrimStyle style = TrimStyleOf(m_container.muxer, track->codecpar->codec_id);
    const int sampleRate = std::max(track->codecpar->sample_rate, 1);
    const auto toSamples = [&](std::int64_t ticks) { return av_rescale_q(ticks, track->time_base, AVRational{1, sampleRate}); };
    // A damaged file may give any time or duration: a time beyond any track counts as
    // none, a duration beyond one as 0, so no sum below can overflow.
    const auto packetTime = [](const AVPacket& packet) {
        const std::int64_t time = packet.pts != AV_NOPTS_VALUE ? packet.pts : packet.dts;
        return time != AV_NOPTS_VALUE && std::llabs(time) < kSaneTicks ? time : AV_NOPTS_VALUE;
    };
    const auto sanitise = [&](AVPacket& packet) {
        if (packet.duration < 0 || packet.duration > kSaneTicks)
            packet.duration = 0;
        // packetTime took the pts where there is one: only the dts can be left insane.
        if (packetTime(packet) == AV_NOPTS_VALUE)
            packet.pts = packet.dts = AV_NOPTS_VALUE;
        else if (packet.dts != AV_NOPTS_VALUE && std::llabs(packet.dts) >= kSaneTicks)
            packet.dts = AV_NOPTS_VALUE;
    };

    // The packets up to the first one that holds sound from Start are read before the
    // header is written: the pre-roll they give decides Opus's pre-skip.
    std::deque<ScopedPacket> pending;
    ScopedPacket packet(av_packet_alloc());
    int tryAgain = 0;
    bool sourceEnded = false;
    const auto readPacket = [&]() {
        for (;;) {
            const int code = av_read_frame(m_input.get(), packet.get());
            if (code == AVERROR(EAGAIN) && ++tryAgain < kMaxTryAgain)
                continue;
            tryAgain = 0;
            if (code < 0)
                return false;
            if (packet->stream_index == m_stream)
                return true;
            av_packet_unref(packet.get());
        }
    };
    const PreRoll need = PreRollOf(*track);
    const bool preRoll = m_trimStart && TrimsStart(style);
    for (;;) {
        if (!readPacket()) {
            sourceEnded = true;
            break;
        }
        ScopedPacket held(av_packet_clone(packet.get()));
        av_packet_unref(packet.get());
        if (!held)
            return fail(AVERROR(ENOMEM), "cannot hold a packet");
        sanitise(*held);
        const std::int64_t time = packetTime(*held);
        const bool beforeStart
            = m_trimStart && time != AV_NOPTS_VALUE && time + std::max<std::int64_t>(held->duration, 1) <= m_startTs;
        if (!beforeStart) {
            pending.push_back(std::move(held));
            break;
        }
        if (!preRoll)
            continue;
        // Keep only the packets the decoder needs before Start.
        pending.push_back(std::move(held));
        const auto enough = [&](size_t from) {
            std::int64_t duration = 0;
            int bytes = 0;
            for (size_t i = from; i < pending.size(); ++i) {
                duration += pending[i]->duration;
                bytes += pending[i]->size;
            }
            return int(pending.size() - from) >= need.packets && duration >= need.duration && bytes >= need.bytes + pending.back()->size;
        };
        while (pending.size() > 1 && enough(1))
            pending.pop_front();
    }

    // The output's 0: Start where the container trims the packets before it, else
    // the first packet copied.
    std::int64_t firstTime = AV_NOPTS_VALUE;
    for (const ScopedPacket& held : pending) {
        if (packetTime(*held) != AV_NOPTS_VALUE) {
            firstTime = packetTime(*held);
            break;
        }
    }
    const std::int64_t offset = !m_trimStart || firstTime == AV_NOPTS_VALUE ? 0
        : preRoll                                                        ? std::max(m_startTs, firstTime)
                                                                         : firstTime;
    // The sound before Start the decoder drops.
    const std::int64_t lead = preRoll && firstTime != AV_NOPTS_VALUE ? offset - firstTime : 0;

    CKvPartialOutputFile file;
    int ret = file.Create(outputPath);
    if (ret < 0) {
        why = file.Error();
        failure = FailureOfOutputError(ret);
        return ret;
    }
    AVFormatContext* allocated = nullptr;
    ret = avformat_alloc_output_context2(&allocated, nullptr, m_container.muxer.c_str(), outputPath.c_str());
    ScopedOutputFormat output(allocated);
    if (ret < 0 || !output)
        return fail(ret, "cannot set up the " + m_container.muxer + " output");
    AVStream* out = avformat_new_stream(output.get(), nullptr);
    if (out == nullptr || (ret = avcodec_parameters_copy(out->codecpar, track->codecpar)) < 0)
        return fail(ret < 0 ? ret : AVERROR(ENOMEM), "cannot describe the output stream");
    out->codecpar->codec_tag = 0;
    out->time_base = track->time_base;
    if (preRoll && style == TrimStyle::OpusPreSkip && out->codecpar->extradata_size >= 19) {
        // Opus's own trimming of the start: the header's pre-skip, in 48 kHz samples.
        const int preSkip = static_cast<int>(std::min<std::int64_t>(
            av_rescale_q(lead, track->time_base, AVRational{1, 48000}), 65535));
        AV_WL16(out->codecpar->extradata + 10, static_cast<unsigned>(preSkip));
        out->codecpar->initial_padding = preSkip;
    } else if (preRoll && style == TrimStyle::EditList) {
        // The edit list follows the packets' times alone.
        out->codecpar->initial_padding = 0;
    }
    const KvTagContainer tagContainer = TagContainerOf(m_container.extension);
    // Containers TagLib does not write carry the source's tags through the muxer.
    if (tagContainer == KvTagContainer::None && m_tags) {
        av_dict_set(&output->metadata, "title", m_tags->title.c_str(), 0);
        av_dict_set(&output->metadata, "artist", m_tags->artist.c_str(), 0);
        av_dict_set(&output->metadata, "album", m_tags->album.c_str(), 0);
    }
    if (m_container.muxer == "mp3")
        av_opt_set_int(output->priv_data, "id3v2_version", 0, 0);
    // Chapters of MP4 and Matroska come from the muxer, the others' from TagLib.
    if ((tagContainer == KvTagContainer::Mp4 || tagContainer == KvTagContainer::None) && m_tags
        && !SetMuxerChapters(output.get(), m_tags->chapters))
        return fail(AVERROR(ENOMEM), "out of memory");
    output->pb = file.Io();
    output->flags |= AVFMT_FLAG_CUSTOM_IO;
    if ((ret = avformat_write_header(output.get(), nullptr)) < 0)
        return fail(ret, "cannot write the file header");

    std::int64_t copiedEnd = 0;
    bool first = true;
    std::int64_t lastPts = AV_NOPTS_VALUE;
    std::int64_t lastDts = AV_NOPTS_VALUE;
    for (;;) {
        if (stop.load()) {
            file.Discard();
            why = "the conversion was stopped";
            failure = KvJobFailure::Stopped;
            return AVERROR_EXIT;
        }
        ScopedPacket next;
        if (!pending.empty()) {
            next = std::move(pending.front());
            pending.pop_front();
        } else if (!sourceEnded && readPacket()) {
            next.reset(av_packet_clone(packet.get()));
            av_packet_unref(packet.get());
            if (!next)
                return fail(AVERROR(ENOMEM), "cannot hold a packet");
            sanitise(*next);
        } else {
            break;
        }
        const std::int64_t time = packetTime(*next);
        if (m_endTs >= 0 && time != AV_NOPTS_VALUE && time >= m_endTs)
            break;
        // The packet that holds End is the last; the sound after End is cut where the
        // container can.
        const bool last = m_endTs >= 0 && time != AV_NOPTS_VALUE && time + next->duration >= m_endTs;
        const std::int64_t beyondEnd = last ? time + next->duration - m_endTs : 0;
        if (style == TrimStyle::LameHeader && (m_trimStart || m_endTs >= 0)) {
            // The LAME header takes its delay from the first packet and its padding from
            // the last; no other packet may tell either.
            const std::int64_t startSkip = !first ? 0 : preRoll ? toSamples(lead) : SkipAtStart(*next);
            const std::int64_t endSkip = last ? toSamples(beyondEnd) : 0;
            if (startSkip > 0 || endSkip > 0)
                SetSkipSamples(*next, startSkip, endSkip);
            else
                av_packet_free_side_data(next.get());
        } else if (last && beyondEnd > 0) {
            if (style == TrimStyle::DiscardPadding)
                SetSkipSamples(*next, 0, toSamples(beyondEnd));
            else if (style != TrimStyle::Packets)
                next->duration -= beyondEnd;
        }
        first = false;
        // A damaged source's times may step back; a muxer may not take that (the ASF
        // writer asserts on it), so no packet is timed before the one before it.
        if (const std::int64_t shown = next->pts != AV_NOPTS_VALUE ? next->pts : next->dts; shown != AV_NOPTS_VALUE) {
            next->pts = lastPts != AV_NOPTS_VALUE && shown < lastPts ? lastPts : shown;
            lastPts = next->pts;
        }
        if (next->dts != AV_NOPTS_VALUE) {
            if (lastDts != AV_NOPTS_VALUE && next->dts < lastDts)
                next->dts = lastDts;
            lastDts = next->dts;
        }
        if (next->pts != AV_NOPTS_VALUE)
            next->pts -= offset;
        if (next->dts != AV_NOPTS_VALUE)
            next->dts -= offset;
        next->stream_index = out->index;
        next->pos = -1;
        if (time != AV_NOPTS_VALUE)
            copiedEnd = time - offset + next->duration;
        ret = av_interleaved_write_frame(output.get(), next.get());
        if (ret < 0)
            return fail(ret, "writing the output failed");
        m_copied = std::max(0.0, static_cast<double>(copiedEnd) * av_q2d(track->time_base));
        if (progress)
            progress(m_copied);
        if (last)
            break;
    }
    if ((ret = av_write_trailer(output.get())) < 0)
        return fail(ret, "writing the end of the file failed");
    output.reset();
    if ((ret = file.Close()) < 0) {
        why = file.Error();
        failure = FailureOfOutputError(ret);
        return ret;
    }
    if (m_copied <= 0.0) {
        why = "the source holds no sound between Start and End";
        failure = KvJobFailure::SourceEndedEarly;
        return AVERROR_INVALIDDATA;
    }
    if (m_check) {
        // The packets are the source's own: the file is read back to its last packet,
        // which must end within a codec frame (a tenth of a second is more than any
        // codec's) of what was copied, and its first packets must decode.
        const double readBack = MeasureSoundLength(file.PartialPath());
        std::string decodeWhy;
        if (!FirstPacketsDecode(file.PartialPath(), decodeWhy)) {
            why = "the written file does not play: " + decodeWhy;
            failure = KvJobFailure::OutputUnplayable;
            return AVERROR_INVALIDDATA;
        }
        if (readBack + 0.1 < m_copied) {
            DecodedLength decoded;
            decoded.nSampleRate = 1000;
            decoded.nFrames = std::llround(readBack * 1000);
            why = JudgeWrittenLength(decoded, std::llround(m_copied * 1000), 1000, 100);
            failure = KvJobFailure::OutputUnplayable;
            return AVERROR_INVALIDDATA;
        }
    }
    if (m_tags)
        WriteOutputTags(file.PartialPath(), tagContainer, *m_tags);
    if ((ret = file.Commit()) < 0) {
        why = file.Error();
        failure = FailureOfOutputError(ret);
        return ret;
    }
    return 0;
}

} // namespace velmora
