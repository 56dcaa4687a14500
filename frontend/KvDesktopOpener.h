#pragma once

// What the finished rows' menu asks of the desktop: the folder of an output shown with
// the file selected, and the output opened with the desktop's default player. The
// window talks to the interface, so tests can stand in for the desktop.
//
// The system version asks the file manager over the session bus
// (org.freedesktop.FileManager1.ShowItems), which selects the file; where there is no
// session bus, no file manager answers there, or the call fails, it opens the folder
// itself. Files and folders are opened by xdg-open, whose exit code says whether any
// program took them; without xdg-open, by Qt's own desktop services. Nothing here
// waits on the GUI thread: answers come through the failed callbacks, perhaps after
// the call has returned.

#include <QDBusConnection>
#include <QString>
#include <QUrl>

#include <functional>

class QObject;

namespace velmora {

class KvDesktopOpener
{
public:
    using Failed = std::function<void()>;

    virtual ~KvDesktopOpener() = default;
    // Shows the folder that holds file; failed is called when nothing could show it.
    virtual void ShowInFolder(const QString& file, Failed failed) = 0;
    // Opens file with the desktop's default program for its type; failed is called
    // when no program took it.
    virtual void Open(const QString& file, Failed failed) = 0;
};

class KvSystemDesktopOpener : public KvDesktopOpener
{
public:
    // Opens a link, calling failed when nothing could show it.
    using UrlOpener = std::function<void(const QUrl& url, Failed failed)>;

    // How long the file manager may take to answer before the folder is opened without it.
    static constexpr int kCallTimeoutMs = 5000;

    // The file manager is looked for on the session bus and links open through
    // OpenUrl; tests hand in a bus of their own and a stand-in opener.
    KvSystemDesktopOpener();
    KvSystemDesktopOpener(const QDBusConnection& bus, UrlOpener openUrl);

    void ShowInFolder(const QString& file, Failed failed) override;
    void Open(const QString& file, Failed failed) override;

    // xdg-open with url, beside the program; failed when it is missing and Qt's desktop
    // services cannot open url either, or when it ends with an error. With an owner the
    // process (and the answer) goes when the owner goes.
    static void OpenUrl(const QUrl& url, Failed failed, QObject* owner = nullptr);

private:
    QDBusConnection m_bus;
    UrlOpener m_openUrl;
};

} // namespace velmora
