#pragma once

// Reads one sound track of a media file (the first, unless the caller names the
// stream) as interleaved signed 16-bit stereo PCM at a rate chosen by the caller,
// and serves exact frame counts at a moving time-line position.
//
// Times: every time the reader handles is in seconds from the start of the
// file's sound and pictures (the earliest of the video streams' starts and the
// first decoded audio), so a transport stream whose clock starts at 1.4 s reads
// as starting at 0, a decoder's trimmed priming adds nothing, and only audio that
// really begins after the picture is placed later.
//
// Typical use (one item of the audio mixer):
//     double firstAudio = 0;
//     { CKvFFMpegAudioReader probe(path); firstAudio = probe.ProbeFirstAudioTime(); }
//     CKvFFMpegAudioReader reader(path);
//     reader.SetLeadIn(firstAudio);         // before Seek
//     reader.Seek(sourcePosition);          // may be negative: leading silence
//     while (...) { const int16_t* pcm = reader.GetBuffer(frames, rate); ... }
// (ProbeFirstAudioTime is measured at open, so reader.ProbeFirstAudioTime() on
// the reading reader itself gives the same value without a second open.)
//
// Opening decodes the first audio frame and then opens the file afresh, so every
// decoder starts exactly as it would for a plain read.
//
// Silence in front of the first audio (a lead-in, a negative seek) is a count of
// frames still to hand out, never a buffer: an item placed hours into a time line
// costs no more memory than one at its start.
//
// A reader is used by one thread at a time and holds no locks. A reader that could
// not open (no file, no audio, no decoder, a sound track of which not one frame
// decodes) answers every request with nothing, so
// its item plays as silence; OpenError() says why, for callers that must not let
// that pass. Times that are not finite or lie beyond kKvMaxMediaSeconds are refused
// (logged through LogLine) and leave the reader failed, never cast.

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "common/KvJobFailure.h"
#include "media/KvFFMpegDeleters.h"
#include "media/KvMediaTags.h"

// One chunk of the reader's queue.
struct tagKvFFMpegBackupAudioItem
{
    int32_t bSilence = 0;          // always 0: leading silence is counted, not queued
    int32_t nFrames = 0;           // stereo frames still held (from nOffset on)
    double dTime = 0.0;            // time stamp of the chunk in seconds (0 below 0.0001)
    std::vector<int16_t> pSamples; // interleaved L/R samples, owned by the chunk
    int32_t nOffset = 0;           // frames of pSamples already handed out
};

class CKvFFMpegAudioReader
{
public:
    // The engine's picture rate used by the hold-back rule; 15 in preview.
    static constexpr double kDefaultEngineFrameRate = 30.0;

    CKvFFMpegAudioReader();
    // path: UTF-8. Opens at once; IsFailed() tells whether that worked. audioStream:
    // the container's index of the sound track to read; -1 reads the first one.
    explicit CKvFFMpegAudioReader(const std::string& path, int audioStream = -1);
    explicit CKvFFMpegAudioReader(std::wstring_view path, int audioStream = -1);
    ~CKvFFMpegAudioReader();

    CKvFFMpegAudioReader(const CKvFFMpegAudioReader&) = delete;
    CKvFFMpegAudioReader& operator=(const CKvFFMpegAudioReader&) = delete;

    // Opens the sound track of path (UTF-8) at stream index audioStream (-1: the
    // first sound track) with its decoder. A stream that is not a sound track fails
    // the open: a named track is never swapped for another. On failure everything is
    // closed and false returned. Clears the failed flag on success.
    bool Open(const std::string& path, int audioStream = -1);
    // Frees the resampler, decoder, file and every chunk.
    void Close();

    // Seconds of silence to put in front of the first audio (the source's first
    // audio time from ProbeFirstAudioTime). Call before Seek.
    void SetLeadIn(double seconds);

    // Positions the reader at a source time. Negative times (or a lead-in larger
    // than the time) become leading silence. Output of the next read starts
    // exactly at that time, to the sample: decoded audio before it is dropped,
    // also inside a frame that straddles it. Does nothing on a failed reader.
    void Seek(double seconds);

    // frames stereo frames at rate, in a buffer owned by the reader (valid until
    // the next call); zeroed first, so missing audio is silence. nullptr when
    // nothing could be delivered (failed reader, end of the stream, hold-back).
    const int16_t* GetBuffer(int frames, int rate);

    // Fills dest (2 × frames samples). Returns 1 when data was delivered, 0
    // otherwise; on 0 dest is left untouched, on 1 any part the stream could not
    // fill is silence.
    int Read(int16_t* dest, int frames, int rate);

    // Whole-stream reading (extraction): copies up to maxFrames decoded frames at
    // rate, in order, with no hold-back and no padding. Returns the number copied;
    // 0 once the stream is exhausted.
    int ReadDecoded(int16_t* dest, int maxFrames, int rate);

    // The tags and cover of the open file, of its sound track for what the track
    // holds (ReadMediaTags); empty on a failed reader. Reads no packet and moves nothing.
    velmora::MediaTags ReadTags() const;
    // The chapters of the open file (KvChapters.h); none once it failed.
    std::vector<velmora::KvChapter> ReadChapters() const;

