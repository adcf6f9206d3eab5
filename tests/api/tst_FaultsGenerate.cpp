#include "LimnoraAPI.h"
#include "LimnoraLauncher.h"
#include "TestRuntime.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
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

enum class PeerBehaviour {
    NeverAnswers,
    AnswersTenMegabytes,
    AnswersTenMegabytesUntilClosed,
    ClosesMidResponse,
    ClosesBeforeAnswering
};

// A peer on 127.0.0.1 that reads the request and then misbehaves as told.
class HostilePeer : public QObject
{
public:
    explicit HostilePeer(PeerBehaviour behaviour)
        : m_behaviour(behaviour)
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
        }
    }

    PeerBehaviour m_behaviour;
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
    }

    void hostilePeer_data()
    {
        QTest::addColumn<PeerBehaviour>("behaviour");
        // The last log line once the exchange is over; empty: nothing after the three request lines.
        QTest::addColumn<QString>("lastLinePrefix");
        QTest::addColumn<qsizetype>("lastLineLength");

        const QString body = QStringLiteral("Limnoscope: response body: ");
        QTest::newRow("never answers") << PeerBehaviour::NeverAnswers << QString() << qsizetype(0);
        QTest::newRow("answers 10 MB") << PeerBehaviour::AnswersTenMegabytes << body << body.size() + 500;
        QTest::newRow("answers 10 MB, then closes")
            << PeerBehaviour::AnswersTenMegabytesUntilClosed << body << body.size() + 500;
        QTest::newRow("closes mid-response")
            << PeerBehaviour::ClosesMidResponse << QStringLiteral("Limnoscope: request error: ") << qsizetype(-1);
        QTest::newRow("closes before answering")
            << PeerBehaviour::ClosesBeforeAnswering << QStringLiteral("Limnoscope: request error: ") << qsizetype(-1);
    }

    void hostilePeer()
    {
        QFETCH(PeerBehaviour, behaviour);
        QFETCH(QString, lastLinePrefix);
        QFETCH(qsizetype, lastLineLength);

        HostilePeer peer(behaviour);
        QVERIFY(peer.listen());
        StdoutCapture capture;
        const long peakBefore = peakResidentKB();
        std::optional<EventLoopStallMeter> stalls;

        {
            LimnoraAPIService service(peer.port());
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
        }
        QVERIFY2(stalls->longestGapMs() < eventLoopGapBoundMs, qPrintable(QString::number(stalls->longestGapMs())));
        QVERIFY2(peakResidentKB() - peakBefore < peakGrowthBoundKB,
            qPrintable(QStringLiteral("peak grew by %1 KB").arg(peakResidentKB() - peakBefore)));
        qInfo("requests received: %d", peer.requests());
        QVERIFY(capture.logLines().at(0).startsWith(QLatin1String("Limnoscope: sending POST to http://127.0.0.1:")));
    }
};

QTEST_GUILESS_MAIN(FaultsGenerate)
#include "tst_FaultsGenerate.moc"
