#include "LimnoraAPI.h"
#include "LimnoraLauncher.h"
#include "TestFiles.h"
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

constexpr int requestWaitMs = 5000;
const QString logPrefix = QStringLiteral("Limnoscope: ");

LimnoraMetadata sampleRecord(const QString& prompt = QStringLiteral("湖の夜明け, café au lait 🌅"))
{
    LimnoraMetadata metadata;
    metadata.prompt = prompt;
    metadata.negativePrompt = QStringLiteral("blurry, ぼやけ");
    metadata.settings.insert(QStringLiteral("Steps"), QStringLiteral("30"));
    metadata.settings.insert(QStringLiteral("Seed"), QStringLiteral("4294967295"));
    metadata.settings.insert(QStringLiteral("Size"), QStringLiteral("896 x 1152"));
    metadata.loras.append(LoraEntry { .file = QStringLiteral("detail.safetensors"), .weight = 0.6 });
    return metadata;
}

void writeExecutable(const QString& path, const QByteArray& text)
{
    writeFile(path, text);
    QFile::setPermissions(path, QFile::permissions(path) | QFileDevice::ExeOwner);
}

// The one generateFinished signal: the outcome for an HTTP `status` (0: no answer) and the status.
void compareFinished(const QSignalSpy& finished, int status)
{
    using Outcome = LimnoraAPIService::GenerateOutcome;
    QCOMPARE(finished.size(), 1);
    QCOMPARE(finished.first().at(0).value<Outcome>(),
        !status            ? Outcome::unreachable
            : status < 300 ? Outcome::sent
                           : Outcome::refused);
    QCOMPARE(finished.first().at(1).toInt(), status);
}

constexpr int answerWaitMs = 20'000;
constexpr qint64 generateReturnBoundMs = 200; // generate() only hands the request over
constexpr qint64 eventLoopGapBoundMs = 500;
constexpr long peakGrowthBoundKB = 256 * 1024;
constexpr qint64 chunkBytes = 1024 * 1024;
// What the loopback's socket buffers may hold beyond the bytes read before hanging up.
constexpr qint64 sentBound = 16 * chunkBytes;

// A peer on 127.0.0.1 that reads a request, writes `head`, then `bodyBytes` as taken, and may hang up.
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

// Generate requests to Limnora's port, also answered by a peer that hangs, floods or hangs up:
// generate() returns at once, the GUI thread keeps turning and memory stays bounded.
class LimnoraGenerateTest : public QObject
{
    Q_OBJECT

private:
    QString applicationsDir() const { return m_root.filePath(QStringLiteral("data/applications")); }
    QString homeDir() const { return m_root.filePath(QStringLiteral("home")); }

