#include "media/KvFFMpegAudioReader.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "common/KvLog.h"
#include "common/KvNumeric.h"
#include "common/KvText.h"
#include "media/KvFFMpegStream.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/mathematics.h>
#include <libavutil/samplefmt.h>
}

namespace {

// Beyond any real recording (DXD is 352.8 kHz, the fastest converters 768 kHz, and
// FFmpeg's own channel layouts stop at 64): a header that claims more is crafted, and
// a resampler built for it would take gigabytes.
constexpr int kMaxSourceRate = 768000;
constexpr int kMaxSourceChannels = 64;

bool IsPlausibleSound(int rate, int channels)
{
    return rate > 0 && rate <= kMaxSourceRate && channels > 0 && channels <= kMaxSourceChannels;
}

} // namespace

CKvFFMpegAudioReader::CKvFFMpegAudioReader()
{
    // Nothing open yet: answers nothing until Open succeeds.
    bFailed = 1;
}

CKvFFMpegAudioReader::CKvFFMpegAudioReader(const std::string& path, int audioStream)
{
    bFailed = Open(path, audioStream) ? 0 : 1;
}

CKvFFMpegAudioReader::CKvFFMpegAudioReader(std::wstring_view path, int audioStream)
    : CKvFFMpegAudioReader(velmora::WideToUtf8(path), audioStream)
{
}

CKvFFMpegAudioReader::~CKvFFMpegAudioReader()
{
    Close();
}

bool CKvFFMpegAudioReader::OpenFile(const std::string& path)
{
    nAudioStream = -1;
    if (!velmora::OpenMediaInput(path, m_format)) {
        Close();
        m_error = "cannot be opened as media";
        m_failure = velmora::KvJobFailure::SourceUnreadable;
        return false;
    }

    nAudioStream = velmora::FindAudioStream(m_format.get(), m_wantedStream);
    if (nAudioStream < 0) {
        // A named track is never swapped for another.
        const int wanted = m_wantedStream;
        Close();
        m_error = wanted >= 0 ? "has no sound track at stream " + std::to_string(wanted) : "has no sound track";
        m_failure = velmora::KvJobFailure::SourceUnreadable;
        return false;
    }
    const AVCodecParameters* params = m_format->streams[nAudioStream]->codecpar;
    if (params->sample_rate > kMaxSourceRate || params->ch_layout.nb_channels > kMaxSourceChannels) {
        const std::string what = std::to_string(params->sample_rate) + " Hz, " +
                                 std::to_string(params->ch_layout.nb_channels) + " channels";
        Close();
        m_error = "has a sound track that cannot be decoded (its header claims " + what + ")";
        m_failure = velmora::KvJobFailure::NotDecodable;
        return false;
    }
    // Nothing but the audio is needed; let the demuxer skip the rest.
    velmora::DiscardOtherStreams(m_format.get(), nAudioStream);
    if (!velmora::OpenStreamDecoder(m_format->streams[nAudioStream], m_codec)) {
        const char* codec = avcodec_get_name(m_format->streams[nAudioStream]->codecpar->codec_id);
        Close();
        m_error = std::string("has a sound track that cannot be decoded (") + codec + ")";
        m_failure = velmora::KvJobFailure::NotDecodable;
        return false;
    }
    m_frame.reset(av_frame_alloc());
    m_packet.reset(av_packet_alloc());
    if (!m_frame || !m_packet) {
        Close();
        m_error = "cannot be read: out of memory";
        m_failure = velmora::KvJobFailure::Internal;
        return false;
    }

    return true;
}

void CKvFFMpegAudioReader::NoteDecodeError(int code)
{
    if (code >= 0 || code == AVERROR(EAGAIN) || code == AVERROR_EOF)
        return;
    m_decodeError = velmora::FFmpegErrorText(code);
}

