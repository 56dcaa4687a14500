#include "frontend/KvPreviewMovieDlg.h"

#include "common/KvOptionRecord.h"
#include "common/KvProcess.h"
#include "frontend/KvFrontEndState.h"
#include "frontend/KvMediaList.h"
#include "frontend/KvMessageDlg.h"
#include "frontend/KvWaitingThread.h"
#include "project/KvEngineJob.h"
#include "project/KvJobProject.h"
#include "project/KvProjectWriter.h"
#include "ui/KvButton.h"
#include "ui/KvProgress.h"
#include "ui/KvStatic.h"
#include "ui/KvUIManager.h"
#include "ui/KvUiTypes.h"

#include <QGuiApplication>
#include <QLinearGradient>
#include <QPainter>
#include <QScreen>
#include <QTimerEvent>

#include <algorithm>
#include <cmath>
#include <sys/wait.h>
#include <utility>

using namespace velmora;

namespace {

const char* kPlayImage = "skin/btn/btnlyricplay.png";
const char* kStopImage = "skin/btn/btnstop.png";
// Line kind whose items alone do not make a time line worth playing.
constexpr int kLineCamera = 32;

bool HasPlayableItem(const tagKvProjectData& project)
{
    return std::any_of(project.lines.begin(), project.lines.end(), [](const auto& line) {
        return line->nLineType != kLineCamera && !line->items.empty();
    });
}

QString LogPath()
{
    return QString::fromStdString(KvFrontEndState::Instance().Path("tmp/kvengine.log"));
}

// The engine the last preview started, until it is known to be gone.
pid_t g_previewEngine = -1;

void ForgetPreviewEngine(pid_t pid)
{
    if (pid == g_previewEngine)
        g_previewEngine = -1;
}

// A child of ours that has not been reaped yet, so its pid cannot name another process.
bool IsUnreapedChild(pid_t pid)
{
    siginfo_t info {};
    return pid > 0 && waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0;
}

} // namespace

QString CKvPreviewMovieDlg::EmptyTimelineText()
{
    return QStringLiteral("The timeline is empty, please edit and try again!");
}

QString CKvPreviewMovieDlg::FormatTime(double seconds)
{
    // Far beyond any media, but small enough for the integer arithmetic below.
    constexpr double kLongest = 1e9;
    if (!(seconds > 0.0))
        seconds = 0.0;
    const auto ms = static_cast<long long>(std::min(seconds, kLongest) * 1000.0);
    return QString::asprintf("%02lld:%02lld:%02lld.%01lld", ms / 3600000, ms / 60000 % 60, ms / 1000 % 60,
                             ms % 1000 / 100);
}

bool CKvPreviewMovieDlg::PrepareJob(KvMediaList& list, int row, QWidget* parent, double* length)
{
    if (row < 0 || row >= list.RowCount())
        return false;
    KvFrontEndState& state = KvFrontEndState::Instance();
    const std::string& folder = state.ProgramFolder();
    std::unique_ptr<tagKvProjectData> project = BuildJobProject({list.JobRow(row)});
    const double duration = GetAudioLineDuration(project.get());
    if (!project || !HasPlayableItem(*project) || !(duration >= kShortestPreview)) {
        FreeProject(project, folder);
        KvMessageBox(EmptyTimelineText(), CKvMessageDlg::kStyleOk, parent);
        return false;
    }
    tagKvJobBlock* block = state.JobBlock();
    if (block == nullptr) {
        FreeProject(project, folder);
        KvMessageBox(QStringLiteral("The preview cannot start: the job block is not available."),
                     CKvMessageDlg::kStyleOk, parent);
        return false;
    }

    // One engine uses the block at a time: a preview engine of ours that still runs
    // goes first. Only that one: the engines of other slots (a command-line run of the
    // same user converting beside us) are not ours to end.
    const pid_t previous = std::exchange(g_previewEngine, -1);
    if (IsUnreapedChild(previous))
        KillProcessById(previous);

    tagKvProjectWriteOptions options;
    options.programFolder = folder;
    options.vensettingIndex = state.CurrentPresetIndex();
    bool written = WriteProject(project.get(), state.Path("tmp/kvengine.kvmmpj"), options);
    FreeProject(project, folder);
    state.SaveH264();
    const tagKvOptionRecord& record = state.CurrentRecord();
    written = WriteOptionFile(record, folder) && written;
    if (!written) {
        // An engine started now would play the files of an earlier job.
        KvMessageBox(QStringLiteral("The preview cannot start: the job files cannot be written in the tmp folder."),
                     CKvMessageDlg::kStyleOk, parent);
        return false;
    }

    block->bPreview = 1;
    block->bPlayMode = 1;
    StoreRelease(block->dPosition, 0.0);
    block->dDuration = duration;
    StoreRelease(block->bGraphRunning, 0);
    block->nPreset = record.nPreset;
    StoreRelease(block->nState, static_cast<std::int32_t>(kKvJobPreviewRequested));
    block->bConvertJob = 0;
    if (length != nullptr)
        *length = duration;
    return true;
}

