#include "frontend/KvFrontEndApp.h"

#include "common/KvJobBlockMapping.h"
#include "common/KvProgramFolder.h"
#include "common/KvSharedMemory.h"
#include "frontend/KvEngineSlotLease.h"
#include "frontend/KvFrontEndState.h"
#include "frontend/KvMainDlg.h"
#include "frontend/KvMessageDlg.h"
#include "frontend/KvStopSignals.h"
#include "project/KvDecoderSettings.h"
#include "project/KvUiColors.h"
#include "ui/KvUIManager.h"

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QIcon>
#include <QLocalServer>
#include <QLocalSocket>
#include <QSocketNotifier>
#include <QStandardPaths>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <functional>
#include <fcntl.h>
#include <memory>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

using namespace velmora;

namespace {

// Empties the folder open as dirFd, but for the names keep holds. Every name is
// opened and removed relative to the folder's descriptor, never by path, and
// sub-folders are entered with O_NOFOLLOW: a link, even one swapped in while we walk,
// is only ever unlinked.
bool EmptyFolderAt(int dirFd, const std::function<bool(const std::string&)>& keep = {})
{
    DIR* dir = fdopendir(dirFd);
    if (!dir) {
        close(dirFd);
        return false;
    }
    bool ok = true;
    std::vector<std::string> names;
    while (dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name == "." || name == ".." || (keep && keep(name)))
            continue;
        names.push_back(name);
    }
    for (const std::string& name : names) {
        if (!ok)
            break;
        struct stat info {};
        if (fstatat(dirFd, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno == ENOENT)
                continue;
            ok = false;
            break;
        }
        if (S_ISDIR(info.st_mode)) {
            // A read-only folder cannot have its entries removed: make it ours first.
            fchmodat(dirFd, name.c_str(), 0700, 0);
            const int childFd = openat(dirFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            const bool emptied = childFd >= 0 && EmptyFolderAt(childFd);
            ok = emptied && unlinkat(dirFd, name.c_str(), AT_REMOVEDIR) == 0;
        } else {
            // Files, links, sockets, pipes: the entry goes, whatever it points to.
            ok = unlinkat(dirFd, name.c_str(), 0) == 0 || errno == ENOENT;
        }
    }
    closedir(dir);
    return ok;
}

constexpr char kHandOverSeparator = '\0';
// A hand-over is the file names, each ended by the separator, then one more
// separator; the running instance answers with kHandOverAnswer once it has them.
const QByteArray kHandOverAnswer = QByteArrayLiteral("ok\n");

bool HandOverComplete(const QByteArray& bytes)
{
    return bytes == QByteArray(1, kHandOverSeparator) || bytes.endsWith(QByteArray(2, kHandOverSeparator));
}

} // namespace

bool DeleteFolderContents(const std::string& folder, const std::function<bool(const std::string&)>& keep)
{
    if (folder.size() <= 3)
        return false;
    std::string path = folder;
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    const int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return false;
    return EmptyFolderAt(fd, keep);
}

CKvLumoApp::CKvLumoApp() = default;

CKvLumoApp::~CKvLumoApp()
{
    m_mainDlg.reset();
    if (m_started && !m_secondInstance)
        ExitInstance();
    ReleaseLock();
}

QString CKvLumoApp::InstanceName(const std::string& programFolder)
{
    // The object name without its leading "/".
    return QString::fromStdString(SharedObjectName(kKvSingleInstanceGuid, programFolder)).mid(1);
}

