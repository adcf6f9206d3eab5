#include "ExiftoolRunner.h"
#include "ImageBrowserModel.h"
#include "ModelFixtures.h"
#include "TestFiles.h"
#include "TestSandbox.h"

#include <QElapsedTimer>
#include <QFile>
#include <QScopeGuard>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>

#include <sys/xattr.h>

using namespace limnoscope;
using namespace limnoscope::test;

// The model while a folder is shown: rescans, the folder watch and the metadata prefetch.
class TestModelUpdates : public ModelSuite
{
    Q_OBJECT

private slots:
    // Listing on workers: only the latest request's result shows. Steps on a folder of 1 2 3 and one of x:
    // "load[-other]" starts opening one, "open"/"other" opens one and stops its watch, "many" adds 3000
    // images, "files" shows a file list, "desc" sorts, "N.png" is written.
    void rescanRequests_data()
    {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QString>("events"); // after the last "open" or "other"
        QTest::addColumn<QString>("expected");
        const auto row = [](const char* name, const char* steps, const char* events, const char* expected) {
            QTest::newRow(name) << steps << events << expected;
        };
        row("order changed while opening: listed again", "load desc", "loaded", "*3 2 1");
        row("order changed while rescanning: listed again", "open 4.png rescan desc", "rescanned", "4 3 2 *1");
        row("asked for while opening: follows the listing", "load rescan", "loaded rescanned", "*1 2 3");
        row("a change a running rescan may miss: one queued after it", "open rescan 4.png rescan rescan rescan",
            "rescanned rescanned", "*1 2 3 4");
        row("of a folder no longer shown: dropped", "many open 4.png rescan other", "", "*x");
        row("a slower first listing is dropped", "many load load-other", "loaded", "*x");
        row("a slower second listing is shown", "many load-other load", "loaded", "*1 2 3 many0");
        row("a file list makes the listing stale", "many load files rescan", "", "*3 1");
    }

    void rescanRequests()
    {
        QFETCH(QString, steps);
        QFETCH(QString, events);
        QFETCH(QString, expected);
        TestSandbox dir;
        dir.writeImages({ "1.png", "2.png", "3.png" });
        TestSandbox other;
        other.writeImages({ "x.png" });
        ImageBrowserModel model;
        QStringList seen;
        connect(&model, &ImageBrowserModel::folderLoaded, this, [&] { seen.append("loaded"); });
        connect(&model, &ImageBrowserModel::folderRescanned, this, [&] { seen.append("rescanned"); });
        for (const QString& step : steps.split(u' ')) {
            if (step == "load" || step == "load-other") {
                model.loadFolder(step == "load" ? dir.url() : other.url());
            } else if (step == "files") { // one group without a name, in the order given, the first current
                model.loadFiles(dir.urls({ "3.png", "1.png" }));
                QVERIFY(!model.isScanning() && model.rootFolderURL().isEmpty() && !model.isWatching());
                QCOMPARE(groupNames(model) + model.groups().first().url.path(), "/");
                QTRY_COMPARE_WITH_TIMEOUT(seedOf(model.currentMetadata()), QStringLiteral("3"), asyncTimeoutMs);
            } else if (step == "open" || step == "other") {
                QVERIFY(openFolder(model, step == "open" ? dir.path() : other.path()));
                model.stopWatching();
                seen.clear();
            } else if (step == "rescan") {
                model.rescanFolder();
            } else if (step == "desc") {
                model.setSortOrder(SortOrder::nameDescending);
            } else if (step == "many") {
                for (int i = 0; i < 3000; ++i)
                    writeFile(dir.filePath(QStringLiteral("many%1.png").arg(i)), {});
            } else {
                dir.writeImages({ step });
            }
        }
        QTRY_COMPARE_WITH_TIMEOUT(seen.join(u' '), events, asyncTimeoutMs);
        QVERIFY(!QTest::qWaitFor([&] { return seen.join(u' ') != events; }, staleResultGraceMs));
        QCOMPARE(listing(model).section(u' ', 0, 3), expected); // the first four
    }