int64_t CKvFFMpegAudioReader::DecodeFirstStamp(bool& decoded)
{
    // Bounded: a stream whose packets never decode must not be read to its end
    // just to open it.
    constexpr int kMaxPackets = 4096;
    int64_t found = AV_NOPTS_VALUE;
    decoded = false;
    bool flushed = false;
    int tryAgain = 0;
    for (int packets = 0; found == AV_NOPTS_VALUE && !flushed && packets < kMaxPackets;) {
        const int ret = av_read_frame(m_format.get(), m_packet.get());
        if (ret == AVERROR(EAGAIN) && ++tryAgain < velmora::kMaxTryAgain)
            continue;
        if (ret < 0) {
            avcodec_send_packet(m_codec.get(), nullptr);
            flushed = true;
        } else {
            const bool audio = m_packet->stream_index == nAudioStream && m_packet->size > 0;
            if (audio) {
                NoteDecodeError(avcodec_send_packet(m_codec.get(), m_packet.get()));
                ++packets;
            }
            av_packet_unref(m_packet.get());
            if (!audio)
                continue;
        }
        int got = 0;
        while (found == AV_NOPTS_VALUE && (got = avcodec_receive_frame(m_codec.get(), m_frame.get())) >= 0) {
            decoded = decoded || m_frame->nb_samples > 0;
            found = m_frame->best_effort_timestamp != AV_NOPTS_VALUE ? m_frame->best_effort_timestamp
                                                                     : m_frame->pts;
            av_frame_unref(m_frame.get());
        }
        NoteDecodeError(got);
        if (packets == 0 && flushed)
            m_decodeError = "it holds no audio data";
    }
    return found;
}

bool CKvFFMpegAudioReader::Open(const std::string& path, int audioStream)
{
    Close();
    velmora::QuietFFmpegLog();
    strPath = path;
    m_wantedStream = audioStream < 0 ? -1 : audioStream;
    bFailed = 1;
    m_error.clear();
    if (!OpenFile(path)) {
        const std::string why = m_error;
        const velmora::KvJobFailure failure = m_failure;
        Close();
        m_error = why;
        m_failure = failure;
        return false;
    }

    // Times are measured from the start of the file's sound and pictures: the
    // earliest of the video streams' starts and the first decoded audio. Only
    // audio that really starts after the picture is placed later; a transport
    // stream's clock offset or a decoder's trimmed priming is not.
    AVStream* stream = m_format->streams[nAudioStream];
    bool decoded = false;
    const int64_t firstStamp = DecodeFirstStamp(decoded);
    if (!decoded) {
        // Not one frame comes out: converting it would only write silence.
        std::string why = "has a sound track that cannot be decoded";
        if (!m_decodeError.empty())
            why += " (" + m_decodeError + ")";
        Close();
        m_error = why;
        m_failure = velmora::KvJobFailure::NotDecodable;
        return false;
    }
    int64_t reference = AV_NOPTS_VALUE;
    for (unsigned i = 0; i < m_format->nb_streams; ++i) {
        const AVStream* other = m_format->streams[i];
        if (other->codecpar->codec_type != AVMEDIA_TYPE_VIDEO || other->start_time == AV_NOPTS_VALUE ||
            (other->disposition & AV_DISPOSITION_ATTACHED_PIC))
            continue;
        const int64_t start = av_rescale_q(other->start_time, other->time_base, stream->time_base);
        if (reference == AV_NOPTS_VALUE || start < reference)
            reference = start;
    }
    int64_t audioStart = firstStamp != AV_NOPTS_VALUE ? firstStamp : stream->start_time;
    if (audioStart == AV_NOPTS_VALUE && m_format->start_time != AV_NOPTS_VALUE)
        audioStart = av_rescale_q(m_format->start_time, AV_TIME_BASE_Q, stream->time_base);
    if (audioStart != AV_NOPTS_VALUE && (reference == AV_NOPTS_VALUE || audioStart < reference))
        reference = audioStart;
    m_startPts = reference != AV_NOPTS_VALUE ? reference : 0;
    m_firstAudioPts = firstStamp;

    // Read from a fresh start (see SeekFileTo).
    SeekFileTo(0.0);
    if (!m_format) {
        Close();
        m_error = "could not be opened a second time";
        m_failure = velmora::KvJobFailure::SourceUnreadable;
        return false;
    }
    bFailed = 0;
    return true;
}