    QTemporaryDir m_root;
    TestHttpServer m_elsewhere; // where a redirect points: it must never be asked
    QString elsewhere() const { return QStringLiteral("http://127.0.0.1:%1/sdapi/v1/txt2img").arg(m_elsewhere.port()); }

private slots:
    void initTestCase()
    {
        QVERIFY(m_root.isValid());
        if (QFileInfo::exists(QStringLiteral("/opt/Limnora/limnora")))
            QSKIP("Limnora is installed on this machine; these tests need it absent");
        // Every lookup place of Limnora points into the test's own folder.
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_root.filePath(QStringLiteral("data"))));
        qputenv("XDG_DATA_DIRS", QFile::encodeName(m_root.filePath(QStringLiteral("system-data"))));
        qputenv("HOME", QFile::encodeName(homeDir()));
        QVERIFY(!limnoscope::findLimnoraApp());
        QVERIFY(m_elsewhere.listen());
    }

    void cleanup()
    {
        QDir(applicationsDir()).removeRecursively();
        QDir(homeDir()).removeRecursively();
    }

    void postsTheBody_data()
    {
        QTest::addColumn<int>("status"); // 0: nothing listens
        QTest::addColumn<QByteArray>("responseBody");
        QTest::addColumn<QString>("loggedBody"); // null: no body line

        QTest::newRow("ok") << 200 << QByteArray("{\"images\":[]}") << QStringLiteral("{\"images\":[]}");
        QTest::newRow("server error is still an answer") << 500 << QByteArray("model not loaded") << "model not loaded";
        QTest::newRow("empty body") << 204 << QByteArray() << QStringLiteral("");
        // Cut after 500 characters, never inside a character or a combining sequence.
        for (const QString& unit : { QStringLiteral("\u00e9"), QStringLiteral("🌅"), QStringLiteral("e\u0301") })
            QTest::addRow("600 x %s", qPrintable(unit)) << 200 << unit.repeated(600).toUtf8() << unit.repeated(500);
        QTest::newRow("not UTF-8") << 200 << QByteArray("\xff\xfe\x00o") << QString();
        QTest::newRow("connection refused") << 0 << QByteArray() << QString();
    }

    void postsTheBody()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, responseBody);
        QFETCH(QString, loggedBody);

        TestHttpServer server;
        QVERIFY(server.listen());
        server.setResponse(status, responseBody);
        const quint16 port = status ? server.port() : unusedLocalPort();
        LimnoraAPIService service(port);
        const LimnoraMetadata metadata = sampleRecord();
        const QByteArray expectedBody = txt2imgBody(metadata);

        StdoutCapture capture;
        QSignalSpy finished(&service, &LimnoraAPIService::generateFinished);
        const qint64 startedAt = server.elapsedMs();
        service.generate(metadata);
        QStringList expectedLog {
            logPrefix + QStringLiteral("sending POST to http://127.0.0.1:%1/sdapi/v1/txt2img").arg(port),
            logPrefix + QStringLiteral("payload = ") + QString::fromUtf8(expectedBody),
            logPrefix + QStringLiteral("body bytes = %1").arg(expectedBody.size()),
            logPrefix + (status ? QStringLiteral("response status: %1").arg(status) : QStringLiteral("request error: "))
        };
        if (!loggedBody.isNull())
            expectedLog.append(logPrefix + QStringLiteral("response body: ") + loggedBody);
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, requestWaitMs);
        QTest::qWait(100); // nothing may follow
        QStringList logged = capture.logLines();
        QVERIFY(capture.text().endsWith(u'\n'));
        compareFinished(finished, status);
        if (!status) { // the error is named
            QVERIFY2(logged.value(3).startsWith(expectedLog[3]) && logged[3].size() > expectedLog[3].size(),
                qPrintable(logged.value(3)));
            logged[3] = expectedLog[3];
        }
        QCOMPARE(logged, expectedLog);
        if (!status)
            return;
        QCOMPARE(server.requests().size(), 1);
        const TestHttpServer::Request request = server.requests().first();
        QVERIFY2(request.receivedAtMs - startedAt < 450, "without Limnora installed nothing is waited for");
        QCOMPARE(request.method + ' ' + request.target + ' ' + request.headers.value("content-type") + ' '
                + request.headers.value("content-length") + '\n' + request.body,
            "POST /sdapi/v1/txt2img application/json " + QByteArray::number(expectedBody.size()) + '\n' + expectedBody);
    }

    void requestsOverlap()
    {
        TestHttpServer server;
        QVERIFY(server.listen());
        server.holdResponses(true);
        LimnoraAPIService service(server.port());
        StdoutCapture capture;
        service.generate(sampleRecord());
        service.generate(sampleRecord(QStringLiteral("second")));
        // Both requests arrive while neither has been answered.
        QTRY_COMPARE_WITH_TIMEOUT(server.requests().size(), 2, requestWaitMs);
        QCOMPARE(capture.logLines().filter(QStringLiteral("response status")).size(), 0);
        server.holdResponses(false);
        QTRY_COMPARE_WITH_TIMEOUT(
            capture.logLines().filter(QStringLiteral("response status: 200")).size(), 2, requestWaitMs);
    }

    void launchesInstalledLimnoraFirst()
    {
        TestHttpServer server;
        QVERIFY(server.listen());
        const QString marker = m_root.filePath(QStringLiteral("launched"));
        const QString script = m_root.filePath(QStringLiteral("bin/fake limnora"));
        writeExecutable(script, "#!/bin/sh\nprintf '%s|' \"$@\" > '" + QFile::encodeName(marker) + "'\n");
        writeExecutable(applicationsDir() + QStringLiteral("/limnora.desktop"),
            "[Desktop Entry]\nType=Application\nName=Limnora\nExec=\"" + QFile::encodeName(script) + "\" --serve %U\n");

        LimnoraAPIService service(server.port());
        StdoutCapture capture;
        const qint64 startedAt = server.elapsedMs();
        service.generate(sampleRecord());
        QTRY_COMPARE_WITH_TIMEOUT(server.requests().size(), 1, requestWaitMs);
        QVERIFY2(server.requests().first().receivedAtMs - startedAt >= 500, "Limnora gets half a second to start");
        QTRY_VERIFY(QFileInfo::exists(marker));
        QFile launched(marker);
        QVERIFY(launched.open(QIODevice::ReadOnly));
        QCOMPARE(launched.readAll(), QByteArray("--serve|"));
        QFile::remove(marker);
    }

    void findLimnoraApp_data()
    {
        QTest::addColumn<QStringList>("desktopEntries"); // "id" or "id:hidden"
        QTest::addColumn<bool>("appImage");
        QTest::addColumn<QString>("expected"); // relative to the test root, empty: nothing found

        const QString entry = QStringLiteral("limnora.desktop");
        const QString universal = QStringLiteral("com.limnora.Limnora.desktop");
        QTest::newRow("nothing installed") << QStringList() << false << QString();
        QTest::newRow("AppImage in home") << QStringList() << true << "home/Applications/Limnora.AppImage";
        QTest::newRow("desktop entry before AppImage") << QStringList { entry } << true << "data/applications/" + entry;
        QTest::newRow("universal entry first")
            << QStringList { entry, universal } << true << "data/applications/" + universal;
        QTest::newRow("hidden entry skipped")
            << QStringList { entry, universal + ":hidden" } << false << "data/applications/" + entry;
    }

    void findLimnoraApp()
    {
        QFETCH(QStringList, desktopEntries);
        QFETCH(bool, appImage);
        QFETCH(QString, expected);

        for (const QString& entry : desktopEntries) {
            const QByteArray hidden = entry.endsWith(QLatin1String(":hidden")) ? "Hidden=true\n" : "";
            writeExecutable(applicationsDir() + u'/' + entry.section(u':', 0, 0),
                "[Desktop Entry]\nType=Application\nExec=limnora\n" + hidden);
        }
        if (appImage)
            writeExecutable(homeDir() + QStringLiteral("/Applications/Limnora.AppImage"), "#!/bin/sh\n");

        QCOMPARE(limnoscope::findLimnoraApp().value_or(QString()),
            expected.isEmpty() ? QString() : m_root.filePath(expected));
    }

    void desktopExecArguments_data()
    {
        QTest::addColumn<QString>("exec");
        QTest::addColumn<QStringList>("arguments");

        QTest::newRow("field code dropped") << "limnora %U" << QStringList { "limnora" };
        QTest::newRow("several spaces") << "  limnora   --serve\t%f " << QStringList { "limnora", "--serve" };
        QTest::newRow("quoted path") << "\"/opt/My Apps/limnora\" --port 7860"
                                     << QStringList { "/opt/My Apps/limnora", "--port", "7860" };
        QTest::newRow("escapes inside quotes")
            << "sh -c \"echo \\\"a\\\" \\$HOME \\\\ \\`x\\`\"" << QStringList { "sh", "-c", "echo \"a\" $HOME \\ `x`" };
        QTest::newRow("percent kept") << "limnora --scale=100%%" << QStringList { "limnora", "--scale=100%" };
        QTest::newRow("embedded field code") << "limnora --file=%f" << QStringList { "limnora", "--file=" };
        QTest::newRow("empty quoted argument") << "limnora \"\"" << QStringList { "limnora", "" };
        QTest::newRow("empty") << "" << QStringList();
    }

    void desktopExecArguments()
    {
        QFETCH(QString, exec);
        QFETCH(QStringList, arguments);
        QCOMPARE(limnoscope::desktopExecArguments(exec), arguments);
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
            QElapsedTimer clock;
            clock.start();
            service.generate(sampleRecord(QStringLiteral("a lake at dawn")));
            QVERIFY2(clock.elapsed() < generateReturnBoundMs, qPrintable(QString::number(clock.elapsed())));
            stalls.emplace();

            QTRY_VERIFY_WITH_TIMEOUT(peer.sawRequest(), answerWaitMs);
            if (status < 0) { // still only the request lines; the service goes away with its request open
                QTest::qWait(1000);
                QCOMPARE(capture.logLines().size(), 3);
                QVERIFY(finished.isEmpty());
            } else {
                const QString last = status ? "Limnoscope: response body: " : "Limnoscope: request error: ";
                QTRY_VERIFY_WITH_TIMEOUT(
                    !capture.logLines().isEmpty() && capture.logLines().last().startsWith(last), answerWaitMs);
                if (status) // the body: at most 500 characters
                    QCOMPARE(capture.logLines().last().size(), last.size() + (status == 200 ? 500 : 0));
                compareFinished(finished, status);
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

QTEST_GUILESS_MAIN(LimnoraGenerateTest)
#include "tst_LimnoraGenerate.moc"
