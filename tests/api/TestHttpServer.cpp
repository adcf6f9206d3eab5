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
            m_connections.insert(socket, Connection { socket, {}, false, false });
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { readFrom(socket); });
            connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
                m_connections.remove(socket);
                socket->deleteLater();
            });
        }
    });
}

bool TestHttpServer::listen(quint16 port)
{
    return m_server.listen(QHostAddress::LocalHost, port);
}

void TestHttpServer::setResponse(int status, const QByteArray& body)
{
    m_status = status;
    m_body = body;
}

void TestHttpServer::holdResponses(bool hold)
{
    m_hold = hold;
    if (!hold)
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
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype colon = lines[i].indexOf(':');
        if (colon > 0)
            request.headers.insert(lines[i].left(colon).trimmed().toLower(), lines[i].mid(colon + 1).trimmed());
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
    QList<QTcpSocket*> toAnswer;
    for (Connection& connection : m_connections) {
        if (connection.complete && !connection.answered) {
            connection.answered = true;
            toAnswer.append(connection.socket);
        }
    }
    for (QTcpSocket* socket : toAnswer) {
        const QByteArray response = "HTTP/1.1 " + QByteArray::number(m_status) + " Test\r\n"
            + "Content-Type: text/plain; charset=utf-8\r\n" + "Content-Length: " + QByteArray::number(m_body.size())
            + "\r\n" + "Connection: close\r\n\r\n" + m_body;
        socket->write(response);
        socket->disconnectFromHost();
    }
}

} // namespace limnoscope::test