void CKvFFMpegAudioReader::Close()
{
    ClearQueue();
    m_silenceFrames = 0;
    m_error.clear();
    m_failure = velmora::KvJobFailure::None;
    m_swr.reset();
    av_channel_layout_uninit(&m_swrInLayout);
    m_swrInRate = 0;
    m_swrInFormat = -1;
    m_swrOutRate = 0;
    m_frame.reset();
    m_packet.reset();
    m_codec.reset();
    m_format.reset();
    pOutBuf.clear();
    pOutBuf.shrink_to_fit();
    m_convertBuf.clear();
    m_convertBuf.shrink_to_fit();
    nAudioStream = -1;
    bEnd = 0;
    m_startPts = 0;
    m_firstAudioPts = AV_NOPTS_VALUE;
    m_decoderDrained = false;
    m_touched = false;
    m_nextTime = -1.0;
    m_checkLanding = false;
    m_landingRetries = 0;
    m_resamplerFailed = false;
    m_lastDelivered = 0;
    m_decodeError.clear();
}

velmora::MediaTags CKvFFMpegAudioReader::ReadTags() const
{
    velmora::MediaTags tags;
    if (!bFailed && m_format)
        velmora::ReadMediaTags(m_format.get(), nAudioStream, tags);
    return tags;
}

std::vector<velmora::KvChapter> CKvFFMpegAudioReader::ReadChapters() const
{
    return !bFailed && m_format ? velmora::ReadChapters(m_format.get()) : std::vector<velmora::KvChapter>();
}

void CKvFFMpegAudioReader::Refuse(const std::string& why)
{
    velmora::LogLine("audio reader: " + strPath + ": " + why);
    m_error = why;
    bFailed = 1;
    ClearQueue();
    m_silenceFrames = 0;
}

void CKvFFMpegAudioReader::SetLeadIn(double seconds)
{
    if (!velmora::IsUsableSeconds(seconds)) {
        Refuse("lead-in of " + std::to_string(seconds) + " s refused");
        return;
    }
    dLeadIn = seconds;
}

void CKvFFMpegAudioReader::SetEngineFrameRate(double framesPerSecond)
{
    if (framesPerSecond > 0.0)
        m_engineFrameRate = framesPerSecond;
}

int64_t CKvFFMpegAudioReader::GetQueuedFrameCount() const
{
    return m_queuedFrames;
}

int CKvFFMpegAudioReader::GetSourceChannels() const
{
    return m_codec ? m_codec->ch_layout.nb_channels : 0;
}

int CKvFFMpegAudioReader::GetSourceSampleRate() const
{
    return m_codec ? m_codec->sample_rate : 0;
}

void CKvFFMpegAudioReader::ClearQueue()
{
    m_queue.clear();
    m_queuedFrames = 0;
}

void CKvFFMpegAudioReader::ResetDecoding()
{
    if (m_codec)
        avcodec_flush_buffers(m_codec.get());
    // The resampler's buffered tail belongs to the old position.
    m_swr.reset();
    av_channel_layout_uninit(&m_swrInLayout);
    m_swrInRate = 0;
    m_swrInFormat = -1;
    m_swrOutRate = 0;
    m_decoderDrained = false;
    m_nextTime = -1.0;
    bEnd = 0;
    m_touched = false;
}

void CKvFFMpegAudioReader::SeekFileTo(double seconds)
{
    if (!m_format)
        return;
    if (seconds <= 0.0) {
        // Back to the beginning by opening the file again: a seek would not
        // restore every decoder's start-up trimming (Opus pre-skip, AAC priming).
        m_codec.reset();
        m_format.reset();
        if (!OpenFile(strPath)) {
            bFailed = 1;
            bEnd = 1;
            return;
        }
        ResetDecoding();
        return;
    }
    const int64_t origin = av_rescale_q(m_startPts, m_format->streams[nAudioStream]->time_base, AV_TIME_BASE_Q);
    // seconds is usable (Seek checks it), so the product fits; the sum may not for a
    // crafted start stamp, and then the seek lands at the end.
    int64_t target = 0;
    if (!velmora::TruncateToInt64(seconds * AV_TIME_BASE, target) || __builtin_add_overflow(origin, target, &target))
        target = std::numeric_limits<int64_t>::max();
    avformat_seek_file(m_format.get(), -1, std::numeric_limits<int64_t>::min(), target,
                       std::numeric_limits<int64_t>::max(), 0);
    ResetDecoding();
}

