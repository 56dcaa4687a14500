#include "media/KvFFMpegCapture.h"

#include <cmath>
#include <thread>

#include "common/KvLog.h"
#include "common/KvNumeric.h"
#include "common/KvText.h"
#include "media/KvFFMpegStream.h"

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/mathematics.h>
}

CKvFFMpegCapture::CKvFFMpegCapture(const std::string& path, int outWidth, int outHeight, bool flip)
    : m_requestedWidth(outWidth)
    , m_requestedHeight(outHeight)
{
    bFlip = flip ? 1 : 0;
    bFailed = Open(path) ? 0 : 1;
}

CKvFFMpegCapture::CKvFFMpegCapture(std::wstring_view path, int outWidth, int outHeight, bool flip)
    : CKvFFMpegCapture(velmora::WideToUtf8(path), outWidth, outHeight, flip)
{
}

CKvFFMpegCapture::~CKvFFMpegCapture()
{
    Close();
}

void CKvFFMpegCapture::ResetState()
{
    llPts = AV_NOPTS_VALUE;
    llFrameIndex = 0;
    llFirstFrame = -1;
    m_hasPicture = false;
    m_inputEnded = false;
}

void CKvFFMpegCapture::Close()
{
    m_scaler.reset();
    m_frame.reset();
    m_decoded.reset();
    m_packet.reset();
    m_codec.reset();
    m_format.reset();
    m_picture.reset();
    m_pictureStride = 0;
    nVideoStream = -1;
    m_sourceWidth = 0;
    m_sourceHeight = 0;
    ResetState();
}

AVStream* CKvFFMpegCapture::Stream() const
{
    return (m_format && nVideoStream >= 0) ? m_format->streams[nVideoStream] : nullptr;
}

bool CKvFFMpegCapture::Open(const std::string& path)
{
    Close();
    velmora::QuietFFmpegLog();
    strPath = path;
    bFailed = 1;

    if (!velmora::OpenMediaInput(path, m_format)) {
        Close();
        return false;
    }
    for (unsigned i = 0; i < m_format->nb_streams; ++i) {
        const AVStream* stream = m_format->streams[i];
        // A cover picture of a music file is not a video.
        if (stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO &&
            !(stream->disposition & AV_DISPOSITION_ATTACHED_PIC)) {
            nVideoStream = static_cast<int32_t>(i);
            break;
        }
    }
    if (nVideoStream < 0) {
        Close();
        return false;
    }
    velmora::DiscardOtherStreams(m_format.get(), nVideoStream);

    AVStream* stream = Stream();
    m_sourceWidth = stream->codecpar->width;
    m_sourceHeight = stream->codecpar->height;
    if (!velmora::OpenStreamDecoder(stream, m_codec, static_cast<int>(std::max(1u, std::thread::hardware_concurrency())))) {
        Close();
        return false;
    }
    m_frame.reset(av_frame_alloc());
    m_decoded.reset(av_frame_alloc());
    m_packet.reset(av_packet_alloc());
    if (!m_frame || !m_decoded || !m_packet) {
        Close();
        return false;
    }

    nOutWidth = m_requestedWidth > 0 ? m_requestedWidth : m_sourceWidth;
    nOutHeight = m_requestedHeight > 0 ? m_requestedHeight : m_sourceHeight;
    if (nOutWidth <= 0 || nOutHeight <= 0) {
        Close();
        return false;
    }
    const int size = av_image_get_buffer_size(AV_PIX_FMT_BGRA, nOutWidth, nOutHeight, 1);
    if (size <= 0) {
        Close();
        return false;
    }
    m_picture.reset(static_cast<uint8_t*>(av_mallocz(static_cast<size_t>(size))));
    if (!m_picture) {
        Close();
        return false;
    }
    m_pictureStride = nOutWidth * 4;
    ResetState();
    bFailed = 0;
    return true;
}

double CKvFFMpegCapture::GetFrameRate() const
{
    const AVStream* stream = Stream();
    if (stream == nullptr)
        return 0.0;
    double rate = av_q2d(stream->r_frame_rate);
    if (rate < kEpsilon)
        rate = av_q2d(stream->avg_frame_rate);
    if (rate < kEpsilon && m_codec && m_codec->time_base.num > 0)
        rate = 1.0 / av_q2d(m_codec->time_base);
    return rate;
}

