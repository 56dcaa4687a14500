#include "frontend/KvNoticeThread.h"

#include "frontend/KvNoticeFeed.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QImageReader>
#include <QNetworkAccessManager>
#include <QNetworkProxyFactory>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QScopeGuard>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <cstdio>
#include <memory>

using namespace velmora;

namespace {

constexpr int kChunkBytes = 1024;
constexpr int kStopPollMs = 20;
constexpr int kStallMs = 30000;
constexpr int kMaxRedirects = 5;
// Installed files are first copied beside their targets under this prefix, which no
// accepted "save" name can carry (they never start with a dot).
const QString kInstallPrefix = QStringLiteral(".new-");

// The proxy the desktop is set up with (the *_proxy variables on Linux), for this
// thread's manager only.
class SystemProxyFactory : public QNetworkProxyFactory
{
public:
    QList<QNetworkProxy> queryProxy(const QNetworkProxyQuery& query) override
    {
        return systemProxyForQuery(query);
    }
};

bool HasHttpStatusOk(const QNetworkReply& reply)
{
    const int status = reply.attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    return status >= 200 && status < 300;
}

} // namespace

CKvNoticeThread::CKvNoticeThread(const QString& feedAddress, const QString& stagingFolder,
                                 const QString& noticeFolder, QObject* parent)
    : QThread(parent)
    , m_feedAddress(feedAddress)
    , m_stagingFolder(stagingFolder)
    , m_noticeFolder(noticeFolder)
{
}

CKvNoticeThread::~CKvNoticeThread() = default;

