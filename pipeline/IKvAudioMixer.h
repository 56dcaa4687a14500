#pragma once

// The audio mixer stage ("Kv Audio Mixer") and the callback it calls.
//
// The stage sits between the time-line source and the output chain. For every PCM
// buffer, in stream order and on its streaming thread, it calls
// IKvAudioMixerUserCallback::MixAudioBuffer and then delivers the buffer downstream
// exactly as the callback left it. Buffers are one time-line frame long (1/30 s in
// a conversion, 1/15 s in a preview), interleaved signed 16-bit PCM, and the stage
// passes the stream on unchanged in format.
//
// The graph builder creates the stage, adds it to the graph, finds its pins
// "XForm In" and "XForm Out", queries it for IKvAudioMixer and hands it the callback
// with SetUserCallback, all before the graph runs. The callback object belongs to the
// graph owner, is not reference-counted (AddRef and Release return 0) and lives until
// the graph is torn down; the stage never deletes it.

#include "pipeline/KvComTypes.h"

#include <cstdint>

namespace velmora {

inline constexpr const char* kKvAudioMixerName = "Kv Audio Mixer";
inline constexpr const char* kKvMixerInputPin = "XForm In";
inline constexpr const char* kKvMixerOutputPin = "XForm Out";

} // namespace velmora

class IKvAudioMixerUserCallback : public velmora::IKvUnknown
{
public:
    // reserved: ignored. dataBytes: valid bytes in buffer. holdClock: non-zero when
    // these bytes must not advance the callback's clock. buffer: interleaved signed
    // 16-bit samples, rewritten in place. format: the stream's wave format.
    // bufferBytes: the buffer's capacity in bytes. Never fails (returns S_OK).
    virtual velmora::HRESULT MixAudioBuffer(std::int32_t reserved, std::int32_t dataBytes,
                                            std::int32_t holdClock, std::int16_t* buffer,
                                            const velmora::KvWaveFormat* format,
                                            std::int32_t bufferBytes) = 0;

protected:
    ~IKvAudioMixerUserCallback() = default;
};

// The stage's private interface (IID_IKvAudioMixer). Its one operation after the
// three IKvUnknown ones registers the callback (null unregisters it).
class IKvAudioMixer : public velmora::IKvUnknown
{
public:
    virtual velmora::HRESULT SetUserCallback(IKvAudioMixerUserCallback* callback) = 0;

protected:
    ~IKvAudioMixer() = default;
};