void CKvFFMpegAudioReader::Seek(double seconds)
{
    if (bFailed)
        return;
    if (!velmora::IsUsableSeconds(seconds)) {
        Refuse("seek to " + std::to_string(seconds) + " s refused");
        return;
    }
    dDropBefore = seconds;
    dReadPos = seconds;
    dLeadIn -= seconds;
    if (dLeadIn < 0.00001)
        dLeadIn = -1.0;

    // Whatever was queued belongs to the old position.
    ClearQueue();
    m_silenceFrames = 0;
    bEnd = 0;
    m_checkLanding = false;
    m_landingRetries = 0;

    if (seconds >= 0.1 && dLeadIn <= 0.0 && seconds - 0.5 > 0.001) {
        // Land half a second early; the decode step drops what lies before the
        // requested time, to the sample.
        SeekFileTo(seconds - 0.5);
        ++m_fileSeeks;
        m_checkLanding = true;
    } else if (m_touched) {
        // Reads already went past the start: go back to it.
        SeekFileTo(0.0);
        ++m_fileSeeks;
        if (!m_format)
            bFailed = 1;
    }
}

double CKvFFMpegAudioReader::FrameTime(const AVFrame* frame)
{
    int64_t stamp = frame->best_effort_timestamp;
    if (stamp == AV_NOPTS_VALUE)
        stamp = frame->pts;
    if (stamp == AV_NOPTS_VALUE)
        return m_nextTime >= 0.0 ? m_nextTime : 0.0;
    const double timeBase = av_q2d(m_format->streams[nAudioStream]->time_base);
    // In doubles: two stamps of a crafted file may lie further apart than int64 holds.
    double t = (static_cast<double>(stamp) - static_cast<double>(m_startPts)) * timeBase;
    const int inRate = frame->sample_rate > 0 ? frame->sample_rate : m_codec->sample_rate;
    if (inRate > 0) {
        const double sample = 1.0 / inRate;
        if (m_nextTime >= 0.0 && std::fabs(t - m_nextTime) <= timeBase + sample) {
            // Stamps rounded to the container's clock (milliseconds in Matroska)
            // would move every frame by a few samples; follow on instead.
            t = m_nextTime;
        } else if (timeBase > sample && frame->nb_samples > 0 && m_firstAudioPts != AV_NOPTS_VALUE) {
            // After a seek there is nothing to follow on from: codec frames of one
            // size lie on a grid from the first audio frame, so put the rounded
            // stamp back on it when it is within the rounding.
            const double first = (static_cast<double>(m_firstAudioPts) - static_cast<double>(m_startPts)) * timeBase;
            const double offset = (t - first) * inRate;
            const double snapped = std::round(offset / frame->nb_samples) * frame->nb_samples;
            if (std::fabs(snapped - offset) <= timeBase * inRate / 2 + 1)
                t = first + snapped / inRate;
        }
    }
    return t > 0.0 ? t : 0.0;
}