static QString RuntimeFolder()
{
    // The user's runtime folder; without one (a bare session), a private folder of
    // ours under the temporary folder, so another user can never hold our lock.
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QFileInfo(runtime).isDir())
        return runtime;
    const QString folder = QDir::tempPath() + QStringLiteral("/velmora-%1").arg(getuid());
    const QByteArray path = QFile::encodeName(folder);
    mkdir(path.constData(), 0700);
    struct stat info {};
    if (lstat(path.constData(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == getuid())
        return folder;
    const QString fallback = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    return fallback.isEmpty() ? QDir::tempPath() : fallback;
}

QString CKvLumoApp::LockPath(const std::string& programFolder)
{
    return RuntimeFolder() + u'/' + InstanceName(programFolder) + QStringLiteral(".lock");
}

QString CKvLumoApp::ChannelPath(const std::string& programFolder)
{
    return RuntimeFolder() + u'/' + InstanceName(programFolder);
}

bool CKvLumoApp::AcquireLock()
{
    // flock on a file of the user's runtime folder: the system drops the lock when
    // the process dies, so a crashed run never blocks the next start.
    const QByteArray path = QFile::encodeName(LockPath(m_programFolder));
    const int fd = open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return true; // no lock possible: run rather than refuse to start at all
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        close(fd);
        return false;
    }
    m_lockFd = fd;
    return true;
}

void CKvLumoApp::ReleaseLock()
{
    if (m_channel) {
        m_channel->close();
        delete m_channel;
        m_channel = nullptr;
    }
    if (m_lockFd >= 0) {
        close(m_lockFd);
        m_lockFd = -1;
    }
}

void CKvLumoApp::StartChannel()
{
    // We hold the lock, so a socket file left by a crashed run is stale.
    const QString path = ChannelPath(m_programFolder);
    QLocalServer::removeServer(path);
    m_channel = new QLocalServer(this);
    m_channel->setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_channel->listen(path))
        return;
    connect(m_channel, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = m_channel->nextPendingConnection()) {
            auto buffer = std::make_shared<QByteArray>();
            auto deliver = [this](const QByteArray& bytes) {
                QStringList files;
                for (const QByteArray& part : bytes.split(kHandOverSeparator)) {
                    if (!part.isEmpty())
                        files << QString::fromUtf8(part);
                }
                OnFilesReceived(files);
            };
            connect(socket, &QLocalSocket::readyRead, this, [socket, buffer, deliver] {
                buffer->append(socket->readAll());
                if (!HandOverComplete(*buffer))
                    return;
                const QByteArray complete = std::exchange(*buffer, QByteArray());
                // Answer first: the other start waits for it and must not wait for
                // whatever the files set going here (a message, an extraction).
                socket->write(kHandOverAnswer);
                socket->flush();
                socket->disconnectFromServer();
                deliver(complete);
            });
            connect(socket, &QLocalSocket::disconnected, this, [socket, buffer, deliver] {
                // A sender that went before it finished: take what came whole.
                buffer->append(socket->readAll());
                if (HandOverComplete(*buffer))
                    deliver(std::exchange(*buffer, QByteArray()));
                socket->deleteLater();
            });
        }
    });
}

bool CKvLumoApp::HandOverFiles(const std::string& programFolder, const QStringList& files, int timeoutMs)
{
    QByteArray message;
    for (const QString& file : files) {
        message += file.toUtf8();
        message += kHandOverSeparator;
    }
    message += kHandOverSeparator;

    // The running instance listens right after it takes the lock; one that started a
    // moment ago may not listen yet, so connecting is tried again every 100 ms. One
    // that does not answer within timeoutMs is taken as hung. The wait runs an event
    // loop of its own, not a blocking call, so an instance in this very process (the
    // tests) answers too.
    const QString path = ChannelPath(programFolder);
    QLocalSocket socket;
    QEventLoop loop;
    QByteArray reply;
    bool answered = false;
    QObject::connect(&socket, &QLocalSocket::connected, &loop, [&] { socket.write(message); });
    QObject::connect(&socket, &QLocalSocket::readyRead, &loop, [&] {
        reply += socket.readAll();
        if (reply.contains(kHandOverAnswer)) {
            answered = true;
            loop.quit();
        }
    });
    QObject::connect(&socket, &QLocalSocket::errorOccurred, &loop, [&](QLocalSocket::LocalSocketError) {
        if (answered || socket.state() != QLocalSocket::UnconnectedState)
            return;
        QTimer::singleShot(100, &loop, [&] {
            if (!answered && socket.state() == QLocalSocket::UnconnectedState)
                socket.connectToServer(path);
        });
    });
    QTimer::singleShot(std::max(1, timeoutMs), &loop, &QEventLoop::quit);
    socket.connectToServer(path);
    if (!answered)
        loop.exec();
    socket.abort();
    return answered;
}

