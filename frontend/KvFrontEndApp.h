#pragma once

// The application object of the front end: everything that must exist before the
// main window opens and everything that must be undone after it closes.
//
// Start-up: the program and tmp/ folders, the single-instance lock (a second start
// hands its files to the running instance and ends without touching anything), the
// work folder made (KvProgramFolder.h), tmp/ emptied of whatever a crashed run left, the colour set, the H.264 settings, the
// preset table and the decoder settings store, the job block (created and zeroed),
// then the main window, run modally. Shutdown: tmp/ emptied, the job block removed,
// the lock released. Emptying tmp/ spares the job folders of the engine slots that
// another front end (a "velmora --render" run) holds (EmptyWorkTmpFolder).

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <string>

class QLocalServer;
class CKvMainDlg;

namespace velmora {
class CKvJobBlockOwner;
}

// Empties folder (a path with or without its trailing "/"): every file, link and
// sub-folder inside it goes, the folder itself stays. Links are removed as links and
// never followed, and the walk never leaves the folder, so nothing outside it is
// deleted. Read-only files and folders are deleted too. Refuses (false) a path of 3
// characters or fewer, a path that is not an existing folder, and a folder that is
// itself a link. Stops at the first entry that cannot be removed and returns false.
// Names (directly inside folder) for which keep returns true stay, with their content.
bool DeleteFolderContents(const std::string& folder, const std::function<bool(const std::string&)>& keep = {});

class CKvLumoApp : public QObject
{
    Q_OBJECT

public:
    CKvLumoApp();
    ~CKvLumoApp() override;

    // Start-up up to (not including) the main window. Returns false when the program
    // must end: another instance holds the lock (IsSecondInstance(); files were handed
    // to it, or a message said that it does not answer), or the work folder or the job
    // block cannot be made (StartupError() says why and what to do; it was written to
    // stderr too).
    bool Startup(const QStringList& files = QStringList());
    // Start-up, then the main window run modally with files added as Add adds them.
    // A start-up that fails with a reason shows it in a message first. Always returns
    // 0: all work happens inside the main window.
    int InitInstance(const QStringList& files = QStringList());
    QString StartupError() const { return m_startupError; }
    // The message for a job block name that could not be created with errno error:
    // names the block as a file and says what stands in its way (another user's
    // leftover, a process of ours still holding it, the system) and what to do.
    static QString JobBlockFailureText(const std::string& name, int error);
    // Shutdown, unless this process is a second instance. Returns the exit code (0).
    int ExitInstance();

    bool IsSecondInstance() const { return m_secondInstance; }
    bool HoldsLock() const { return m_lockFd >= 0; }
    CKvMainDlg* MainWindow() const { return m_mainDlg.get(); }
    // Creates the main window (not shown); Startup must have succeeded.
    CKvMainDlg* CreateMainWindow();
    void DestroyMainWindow();

    // The name of the lock and of the hand-over channel for a program folder:
    // "{957BA7AB-A0E8-4BA2-A02C-6A832DA7846B}-" + the folder hash + "-" + the user id.
    static QString InstanceName(const std::string& programFolder);
    // Paths in the user's runtime folder.
    static QString LockPath(const std::string& programFolder);
    static QString ChannelPath(const std::string& programFolder);
    // How long a second start waits for the running instance to take its files.
    static constexpr int kHandOverMs = 2000;
    // Sends files (possibly none: the running window comes up) to the instance running
    // from programFolder; true when it answered that it took them, false when it did
    // not within timeoutMs.
    static bool HandOverFiles(const std::string& programFolder, const QStringList& files,
                              int timeoutMs = kHandOverMs);
    // What a second start says when the running instance does not answer.
    static QString NotAnsweringMessage(bool hadFiles);

signals:
    // Files another start handed over (already added to the main window when it exists).
    void filesHandedOver(const QStringList& files);

private:
    bool AcquireLock();
    void ReleaseLock();
    void ReportStartupFailure(const QString& text);
    void StartChannel();
    void OnFilesReceived(const QStringList& files);

    std::string m_programFolder;
    bool m_secondInstance = false;
    bool m_started = false;
    int m_lockFd = -1;
    std::unique_ptr<velmora::CKvJobBlockOwner> m_jobBlock;
    QLocalServer* m_channel = nullptr;
    std::unique_ptr<CKvMainDlg> m_mainDlg;
    QStringList m_pendingFiles;
    QString m_startupError;
};
