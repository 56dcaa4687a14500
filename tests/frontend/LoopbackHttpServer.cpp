#include "LoopbackHttpServer.h"

#include <QHostAddress>
#include <QSemaphore>
#include <QTcpServer>
#include <QTcpSocket>

namespace velmora::fetest {

namespace {

QSemaphore* g_listening = nullptr;

} // namespace

LoopbackHttpServer::LoopbackHttpServer()
{
    QSemaphore listening;
    g_listening = &listening;
    start();
    listening.acquire();
    g_listening = nullptr;
}

LoopbackHttpServer::~LoopbackHttpServer()
{
    quit();
    wait();
}

void LoopbackHttpServer::Set(const QString& path, const Response& response)
{
    QMutexLocker lock(&m_mutex);
    m_responses.insert(path, response);
}

QString LoopbackHttpServer::Address() const
{
    return QStringLiteral("http://127.0.0.1:%1").arg(m_port);
}

QStringList LoopbackHttpServer::Requests() const
{
    QMutexLocker lock(&m_mutex);
    return m_requests;
}

LoopbackHttpServer::Response LoopbackHttpServer::Find(const QString& target) const
{
    QMutexLocker lock(&m_mutex);
    const QString path = target.section(u'?', 0, 0);
    return m_responses.value(path, Response{404, QByteArray("not here")});
}

void LoopbackHttpServer::run()
{
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    m_port = server.serverPort();
    g_listening->release();
    QObject::connect(&server, &QTcpServer::newConnection, &server, [this, &server] {
        while (QTcpSocket* socket = server.nextPendingConnection()) {
            auto* request = new QByteArray;
            QObject::connect(socket, &QObject::destroyed, [request] { delete request; });
            QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket, request] {
                if (request->contains("\r\n\r\n"))
                    return; // answered already
                request->append(socket->readAll());
                if (!request->contains("\r\n\r\n"))
                    return;
                const QString target = QString::fromLatin1(request->split(' ').value(1));
                {
                    QMutexLocker lock(&m_mutex);
                    m_requests << target;
                }
                const Response response = Find(target);
                QByteArray head = "HTTP/1.1 " + QByteArray::number(response.status) + " Scripted\r\n";
                if (response.announced != -2) {
                    const qint64 length = response.announced == -1 ? response.body.size() : response.announced;
                    head += "Content-Length: " + QByteArray::number(length) + "\r\n";
                }
                head += "Content-Type: application/octet-stream\r\nConnection: close\r\n\r\n";
                socket->write(head);
                if (response.stallAfter >= 0) {
                    socket->write(response.body.left(response.stallAfter));
                    return; // keep the connection open and silent
                }
                socket->write(response.body);
                socket->disconnectFromHost();
            });
        }
    });
    exec();
}

} // namespace velmora::fetest
