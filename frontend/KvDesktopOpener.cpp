#include "frontend/KvDesktopOpener.h"

#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusPendingCallWatcher>
#include <QDesktopServices>
#include <QFileInfo>
#include <QObject>
#include <QProcess>
#include <QStringList>

namespace velmora {

namespace {

const char* const kFileManagerService = "org.freedesktop.FileManager1";
const char* const kFileManagerPath = "/org/freedesktop/FileManager1";

} // namespace

KvSystemDesktopOpener::KvSystemDesktopOpener()
    : KvSystemDesktopOpener(QDBusConnection::sessionBus(),
                            [](const QUrl& url, const Failed& failed) { OpenUrl(url, failed); })
{
}

KvSystemDesktopOpener::KvSystemDesktopOpener(const QDBusConnection& bus, UrlOpener openUrl)
    : m_bus(bus)
    , m_openUrl(std::move(openUrl))
{
}

void KvSystemDesktopOpener::ShowInFolder(const QString& file, Failed failed)
{
    const QUrl folder = QUrl::fromLocalFile(QFileInfo(file).absolutePath());
    auto openFolder = [openUrl = m_openUrl, folder, failed] { openUrl(folder, failed); };
    if (!m_bus.isConnected()) {
        openFolder();
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(QLatin1String(kFileManagerService),
                                                       QLatin1String(kFileManagerPath),
                                                       QLatin1String(kFileManagerService), QStringLiteral("ShowItems"));
    // No start-up notification id to hand on: the file manager raises its window as
    // it would for any other request.
    call << QStringList{QString::fromLatin1(QUrl::fromLocalFile(file).toEncoded())} << QString();
    // Asked without waiting: a file manager that is started for the call (or one that
    // hangs) must not freeze the window. No service of that name, or no answer in time,
    // means no such file manager here.
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call, kCallTimeoutMs));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, [watcher, openFolder] {
        watcher->deleteLater();
        if (watcher->isError())
            openFolder();
    });
}

void KvSystemDesktopOpener::Open(const QString& file, Failed failed)
{
    m_openUrl(QUrl::fromLocalFile(file), std::move(failed));
}

void KvSystemDesktopOpener::OpenUrl(const QUrl& url, Failed failed, QObject* owner)
{
    // xdg-open runs beside us (it may last as long as the program it starts) and tells
    // by its exit code whether anything took the link.
    auto* opener = new QProcess(owner);
    QObject::connect(opener, &QProcess::finished, [opener, failed](int code, QProcess::ExitStatus status) {
        opener->deleteLater();
        if ((status != QProcess::NormalExit || code != 0) && failed)
            failed();
    });
    QObject::connect(opener, &QProcess::errorOccurred, [opener, url, failed](QProcess::ProcessError error) {
        if (error != QProcess::FailedToStart)
            return;
        opener->deleteLater();
        // No xdg-open here: the desktop's own way, if it has one.
        if (!QDesktopServices::openUrl(url) && failed)
            failed();
    });
    opener->start(QStringLiteral("xdg-open"), {url.toString(QUrl::FullyEncoded)});
}

} // namespace velmora
