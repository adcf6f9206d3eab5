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

constexpr std::chrono::milliseconds singleFileTimeout { 1500 };
constexpr std::chrono::milliseconds batchTimeout { 3000 };
constexpr qint64 returnMarginMs = 5000; // for killing and reaping after a timeout
constexpr int hangingBatchRuns = 3; // a batch out of time runs again in two halves, then gives up
constexpr std::chrono::milliseconds splitBatchBase { 2000 };
constexpr std::chrono::milliseconds splitBatchPerFile { 100 };
constexpr long peakGrowthLimitKB = 256 * 1024;
// AddressSanitizer's padding and quarantine make memory peaks meaningless.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool checksMemoryBounds = false;
#else
constexpr bool checksMemoryBounds = true;
#endif

// A stand-in exiftool (perl hands a "#!/bin/sh" script to sh); only the batch route passes "-json".
QByteArray fakeExiftool(const QByteArray& singleFile, const QByteArray& batch)
{
    return "#!/bin/sh\n"
           "case \" $* \" in\n"
           "  *' -json '*)\n"
        + batch
        + "\n    ;;\n"
          "  *)\n"
        + singleFile
        + "\n    ;;\n"
          "esac\n";
}

} // namespace

// exiftool that hangs, prints garbage or endless output, or dies mid-batch.
class FaultsExiftool : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QList<QUrl> m_images;
    QString m_resources;

    void install(const QByteArray& script)
    {
        writeFile(m_resources + "/exiftool", script);
        setResourcesDirectory(m_resources);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_resources = m_dir.filePath("resources");
        QVERIFY(QDir().mkpath(m_resources));
        for (int i = 0; i < 3; ++i) {
            const QString path = m_dir.filePath(QStringLiteral("images/%1.png").arg(i));
            writeFile(path, pngWithDescription(sampleLimnoraText(i).toLatin1()));
            m_images.append(QUrl::fromLocalFile(path));
        }
        setExiftoolTimeouts(singleFileTimeout, batchTimeout);
    }
    void cleanupTestCase()
    {
        setResourcesDirectory(QString());
        setExiftoolTimeouts(exiftoolSingleFileTimeout, exiftoolBatchTimeoutCap);
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

    // Every call returns nothing soon after its timeout, in bounded memory; the folder route then
    // finds each text with the in-process readers.
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

    // One file hangs exiftool or answers too long: the others keep exiftool's texts, the hostile one
    // is read in process (a hang is found by splitting the batch; exiftool is not asked again).
    void hostileFileLeftOut_data()
    {
        QTest::addColumn<QByteArray>("hostileEntry");
        QTest::addColumn<int>("launches");
        QTest::addColumn<bool>("shortBounds"); // only a hang needs them; a long answer must not race them
        QTest::newRow("hangs") << QByteArray("exec sleep 600") << 5 << true;
        QTest::newRow("20 MB text") << QByteArray(
            "printf '%s{\"SourceFile\": \"%s\", \"Description\": \"' \"$sep\" \"$f\"; "
            "head -c 20000000 /dev/zero | tr '\\0' x; printf '\"}'; sep=,; continue")
                                    << 1 << false;
    }
    void hostileFileLeftOut()
    {
        QFETCH(QByteArray, hostileEntry);
        const QString launchLog = m_dir.filePath(QStringLiteral("launches-%1").arg(QTest::currentDataTag()));
        install(fakeExiftool("echo 'asked alone'",
            "echo >> '" + launchLog.toUtf8()
                + "'; shift 7; sep='['\n"
                  "for f; do case \"$f\" in *hostile*) "
                + hostileEntry
                + " ;; esac\n"
                  "printf '%s{\"SourceFile\": \"%s\", \"Description\": \"exiftool %s\"}' \"$sep\" \"$f\" "
                  "\"${f##*/}\"; "
                  "sep=,; done\n"
                  "echo ']'"));
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

QTEST_GUILESS_MAIN(FaultsExiftool)
#include "tst_FaultsExiftool.moc"
