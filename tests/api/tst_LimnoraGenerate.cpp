#include "LimnoraAPI.h"
#include "LimnoraLauncher.h"
#include "TestFiles.h"
#include "TestHttpServer.h"
#include "TestRuntime.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
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

} // namespace

class LimnoraGenerateTest : public QObject
{
    Q_OBJECT

private:
    QString applicationsDir() const { return m_root.filePath(QStringLiteral("data/applications")); }
    QString homeDir() const { return m_root.filePath(QStringLiteral("home")); }

    QTemporaryDir m_root;

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
        using Outcome = LimnoraAPIService::GenerateOutcome;
        QCOMPARE(finished.first().at(0).value<Outcome>(),
            !status            ? Outcome::unreachable
                : status < 300 ? Outcome::sent
                               : Outcome::refused);
        QCOMPARE(finished.first().at(1).toInt(), status);
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
        QCOMPARE(request.method, QByteArray("POST"));
        QCOMPARE(request.target, QByteArray("/sdapi/v1/txt2img"));
        QCOMPARE(request.headers.value("content-type"), QByteArray("application/json"));
        QCOMPARE(request.headers.value("content-length"), QByteArray::number(expectedBody.size()));
        QCOMPARE(request.body, expectedBody);
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

        const auto found = limnoscope::findLimnoraApp();
        QCOMPARE(found.has_value(), !expected.isEmpty());
        if (found)
            QCOMPARE(*found, m_root.filePath(expected));
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
};

QTEST_GUILESS_MAIN(LimnoraGenerateTest)
#include "tst_LimnoraGenerate.moc"
