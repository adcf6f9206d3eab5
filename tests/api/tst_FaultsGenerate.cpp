#include "LimnoraAPI.h"
#include "LimnoraLauncher.h"
#include "TestHttpServer.h"
#include "TestRuntime.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

using namespace limnoscope;
using namespace limnoscope::test;

namespace {

constexpr int answerWaitMs = 20'000;
// generate() hands the request over and returns: it may take no longer than this.
constexpr qint64 generateReturnBoundMs = 200;
constexpr qint64 eventLoopGapBoundMs = 500;
constexpr qsizetype tenMegabytes = 10 * 1024 * 1024;
constexpr long peakGrowthBoundKB = 256 * 1024;
constexpr qint64 floodBytes = 64 * 1024 * 1024;
constexpr qint64 floodChunkBytes = 1024 * 1024;
// What the loopback's socket buffers may hold beyond the bytes read before hanging up.
constexpr qint64 floodSentBound = floodBytes / 4;

enum class PeerBehaviour {
    NeverAnswers,
    AnswersTenMegabytes,
    AnswersTenMegabytesUntilClosed,
    ClosesMidResponse,
    ClosesBeforeAnswering,
    Floods64Megabytes,
    RedirectsElsewhere
};

// A peer on 127.0.0.1 that reads the request and then misbehaves as told.
class HostilePeer : public QObject
{
public:
    HostilePeer(PeerBehaviour behaviour, QByteArray location)
        : m_behaviour(behaviour)
        , m_location(std::move(location))
    {
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = m_server.nextPendingConnection()) {
                socket->setParent(this);
                connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onRequestBytes(socket); });
                m_buffers.insert(socket, QByteArray(""));
            }
        });
    }
    [[nodiscard]] bool listen() { return m_server.listen(QHostAddress::LocalHost, 0); }
    [[nodiscard]] quint16 port() const { return m_server.serverPort(); }
    [[nodiscard]] bool sawRequest() const { return m_requests > 0; }
    [[nodiscard]] int requests() const { return m_requests; }
    [[nodiscard]] qint64 sentBytes() const { return m_sent; }

private:
    void onRequestBytes(QTcpSocket* socket)
    {
        QByteArray& request = m_buffers[socket];
        if (request.isNull())
            return; // this connection's request was complete
        request += socket->readAll();
        const qsizetype headerEnd = request.indexOf("\r\n\r\n");
        if (headerEnd < 0)
            return;
        const qsizetype lengthAt = request.toLower().indexOf("content-length:");
        const qsizetype length = lengthAt < 0
            ? 0
            : request.mid(lengthAt + 15, request.indexOf('\r', lengthAt) - lengthAt - 15).trimmed().toLongLong();
        if (request.size() < headerEnd + 4 + length)
            return;
        request = QByteArray();
        ++m_requests;
        const QByteArray body(tenMegabytes, 'a');
        switch (m_behaviour) {
        case PeerBehaviour::NeverAnswers:
            break;
        case PeerBehaviour::AnswersTenMegabytes:
            socket->write("HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: "
                + QByteArray::number(body.size()) + "\r\n\r\n" + body);
            break;
        case PeerBehaviour::AnswersTenMegabytesUntilClosed:
            socket->write("HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nConnection: close\r\n\r\n" + body);
            socket->disconnectFromHost();
            break;
        case PeerBehaviour::ClosesMidResponse:
            socket->write("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\npartial");
            socket->flush();
            socket->disconnectFromHost();
            break;
        case PeerBehaviour::ClosesBeforeAnswering:
            socket->abort();
            break;
        case PeerBehaviour::Floods64Megabytes:
            // Written a chunk at a time as the client takes it, so that the test holds no 64 MB.
            connect(socket, &QTcpSocket::bytesWritten, this, [this, socket](qint64 written) {
                m_sent += written;
                if (m_unwritten > 0 && socket->bytesToWrite() < floodChunkBytes) {
                    socket->write(QByteArray(floodChunkBytes, 'a'));
                    m_unwritten -= floodChunkBytes;
                }
            });
            m_unwritten = floodBytes - floodChunkBytes;
            socket->write("HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: "
                + QByteArray::number(floodBytes) + "\r\n\r\n" + QByteArray(floodChunkBytes, 'a'));
            break;
        case PeerBehaviour::RedirectsElsewhere:
            socket->write(
                "HTTP/1.1 307 Temporary Redirect\r\nLocation: " + m_location + "\r\nContent-Length: 0\r\n\r\n");
            break;
        }
    }

    PeerBehaviour m_behaviour;
    QByteArray m_location;
    qint64 m_sent = 0;
    qint64 m_unwritten = 0;
    QTcpServer m_server;
    QHash<QTcpSocket*, QByteArray> m_buffers; // null once the request was complete
    int m_requests = 0;
};

} // namespace

// Limnora's port answered by a peer that hangs, floods or hangs up: generate() returns at
// once, the GUI thread keeps turning, memory stays bounded, and the outcome is only logged.
class FaultsGenerate : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_root;
    TestHttpServer m_elsewhere; // where a redirect points: it must never be asked

