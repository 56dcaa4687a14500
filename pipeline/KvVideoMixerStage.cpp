#include "pipeline/KvVideoMixerStage.h"

namespace velmora {

HRESULT CKvVideoMixerStage::QueryInterface(const KvGuid& iid, void** object)
{
    if (object == nullptr)
        return E_POINTER;
    *object = nullptr;
    if (!(iid == IID_IKvVideoMixer))
        return E_NOINTERFACE;
    *object = static_cast<IKvVideoMixer*>(this);
    return S_OK;
}

HRESULT CKvVideoMixerStage::SetUserCallback(IKvVideoMixerUserCallback* callback)
{
    m_callback = callback;
    return S_OK;
}

bool CKvVideoMixerStage::SetFrameSize(int width, int height)
{
    m_frame.clear();
    m_frame.shrink_to_fit();
    m_format = KvBitmapInfoHeader{};
    if (width <= 0 || height <= 0 || width > kMaxSide || height > kMaxSide)
        return false;
    const std::size_t bytes = static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4;
    m_format.biWidth = width;
    m_format.biHeight = -height;
    m_format.biSizeImage = static_cast<std::uint32_t>(bytes);
    m_frame.assign(bytes, 0);
    return true;
}

void CKvVideoMixerStage::Process(void* source)
{
    if (m_frame.empty())
        return;
    const auto bytes = static_cast<std::int32_t>(m_frame.size());
    if (m_callback != nullptr) {
        m_callback->RenderFrame(source, 0, 0, &m_format, m_frame.data(), bytes);
        m_callback->RenderOverlays(nullptr, 0, 0, 0, m_frame.data(), 0, 1);
    }
    if (m_sink)
        m_sink(m_frame.data(), m_format);
}

} // namespace velmora
