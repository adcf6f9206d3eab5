#include "ExiftoolRunner.h"
#include "MetadataExtraction.h"
#include "MetadataParser.h"
#include "TestFiles.h"
#include "TestRuntime.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/types.h>

using namespace limnoscope;
using namespace limnoscope::test;

namespace {

// "file=text|file=text" sorted by file name.
QString describe(const QHash<QUrl, QString>& texts)
{
    QStringList entries;
    for (auto it = texts.begin(); it != texts.end(); ++it)
        entries.append(it.key().fileName() + u'=' + it.value());
    entries.sort();
    return entries.join(u'|');
}

constexpr std::chrono::milliseconds singleFileTimeout { 1500 };
constexpr std::chrono::milliseconds batchTimeout { 3000 };
constexpr qint64 returnMarginMs = 5000; // for killing and reaping after a timeout
constexpr int hangingBatchRuns = 3; // a batch out of time runs again in two halves, then gives up
constexpr std::chrono::milliseconds splitBatchBase { 2000 };
constexpr std::chrono::milliseconds splitBatchPerFile { 100 };
constexpr long peakGrowthLimitKB = 256 * 1024;

} // namespace

// The exiftool runner, also with a stand-in that hangs, prints garbage or dies mid-batch.
class TestExiftoolRunner : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QList<QUrl> m_images; // three PNGs with a description each

    void install(const QByteArray& script)
    {
        installFakeExiftool(m_dir.filePath("resources-faults"), script);
        setResourcesDirectory(m_dir.filePath("resources-faults"));
        setExiftoolTimeouts(singleFileTimeout, batchTimeout);
    }