bool CKvPreviewMovieDlg::PreviewRow(KvMediaList& list, int row, QWidget* parent)
{
    if (!PrepareJob(list, row, parent))
        return false;
    CKvPreviewMovieDlg bar(parent);
    bar.exec();
    return true;
}

CKvPreviewMovieDlg::CKvPreviewMovieDlg(QWidget* parent)
    : CKvDialogBase(parent)
{
    m_block = KvFrontEndState::Instance().JobBlock();
    m_programFolder = KvFrontEndState::Instance().ProgramFolder();
    m_engineStarter = [folder = m_programFolder] { return SpawnProgram(folder + "kvengine"); };
    setWindowTitle(QStringLiteral("Preview Audio"));
    setWindowFlags(windowFlags() | Qt::WindowStaysOnTopHint);
    const int outputWidth = KvFrontEndState::Instance().OutputWidth();
    resize(outputWidth >= kMinWidth - 2 ? outputWidth + 2 : kMinWidth, kHeight);
    m_duration = m_block != nullptr ? LoadAcquire(m_block->dDuration) : 0.0;
    m_playText = QStringLiteral("Stop");
}

CKvPreviewMovieDlg::~CKvPreviewMovieDlg()
{
    // However the bar goes, it takes its spinner and its engine with it.
    EndWaiting();
    StopTimers();
    KillEngine();
}

CKvButton* CKvPreviewMovieDlg::PlayButton() const
{
    return m_playButton;
}

void CKvPreviewMovieDlg::CreateControls()
{
    CKvDialogBase::CreateControls();
    OkButton()->Show(false, false);
    CancelButton()->Show(false, false);
    CloseButton()->SetToolTip(QStringLiteral("Close"));

    m_playButton = new CKvButton;
    m_playButton->LoadImage(CKvUIManager::ResolvePath(QString::fromLatin1(kStopImage)));
    m_playButton->SetFrameCount(4);
    m_playButton->SetToolTip(m_playText);
    Manager()->AddControl(kIdPlay, m_playButton, kTypeButton);

    m_timeText = new CKvStatic;
    m_timeText->SetAlignment(CKvButton::AlignLeft);
    m_timeText->SetCaption(FormatTime(0.0) + QStringLiteral(" / ") + FormatTime(m_duration));
    Manager()->AddControl(kIdTime, m_timeText, kTypeStatic);

    m_progress = new CKvProgress;
    m_progress->SetRange(0.0, 100.0);
    Manager()->AddControl(kIdProgress, m_progress, kTypeProgress);
}

void CKvPreviewMovieDlg::LayoutControls()
{
    CKvDialogBase::LayoutControls();
    const int w = width();
    const int h = height();
    if (m_playButton)
        m_playButton->Move(10, h - 35, 30, 30);
    if (m_timeText)
        m_timeText->Move(50, h - 28, 160, 22);
    if (m_progress)
        m_progress->Move(215, h - 23, std::max(0, w - 235), 6);
}

void CKvPreviewMovieDlg::OnInitDialog()
{
    CKvDialogBase::OnInitDialog();
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->geometry();
        move(std::max(0, area.center().x() - width() / 2), std::max(0, area.center().y() - height() / 2));
    }
    // The bar opens playing.
    WritePlayFields();
    Play();
}

void CKvPreviewMovieDlg::WritePlayFields()
{
    if (m_block == nullptr)
        return;
    // The engine is told which window is ours; an audio preview draws nothing into it.
    auto window = static_cast<std::uint32_t>(winId());
    StoreRelease(m_block->hPreviewWnd, window != 0 ? window : 1u);
    StoreRelease(m_block->bGraphRunning, 0);
    StoreRelease(m_block->bPlayFailed, 0);
}

