#include "LimnoraAPI.h"
#include "LimnoraLauncher.h"
#include "TestHttpServer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTest>

#include <cstdio>
#include <unistd.h>

using namespace limnoscope;
using limnoscope::test::TestHttpServer;

namespace {

constexpr int requestWaitMs = 5000;

// Sends everything written to standard output into a file while it lives. On a failed test the
// captured text is echoed to standard error, since the failure message itself went there.
class StdoutCapture
{
public:
    StdoutCapture()
    {
        if (!m_file.open())
            qFatal("cannot create a capture file");
        std::fflush(stdout);
        m_savedFd = ::dup(STDOUT_FILENO);
        ::dup2(m_file.handle(), STDOUT_FILENO);
    }
    ~StdoutCapture()
    {
        std::fflush(stdout);
        ::dup2(m_savedFd, STDOUT_FILENO);
        ::close(m_savedFd);
        if (QTest::currentTestFailed())
            std::fprintf(stderr, "captured output:\n%s\n", text().toLocal8Bit().constData());
    }
    StdoutCapture(const StdoutCapture&) = delete;
    StdoutCapture& operator=(const StdoutCapture&) = delete;

    [[nodiscard]] QString text() const
    {
        QFile file(m_file.fileName());
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }
    // The log lines only: the test framework may write lines of its own meanwhile.
    [[nodiscard]] QStringList logLines() const
    {
        QStringList lines;
        for (const QString& line : text().split(u'\n'))
            if (line.startsWith(QLatin1String("Limnoscope: ")))
                lines.append(line);
        return lines;
    }

private:
    QTemporaryFile m_file;
    int m_savedFd = -1;
};

LimnoraMetadata sampleRecord()
{
    LimnoraMetadata metadata;
    metadata.prompt = QStringLiteral("湖の夜明け, café au lait 🌅");
    metadata.negativePrompt = QStringLiteral("blurry, ぼやけ");
    metadata.settings.insert(QStringLiteral("Steps"), QStringLiteral("30"));
    metadata.settings.insert(QStringLiteral("Seed"), QStringLiteral("4294967295"));
    metadata.settings.insert(QStringLiteral("Size"), QStringLiteral("896 x 1152"));
    LoraEntry lora;
    lora.file = QStringLiteral("detail.safetensors");
    lora.weight = 0.6;
    metadata.loras.append(lora);
    return metadata;
}

quint16 unusedPort()
{
    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost, 0))
        qFatal("cannot listen on 127.0.0.1");
    return server.serverPort();
}

void writeExecutable(const QString& path, const QByteArray& text)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size())
        qFatal("cannot write %s", qPrintable(path));
    file.setPermissions(file.permissions() | QFileDevice::ExeOwner);
}

} // namespace

class LimnoraGenerateTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void postsTheBody_data();
    void postsTheBody();
    void refusedConnectionIsOnlyLogged();
    void requestsOverlap();
    void launchesInstalledLimnoraFirst();

    void findLimnoraApp_data();
    void findLimnoraApp();
    void desktopExecArguments_data();
    void desktopExecArguments();

private:
    QString applicationsDir() const { return m_root.filePath(QStringLiteral("data/applications")); }
    QString homeDir() const { return m_root.filePath(QStringLiteral("home")); }

    QTemporaryDir m_root;
};

void LimnoraGenerateTest::initTestCase()
{
    QVERIFY(m_root.isValid());
    if (QFileInfo::exists(QStringLiteral("/opt/Limnora/limnora")))
        QSKIP("Limnora is installed on this machine; these tests need it absent");
    // Every lookup place of Limnora points into the test's own folder.
    QVERIFY(QDir().mkpath(applicationsDir()));
    QVERIFY(QDir().mkpath(homeDir()));
    qputenv("XDG_DATA_HOME", QFile::encodeName(m_root.filePath(QStringLiteral("data"))));
    qputenv("XDG_DATA_DIRS", QFile::encodeName(m_root.filePath(QStringLiteral("system-data"))));
    qputenv("HOME", QFile::encodeName(homeDir()));
    QVERIFY(!limnoscope::findLimnoraApp());
}

void LimnoraGenerateTest::cleanup()
{
    QDir(applicationsDir()).removeRecursively();
    QDir(homeDir()).removeRecursively();
    QDir().mkpath(applicationsDir());
    QDir().mkpath(homeDir());
}

