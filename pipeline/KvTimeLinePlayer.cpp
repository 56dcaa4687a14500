#include "pipeline/KvTimeLinePlayer.h"

#include <chrono>
#include <cmath>

using namespace velmora;

namespace {

// How often a waiting picture looks at the play position again.
constexpr auto kPictureWait = std::chrono::milliseconds(10);

} // namespace

CKvTimeLinePlayer::CKvTimeLinePlayer(const KvConverterSetup& setup, void* ownerDialog)
    : CKvVideoConverter(setup)
    , m_ownerDialog(ownerDialog)
{
    KvVideoMixerSetup video;
    video.project = Setup().project;
    video.jobBlock = Setup().jobBlock;
    video.programFolder = Setup().programFolder;
    video.clocks = &AudioCallback().Clocks();
    video.levels = &AudioCallback();
    video.width = Setup().option.nWidth;
    video.height = Setup().option.nHeight;
    m_videoCallback = std::make_unique<CVideoMixerUserCallback>(video);
}

CKvTimeLinePlayer::~CKvTimeLinePlayer()
{
    TearDown();
}

HRESULT CKvTimeLinePlayer::SetOwnerWindow(std::uint32_t window)
{
    m_ownerWindow = window;
    return S_OK;
}

KvGraphState CKvTimeLinePlayer::GetState() const
{
    if (!m_hasGraph)
        return kKvGraphNone;
    if (!m_started || m_ended.load())
        return kKvGraphStopped;
    if (m_held)
        return m_stopped ? kKvGraphStopped : kKvGraphPaused;
    return kKvGraphRunning;
}

double CKvTimeLinePlayer::GetPosition() const
{
    if (!m_hasGraph)
        return 0.0;
    const double played = static_cast<double>(m_sink.FramesPlayed()) / kSampleRate;
    return std::min(m_startPosition + played, m_duration);
}

double CKvTimeLinePlayer::GetDuration() const
{
    return m_duration;
}

HRESULT CKvTimeLinePlayer::BuildPreviewGraph()
{
    // Every audio buffer covers one picture frame, and the readers hold back by the
    // frame length: both follow the preview's frame rate.
    AudioCallback().Clocks().frameRate.store(kFrameRate);
    const double duration = GetProjectDuration(Setup().project);
    if (!std::isfinite(duration) || duration <= 0.0)
        return Fail(-1, "the time line is empty (" + std::to_string(duration) + " s)");
    TearDown();
    // As in a conversion: a source without sound would play as silence.
    std::string why;
    if (!AudioCallback().OpenSources(why))
        return Fail(-1, why);
    m_duration = duration;

    m_videoCallback->SetOwner(this);
    m_videoCallback->SetSharedLevels(false);
    m_videoCallback->AllocateScratchFrame();
    AudioCallback().SetStartOffset(m_startPosition);
    AudioCallback().SetOwner(this);

    // The picture branch: frames of the output size into a sink that draws nothing.
    m_framesRendered = 0;
    if (m_videoStage.SetFrameSize(Setup().option.nWidth, Setup().option.nHeight)) {
        void* mixer = nullptr;
        if (Succeeded(m_videoStage.QueryInterface(IID_IKvVideoMixer, &mixer)))
            static_cast<IKvVideoMixer*>(mixer)->SetUserCallback(m_videoCallback.get());
        m_videoStage.SetSink([this](const std::uint8_t*, const KvBitmapInfoHeader&) { ++m_framesRendered; });
    }

    if (!m_sink.Open(kSampleRate, kChannels, kQueueFrames)) {
        m_videoStage.SetFrameSize(0, 0);
        return Fail(-1, m_sink.LastError());
    }
    void* mixer = nullptr;
    const HRESULT query = m_audioStage.QueryInterface(IID_IKvAudioMixer, &mixer);
    if (Failed(query)) {
        m_sink.Close();
        m_videoStage.SetFrameSize(0, 0);
        return Fail(query, "the audio mixer stage cannot take the mix");
    }
    static_cast<IKvAudioMixer*>(mixer)->SetUserCallback(&AudioCallback());

    m_hasGraph = true;
    if (Setup().jobBlock != nullptr)
        StoreRelease(Setup().jobBlock->bGraphRunning, 1);
    return S_OK;
}