double CKvFFMpegCapture::GetMediaDuration() const
{
    const AVStream* stream = Stream();
    if (stream == nullptr)
        return 0.0;
    double duration = m_format->duration != AV_NOPTS_VALUE
                          ? static_cast<double>(m_format->duration) / AV_TIME_BASE
                          : 0.0;
    if (duration < kEpsilon && stream->duration != AV_NOPTS_VALUE)
        duration = static_cast<double>(stream->duration) * av_q2d(stream->time_base);
    return duration;
}

int64_t CKvFFMpegCapture::GetFrameCount() const
{
    const AVStream* stream = Stream();
    if (stream == nullptr)
        return 0;
    if (stream->nb_frames != 0)
        return stream->nb_frames;
    // A rate or duration that a damaged file makes absurd gives no count at all.
    int64_t count = 0;
    return velmora::TruncateToInt64(std::floor(GetFrameRate() * GetMediaDuration()), count) && count > 0 ? count : 0;
}

double CKvFFMpegCapture::PtsToSeconds(int64_t pts) const
{
    const AVStream* stream = Stream();
    if (stream == nullptr || pts == AV_NOPTS_VALUE)
        return 0.0;
    const int64_t start = stream->start_time != AV_NOPTS_VALUE ? stream->start_time : 0;
    // In doubles: two stamps of a crafted file may lie further apart than int64 holds.
    return (static_cast<double>(pts) - static_cast<double>(start)) * av_q2d(stream->time_base);
}

int64_t CKvFFMpegCapture::PtsToFrame(int64_t pts) const
{
    // Rounded rather than truncated: millisecond stamps (Matroska) and 1001-based
    // rates put a frame's time a hair below its exact value.
    return velmora::SaturateToInt64(std::floor(PtsToSeconds(pts) * GetFrameRate() + 0.5));
}

bool CKvFFMpegCapture::DecodePicture(bool countFrame)
{
    if (!m_codec)
        return false;
    int withoutPicture = 0;
    int tryAgain = 0;
    for (;;) {
        // Into a frame of its own: a read that finds nothing (the end of the stream)
        // must leave the picture held so far, and m_hasPicture, as they were.
        const int received = avcodec_receive_frame(m_codec.get(), m_decoded.get());
        if (received >= 0) {
            av_frame_unref(m_frame.get());
            av_frame_move_ref(m_frame.get(), m_decoded.get());
            break;
        }
        if (received != AVERROR(EAGAIN))
            return false; // drained or broken
        if (withoutPicture > kMaxPacketsWithoutPicture)
            return false;

        const int ret = av_read_frame(m_format.get(), m_packet.get());
        if (ret == AVERROR(EAGAIN) && ++tryAgain < velmora::kMaxTryAgain)
            continue;
        if (ret < 0) {
            if (m_inputEnded)
                return false;
            // End of file: let the decoder hand out the pictures it still holds.
            avcodec_send_packet(m_codec.get(), nullptr);
            m_inputEnded = true;
            continue;
        }
        if (m_packet->stream_index != nVideoStream) {
            av_packet_unref(m_packet.get());
            ++withoutPicture;
            continue;
        }
        avcodec_send_packet(m_codec.get(), m_packet.get());
        av_packet_unref(m_packet.get());
        ++withoutPicture;
    }

    int64_t stamp = m_frame->best_effort_timestamp;
    if (stamp == AV_NOPTS_VALUE)
        stamp = m_frame->pts;
    if (stamp == AV_NOPTS_VALUE || (!countFrame && stamp == 0 && m_frame->pkt_dts > 0))
        stamp = m_frame->pkt_dts;
    llPts = stamp;
    m_hasPicture = true;
    if (countFrame)
        ++llFrameIndex;
    if (llFirstFrame == -1)
        llFirstFrame = PtsToFrame(llPts);
    return true;
}

bool CKvFFMpegCapture::ReadFrame()
{
    const AVStream* stream = Stream();
    if (stream == nullptr)
        return false;
    if (stream->nb_frames > 0 && llFrameIndex >= stream->nb_frames)
        return false;
    return DecodePicture(true);
}

bool CKvFFMpegCapture::StepForward()
{
    return DecodePicture(false);
}

