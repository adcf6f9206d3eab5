#include "ExiftoolRunner.h"
#include "FolderScan.h"
#include "ImageBrowserModel.h"
#include "MetadataParser.h"
#include "TestFiles.h"
#include "TestRuntime.h"
#include "TestSandbox.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSettings>
#include <QTest>

#include <fcntl.h>
#include <unistd.h>

using namespace limnoscope;
using namespace limnoscope::test;

namespace {

constexpr int manyFiles = 100'000;
// Bounds for the folder of 100,000 empty images (measured figures are printed).
constexpr qint64 loadFolderBoundMs = 60'000;
constexpr qint64 listingBoundMs = 120'000;
constexpr int prefetchBoundMs = 600'000;
constexpr long peakGrowthBoundKB = 512 * 1024;
constexpr int smallFolderWaitMs = 30'000; // waits on a few files

} // namespace

// Folders built to hurt (huge, looping, oddly named) open, are read in bounded time and memory.
class HostileFolders : public QObject
{
    Q_OBJECT

private:
    TestSandbox m_config;

private slots:
    void initTestCase() { usePreferencesIn(m_config.path()); }
    void cleanup() { setExiftoolDisabled(false); }

    // exiftool is off: finding nothing, its batch would fall back to a process per image, for hours.
    void hundredThousandEmptyImages()
    {
        setExiftoolDisabled(true);
        TestSandbox dir;
        const QByteArray folder = QFile::encodeName(dir.path());
        for (int i = 0; i < manyFiles; ++i)
            QCOMPARE(::close(::open(folder + "/img" + QByteArray::number(i) + ".png", O_WRONLY | O_CREAT, 0644)), 0);
        const long peakBefore = peakResidentKB();

        ImageBrowserModel model;
        EventLoopStallMeter stalls;
        QElapsedTimer clock;
        clock.start();
        model.loadFolder(QUrl::fromLocalFile(dir.path()));
        const qint64 loadMs = clock.restart();
        QTRY_COMPARE_WITH_TIMEOUT(model.flatURLs().size(), manyFiles, int(listingBoundMs));
        const qint64 listingMs = clock.restart();
        QCOMPARE(model.flatURLs().at(2).fileName() + model.currentImageURL().fileName(), "img2.pngimg0.png");
        QTRY_VERIFY_WITH_TIMEOUT(!model.isPrefetching() && model.prefetchDoneCount() == manyFiles, prefetchBoundMs);
        const qint64 prefetchMs = clock.elapsed();
        QCOMPARE(model.metadataCache().size(), manyFiles);
        QVERIFY(!model.metadataCache().value(model.flatURLs().last(), CacheEntry(std::nullopt, {})).isLoaded());
        const long growthKB = peakResidentKB() - peakBefore;

        qInfo("hostile.empty_images: load_folder_call_ms %lld, listing_ms %lld, prefetch_ms %lld, peak_growth_kb %ld, "
              "longest_event_loop_gap_ms %lld",
            loadMs, listingMs, prefetchMs, growthKB, stalls.longestGapMs());
        QVERIFY2(loadMs < loadFolderBoundMs, qPrintable(QString::number(loadMs)));
        QVERIFY2(!checksMemoryBounds || growthKB < peakGrowthBoundKB, qPrintable(QString::number(growthKB)));
    }

    void awkwardNames_data()
    {
        QTest::addColumn<bool>("withExiftool");
        QTest::newRow("exiftool batch route") << true;
        QTest::newRow("in-process readers") << false;
    }

