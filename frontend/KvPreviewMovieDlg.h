#pragma once

// The preview bar ("Preview Audio"): plays the selected row through the engine before
// it is converted. The front end plays nothing itself: it writes the row's job files,
// marks the job block as a play job and starts "kvengine", which plays the row to the
// sound device and reports its position through the block.
//
// The bar is a small always-on-top skinned dialog with a Play/Stop button (16), the
// time text "hh:mm:ss.t / hh:mm:ss.t" (17) and a progress bar (18). It follows one
// engine at a time, started by the bar itself and known by its process id:
//
//   starting  timer 2 (500 ms) and the spinner on its own thread, until the engine
//             plays (dPosition > 0.001) or the run is over
//   playing   timer 1 (100 ms): the time text and the progress follow dPosition
//   stopped   the run is over: nState = 0, bPlayFailed, or the engine is gone
//
// A run that fails (the engine cannot be started, bPlayFailed, an engine that ends
// without saying so) is told to the user with the engine's own reason where it gave
// one. Stop and closing the bar kill that engine by its process id and nothing else.

#include "ui/KvDialogBase.h"

#include "common/KvJobBlock.h"

#include <QPointer>
#include <QString>

#include <functional>
#include <string>
#include <sys/types.h>

class CKvButton;
class CKvProgress;
class CKvStatic;
class CKvWaitingThread;

namespace velmora {
class KvMediaList;
}

class CKvPreviewMovieDlg : public CKvDialogBase
{
    Q_OBJECT

public:
    static constexpr int kIdPlay = 16;
    static constexpr int kIdTime = 17;
    static constexpr int kIdProgress = 18;
    static constexpr int kFollowTimerId = 1;
    static constexpr int kFollowInterval = 100; // ms
    static constexpr int kStartTimerId = 2;
    static constexpr int kStartInterval = 500;  // ms
    static constexpr int kHeight = 70;
    static constexpr int kMinWidth = 320;
    // Shorter rows are refused: nothing worth hearing would play.
    static constexpr double kShortestPreview = 0.5;

    enum class Phase { Stopped, Starting, Playing };

    // The refusal of a row without a time line worth playing.
    static QString EmptyTimelineText();
    // seconds as "%02d:%02d:%02d.%01d" (hours, minutes, seconds, tenths) from whole
    // milliseconds; negative or not a number gives 0.
    static QString FormatTime(double seconds);

    // Previews row of list (the main window's Preview command): writes the job and
    // runs the bar modally. False when nothing was started: no such row, a row
    // without a time line (the empty-timeline message), or job files that cannot be
    // written (a message says so).
    static bool PreviewRow(velmora::KvMediaList& list, int row, QWidget* parent);
    // The part of PreviewRow before the bar: kills any engine of this program folder,
    // writes "tmp/kvengine.kvmmpj", "skin/h264.dat" and "tmp/option.dat" and fills the
    // job block's play fields. length receives the time-line length.
    static bool PrepareJob(velmora::KvMediaList& list, int row, QWidget* parent, double* length = nullptr);

    // The front end's job block and program folder come from KvFrontEndState.
    explicit CKvPreviewMovieDlg(QWidget* parent = nullptr);
    ~CKvPreviewMovieDlg() override;

    // Starts the engine for the bar: SpawnProgram(program folder + "kvengine") unless
    // replaced (tests start a stand-in). Returns its pid, or -1.
    using EngineStarter = std::function<pid_t()>;
    void SetEngineStarter(EngineStarter starter) { m_engineStarter = std::move(starter); }

    void OnInitDialog() override;
    void OnCommand(int id) override;
    // Closing: the spinner goes, the engine is killed, nState = 0.
    void OnCancel() override;
    bool InDragStrip(const QPoint& point) const override;

    Phase CurrentPhase() const { return m_phase; }
    bool IsWaiting() const { return !m_waiting.isNull(); }
    pid_t EnginePid() const { return m_enginePid; }
    QString TimeText() const;
    int ProgressValue() const;
    // What a click on the play button does now: "Play" or "Stop".
    QString PlayText() const { return m_playText; }
    // Why the last run failed; empty when it played (or was stopped).
    QString LastFailure() const { return m_lastFailure; }
    CKvButton* PlayButton() const;

signals:
    // A run is over: played to its end or stopped (failed false), or failed.
    void playEnded(bool failed);

protected:
    void CreateControls() override;
    void LayoutControls() override;
    void DrawFrame(QPainter& painter) override;
    void timerEvent(QTimerEvent* event) override;

private:
    void Play();
    void Stop();
    bool StartEngine(QString& reason);
    void KillEngine();
    void BeginWaiting();
    void EndWaiting();
    void StopTimers();
    void OnStartTimer();
    void OnFollowTimer();
    void EndPlaying(const QString& failure);
    void ShowPosition(double seconds);
    void SetPlayFace(bool playing);
    void WritePlayFields();

    velmora::tagKvJobBlock* m_block = nullptr;
    std::string m_programFolder;
    EngineStarter m_engineStarter;
    CKvButton* m_playButton = nullptr;
    CKvStatic* m_timeText = nullptr;
    CKvProgress* m_progress = nullptr;
    QPointer<CKvWaitingThread> m_waiting;
    Phase m_phase = Phase::Stopped;
    pid_t m_enginePid = -1;
    qint64 m_logOffset = 0;
    double m_duration = 0.0;
    int m_startTimer = 0;
    int m_followTimer = 0;
    QString m_playText;
    QString m_lastFailure;
};
