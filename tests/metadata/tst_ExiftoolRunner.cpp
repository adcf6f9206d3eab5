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

// A stand-in exiftool in a resources folder: a shell script, so tests can see how it was run
// and choose what it prints.
void installFakeExiftool(const QString &resources, const QByteArray &script)
{
    writeFile(resources + "/exiftool", "#!/bin/sh\n" + script);
    QFile::setPermissions(resources + "/exiftool", QFile::ReadOwner | QFile::WriteOwner);
}

// "file=text|file=text" sorted by file name, for compact expectations.
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

    void shellQuoting_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("quoted");
        QTest::newRow("plain") << "/a/b.png" << "'/a/b.png'";
        QTest::newRow("single quote") << "it's.png" << "'it'\\''s.png'";
        QTest::newRow("empty") << "" << "''";
        QTest::newRow("two quotes") << "''" << "''\\'''\\'''";
    }

    void shellQuoting()
    {
        QFETCH(QString, text);
        QTEST(shellQuote(text), "quoted");
    }

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

        QFile log(resources + "/runs.log");
        QVERIFY(log.open(QIODevice::ReadOnly));
        // Seven words before the files: -json, the five tag names, -q.
        QCOMPARE(log.readAll(), QByteArray("107\n107\n57\n"));
        log.close();

        // Cancelled after the first process: the other batches are never started.
        QFile::remove(resources + "/runs.log");
        int asked = 0;
        QVERIFY(readBatchWithExiftool(files, [&] { return ++asked > 1; }).isEmpty());
        QVERIFY(log.open(QIODevice::ReadOnly));
        QCOMPARE(log.readAll(), QByteArray("107\n"));
        log.close();

        // A batch that answered, even without a text, is not asked again image by image.
        QFile::remove(resources + "/runs.log");
        readFolderMetadata(files.first(3), [](const QList<ImageMetadataResult>&) {});
        QVERIFY(log.open(QIODevice::ReadOnly));
        QCOMPARE(log.readAll(), QByteArray("10\n"));
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
        QTest::newRow("source file not a string") << list("{\"SourceFile\": 3, \"Description\": \"text\"}") << "";
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
        QTest::newRow("an object, not an array") << a(text) << "";
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

    // Names that a shell would otherwise interpret reach exiftool unchanged and run nothing.
    void hostileNamesWithRealExiftool()
    {
        const QDir dir(m_dir.filePath("hostile"));
        const QStringList names = {"it's.png", "say \"hi\".png", "two  spaces.png", "$(touch pwned1).png",
                                   "`touch pwned2`.png", "line\nbreak.png", "-leading dash.png", "semi;touch pwned3.png"};
        QList<QUrl> urls;
        for (const QString &name : names) {
            writeFile(dir.filePath(name), pngWithDescription(name.toUtf8()));
            urls.append(QUrl::fromLocalFile(dir.filePath(name)));
        }
        const QHash<QUrl, QString> texts = readBatchWithExiftool(urls);
        QCOMPARE(texts.size(), names.size());
        for (int i = 0; i < names.size(); ++i)
            QCOMPARE(texts.value(urls[i]), names[i]);
        QCOMPARE(readDescriptionWithExiftool(urls.first()), names.first());
        QCOMPARE(readDescriptionWithExiftool(urls[5]), names[5]);
        const QStringList created = QDir(m_dir.path()).entryList({"pwned*"}) + dir.entryList({"pwned*"})
            + QDir::current().entryList({"pwned*"});
        QVERIFY2(created.isEmpty(), qPrintable(created.join(", ")));
    }

    void realRenderTimeAndFolderRoute()
    {
        const QString jpeg = m_dir.filePath("route/timed.jpg");
        writeImage(jpeg, "JPEG");
        runExiftool({"-EXIF:ImageDescription=a fox\nSteps: 12, Seed: 9", "-EXIF:UserComment={\"profile\":{\"duration\":6.5}}", jpeg});
        const QString png = m_dir.filePath("route/plain.png");
        writeFile(png, pngWithDescription(sampleLimnoraText(7).toLatin1()));
        const QString bare = m_dir.filePath("route/bare.png");
        writeImage(bare, "PNG");
        // A text exiftool's batch does not report as a description; the in-process reader knows it.
        const QString comment = m_dir.filePath("route/comment.png");
        writeFile(
            comment, PNGChunkWriter().tEXt("Comment", sampleLimnoraText(8).toLatin1()).tinyImageData().end().bytes());
        const QList<QUrl> urls = { QUrl::fromLocalFile(jpeg), QUrl::fromLocalFile(png), QUrl::fromLocalFile(bare),
            QUrl::fromLocalFile(comment) };

        QCOMPARE(readBatchWithExiftool(urls).value(urls[0]), QStringLiteral("a fox\nSteps: 12, Seed: 9\n__duration__:6.5"));

        QList<QList<ImageMetadataResult>> deliveries;
        readFolderMetadata(urls, [&](QList<ImageMetadataResult> results) { deliveries.append(results); });
        QCOMPARE(deliveries.size(), 1); // one hand-off for the whole batch
        const QList<ImageMetadataResult> &results = deliveries.first();
        QCOMPARE(results.size(), 4);
        QCOMPARE(results[0].url, urls[0]);
        QCOMPARE(results[0].metadata->prompt, QStringLiteral("a fox"));
        QCOMPARE(results[0].metadata->renderDuration, std::optional<double>(6.5));
        QCOMPARE(results[1].metadata->settings.value("Seed"), QStringLiteral("7"));
        QVERIFY(!results[1].metadata->renderDuration);
        QVERIFY(!results[2].metadata);
        QVERIFY(results[3].metadata);
        QCOMPARE(results[3].metadata->settings.value("Seed"), QStringLiteral("8"));

        // Without exiftool: one hand-off per image, in order, and no render time.
        setExiftoolDisabled(true);
        deliveries.clear();
        readFolderMetadata(urls, [&](QList<ImageMetadataResult> results) { deliveries.append(results); });
        QCOMPARE(deliveries.size(), 4);
        QCOMPARE(deliveries[0].first().url, urls[0]);
        QCOMPARE(deliveries[0].first().metadata->prompt, QStringLiteral("a fox"));
        QVERIFY(!deliveries[0].first().metadata->renderDuration);
        QVERIFY(!deliveries[2].first().metadata);

        int asked = 0;
        deliveries.clear();
        readFolderMetadata(urls, [&](QList<ImageMetadataResult> results) { deliveries.append(results); },
                           [&] { return ++asked > 2; }); // asked after the batch, then before each image
        QCOMPARE(deliveries.size(), 1);
    }
};

QTEST_GUILESS_MAIN(TestExiftoolRunner)
#include "tst_ExiftoolRunner.moc"