    void onlyTheStillCurrentLoadIsShown()
    {
        TestSandbox dir;
        dir.writeImages({ "1.png", "2.png", "3.png" });
        ImageBrowserModel model;
        // No turn of the event loop in between: each step starts a load of its own.
        QSignalSpy metadataChanges(&model, &ImageBrowserModel::currentMetadataChanged);
        model.loadFiles(dir.urls({ "1.png", "2.png", "3.png" }));
        model.nextImage();
        model.nextImage();
        QVERIFY(!model.currentMetadata());

        QTRY_VERIFY_WITH_TIMEOUT(!model.isPrefetching(), asyncTimeoutMs);
        QTRY_COMPARE_WITH_TIMEOUT(seedOf(model.currentMetadata()), QStringLiteral("3"), asyncTimeoutMs);
        QTest::qWait(200); // nothing tells when the two stale loads end: time to (wrongly) show
        QCOMPARE(seedOf(model.currentMetadata()), QStringLiteral("3"));
        QCOMPARE(metadataChanges.count(), 1);
        QCOMPARE(model.metadataCache().size(), 3);

        model.previousImage(); // cached now: shown at once
        QCOMPARE(seedOf(model.currentMetadata()), QStringLiteral("2"));
    }

    void prefetchRuns_data()
    {
        QTest::addColumn<bool>("exiftool");
        QTest::newRow("in-process readers alone") << false;
        QTest::newRow("exiftool pass behind them") << true;
    }

    // Another folder drops the first one's run, whose late results never land; the second folder's
    // readings come in one hand-off of the first pass.
    void prefetchRuns()
    {
        QFETCH(bool, exiftool);
        if (exiftool && !QFile::exists(QStringLiteral("/usr/bin/exiftool")))
            QSKIP("exiftool is not installed");
        setExiftoolDisabled(!exiftool);
        const auto restore = qScopeGuard([] { setExiftoolDisabled(true); });
        TestSandbox first;
        first.writeImages(numberedNames(5000));
        TestSandbox second;
        second.writeImages({ "x.png", "y.png", "z.png" });
        writeFile(second.filePath("zz.png"), "no image at all");
        ImageBrowserModel model;
        QList<qint64> doneCounts;
        connect(&model, &ImageBrowserModel::prefetchProgressChanged, this, [&] {
            if (model.prefetchTotalCount() == 4)
                doneCounts.append(model.prefetchDoneCount());
        });
        QVERIFY(openFolder(model, first.path()));
        QVERIFY(model.isPrefetching());
        QCOMPARE(model.prefetchTotalCount(), 5000);
        QVERIFY(openFolder(model, second.path()));
        QTRY_VERIFY_WITH_TIMEOUT(model.prefetchTotalCount() == 4 && !model.isPrefetching(), asyncTimeoutMs);
        QVERIFY(model.pendingPrefetchURLs().isEmpty());
        QTRY_VERIFY_WITH_TIMEOUT(model.metadataPrefetcher().exiftoolPassBacklog() == 0
                && !model.metadataPrefetcher().isExiftoolPassRunning(),
            asyncTimeoutMs);
        QTest::qWait(staleResultGraceMs);
        QCOMPARE(model.metadataCache().size(), 4);
        QCOMPARE(cachedSeed(model, second.url("x.png")) + cachedSeed(model, second.url("zz.png")), "1<none>");
        QCOMPARE(doneCounts, (QList<qint64> { 0, 4 }));
    }

    // The image on screen is read on its own first (no render time); the batch brings the render
    // time, and the image's own late load keeps it.
    void batchRenderTimeOutlivesTheOwnLoad()
    {
        if (!QFile::exists(QStringLiteral("/usr/bin/exiftool")))
            QSKIP("exiftool is not installed");
        setExiftoolDisabled(false);
        const auto restore = qScopeGuard([] { setExiftoolDisabled(true); });
        TestSandbox dir;
        const QString jpeg = dir.filePath("rendered.jpg");
        writeImage(jpeg, "JPEG");
        runExiftool({ "-EXIF:ImageDescription=a fox\nSteps: 12, Seed: 9",
            "-EXIF:UserComment={\"profile\":{\"duration\":6.5}}", jpeg });
        ImageBrowserModel model;
        QSignalSpy changes(&model, &ImageBrowserModel::currentMetadataChanged);
        model.loadFiles({ QUrl::fromLocalFile(jpeg) }); // selects it before the batch can land
        const auto renderTime
            = [&model] { return model.currentMetadata().value_or(LimnoraMetadata {}).renderDuration; };
        QTRY_COMPARE_WITH_TIMEOUT(renderTime(), std::optional<double>(6.5), asyncTimeoutMs);
        QTRY_VERIFY_WITH_TIMEOUT(!model.isPrefetching(), asyncTimeoutMs);
        changes.clear();
        QVERIFY(!changes.wait(staleResultGraceMs));
        QCOMPARE(renderTime(), std::optional<double>(6.5));
        QCOMPARE(seedOf(model.currentMetadata()), QStringLiteral("9"));
    }

