#pragma once

// Gathers what a drop on the window or another start of the program names, off the GUI
// thread: folders are walked for media files (CollectDroppedFiles, CollectNamedFiles)
// and every file found is read as the media list reads it (ProbeSource) on a worker
// thread, so a folder of ten thousand files never freezes the window. Gather runs the
// GUI thread's events until the worker is done; the list then only inserts the rows.
//
// For the first kDelayMs user input waits, as it does while a short add runs. Past
// that the waiting dialog shows what has been found ("Looking for media files… 1,234
// found"), then read ("Reading 120 of 10,000 files…"), with a Stop button; while it
// shows it is the one window that takes input. Stop (its button, Esc, or Stop here)
// ends the walk at the next entry, or the reading at the next file, and the gathering
// comes back with nothing.

#include "frontend/KvMediaFiles.h"

#include <QList>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>
#include <memory>
#include <vector>

class CKvWaitingDlg;
class QEventLoop;
class QWidget;

namespace velmora {

class KvSourceGatherer
{
public:
    static constexpr int kDelayMs = 300;

    struct Result
    {
        bool stopped = false;
        // Every file found, read, in walk order.
        std::vector<KvSourceProbe> sources;
        // What was left out on the way (web links, files without a media extension).
        std::vector<KvSkippedFile> skipped;
    };

    // parent: the window the waiting dialog belongs to.
    explicit KvSourceGatherer(QWidget* parent);
    // Stops a gathering under way and waits for its worker.
    ~KvSourceGatherer();
    KvSourceGatherer(const KvSourceGatherer&) = delete;
    KvSourceGatherer& operator=(const KvSourceGatherer&) = delete;

    // A drop's links; paths named by a command line. GUI thread; not re-entrant.
    Result Gather(const QList<QUrl>& urls);
    Result Gather(const QStringList& paths);
    // Ends the gathering under way (GUI thread): Gather comes back stopped.
    void Stop();
    bool IsGathering() const { return m_loop != nullptr; }
    // The waiting dialog while it shows.
    CKvWaitingDlg* Dialog() const;

    // What the dialog says.
    static QString WalkText(int found);
    static QString ReadText(int read, int total);

    // Runs on the worker before each folder entry and each file read (tests pace the
    // gathering with it, so it lasts long enough to be watched); empty for none.
    static void SetStepHookForTesting(std::function<void()> hook);

private:
    struct Work;
    Result Run(std::function<KvDroppedFiles(KvWalkControl*)> walk);
    void ShowDialog();
    void UpdateDialog();

    QWidget* m_parent = nullptr;
    std::shared_ptr<Work> m_work;
    QEventLoop* m_loop = nullptr;
    QPointer<CKvWaitingDlg> m_dialog;
};

} // namespace velmora
