#pragma once

#include "TestSandbox.h" // unusedLocalPort

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QObject>
#include <QTcpServer>

namespace limnoscope::test {

// A minimal HTTP/1.1 server on 127.0.0.1 for tests: records each complete request and answers
// it with a fixed status and body, at once or when told. Lives on the test's thread.
class TestHttpServer : public QObject
{
public:
    struct Request {
        QByteArray method;
        QByteArray target;
        QHash<QByteArray, QByteArray> headers; // names lower-cased
        QByteArray body;
        qint64 receivedAtMs = 0; // on elapsedMs()'s clock
    };

    explicit TestHttpServer(QObject* parent = nullptr);

    [[nodiscard]] bool listen() { return m_server.listen(QHostAddress::LocalHost, 0); }
    [[nodiscard]] quint16 port() const { return m_server.serverPort(); }
    [[nodiscard]] const QList<Request>& requests() const { return m_requests; }
    [[nodiscard]] qint64 elapsedMs() const { return m_clock.elapsed(); }

    void setResponse(int status, const QByteArray& body);
    // While held, requests are recorded but not answered.
    void holdResponses(bool hold);

private:
    struct Connection {
        QByteArray buffer;
        bool complete = false;
        bool answered = false;
    };

    void readFrom(QTcpSocket* socket);
    void answerPending();

    QTcpServer m_server;
    QElapsedTimer m_clock;
    QList<Request> m_requests;
    QHash<QTcpSocket*, Connection> m_connections;
    int m_status = 200;
    QByteArray m_body;
    bool m_hold = false;
};

} // namespace limnoscope::test
