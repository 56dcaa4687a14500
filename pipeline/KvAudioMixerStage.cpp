#include "pipeline/KvAudioMixerStage.h"

namespace velmora {

CKvAudioMixerStage::CKvAudioMixerStage(int sampleRate, int channels)
{
    m_format.wFormatTag = 1;
    m_format.nChannels = static_cast<std::uint16_t>(channels);
    m_format.nSamplesPerSec = static_cast<std::uint32_t>(sampleRate);
    m_format.nBlockAlign = static_cast<std::uint16_t>(channels * 2);
    m_format.nAvgBytesPerSec = static_cast<std::uint32_t>(sampleRate * channels * 2);
    m_format.wBitsPerSample = 16;
}

HRESULT CKvAudioMixerStage::QueryInterface(const KvGuid& iid, void** object)
{
    if (object == nullptr)
        return E_POINTER;
    *object = nullptr;
    if (!(iid == IID_IKvAudioMixer))
        return E_NOINTERFACE;
    *object = static_cast<IKvAudioMixer*>(this);
    return S_OK;
}

HRESULT CKvAudioMixerStage::SetUserCallback(IKvAudioMixerUserCallback* callback)
{
    m_callback = callback;
    return S_OK;
}

void CKvAudioMixerStage::Process(std::int16_t* pcm, int frames, int capacityFrames)
{
    if (m_callback == nullptr)
        return;
    const int blockAlign = m_format.nBlockAlign;
    m_callback->MixAudioBuffer(0, frames * blockAlign, 0, pcm, &m_format, capacityFrames * blockAlign);
}

} // namespace velmora
