#include "frontend/KvWaitingThread.h"

#include "frontend/KvWaitingDlg.h"

#include <QCoreApplication>
#include <QEvent>

std::atomic<int> CKvWaitingThread::s_open{0};

namespace {

// A thread message: a number delivered to the thread's own loop.
class ThreadMessageEvent : public QEvent
{
public:
    static QEvent::Type EventType()
    {
        static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
        return type;
    }

    explicit ThreadMessageEvent(int message)
        : QEvent(EventType())
        , m_message(message)
    {
    }
    int Message() const { return m_message; }

private:
    int m_message;
};

} // namespace

// Lives on the waiting thread and takes its messages.
class CKvWaitingThread::Receiver : public QObject
{
public:
    explicit Receiver(CKvWaitingThread* thread)
        : m_thread(thread)
    {
    }

    bool event(QEvent* event) override
    {
        if (event->type() != ThreadMessageEvent::EventType())
            return QObject::event(event);
        if (static_cast<ThreadMessageEvent*>(event)->Message() == kMsgClose)
            m_thread->quit();
        return true;
    }

private:
    CKvWaitingThread* m_thread;
};

CKvWaitingThread::CKvWaitingThread()
    : m_receiver(new Receiver(this))
    , m_dialog(std::make_shared<QPointer<CKvWaitingDlg>>())
{
    m_receiver->moveToThread(this);
    connect(this, &QThread::finished, this, &QObject::deleteLater);
}

CKvWaitingThread::~CKvWaitingThread()
{
    // The thread has ended: nothing is delivered to the receiver any more.
    delete m_receiver;
}

CKvWaitingThread* CKvWaitingThread::Begin()
{
    auto* thread = new CKvWaitingThread;
    thread->start();
    return thread;
}

void CKvWaitingThread::PostThreadMessage(int message)
{
    QCoreApplication::postEvent(m_receiver, new ThreadMessageEvent(message));
}

void CKvWaitingThread::run()
{
    QObject* gui = QCoreApplication::instance();
    QMetaObject::invokeMethod(
        gui,
        [dialog = m_dialog] {
            auto* window = new CKvWaitingDlg;
            *dialog = window;
            ++s_open;
            window->Open();
        },
        Qt::QueuedConnection);
    exec();
    // Queued after the open request, so it always finds the window it closes.
    QMetaObject::invokeMethod(
        gui,
        [dialog = m_dialog] {
            if (CKvWaitingDlg* window = *dialog) {
                window->Close();
                delete window;
                --s_open;
            }
        },
        Qt::QueuedConnection);
}
