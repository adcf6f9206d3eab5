#include "ExiftoolRunner.h"
#include "ImageBrowserModel.h"
#include "ModelFixtures.h"
#include "TestFiles.h"
#include "TestSandbox.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

using namespace limnoscope;
using namespace limnoscope::test;

class TestImageBrowserModel : public ModelSuite
{
    Q_OBJECT

private slots:
    // A folder opened, or the last one looked for on a worker; the expected groups, then the listing.
    void openingAFolder_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<bool>("restore");
        QTest::addColumn<bool>("filesDroppedMeanwhile");
        QTest::addColumn<QString>("expected");
        QTest::newRow("opened") << "" << false << false << "folder a b: *top a1 a2 b1";
        QTest::newRow("the last folder restored") << "folder" << true << false << "folder a b: *top a1 a2 b1";
        QTest::newRow("the last folder is gone") << "gone" << true << false << ": ";
        QTest::newRow("nothing stored") << "" << true << false << ": ";
        QTest::newRow("files dropped while looking") << "folder" << true << true << ": *dropped";
    }

    void openingAFolder()
    {
        QFETCH(QString, stored);
        QFETCH(bool, restore);
        QFETCH(bool, filesDroppedMeanwhile);
        QFETCH(QString, expected);
        TestSandbox dir;
        dir.writeImages({ "folder/top.png", "folder/b/b1.png", "folder/a/a1.png", "folder/a/a2.png", "dropped.png" });
        const QString path = stored.isEmpty() ? QString() : dir.filePath(stored);
        if (!path.isEmpty())
            QSettings().setValue("lastFolderPath", path);
        ImageBrowserModel model;
        model.setSelectedURLs({ QUrl::fromLocalFile("/elsewhere/x.png") });
        QSignalSpy scanning(&model, &ImageBrowserModel::isScanningChanged);
        qsizetype capacityWhenShown = -1; // room for every entry before the prefetch hands any over
        connect(&model, &ImageBrowserModel::folderLoaded, this,
            [&] { capacityWhenShown = model.metadataCache().capacity(); });
        if (restore) {
            model.restoreLastFolder();
            QCOMPARE(model.isScanning(), !path.isEmpty()); // looked for on a worker
        } else { // at once: the folder is remembered; its listing is on its way
            model.loadFolder(dir.url("folder"));
            QCOMPARE(model.rootFolderURL(), dir.url("folder"));
            QCOMPARE(QSettings().value("lastFolderPath").toString(), dir.filePath("folder"));
            QVERIFY(model.isScanning() && model.groups().isEmpty() && !model.isWatching());
        }
        if (filesDroppedMeanwhile)
            model.loadFiles(dir.urls({ "dropped.png" }));
        QTRY_VERIFY_WITH_TIMEOUT(!model.isScanning(), asyncTimeoutMs);
        const bool opens = expected.startsWith("folder");
        QCOMPARE(scanning.count(), path.isEmpty() && restore ? 0 : 2); // looking on into listing, without a gap
        QCOMPARE(groupNames(model) + ": " + listing(model), expected);
        QCOMPARE(model.rootFolderURL(), opens ? dir.url("folder") : QUrl());
        QCOMPARE(QSettings().value("lastFolderPath").toString(), opens ? dir.filePath("folder") : path);
        QVERIFY(model.isWatching() == opens && model.errorMessage().isEmpty());
        if (opens) {
            QVERIFY(capacityWhenShown >= 4 && model.selectedURLs().isEmpty());
            QTRY_COMPARE_WITH_TIMEOUT(seedOf(model.currentMetadata()), QStringLiteral("1"), asyncTimeoutMs);
            QTRY_VERIFY_WITH_TIMEOUT(!model.isPrefetching(), asyncTimeoutMs);
            QCOMPARE(model.metadataCache().size(), 4);
        }
    }

    void loadFolderThatCannotBeListed_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("reason");
        const auto row = [](const char* name, const char* reason) { QTest::newRow(name) << name << reason; };
        row("missing", "no such file or folder");
        row("a.png", "not a folder");
        row("loop", "too many levels of symbolic links");
        row("locked", "permission denied");
        row("empty", "No images in this folder"); // listed, and said so
        // The shown folder itself goes; back again, it opens as before.
        row("deleted", "is no longer there: it was moved, renamed or deleted. Open it again once it is back");
        row("renamed", "is no longer there: it was moved, renamed or deleted. Open it again once it is back");
    }

    void loadFolderThatCannotBeListed()
    {
        QFETCH(QString, name);
        QFETCH(QString, reason);
        if (name == "locked" && ::geteuid() == 0)
            QSKIP("root reads every folder");
        TestSandbox parent;
        const TestSandbox dir; // the shown folder, or the parent of the one opened
        dir.writeImages({ "a.png", "b.png", "locked/c.png" });
        writeFile(dir.filePath("empty/notes.txt"), "x");
        QVERIFY(QFile::link(dir.filePath("loop"), dir.filePath("loop")));
        QVERIFY(QFile::setPermissions(dir.filePath("locked"), {}));
        ImageBrowserModel model;
        QVERIFY(openAndRead(model, dir.path()));
        if (::geteuid() != 0) // a subfolder that cannot be listed is passed over
            QCOMPARE(fileNames(model.flatURLs()), (QStringList { "a.png", "b.png" }));
        model.setSelectedURLs({ model.flatURLs().first() });
        const QList<FolderGroup> groups = model.groups();

        const bool gone = name == "deleted" || name == "renamed";
        const QString folder = gone ? dir.path() : dir.filePath(name);
        if (gone) {
            QVERIFY(name == "renamed" ? QDir().rename(folder, parent.filePath("a")) : QDir(folder).removeRecursively());
        } else {
            QSignalSpy loaded(&model, &ImageBrowserModel::folderLoaded);
            model.loadFolder(dir.url(name));
            QVERIFY(model.metadataCache().isEmpty() && model.errorMessage().isEmpty());
            QVERIFY(loaded.wait(asyncTimeoutMs));
        }
        const QString said = reason.startsWith("is no") ? QStringLiteral("The folder “%1” %2.").arg(folder, reason)
            : reason.startsWith("No")                   ? reason + "."
                                      : QStringLiteral("Cannot read folder “%1”: %2.").arg(folder, reason);
        QTRY_COMPARE_WITH_TIMEOUT(model.errorMessage(), said, asyncTimeoutMs);
        QVERIFY(!model.isScanning() && model.isWatching() == (name == "empty")); // nothing shown before stays:
        QCOMPARE(groupNames(model) + listing(model), QString());
        QVERIFY(model.selectedURLs().isEmpty() && !model.currentMetadata());
        QVERIFY(gone || model.metadataCache().isEmpty()); // a new folder's cache, not a gone one's
        QCOMPARE(QSettings().value("lastFolderPath").toString(), folder);
        if (name == "renamed") {
            QVERIFY(QDir().rename(parent.filePath("a"), folder) && openFolder(model, folder));
            QCOMPARE(model.flatURLs(), flattenGroups(groups));
            QVERIFY(model.errorMessage().isEmpty() && model.isWatching());
        }
    }

    // An image that cannot be opened says why, read on its own or in the batch.
    void unreadableImageSaysWhy_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("inFolder");
        QTest::addColumn<QString>("reason");
        QTest::newRow("a missing file given alone") << "missing" << false << "no such file or folder";
        QTest::newRow("a link loop given alone") << "loop" << false << "too many levels of symbolic links";
        QTest::newRow("a dangling link in a folder") << "dangling" << true << "no such file or folder";
        QTest::newRow("a link loop in a folder") << "loop" << true << "too many levels of symbolic links";
        QTest::newRow("no permission in a folder") << "locked" << true << "permission denied";
        QTest::newRow("a FIFO given alone") << "fifo" << false << "not a regular file";
        QTest::newRow("a FIFO in a folder") << "fifo" << true << "not a regular file";
        QTest::newRow("no metadata in a folder: said at once") << "plain" << true << "";
    }

    void unreadableImageSaysWhy()
    {
        QFETCH(QString, kind);
        QFETCH(bool, inFolder);
        QFETCH(QString, reason);
        if (kind == "locked" && ::geteuid() == 0)
            QSKIP("root reads every file");
        TestSandbox dir;
        dir.writeImages({ "a.png" });
        const QString path = dir.filePath("z.png");
        if (kind == "loop" || kind == "dangling")
            QVERIFY(QFile::link(kind == "loop" ? path : dir.filePath("nowhere.png"), path));
        else if (kind == "fifo")
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        else if (kind != "missing")
            writeFile(path, kind == "plain" ? "not an image" : pngWithDescription("x"));
        QVERIFY(kind != "locked" || QFile::setPermissions(path, {}));
        const QString expected = reason.isEmpty() ? qtTrId("no_exif_data")
                                                  : QStringLiteral("Cannot read image “%1”: %2.").arg(path, reason);

        ImageBrowserModel model;
        if (inFolder) {
            QVERIFY(openAndRead(model, dir.path()));
            model.selectImage(1); // from the batch's entry
            QVERIFY(kind != "plain" || model.errorMessage() == expected);
        } else {
            model.loadFiles({ QUrl::fromLocalFile(path) });
        }
        QTRY_COMPARE_WITH_TIMEOUT(model.errorMessage(), expected, asyncTimeoutMs);
        QVERIFY(!model.currentMetadata());
        model.selectImage(0); // the message goes with the image
        QCOMPARE(model.errorMessage().isEmpty(), inFolder);
    }

    // A few images are sorted by name at once (a row of the browsing table), a large folder on a worker.
    void sortChangeKeepsCurrentImage()
    {
        const SortOrder order = SortOrder::nameDescending;
        const int imageCount = int(ImageBrowserModel::immediateNameSortLimit) + 1;
        TestSandbox dir;
        const QStringList names = numberedNames(imageCount);
        dir.writeImages(names);
        dir.writeImages({ "sub/x.png" }, 0);
        const QStringList expected = QStringList(names.crbegin(), names.crend()) << QStringLiteral("x.png");
        ImageBrowserModel model;
        QVERIFY(openFolder(model, dir.path()));
        model.selectImage(1);
        QTRY_COMPARE_WITH_TIMEOUT(seedOf(model.currentMetadata()), QStringLiteral("2"), asyncTimeoutMs);
        QSignalSpy metadataChanges(&model, &ImageBrowserModel::currentMetadataChanged); // none: same image
        QSignalSpy applied(&model, &ImageBrowserModel::sortOrderApplied);
        const QList<QUrl> before = model.flatURLs();

        model.setSortOrder(order);
        QCOMPARE(model.sortOrder(), order);
        QCOMPARE(QSettings().value("sortOrder").toString(), SortOrders::rawValue(order));
        QVERIFY(applied.isEmpty() && model.flatURLs() == before);
        QVERIFY(applied.wait(asyncTimeoutMs));
        QCOMPARE(fileNames(model.flatURLs()), expected);
        QCOMPARE(model.currentImageURL(), dir.url(names.at(1)));
        QCOMPARE(model.currentIndex(), imageCount - 2);
        QCOMPARE(model.groups().last().name, QStringLiteral("sub"));
        QCOMPARE(metadataChanges.count(), 0);
    }

    // Steps, the listing after each: "next", "previous", "select:N", "fold:N" (past the last group: none),
    // "forget:a,b" (moved to the Trash), "date" (a worker's sort), "name"/"desc" (at once), "sorted" (landed).
    void browsing_data()
    {
        QTest::addColumn<QString>("files"); // written oldest first
        QTest::addColumn<int>("current");
        QTest::addColumn<QString>("selected");
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QString>("expected");
        const auto row
            = [](const char* name, const char* files, int current, const char* selected, const char* steps,
                  const char* expected) { QTest::newRow(name) << files << current << selected << steps << expected; };
        const char* five = "1 2 3 4 5";
        row("next at the end", five, 4, "1 4", "next", "+1 2 3 +4 *5");
        row("previous at the start", five, 0, "1 4", "previous", "*+1 2 3 +4 5");
        row("next clears the selection", five, 1, "1 4", "next", "1 2 *3 4 5");
        row("previous clears the selection", five, 2, "1 4", "previous", "1 *2 3 4 5");
        row("select out of range, then keeping the selection", five, 2, "1 4", "select:-1 select:5 select:4",
            "+1 2 *3 +4 5 | +1 2 *3 +4 5 | +1 2 3 +4 *5");
        const char* tree = "r1 r2 a/a1 a/a2 a/a3 b/b1 b/b2";
        row("folding the current image's group: the next group's first", tree, 3, "", "fold:1 next fold:9 fold:1",
            "r1 r2 *b1 b2 | r1 r2 b1 *b2 | r1 r2 b1 *b2 | r1 r2 a1 a2 a3 b1 *b2");
        row("folding a group before the current image", tree, 3, "", "fold:0 next fold:0",
            "a1 *a2 a3 b1 b2 | a1 a2 *a3 b1 b2 | r1 r2 a1 a2 *a3 b1 b2");
        row("folding a group after the current image", tree, 3, "", "fold:2 next fold:2",
            "r1 r2 a1 *a2 a3 | r1 r2 a1 a2 *a3 | r1 r2 a1 a2 *a3 b1 b2");
        row("folding the last group, holding the current image: the last visible", tree, 6, "", "fold:2 next fold:2",
            "r1 r2 a1 a2 *a3 | r1 r2 a1 a2 *a3 | r1 r2 a1 a2 *a3 b1 b2");
        row("forgetting the current third of five", five, 2, "", "forget:3", "1 2 *4 5");
        row("forgetting the current last", five, 4, "", "forget:5", "1 2 3 *4");
        row("forgetting an image before the current one", five, 3, "", "forget:1", "2 3 4 *5");
        row("forgetting two selected before the current image", "1 2 3 4 5 6", 3, "1 2 6", "forget:1,2", "3 4 5 *+6");
        row("forgetting the only image", "1", 0, "", "forget:1", "");
        row("forgetting the only image of a group", "1 2 sub/x", 2, "", "forget:sub/x", "1 *2");
        row("forgetting nothing: nothing happens", five, 1, "3", "forget:", "1 *2 +3 4 5");
        row("a few images sorted by name: at once", "1 2 3 4 5 sub/x", 1, "", "desc", "5 4 3 *2 1 x");
        row("sorted by date: on a worker", "1 2 3 4 5 sub/x", 1, "", "date sorted", "1 *2 3 4 5 x | 5 4 3 *2 1 x");
        row("a name order at once wins over a date sort", "1 2 3 4", 0, "", "date name", "*1 2 3 4 | *1 2 3 4");
        row("a forgotten image stays forgotten after a date sort", "1 2 3 4", 0, "", "date forget:3 sorted",
            "*1 2 3 4 | *1 2 4 | 4 2 *1");
    }

    void browsing()
    {
        QFETCH(QString, files);
        QFETCH(int, current);
        QFETCH(QString, selected);
        QFETCH(QString, steps);
        QFETCH(QString, expected);
        TestSandbox dir;
        writeInTimeOrder(dir, pngs(files));
        ImageBrowserModel model;
        QVERIFY(openAndRead(model, dir.path()));
        model.selectImage(current);
        const QList<QUrl> selectedURLs = dir.urls(pngs(selected));
        model.setSelectedURLs(QSet<QUrl>(selectedURLs.cbegin(), selectedURLs.cend()));
        QSignalSpy applied(&model, &ImageBrowserModel::sortOrderApplied);
        QStringList trace;
        for (const QString& step : steps.split(u' ')) {
            const QString argument = step.section(u':', 1);
            if (step == "next" || step == "previous") {
                step == "next" ? model.nextImage() : model.previousImage();
            } else if (step.startsWith("select:")) {
                model.selectImage(argument.toInt());
            } else if (step.startsWith("fold:")) {
                const int group = argument.toInt();
                model.toggleGroup(group < model.groups().size() ? model.groups().at(group).id : QUuid::createUuid());
            } else if (step.startsWith("forget:")) {
                const QList<QUrl> trashed = dir.urls(pngs(QString(argument).replace(u',', u' ')));
                QSignalSpy forgotten(&model, &ImageBrowserModel::imagesForgotten);
                model.forgetTrashedImages(QSet<QUrl>(trashed.cbegin(), trashed.cend()));
                QCOMPARE(forgotten.count(), trashed.isEmpty() ? 0 : 1);
                for (const QUrl& url : trashed) // forgotten, and the disk not touched
                    QVERIFY(!model.metadataCache().contains(url) && QFile::exists(url.toLocalFile()));
            } else if (step == "sorted") {
                QVERIFY(applied.wait(asyncTimeoutMs));
            } else { // a sort keeps the current image and its metadata
                const QUrl shown = model.currentImageURL();
                QSignalSpy metadataChanges(&model, &ImageBrowserModel::currentMetadataChanged);
                model.setSortOrder(step == "date" ? SortOrder::dateDescending
                        : step == "desc"          ? SortOrder::nameDescending
                                                  : SortOrder::nameAscending);
                QVERIFY(model.currentImageURL() == shown && metadataChanges.isEmpty());
            }
            trace.append(listing(model));
            QCOMPARE(model.hasNext(), model.currentIndex() < model.flatURLs().size() - 1);
            QCOMPARE(model.currentMetadata().has_value(), !model.flatURLs().isEmpty());
            for (const FolderGroup& group : model.groups())
                QVERIFY(!group.images.isEmpty());
        }
        QCOMPARE(trace.join(" | "), expected);
        if (steps.contains("date")) // a sort no longer wanted never lands
            QVERIFY(!QTest::qWaitFor([&] { return listing(model) != trace.last(); }, staleResultGraceMs));
    }

    // Metadata cache and prefetch

    void preferencesAtCreation_data()
    {
        QTest::addColumn<QVariant>("storedSize");
        QTest::addColumn<QVariant>("storedOrder");
        QTest::addColumn<double>("size");
        QTest::addColumn<SortOrder>("order");
        const auto row = [](const char* name, const QVariant& size, const QVariant& order, double expected,
                             SortOrder expectedOrder = SortOrder::nameAscending) {
            QTest::newRow(name) << size << order << expected << expectedOrder;
        };
        row("nothing stored", {}, {}, 68.0);
        row("stored zero", 0.0, "date_desc", 68.0, SortOrder::dateDescending);
        row("stored 120", 120.0, "name_desc", 120.0, SortOrder::nameDescending);
        row("off the slider's grid, kept", 45.5, "date_asc", 45.5, SortOrder::dateAscending);
        row("unknown order, text size", "big", "newest", 68.0);
        row("not a finite number", "nan", "", 68.0);
    }

    void preferencesAtCreation()
    {
        QFETCH(QVariant, storedSize);
        QFETCH(QVariant, storedOrder);
        QFETCH(double, size);
        QFETCH(SortOrder, order);
        if (storedSize.isValid())
            QSettings().setValue("thumbnailSize", storedSize);
        if (storedOrder.isValid())
            QSettings().setValue("sortOrder", storedOrder);
        const ImageBrowserModel model;
        QCOMPARE(model.thumbnailSize(), size);
        QCOMPARE(model.sortOrder(), order);
        ImageBrowserModel changed; // what a model is set to, the next one starts with
        QSignalSpy sizeChanges(&changed, &ImageBrowserModel::thumbnailSizeChanged);
        changed.setThumbnailSize(72.0);
        QCOMPARE(sizeChanges.count(), 1);
        changed.setSortOrder(SortOrder::dateAscending);
        QCOMPARE(QSettings().value("sortOrder").toString(), QStringLiteral("date_asc"));
        const ImageBrowserModel reopened;
        QVERIFY(reopened.thumbnailSize() == 72.0 && reopened.sortOrder() == SortOrder::dateAscending);
    }
};

QTEST_GUILESS_MAIN(TestImageBrowserModel)
#include "tst_ImageBrowserModel.moc"