private slots:
    void initTestCase()
    {
        QVERIFY(m_root.isValid());
        if (QFileInfo::exists(QStringLiteral("/opt/Limnora/limnora")))
            QSKIP("Limnora is installed on this machine; these tests need it absent");
        // Every lookup place of Limnora points into the test's own empty folder.
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_root.filePath(QStringLiteral("data"))));
        qputenv("XDG_DATA_DIRS", QFile::encodeName(m_root.filePath(QStringLiteral("system-data"))));
        qputenv("HOME", QFile::encodeName(m_root.filePath(QStringLiteral("home"))));
        QVERIFY(!findLimnoraApp());
        QVERIFY(m_elsewhere.listen());
    }

    void hostilePeer_data()
    {
        QTest::addColumn<PeerBehaviour>("behaviour");
        // The last log line once the exchange is over; empty: nothing after the three request lines.
        QTest::addColumn<QString>("lastLinePrefix");
        QTest::addColumn<qsizetype>("lastLineLength");
        QTest::addColumn<int>("status"); // announced by generateFinished; -1: nothing announced

        const QString body = QStringLiteral("Limnoscope: response body: ");
        const QString error = QStringLiteral("Limnoscope: request error: ");
        QTest::newRow("never answers") << PeerBehaviour::NeverAnswers << QString() << qsizetype(0) << -1;
        QTest::newRow("answers 10 MB") << PeerBehaviour::AnswersTenMegabytes << body << body.size() + 500 << 200;
        QTest::newRow("answers 10 MB, then closes")
            << PeerBehaviour::AnswersTenMegabytesUntilClosed << body << body.size() + 500 << 200;
        QTest::newRow("answers 64 MB") << PeerBehaviour::Floods64Megabytes << body << body.size() + 500 << 200;
        QTest::newRow("closes mid-response") << PeerBehaviour::ClosesMidResponse << error << qsizetype(-1) << 0;
        QTest::newRow("closes before answering") << PeerBehaviour::ClosesBeforeAnswering << error << qsizetype(-1) << 0;
        QTest::newRow("redirects to another server") << PeerBehaviour::RedirectsElsewhere << body << body.size() << 307;
    }

    void hostilePeer()
    {
        QFETCH(PeerBehaviour, behaviour);
        QFETCH(QString, lastLinePrefix);
        QFETCH(qsizetype, lastLineLength);
        QFETCH(int, status);

        const QString elsewhere = QStringLiteral("http://127.0.0.1:%1/sdapi/v1/txt2img").arg(m_elsewhere.port());
        HostilePeer peer(behaviour, elsewhere.toLatin1());
        QVERIFY(peer.listen());
        StdoutCapture capture;
        const long peakBefore = peakResidentKB();
        std::optional<EventLoopStallMeter> stalls;

        {
            LimnoraAPIService service(peer.port());
            QSignalSpy finished(&service, &LimnoraAPIService::generateFinished);
            LimnoraMetadata record;
            record.prompt = QStringLiteral("a lake at dawn");
            QElapsedTimer clock;
            clock.start();
            service.generate(record);
            QVERIFY2(clock.elapsed() < generateReturnBoundMs, qPrintable(QString::number(clock.elapsed())));
            stalls.emplace();

            QTRY_VERIFY_WITH_TIMEOUT(peer.sawRequest(), answerWaitMs);
            if (lastLinePrefix.isEmpty()) {
                // Nothing comes back: after a while, still only the request lines, and the
                // service can go away with its request open.
                QTest::qWait(1000);
                QCOMPARE(capture.logLines().size(), 3);
            } else {
                QTRY_VERIFY_WITH_TIMEOUT(
                    !capture.logLines().isEmpty() && capture.logLines().last().startsWith(lastLinePrefix),
                    answerWaitMs);
                const QString last = capture.logLines().last();
                if (lastLineLength >= 0)
                    QCOMPARE(last.size(), lastLineLength);
            }
            QCOMPARE(finished.size(), status < 0 ? 0 : 1);
            if (status >= 0) {
                using Outcome = LimnoraAPIService::GenerateOutcome;
                QCOMPARE(finished.first().at(0).value<Outcome>(),
                    status == 0        ? Outcome::unreachable
                        : status < 300 ? Outcome::sent
                                       : Outcome::refused);
                QCOMPARE(finished.first().at(1).toInt(), status);
            }
        }
        QVERIFY(m_elsewhere.requests().isEmpty());
        QCOMPARE(capture.logLines().contains("Limnoscope: response location: " + elsewhere), status == 307);
        QVERIFY2(peer.sentBytes() < floodSentBound, qPrintable(QString::number(peer.sentBytes())));
        QVERIFY2(stalls->longestGapMs() < eventLoopGapBoundMs, qPrintable(QString::number(stalls->longestGapMs())));
        QVERIFY2(peakResidentKB() - peakBefore < peakGrowthBoundKB,
            qPrintable(QStringLiteral("peak grew by %1 KB").arg(peakResidentKB() - peakBefore)));
        qInfo("requests received: %d", peer.requests());
        QVERIFY(capture.logLines().at(0).startsWith(QLatin1String("Limnoscope: sending POST to http://127.0.0.1:")));
    }
};

QTEST_GUILESS_MAIN(FaultsGenerate)
#include "tst_FaultsGenerate.moc"