private slots:
    void initTestCase()
    {
        for (int i = 0; i < 3; ++i) {
            m_images.append(QUrl::fromLocalFile(m_dir.filePath(QStringLiteral("images/%1.png").arg(i))));
            writeFile(m_images.last().toLocalFile(), pngWithDescription(sampleLimnoraText(i).toLatin1()));
        }
    }
    void init() { setResourcesDirectory(QString()); }
    void cleanup()
    {
        setResourcesDirectory(QString());
        setExiftoolDisabled(false);
        setExiftoolTimeouts(exiftoolSingleFileTimeout, exiftoolBatchTimeoutCap);
    }

    void locating()
    {
        QVERIFY(locateExiftool()); // Debian's /usr/bin/exiftool at least
        setExiftoolDisabled(true);
        QVERIFY(!locateExiftool());
        QVERIFY(readBatchWithExiftool({ QUrl::fromLocalFile("/etc/hostname") }).isEmpty());
        setExiftoolDisabled(false);
        setResourcesDirectory(QStringLiteral("")); // an application without resources
        QVERIFY(!locateExiftool());
        const QString resources = m_dir.filePath("resources-locate");
        installFakeExiftool(resources, "exit 0\n");
        setResourcesDirectory(resources);
        QCOMPARE(locateExiftool(), resources + "/exiftool");
        QVERIFY(QFileInfo(resources + "/exiftool").isExecutable());
    }

    void batchesOfAHundred()
    {
        const QString resources = m_dir.filePath("resources-count");
        installFakeExiftool(resources, "echo \"$#\" >> \"$(dirname \"$0\")/runs.log\"\necho '[]'\n");
        setResourcesDirectory(resources);
        QList<QUrl> files;
        for (int i = 0; i < 250; ++i)
            files.append(QUrl::fromLocalFile(m_dir.filePath(QStringLiteral("n%1.png").arg(i))));
        QVERIFY(readBatchWithExiftool(files).isEmpty());

        const auto runs = [&] {
            QFile log(resources + "/runs.log");
            const QByteArray logged = log.open(QIODevice::ReadOnly) ? log.readAll() : QByteArray();
            log.remove();
            return logged;
        };
        // Seven words before the files: -json, the five tag names, -q.
        QCOMPARE(runs(), QByteArray("107\n107\n57\n"));
        // Cancelled after the first process: the other batches are never started.
        int asked = 0;
        QVERIFY(readBatchWithExiftool(files, [&] { return ++asked > 1; }).isEmpty());
        QCOMPARE(runs(), QByteArray("107\n"));
        // A batch that answered, even without a text, is not asked again image by image.
        readFolderMetadata(files.first(3), [](const QList<ImageMetadataResult>&) {});
        QCOMPARE(runs(), QByteArray("10\n"));
    }

    void batchOutput_data()
    {
        QTest::addColumn<QByteArray>("output");
        QTest::addColumn<QString>("expected");

        // One exiftool entry for /x/a.png with the given extra members.
        const auto a = [](const QByteArray& members) {
            return "{\"SourceFile\": \"/x/a.png\"" + (members.isEmpty() ? QByteArray() : ", " + members) + "}";
        };
        const auto list = [](const QByteArray& entries) { return "[" + entries + "]"; };
        const auto comment = [](const QByteArray& json) {
            return "\"UserComment\": \"" + QByteArray(json).replace("\"", "\\\"") + "\"";
        };
        const QByteArray text = "\"Description\": \"T\"";

        QTest::newRow("description") << list(a("\"Description\": \"text\"")) << "a.png=text";
        QTest::newRow("image description when no description")
            << list(a("\"ImageDescription\": \"image text\"")) << "a.png=image text";
        QTest::newRow("empty description stored") << list(a("\"Description\": \"\"")) << "a.png=";
        QTest::newRow("number description stores nothing")
            << list(a("\"Description\": 5, \"ImageDescription\": \"image text\"")) << "";
        QTest::newRow("no source file") << list("{\"Description\": \"text\"}") << "";
        QTest::newRow("render time") << list(a(text + ", " + comment("{\"profile\":{\"duration\":12.5}}")))
                                     << "a.png=T\n__duration__:12.5";
        QTest::newRow("whole-second render time")
            << list(a(text + ", " + comment("{\"profile\":{\"duration\":3}}"))) << "a.png=T\n__duration__:3.0";
        QTest::newRow("user comment not JSON") << list(a(text + ", " + comment("hello"))) << "a.png=T";
        QTest::newRow("duration not a number")
            << list(a(text + ", " + comment("{\"profile\":{\"duration\":\"5\"}}"))) << "a.png=T";
        QTest::newRow("duration without text") << list(a(comment("{\"profile\":{\"duration\":4}}"))) << "";
        QTest::newRow("later entry replaces")
            << list(a("\"Description\": \"one\"") + "," + a("\"Description\": \"two\"")) << "a.png=two";
        QTest::newRow("not JSON") << QByteArray("Error: garbage") << "";
        QTest::newRow("half an array") << list(a(text)).left(30) << "";
        QTest::newRow("array with a non-object") << list(a(text) + ", 5") << "";
        QTest::newRow("nothing printed") << QByteArray() << "";
    }

    void batchOutput()
    {
        QFETCH(QByteArray, output);
        QFETCH(QString, expected);
        const QString resources = m_dir.filePath("resources-output");
        installFakeExiftool(resources, "cat \"$(dirname \"$0\")/output.json\"\n");
        writeFile(resources + "/output.json", output);
        setResourcesDirectory(resources);
        QCOMPARE(describe(readBatchWithExiftool({ QUrl::fromLocalFile("/x/a.png") })), expected);
    }

    // A timed JPEG, a PNG, a bare PNG and a PNG whose Comment chunk only the in-process reader reads.
    void realRenderTimeAndFolderRoute()
    {
        const QString jpeg = m_dir.filePath("route/timed.jpg");
        writeImage(jpeg, "JPEG");
        runExiftool({ "-EXIF:ImageDescription=a fox\nSteps: 12, Seed: 9",
            "-EXIF:UserComment={\"profile\":{\"duration\":6.5}}", jpeg });
        writeFile(m_dir.filePath("route/plain.png"), pngWithDescription(sampleLimnoraText(7).toLatin1()));
        writeImage(m_dir.filePath("route/bare.png"), "PNG");
        writeFile(m_dir.filePath("route/comment.png"),
            PNGChunkWriter().tEXt("Comment", sampleLimnoraText(8).toLatin1()).tinyImageData().end().bytes());
        QList<QUrl> urls;
        for (const char* name : { "timed.jpg", "plain.png", "bare.png", "comment.png" })
            urls.append(QUrl::fromLocalFile(m_dir.filePath(QStringLiteral("route/") + name)));
        QCOMPARE(
            readBatchWithExiftool(urls).value(urls[0]), QStringLiteral("a fox\nSteps: 12, Seed: 9\n__duration__:6.5"));

        // Each hand-off as "seed or -, render time or -" per image.
        QStringList deliveries;
        const auto collect = [&](const QList<ImageMetadataResult>& results) {
            QStringList entries;
            for (const ImageMetadataResult& result : results) {
                entries.append(!result.metadata ? "-"
                                                : result.metadata->settings.value("Seed").value_or("?") + u'/'
                            + (result.metadata->renderDuration ? QString::number(*result.metadata->renderDuration)
                                                               : "-"));
            }
            deliveries.append(entries.join(u' '));
        };
        readFolderMetadata(urls, collect);
        QCOMPARE(deliveries, QStringList { "9/6.5 7/- - 8/-" }); // each image once, in one hand-off
        // Without exiftool the in-process pass finds the same, render time included.
        setExiftoolDisabled(true);
        deliveries.clear();
        readFolderMetadata(urls, collect);
        QCOMPARE(deliveries, QStringList { "9/6.5 7/- - 8/-" });
        deliveries.clear();
        int asked = 0;
        readFolderMetadata(urls, collect, [&] { return ++asked > 2; }); // asked before each image
        QCOMPARE(deliveries, QStringList {});
    }

    void misbehavingChild_data()
    {
        QTest::addColumn<QByteArray>("script");

        QTest::newRow("hangs") << fakeExiftool("exec sleep 600", "exec sleep 600");
        QTest::newRow("hangs after printing")
            << fakeExiftool("printf 'half a text'; exec sleep 600", "printf '[{\"SourceFile\":'; exec sleep 600");
        QTest::newRow("hangs in a grandchild") << fakeExiftool("sleep 20; :", "sleep 20; :");
        QTest::newRow("garbage") << fakeExiftool(
            "printf '\\377\\376\\000garbage\\200'", "printf '\\377\\376\\000garbage\\200'");
        QTest::newRow("half a JSON array")
            << fakeExiftool(":", "printf '[{\"SourceFile\": \"%s\", \"Description\": \"x\"},\\n{\"Sou' \"$8\"");
        QTest::newRow("killed mid-batch") << fakeExiftool(
            "kill -9 $$", "printf '[{\"SourceFile\": \"%s\", \"Description\": \"x\"},' \"$8\"; kill -9 $$");
        QTest::newRow("endless output") << fakeExiftool("exec yes garbage", "exec yes '[{},'");
        QTest::newRow("endless entry") << fakeExiftool("exec yes", "printf '[{\"Description\": \"'; exec yes");
    }

    // Each call gives nothing soon after its timeout, in bounded memory; the folder route reads in process.
    void misbehavingChild()
    {
        QFETCH(QByteArray, script);
        install(script);
        const long peakBefore = peakResidentKB();
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(readDescriptionWithExiftool(m_images.first()), std::nullopt);
        QVERIFY2(
            clock.elapsed() < singleFileTimeout.count() + returnMarginMs, qPrintable(QString::number(clock.elapsed())));
        clock.restart();
        QVERIFY(readBatchWithExiftool(m_images).isEmpty());
        QVERIFY2(clock.elapsed() < hangingBatchRuns * batchTimeout.count() + returnMarginMs,
            qPrintable(QString::number(clock.elapsed())));
        QVERIFY2(!checksMemoryBounds || peakResidentKB() - peakBefore < peakGrowthLimitKB,
            qPrintable(QStringLiteral("peak grew by %1 KB").arg(peakResidentKB() - peakBefore)));

        QHash<QUrl, QString> prompts;
        readFolderMetadata(m_images, [&](const QList<ImageMetadataResult>& results) {
            for (const ImageMetadataResult& result : results)
                prompts.insert(result.url, result.metadata ? result.metadata->prompt : QString());
        });
        QCOMPARE(prompts.size(), m_images.size());
        for (int i = 0; i < m_images.size(); ++i)
            QCOMPARE(prompts.value(m_images.at(i)), parseMetadataText(sampleLimnoraText(i)).prompt);
    }

    // A child that times out is ended with everything it started; its memory is capped.
    void childProcessGroup()
    {
        const QString pidFile = m_dir.filePath("grandchild.pid");
        install(fakeExiftool("ulimit -v", "sleep 600 & echo $! > '" + pidFile.toUtf8() + "'; wait"));
        QVERIFY(readBatchWithExiftool(m_images.first(1)).isEmpty());
        QFile file(pidFile);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const pid_t grandchild = pid_t(file.readAll().trimmed().toInt());
        QVERIFY(grandchild > 0);
        const auto running = [grandchild] {
            QFile status(QStringLiteral("/proc/%1/stat").arg(grandchild));
            return status.open(QIODevice::ReadOnly) && !status.readAll().contains(") Z ");
        };
        QTRY_VERIFY_WITH_TIMEOUT(!running(), int(returnMarginMs));
        QCOMPARE(readDescriptionWithExiftool(m_images.first()), QString::number(exiftoolMemoryLimitBytes / 1024));
    }

    // One file hangs exiftool (found by splitting the batch) or answers too long: only it is read in process.
    void hostileFileLeftOut_data()
    {
        QTest::addColumn<QByteArray>("hostileEntry");
        QTest::addColumn<int>("launches");
        QTest::addColumn<bool>("shortBounds"); // only a hang needs them; a long answer must not race them
        QTest::newRow("hangs") << QByteArray("exec sleep 600") << 5 << true;
        QTest::newRow("20 MB text") << QByteArray("printf '%s{\"SourceFile\": \"%s\", \"Description\": \"' \"$sep\" "
                                                  "\"$f\"; head -c 20000000 /dev/zero | tr '\\0' x; printf '\"}'; "
                                                  "sep=,; continue")
                                    << 1 << false;
    }
    void hostileFileLeftOut()
    {
        QFETCH(QByteArray, hostileEntry);
        const QString launchLog = m_dir.filePath(QStringLiteral("launches-%1").arg(QTest::currentDataTag()));
        install(fakeExiftool("echo 'asked alone'",
            "echo >> '" + launchLog.toUtf8() + "'; shift 7; sep='['\nfor f; do case \"$f\" in *hostile*) "
                + hostileEntry
                + " ;; esac\nprintf '%s{\"SourceFile\": \"%s\", \"Description\": \"exiftool %s\"}' \"$sep\" \"$f\" "
                  "\"${f##*/}\"; sep=,; done\necho ']'"));
        QFETCH(bool, shortBounds);
        if (shortBounds)
            setExiftoolTimeouts(singleFileTimeout, batchTimeout, splitBatchBase, splitBatchPerFile);
        else
            setExiftoolTimeouts(exiftoolSingleFileTimeout, exiftoolBatchTimeoutCap);
        const QStringList names = { "a.png", "b.png", "hostile.png", "c.png", "d.png" };
        QList<QUrl> urls;
        for (int i = 0; i < names.size(); ++i) {
            urls.append(QUrl::fromLocalFile(m_dir.filePath(QLatin1String(QTest::currentDataTag()) + u'/' + names[i])));
            writeFile(urls.last().toLocalFile(), pngWithDescription(sampleLimnoraText(i).toLatin1()));
        }

        QHash<QString, QString> prompts;
        readFolderMetadata(urls, [&](const QList<ImageMetadataResult>& results) {
            for (const ImageMetadataResult& result : results)
                prompts.insert(result.url.fileName(), result.metadata ? result.metadata->prompt : QString());
        });
        setExiftoolTimeouts(singleFileTimeout, batchTimeout);
        QCOMPARE(prompts.size(), names.size());
        for (int i = 0; i < names.size(); ++i) {
            const QString expected
                = names[i] == "hostile.png" ? parseMetadataText(sampleLimnoraText(i)).prompt : "exiftool " + names[i];
            QCOMPARE(prompts.value(names[i]), expected);
        }
        QFile launches(launchLog);
        QVERIFY(launches.open(QIODevice::ReadOnly));
        QTEST(int(launches.readAll().count('\n')), "launches");
    }
};

QTEST_GUILESS_MAIN(TestExiftoolRunner)
#include "tst_ExiftoolRunner.moc"