bool CKvNoticeThread::Download(QNetworkAccessManager& manager, const QString& address, const QString& path,
                               qint64 maxBytes, const std::atomic<bool>& stop, bool* tooLarge)
{
    if (tooLarge != nullptr)
        *tooLarge = false;
    if (!IsNoticeWebAddress(address.toStdWString()))
        return false;
    const QUrl url(address, QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty())
        return false;
    QFile out(path);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;

    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    // Redirects stay on http(s) and never go from https down to http.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setMaximumRedirectsAllowed(kMaxRedirects);
    // Unencoded, so the announced length is the length of what we store.
    request.setRawHeader("Accept-Encoding", "identity");
    request.setTransferTimeout(kStallMs);

    std::unique_ptr<QNetworkReply> reply(manager.get(request));
    QEventLoop loop;
    qint64 written = 0;
    bool refused = false;
    // Leaving the loop is enough: deleting the reply below ends the transfer.
    auto refuse = [&] {
        refused = true;
        loop.quit();
    };
    auto drain = [&] {
        if (refused)
            return;
        // An error page is not the file, however long it is.
        if (reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid() && !HasHttpStatusOk(*reply)) {
            refuse();
            return;
        }
        char chunk[kChunkBytes];
        while (reply->bytesAvailable() > 0) {
            if (stop.load()) {
                refuse();
                return;
            }
            const qint64 count = reply->read(chunk, sizeof chunk);
            if (count <= 0)
                break;
            if (written + count > maxBytes) {
                if (tooLarge != nullptr)
                    *tooLarge = true;
                refuse();
                return;
            }
            if (out.write(chunk, count) != count) {
                refuse();
                return;
            }
            written += count;
        }
    };

    QObject::connect(reply.get(), &QNetworkReply::readyRead, &loop, drain);
    QObject::connect(reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QTimer stopPoll;
    QObject::connect(&stopPoll, &QTimer::timeout, &loop, [&] {
        if (stop.load())
            refuse();
    });
    stopPoll.start(kStopPollMs);
    if (!reply->isFinished() && !stop.load())
        loop.exec();
    stopPoll.stop();
    drain();

    bool complete = !refused && !stop.load() && reply->isFinished() && reply->error() == QNetworkReply::NoError
        && HasHttpStatusOk(*reply) && written > 0;
    const QVariant announced = reply->header(QNetworkRequest::ContentLengthHeader);
    if (announced.isValid() && announced.toLongLong() != written)
        complete = false;
    complete = out.flush() && complete;
    out.close();
    return complete;
}

void CKvNoticeThread::run()
{
    const auto ended = qScopeGuard([this] { m_ended.store(true); });
    if (FetchAndSwap())
        emit noticesChanged();
}

bool CKvNoticeThread::FetchAndSwap()
{
    if (!QDir().mkpath(m_stagingFolder))
        return false;
    QNetworkAccessManager manager;
    manager.setProxyFactory(new SystemProxyFactory);

    const QString feedName = QString::fromLatin1(kNoticeFeedName);
    if (!Download(manager, m_feedAddress, m_stagingFolder + feedName, kMaxNoticeFeedBytes, m_stop))
        return false;
    QFile feed(m_stagingFolder + feedName);
    if (!feed.open(QIODevice::ReadOnly))
        return false;
    const QByteArray bytes = feed.read(kMaxNoticeFeedBytes + 1);
    feed.close();
    const std::vector<tagKvNoticeItem> items = UsableNoticeItems(std::string_view(bytes.constData(), bytes.size()));
    if (items.empty())
        return false;

    // The first notices whose pictures fit the feed's budget: a picture that would
    // take it over ends the feed there (the board shows only notices whose pictures
    // came); any other failed or refused picture leaves the shown notices as they are.
    QStringList names;
    qint64 budget = static_cast<qint64>(kMaxNoticeFeedPictureBytes);
    for (const tagKvNoticeItem& item : items) {
        const QString name = QString::fromStdWString(item.save);
        if (names.contains(name))
            continue;
        const QString staged = m_stagingFolder + name;
        const qint64 limit = std::min(static_cast<qint64>(kMaxNoticePictureBytes), budget);
        bool tooLarge = false;
        if (m_stop.load())
            return false;
        if (!Download(manager, QString::fromStdWString(item.pic), staged, limit, m_stop, &tooLarge)) {
            QFile::remove(staged);
            if (tooLarge && limit < static_cast<qint64>(kMaxNoticePictureBytes))
                break;
            return false;
        }
        QFile picture(staged);
        if (!picture.open(QIODevice::ReadOnly))
            return false;
        const QByteArray head = picture.read(8);
        if (!IsNoticePicture(std::string_view(head.constData(), head.size())))
            return false;
        // Its size from the header, before anything decodes it: a picture bomb of a
        // few kilobytes would take gigabytes to draw.
        const QSize size = QImageReader(staged).size();
        if (!size.isValid() || size.width() > kMaxNoticePictureSide || size.height() > kMaxNoticePictureSide)
            return false;
        budget -= picture.size();
        names << name;
    }
    if (names.isEmpty())
        return false;
    if (m_stop.load())
        return false;

    // Everything has arrived. Copy it all beside the targets first, so that a full
    // disk leaves the shown notices as they were; then rename each copy over its
    // target, the feed last, so the shown feed never names a picture not yet there.
    if (!QDir().mkpath(m_noticeFolder))
        return false;
    names << feedName;
    QStringList copies;
    const auto removeCopies = qScopeGuard([&copies] {
        for (const QString& copy : copies)
            QFile::remove(copy);
    });
    for (const QString& name : names) {
        const QString copy = m_noticeFolder + kInstallPrefix + name;
        QFile::remove(copy);
        if (!QFile::copy(m_stagingFolder + name, copy))
            return false;
        copies << copy;
    }
    for (int i = 0; i < names.size(); ++i) {
        if (std::rename(QFile::encodeName(copies[i]).constData(), QFile::encodeName(m_noticeFolder + names[i]).constData())
            != 0)
            return false;
    }
    copies.clear();
    // The pictures of the feed this one replaced go with it.
    for (const QString& old : QDir(m_noticeFolder).entryList(QDir::Files | QDir::Hidden)) {
        if (!names.contains(old))
            QFile::remove(m_noticeFolder + old);
    }
    return true;
}