void CKvLumoApp::OnFilesReceived(const QStringList& files)
{
    if (m_mainDlg) {
        // Another start asked for this window: bring it up, then take its files.
        if (m_mainDlg->isMinimized())
            m_mainDlg->showNormal();
        m_mainDlg->raise();
        m_mainDlg->activateWindow();
        // A dialog open over the window stays on top of it.
        if (QWidget* modal = QApplication::activeModalWidget(); modal && modal != m_mainDlg.get()) {
            modal->raise();
            modal->activateWindow();
        }
        if (!files.isEmpty())
            m_mainDlg->AddFiles(files);
    } else {
        m_pendingFiles += files;
    }
    emit filesHandedOver(files);
}

QString CKvLumoApp::NotAnsweringMessage(bool hadFiles)
{
    QString text = QStringLiteral("Velmora is already running but does not answer.");
    if (hadFiles)
        text += QStringLiteral(" The files you opened were not added to it.");
    return text + QStringLiteral("\n\nWait a moment and try again, or close the running Velmora and start it anew.");
}

bool CKvLumoApp::Startup(const QStringList& files)
{
    m_programFolder = GetProgramFolder();

    if (!AcquireLock()) {
        // Another instance runs from this folder: hand it the files and end without
        // touching its tmp/ or job block. One that does not take them is said so:
        // the user asked for a window and would otherwise get nothing at all.
        m_secondInstance = true;
        if (!HandOverFiles(m_programFolder, files)) {
            CKvUIManager::SetResourceFolder(QString::fromStdString(m_programFolder));
            LoadUiColors(ProgramPath(m_programFolder, "skin/uicolors/UIColors.uic"), CKvUIManager::Colors());
            KvMessageBox(QStringLiteral("Velmora"), NotAnsweringMessage(!files.isEmpty()), CKvMessageDlg::kStyleOk);
        }
        return false;
    }
    m_started = true;

    std::string workError;
    if (!EnsureWorkFolder(m_programFolder, &workError)) {
        ReportStartupFailure(QStringLiteral("Velmora cannot start: its work folder cannot be used.\n%1.\n"
                                            "Velmora keeps its job files in %2. Make that folder writable "
                                            "(or set XDG_STATE_HOME to a folder you can write) and start Velmora again.")
                                 .arg(QString::fromStdString(workError), QString::fromStdString(WorkFolderOf(m_programFolder))));
        return false;
    }

    // Nothing of a crashed run (job files, a stale WAV index) may be reused; the job
    // folders of command-line runs that are converting right now stay. This comes
    // before the hand-over channel opens: a second start sees this instance as ready
    // only once it no longer clears tmp/.
    EmptyWorkTmpFolder(m_programFolder);
    StartChannel();

    CKvUIManager::SetResourceFolder(QString::fromStdString(m_programFolder));
    LoadUiColors(ProgramPath(m_programFolder, "skin/uicolors/UIColors.uic"), CKvUIManager::Colors());

    KvFrontEndState& state = KvFrontEndState::Instance();
    state.Reset(m_programFolder);
    state.LoadH264();
    state.LoadFrontEndSettings();
    const tagKvOptionRecord& current = state.CurrentRecord();
    WriteDecoderResize(m_programFolder, state.DefaultPresets()[kKvDefaultPreset].bFlipVideo,
                       current.bForceResize, current.nWidth, current.nHeight);

    QFont font = QApplication::font();
    font.setFamily(QStringLiteral("Arial"));
    QApplication::setFont(font);

    QApplication::setWindowIcon(QIcon(QString::fromStdString(ProgramPath(m_programFolder, "skin/icon/velmora.png"))));

    m_jobBlock = std::make_unique<CKvJobBlockOwner>();
    if (!m_jobBlock->Create(m_programFolder)) {
        // Without the block no job can run.
        ReportStartupFailure(JobBlockFailureText(m_jobBlock->Name(), m_jobBlock->Error()));
        m_jobBlock.reset();
        return false;
    }
    state.SetJobBlock(m_jobBlock->Block());
    m_pendingFiles = files;
    return true;
}

