#pragma once

// A small HTTP/1.1 server on 127.0.0.1 for the notice tests, running on a thread of
// its own so it answers while the test's thread waits. Each path gets a scripted
// answer; unknown paths get 404. Every request's target is recorded in order.

#include <QByteArray>
#include <QHash>
#include <QMutex>
#include <QString>
#include <QStringList>
#include <QThread>

namespace velmora::fetest {

class LoopbackHttpServer : public QThread
{
public:
    struct Response
    {
        int status = 200;
        QByteArray body;
        // Sent as Content-Length; -1 announces the body's size, -2 announces nothing
        // (the end of the body is the end of the connection).
        qint64 announced = -1;
        // Sends only this many bytes of the body and then nothing more, keeping the
        // connection open (-1: the whole body, then close).
        qint64 stallAfter = -1;
    };

    LoopbackHttpServer();
    ~LoopbackHttpServer() override;

    void Set(const QString& path, const Response& response);
    void SetBody(const QString& path, const QByteArray& body) { Set(path, Response{200, body}); }
    // "http://127.0.0.1:<port>"
    QString Address() const;
    QStringList Requests() const;
    bool WasRequested(const QString& target) const { return Requests().contains(target); }

protected:
    void run() override;

private:
    Response Find(const QString& target) const;

    mutable QMutex m_mutex;
    QHash<QString, Response> m_responses;
    QStringList m_requests;
    quint16 m_port = 0;
};

} // namespace velmora::fetest