bool CKvFFMpegAudioReader::EnsureResampler(const AVFrame* frame, int rate)
{
    AVChannelLayout inLayout{};
    const int channels = frame->ch_layout.nb_channels > 0 ? frame->ch_layout.nb_channels
                                                          : m_codec->ch_layout.nb_channels;
    if (channels <= 0)
        return false;
    if (frame->ch_layout.nb_channels > 0 && frame->ch_layout.order != AV_CHANNEL_ORDER_UNSPEC) {
        if (av_channel_layout_copy(&inLayout, &frame->ch_layout) < 0)
            return false;
    } else {
        av_channel_layout_default(&inLayout, channels);
    }
    const int inRate = frame->sample_rate > 0 ? frame->sample_rate : m_codec->sample_rate;
    if (!IsPlausibleSound(inRate, channels) || rate <= 0) {
        av_channel_layout_uninit(&inLayout);
        return false;
    }

    if (m_swr && m_swrOutRate == rate && m_swrInRate == inRate && m_swrInFormat == frame->format &&
        av_channel_layout_compare(&inLayout, &m_swrInLayout) == 0) {
        av_channel_layout_uninit(&inLayout);
        return true;
    }

    // The stream changed its shape (a broadcast switching between 5.1 and 2.0):
    // keep what the old resampler still holds, then build one for the new frames.
    if (m_swr)
        DrainResampler(m_swrOutRate);

    SwrContext* raw = nullptr;
    AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
    int ret = swr_alloc_set_opts2(&raw, &stereo, AV_SAMPLE_FMT_S16, rate, &inLayout,
                                  static_cast<AVSampleFormat>(frame->format), inRate, 0, nullptr);
    velmora::ScopedSwrContext swr(raw);
    if (ret < 0 || !swr) {
        av_channel_layout_uninit(&inLayout);
        return false;
    }
    if (channels == 1) {
        // A mono source sounds the same on both sides at its own level (the
        // default mix would lower it by 3 dB).
        const double matrix[2] = {1.0, 1.0};
        swr_set_matrix(swr.get(), matrix, 1);
    }
    if (swr_init(swr.get()) < 0) {
        av_channel_layout_uninit(&inLayout);
        return false;
    }
    m_swr = std::move(swr);
    av_channel_layout_uninit(&m_swrInLayout);
    m_swrInLayout = inLayout; // takes ownership
    m_swrInRate = inRate;
    m_swrInFormat = frame->format;
    m_swrOutRate = rate;
    return true;
}

void CKvFFMpegAudioReader::AppendChunk(const int16_t* samples, int frames, double t, int rate)
{
    if (frames <= 0)
        return;
    tagKvFFMpegBackupAudioItem item;
    item.bSilence = 0;
    item.nFrames = frames;
    item.dTime = t - static_cast<double>(frames) / rate;
    if (item.dTime < 0.0001)
        item.dTime = 0.0;
    item.pSamples.assign(samples, samples + static_cast<size_t>(frames) * 2);
    m_queue.push_back(std::move(item));
    m_queuedFrames += frames;
}

void CKvFFMpegAudioReader::StartLeadIn(int rate)
{
    if (dLeadIn > 0.0001) {
        // dLeadIn is a usable time and rate an int, so the count fits.
        int64_t frames = 0;
        if (velmora::TruncateToInt64(std::floor(rate * dLeadIn), frames) && frames > 0)
            m_silenceFrames = frames;
        dLeadIn = -1.0;
    }
}

int CKvFFMpegAudioReader::TakeSilence(int16_t* dest, int frames)
{
    const int take = static_cast<int>(std::min<int64_t>(frames, m_silenceFrames));
    if (take > 0) {
        std::memset(dest, 0, static_cast<size_t>(take) * 2 * sizeof(int16_t));
        m_silenceFrames -= take;
    }
    return take;
}

int CKvFFMpegAudioReader::DrainResampler(int rate)
{
    if (!m_swr || rate <= 0)
        return 0;
    int produced = 0;
    for (;;) {
        const int room = swr_get_out_samples(m_swr.get(), 0);
        if (room <= 0)
            break;
        m_convertBuf.resize(static_cast<size_t>(room) * 2);
        uint8_t* out[1] = {reinterpret_cast<uint8_t*>(m_convertBuf.data())};
        const int got = swr_convert(m_swr.get(), out, room, nullptr, 0);
        if (got <= 0)
            break;
        AppendChunk(m_convertBuf.data(), got, m_nextTime >= 0.0 ? m_nextTime : 0.0, rate);
        produced += got;
    }
    return produced;
}

