#pragma once

// Owners for FFmpeg objects: one deleter per FFmpeg free function, so that every
// early return releases what was allocated so far.

#include <memory>
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/frame.h>
#include <libavutil/mem.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

namespace velmora {

struct FormatContextDeleter {
    void operator()(AVFormatContext* p) const { avformat_close_input(&p); }
};
// An output context whose I/O belongs to someone else (AVFMT_FLAG_CUSTOM_IO): it is
// freed, its pb left alone.
struct OutputFormatDeleter {
    void operator()(AVFormatContext* p) const
    {
        p->pb = nullptr;
        avformat_free_context(p);
    }
};
struct CodecContextDeleter {
    void operator()(AVCodecContext* p) const { avcodec_free_context(&p); }
};
struct FrameDeleter {
    void operator()(AVFrame* p) const { av_frame_free(&p); }
};
struct PacketDeleter {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct SwrContextDeleter {
    void operator()(SwrContext* p) const { swr_free(&p); }
};
struct SwsContextDeleter {
    void operator()(SwsContext* p) const { sws_freeContext(p); }
};
struct AudioFifoDeleter {
    void operator()(AVAudioFifo* p) const { av_audio_fifo_free(p); }
};
struct AvMallocDeleter {
    void operator()(void* p) const { av_free(p); }
};

using ScopedFormatContext = std::unique_ptr<AVFormatContext, FormatContextDeleter>;
using ScopedOutputFormat = std::unique_ptr<AVFormatContext, OutputFormatDeleter>;
using ScopedCodecContext = std::unique_ptr<AVCodecContext, CodecContextDeleter>;
using ScopedFrame = std::unique_ptr<AVFrame, FrameDeleter>;
using ScopedPacket = std::unique_ptr<AVPacket, PacketDeleter>;
using ScopedSwrContext = std::unique_ptr<SwrContext, SwrContextDeleter>;
using ScopedSwsContext = std::unique_ptr<SwsContext, SwsContextDeleter>;
using ScopedAudioFifo = std::unique_ptr<AVAudioFifo, AudioFifoDeleter>;
using ScopedAvBuffer = std::unique_ptr<uint8_t, AvMallocDeleter>;

// FFmpeg writes every damaged packet and odd header to stderr. The readers call
// this before their first use of the libraries; it keeps only fatal messages
// unless VELMORA_FFMPEG_LOG is set in the environment (then it leaves the level
// as FFmpeg has it). Safe to call from any thread, any number of times.
void QuietFFmpegLog();

// FFmpeg's words for an error code ("Invalid data found when processing input").
std::string FFmpegErrorText(int code);

} // namespace velmora