void CKvLumoApp::ReportStartupFailure(const QString& text)
{
    // The console first: it is all a user sees when no window can open.
    m_startupError = text;
    std::fprintf(stderr, "velmora: %s\n", qPrintable(text));
}

QString CKvLumoApp::JobBlockFailureText(const std::string& name, int error)
{
    const KvSharedObjectInfo info = InspectSharedObject(name);
    const QString path = QString::fromStdString(SharedObjectPath(name));
    QString text = QStringLiteral("Velmora cannot start: it cannot create its job block %1").arg(path);
    if (!info.exists) {
        return text + QStringLiteral(" (%1).\nCheck that /dev/shm is mounted and writable, then start Velmora again.")
                          .arg(QString::fromLocal8Bit(std::strerror(error)));
    }
    if (info.owner != geteuid()) {
        QString owner = QString::number(info.owner);
        if (const passwd* account = getpwuid(info.owner))
            owner = QStringLiteral("%1 (user id %2)").arg(QString::fromLocal8Bit(account->pw_name)).arg(info.owner);
        return text + QStringLiteral(": a block of that name was left by user %1, and only that user or an administrator "
                                     "can remove it.\nAsk them to remove %2, then start Velmora again.")
                          .arg(owner, path);
    }
    text += QStringLiteral(": a block of that name is left over from an earlier run and cannot be removed (%1).")
                .arg(QString::fromLocal8Bit(std::strerror(error)));
    QStringList users;
    for (int pid : info.processes) {
        QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
        const QString program = comm.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(comm.readAll()).trimmed() : QString();
        users << (program.isEmpty() ? QString::number(pid) : QStringLiteral("%1 (%2)").arg(pid).arg(program));
    }
    if (!users.isEmpty()) {
        return text + QStringLiteral("\nIt is still open in process %1. End that process (kill %2), then start Velmora again.")
                          .arg(users.join(QStringLiteral(", ")), QString::number(info.processes.front()));
    }
    return text + QStringLiteral("\nRemove %1 (or restart the computer), then start Velmora again.").arg(path);
}

CKvMainDlg* CKvLumoApp::CreateMainWindow()
{
    m_mainDlg = std::make_unique<CKvMainDlg>();
    return m_mainDlg.get();
}

void CKvLumoApp::DestroyMainWindow()
{
    m_mainDlg.reset();
}

int CKvLumoApp::InitInstance(const QStringList& files)
{
    if (!Startup(files)) {
        if (!m_startupError.isEmpty())
            KvMessageBox(m_startupError);
        return 0;
    }
    CKvMainDlg* dialog = CreateMainWindow();
    // A desktop's logout (SIGTERM), a closed terminal (SIGHUP) or Ctrl-C ends the window
    // as Close does, with nothing left behind: no engine, no partial file, no tmp/
    // file, no shared-memory object, the lock given back.
    std::unique_ptr<QSocketNotifier> stopNotifier;
    if (InstallStopSignals()) {
        stopNotifier = std::make_unique<QSocketNotifier>(StopSignalFd(), QSocketNotifier::Read);
        connect(stopNotifier.get(), &QSocketNotifier::activated, dialog, [dialog] {
            DrainStopSignals();
            dialog->EndOnStopSignal();
        });
    }
    // Files named on the command line arrive once the window is up, so the message
    // about skipped files has a window to belong to.
    QTimer::singleShot(0, dialog, [this, dialog] {
        const QStringList pending = m_pendingFiles;
        m_pendingFiles.clear();
        if (!pending.isEmpty())
            dialog->AddFiles(pending);
    });
    dialog->exec();
    DestroyMainWindow();
    return 0;
}

int CKvLumoApp::ExitInstance()
{
    if (m_secondInstance || !m_started)
        return 0;
    m_started = false;
    m_mainDlg.reset();
    EmptyWorkTmpFolder(m_programFolder);
    KvFrontEndState::Instance().SetJobBlock(nullptr);
    if (m_jobBlock) {
        m_jobBlock->Close();
        m_jobBlock.reset();
    }
    ReleaseLock();
    return 0;
}
