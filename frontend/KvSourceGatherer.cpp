#include "frontend/KvSourceGatherer.h"

#include "frontend/KvWaitingDlg.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QGuiApplication>
#include <QLocale>
#include <QTimer>
#include <QWidget>

#include <atomic>
#include <thread>
#include <utility>

namespace velmora {

namespace {

// How often the GUI thread looks at the worker while it waits.
constexpr int kPollMs = 20;

std::function<void()>& StepHook()
{
    static std::function<void()> hook;
    return hook;
}

QString Count(int number)
{
    // The program speaks English; its numbers are grouped the same way.
    static const QLocale english(QLocale::English, QLocale::UnitedStates);
    return english.toString(number);
}

} // namespace

// What the worker and the GUI thread share; the worker holds it too, so it outlives
// whichever lets go first.
struct KvSourceGatherer::Work
{
    KvWalkControl control;
    std::atomic<int> total{-1}; // files to read; -1 while the walk goes on
    std::atomic<int> read{0};
    std::atomic<bool> done{false};
    KvDroppedFiles walked;
    std::vector<KvSourceProbe> sources;
    std::thread worker;
};

KvSourceGatherer::KvSourceGatherer(QWidget* parent)
    : m_parent(parent)
{
}

KvSourceGatherer::~KvSourceGatherer()
{
    if (m_work && m_work->worker.joinable()) {
        m_work->control.stop.store(true);
        m_work->worker.join();
    }
    delete m_dialog.data();
}

CKvWaitingDlg* KvSourceGatherer::Dialog() const
{
    return m_dialog;
}

QString KvSourceGatherer::WalkText(int found)
{
    return QStringLiteral("Looking for media files\u2026 %1 found").arg(Count(found));
}

QString KvSourceGatherer::ReadText(int read, int total)
{
    return QStringLiteral("Reading %1 of %2 files\u2026").arg(Count(read), Count(total));
}

void KvSourceGatherer::SetStepHookForTesting(std::function<void()> hook)
{
    StepHook() = std::move(hook);
}

KvSourceGatherer::Result KvSourceGatherer::Gather(const QList<QUrl>& urls)
{
    return Run([urls](KvWalkControl* control) { return CollectDroppedFiles(urls, control); });
}

KvSourceGatherer::Result KvSourceGatherer::Gather(const QStringList& paths)
{
    return Run([paths](KvWalkControl* control) { return CollectNamedFiles(paths, control); });
}

void KvSourceGatherer::Stop()
{
    if (!m_work)
        return;
    m_work->control.stop.store(true);
    if (m_loop)
        m_loop->quit();
}

KvSourceGatherer::Result KvSourceGatherer::Run(std::function<KvDroppedFiles(KvWalkControl*)> walk)
{
    Result result;
    if (m_loop) {
        // One gathering at a time: the caller waits for the one under way.
        result.stopped = true;
        return result;
    }
    auto work = std::make_shared<Work>();
    const std::function<void()> step = StepHook();
    work->control.onEntry = step;
    m_work = work;
    work->worker = std::thread([work, step, walk = std::move(walk)] {
        work->walked = walk(&work->control);
        if (!work->control.Stopped()) {
            const QStringList& files = work->walked.files;
            work->sources.reserve(size_t(files.size()));
            work->total.store(int(files.size()));
            for (const QString& file : files) {
                if (step)
                    step();
                if (work->control.Stopped())
                    break;
                work->sources.push_back(ProbeSourceAndTracks(file));
                work->sources.back().foundIn = FolderFoundIn(file, work->walked.folders);
                work->read.store(int(work->sources.size()));
            }
        }
        work->done.store(true);
    });

    // Until the dialog shows, input waits as it does for a short add, under the wait
    // cursor; once it shows, the dialog is modal and takes what input there is.
    const bool gui = qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr;
    bool waitCursor = gui;
    if (waitCursor)
        QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    QEventLoop loop;
    m_loop = &loop;
    QElapsedTimer clock;
    clock.start();
    QTimer poll;
    poll.setInterval(kPollMs);
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (work->done.load() || work->control.Stopped()) {
            loop.quit();
        } else if (!m_dialog && gui && clock.elapsed() >= kDelayMs) {
            if (waitCursor) {
                QGuiApplication::restoreOverrideCursor();
                waitCursor = false;
            }
            ShowDialog();
            loop.quit(); // back in with user input let through
        } else {
            UpdateDialog();
        }
    });
    poll.start();
    while (!work->done.load() && !work->control.Stopped())
        loop.exec(m_dialog ? QEventLoop::AllEvents : QEventLoop::ExcludeUserInputEvents);
    poll.stop();
    m_loop = nullptr;
    // Stopped, the worker ends at its next entry or file.
    work->worker.join();
    m_work.reset();
    if (waitCursor)
        QGuiApplication::restoreOverrideCursor();
    if (CKvWaitingDlg* dialog = m_dialog) {
        dialog->Close();
        delete dialog;
    }
    if (work->control.Stopped()) {
        result.stopped = true;
        return result;
    }
    result.sources = std::move(work->sources);
    result.skipped = std::move(work->walked.skipped);
    return result;
}

void KvSourceGatherer::ShowDialog()
{
    auto* dialog = new CKvWaitingDlg(m_parent);
    m_dialog = dialog;
    dialog->SetStopHandler([this] { Stop(); });
    UpdateDialog();
    dialog->Open();
}

void KvSourceGatherer::UpdateDialog()
{
    if (!m_dialog || !m_work)
        return;
    const int total = m_work->total.load();
    m_dialog->SetText(total < 0 ? WalkText(m_work->control.found.load()) : ReadText(m_work->read.load(), total));
}

} // namespace velmora
