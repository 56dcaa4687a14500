#pragma once

// The one window the user works in: the media list, the buttons that act on it,
// and the conversion queue. Render asks for a target folder and hands the rows that
// are not finished to the queue (KvRenderQueue), which converts them top to bottom,
// several at once, each by a fresh run of the engine; the window shows each row's
// progress and end in its State cell and locks the list while the queue runs.
// Nothing here makes the GUI thread wait: a stopped engine is killed and its partial
// output removed once the process has gone.

#include "frontend/KvFileDrop.h"
#include "frontend/KvFinishedOutputs.h"
#include "frontend/KvWindowMaximizer.h"
#include "ui/KvDialogBase.h"

#include <QString>
#include <QStringList>
#include <QUrl>

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
class KvDesktopOpener;
class KvMediaList;
class KvRenderQueue;
class KvSourceGatherer;
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
    // The selected row's output (finished rows' menu).
    static constexpr int kIdShowInFolder = 32;
    static constexpr int kIdPlayOutput = 33;
    // The selected row's file into its tracks.
    static constexpr int kIdSplitTracks = 34;

    static constexpr int kWidth = 1000;
    static constexpr int kHeight = 650;
    static constexpr int kCaptionHeight = 30;
    // The smallest size its edges resize it to: the buttons still side by side.
    static constexpr int kMinWidth = 640;
    static constexpr int kMinHeight = 400;

    explicit CKvMainDlg(QWidget* parent = nullptr);
    ~CKvMainDlg() override;

    void OnInitDialog() override;
    void OnCommand(int id) override;
    void OnNotify(int message, CKvButton* control, qint64 param) override;
    // The exit path (close button, "&Exit", window close). Esc never takes it: on the
    // main window Esc only cancels an edit or closes a popup.
    void OnCancel() override;
    // A stop signal (logout, a closed terminal, Ctrl-C): the exit path without its
    // question, with every dialog in front of the window closed unanswered.
    void EndOnStopSignal();
    bool InDragStrip(const QPoint& point) const override;
    bool CanResizeNow() const override;

    velmora::KvMediaList* MediaList() const { return m_mediaList.get(); }
    CKvListCtrl* ListControl() const { return m_list; }
    CKvADListBox* NoticeList() const { return m_noticeList; }
    CKvNoticeBoard* Notices() const { return m_notices.get(); }
    CKvButton* Control(int id) const;

    // Adds files as Add does; folders among them are walked as dropped folders are.
    // While the queue runs they wait and are added when it stops, so a running queue
    // never changes under the engine.
    void AddFiles(const QStringList& files);

    // Files and folders dropped on the window are added as Add adds them (folders
    // walked for media files in name order), with one message about what was left
    // out. A drop while an add runs joins that add. Why a drop now would be refused
    // (Render running, another of our windows open); empty when it would be taken.
    QString DropRefusal() const;
    // Folders are walked and the files read on a worker thread, with the waiting
    // dialog and its Stop after a moment (KvSourceGatherer); a Stop adds nothing.
    velmora::KvSourceGatherer* Gatherer() const { return m_gatherer.get(); }
    bool IsGathering() const;
    // What the window says over the list while something is dragged over it (empty
    // when nothing is).
    QString DropHint() const { return m_drop.Hint(); }

    // Puts the tracks of row's file in its place (its menu's "Split into N Tracks").
    void SplitRow(int row);
    // The finished rows' commands: the output shown in its folder, or played.
    void ShowOutputInFolder(int row);
    void PlayOutput(int row);
    // How folders and files are shown (the desktop's file manager and player by
    // default; tests set their own).
    void SetDesktopOpener(std::unique_ptr<velmora::KvDesktopOpener> opener);

    // The queue.
    bool IsIdle() const { return m_idle; }
    // Render: starts the queue after asking for the target folder, or stops it.
    void OnRender();
    // Starts the queue into folder as if the user had chosen it. The folder is
    // checked first (KvTargetFolder): one that cannot take the outputs is refused with
    // one message and no engine starts. Every row the run will convert is set to
    // "Ready" before it starts; up to "Parallel conversions" rows convert at once. False
    // when nothing starts (busy, empty list, no folder, folder refused, no engine slot).
    bool StartQueue(const QString& folder);
    // Render while busy: kills the engines, switches to idle (unfinished rows back to
    // "Ready") at once; their partial output is removed as soon as the processes have
    // gone.
    void StopQueue();
    // The conversion queue the window drives.
    velmora::KvRenderQueue* Queue() const { return m_queue.get(); }
    QString TargetFolder() const { return m_targetFolder; }
    bool IsMaximized() const { return m_maximizer.IsMaximized(); }

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
    void ShowMaximized(bool maximized);
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
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void changeEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    CKvButton* AddImageButton(int id, const char* image, const QString& tip);
    void SetBusy(bool busy);
    void AddWaitingFiles();
    // What the queue reports, shown in the list.
    void OnRowStarted(int index, const QString& output);
    void OnRowProgress(int index, double percent);
    void OnRowEnded(int index, bool finished, const QString& reason, const QString& detail);
    void OnRowSkipped(int index, const QString& output);
    void OnQueueStopped(bool completed);
    // Rows the next run converts (those not "Finish").
    std::vector<int> RowsToConvert() const;
    void ShowNoBrowser(const QUrl& page);
    void OpenMenu();
    void RunSettings();
    void ChooseInitialWindowsMedia();
    void LayoutListAndNotices(int width, int height);
    void OpenRowMenu(int row);
    // The row menu from the keyboard (Menu key, Shift+F10): below the row, first item active.
    void OpenRowMenuAtRow(int row);
    void OpenRowMenuAt(int row, const QPoint& at, bool fromKeyboard);
    // The window's own keys (Ctrl+O, Ctrl+R, Ctrl+., Ctrl+Q, F1, F10, Delete, Menu);
    // whether the key was one of them.
    bool OnShortcut(const QKeyEvent& event);
    // Stops Render after asking (Esc, Ctrl+. and the menu's Stop while it runs).
    void AskToStop();
    // The finished output of row when it is still there; tells the user when it is gone.
    // A message the window shows when asked later, unless it has gone by then.
    void AddDroppedFiles(const QList<QUrl>& urls);
    // Gathers paths on the worker and adds what was found.
    void GatherAndAdd(const QStringList& paths);
    // After a gathering: the files that came in meanwhile.
    void AddFilesWaitingForGathering();

    std::unique_ptr<velmora::KvMediaList> m_mediaList;
    CKvListCtrl* m_list = nullptr;
    CKvADListBox* m_noticeList = nullptr;
    std::unique_ptr<CKvNoticeBoard> m_notices;
    CKvMenuButton* m_menuButton = nullptr;
    std::unique_ptr<CKvMenuEx> m_menu;
    std::function<QString()> m_folderChooser;
    std::function<bool()> m_settingsRunner;

    bool m_idle = true;
    bool m_altAlone = false;
    velmora::KvWindowMaximizer m_maximizer{this};
    QString m_targetFolder;
    std::unique_ptr<velmora::KvRenderQueue> m_queue;
    QStringList m_waitingFiles;
    std::unique_ptr<velmora::KvSourceGatherer> m_gatherer;
    velmora::KvFileDrop m_drop{[this] { return DropRefusal(); }, [this] { update(); }};
    velmora::KvFinishedOutputs m_outputs{this, [this] { return m_mediaList.get(); }};
};
