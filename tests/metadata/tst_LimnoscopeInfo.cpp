#include "MetadataParser.h"
#include "TestFiles.h"

#include <QDir>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace limnoscope;
using namespace limnoscope::test;

namespace {

struct Run {
    int exitCode = -1;
    QList<QJsonObject> lines;
    QByteArray output;
    QByteArray errors;
};

Run runInfo(const QStringList& arguments, int timeoutMs = 120'000)
{
    QProcess process;
    process.start(QStringLiteral(LIMNOSCOPE_INFO_PATH), arguments);
    Run run;
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.exitCode = process.exitCode();
    run.errors = process.readAllStandardError();
    run.output = process.readAllStandardOutput();
    for (const QByteArray& line : run.output.split('\n')) {
        if (const QJsonDocument document = QJsonDocument::fromJson(line); document.isObject())
            run.lines.append(document.object());
    }
    return run;
}

QStringList fileNames(const Run& run)
{
    QStringList names;
    for (const QJsonObject& line : run.lines)
        names.append(QFileInfo(line.value("file").toString()).fileName());
    return names;
}

} // namespace

class TestLimnoscopeInfo : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;

private slots:
    void initTestCase()
    {
        QDir root(m_dir.path());
        writeFile(root.filePath("10.png"), pngWithDescription(sampleLimnoraText(10).toLatin1()));
        writeFile(root.filePath("2.png"), pngWithDescription(sampleLimnoraText(2).toLatin1()));
        writeFile(root.filePath("b/inner.png"), pngWithDescription("only a prompt"));
        writeFile(root.filePath("a/bare.png"), PNGChunkWriter().tinyImageData().end().bytes());
        writeFile(root.filePath("a/deeper/hidden.png"), pngWithDescription("too deep"));
        writeFile(root.filePath("notes.txt"), "not an image");
        QVERIFY(
            QFile::copy(sourceTreeRoot() + "/tests/data/realworld/a1111-parameters.png", root.filePath("a1111.png")));
        writeImage(root.filePath("timed.jpg"), "JPEG");
        runExiftool({ "-EXIF:ImageDescription=a fox\nSteps: 12, Seed: 9",
            "-EXIF:UserComment={\"profile\":{\"duration\":12.5}}", root.filePath("timed.jpg") });
    }