void CKvFFMpegCapture::SeekToFrame(int64_t n)
{
    AVStream* stream = Stream();
    if (stream == nullptr)
        return;
    const int64_t count = GetFrameCount();
    if (count > 0 && n > count)
        n = count;
    if (n < 0)
        n = 0;
    if (llFirstFrame == -1 && count > 1)
        ReadFrame();

    const double rate = GetFrameRate();
    const double timeBase = av_q2d(stream->time_base);
    const int64_t streamStart = stream->start_time != AV_NOPTS_VALUE ? stream->start_time : 0;
    int64_t backOff = 16;
    int64_t k = 0;
    for (;;) {
        int64_t start = n - backOff;
        if (start <= 0)
            start = 0;
        if (count > 1 && rate > kEpsilon && timeBase > 0.0) {
            int64_t target = velmora::SaturateToInt64(static_cast<double>(start) / rate / timeBase);
            if (__builtin_add_overflow(target, streamStart, &target))
                target = INT64_MAX;
            av_seek_frame(m_format.get(), nVideoStream, target, AVSEEK_FLAG_BACKWARD);
        }
        avcodec_flush_buffers(m_codec.get());
        m_inputEnded = false;
        m_hasPicture = false;
        // The count restarts where the seek lands, so a read at the end of the
        // stream is not refused by the end test.
        llFrameIndex = start;
        if (n == 0) {
            llFrameIndex = 0;
            return;
        }
        ReadFrame();
        if (n == 1) {
            llFrameIndex = 1;
            return;
        }
        k = PtsToFrame(llPts) - llFirstFrame;
        llFrameIndex = k;
        if (k >= 0 && k <= n - 1)
            break;
        if (start == 0)
            return;
        if (backOff >= 536870911)
            return;
        backOff = backOff * 3 / 2;
    }
    if (ReadFrame())
        llFrameIndex += 1;
}

bool CKvFFMpegCapture::GetFrameAt(double seconds, Picture* out)
{
    if (Stream() == nullptr)
        return false;
    if (!velmora::IsUsableSeconds(seconds)) {
        velmora::LogLine("capture: " + strPath + ": picture at " + std::to_string(seconds) + " s refused");
        return false;
    }
    const double rate = GetFrameRate();
    const double frameTime = rate > kEpsilon ? 1.0 / rate : 0.04;
    if (seconds < 0.0)
        seconds = 0.0;

    const bool nearAhead = m_hasPicture && PtsToSeconds(llPts) <= seconds + frameTime / 2 &&
                           seconds - PtsToSeconds(llPts) < 15.0 * frameTime;
    if (nearAhead) {
        // Playing on: the next pictures are a few decodes away, no seek needed.
    } else if (rate * seconds > 15.0) {
        SeekToFrame(velmora::SaturateToInt64(std::floor(rate * seconds - 15.0)));
    } else if (m_hasPicture && PtsToSeconds(llPts) > seconds + frameTime / 2) {
        // Asked for an earlier picture than the one held: start over.
        SeekToFrame(0);
    }
    if (!m_hasPicture && !ReadFrame())
        return false;

    // Step to the picture on screen at that time: the last one that starts at or
    // before it (with a little room for rounded stamps).
    const double slack = std::min(0.001, frameTime / 4);
    while (PtsToSeconds(llPts) + frameTime <= seconds + slack) {
        if (!StepForward())
            break;
    }
    llFrameIndex = PtsToFrame(llPts) - (llFirstFrame > 0 ? llFirstFrame : 0) + 1;

    Picture picture;
    if (!GetPicture(picture))
        return false;
    if (out != nullptr)
        *out = picture;
    return true;
}

bool CKvFFMpegCapture::GetPicture(Picture& out)
{
    if (Stream() == nullptr || !m_hasPicture || !m_picture)
        return false;
    if (m_frame->width <= 0 || m_frame->height <= 0)
        return false;
    SwsContext* scaler = sws_getCachedContext(m_scaler.release(), m_frame->width, m_frame->height,
                                              static_cast<AVPixelFormat>(m_frame->format), nOutWidth,
                                              nOutHeight, AV_PIX_FMT_BGRA, SWS_BICUBIC, nullptr,
                                              nullptr, nullptr);
    m_scaler.reset(scaler);
    if (!m_scaler)
        return false;

    // Flipping writes the rows bottom up, whatever the source's pixel layout.
    uint8_t* dst[4] = {m_picture.get(), nullptr, nullptr, nullptr};
    int dstStride[4] = {m_pictureStride, 0, 0, 0};
    if (bFlip) {
        dst[0] = m_picture.get() + static_cast<size_t>(nOutHeight - 1) * m_pictureStride;
        dstStride[0] = -m_pictureStride;
    }
    sws_scale(m_scaler.get(), m_frame->data, m_frame->linesize, 0, m_frame->height, dst, dstStride);

    out.pBits = m_picture.get();
    out.nStride = m_pictureStride;
    out.nWidth = nOutWidth;
    out.nHeight = nOutHeight;
    out.nBytesPerPixel = 4;
    return true;
}