int CKvFFMpegAudioReader::ConvertFrame(AVFrame* frame, int rate, double t)
{
    const int inRate = frame->sample_rate > 0 ? frame->sample_rate : m_codec->sample_rate;
    const int count = frame->nb_samples;
    if (inRate <= 0 || count <= 0)
        return 0;
    m_nextTime = t + static_cast<double>(count) / inRate;

    // Drop what lies before the requested start; a frame that straddles it loses
    // only its leading samples, so output starts at that time to the sample.
    int skip = 0;
    if (t < dDropBefore) {
        dLastDropped = t;
        // The gap in samples, in doubles first: a stamp far outside any real time
        // (a crafted file) has no sample index and its frame is simply dropped.
        int64_t first = 0;
        int64_t wanted = 0;
        if (!velmora::RoundToInt64(t * inRate, first) || !velmora::RoundToInt64(dDropBefore * inRate, wanted) ||
            static_cast<double>(wanted) - static_cast<double>(first) >= count)
            return 0;
        skip = static_cast<int>(wanted - first);
    }

    if (!EnsureResampler(frame, rate)) {
        m_resamplerFailed = true;
        bEnd = 1;
        return 0;
    }

    const auto format = static_cast<AVSampleFormat>(frame->format);
    const int channels = frame->ch_layout.nb_channels > 0 ? frame->ch_layout.nb_channels
                                                          : m_codec->ch_layout.nb_channels;
    const int bytesPerSample = av_get_bytes_per_sample(format);
    const bool planar = av_sample_fmt_is_planar(format) != 0;
    std::vector<const uint8_t*> in(planar ? channels : 1);
    for (size_t i = 0; i < in.size(); ++i) {
        const size_t step = planar ? bytesPerSample : static_cast<size_t>(bytesPerSample) * channels;
        in[i] = frame->extended_data[i] + step * skip;
    }
    const int inCount = count - skip;

    const int room = swr_get_out_samples(m_swr.get(), inCount);
    if (room <= 0)
        return 0;
    m_convertBuf.resize(static_cast<size_t>(room) * 2);
    uint8_t* out[1] = {reinterpret_cast<uint8_t*>(m_convertBuf.data())};
    const int got = swr_convert(m_swr.get(), out, room, in.data(), inCount);
    if (got <= 0)
        return 0;
    AppendChunk(m_convertBuf.data(), got, t + static_cast<double>(skip) / inRate, rate);
    return got;
}

int CKvFFMpegAudioReader::ReceiveFrames(int rate)
{
    int produced = 0;
    int got = 0;
    while ((got = avcodec_receive_frame(m_codec.get(), m_frame.get())) >= 0) {
        const double t = FrameTime(m_frame.get());
        if (m_checkLanding) {
            m_checkLanding = false;
            const int inRate = m_frame->sample_rate > 0 ? m_frame->sample_rate : 48000;
            if (t > dDropBefore + 0.5 / inRate && m_landingRetries < 3) {
                // The demuxer landed after the requested time: go further back,
                // finally to the start of the file.
                ++m_landingRetries;
                const double back = m_landingRetries < 3 ? dDropBefore - 0.5 - 2.0 * m_landingRetries : 0.0;
                av_frame_unref(m_frame.get());
                SeekFileTo(back > 0.0 ? back : 0.0);
                m_checkLanding = back > 0.0 || m_landingRetries < 3;
                return produced;
            }
        }
        produced += ConvertFrame(m_frame.get(), rate, t);
        av_frame_unref(m_frame.get());
    }
    NoteDecodeError(got);
    return produced;
}

int CKvFFMpegAudioReader::DecodeNextPacket(int rate)
{
    if (bFailed || !m_format) {
        bEnd = 1;
        return 0;
    }
    if (m_decoderDrained) {
        bEnd = 1;
        return 0;
    }
    int tryAgain = 0;
    for (;;) {
        const int ret = av_read_frame(m_format.get(), m_packet.get());
        if (ret == AVERROR(EAGAIN) && ++tryAgain < velmora::kMaxTryAgain)
            continue;
        m_touched = true;
        if (ret < 0)
            break;
        if (m_packet->stream_index != nAudioStream) {
            av_packet_unref(m_packet.get());
            continue;
        }
        if (m_packet->size == 0) {
            av_packet_unref(m_packet.get());
            break;
        }
        int produced = 0;
        int sent = avcodec_send_packet(m_codec.get(), m_packet.get());
        if (sent == AVERROR(EAGAIN)) {
            // The decoder wants its pending frames taken first.
            produced = ReceiveFrames(rate);
            sent = avcodec_send_packet(m_codec.get(), m_packet.get());
        }
        av_packet_unref(m_packet.get());
        if (sent < 0) {
            NoteDecodeError(sent);
            return produced; // a damaged packet: the next step goes on with the next one
        }
        return produced + ReceiveFrames(rate);
    }

    // End of the stream: take what the decoder and the resampler still hold.
    int produced = 0;
    if (avcodec_send_packet(m_codec.get(), nullptr) >= 0)
        produced += ReceiveFrames(rate);
    produced += DrainResampler(m_swrOutRate > 0 ? m_swrOutRate : rate);
    m_decoderDrained = true;
    bEnd = 1;
    return produced;
}

