#include "LimnoraAPI.h"
#include "LimnoraLauncher.h"
#include "TestHttpServer.h"
#include "TestRuntime.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

using namespace limnoscope;
using namespace limnoscope::test;

namespace {

constexpr int answerWaitMs = 20'000;
constexpr qint64 generateReturnBoundMs = 200; // generate() only hands the request over
constexpr qint64 eventLoopGapBoundMs = 500;
constexpr long peakGrowthBoundKB = 256 * 1024;
constexpr qint64 chunkBytes = 1024 * 1024;
// What the loopback's socket buffers may hold beyond the bytes read before hanging up.
constexpr qint64 sentBound = 16 * chunkBytes;

// A peer on 127.0.0.1 that reads a request, writes `head` and then `bodyBytes` a chunk at a time as
// the client takes them, and hangs up if told to.
class HostilePeer : public QObject
{
public:
    HostilePeer(QByteArray head, qint64 bodyBytes, bool hangUp)
        : m_head(std::move(head))
        , m_unwritten(bodyBytes)
        , m_hangUp(hangUp)
    {
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = m_server.nextPendingConnection()) {
                socket->setParent(this);
                connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onRequestBytes(socket); });
                connect(socket, &QTcpSocket::bytesWritten, this, [this, socket](qint64 written) {
                    m_sent += written;
                    writeMore(socket);
                });
            }
        });
    }
    [[nodiscard]] bool listen() { return m_server.listen(QHostAddress::LocalHost, 0); }
    [[nodiscard]] quint16 port() const { return m_server.serverPort(); }
    [[nodiscard]] bool sawRequest() const { return !m_answered.isEmpty(); }
    [[nodiscard]] qint64 sentBytes() const { return m_sent; }

private:
    void onRequestBytes(QTcpSocket* socket)
    {
        if (m_answered.contains(socket))
            return;
        QByteArray& request = m_requests[socket];
        request += socket->readAll();
        const qsizetype headerEnd = request.indexOf("\r\n\r\n");
        const qsizetype lengthAt = request.toLower().indexOf("content-length:");
        if (headerEnd < 0 || lengthAt < 0
            || request.size()
                < headerEnd + 4 + request.mid(lengthAt + 15, 12).split('\r').first().trimmed().toLongLong())
            return;
        m_answered.insert(socket);
        if (m_head.isEmpty() && m_hangUp)
            return socket->abort();
        socket->write(m_head);
        writeMore(socket);
    }
    void writeMore(QTcpSocket* socket)
    {
        if (m_unwritten > 0 && socket->bytesToWrite() < chunkBytes) {
            const qint64 bytes = std::min(m_unwritten, chunkBytes);
            socket->write(QByteArray(bytes, 'a'));
            m_unwritten -= bytes;
        } else if (m_unwritten == 0 && m_hangUp && socket->state() == QAbstractSocket::ConnectedState) {
            socket->disconnectFromHost();
        }
    }

    QTcpServer m_server;
    QHash<QTcpSocket*, QByteArray> m_requests;
    QSet<QTcpSocket*> m_answered; // each answered once; Qt may send the request again on a new connection
    QByteArray m_head;
    qint64 m_unwritten;
    bool m_hangUp;
    qint64 m_sent = 0;
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
    QString elsewhere() const { return QStringLiteral("http://127.0.0.1:%1/sdapi/v1/txt2img").arg(m_elsewhere.port()); }

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
        QTest::addColumn<QByteArray>("head");
        QTest::addColumn<qint64>("bodyBytes");
        QTest::addColumn<bool>("hangUp");
        QTest::addColumn<int>("status"); // 0: a request error, -1: nothing after the request lines

        const QByteArray ok = "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n";
        const QByteArray length = "Content-Length: ";
        const qint64 ten = 10 * chunkBytes;
        QTest::newRow("never answers") << QByteArray() << qint64(0) << false << -1;
        QTest::newRow("answers 10 MB, then closes") << ok + "Connection: close\r\n\r\n" << ten << true << 200;
        QTest::newRow("answers 64 MB") << ok + length + QByteArray::number(64 * chunkBytes) + "\r\n\r\n"
                                       << 64 * chunkBytes << false << 200;
        QTest::newRow("closes mid-response")
            << "HTTP/1.1 200 OK\r\n" + length + "100000\r\n\r\npartial" << qint64(0) << true << 0;
        QTest::newRow("closes before answering") << QByteArray() << qint64(0) << true << 0;
        QTest::newRow("redirects to another server")
            << "HTTP/1.1 307 Temporary Redirect\r\nLocation: " + elsewhere().toLatin1() + "\r\n" + length + "0\r\n\r\n"
            << qint64(0) << false << 307;
    }

    void hostilePeer()
    {
        QFETCH(QByteArray, head);
        QFETCH(qint64, bodyBytes);
        QFETCH(bool, hangUp);
        QFETCH(int, status);
        HostilePeer peer(head, bodyBytes, hangUp);
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
            if (status < 0) {
                // Still only the request lines; the service goes away with its request open.
                QTest::qWait(1000);
                QCOMPARE(capture.logLines().size(), 3);
            } else {
                const QString last = status ? "Limnoscope: response body: " : "Limnoscope: request error: ";
                QTRY_VERIFY_WITH_TIMEOUT(
                    !capture.logLines().isEmpty() && capture.logLines().last().startsWith(last), answerWaitMs);
                if (status) // the body: at most 500 characters
                    QCOMPARE(capture.logLines().last().size(), last.size() + (status == 200 ? 500 : 0));
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
        QCOMPARE(capture.logLines().contains("Limnoscope: response location: " + elsewhere()), status == 307);
        QVERIFY2(peer.sentBytes() < sentBound, qPrintable(QString::number(peer.sentBytes())));
        QVERIFY2(stalls->longestGapMs() < eventLoopGapBoundMs, qPrintable(QString::number(stalls->longestGapMs())));
        QVERIFY2(peakResidentKB() - peakBefore < peakGrowthBoundKB,
            qPrintable(QStringLiteral("peak grew by %1 KB").arg(peakResidentKB() - peakBefore)));
        QVERIFY(capture.logLines().at(0).startsWith(QLatin1String("Limnoscope: sending POST to http://127.0.0.1:")));
    }
};

QTEST_GUILESS_MAIN(FaultsGenerate)
#include "tst_FaultsGenerate.moc"
