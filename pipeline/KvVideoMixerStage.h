#pragma once

// The "Kv Video Mixer" stage of the preview graph. For every time-line frame it
// hands an RGB32 frame of the output size to the registered callback
// (IKvVideoMixerUserCallback): RenderFrame to make the picture, then RenderOverlays
// to draw over it, and delivers the pixels as the callback left them to the frame
// sink behind it. The stage owns the frame buffer; the callback belongs to the graph
// owner and must outlive the registration.

#include "pipeline/IKvVideoMixer.h"
#include "pipeline/KvComTypes.h"

#include <cstdint>
#include <functional>
#include <vector>

namespace velmora {

class CKvVideoMixerStage : public IKvVideoMixer
{
public:
    // Gets every finished frame (on the stage's streaming thread).
    using FrameSink = std::function<void(const std::uint8_t* pixels, const KvBitmapInfoHeader& format)>;

    // Largest side the stage takes; anything larger (or not above 0) gives no frames.
    static constexpr int kMaxSide = 4096;

    CKvVideoMixerStage() = default;

    HRESULT QueryInterface(const KvGuid& iid, void** object) override;
    std::uint32_t AddRef() override { return 0; }
    std::uint32_t Release() override { return 0; }
    HRESULT SetUserCallback(IKvVideoMixerUserCallback* callback) override;

    // Sizes the frame buffer for width × height (rows top-down). False, with no
    // buffer, for a size the stage does not take.
    bool SetFrameSize(int width, int height);
    void SetSink(FrameSink sink) { m_sink = std::move(sink); }

    // One frame: the callbacks, then the sink. Nothing without a frame buffer.
    void Process(void* source);

    bool HasFrames() const { return !m_frame.empty(); }
    const KvBitmapInfoHeader& Format() const { return m_format; }

private:
    IKvVideoMixerUserCallback* m_callback = nullptr;
    FrameSink m_sink;
    KvBitmapInfoHeader m_format;
    std::vector<std::uint8_t> m_frame;
};

} // namespace velmora
