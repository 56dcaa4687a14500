#pragma once

// The thread that owns the waiting dialog while the engine starts a preview.
//
// Begin starts the thread; the thread has the spinner (CKvWaitingDlg) opened and runs
// its own message loop until it gets the thread message kMsgClose (1580), then has
// the spinner closed and ends; the object deletes itself once the thread has ended.
// The caller keeps no other handle: it posts kMsgClose once and forgets the thread.
// A message posted before the thread's loop runs waits for it, so "start, then stop
// at once" never leaves a spinner behind.
//
// Qt windows live on the GUI thread: the thread asks the GUI thread to open and to
// close the window, in that order, and the window turns with its own timer there.

#include <QPointer>
#include <QThread>

#include <atomic>
#include <memory>

class CKvWaitingDlg;

class CKvWaitingThread : public QThread
{
    Q_OBJECT

public:
    static constexpr int kMsgClose = 1580;

    // Starts a waiting thread (GUI thread only).
    static CKvWaitingThread* Begin();
    // Posts a thread message from any thread; kMsgClose ends the waiting. Other
    // messages are ignored.
    void PostThreadMessage(int message);

    // Waiting dialogs open in the process now (GUI thread).
    static int OpenDialogs() { return s_open.load(); }

protected:
    void run() override;

private:
    class Receiver;

    CKvWaitingThread();
    ~CKvWaitingThread() override;

    Receiver* m_receiver = nullptr;
    // Touched on the GUI thread only, by the open and close requests.
    std::shared_ptr<QPointer<CKvWaitingDlg>> m_dialog;
    static std::atomic<int> s_open;
};
