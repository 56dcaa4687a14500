#pragma once

// The online notices of the main window and the first-run report.
//
// The notices shown are the last complete download, kept in "skin/internet/" (the
// feed "msg.xml" and its pictures), so they show at the next start even without a
// network. Each start fetches the feed again on a background thread into
// "tmp/link/" and, when the feed and all its pictures have arrived, puts them into
// "skin/internet/" and refills the list on the GUI thread.
//
// The notice host is a setting: the "host" attribute of the root element "Notices"
// of "skin/notices.xml", an http or https address such as
// "https://notices.example.org" (a bare host name means https). It is empty as
// shipped; with no host nothing is fetched and the first-run report starts nothing.
// Addresses used under it: "/free/msgfree.xml" (the feed), "/versionlog.php" and
// "/newversionlog.php" (the first-run report).
//
// First-run report: on the first start of an installation ("skin/first.xml" is
// missing), the information tool "kvinfo" of the program folder is started twice,
// each time with one address as its only argument, and "skin/first.xml" is written
// so the report is never tried again. A missing tool is skipped silently.
//
// A click opens the notice's link in the desktop's browser. Only http and https
// addresses are ever opened, each handed over as one argument, never through a shell.

#include <QObject>
#include <QString>
#include <QUrl>

#include <sys/types.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

class CKvADListBox;
class CKvNoticeThread;
class QTimer;

class CKvNoticeBoard : public QObject
{
    Q_OBJECT

public:
    static constexpr int kExitWaitMs = 1000;

    // Opens a web address; returns whether it could.
    using Opener = std::function<bool(const QUrl&)>;

    explicit CKvNoticeBoard(CKvADListBox* list, QObject* parent = nullptr);
    ~CKvNoticeBoard() override;

    // The notice host of the program folder's settings, as "http[s]://host[:port]"
    // (with any path the setting gives, without a trailing "/"); empty when unset or
    // not an http or https address.
    static QString NoticeHost();
    static QString NoticeFolder();   // "skin/internet/" of the program folder
    static QString StagingFolder();  // "tmp/link/" of the program folder

    // The first-run report (see above). Returns how many tool runs were started.
    int FirstRunReport();
    // Refills the list from the stored feed: its first kMaxNotices usable items whose
    // pictures are there and whose links would open, each keeping only a thumbnail.
    // Emits listChanged.
    void Fill();
    // Starts the download thread when a host is set; returns whether it started.
    bool Start();
    // The exit path: raises the stop request and waits, with the wait cursor, until
    // the thread has ended or timeoutMs have passed. Returns whether it ended. A
    // stalled transfer never holds the window longer than that.
    bool Stop(int timeoutMs = kExitWaitMs);
    // Opens the link of a list item; false when it has none worth opening.
    bool OpenItem(int index);
    // Opens address when it is an http or https address; false (nothing started) otherwise.
    bool OpenLink(const QString& address);
    // What OpenLink would open; Fill leaves out notices whose link it would not.
    static bool IsOpenableLink(const QString& address);
    void SetOpener(Opener opener) { m_opener = std::move(opener); }
    // The default opener: the desktop's handler, then "xdg-open" with the address as
    // its one argument.
    static bool OpenWithDesktop(const QUrl& url);

    CKvNoticeThread* Thread() const { return m_thread.get(); }

signals:
    // The list was refilled (its item count may have changed).
    void listChanged();

private:
    void ReapTools();

    CKvADListBox* m_list = nullptr;
    std::unique_ptr<CKvNoticeThread> m_thread;
    Opener m_opener;
    std::vector<pid_t> m_tools;
    QTimer* m_reaper = nullptr;
};