void LimnoraGenerateTest::postsTheBody_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("responseBody");
    QTest::addColumn<QString>("loggedBody"); // null: no body line

    QTest::newRow("ok") << 200 << QByteArray(R"({"images":[]})") << QStringLiteral(R"({"images":[]})");
    QTest::newRow("server error is still an answer")
        << 500 << QByteArray("model not loaded") << QStringLiteral("model not loaded");
    QTest::newRow("empty body") << 204 << QByteArray() << QStringLiteral("");
    QTest::newRow("600 two-byte characters") << 200 << QString(600, QChar(0xe9)).toUtf8() << QString(500, QChar(0xe9));
    QTest::newRow("600 emoji") << 200 << QStringLiteral("🌅").repeated(600).toUtf8()
                               << QStringLiteral("🌅").repeated(500);
    QTest::newRow("600 combining sequences")
        << 200 << QStringLiteral("e\u0301").repeated(600).toUtf8() << QStringLiteral("e\u0301").repeated(500);
    QTest::newRow("not UTF-8") << 200 << QByteArray("\xff\xfe\x00o") << QString();
}

void LimnoraGenerateTest::postsTheBody()
{
    QFETCH(int, status);
    QFETCH(QByteArray, responseBody);
    QFETCH(QString, loggedBody);

    TestHttpServer server;
    QVERIFY(server.listen());
    server.setResponse(status, responseBody);
    LimnoraAPIService service(server.port());
    const LimnoraMetadata metadata = sampleRecord();
    const QByteArray expectedBody = txt2imgBody(metadata);
    const QString url = QStringLiteral("http://127.0.0.1:%1/sdapi/v1/txt2img").arg(server.port());

    StdoutCapture capture;
    const qint64 startedAt = server.elapsedMs();
    service.generate(metadata);
    QTRY_COMPARE_WITH_TIMEOUT(server.requests().size(), 1, requestWaitMs);
    const TestHttpServer::Request request = server.requests().first();
    QVERIFY2(request.receivedAtMs - startedAt < 450, "without Limnora installed nothing is waited for");

    QCOMPARE(request.method, QByteArray("POST"));
    QCOMPARE(request.target, QByteArray("/sdapi/v1/txt2img"));
    QCOMPARE(request.headers.value("content-type"), QByteArray("application/json"));
    QVERIFY(expectedBody.size() > metadata.prompt.size() + metadata.negativePrompt.size() + 20);
    QCOMPARE(request.headers.value("content-length"), QByteArray::number(expectedBody.size()));
    QCOMPARE(request.body, expectedBody);

    QStringList expectedLog { QStringLiteral("Limnoscope: sending POST to ") + url,
        QStringLiteral("Limnoscope: payload = ") + QString::fromUtf8(expectedBody),
        QStringLiteral("Limnoscope: body bytes = ") + QString::number(expectedBody.size()),
        QStringLiteral("Limnoscope: response status: ") + QString::number(status) };
    if (!loggedBody.isNull())
        expectedLog.append(QStringLiteral("Limnoscope: response body: ") + loggedBody);
    QTRY_COMPARE_WITH_TIMEOUT(capture.logLines().size(), expectedLog.size(), requestWaitMs);
    QCOMPARE(capture.logLines(), expectedLog);
    QVERIFY(capture.text().endsWith(u'\n'));
}

void LimnoraGenerateTest::refusedConnectionIsOnlyLogged()
{
    LimnoraAPIService service(unusedPort());
    StdoutCapture capture;
    service.generate(sampleRecord());
    QTRY_COMPARE_WITH_TIMEOUT(capture.logLines().size(), 4, requestWaitMs);
    const QStringList lines = capture.logLines();
    QVERIFY(lines[0].startsWith(QLatin1String("Limnoscope: sending POST to http://127.0.0.1:")));
    QVERIFY(lines[1].startsWith(QLatin1String("Limnoscope: payload = {")));
    QVERIFY(lines[2].startsWith(QLatin1String("Limnoscope: body bytes = ")));
    QVERIFY2(lines[3].startsWith(QLatin1String("Limnoscope: request error: ")), qPrintable(lines[3]));
    QVERIFY(lines[3].size() > QLatin1String("Limnoscope: request error: ").size());
    QTest::qWait(100); // nothing may follow the error line
    QCOMPARE(capture.logLines().size(), 4);
}