    void modelGoneDuringARun()
    {
        TestSandbox dir;
        const QStringList names = numberedNames(3000);
        dir.writeImages(names);
        const QList<QUrl> urls = dir.urls(names);
        QElapsedTimer clock;
        clock.start();
        {
            ImageBrowserModel model;
            model.prefetchMetadata(urls);
            QTRY_VERIFY_WITH_TIMEOUT(!model.isPrefetching(), asyncTimeoutMs * 3);
        }
        const qint64 wholeRun = clock.restart();
        // The run stops at its next image, not holding up the model's end; what it posted is dropped.
        {
            ImageBrowserModel model;
            model.prefetchMetadata(urls);
            QTest::qSleep(5);
        }
        const qint64 teardown = clock.elapsed();
        QCoreApplication::processEvents();
        QVERIFY2(teardown < wholeRun / 2, qPrintable(QStringLiteral("%1 ms vs %2 ms").arg(teardown).arg(wholeRun)));
    }

    // Changes made outside: "+x" writes x.png, "-x" removes it, "~x" writes a colour tag into it. A burst
    // gives one rescan about a second later; a rescan asked for afterwards changes nothing.
    void watchedChanges_data()
    {
        QTest::addColumn<QString>("files");
        QTest::addColumn<int>("current");
        QTest::addColumn<QString>("changes");
        QTest::addColumn<int>("rescans");
        QTest::addColumn<QString>("expected");
        const auto row
            = [](const char* name, const char* files, int current, const char* changes, int rescans,
                  const char* expected) { QTest::newRow(name) << files << current << changes << rescans << expected; };
        row("a burst of new images", "b d", 1, "+c +n0 +n1 +n2 +n3 +n4 +n5 +n6 +n7 +n8 +n9", 1,
            "b c *d n0 n1 n2 n3 n4 n5 n6 n7 n8 n9");
        row("the current image deleted: the next one slides in", "1 2 3", 1, "-2", 1, "1 *3");
        row("the last image deleted: the new last one", "1 2 3", 2, "-3", 1, "1 *2");
        row("the only image deleted: nothing, and no message", "1", 0, "-1", 1, "");
        row("a colour tag is no change", "1 sub/2", 0, "~1", 0, "*1 2");
        // Written in place, as a generator may: "!x" was cut after the PNG signature, "=x" had another text.
        row("an image caught while still being written", "done !half", 1, "+half", 1, "done *half");
        row("an image rewritten with the same size", "done =half", 1, "+half", 1, "done *half");
    }

