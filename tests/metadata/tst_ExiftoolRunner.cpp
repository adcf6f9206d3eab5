#include "ExiftoolRunner.h"
#include "MetadataExtraction.h"
#include "MetadataParser.h"
#include "TestFiles.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace limnoscope;
using namespace limnoscope::test;

namespace {

// A stand-in exiftool: a shell script that shows how it was run and prints what it is told.
void installFakeExiftool(const QString &resources, const QByteArray &script)
{
    writeFile(resources + "/exiftool", "#!/bin/sh\n" + script);
    QFile::setPermissions(resources + "/exiftool", QFile::ReadOwner | QFile::WriteOwner);
}

// "file=text|file=text" sorted by file name.
QString describe(const QHash<QUrl, QString> &texts)
{
    QStringList entries;
    for (auto it = texts.begin(); it != texts.end(); ++it)
        entries.append(it.key().fileName() + u'=' + it.value());
    entries.sort();
    return entries.join(u'|');
}

} // namespace

class TestExiftoolRunner : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;

private slots:
    void init() { setResourcesDirectory(QString()); }
    void cleanup() { setResourcesDirectory(QString()); setExiftoolDisabled(false); }

    void locating()
    {
        QVERIFY(locateExiftool()); // Debian's /usr/bin/exiftool at least
        setExiftoolDisabled(true);
        QVERIFY(!locateExiftool());
        QVERIFY(readBatchWithExiftool({QUrl::fromLocalFile("/etc/hostname")}).isEmpty());
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
        const auto a = [](const QByteArray &members) {
            return "{\"SourceFile\": \"/x/a.png\"" + (members.isEmpty() ? QByteArray() : ", " + members) + "}";
        };
        const auto list = [](const QByteArray &entries) { return "[" + entries + "]"; };
        const auto comment = [](const QByteArray &json) {
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
        QTest::newRow("whole-second render time") << list(a(text + ", " + comment("{\"profile\":{\"duration\":3}}")))
                                                  << "a.png=T\n__duration__:3.0";
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
        QCOMPARE(describe(readBatchWithExiftool({QUrl::fromLocalFile("/x/a.png")})), expected);
    }

    // A timed JPEG, a PNG, a bare PNG and a PNG whose Comment chunk only the in-process reader reads.
    void realRenderTimeAndFolderRoute()
    {
        const QString jpeg = m_dir.filePath("route/timed.jpg");
        writeImage(jpeg, "JPEG");
        runExiftool({"-EXIF:ImageDescription=a fox\nSteps: 12, Seed: 9", "-EXIF:UserComment={\"profile\":{\"duration\":6.5}}", jpeg});
        writeFile(m_dir.filePath("route/plain.png"), pngWithDescription(sampleLimnoraText(7).toLatin1()));
        writeImage(m_dir.filePath("route/bare.png"), "PNG");
        writeFile(m_dir.filePath("route/comment.png"),
            PNGChunkWriter().tEXt("Comment", sampleLimnoraText(8).toLatin1()).tinyImageData().end().bytes());
        QList<QUrl> urls;
        for (const char* name : { "timed.jpg", "plain.png", "bare.png", "comment.png" })
            urls.append(QUrl::fromLocalFile(m_dir.filePath(QStringLiteral("route/") + name)));
        QCOMPARE(readBatchWithExiftool(urls).value(urls[0]), QStringLiteral("a fox\nSteps: 12, Seed: 9\n__duration__:6.5"));

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
        QCOMPARE(deliveries, QStringList { "9/6.5 7/- - 8/-" }); // one hand-off for the whole batch
        // Without exiftool: one hand-off per image, in order, and no render time.
        setExiftoolDisabled(true);
        deliveries.clear();
        readFolderMetadata(urls, collect);
        QCOMPARE(deliveries, (QStringList { "9/-", "7/-", "-", "8/-" }));
        deliveries.clear();
        int asked = 0;
        readFolderMetadata(urls, collect, [&] { return ++asked > 2; }); // asked after the batch, then before each image
        QCOMPARE(deliveries, QStringList { "9/-" });
    }
};

QTEST_GUILESS_MAIN(TestExiftoolRunner)
#include "tst_ExiftoolRunner.moc"
