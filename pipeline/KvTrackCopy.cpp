#include "pipeline/KvTrackCopy.h"

#include "common/KvLog.h"
#include "media/KvDecodedLength.h"
#include "media/KvFFMpegStream.h"
#include "media/KvTagWriter.h"
#include "pipeline/AudioEncoderChain.h"
#include "pipeline/KvPartialOutputFile.h"

#include <cmath>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
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

} // namespace

bool CKvTrackCopy::Open(const std::string& path, int stream, double start, double end, std::string& why,
                        KvJobFailure& failure)
{
    bool trackMissing = false;
    m_stream = OpenAudioTrack(path, stream, m_input, why, trackMissing);
    if (m_stream < 0) {
        failure = trackMissing ? KvJobFailure::NotDecodable : KvJobFailure::SourceUnreadable;
        return false;
    }
    const AVStream* track = m_input->streams[m_stream];
    m_container = OriginalContainerOf(track->codecpar->codec_id);
    const std::int64_t zero = track->start_time != AV_NOPTS_VALUE ? track->start_time : 0;
    m_startTs = zero + av_rescale_q(std::llround(std::max(start, 0.0) * 1e6), AVRational{1, 1000000}, track->time_base);
    m_endTs = end > start ? zero + av_rescale_q(std::llround(end * 1e6), AVRational{1, 1000000}, track->time_base) : -1;
    m_trimStart = start > 0.0;
    if (m_trimStart && av_seek_frame(m_input.get(), m_stream, m_startTs, AVSEEK_FLAG_BACKWARD) < 0)
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
    const KvTagContainer tagContainer = TagContainerOf(m_container.extension);
    // Containers TagLib does not write carry the source's tags through the muxer.
    if (tagContainer == KvTagContainer::None && m_tags) {
        av_dict_set(&output->metadata, "title", m_tags->title.c_str(), 0);
        av_dict_set(&output->metadata, "artist", m_tags->artist.c_str(), 0);
        av_dict_set(&output->metadata, "album", m_tags->album.c_str(), 0);
    }
    if (m_container.muxer == "mp3")
        av_opt_set_int(output->priv_data, "id3v2_version", 0, 0);
    output->pb = file.Io();
    output->flags |= AVFMT_FLAG_CUSTOM_IO;
    if ((ret = avformat_write_header(output.get(), nullptr)) < 0)
        return fail(ret, "cannot write the file header");

    ScopedPacket packet(av_packet_alloc());
    std::int64_t offset = AV_NOPTS_VALUE; // the first copied packet's time: the output's 0
    std::int64_t copiedEnd = 0;
    int tryAgain = 0;
    for (;;) {
        if (stop.load()) {
            file.Discard();
            why = "the conversion was stopped";
            failure = KvJobFailure::Stopped;
            return AVERROR_EXIT;
        }
        ret = av_read_frame(m_input.get(), packet.get());
        if (ret == AVERROR(EAGAIN) && ++tryAgain < kMaxTryAgain)
            continue;
        tryAgain = 0;
        if (ret < 0)
            break;
        if (packet->stream_index != m_stream) {
            av_packet_unref(packet.get());
            continue;
        }
        const std::int64_t time = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
        // Packets wholly before Start stay behind; the one that holds End is the last.
        if (m_trimStart && time != AV_NOPTS_VALUE && time + std::max<std::int64_t>(packet->duration, 1) <= m_startTs) {
            av_packet_unref(packet.get());
            continue;
        }
        if (m_endTs >= 0 && time != AV_NOPTS_VALUE && time >= m_endTs) {
            av_packet_unref(packet.get());
            break;
        }
        if (offset == AV_NOPTS_VALUE)
            offset = m_trimStart && time != AV_NOPTS_VALUE ? time : 0;
        if (packet->pts != AV_NOPTS_VALUE)
            packet->pts -= offset;
        if (packet->dts != AV_NOPTS_VALUE)
            packet->dts -= offset;
        packet->stream_index = out->index;
        packet->pos = -1;
        if (time != AV_NOPTS_VALUE)
            copiedEnd = time - offset + packet->duration;
        ret = av_interleaved_write_frame(output.get(), packet.get());
        av_packet_unref(packet.get());
        if (ret < 0)
            return fail(ret, "writing the output failed");
        m_copied = std::max(0.0, static_cast<double>(copiedEnd) * av_q2d(track->time_base));
        if (progress)
            progress(m_copied);
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
        // Within a codec frame (a tenth of a second is more than any codec's) of what was copied.
        DecodedLength decoded;
        MeasureDecodedLength(file.PartialPath(), decoded);
        if (decoded.nSampleRate <= 0 || decoded.Seconds() + 0.1 < m_copied) {
            why = JudgeWrittenLength(decoded, std::llround(m_copied * 1000), 1000, 100);
            failure = KvJobFailure::OutputUnplayable;
            return AVERROR_INVALIDDATA;
        }
    }
    if (m_tags && tagContainer != KvTagContainer::None) {
        std::string tagWhy;
        std::string note;
        if (!WriteMediaTags(file.PartialPath(), tagContainer, *m_tags, {}, &tagWhy, &note))
            LogLine("output: the tags could not be written (" + tagWhy + ")");
        else if (!note.empty())
            LogLine("output: " + note);
    }
    if ((ret = file.Commit()) < 0) {
        why = file.Error();
        failure = FailureOfOutputError(ret);
        return ret;
    }
    return 0;
}

} // namespace velmora