int CKvFFMpegAudioReader::Read(int16_t* dest, int frames, int rate)
{
    m_lastDelivered = 0;
    if (bFailed || dest == nullptr || frames <= 0 || rate <= 0)
        return 0;

    dReadPos += static_cast<double>(frames) / rate;
    StartLeadIn(rate);

    // Decode only as far as this request needs: the queue stays near one request.
    while (!bEnd && m_silenceFrames + m_queuedFrames < frames)
        DecodeNextPacket(rate);

    if (m_silenceFrames == 0) {
        if (m_queue.empty())
            return 0;
        // Hold-back: audio that starts later than the read position waits, so a
        // source whose sound begins late keeps its place.
        if (m_queue.front().dTime > dReadPos + 2.0 / m_engineFrameRate)
            return 0;
    }

    const int silent = TakeSilence(dest, frames);
    const int copied = silent + TakeFrames(dest + static_cast<size_t>(silent) * 2, frames - silent);
    m_lastDelivered = copied;
    if (copied < frames)
        std::memset(dest + static_cast<size_t>(copied) * 2, 0,
                    static_cast<size_t>(frames - copied) * 2 * sizeof(int16_t));
    return 1;
}

int CKvFFMpegAudioReader::TakeFrames(int16_t* dest, int frames)
{
    int copied = 0;
    while (copied < frames && !m_queue.empty()) {
        tagKvFFMpegBackupAudioItem& chunk = m_queue.front();
        const int take = std::min(frames - copied, chunk.nFrames);
        std::memcpy(dest + static_cast<size_t>(copied) * 2,
                    chunk.pSamples.data() + static_cast<size_t>(chunk.nOffset) * 2,
                    static_cast<size_t>(take) * 2 * sizeof(int16_t));
        copied += take;
        chunk.nOffset += take;
        chunk.nFrames -= take;
        m_queuedFrames -= take;
        if (chunk.nFrames == 0)
            m_queue.pop_front();
    }
    return copied;
}

int CKvFFMpegAudioReader::ReadDecoded(int16_t* dest, int maxFrames, int rate)
{
    if (bFailed || dest == nullptr || maxFrames <= 0 || rate <= 0)
        return 0;
    StartLeadIn(rate);
    while (!bEnd && m_silenceFrames == 0 && m_queuedFrames == 0)
        DecodeNextPacket(rate);
    const int silent = TakeSilence(dest, maxFrames);
    const int copied = silent + TakeFrames(dest + static_cast<size_t>(silent) * 2, maxFrames - silent);
    dReadPos += static_cast<double>(copied) / rate;
    return copied;
}

const int16_t* CKvFFMpegAudioReader::GetBuffer(int frames, int rate)
{
    if (bFailed || frames <= 0 || rate <= 0)
        return nullptr;
    // Sized per request: a slow speed asks for more frames than the first call did.
    pOutBuf.assign(static_cast<size_t>(frames) * 2, 0);
    if (!Read(pOutBuf.data(), frames, rate))
        return nullptr;
    return pOutBuf.data();
}

double CKvFFMpegAudioReader::ProbeFirstAudioTime()
{
    // Measured when the file was opened, from the first decoded frame that
    // carries a time stamp; a negative time counts as 0.
    if (bFailed || !m_format || m_firstAudioPts == AV_NOPTS_VALUE)
        return 0.0;
    const double t = (static_cast<double>(m_firstAudioPts) - static_cast<double>(m_startPts)) *
                     av_q2d(m_format->streams[nAudioStream]->time_base);
    return t > 0.0 ? t : 0.0;
}
