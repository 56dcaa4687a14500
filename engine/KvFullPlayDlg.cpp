#include "engine/KvFullPlayDlg.h"

#include "common/KvProgramFolder.h"
#include "engine/KvEngineLog.h"

#include <QTimerEvent>
#include <cmath>

using namespace velmora;

CKvFullPlayDlg::CKvFullPlayDlg(tagKvJobBlock* jobBlock, tagKvEngineOptions& options, bool optionsLoaded,
                               const std::string& programFolder, QObject* parent)
    : CKvEngineJobDlg(jobBlock, programFolder, parent)
{
    // A preview has no list mode: it always plays the job project.
    const std::string projectPath = ProgramPath(m_programFolder, "tmp/kvengine.kvmmpj");
    tagKvOptionRecord option = options.Current();
    if (LoadJobProject(projectPath, options, optionsLoaded, true)) {
        option = m_project.option;
        m_duration = GetProjectDuration(&m_project);
        // Like a conversion: a source that is gone would play as silence.
        m_loadError = FindUnreadableSource();
    }

    KvConverterSetup setup;
    setup.project = &m_project;
    setup.jobBlock = m_block;
    setup.option = option;
    setup.programFolder = m_programFolder;
    m_pPlayer = std::make_unique<CKvTimeLinePlayer>(setup, this);
}

CKvFullPlayDlg::~CKvFullPlayDlg()
{
    Close();
}

void CKvFullPlayDlg::OnInitDialog()
{
    m_pPlayer->SetNotifyWindow(GraphNotice(), kGraphNotifyMessage);
    // The front end's bar: an audio preview draws nothing into it.
    const std::uint32_t window = LoadAcquire(m_block->hPreviewWnd);
    if (window != 0)
        m_pPlayer->SetOwnerWindow(window);
    m_startTimer = startTimer(kStartTimerMs);
}

void CKvFullPlayDlg::timerEvent(QTimerEvent* event)
{
    if (m_startTimer != 0 && event->timerId() == m_startTimer) {
        killTimer(m_startTimer);
        m_startTimer = 0;
        StartPlayback();
        return;
    }
    if (m_positionTimer != 0 && event->timerId() == m_positionTimer && m_pPlayer)
        StoreRelease(m_block->dPosition, m_pPlayer->GetPosition());
}

void CKvFullPlayDlg::StartPlayback()
{
    if (m_ended)
        return;
    m_positionTimer = startTimer(kPositionTimerMs);
    if (!m_loadError.empty()) {
        EndPlayback(true, m_loadError);
        return;
    }
    const HRESULT hr = m_pPlayer->Run();
    if (Failed(hr)) {
        const std::string why = m_pPlayer->LastError();
        EndPlayback(true, why.empty() ? std::string("the player cannot start") : why);
        return;
    }
    StoreRelease(m_block->nState, kKvJobRunning);
}

void CKvFullPlayDlg::OnGraphNotify()
{
    if (m_ended || !m_pPlayer)
        return;
    DrainGraphEvents(*m_pPlayer, [this](long code) {
        if (code == EC_COMPLETE) {
            EndPlayback(false, std::string());
            return;
        }
        const std::string why = m_pPlayer->LastError();
        EndPlayback(true, "playback stopped" + (why.empty() ? std::string() : ": " + why));
    });
}

void CKvFullPlayDlg::EndPlayback(bool failed, const std::string& reason)
{
    if (m_ended)
        return;
    m_ended = true;
    StopTimers();
    if (failed)
        AppendEngineLog(m_programFolder, "preview failed: " + reason);
    else
        StoreRelease(m_block->dPosition, m_pPlayer->GetPosition());
    // Let the device go before the front end hears of the end.
    m_pPlayer->TearDown();
    // The reason goes first: whoever sees nState = 0 also sees that it failed.
    if (failed)
        StoreRelease(m_block->bPlayFailed, 1);
    StoreRelease(m_block->nState, kKvJobIdle);
    Quit();
}

void CKvFullPlayDlg::Close()
{
    if (m_closed)
        return;
    m_closed = true;
    StopTimers();
    if (m_pPlayer)
        m_pPlayer->Pause();
    // Joins the streaming threads and closes the device: after this nobody in the
    // engine writes dPosition.
    m_pPlayer.reset();
    StoreRelease(m_block->nState, kKvJobIdle);
}
