#pragma once

// The one window the user works in: the media list, the buttons that act on it,
// and the conversion queue. Render asks for a target folder and converts the rows
// top to bottom, each by a fresh run of the engine: the window writes the job files
// into tmp/, fills the job block, starts "kvengine" and polls the block once a
// second (and at once when the engine process ends) for the row's progress and end.
// Nothing here makes the GUI thread wait: a stopped engine is killed and its partial
// output removed once the process has gone, watched by a timer.

#include "ui/KvDialogBase.h"

#include <QString>
#include <QStringList>
#include <QUrl>

#include <sys/types.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

class CKvADListBox;
class CKvButton;
class CKvListCtrl;
class CKvMenuButton;
class CKvMenuEx;
class CKvNoticeBoard;

namespace velmora {
class KvMediaList;
}

class CKvMainDlg : public CKvDialogBase
{
    Q_OBJECT

public:
    // Command identifiers of the controls.
    static constexpr int kIdMenu = 31;
    static constexpr int kIdClose = 2;
    static constexpr int kIdMaximize = 16;
    static constexpr int kIdMinimize = 17;
    static constexpr int kIdHelp = 30;
    static constexpr int kIdAdd = 18;
    static constexpr int kIdRemove = 19;
    static constexpr int kIdRemoveAll = 20;
    static constexpr int kIdMoveUp = 21;
    static constexpr int kIdMoveDown = 22;
    static constexpr int kIdPreview = 23;
    static constexpr int kIdSettings = 24;
    static constexpr int kIdRender = 25;
    static constexpr int kIdMediaList = 26;
    static constexpr int kIdNoticeList = 27;
    static constexpr int kIdMenuExit = 11;

    static constexpr int kWidth = 1000;
    static constexpr int kHeight = 650;
    static constexpr int kCaptionHeight = 30;
    static constexpr int kPollTimerId = 1;
    static constexpr int kPollInterval = 1000;   // ms
    static constexpr int kWatchInterval = 50;    // ms, engine liveness
    // How long an engine that has reported its end may take to exit before it is
    // killed, so a stuck engine never holds the queue.
    static constexpr int kExitGraceMs = 10000;
    // File-system limit for one name, in bytes.
    static constexpr int kMaxNameBytes = 255;

    explicit CKvMainDlg(QWidget* parent = nullptr);
    ~CKvMainDlg() override;

    void OnInitDialog() override;
    void OnCommand(int id) override;
    void OnNotify(int message, CKvButton* control, qint64 param) override;
    // The exit path (close button, "&Exit", window close). Esc never takes it: on the
    // main window Esc only cancels an edit or closes a popup.
    void OnCancel() override;
    bool InDragStrip(const QPoint& point) const override;

    velmora::KvMediaList* MediaList() const { return m_mediaList.get(); }
    CKvListCtrl* ListControl() const { return m_list; }
    CKvADListBox* NoticeList() const { return m_noticeList; }
    CKvNoticeBoard* Notices() const { return m_notices.get(); }
    CKvButton* Control(int id) const;

    // Adds files as Add does. While the queue runs they wait and are added when it
    // stops, so a running queue never changes under the engine.
    void AddFiles(const QStringList& files);

    // The queue.
    bool IsIdle() const { return m_idle; }
    // Render: starts the queue after asking for the target folder, or stops it.
    void OnRender();
    // Starts the queue into folder as if the user had chosen it. The folder is
    // checked first (KvTargetFolder): one that cannot take the outputs is refused with
    // one message and no engine starts. Every row the run will convert is set to
    // "Ready" before it starts. False when nothing starts (busy, empty list, no
    // folder, folder refused).
    bool StartQueue(const QString& folder);
    // Render while busy: kills the engine, switches to idle (unfinished rows back to
    // "Ready") at once; the engine's partial output is removed as soon as the process
    // has gone.
    void StopQueue();
    // Engines that were killed and have not yet been seen to end.
    int DyingEngineCount() const { return int(m_dyingEngines.size()); }
    // One poll of the job block (the 1000 ms timer and the engine's end).
    void PollQueue();

