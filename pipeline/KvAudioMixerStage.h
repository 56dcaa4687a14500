#pragma once

// The "Kv Audio Mixer" stage of both engine graphs: it hands every buffer of the
// time line to the registered callback (IKvAudioMixerUserCallback), which replaces
// the carrier's silence with the project's mix, and passes the buffer on unchanged
// in format. Without a callback the buffer passes untouched.
//
// The stage is a plain object of its graph owner; the callback belongs to the owner
// too and must outlive the registration (SetUserCallback(nullptr) drops it).

#include "pipeline/IKvAudioMixer.h"
#include "pipeline/KvComTypes.h"

#include <cstdint>

namespace velmora {

class CKvAudioMixerStage final : public IKvAudioMixer
{
public:
    // The stream's format: interleaved signed 16-bit PCM.
    explicit CKvAudioMixerStage(int sampleRate = 44100, int channels = 2);

    HRESULT QueryInterface(const KvGuid& iid, void** object) override;
    std::uint32_t AddRef() override { return 0; }
    std::uint32_t Release() override { return 0; }
    HRESULT SetUserCallback(IKvAudioMixerUserCallback* callback) override;

    // One buffer of frames valid frames with room for capacityFrames, rewritten in
    // place by the callback. Runs on the graph's streaming thread.
    void Process(std::int16_t* pcm, int frames, int capacityFrames);

    bool HasCallback() const { return m_callback != nullptr; }
    const KvWaveFormat& Format() const { return m_format; }

private:
    IKvAudioMixerUserCallback* m_callback = nullptr;
    KvWaveFormat m_format;
};

} // namespace velmora