    void folderOrderAndRoutes_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<bool>("renderTime");
        QTest::newRow("one by one, exiftool") << QStringList {} << false;
        QTest::newRow("one by one, no exiftool") << QStringList { "--no-exiftool" } << false;
        QTest::newRow("batch, exiftool") << QStringList { "--batch" } << true;
        QTest::newRow("batch, no exiftool") << QStringList { "--batch", "--no-exiftool" } << true; // read in-process
    }

    void folderOrderAndRoutes()
    {
        QFETCH(QStringList, options);
        QFETCH(bool, renderTime);
        const Run run = runInfo(options + QStringList { m_dir.path() });
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(
            fileNames(run), (QStringList { "2.png", "10.png", "a1111.png", "timed.jpg", "bare.png", "inner.png" }));

        const QJsonObject first = run.lines[0].value("metadata").toObject();
        QCOMPARE(first.value("generator").toString(), QStringLiteral("Limnora"));
        QVERIFY(!first.contains("rawTexts"));
        const QJsonObject foreign = run.lines[2].value("metadata").toObject();
        QCOMPARE(foreign.value("generator").toString() + u'|'
                + foreign.value("rawTexts").toArray().first().toObject().value("source").toString(),
            QStringLiteral("A1111 / Forge|parameters"));
        QCOMPARE(first.value("prompt").toString(),
            QStringLiteral("a lighthouse on a cliff at dusk, volumetric light, highly detailed"));
        QCOMPARE(first.value("settings").toArray().first().toArray(), (QJsonArray { "Model", "limnora_xl_v2.ckpt" }));
        QCOMPARE(first.value("loras").toArray().first().toObject().value("weight").toDouble(), 0.6);
        QVERIFY(run.lines[4].value("metadata").isNull());
        QCOMPARE(run.lines[5].value("metadata").toObject().value("prompt").toString(), QStringLiteral("only a prompt"));
        const QJsonValue duration = run.lines[3].value("metadata").toObject().value("renderDuration");
        QCOMPARE(duration.isDouble() ? duration.toDouble() : -1.0, renderTime ? 12.5 : -1.0);
    }

    void formatsAndSort()
    {
        const Run settings
            = runInfo({ "--no-exiftool", "--format", "settings-json", "--sort", "name_desc", m_dir.path() });
        QCOMPARE(settings.exitCode, 0);
        QCOMPARE(fileNames(settings).mid(0, 4), (QStringList { "timed.jpg", "a1111.png", "10.png", "2.png" }));
        QCOMPARE(settings.lines[2].value("settings").toObject().value("seed").toInt(), 10);
        QCOMPARE(settings.lines[2].value("settings").toObject().size(), 29);

        const Run body = runInfo(
            { "--no-exiftool", "--format", "txt2img", m_dir.filePath("2.png"), m_dir.filePath("a/bare.png") });
        QCOMPARE(body.exitCode, 0);
        QCOMPARE(body.lines[0].value("body").toObject().value("seed").toInteger(), 2);
        QVERIFY(body.lines[1].value("body").isNull());
    }

    void fifoNamedLikeAnImage_data()
    {
        QTest::addColumn<QString>("extension");
        for (const char* extension : { "png", "jpg", "heic", "webp", "tiff" })
            QTest::newRow(extension) << extension;
    }

    // No route opens a FIFO: each comes back at once, with nothing for it and the texts beside it.
    void fifoNamedLikeAnImage()
    {
        QFETCH(QString, extension);
        const QString fifo = m_dir.filePath("fifo." + extension);
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0644), 0);
        constexpr int boundMs = 5000;
        for (const QStringList& options : { QStringList {}, QStringList { "--batch" } }) {
            QElapsedTimer clock;
            clock.start();
            const Run run = runInfo(options + QStringList { fifo, m_dir.filePath("2.png") }, boundMs);
            // Ends whatever still waits on the FIFO, so that a failure leaves nothing behind.
            for (int i = 0; i < 10; ++i)
                ::close(::open(QFile::encodeName(fifo).constData(), O_WRONLY | O_NONBLOCK));
            QVERIFY2(clock.elapsed() < boundMs, qPrintable(options.join(' ')));
            QCOMPARE(fileNames(run), (QStringList { "fifo." + extension, "2.png" }));
            QVERIFY(run.lines[0].value("metadata").isNull());
            QCOMPARE(run.lines[1].value("metadata").toObject().value("prompt").toString(),
                parseMetadataText(sampleLimnoraText(2)).prompt);
        }
        QVERIFY(QFile::remove(fifo));
    }

    // Bad arguments: one complaint, status 2. Help and version: standard output, status 0, nothing read.
    void arguments_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<int>("printed");
        QTest::addColumn<QByteArray>("message");
        const QByteArray complaint = "limnoscope-info: ";
        QTest::newRow("unknown option") << QStringList { "--colour", "x" } << 2 << 0 << complaint;
        QTest::newRow("unknown sort") << QStringList { "--sort", "size", "x" } << 2 << 0 << complaint;
        QTest::newRow("unknown format") << QStringList { "--format", "xml", "x" } << 2 << 0 << complaint;
        QTest::newRow("missing path, others still printed")
            << QStringList { "/no/such/file.png", "2.png" } << 2 << 1 << complaint;
        QTest::newRow("no path") << QStringList {} << 2 << 0 << complaint;
        QTest::newRow("filter") << QStringList { "--filter", "SEED:>5 limnora_xl", "DIR" } << 0 << 1
                                << QByteArray("{\"file\":");
        QTest::newRow("malformed filter") << QStringList { "--filter", "seed:>x", "2.png" } << 2 << 0 << complaint;
        QTest::newRow("help") << QStringList { "--help" } << 0 << 0 << QByteArray("usage: limnoscope-info [--batch]");
        QTest::newRow("help after a path") << QStringList { "2.png", "--help" } << 0 << 0 << QByteArray("usage: ");
        QTest::newRow("version") << QStringList { "--version", "2.png" } << 0 << 0
                                 << QByteArray("limnoscope-info " LIMNOSCOPE_VERSION "\n");
    }

    void arguments()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QByteArray, message);
        for (QString& argument : arguments) {
            if (argument == "2.png")
                argument = m_dir.filePath(argument);
            else if (argument == "DIR")
                argument = m_dir.path();
        }
        const Run run = runInfo(QStringList { "--no-exiftool" } + arguments);
        QCOMPARE(run.exitCode, exitCode);
        QTEST(int(run.lines.size()), "printed");
        const QByteArray& said = exitCode == 0 ? run.output : run.errors;
        QVERIFY2(said.startsWith(message), said.constData());
        QCOMPARE(run.errors.count('\n'), exitCode == 0 ? 0 : 1);
    }
};

QTEST_GUILESS_MAIN(TestLimnoscopeInfo)
#include "tst_LimnoscopeInfo.moc"
