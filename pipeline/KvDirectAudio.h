#pragma once

// The sound of one source as it is, for a row with nothing to mix: its own sample
// rate, channels and depth (up to 24 bits), cut to the sample at the row's Start and
// End, handed on in runs of interleaved samples. What the lossless outputs are made
// from, so that they hold exactly the source's samples.

#include "common/KvJobFailure.h"
#include "media/KvFFMpegDeleters.h"
#include "pipeline/AudioEncoderChain.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

namespace velmora {

class CKvDirectAudio
{
public:
    // Takes at most channels runs of samples that many frames long; returns 0 to go on,
    // a negative error code to stop with it.
    using Sink = std::function<int(const void* interleaved, int frames)>;

    // Opens the sound track stream (-1: the first) of path to be read from start to
    // end seconds (end <= start: to its end). False with why and its kind.
    bool Open(const std::string& path, int stream, double start, double end, std::string& why, KvJobFailure& failure);
    // What Run gives: S16 for sound of 16 bits or less and for lossy codecs' float
    // sound, which has no depth of its own; S32 with its bits for deeper sound.
    AudioInputFormat Format() const { return m_format; }
    // The codec id (an AVCodecID) of the track.
    int CodecId() const;
    const AVCodecParameters* Parameters() const;

    // Decodes through to End, giving every run to sink and the position reached (in
    // seconds from Start) to progress. Returns 0 at the end, AVERROR_EXIT once stop
    // is set, the sink's error, or a decoding error with why.
    int Run(const Sink& sink, const std::atomic<bool>& stop, const std::function<void(double)>& progress,
            std::string& why);
    // Samples per channel handed on by Run.
    std::int64_t FramesGiven() const { return m_given; }

private:
    ScopedFormatContext m_input;
    ScopedCodecContext m_decoder;
    ScopedSwrContext m_convert;
    int m_stream = -1;
    AudioInputFormat m_format;
    int m_decodedFormat = -1; // the decoder's sample format (an AVSampleFormat) at the start
    std::int64_t m_first = 0; // in samples of the track's rate
    std::int64_t m_last = -1; // -1: to the end
    std::int64_t m_given = 0;
};

} // namespace velmora
