#pragma once

// The video mixer stage ("Kv Video Mixer") and the callback it calls.
//
// For every RGB32 frame of the output size, in stream order and on its streaming
// thread, the stage calls RenderFrame and then RenderOverlays, and delivers the
// pixels downstream as the callback left them. The graph builder registers the
// callback through IKvVideoMixer::SetUserCallback before the graph runs; the callback
// belongs to the graph owner, is not reference-counted and outlives the graph.

#include "pipeline/KvComTypes.h"

#include <cstdint>

namespace velmora {

inline constexpr const char* kKvVideoMixerName = "Kv Video Mixer";

} // namespace velmora

class IKvVideoMixerUserCallback : public velmora::IKvUnknown
{
public:
    // source: the stage's handle for this frame, kept for the renderer. format: the
    // frame's bitmap header. buffer: the frame's 32-bit pixels (bufferBytes long),
    // rewritten in place. Returns S_OK.
    virtual velmora::HRESULT RenderFrame(void* source, std::int32_t reserved1, std::int32_t reserved2,
                                         const velmora::KvBitmapInfoHeader* format,
                                         std::uint8_t* buffer, std::int32_t bufferBytes) = 0;

    // target: the drawing target of the overlay pass. pixels: the frame's pixels.
    // Does nothing when active is 0. Returns S_OK.
    virtual velmora::HRESULT RenderOverlays(void* target, std::int32_t reserved1, std::int32_t reserved2,
                                            std::int32_t reserved3, std::uint8_t* pixels,
                                            std::int32_t reserved4, std::int32_t active) = 0;

protected:
    ~IKvVideoMixerUserCallback() = default;
};

// The stage's private interface (IID_IKvVideoMixer). Its one operation after the
// three IKvUnknown ones registers the callback (null unregisters it).
class IKvVideoMixer : public velmora::IKvUnknown
{
public:
    virtual velmora::HRESULT SetUserCallback(IKvVideoMixerUserCallback* callback) = 0;

protected:
    ~IKvVideoMixer() = default;
};