void LimnoraGenerateTest::requestsOverlap()
{
    TestHttpServer server;
    QVERIFY(server.listen());
    server.holdResponses(true);
    LimnoraAPIService service(server.port());
    StdoutCapture capture;
    LimnoraMetadata first = sampleRecord();
    LimnoraMetadata second = sampleRecord();
    second.prompt = QStringLiteral("second");
    service.generate(first);
    service.generate(second);
    // Both requests arrive while neither has been answered.
    QTRY_COMPARE_WITH_TIMEOUT(server.requests().size(), 2, requestWaitMs);
    QCOMPARE(capture.logLines().filter(QStringLiteral("response status")).size(), 0);
    server.holdResponses(false);
    QTRY_COMPARE_WITH_TIMEOUT(
        capture.logLines().filter(QStringLiteral("response status: 200")).size(), 2, requestWaitMs);
}

void LimnoraGenerateTest::launchesInstalledLimnoraFirst()
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

void LimnoraGenerateTest::findLimnoraApp_data()
{
    QTest::addColumn<QStringList>("desktopEntries"); // "id" or "id:hidden"
    QTest::addColumn<bool>("appImage");
    QTest::addColumn<QString>("expected"); // relative to the test root, empty: nothing found

    QTest::newRow("nothing installed") << QStringList() << false << QString();
    QTest::newRow("AppImage in home") << QStringList() << true << "home/Applications/Limnora.AppImage";
    QTest::newRow("desktop entry before AppImage")
        << QStringList { "limnora.desktop" } << true << "data/applications/limnora.desktop";
    QTest::newRow("universal entry first") << QStringList { "limnora.desktop", "com.limnora.Limnora.desktop" } << true
                                           << "data/applications/com.limnora.Limnora.desktop";
    QTest::newRow("hidden entry skipped") << QStringList { "limnora.desktop", "com.limnora.Limnora.desktop:hidden" }
                                          << false << "data/applications/limnora.desktop";
    QTest::newRow("only hidden entry") << QStringList { "limnora.desktop:hidden" } << false << QString();
}

void LimnoraGenerateTest::findLimnoraApp()
{
    QFETCH(QStringList, desktopEntries);
    QFETCH(bool, appImage);
    QFETCH(QString, expected);

    for (const QString& entry : desktopEntries) {
        const QStringList parts = entry.split(u':');
        QByteArray text = "[Desktop Entry]\nType=Application\nExec=limnora\n";
        if (parts.size() > 1)
            text += "Hidden=true\n";
        writeExecutable(applicationsDir() + u'/' + parts.first(), text);
    }
    if (appImage)
        writeExecutable(homeDir() + QStringLiteral("/Applications/Limnora.AppImage"), "#!/bin/sh\n");

    const auto found = limnoscope::findLimnoraApp();
    if (expected.isEmpty())
        QVERIFY(!found);
    else
        QCOMPARE(found.value_or(QString()), m_root.filePath(expected));
}

void LimnoraGenerateTest::desktopExecArguments_data()
{
    QTest::addColumn<QString>("exec");
    QTest::addColumn<QStringList>("arguments");

    QTest::newRow("plain") << "limnora" << QStringList { "limnora" };
    QTest::newRow("field code dropped") << "limnora %U" << QStringList { "limnora" };
    QTest::newRow("several spaces") << "  limnora   --serve\t%f " << QStringList { "limnora", "--serve" };
    QTest::newRow("quoted path") << R"("/opt/My Apps/limnora" --port 7860)"
                                 << QStringList { "/opt/My Apps/limnora", "--port", "7860" };
    QTest::newRow("escapes inside quotes")
        << R"(sh -c "echo \"a\" \$HOME \\ \`x\`")" << QStringList { "sh", "-c", R"(echo "a" $HOME \ `x`)" };
    QTest::newRow("percent kept") << "limnora --scale=100%%" << QStringList { "limnora", "--scale=100%" };
    QTest::newRow("embedded field code") << "limnora --file=%f" << QStringList { "limnora", "--file=" };
    QTest::newRow("empty quoted argument") << R"(limnora "")" << QStringList { "limnora", "" };
    QTest::newRow("empty") << "" << QStringList();
}

void LimnoraGenerateTest::desktopExecArguments()
{
    QFETCH(QString, exec);
    QFETCH(QStringList, arguments);
    QCOMPARE(limnoscope::desktopExecArguments(exec), arguments);
}

QTEST_GUILESS_MAIN(LimnoraGenerateTest)
#include "tst_LimnoraGenerate.moc"
