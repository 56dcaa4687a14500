// kvinfo: tells the notice service that an installation has started for the first
// time. velmora starts it with one web address as its only argument; it requests
// that address once and ends. It shows nothing and writes nothing: the answer is
// read and dropped.
//
//   kvinfo <http or https address>
//
// Exit status: 0 when the request got a 2xx answer, 1 when it failed, 2 for a
// missing or unusable address.

#include <QCoreApplication>
#include <QNetworkAccessManager>
#include <QNetworkProxyFactory>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUrl>

namespace {

constexpr int kStallMs = 30000;
constexpr qint64 kMaxAnswerBytes = 1024 * 1024;

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    if (argc != 2)
        return 2;
    const QUrl url(QString::fromLocal8Bit(argv[1]), QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || url.host().isEmpty() || (scheme != QLatin1String("http") && scheme != QLatin1String("https")))
        return 2;

    QNetworkProxyFactory::setUseSystemConfiguration(true);
    QNetworkAccessManager manager;
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setTransferTimeout(kStallMs);
    QNetworkReply* reply = manager.get(request);
    qint64 received = 0;
    QObject::connect(reply, &QNetworkReply::readyRead, reply, [reply, &received] {
        received += reply->readAll().size();
        if (received > kMaxAnswerBytes)
            reply->abort();
    });
    QObject::connect(reply, &QNetworkReply::finished, &app, [reply] {
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        QCoreApplication::exit(reply->error() == QNetworkReply::NoError && status >= 200 && status < 300 ? 0 : 1);
    });
    return app.exec();
}
