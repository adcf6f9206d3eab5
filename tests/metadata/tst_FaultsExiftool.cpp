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

using namespace limnoscope;
using namespace limnoscope::test;

namespace {

// Short enough for a test, long enough for a healthy child to start on a busy machine.
constexpr std::chrono::milliseconds singleFileTimeout { 1500 };
constexpr std::chrono::milliseconds batchTimeout { 3000 };
// A call must be back this soon after its timeout (killing and reaping included).
constexpr qint64 returnMarginMs = 5000;
// Memory a call may add to the process's peak while its child misbehaves.
constexpr long peakGrowthLimitKB = 256 * 1024;
// AddressSanitizer pads every allocation and keeps freed memory in quarantine: memory peaks
// measured under it say nothing about the code, so the bounds are not checked there.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool checksMemoryBounds = false;
#else
constexpr bool checksMemoryBounds = true;
#endif

// The stand-in exiftool is a shell script; the single-file route runs it through perl, which
// hands a script whose first line names another interpreter over to that interpreter. The
// script sees "-json" among its arguments on the batch route only.
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

// exiftool that hangs, prints garbage or endless output, or dies mid-batch: every call comes
// back in bounded time and memory with nothing, and the folder route still finds every text
// the in-process readers can read.
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
    void cleanupTestCase() { setResourcesDirectory(QString()); }

    void misbehavingChild_data()
    {
        QTest::addColumn<QByteArray>("script");
        // What the single-file route returns: what the child printed before it was stopped is used.
        QTest::addColumn<std::optional<QString>>("singleFileText");

        QTest::newRow("hangs") << fakeExiftool("exec sleep 600", "exec sleep 600") << std::optional<QString>();
        QTest::newRow("hangs after printing")
            << fakeExiftool("printf 'half a text'; exec sleep 600", "printf '[{\"SourceFile\":'; exec sleep 600")
            << std::optional<QString>(QStringLiteral("half a text"));
        // The child's own child keeps standard output open after the child is killed.
        QTest::newRow("hangs in a grandchild")
            << fakeExiftool("sleep 20; :", "sleep 20; :") << std::optional<QString>();
        QTest::newRow("garbage") << fakeExiftool(
            "printf '\\377\\376\\000garbage\\200'", "printf '\\377\\376\\000garbage\\200'")
                                 << std::optional<QString>();
        QTest::newRow("half a JSON array")
            << fakeExiftool(":", "printf '[{\"SourceFile\": \"%s\", \"Description\": \"x\"},\\n{\"Sou' \"$8\"")
            << std::optional<QString>();
        QTest::newRow("killed mid-batch") << fakeExiftool(
            "kill -9 $$", "printf '[{\"SourceFile\": \"%s\", \"Description\": \"x\"},' \"$8\"; kill -9 $$")
                                          << std::optional<QString>();
        QTest::newRow("endless output") << fakeExiftool("exec yes garbage", "exec yes '[{},'")
                                        << std::optional<QString>();
    }

    // The runner on its own: back soon after the timeout at the latest, in bounded memory,
    // the batch with nothing.
    void misbehavingChild()
    {
        QFETCH(QByteArray, script);
        install(script);
        const long peakBefore = peakResidentKB();

        QElapsedTimer clock;
        clock.start();
        QTEST(readDescriptionWithExiftool(m_images.first()), "singleFileText");
        QVERIFY2(
            clock.elapsed() < singleFileTimeout.count() + returnMarginMs, qPrintable(QString::number(clock.elapsed())));

        clock.restart();
        QVERIFY(readBatchWithExiftool(m_images).isEmpty());
        QVERIFY2(clock.elapsed() < batchTimeout.count() + returnMarginMs, qPrintable(QString::number(clock.elapsed())));

        QVERIFY2(!checksMemoryBounds || peakResidentKB() - peakBefore < peakGrowthLimitKB,
            qPrintable(QStringLiteral("peak grew by %1 KB").arg(peakResidentKB() - peakBefore)));
    }

    // The folder route: the batch yields nothing, so every image is read one by one, and the
    // in-process PNG reader still finds each text that exiftool did not deliver.
    void folderRouteLosesNothing_data() { misbehavingChild_data(); }
    void folderRouteLosesNothing()
    {
        QFETCH(QByteArray, script);
        QFETCH(std::optional<QString>, singleFileText);
        install(script);

        QHash<QUrl, QString> prompts;
        readFolderMetadata(m_images, [&](const QList<ImageMetadataResult>& results) {
            for (const ImageMetadataResult& result : results)
                prompts.insert(result.url, result.metadata ? result.metadata->prompt : QString());
        });
        QCOMPARE(prompts.size(), m_images.size());
        for (int i = 0; i < m_images.size(); ++i) {
            const QString expected = singleFileText ? *singleFileText : parseMetadataText(sampleLimnoraText(i)).prompt;
            QCOMPARE(prompts.value(m_images.at(i)), expected);
        }
    }
};

QTEST_GUILESS_MAIN(FaultsExiftool)
#include "tst_FaultsExiftool.moc"
