#pragma once

// Decodes the first video stream of a media file into 32-bit BGRA pictures of a
// fixed size, with frame counting and seeking to a frame or a time.
//
// Frame numbers and times are counted from the stream's own start, so a
// transport stream whose clock starts at 1.4 s has its first picture at 0.
// Used by one thread at a time; failures are silent (IsFailed, false returns).

#include <cstdint>
#include <string>
#include <string_view>

#include "media/KvFFMpegDeleters.h"

class CKvFFMpegCapture
{
public:
    // What GetPicture hands out: BGRA pixels, top row first, owned by the capture
    // and valid until the next GetPicture or Close.
    struct Picture
    {
        uint8_t* pBits = nullptr;
        int32_t nStride = 0;        // bytes per line
        int32_t nWidth = 0;
        int32_t nHeight = 0;
        int32_t nBytesPerPixel = 4;
    };

    // Below this a duration or a rate counts as missing.
    static constexpr double kEpsilon = 0.000025;
    // Packets read without a picture before a read gives up.
    static constexpr int kMaxPacketsWithoutPicture = 512;

    // path: UTF-8. outWidth/outHeight: the picture size (0 or less: the source's).
    // flip: deliver pictures upside down (bottom row first).
    CKvFFMpegCapture(const std::string& path, int outWidth, int outHeight, bool flip);
    CKvFFMpegCapture(std::wstring_view path, int outWidth, int outHeight, bool flip);
    virtual ~CKvFFMpegCapture();

    CKvFFMpegCapture(const CKvFFMpegCapture&) = delete;
    CKvFFMpegCapture& operator=(const CKvFFMpegCapture&) = delete;

    // True when a video stream was found and its decoder opened.
    bool Open(const std::string& path);
    void Close();

    bool IsFailed() const { return bFailed != 0; }
    double GetFrameRate() const;
    double GetMediaDuration() const;
    int64_t GetFrameCount() const;
    double PtsToSeconds(int64_t pts) const;
    int64_t PtsToFrame(int64_t pts) const;

    // Decodes the next picture; false at the end or after 512 packets without one.
    bool ReadFrame();
    // Positions the decoder shortly before frame n (clamped to the frame count),
    // backing off further (16, 24, 36, ... frames) until the picture decoded after
    // the seek lies before n.
    void SeekToFrame(int64_t n);
    // Decodes the picture shown at seconds and converts it; at or past the end of
    // the stream that is its last picture. False when there is none. out may be
    // null.
    bool GetFrameAt(double seconds, Picture* out = nullptr);
    // Converts the current decoded picture to BGRA at the output size.
    bool GetPicture(Picture& out);

    int64_t GetFrameIndex() const { return llFrameIndex; }
    int64_t GetFirstFrame() const { return llFirstFrame; }
    int64_t GetPts() const { return llPts; }
    bool HasPicture() const { return m_hasPicture; }
    int GetOutWidth() const { return nOutWidth; }
    int GetOutHeight() const { return nOutHeight; }
    int GetSourceWidth() const { return m_sourceWidth; }
    int GetSourceHeight() const { return m_sourceHeight; }

private:
    bool DecodePicture(bool countFrame);
    bool StepForward();
    void ResetState();
    AVStream* Stream() const;

    std::string strPath;
    int32_t bFailed = 0;
    int32_t nVideoStream = -1;
    int32_t nOutWidth = 0;
    int32_t nOutHeight = 0;
    int32_t bFlip = 0;
    int64_t llPts = AV_NOPTS_VALUE;
    int64_t llFrameIndex = 0;
    int64_t llFirstFrame = -1;

    velmora::ScopedFormatContext m_format;
    velmora::ScopedCodecContext m_codec;
    velmora::ScopedFrame m_frame;    // the picture held (what GetPicture converts)
    velmora::ScopedFrame m_decoded;  // where the decoder delivers the next one
    velmora::ScopedPacket m_packet;
    velmora::ScopedSwsContext m_scaler;
    velmora::ScopedAvBuffer m_picture;
    int m_pictureStride = 0;
    int m_requestedWidth = 0;
    int m_requestedHeight = 0;
    int m_sourceWidth = 0;
    int m_sourceHeight = 0;
    bool m_hasPicture = false;
    bool m_inputEnded = false;   // the decoder was sent its end-of-stream packet
};
