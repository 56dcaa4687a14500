#include "frontend/KvFrontEndState.h"

namespace velmora {

KvFrontEndState& KvFrontEndState::Instance()
{
    static KvFrontEndState state;
    return state;
}

KvFrontEndState::KvFrontEndState()
{
    Reset(std::string());
}

void KvFrontEndState::Reset(const std::string& programFolder)
{
    m_programFolder = programFolder;
    if (!m_programFolder.empty() && m_programFolder.back() != '/')
        m_programFolder += '/';
    m_defaults = MakeFrontEndPresetTable();
    m_working = m_defaults;
    m_current = kKvDefaultPreset;
    m_outputWidth = 856;
    m_outputHeight = 480;
    m_h264 = tagKvH264Settings();
}

void KvFrontEndState::SetCurrentPreset(int index)
{
    if (index >= 0 && index < kKvPresetCount)
        m_current = index;
}

void KvFrontEndState::SetOutputSize(int width, int height)
{
    m_outputWidth = width;
    m_outputHeight = height;
}

bool KvFrontEndState::LoadH264()
{
    return LoadH264Settings(m_programFolder, m_h264);
}

bool KvFrontEndState::SaveH264() const
{
    return SaveH264Settings(m_programFolder, m_h264);
}

} // namespace velmora
