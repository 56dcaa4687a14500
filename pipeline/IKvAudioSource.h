#pragma once

// What the audio mixer needs from an item's sound: a reader that can be given a
// lead-in, positioned once, and then asked for consecutive blocks of stereo frames.
// The FFmpeg reader satisfies it (KvFFMpegAudioSource.h); tests use a fake.

#include "common/KvJobFailure.h"

#include <cstdint>
#include <memory>
#include <string>

namespace velmora {

class IKvAudioSource
{
public:
    virtual ~IKvAudioSource() = default;

    // Why the source can deliver no sound at all ("cannot be opened as media", "has
    // no sound track", ...); empty when it can.
    virtual std::string OpenError() const = 0;
    // What kind of failure OpenError is; a source that says nothing more is unreadable.
    virtual KvJobFailure OpenFailure() const
    {
        return OpenError().empty() ? KvJobFailure::None : KvJobFailure::SourceUnreadable;
    }
    // Time of the source's first audio, measured when it was opened (so asking costs
    // no second open); 0 when it has none.
    virtual double FirstAudioTime() = 0;
    // Seconds of silence in front of the source's first audio; call before Seek.
    virtual void SetLeadIn(double seconds) = 0;
    // Source time of the next frame handed out; negative times are silence.
    virtual void Seek(double seconds) = 0;
    // frames interleaved stereo frames at rate (frames per second of source time),
    // owned by the source and valid until the next call; missing audio is silence.
    // nullptr when nothing can be delivered now.
    virtual const std::int16_t* GetBuffer(int frames, int rate) = 0;
    // Frames at the front of the last GetBuffer that the source really held (its
    // audio, or the silence before it); the rest of that buffer was padding.
    virtual int LastDeliveredFrames() const = 0;
    // The source has handed out all it holds: nothing more will come.
    virtual bool IsExhausted() const = 0;
};

class IKvAudioSourceFactory
{
public:
    virtual ~IKvAudioSourceFactory() = default;

    // A reader on the sound track audioStream (the container's stream index; -1: the
    // first sound track) of path. A file that cannot be read, or has no sound track
    // there, still yields a reader, which answers with nothing; nullptr only when no
    // reader can be made at all. engineFrameRate: the time line's frames per second,
    // which bounds how far ahead of its position a reader may find its next audio.
    virtual std::unique_ptr<IKvAudioSource> Open(const std::string& path, double engineFrameRate,
                                                 int audioStream) = 0;
};

} // namespace velmora