    // Names with line breaks, quotes, shell syntax and dashes are listed and read; looping links
    // (to the folder itself, one level down, two names to each other) list nothing twice, read nothing.
    void awkwardNames()
    {
        QFETCH(bool, withExiftool);
        setExiftoolDisabled(!withExiftool);
        const QStringList names = { "new\nline.png", "it's \"quoted\".png", "-json.png", "--.png", "$(touch pwned).png",
            " lead space.png" };
        TestSandbox dir;
        dir.writeImages(names, 0);
        dir.writeImages({ "sub/inner.png" });
        QVERIFY(QFile::link(dir.path(), dir.filePath("self")));
        QVERIFY(QFile::link(dir.filePath("sub"), dir.filePath("sub/loop")));
        QVERIFY(QFile::link(dir.filePath("sub/x.png"), dir.filePath("sub/y.png")));
        QVERIFY(QFile::link(dir.filePath("sub/y.png"), dir.filePath("sub/x.png")));

        ImageBrowserModel model;
        QVERIFY(openFolder(model, dir.path()));
        QTRY_VERIFY_WITH_TIMEOUT(!model.isPrefetching(), smallFolderWaitMs);
        const QStringList listed = fileNames(model.flatURLs());
        QCOMPARE(listed.count("inner.png"), 1); // one level deep only: nothing twice through "sub/loop"
        QCOMPARE(listed.count("x.png") + listed.count("y.png"), 2);
        const auto entry = [&](const QString& name) {
            return model.metadataCache().value(dir.url(name), CacheEntry(std::nullopt, {}));
        };
        QVERIFY(!entry("sub/x.png").isLoaded() && !entry("sub/y.png").isLoaded());
        for (int i = 0; i < names.size(); ++i) {
            QVERIFY2(entry(names.at(i)).isLoaded(), qPrintable(names.at(i)));
            QCOMPARE(entry(names.at(i)).metadata()->prompt, parseMetadataText(sampleLimnoraText(i)).prompt);
        }
        QVERIFY(!QFileInfo::exists(QStringLiteral("pwned")));
    }

    // exiftool hangs: the GUI thread never waits for it, and the folder still opens at once.
    void hangingExiftoolNeverHoldsTheEventLoop()
    {
        TestSandbox resources;
        writeFile(resources.filePath("exiftool"), "#!/bin/sh\nexec sleep 30\n");
        setResourcesDirectory(resources.path());
        setExiftoolTimeouts(std::chrono::seconds(2), std::chrono::seconds(2));
        TestSandbox dir;
        dir.writeImages({ "0.png", "1.png", "2.png" }, 0);

        {
            ImageBrowserModel model;
            EventLoopStallMeter stalls;
            model.loadFolder(QUrl::fromLocalFile(dir.path()));
            // The first pass reads every image while the exiftool pass behind it hangs.
            QTRY_VERIFY_WITH_TIMEOUT(model.metadataCache().size() == 3 && !model.isPrefetching(), smallFolderWaitMs);
            QVERIFY(model.metadataPrefetcher().isExiftoolPassRunning());
            QTRY_VERIFY_WITH_TIMEOUT(model.currentMetadata().has_value(), smallFolderWaitMs);
            QCOMPARE(model.currentMetadata()->prompt, parseMetadataText(sampleLimnoraText(0)).prompt);
            qInfo("hostile.hanging_exiftool.longest_event_loop_gap_ms: %lld", stalls.longestGapMs());
            QVERIFY2(stalls.longestGapMs() < 1000, qPrintable(QString::number(stalls.longestGapMs())));
        }
        // A model gone while the batch hangs stops that child at once, not at its timeout.
        setExiftoolTimeouts(std::chrono::seconds(2), std::chrono::seconds(60));
        QElapsedTimer clock;
        {
            ImageBrowserModel model;
            model.loadFolder(QUrl::fromLocalFile(dir.path()));
            QTRY_VERIFY_WITH_TIMEOUT(model.metadataPrefetcher().isExiftoolPassRunning(), smallFolderWaitMs);
            QTest::qWait(200); // the batch's child is running by now
            clock.start();
        }
        qInfo("hostile.hanging_exiftool.model_destruction_ms: %lld", clock.elapsed());
        QVERIFY2(clock.elapsed() < 2000 + 1000, qPrintable(QString::number(clock.elapsed())));
        setResourcesDirectory(QString());
        setExiftoolTimeouts(exiftoolSingleFileTimeout, exiftoolBatchTimeoutCap);
    }
};

QTEST_GUILESS_MAIN(HostileFolders)
#include "tst_HostileFolders.moc"
