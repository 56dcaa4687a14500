// How an output is shown in its folder: through the file manager on the session bus
// when one answers there, and by opening the folder otherwise. The bus is a private
// one the test starts (skipped where dbus-daemon is not installed), with a stand-in
// file manager that answers or refuses.

#include "MediaTestSupport.h"
#include "frontend/KvDesktopOpener.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>

#include <gtest/gtest.h>

using namespace velmora;

namespace {

const QString kFile = QStringLiteral("/music/my rips/Dvořák 100%.mp3");

// Records the links the opener was asked to open instead of opening them.
struct UrlLog
{
    QList<QUrl> opened;
    KvSystemDesktopOpener::UrlOpener Opener()
    {
        return [this](const QUrl& url, const KvDesktopOpener::Failed&) { opened << url; };
    }
};

// The file manager's object: records the calls and answers them, or refuses them.
class FakeFileManager : public QDBusVirtualObject
{
public:
    bool refuse = false;
    QList<QDBusMessage> calls;

    QString introspect(const QString&) const override { return QString(); }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override
    {
        calls << message;
        connection.send(refuse ? message.createErrorReply(QDBusError::Failed, QStringLiteral("no"))
                               : message.createReply());
        return true;
    }
};

// A session bus of the test's own, gone with the object.
class PrivateBus
{
public:
    PrivateBus()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")).isEmpty())
            return;
        m_daemon.start(QStringLiteral("dbus-daemon"),
                       {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--nopidfile"),
                        QStringLiteral("--print-address=1")});
        if (!m_daemon.waitForReadyRead(10000))
            return;
        m_address = QString::fromUtf8(m_daemon.readLine()).trimmed();
    }
    ~PrivateBus()
    {
        for (const QString& name : m_names)
            QDBusConnection::disconnectFromBus(name);
        m_daemon.kill();
        m_daemon.waitForFinished(5000);
    }
    bool Running() const { return !m_address.isEmpty(); }
    QDBusConnection Connect(const QString& name)
    {
        m_names << name;
        return QDBusConnection::connectToBus(m_address, name);
    }

private:
    QProcess m_daemon;
    QString m_address;
    QStringList m_names;
};

} // namespace

TEST(DesktopOpener, WithoutASessionBusTheFolderIsOpenedAndFailuresAreTold)
{
    fetest::EnsureApplication();
    UrlLog log;
    KvSystemDesktopOpener opener(QDBusConnection(QStringLiteral("velmora-no-bus")), log.Opener());
    opener.ShowInFolder(kFile, {});
    opener.Open(kFile, {});
    EXPECT_EQ(log.opened, QList<QUrl>({QUrl::fromLocalFile("/music/my rips"), QUrl::fromLocalFile(kFile)}));

    bool failed = false;
    KvSystemDesktopOpener refusing(QDBusConnection(QStringLiteral("velmora-no-bus")),
                                   [](const QUrl&, const KvDesktopOpener::Failed& fail) { fail(); });
    refusing.ShowInFolder(kFile, [&] { failed = true; });
    EXPECT_TRUE(failed);
}

TEST(DesktopOpener, TheFileManagerOnTheBusSelectsTheFileAndTheFolderOpensWhenItCannot)
{
    fetest::EnsureApplication();
    PrivateBus bus;
    if (!bus.Running())
        GTEST_SKIP() << "no dbus-daemon to start a private session bus";
    QDBusConnection client = bus.Connect(QStringLiteral("velmora-client"));
    ASSERT_TRUE(client.isConnected());

    struct Case
    {
        const char* name;
        bool present;
        bool refuses;
        bool folderOpened;
    };
    const Case cases[] = {
        {"answers", true, false, false},
        {"refuses", true, true, true},
        {"absent", false, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeFileManager manager;
        manager.refuse = c.refuses;
        QDBusConnection service = bus.Connect(QStringLiteral("velmora-service-") + c.name);
        if (c.present) {
            ASSERT_TRUE(service.registerVirtualObject(QStringLiteral("/org/freedesktop/FileManager1"), &manager));
            ASSERT_TRUE(service.registerService(QStringLiteral("org.freedesktop.FileManager1")));
        }
        UrlLog log;
        KvSystemDesktopOpener opener(client, log.Opener());
        opener.ShowInFolder(kFile, {});
        // The call is answered later; the window never waits for it.
        EXPECT_TRUE(log.opened.isEmpty());
        if (c.folderOpened) {
            EXPECT_TRUE(QTest::qWaitFor([&] { return !log.opened.isEmpty(); }, 10000));
            EXPECT_EQ(log.opened, QList<QUrl>{QUrl::fromLocalFile("/music/my rips")});
        } else {
            ASSERT_TRUE(QTest::qWaitFor([&] { return !manager.calls.isEmpty(); }, 10000));
            QTest::qWait(200); // the answer has come back and nothing else opened
            EXPECT_TRUE(log.opened.isEmpty());
        }
        if (c.present) {
            ASSERT_EQ(manager.calls.size(), 1);
            const QDBusMessage& call = manager.calls[0];
            EXPECT_EQ(call.interface(), "org.freedesktop.FileManager1");
            EXPECT_EQ(call.member(), "ShowItems");
            ASSERT_EQ(call.arguments().size(), 2);
            // The file's URI, every byte that needs it escaped, and no start-up id.
            EXPECT_EQ(call.arguments()[0].toStringList(),
                      QStringList{"file:///music/my%20rips/Dvo%C5%99%C3%A1k%20100%25.mp3"});
            EXPECT_EQ(call.arguments()[1].toString(), "");
            service.unregisterService(QStringLiteral("org.freedesktop.FileManager1"));
            service.unregisterObject(QStringLiteral("/org/freedesktop/FileManager1"));
        }
    }
}
