#pragma once

// The notice download thread: fetches the notice feed and the pictures of its first
// 20 notices into the staging folder (20 MB of pictures at most: a picture that would
// take a feed over that ends it there), and only when all of them have arrived puts
// them into the notice folder, removes the pictures of the feed it replaces, then
// says so (noticesChanged, emitted from this thread; connect it
// to a GUI object so the list is refilled on the GUI thread).
//
// One run per program start. The two flags are the only state the GUI thread
// touches: the stop request (RequestStop, set by the exit path) and the ended flag
// (HasEnded, set by the thread on every way out). A transfer notices the stop
// request within one chunk or 20 ms, whichever comes first, so the exit path waits
// briefly. A transfer that stops delivering for 30 s fails.
//
// A download counts only with a 2xx status, at least one byte, no more than its cap
// (feed 1 MB, picture 5 MB) and, where the server announced a length, all of it. A
// picture must be a PNG or JPEG by its content, of at most 4096 x 4096 pixels by its
// header (read before anything decodes it). Anything less leaves the notice folder
// exactly as it was.

#include <QString>
#include <QThread>

#include <atomic>

class QNetworkAccessManager;

class CKvNoticeThread : public QThread
{
    Q_OBJECT

public:
    // feedAddress: the feed's http or https address. stagingFolder and noticeFolder
    // end in "/"; the staging folder is created when needed.
    CKvNoticeThread(const QString& feedAddress, const QString& stagingFolder, const QString& noticeFolder,
                    QObject* parent = nullptr);
    ~CKvNoticeThread() override;

    void RequestStop() { m_stop.store(true); }
    bool StopRequested() const { return m_stop.load(); }
    bool HasEnded() const { return m_ended.load(); }

    // Downloads address into path (created or truncated) on the calling thread, which
    // must be able to run an event loop. Returns true only for a complete download as
    // described above; a failed download may leave a partial file behind. tooLarge
    // (when given) says whether it failed for holding more than maxBytes.
    static bool Download(QNetworkAccessManager& manager, const QString& address, const QString& path,
                         qint64 maxBytes, const std::atomic<bool>& stop, bool* tooLarge = nullptr);

signals:
    // The notice folder holds a new feed and its pictures.
    void noticesChanged();

protected:
    void run() override;

private:
    bool FetchAndSwap();

    QString m_feedAddress;
    QString m_stagingFolder;
    QString m_noticeFolder;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_ended{false};
};