bool CKvPreviewMovieDlg::InDragStrip(const QPoint& point) const
{
    // Everywhere but the buttons moves the bar, as its caption would.
    for (const CKvButton* button : {static_cast<const CKvButton*>(CloseButton()), static_cast<const CKvButton*>(OkButton()),
                                    static_cast<const CKvButton*>(m_playButton)}) {
        if (button != nullptr && button->Rect().contains(point))
            return false;
    }
    return true;
}

void CKvPreviewMovieDlg::DrawFrame(QPainter& painter)
{
    CKvDialogBase::DrawFrame(painter);
    const tagKvUiColors& colors = CKvUIManager::Colors();
    const int w = width();
    const int h = height();
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, false);
    QLinearGradient band(0, h - 40, 0, h - 1);
    band.setColorAt(0, ColorFromRef(colors.clrCtrlBK));
    band.setColorAt(1, ColorFromRef(colors.clrDlgBK));
    painter.fillRect(QRect(1, h - 40, w - 2, 39), band);
    if (h - 71 > 0)
        painter.fillRect(QRect(1, 31, w - 2, h - 71), ShiftColorRef(colors.clrCtrlBK, 30));
    painter.setPen(ColorFromRef(colors.clrDlgEdge));
    painter.drawLine(1, h - 40, w - 2, h - 40);
    painter.drawLine(0, 30, w - 1, 30);
    painter.restore();
}

// ---- Playing ----------------------------------------------------------------------

void CKvPreviewMovieDlg::OnCommand(int id)
{
    if (id != kIdPlay) {
        CKvDialogBase::OnCommand(id);
        return;
    }
    ShowPosition(0.0);
    if (m_phase != Phase::Stopped)
        Stop();
    else
        Play();
    Manager()->RedrawControl(m_playButton);
}

void CKvPreviewMovieDlg::Play()
{
    m_lastFailure.clear();
    // The engine of the last run may still be on its way out after saying it ended:
    // it goes before the block is filled, so it cannot write into the new run.
    KillEngine();
    if (m_block != nullptr) {
        m_block->bPreview = 1;
        StoreRelease(m_block->dPosition, 0.0);
        m_block->bPlayMode = 1;
        m_block->bConvertJob = 0;
        WritePlayFields();
        StoreRelease(m_block->nState, static_cast<std::int32_t>(kKvJobPreviewRequested));
    }
    QString reason;
    if (!StartEngine(reason)) {
        if (m_block != nullptr)
            StoreRelease(m_block->nState, static_cast<std::int32_t>(kKvJobIdle));
        EndPlaying(reason);
        return;
    }
    m_phase = Phase::Starting;
    SetPlayFace(true);
    BeginWaiting();
    m_startTimer = startTimer(kStartInterval);
}

void CKvPreviewMovieDlg::Stop()
{
    EndWaiting();
    StopTimers();
    KillEngine();
    if (m_block != nullptr)
        StoreRelease(m_block->nState, static_cast<std::int32_t>(kKvJobIdle));
    m_phase = Phase::Stopped;
    SetPlayFace(false);
    emit playEnded(false);
}

bool CKvPreviewMovieDlg::StartEngine(QString& reason)
{
    if (m_block == nullptr) {
        reason = QStringLiteral("The preview cannot start: the job block is not available.");
        return false;
    }
    m_logOffset = EngineLogSize(LogPath().toStdString());
    m_enginePid = m_engineStarter ? m_engineStarter() : -1;
    if (m_enginePid <= 0) {
        m_enginePid = -1;
        reason = QStringLiteral("The preview program \"kvengine\" could not be started.");
        return false;
    }
    g_previewEngine = m_enginePid;
    return true;
}

void CKvPreviewMovieDlg::KillEngine()
{
    if (m_enginePid > 0)
        KillProcessById(m_enginePid);
    ForgetPreviewEngine(m_enginePid);
    m_enginePid = -1;
}

void CKvPreviewMovieDlg::BeginWaiting()
{
    EndWaiting();
    m_waiting = CKvWaitingThread::Begin();
}

void CKvPreviewMovieDlg::EndWaiting()
{
    if (m_waiting)
        m_waiting->PostThreadMessage(CKvWaitingThread::kMsgClose);
    m_waiting.clear();
}

void CKvPreviewMovieDlg::StopTimers()
{
    if (m_startTimer != 0)
        killTimer(m_startTimer);
    if (m_followTimer != 0)
        killTimer(m_followTimer);
    m_startTimer = 0;
    m_followTimer = 0;
}

