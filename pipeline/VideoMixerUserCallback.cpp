#include "pipeline/VideoMixerUserCallback.h"

#include "common/KvProgramFolder.h"
#include "pipeline/AudioMixerUserCallback.h"
#include "pipeline/KvVideoConverter.h"
#include "project/KvEngineProject.h"

#include <algorithm>
#include <cstring>
#include <filesystem>

using namespace velmora;

namespace {

// A level record that is late by more than this is skipped for the frame, so a
// stalled audio branch never holds the picture.
constexpr int kLevelWaitMs = 100;

void RemakeFolder(const std::string& path)
{
    std::error_code error;
    std::filesystem::remove_all(path, error);
    std::filesystem::create_directories(path, error);
}

void EmptyFolder(const std::string& path)
{
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(path, error))
        std::filesystem::remove_all(entry.path(), error);
}

} // namespace

CVideoMixerUserCallback::CVideoMixerUserCallback(const KvVideoMixerSetup& setup)
    : m_setup(setup)
{
    if (m_setup.programFolder.empty())
        m_setup.programFolder = GetProgramFolder();
    m_clocks = setup.clocks ? setup.clocks : &m_ownClocks;
    m_vuMeter = setup.project != nullptr && setup.project->bHasVuMeter != 0;
    m_duration = GetProjectDuration(setup.project);
    if (setup.width > 0 && setup.height > 0)
        m_frameBytes = static_cast<std::size_t>(setup.width) * static_cast<std::size_t>(setup.height) * 4;
    // The renderer caches per-item pictures here; a crashed run may have left some.
    RemakeFolder(ProgramPath(m_setup.programFolder, "tmp/rwv/"));
    RemakeFolder(ProgramPath(m_setup.programFolder, "tmp/frameimage/"));
}

CVideoMixerUserCallback::~CVideoMixerUserCallback()
{
    EmptyFolder(ProgramPath(m_setup.programFolder, "tmp/rwv/"));
}

HRESULT CVideoMixerUserCallback::QueryInterface(const KvGuid&, void** object)
{
    if (object == nullptr)
        return E_POINTER;
    *object = static_cast<IKvVideoMixerUserCallback*>(this);
    return S_OK;
}

std::uint32_t CVideoMixerUserCallback::AddRef()
{
    return 0;
}

std::uint32_t CVideoMixerUserCallback::Release()
{
    return 0;
}

void CVideoMixerUserCallback::AllocateScratchFrame()
{
    m_scratch.assign(m_frameBytes, 0);
}

HRESULT CVideoMixerUserCallback::RenderFrame(void* source, std::int32_t, std::int32_t,
                                             const KvBitmapInfoHeader* format, std::uint8_t* buffer,
                                             std::int32_t bufferBytes)
{
    // No drawing context exists in this engine, so every frame is drawn the 2D way.
    if (buffer != nullptr && bufferBytes > 0)
        std::memset(buffer, 0, static_cast<std::size_t>(bufferBytes));

    const double t = m_owner != nullptr ? m_owner->GetPosition() : 0.0;
    m_renderTime.store(t, std::memory_order_release);
    m_clocks->playClock.store(t, std::memory_order_relaxed);
    m_history[m_historyNext] = t;
    m_historyNext = (m_historyNext + 1) % kHistoryLength;
    m_historyCount = std::min(m_historyCount + 1, kHistoryLength);
    if (m_setup.jobBlock != nullptr && LoadAcquire(m_setup.jobBlock->bPlayMode) != 0)
        RaiseJobPosition(*m_setup.jobBlock, t, m_duration);

    m_source = source;
    if (format != nullptr) {
        m_format = *format;
        m_format.biWidth = std::abs(m_format.biWidth);
        m_format.biHeight = std::abs(m_format.biHeight);
    }
    return S_OK;
}

HRESULT CVideoMixerUserCallback::RenderOverlays(void*, std::int32_t, std::int32_t, std::int32_t, std::uint8_t*,
                                                std::int32_t, std::int32_t active)
{
    if (active == 0)
        return S_OK;
    if (m_vuMeter)
        FetchLevels();
    return S_OK;
}

void CVideoMixerUserCallback::FetchLevels()
{
    if (!m_sharedLevels) {
        if (m_setup.levels != nullptr)
            m_setup.levels->GetLevels(m_left, m_right);
        return;
    }
    if (!m_levelMap.IsOpen()) {
        if (m_levelMapTried)
            return;
        m_levelMapTried = true;
        if (!m_levelMap.Open(m_setup.programFolder))
            return;
    }
    m_levelMap.ReadRecord(m_left, m_right, kLevelWaitMs);
}

std::vector<double> CVideoMixerUserCallback::RenderTimeHistory() const
{
    std::vector<double> times;
    const std::size_t first = (m_historyNext + kHistoryLength - m_historyCount) % kHistoryLength;
    for (std::size_t i = 0; i < m_historyCount; ++i)
        times.push_back(m_history[(first + i) % kHistoryLength]);
    return times;
}

void CVideoMixerUserCallback::GetLevels(std::int16_t left[kKvLevelSlices], std::int16_t right[kKvLevelSlices]) const
{
    std::copy(m_left, m_left + kKvLevelSlices, left);
    std::copy(m_right, m_right + kKvLevelSlices, right);
}