HRESULT CKvTimeLinePlayer::StartStreams()
{
    m_tearingDown = false;
    m_ended = false;
    m_endResult = 0;
    m_held = false;
    m_stopped = false;
    const std::int64_t total = CKvTimeLineSource::TotalFrames(m_duration - m_startPosition, kSampleRate);
    const std::int64_t pictures =
        HasPictureBranch() ? CKvTimeLineSource::BufferCount(total, kFrameRate, kSampleRate) : 0;
    m_branchesLeft = pictures > 0 ? 2 : 1;

    const bool started = m_source.Start(
        m_duration - m_startPosition, kFrameRate, kSampleRate,
        [this](std::int16_t* pcm, int frames, int capacity) {
            m_audioStage.Process(pcm, frames, capacity);
            return m_sink.Write(pcm, frames) ? 0 : -1;
        },
        [this](int result) {
            if (result >= 0 && !m_sink.Drain())
                result = -1;
            BranchEnded(result, m_sink.LastError());
        });
    if (!started)
        return Fail(-1, "the time line cannot be streamed");
    if (pictures > 0) {
        m_pictureStop = false;
        m_pictureHeld = false;
        m_pictures = std::thread(&CKvTimeLinePlayer::RunPictures, this, pictures);
    }
    m_started = true;
    return S_OK;
}

void CKvTimeLinePlayer::RunPictures(std::int64_t frames)
{
    for (std::int64_t k = 0; k < frames; ++k) {
        // A frame is shown when the sound reaches its start, as a renderer that
        // follows the audio clock would show it.
        const double due = m_startPosition + static_cast<double>(k) / kFrameRate;
        {
            std::unique_lock<std::mutex> lock(m_pictureLock);
            for (;;) {
                if (m_pictureStop)
                    return;
                if (!m_pictureHeld && GetPosition() + 1e-9 >= due)
                    break;
                m_pictureWake.wait_for(lock, kPictureWait);
            }
        }
        m_videoStage.Process(nullptr);
    }
    BranchEnded(0);
}

void CKvTimeLinePlayer::BranchEnded(int result, const std::string& why)
{
    if (m_tearingDown)
        return;
    if (result < 0) {
        if (!m_ended.exchange(true)) {
            m_endResult = result;
            Fail(result, why.empty() ? std::string("the sound device stopped playing") : why);
            PostEvent(EC_ERRORABORT, result);
        }
        return;
    }
    if (m_branchesLeft.fetch_sub(1) == 1 && !m_ended.exchange(true))
        PostEvent(EC_COMPLETE);
}

void CKvTimeLinePlayer::HoldStreams(bool hold)
{
    if (hold) {
        // The buffer in flight goes to the device first, which still plays, so the
        // source can come to rest; then the device stops taking samples.
        m_source.Pause();
        m_sink.SetPaused(true);
        std::lock_guard<std::mutex> lock(m_pictureLock);
        m_pictureHeld = true;
        return;
    }
    m_sink.SetPaused(false);
    {
        std::lock_guard<std::mutex> lock(m_pictureLock);
        m_pictureHeld = false;
    }
    m_pictureWake.notify_all();
    m_source.Resume();
}

HRESULT CKvTimeLinePlayer::Run()
{
    switch (GetState()) {
    case kKvGraphRunning:
        return S_OK;
    case kKvGraphPaused:
    case kKvGraphStopped:
        if (!m_started)
            return StartStreams();
        if (m_ended) {
            // A graph at its end stays there; tell the owner again rather than
            // leaving it waiting.
            if (m_endResult < 0)
                return m_endResult;
            PostEvent(EC_COMPLETE);
            return S_OK;
        }
        HoldStreams(false);
        m_held = false;
        m_stopped = false;
        return S_OK;
    case kKvGraphNone:
    default:
        break;
    }
    const HRESULT built = BuildPreviewGraph();
    if (Setup().jobBlock != nullptr && LoadAcquire(Setup().jobBlock->bGraphRunning) == 0)
        StoreRelease(Setup().jobBlock->bPlayFailed, 1);
    if (Failed(built))
        return built;
    return StartStreams();
}

HRESULT CKvTimeLinePlayer::Pause()
{
    if (GetState() != kKvGraphRunning)
        return S_OK;
    HoldStreams(true);
    m_held = true;
    m_stopped = false;
    return S_OK;
}

HRESULT CKvTimeLinePlayer::Stop()
{
    const KvGraphState state = GetState();
    if (state != kKvGraphRunning && state != kKvGraphPaused)
        return S_OK;
    if (!m_held)
        HoldStreams(true);
    m_held = true;
    m_stopped = true;
    return S_OK;
}

void CKvTimeLinePlayer::StopPictures()
{
    {
        std::lock_guard<std::mutex> lock(m_pictureLock);
        m_pictureStop = true;
    }
    m_pictureWake.notify_all();
    if (m_pictures.joinable())
        m_pictures.join();
}

HRESULT CKvTimeLinePlayer::TearDown()
{
    // Whatever the streams report while they are being stopped is not an event.
    m_tearingDown = true;
    m_sink.Abort();
    m_source.Stop();
    StopPictures();
    m_sink.Close();
    m_audioStage.SetUserCallback(nullptr);
    m_videoStage.SetUserCallback(nullptr);
    m_videoStage.SetFrameSize(0, 0);
    m_hasGraph = false;
    m_started = false;
    m_held = false;
    m_stopped = false;
    m_branchesLeft = 0;
    return CKvVideoConverter::TearDown();
}