    void watchedChanges()
    {
        QFETCH(QString, files);
        QFETCH(int, current);
        QFETCH(QString, changes);
        QFETCH(int, rescans);
        QFETCH(QString, expected);
        TestSandbox dir;
        int seed = 0;
        for (const QString& file : files.split(u' ')) {
            const QByteArray text = sampleLimnoraText(file.startsWith(u'=') ? 4 : ++seed).toLatin1();
            writeFile(dir.filePath(file.mid(file.startsWith(u'!') || file.startsWith(u'=') ? 1 : 0) + ".png"),
                file.startsWith(u'!') ? QByteArray("\x89PNG\r\n") : pngWithDescription(text));
        }
        ImageBrowserModel model;
        QVERIFY(openAndRead(model, dir.path()));
        model.selectImage(current);
        const QString before = listing(model);
        QSignalSpy flatChanges(&model, &ImageBrowserModel::flatURLsChanged);
        QSignalSpy rescanned(&model, &ImageBrowserModel::folderRescanned);
        QElapsedTimer clock;
        clock.start();
        qint64 firstRescanMs = -1;
        connect(&model, &ImageBrowserModel::folderRescanned, this,
            [&] { firstRescanMs = firstRescanMs < 0 ? clock.elapsed() : firstRescanMs; });
        QList<qint64> runSizes;
        connect(&model, &ImageBrowserModel::prefetchProgressChanged, this, [&] {
            if (model.prefetchDoneCount() == 0)
                runSizes.append(model.prefetchTotalCount());
        });
        QStringList added;
        for (const QString& change : changes.split(u' ')) {
            const QString name = change.mid(1) + ".png";
            if (change.startsWith(u'+'))
                dir.writeImages({ name }, 7 + int(added.size()));
            QVERIFY(!change.startsWith(u'-') || QFile::remove(dir.filePath(name)));
            QVERIFY(!change.startsWith(u'~')
                || ::setxattr(QFile::encodeName(dir.filePath(name)).constData(), "user.limnoscope.t", "1", 1, 0) == 0);
            if (change.startsWith(u'+'))
                added.append(name);
        }
        QTRY_COMPARE_WITH_TIMEOUT(listing(model), expected, asyncTimeoutMs);
        for (int i = 0; i < added.size(); ++i)
            QTRY_COMPARE_WITH_TIMEOUT(cachedSeed(model, dir.url(added.at(i))), QString::number(7 + i), asyncTimeoutMs);
        QTest::qWait(quietWatchMs);
        QCOMPARE(rescanned.count(), rescans);
        QCOMPARE(flatChanges.count(), expected == before ? 0 : 1);
        QVERIFY2(rescans == 0 ? firstRescanMs < 0 : firstRescanMs >= 900, qPrintable(QString::number(firstRescanMs)));
        QCOMPARE(runSizes, added.isEmpty() ? QList<qint64>() : QList<qint64> { added.size() }); // nothing else read
        QCOMPARE(seedOf(model.currentMetadata()), cachedSeed(model, model.currentImageURL()));
        // A rescan never sets the empty-folder message.
        QVERIFY(model.currentMetadata().has_value() != expected.isEmpty() && model.errorMessage().isEmpty());
        const QList<FolderGroup> groups = model.groups();
        QSignalSpy groupChanges(&model, &ImageBrowserModel::groupsChanged);
        QSignalSpy prefetching(&model, &ImageBrowserModel::isPrefetchingChanged);
        flatChanges.clear();
        QVERIFY(rescan(model));
        QCOMPARE(model.groups(), groups); // ids included
        QCOMPARE(groupChanges.count() + flatChanges.count() + prefetching.count(), 0);
    }

    // A new subfolder is a group, watched from then on; collapsed groups are read once expanded.
    void rescanKeepsCollapsedGroupsAndCurrentImage()
    {
        TestSandbox dir;
        dir.writeImages({ "1.png", "2.png", "a/a1.png", "b/b1.png", "b/b2.png" });
        ImageBrowserModel model;
        QVERIFY(openAndRead(model, dir.path()));
        model.toggleGroup(model.groups().at(1).id);
        model.selectImage(2); // b1.png, since a is collapsed

        dir.writeImages({ "0.png", "m/m1.png", "a/a2.png" });
        QTRY_COMPARE_WITH_TIMEOUT(groupNames(model) + ": " + listing(model),
            QFileInfo(dir.path()).fileName() + " -a b m: 0 1 2 *b1 b2 m1", asyncTimeoutMs);
        dir.writeImages({ "m/m2.png" }); // a change inside the new folder alone
        QTRY_COMPARE_WITH_TIMEOUT(model.groups().at(3).images.size(), 2, asyncTimeoutMs);
        QTRY_VERIFY_WITH_TIMEOUT(!model.isPrefetching(), asyncTimeoutMs);
        QVERIFY(!model.metadataCache().contains(dir.url("a/a2.png"))); // not browsed, not read
        model.toggleGroup(model.groups().at(1).id);
        QVERIFY(rescan(model));
        QTRY_COMPARE_WITH_TIMEOUT(cachedSeed(model, dir.url("a/a2.png")), QStringLiteral("3"), asyncTimeoutMs);
    }
};

QTEST_GUILESS_MAIN(TestModelUpdates)
#include "tst_ModelUpdates.moc"