    // Why the reader is failed, in words ("has no sound track", ...); empty while it
    // is not.
    const std::string& OpenError() const { return m_error; }
    // What kind of failure OpenError is: NotDecodable for a sound track that gives no
    // frame, SourceUnreadable for a file that is not media or has no such track.
    velmora::KvJobFailure OpenFailure() const { return m_failure; }

    // Time in seconds of the first decoded audio frame that carries a time stamp
    // (a negative one counts as 0); 0 when there is none. Measured when the file
    // is opened, so it neither reads nor moves anything.
    double ProbeFirstAudioTime();

    // Hold-back: a request is answered with nothing while the first queued decoded
    // audio lies more than 2 ÷ this rate seconds ahead of the read position.
    void SetEngineFrameRate(double framesPerSecond);

    bool IsFailed() const { return bFailed != 0; }
    bool IsEnd() const { return bEnd != 0; }
    // Everything the source holds has been handed out: its stream ended and neither
    // decoded audio nor leading silence is left.
    bool IsExhausted() const { return bEnd != 0 && m_queue.empty() && m_silenceFrames == 0; }
    // Frames of the last Read or GetBuffer that came from the source (its audio or
    // the silence in front of it); what follows them in the buffer is padding.
    int LastDeliveredFrames() const { return m_lastDelivered; }
    // The stream ended because no resampler could be built for its frames.
    bool HasResamplerFailed() const { return m_resamplerFailed; }
    double GetReadPos() const { return dReadPos; }
    double GetLeadIn() const { return dLeadIn; }
    double GetDropBefore() const { return dDropBefore; }
    double GetLastDropped() const { return dLastDropped; }
    // Queue size: how far decoding has run ahead of the reads (decoded audio only).
    size_t GetQueuedChunkCount() const { return m_queue.size(); }
    int64_t GetQueuedFrameCount() const;
    // Frames of leading silence still to hand out before the queue.
    int64_t GetPendingSilenceFrames() const { return m_silenceFrames; }
    // Number of times the file was repositioned by Seek (lets callers and tests
    // see whether a seek touched the file at all).
    int GetFileSeekCount() const { return m_fileSeeks; }
    // Source channel count, sample rate and the stream's index; 0 / -1 when none.
    int GetSourceChannels() const;
    int GetSourceSampleRate() const;
    int GetAudioStreamIndex() const { return nAudioStream; }

private:
    bool OpenFile(const std::string& path);
    int64_t DecodeFirstStamp(bool& decoded);
    void NoteDecodeError(int code);
    int DecodeNextPacket(int rate);
    int ReceiveFrames(int rate);
    int ConvertFrame(AVFrame* frame, int rate, double t);
    int DrainResampler(int rate);
    bool EnsureResampler(const AVFrame* frame, int rate);
    double FrameTime(const AVFrame* frame);
    void AppendChunk(const int16_t* samples, int frames, double t, int rate);
    int TakeFrames(int16_t* dest, int frames);
    int TakeSilence(int16_t* dest, int frames);
    void StartLeadIn(int rate);
    void Refuse(const std::string& why);
    void ClearQueue();
    void ResetDecoding();
    void SeekFileTo(double seconds);

    std::string strPath;
    int32_t bEnd = 0;
    double dReadPos = 0.0;
    double dDropBefore = 0.0;
    double dLastDropped = 0.0;
    double dLeadIn = 0.0;
    int32_t bFailed = 0;
    std::vector<int16_t> pOutBuf;
    int32_t nAudioStream = -1;
    int m_wantedStream = -1;         // the stream asked for at Open; -1: the first sound track

    velmora::ScopedFormatContext m_format;
    velmora::ScopedCodecContext m_codec;
    velmora::ScopedFrame m_frame;
    velmora::ScopedPacket m_packet;
    velmora::ScopedSwrContext m_swr;
    std::deque<tagKvFFMpegBackupAudioItem> m_queue;
    int64_t m_queuedFrames = 0;
    int64_t m_silenceFrames = 0;     // leading silence not yet handed out
    std::string m_error;
    velmora::KvJobFailure m_failure = velmora::KvJobFailure::None;
    std::vector<int16_t> m_convertBuf;

    // What the resampler was built for; a frame that differs rebuilds it.
    AVChannelLayout m_swrInLayout{};
    int m_swrInRate = 0;
    int m_swrInFormat = -1;
    int m_swrOutRate = 0;

    int64_t m_startPts = 0;          // time 0 of the file, in the audio stream's time base
    int64_t m_firstAudioPts = AV_NOPTS_VALUE; // stamp of the first decoded audio frame
    double m_nextTime = -1.0;        // expected time of the next frame (for frames without stamps)
    double m_engineFrameRate = kDefaultEngineFrameRate;
    bool m_decoderDrained = false;   // end of file reached and the decoder flushed
    bool m_touched = false;          // packets were read since the last reposition
    int m_fileSeeks = 0;
    bool m_resamplerFailed = false;
    int m_lastDelivered = 0;
    std::string m_decodeError;       // FFmpeg's words for the last packet the decoder refused
    // After a file seek the first decoded frame must not lie after the drop
    // time (a demuxer that lands late); if it does, seek further back.
    bool m_checkLanding = false;
    int m_landingRetries = 0;
};