void CKvPreviewMovieDlg::timerEvent(QTimerEvent* event)
{
    if (m_startTimer != 0 && event->timerId() == m_startTimer) {
        OnStartTimer();
        return;
    }
    if (m_followTimer != 0 && event->timerId() == m_followTimer) {
        OnFollowTimer();
        return;
    }
    CKvDialogBase::timerEvent(event);
}

void CKvPreviewMovieDlg::OnStartTimer()
{
    // The engine plays once it has a position; every way a run can be over also ends
    // the waiting, so the spinner never outlives the engine.
    const bool playing = LoadAcquire(m_block->dPosition) > 0.001;
    const bool over = LoadAcquire(m_block->bPlayFailed) != 0 || LoadAcquire(m_block->nState) == kKvJobIdle
        || !IsProcessAlive(m_enginePid);
    if (!playing && !over)
        return;
    killTimer(m_startTimer);
    m_startTimer = 0;
    EndWaiting();
    m_phase = Phase::Playing;
    m_followTimer = startTimer(kFollowInterval);
    OnFollowTimer();
}

void CKvPreviewMovieDlg::OnFollowTimer()
{
    if (LoadAcquire(m_block->bPlayFailed) != 0) {
        const QString logged = QString::fromStdString(EngineLogReason(LogPath().toStdString(), m_logOffset))
                                   .remove(QStringLiteral("preview failed: "));
        EndPlaying(QStringLiteral("The preview could not be played")
                   + (logged.isEmpty() ? QStringLiteral(".") : QStringLiteral(": ") + logged));
        return;
    }
    if (LoadAcquire(m_block->nState) == kKvJobIdle) {
        EndPlaying(QString());
        return;
    }
    if (!IsProcessAlive(m_enginePid)) {
        // Gone without a word: whatever the block says, nothing plays any more.
        ForgetPreviewEngine(m_enginePid);
        m_enginePid = -1;
        StoreRelease(m_block->nState, static_cast<std::int32_t>(kKvJobIdle));
        const QString logged = QString::fromStdString(EngineLogReason(LogPath().toStdString(), m_logOffset));
        EndPlaying(QStringLiteral("The preview program ended before the preview was over")
                   + (logged.isEmpty() ? QStringLiteral(".") : QStringLiteral(": ") + logged));
        return;
    }
    ShowPosition(LoadAcquire(m_block->dPosition));
}

void CKvPreviewMovieDlg::EndPlaying(const QString& failure)
{
    StopTimers();
    EndWaiting();
    m_phase = Phase::Stopped;
    SetPlayFace(false);
    ShowPosition(0.0);
    m_lastFailure = failure;
    emit playEnded(!failure.isEmpty());
    if (!failure.isEmpty())
        KvMessageBox(failure, CKvMessageDlg::kStyleOk, this);
}

void CKvPreviewMovieDlg::SetPlayFace(bool playing)
{
    m_playText = playing ? QStringLiteral("Stop") : QStringLiteral("Play");
    if (m_playButton == nullptr)
        return;
    m_playButton->LoadImage(CKvUIManager::ResolvePath(QString::fromLatin1(playing ? kStopImage : kPlayImage)));
    m_playButton->SetToolTip(m_playText);
    Manager()->RedrawControl(m_playButton);
}

void CKvPreviewMovieDlg::ShowPosition(double seconds)
{
    if (m_timeText != nullptr) {
        m_timeText->SetCaption(FormatTime(seconds) + QStringLiteral(" / ") + FormatTime(m_duration));
        Manager()->RedrawControl(m_timeText);
    }
    if (m_progress != nullptr && m_duration > 0.0) {
        const double percent = std::isfinite(seconds) ? seconds * 100.0 / m_duration : 0.0;
        m_progress->SetPos(std::clamp(percent, 0.0, 100.0));
    }
}

QString CKvPreviewMovieDlg::TimeText() const
{
    return m_timeText != nullptr ? m_timeText->GetCaption() : QString();
}

int CKvPreviewMovieDlg::ProgressValue() const
{
    return m_progress != nullptr ? static_cast<int>(std::lround(m_progress->Pos())) : 0;
}

void CKvPreviewMovieDlg::OnCancel()
{
    EndWaiting();
    StopTimers();
    KillEngine();
    if (m_block != nullptr && m_phase != Phase::Stopped)
        StoreRelease(m_block->nState, static_cast<std::int32_t>(kKvJobIdle));
    m_phase = Phase::Stopped;
    CKvDialogBase::OnCancel();
}
