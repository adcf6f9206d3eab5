#include "TestHttpServer.h"

#include <QTcpSocket>

namespace limnoscope::test {

TestHttpServer::TestHttpServer(QObject* parent)
    : QObject(parent)
{
    m_clock.start();
    connect(&m_server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket* socket = m_server.nextPendingConnection()) {
            socket->setParent(this);
            m_connections.insert(socket, {});
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { readFrom(socket); });
            connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
                m_connections.remove(socket);
                socket->deleteLater();
            });
        }
    });
}

void TestHttpServer::setResponse(int status, const QByteArray& body)
{
    m_status = status;
    m_body = body;
}

void TestHttpServer::holdResponses(bool hold)
{
    m_hold = hold;
    answerPending();
}

void TestHttpServer::readFrom(QTcpSocket* socket)
{
    Connection& connection = m_connections[socket];
    connection.buffer += socket->readAll();
    const qsizetype headerEnd = connection.buffer.indexOf("\r\n\r\n");
    if (connection.complete || headerEnd < 0)
        return;

    Request request;
    const QList<QByteArray> lines = connection.buffer.left(headerEnd).split('\n');
    const QList<QByteArray> requestLine = lines.first().trimmed().split(' ');
    if (requestLine.size() == 3) {
        request.method = requestLine[0];
        request.target = requestLine[1];
    }
    for (const QByteArray& line : lines.mid(1)) {
        const qsizetype colon = line.indexOf(':');
        if (colon > 0)
            request.headers.insert(line.left(colon).trimmed().toLower(), line.mid(colon + 1).trimmed());
    }
    const qsizetype length = request.headers.value("content-length", "0").toLongLong();
    if (connection.buffer.size() - headerEnd - 4 < length)
        return;
    request.body = connection.buffer.mid(headerEnd + 4, length);
    request.receivedAtMs = m_clock.elapsed();
    connection.complete = true;
    m_requests.append(request);
    answerPending();
}

void TestHttpServer::answerPending()
{
    if (m_hold)
        return;
    const QByteArray response = "HTTP/1.1 " + QByteArray::number(m_status)
        + " Test\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Length: " + QByteArray::number(m_body.size())
        + "\r\nConnection: close\r\n\r\n" + m_body;
    QList<QTcpSocket*> toAnswer;
    for (auto it = m_connections.begin(); it != m_connections.end(); ++it) {
        if (it->complete && !it->answered) {
            it->answered = true;
            toAnswer.append(it.key());
        }
    }
    // Writing may disconnect a socket and so change m_connections: answer outside the loop.
    for (QTcpSocket* socket : toAnswer) {
        socket->write(response);
        socket->disconnectFromHost();
    }
}

} // namespace limnoscope::test