    int OutputCounter() const { return m_outputCounter; }
    QString TargetFolder() const { return m_targetFolder; }
    QString OutputExtension() const { return m_outputExtension; }
    int CurrentRow() const { return m_currentRow; }
    double CurrentDuration() const { return m_currentDuration; }
    pid_t EnginePid() const { return m_enginePid; }
    QString CurrentOutput() const { return m_currentOutput; }
    bool IsMaximized() const { return m_maximized; }
    // (row file, short reason) of the rows that failed in the last run.
    const std::vector<std::pair<QString, QString>>& Failures() const { return m_failures; }

    // The file an engine writes while it converts into output, renamed to output only
    // when complete. The one place that knows the name.
    static QString PartialOutputPath(const QString& output);
    // Removes what an engine that did not finish left of output.
    static void RemovePartialOutput(const QString& output);

    // The output file for a source: folder + "(output%03d)" + base name + extension.
    // counter is advanced first and then again while the name (or its partial file)
    // is taken in folder; the base name is shortened by whole characters so the
    // partial file's name stays within 255 bytes. folder ends in "/".
    static QString BuildOutputPath(const QString& folder, const QString& sourcePath,
                                   const QString& extension, int& counter);

    // Where the target folder comes from (the folder picker by default; tests set
    // their own). An empty result cancels.
    void SetFolderChooser(std::function<QString()> chooser) { m_folderChooser = std::move(chooser); }
    // The settings dialog (the output settings dialog by default); returns whether it
    // ended with OK.
    void SetSettingsRunner(std::function<bool()> runner) { m_settingsRunner = std::move(runner); }
    // Help: writes the how-to page and opens it in the default browser; when no
    // browser opens, a message gives its address.
    void OpenHelp();
    static QString HelpPagePath();

    // Window commands.
    void Maximize();
    void Restore();
    void Minimize();

signals:
    // The queue switched to idle (finished, stopped or nothing to do).
    void queueStopped();
    // A row ended: finished (true) or failed (false).
    void rowEnded(int row, bool finished);

protected:
    void CreateControls() override;
    void LayoutControls() override;
    void DrawFrame(QPainter& painter) override;
    void timerEvent(QTimerEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void changeEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    CKvButton* AddImageButton(int id, const char* image, const QString& tip);
    void SetBusy(bool busy);
    void AddWaitingFiles();
    // Converts row and, when it cannot be started, the rows after it; switches to
    // idle when no row is left.
    void ConvertFrom(int row);
    // Prepares and starts the engine for row. Returns false (with reason) when the
    // row cannot be started.
    bool StartRow(int row, QString& reason);
    void EndCurrentRow();
    void FailRow(int row, const QString& reason, const QString& detail = QString());
    void FinishQueue();
    QString EngineLogReason() const;
    // Kills the running engine without waiting for it; its partial file goes once
    // the process has ended (ReapEngines).
    void KillEngine();
    void ReapEngines();
    // Rows the next run converts (those not "Finish").
    std::vector<int> RowsToConvert() const;
    void ShowNoBrowser(const QUrl& page);
    void OpenMenu();
    void RunSettings();
    void ChooseInitialWindowsMedia();
    void LayoutListAndNotices(int width, int height);

    std::unique_ptr<velmora::KvMediaList> m_mediaList;
    CKvListCtrl* m_list = nullptr;
    CKvADListBox* m_noticeList = nullptr;
    std::unique_ptr<CKvNoticeBoard> m_notices;
    CKvMenuButton* m_menuButton = nullptr;
    std::unique_ptr<CKvMenuEx> m_menu;
    std::function<QString()> m_folderChooser;
    std::function<bool()> m_settingsRunner;

    bool m_idle = true;
    bool m_inPoll = false;
    bool m_maximized = false;
    QRect m_normalGeometry;
    int m_outputCounter = 0;
    QString m_targetFolder;
    QString m_outputExtension;
    int m_currentRow = 0;
    double m_currentDuration = 0.0;
    QString m_currentOutput;
    pid_t m_enginePid = -1;
    qint64 m_logOffset = 0;
    qint64 m_endSeenAt = -1; // ms since epoch when nState 0 was first seen
    int m_pollTimer = 0;
    int m_watchTimer = 0;
    int m_reapTimer = 0;
    struct DyingEngine
    {
        pid_t pid;
        QString output;
    };
    std::vector<DyingEngine> m_dyingEngines;
    std::vector<std::pair<QString, QString>> m_failures;
    QStringList m_waitingFiles;
};
