#include "ExiftoolRunner.h"
#include "ImageBrowserModel.h"
#include "TestFiles.h"
#include "TestSandbox.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QScopeGuard>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>

#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

using namespace limnoscope;
using namespace limnoscope::test;

namespace {

constexpr int quietWatchMs = 1'800; // a watch has delivered all it would by then
constexpr int staleResultGraceMs = 500; // a stale listing or sort would have landed by then
constexpr int fileClockGapMs = 20; // distinct times on the kernel's millisecond file clock

QString seedOf(const std::optional<LimnoraMetadata>& metadata)
{
    return metadata ? metadata->settings.value(QStringLiteral("Seed")).value_or(QString()) : QStringLiteral("<none>");
}

QString cachedSeed(const ImageBrowserModel& model, const QUrl& url)
{
    return seedOf(model.metadataCache().value(url, CacheEntry({}, {})).metadata());
}

[[nodiscard]] bool openAndRead(ImageBrowserModel& model, const QString& path)
{
    return openFolder(model, path) && QTest::qWaitFor([&] { return !model.isPrefetching(); }, asyncTimeoutMs);
}

void writeInTimeOrder(const TestSandbox& dir, const QStringList& names)
{
    int seed = 0;
    for (const QString& name : names) {
        dir.writeImages({ name }, ++seed);
        QTest::qSleep(fileClockGapMs);
    }
}

// "a sub/b" -> { "a.png", "sub/b.png" }
QStringList pngs(const QString& names)
{
    QStringList files = names.split(u' ', Qt::SkipEmptyParts);
    for (QString& file : files)
        file += QStringLiteral(".png");
    return files;
}

// The listed images without ".png", the current one (by index) marked "*", selected ones "+": "a *+b".
QString listing(const ImageBrowserModel& model)
{
    QStringList names;
    for (const QUrl& url : model.flatURLs())
        names.append(QString(model.selectedURLs().contains(url) ? "+" : "") + QFileInfo(url.path()).completeBaseName());
    if (model.currentIndex() >= 0 && model.currentIndex() < names.size())
        names[model.currentIndex()].prepend(u'*');
    if (model.flatURLs().value(model.currentIndex()) != model.currentImageURL())
        names.append("(current: " + model.currentImageURL().fileName() + ")");
    return names.join(u' ');
}

// The groups' names, a collapsed one marked "-".
QString groupNames(const ImageBrowserModel& model)
{
    QStringList names;
    for (const FolderGroup& group : model.groups())
        names.append((group.isExpanded ? QString() : QStringLiteral("-")) + group.name);
    return names.join(u' ');
}

[[nodiscard]] bool showsNothing(const ImageBrowserModel& model)
{
    return model.groups().isEmpty() && model.flatURLs().isEmpty() && model.selectedURLs().isEmpty()
        && model.currentImageURL().isEmpty() && !model.currentMetadata() && !model.isWatching();
}

} // namespace

class TestImageBrowserModel : public QObject
{
    Q_OBJECT

private:
    TestSandbox m_home;

private slots:
    void initTestCase()
    {
        usePreferencesIn(m_home.path());
        setExiftoolDisabled(true);
        installEnglishTexts();
    }

    void init() { QSettings().clear(); }

    void loadFolder()
    {
        TestSandbox dir;
        dir.writeImages({ "top.png", "b/b1.png", "a/a1.png", "a/a2.png" });
        ImageBrowserModel model;
        model.setSelectedURLs({ QUrl::fromLocalFile("/elsewhere/x.png") });
        QSignalSpy loaded(&model, &ImageBrowserModel::folderLoaded);
        QSignalSpy scanning(&model, &ImageBrowserModel::isScanningChanged);
        qsizetype capacityWhenShown = -1; // room for every entry before the prefetch hands any over
        connect(&model, &ImageBrowserModel::folderLoaded, this,
            [&] { capacityWhenShown = model.metadataCache().capacity(); });
        model.loadFolder(dir.url());
        // At once: the folder is remembered; its listing is on its way.
        QCOMPARE(model.rootFolderURL(), dir.url());
        QCOMPARE(QSettings().value("lastFolderPath").toString(), dir.path());
        QVERIFY(model.isScanning() && model.groups().isEmpty() && !model.isWatching());
        QVERIFY(loaded.wait(asyncTimeoutMs));
        QCOMPARE(scanning.count(), 2);
        QVERIFY2(capacityWhenShown >= 4, qPrintable(QString::number(capacityWhenShown)));
        QCOMPARE(groupNames(model), QStringLiteral("%1 a b").arg(QFileInfo(dir.path()).fileName()));
        QCOMPARE(fileNames(model.flatURLs()), (QStringList { "top.png", "a1.png", "a2.png", "b1.png" }));
        QCOMPARE(model.currentImageURL(), dir.url("top.png"));
        QVERIFY(model.currentIndex() == 0 && model.selectedURLs().isEmpty() && model.errorMessage().isEmpty());
        QVERIFY(model.isWatching());

        QTRY_COMPARE_WITH_TIMEOUT(seedOf(model.currentMetadata()), QStringLiteral("1"), asyncTimeoutMs);
        QTRY_VERIFY_WITH_TIMEOUT(!model.isPrefetching(), asyncTimeoutMs);
        QCOMPARE(model.metadataCache().size(), 4);
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
        row("empty", ""); // no images: listed, and said so
    }

    void loadFolderThatCannotBeListed()
    {
        QFETCH(QString, name);
        QFETCH(QString, reason);
        if (name == "locked" && ::geteuid() == 0)
            QSKIP("root reads every folder");
        TestSandbox dir;
        dir.writeImages({ "a.png", "b.png", "locked/c.png" });
        writeFile(dir.filePath("empty/notes.txt"), "x");
        QVERIFY(QFile::link(dir.filePath("loop"), dir.filePath("loop")));
        QVERIFY(QFile::setPermissions(dir.filePath("locked"), {}));
        ImageBrowserModel model;
        QVERIFY(openAndRead(model, dir.path()));
        if (::geteuid() != 0) // a subfolder that cannot be listed is passed over
            QCOMPARE(fileNames(model.flatURLs()), (QStringList { "a.png", "b.png" }));
        model.setSelectedURLs({ model.flatURLs().first() });

        QSignalSpy loaded(&model, &ImageBrowserModel::folderLoaded);
        model.loadFolder(dir.url(name));
        QVERIFY(model.metadataCache().isEmpty() && model.errorMessage().isEmpty());
        QVERIFY(loaded.wait(asyncTimeoutMs));
        QVERIFY(!model.isScanning());
        QCOMPARE(model.errorMessage(),
            reason.isEmpty() ? qtTrId("no_images_in_folder")
                             : QStringLiteral("Cannot read folder “%1”: %2.").arg(dir.filePath(name), reason));
        QCOMPARE(model.rootFolderURL(), dir.url(name));
        // Nothing of the folder shown before stays; an empty folder is watched.
        QCOMPARE(model.isWatching(), reason.isEmpty());
        model.stopWatching();
        QVERIFY(showsNothing(model));
        QVERIFY(model.metadataCache().isEmpty());
        QCOMPARE(QSettings().value("lastFolderPath").toString(), dir.filePath(name));
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

    void sortChangeKeepsCurrentImage_data()
    {
        QTest::addColumn<SortOrder>("order");
        QTest::addColumn<int>("imageCount");
        QTest::addColumn<bool>("atOnce");
        QTest::newRow("by name, a few images: at once") << SortOrder::nameDescending << 5 << true;
        QTest::newRow("by name, a large folder: on a worker")
            << SortOrder::nameDescending << int(ImageBrowserModel::immediateNameSortLimit) + 1 << false;
        QTest::newRow("by date: on a worker") << SortOrder::dateDescending << 5 << false;
    }

    void sortChangeKeepsCurrentImage()
    {
        QFETCH(SortOrder, order);
        QFETCH(int, imageCount);
        QFETCH(bool, atOnce);
        // Written oldest first: both descending orders reverse the names.
        TestSandbox dir;
        const QStringList names = numberedNames(imageCount);
        (order == SortOrder::dateDescending) ? writeInTimeOrder(dir, names) : dir.writeImages(names);
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
        QCOMPARE(applied.count(), atOnce ? 1 : 0);
        if (!atOnce) {
            QCOMPARE(model.flatURLs(), before);
            QVERIFY(applied.wait(asyncTimeoutMs));
        }
        QCOMPARE(fileNames(model.flatURLs()), expected);
        QCOMPARE(model.currentImageURL(), dir.url(names.at(1)));
        QCOMPARE(model.currentIndex(), imageCount - 2);
        QCOMPARE(model.groups().last().name, QStringLiteral("sub"));
        QCOMPARE(metadataChanges.count(), 0);
    }

    // Listing and sorting on workers: only the latest request's result is shown.
    void twoLoadsEndWithTheLastOne_data()
    {
        QTest::addColumn<int>("firstCount");
        QTest::addColumn<int>("secondCount"); // -1: a file list instead of a second folder
        QTest::newRow("the first listing is the slower one") << 3000 << 2;
        QTest::newRow("the second listing is the slower one") << 2 << 3000;
        QTest::newRow("a file list makes the listing stale") << 2 << -1;
    }

    void twoLoadsEndWithTheLastOne()
    {
        QFETCH(int, firstCount);
        QFETCH(int, secondCount);
        TestSandbox first;
        for (int i = 0; i < firstCount; ++i)
            writeFile(first.filePath(QStringLiteral("a/%1.png").arg(i)), {});
        TestSandbox second;
        for (int i = 0; i < std::max(secondCount, 1); ++i)
            writeFile(second.filePath(QStringLiteral("b/%1.png").arg(i)), {});

        ImageBrowserModel model;
        QSignalSpy loaded(&model, &ImageBrowserModel::folderLoaded);
        QSignalSpy scanning(&model, &ImageBrowserModel::isScanningChanged);
        QSignalSpy groupChanges(&model, &ImageBrowserModel::groupsChanged);
        model.loadFolder(first.url());
        if (secondCount < 0) {
            model.setSelectedURLs({ first.url("a/0.png") });
            second.writeImages({ "c.png", "a.png" });
            model.loadFiles(second.urls({ "c.png", "a.png", "b/0.png" }));
            QVERIFY(!model.isScanning() && model.rootFolderURL().isEmpty() && !model.isWatching());
            // One group without a name, the files in the order given, the first current, no selection.
            QCOMPARE(model.groups().size(), 1);
            QVERIFY(model.groups().first().name.isEmpty() && model.groups().first().url == QUrl::fromLocalFile("/"));
            QCOMPARE(listing(model), QStringLiteral("*c a 0"));
            QTRY_COMPARE_WITH_TIMEOUT(seedOf(model.currentMetadata()), QStringLiteral("1"), asyncTimeoutMs);
            QVERIFY(!loaded.wait(staleResultGraceMs));
            model.rescanFolder(); // a watch left from the folder has no effect now
            QCOMPARE(model.groups().size(), 1);
            return;
        }
        model.loadFolder(second.url());
        QVERIFY(model.isScanning());
        QVERIFY(loaded.wait(asyncTimeoutMs));
        QVERIFY(!loaded.wait(staleResultGraceMs));
        QCOMPARE(loaded.count(), 1);
        QCOMPARE(groupChanges.count(), 1); // the first folder's groups never showed
        QCOMPARE(groupNames(model), QStringLiteral("b"));
        QCOMPARE(model.flatURLs().size(), secondCount);
        QCOMPARE(model.rootFolderURL(), second.url());
        QCOMPARE(scanning.count(), 2);
        QTRY_VERIFY_WITH_TIMEOUT(!model.isPrefetching(), asyncTimeoutMs);
        QCOMPARE(model.metadataCache().size(), secondCount); // only the second folder was prefetched
    }

    void orderChangedWhileListing_data()
    {
        QTest::addColumn<bool>("whileOpening");
        QTest::newRow("while opening") << true;
        QTest::newRow("while rescanning") << false;
    }

    // A listing made in an order no longer wanted is made again in the new order.
    void orderChangedWhileListing()
    {
        QFETCH(bool, whileOpening);
        TestSandbox dir;
        dir.writeImages({ "1.png", "2.png", "3.png" });
        ImageBrowserModel model;
        QSignalSpy loaded(&model, &ImageBrowserModel::folderLoaded);
        QSignalSpy rescanned(&model, &ImageBrowserModel::folderRescanned);
        if (whileOpening) {
            model.loadFolder(dir.url());
        } else {
            QVERIFY(openFolder(model, dir.path()));
            model.stopWatching();
            dir.writeImages({ "4.png" });
            model.rescanFolder();
        }
        model.setSortOrder(SortOrder::nameDescending);
        QSignalSpy& done = whileOpening ? loaded : rescanned;
        QVERIFY(done.wait(asyncTimeoutMs));
        QCOMPARE(done.count(), 1);
        QCOMPARE(listing(model), whileOpening ? "*3 2 1" : "4 3 2 *1");
    }

    void rescansAreCoalesced()
    {
        TestSandbox dir;
        dir.writeImages({ "1.png" });
        ImageBrowserModel model;
        QSignalSpy loaded(&model, &ImageBrowserModel::folderLoaded);
        QSignalSpy rescanned(&model, &ImageBrowserModel::folderRescanned);
        // A rescan asked for while the folder opens follows the listing.
        model.loadFolder(dir.url());
        model.rescanFolder();
        QVERIFY(loaded.wait(asyncTimeoutMs));
        QCOMPARE(rescanned.count(), 0);
        QVERIFY(rescanned.wait(asyncTimeoutMs));
        model.stopWatching(); // only the rescans asked for here
        rescanned.clear();

        model.rescanFolder();
        // A change the running rescan may have missed: the one queued after it lists it.
        dir.writeImages({ "2.png" });
        for (int i = 0; i < 4; ++i)
            model.rescanFolder();
        QTRY_COMPARE_WITH_TIMEOUT(rescanned.count(), 2, asyncTimeoutMs);
        QVERIFY(!rescanned.wait(staleResultGraceMs));
        QCOMPARE(fileNames(model.flatURLs()), (QStringList { "1.png", "2.png" }));
    }

    void rescanOfAFolderNoLongerShownIsDropped()
    {
        // The rescan of the large first folder comes back after the listing of the second.
        TestSandbox first;
        for (int i = 0; i < 3000; ++i)
            writeFile(first.filePath(QStringLiteral("%1.png").arg(i)), {});
        TestSandbox second;
        second.writeImages({ "2.png" });
        ImageBrowserModel model;
        QVERIFY(openFolder(model, first.path()));
        model.stopWatching();
        QSignalSpy rescanned(&model, &ImageBrowserModel::folderRescanned);
        writeFile(first.filePath("new.png"), {});
        model.rescanFolder();
        QVERIFY(openFolder(model, second.path()));
        QVERIFY(!rescanned.wait(staleResultGraceMs));
        QCOMPARE(fileNames(model.flatURLs()), QStringList { "2.png" });
    }

    // A date sort on a worker, then a change before it lands: the change is not undone.
    void sortOnAWorkerThenAChange_data()
    {
        QTest::addColumn<bool>("forget");
        QTest::addColumn<QString>("expected");
        QTest::newRow("a name order at once wins") << false << "*1 2 3 4";
        QTest::newRow("a forgotten image stays forgotten") << true << "4 2 *1";
    }

    void sortOnAWorkerThenAChange()
    {
        QFETCH(bool, forget);
        QFETCH(QString, expected);
        TestSandbox dir;
        writeInTimeOrder(dir, { "1.png", "2.png", "3.png", "4.png" });
        ImageBrowserModel model;
        QVERIFY(openFolder(model, dir.path()));
        QSignalSpy applied(&model, &ImageBrowserModel::sortOrderApplied);
        model.setSortOrder(SortOrder::dateDescending); // on a worker
        if (forget) {
            model.forgetTrashedImages({ dir.url("3.png") });
            QVERIFY(applied.wait(asyncTimeoutMs));
        } else {
            model.setSortOrder(SortOrder::nameAscending); // at once
            QCOMPARE(applied.count(), 1);
            QVERIFY(!applied.wait(staleResultGraceMs));
        }
        QCOMPARE(listing(model), expected);
    }

    // Steps and jumps over 1.png ... 5.png with 1.png and 4.png selected: a step clears the selection.
    void navigation_data()
    {
        QTest::addColumn<int>("start");
        QTest::addColumn<QString>("action");
        QTest::addColumn<QString>("expected");
        const auto row = [](const char* name, int start, const char* action, const char* expected) {
            QTest::newRow(name) << start << action << expected;
        };
        row("next at the end", 4, "next", "+1 2 3 +4 *5");
        row("previous at the start", 0, "previous", "*+1 2 3 +4 5");
        row("next from the second", 1, "next", "1 2 *3 4 5");
        row("previous from the third", 2, "previous", "1 *2 3 4 5");
        row("select before the start", 2, "select -1", "+1 2 *3 +4 5");
        row("select past the end", 2, "select 5", "+1 2 *3 +4 5");
        row("select keeps the selection", 2, "select 4", "+1 2 3 +4 *5");
    }

    void navigation()
    {
        QFETCH(int, start);
        QFETCH(QString, action);
        QFETCH(QString, expected);
        TestSandbox dir;
        dir.writeImages(pngs("1 2 3 4 5"));
        ImageBrowserModel model;
        QVERIFY(openFolder(model, dir.path()));
        model.selectImage(start);
        model.setSelectedURLs({ dir.url("1.png"), dir.url("4.png") });
        if (action == "next")
            model.nextImage();
        else if (action == "previous")
            model.previousImage();
        else
            model.selectImage(action.section(' ', 1).toInt());
        QCOMPARE(listing(model), expected);
        QCOMPARE(model.hasNext(), model.currentIndex() < 4);
    }

    // Forgetting what moved to the Trash: exactly those images go, the image now at the current
    // position becomes current, the rest of the selection stays, and the disk is not touched.
    void forgetTrashedImages_data()
    {
        QTest::addColumn<QString>("files");
        QTest::addColumn<int>("current");
        QTest::addColumn<QString>("selected");
        QTest::addColumn<QString>("trashed");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<int>("expectedGroups");
        const auto row = [](const char* name, const char* files, int current, const char* selected, const char* trashed,
                             const char* expected, int groups) {
            QTest::newRow(name) << files << current << selected << trashed << expected << groups;
        };
        row("current third of five", "1 2 3 4 5", 2, "", "3", "1 2 *4 5", 1);
        row("current last", "1 2 3 4 5", 4, "", "5", "1 2 3 *4", 1);
        row("an image before the current one", "1 2 3 4 5", 3, "", "1", "2 3 4 *5", 1);
        row("two selected before the current image", "1 2 3 4 5 6", 3, "1 2 6", "1 2", "3 4 5 *+6", 1);
        row("the only image", "1", 0, "", "1", "", 0);
        row("the only image of a group", "1 2 sub/x", 2, "", "sub/x", "1 *2", 1);
        row("nothing moved: nothing happens", "1 2 3 4 5", 1, "3", "", "1 *2 +3 4 5", 1);
    }

    void forgetTrashedImages()
    {
        QFETCH(QString, files);
        QFETCH(int, current);
        QFETCH(QString, selected);
        QFETCH(QString, trashed);
        QFETCH(QString, expected);
        QFETCH(int, expectedGroups);
        TestSandbox dir;
        dir.writeImages(pngs(files));
        ImageBrowserModel model;
        QVERIFY(openAndRead(model, dir.path()));
        model.selectImage(current);
        const QList<QUrl> selectedURLs = dir.urls(pngs(selected));
        model.setSelectedURLs(QSet<QUrl>(selectedURLs.cbegin(), selectedURLs.cend()));
        const QList<QUrl> trashedURLs = dir.urls(pngs(trashed));
        QSignalSpy forgotten(&model, &ImageBrowserModel::imagesForgotten);
        model.forgetTrashedImages(QSet<QUrl>(trashedURLs.cbegin(), trashedURLs.cend()));
        QCOMPARE(forgotten.count(), trashed.isEmpty() ? 0 : 1);
        QCOMPARE(listing(model), expected);
        QCOMPARE(model.groups().size(), expectedGroups);
        QCOMPARE(model.currentMetadata().has_value(), !expected.isEmpty());
        for (const QUrl& url : trashedURLs)
            QVERIFY(!model.metadataCache().contains(url) && QFile::exists(url.toLocalFile()));
    }

    // Groups r1 r2 | a1 a2 a3 | b1 b2: folding keeps the current image where it stays listed.
    void collapseThenStep_data()
    {
        QTest::addColumn<int>("current");
        QTest::addColumn<int>("folded");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<QString>("afterNext");
        const auto row = [](const char* name, int current, int folded, const char* expected, const char* next) {
            QTest::newRow(name) << current << folded << expected << next;
        };
        row("the current image's group: the next group's first", 3, 1, "r1 r2 *b1 b2", "b2.png");
        row("a group before the current image", 3, 0, "a1 *a2 a3 b1 b2", "a3.png");
        row("a group after the current image", 3, 2, "r1 r2 a1 *a2 a3", "a3.png");
        row("the last group, holding the current image: the last visible", 6, 2, "r1 r2 a1 a2 *a3", "a3.png");
    }

    void collapseThenStep()
    {
        QFETCH(int, current);
        QFETCH(int, folded);
        QFETCH(QString, expected);
        QFETCH(QString, afterNext);
        TestSandbox dir;
        dir.writeImages(pngs("r1 r2 a/a1 a/a2 a/a3 b/b1 b/b2"));
        ImageBrowserModel model;
        QVERIFY(openFolder(model, dir.path()));
        model.selectImage(current);
        model.toggleGroup(model.groups().at(folded).id);
        QVERIFY(!model.groups().at(folded).isExpanded);
        QCOMPARE(listing(model), expected);
        model.nextImage();
        QCOMPARE(model.currentImageURL().fileName(), afterNext);
        model.toggleGroup(QUuid::createUuid()); // no such group: nothing changes
        QCOMPARE(model.flatURLs().size(), 7 - model.groups().at(folded).images.size());
        model.toggleGroup(model.groups().at(folded).id);
        QCOMPARE(model.flatURLs().size(), 7);
        QCOMPARE(model.flatURLs().at(model.currentIndex()).fileName(), afterNext);
    }

    // Metadata cache and prefetch

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

    void secondFolderWaitsForTheFirstRun()
    {
        constexpr int firstCount = 5000; // still being read when the second listing is back, even on a busy machine
        TestSandbox first;
        first.writeImages(numberedNames(firstCount));
        TestSandbox second;
        second.writeImages({ "x.png", "y.png", "z.png" });

        ImageBrowserModel model;
        QList<qint64> doneCounts;
        connect(&model, &ImageBrowserModel::prefetchProgressChanged, this,
            [&] { doneCounts.append(model.prefetchDoneCount()); });
        QVERIFY(openFolder(model, first.path()));
        QVERIFY(model.isPrefetching());
        QCOMPARE(model.prefetchTotalCount(), firstCount);
        QVERIFY(openFolder(model, second.path()));
        QVERIFY(model.isPrefetching());
        QCOMPARE(model.pendingPrefetchURLs(), model.flatURLs());

        QTRY_VERIFY_WITH_TIMEOUT(model.prefetchTotalCount() == 3 && !model.isPrefetching(), asyncTimeoutMs);
        QVERIFY(model.pendingPrefetchURLs().isEmpty());
        QCOMPARE(model.metadataCache().size(), firstCount + 3); // the first run's late results land too
        QList<qint64> expected; // one hand-off per image when images are read one by one
        for (qint64 done = 0; done <= firstCount; ++done)
            expected.append(done);
        for (qint64 done = 0; done <= 3; ++done)
            expected.append(done);
        QCOMPARE(doneCounts, expected);
    }

    // A batch hands back once for all its images. The image on screen is read on its own first (no
    // render time); the batch brings the render time, and the image's own late load keeps it.
    void exiftoolBatch()
    {
        if (!QFile::exists(QStringLiteral("/usr/bin/exiftool")))
            QSKIP("exiftool is not installed");
        setExiftoolDisabled(false);
        const auto restore = qScopeGuard([] { setExiftoolDisabled(true); });
        TestSandbox dir;
        dir.writeImages({ "1.png", "2.png", "3.png" });
        writeFile(dir.filePath("4.png"), "no image at all");
        ImageBrowserModel batch;
        QList<qint64> doneCounts;
        connect(&batch, &ImageBrowserModel::prefetchProgressChanged, this,
            [&] { doneCounts.append(batch.prefetchDoneCount()); });
        batch.prefetchMetadata(dir.urls({ "1.png", "2.png", "3.png", "4.png" }));
        QTRY_VERIFY_WITH_TIMEOUT(!batch.isPrefetching(), asyncTimeoutMs * 3);
        QCOMPARE(doneCounts, (QList<qint64> { 0, 4 }));
        QCOMPARE(batch.metadataCache().size(), 4);
        QCOMPARE(cachedSeed(batch, dir.url("2.png")) + cachedSeed(batch, dir.url("4.png")), QStringLiteral("2<none>"));

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
        // The run stops at its next image instead of holding up the model's end,
        // and what it posted before is dropped with the model.
        {
            ImageBrowserModel model;
            model.prefetchMetadata(urls);
            QTest::qSleep(5);
        }
        const qint64 teardown = clock.elapsed();
        QCoreApplication::processEvents();
        QVERIFY2(teardown < wholeRun / 2, qPrintable(QStringLiteral("%1 ms vs %2 ms").arg(teardown).arg(wholeRun)));
    }

    // A burst of new images gives one rescan about a second later that keeps the current image.
    void newImagesAppearAboutOneSecondLater()
    {
        TestSandbox dir;
        dir.writeImages({ "b.png", "d.png" });
        ImageBrowserModel model;
        QVERIFY(openAndRead(model, dir.path()));
        model.selectImage(1);
        QSignalSpy flatChanges(&model, &ImageBrowserModel::flatURLsChanged);
        QElapsedTimer clock;
        clock.start();
        dir.writeImages({ "c.png" }, 7);
        for (int i = 0; i < 10; ++i)
            dir.writeImages({ QStringLiteral("new%1.png").arg(i) });
        QTRY_COMPARE_WITH_TIMEOUT(model.flatURLs().size(), 13, asyncTimeoutMs);
        QVERIFY2(clock.elapsed() >= 900, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(listing(model), QStringLiteral("b c *d new0 new1 new2 new3 new4 new5 new6 new7 new8 new9"));
        QTRY_COMPARE_WITH_TIMEOUT(cachedSeed(model, dir.url("c.png")), QStringLiteral("7"), asyncTimeoutMs);
        QTest::qWait(quietWatchMs);
        QCOMPARE(flatChanges.count(), 1);
    }

    // A new subfolder shows as a group in name order and is watched from then on; a rescan keeps
    // collapsed groups collapsed and the current image current. A new image of a collapsed group
    // is read once the group is expanded.
    void rescanKeepsCollapsedGroupsAndCurrentImage()
    {
        TestSandbox dir;
        dir.writeImages({ "1.png", "2.png", "a/a1.png", "b/b1.png", "b/b2.png" });
        ImageBrowserModel model;
        QVERIFY(openAndRead(model, dir.path()));
        model.toggleGroup(model.groups().at(1).id);
        model.selectImage(2); // b1.png, since a is collapsed

        dir.writeImages({ "0.png", "m/m1.png", "a/a2.png" });
        QTRY_COMPARE_WITH_TIMEOUT(model.groups().size(), 4, asyncTimeoutMs);
        QCOMPARE(groupNames(model), QFileInfo(dir.path()).fileName() + " -a b m");
        QCOMPARE(listing(model), QStringLiteral("0 1 2 *b1 b2 m1"));
        dir.writeImages({ "m/m2.png" }); // a change inside the new folder alone
        QTRY_COMPARE_WITH_TIMEOUT(model.groups().at(3).images.size(), 2, asyncTimeoutMs);
        QTRY_VERIFY_WITH_TIMEOUT(!model.isPrefetching(), asyncTimeoutMs);
        QVERIFY(!model.metadataCache().contains(dir.url("a/a2.png"))); // not browsed, not read
        model.toggleGroup(model.groups().at(1).id);
        QVERIFY(rescan(model));
        QTRY_COMPARE_WITH_TIMEOUT(cachedSeed(model, dir.url("a/a2.png")), QStringLiteral("3"), asyncTimeoutMs);
    }

    void currentImageDeletedOutside_data()
    {
        QTest::addColumn<QString>("files");
        QTest::addColumn<int>("current");
        QTest::addColumn<QString>("expected");
        QTest::newRow("middle: the next one slides in") << "1 2 3" << 1 << "1 *3";
        QTest::newRow("last: the new last one") << "1 2 3" << 2 << "1 *2";
        QTest::newRow("the only one: nothing, and no message") << "1" << 0 << "";
    }

    void currentImageDeletedOutside()
    {
        QFETCH(QString, files);
        QFETCH(int, current);
        QFETCH(QString, expected);
        TestSandbox dir;
        dir.writeImages(pngs(files));
        ImageBrowserModel model;
        QVERIFY(openFolder(model, dir.path()));
        model.selectImage(current);
        QTRY_VERIFY_WITH_TIMEOUT(model.currentMetadata(), asyncTimeoutMs);
        QVERIFY(QFile::remove(model.currentImageURL().toLocalFile()));
        QTRY_COMPARE_WITH_TIMEOUT(listing(model), expected, asyncTimeoutMs);
        QCOMPARE(model.groups().isEmpty(), expected.isEmpty());
        QCOMPARE(model.currentMetadata().has_value(), !expected.isEmpty());
        QVERIFY(model.errorMessage().isEmpty()); // the rescan never sets the empty-folder message
    }

    void openedFolderGoneClearsTheList_data()
    {
        QTest::addColumn<bool>("renamed");
        QTest::newRow("deleted") << false;
        QTest::newRow("renamed away") << true;
    }

    void openedFolderGoneClearsTheList()
    {
        QFETCH(bool, renamed);
        TestSandbox parent;
        const QString folder = parent.filePath("shown");
        parent.writeImages({ "shown/1.png", "shown/sub/2.png" });
        ImageBrowserModel model;
        QVERIFY(openFolder(model, folder));
        model.setSelectedURLs({ model.currentImageURL() });
        QTRY_VERIFY_WITH_TIMEOUT(model.currentMetadata(), asyncTimeoutMs);
        const QList<FolderGroup> groups = model.groups();
        const QString away = parent.filePath("away");
        QVERIFY(renamed ? QDir().rename(folder, away) : QDir(folder).removeRecursively());
        QTRY_COMPARE_WITH_TIMEOUT(model.errorMessage(), qtTrId("folder_gone").arg(folder), asyncTimeoutMs);
        QVERIFY(model.errorMessage().startsWith("The folder “")); // the English text, filled in
        QVERIFY(showsNothing(model));
        if (renamed) { // back again, it opens as before
            QVERIFY(QDir().rename(away, folder) && openFolder(model, folder));
            QCOMPARE(model.flatURLs(), flattenGroups(groups));
            QVERIFY(model.errorMessage().isEmpty() && model.isWatching());
        }
    }

    void rescanWithoutChangesLeavesTheModelStill()
    {
        TestSandbox dir;
        dir.writeImages({ "1.png", "sub/2.png" });
        ImageBrowserModel model;
        QVERIFY(openAndRead(model, dir.path()));
        QSignalSpy groupChanges(&model, &ImageBrowserModel::groupsChanged);
        QSignalSpy flatChanges(&model, &ImageBrowserModel::flatURLsChanged);
        QSignalSpy prefetching(&model, &ImageBrowserModel::isPrefetchingChanged);
        const QList<FolderGroup> groups = model.groups();
        QSignalSpy rescanned(&model, &ImageBrowserModel::folderRescanned);
        // A colour tag written into an image is no change for the watch.
        QCOMPARE(
            ::setxattr(QFile::encodeName(dir.filePath("1.png")).constData(), "user.limnoscope.test", "1", 1, 0), 0);
        QVERIFY(!rescanned.wait(quietWatchMs));
        writeFile(dir.filePath("sub/deeper/3.png"), {}); // two levels down: not shown
        QVERIFY(rescan(model));
        QCOMPARE(model.groups(), groups); // ids included
        QCOMPARE(groupChanges.count() + flatChanges.count() + prefetching.count(), 0);
    }

    // Written in place, as a generator may: no entry of the folder changes, the watch still sees it.
    void changedFileIsReadAgain_data()
    {
        QTest::addColumn<QByteArray>("first");
        QTest::newRow("caught while still being written") << QByteArray("\x89PNG\r\n");
        QTest::newRow("rewritten with the same size") << pngWithDescription(sampleLimnoraText(4).toLatin1());
    }

    void changedFileIsReadAgain()
    {
        QFETCH(QByteArray, first);
        TestSandbox dir;
        dir.writeImages({ "done.png" });
        writeFile(dir.filePath("half.png"), first);
        ImageBrowserModel model;
        QVERIFY(openAndRead(model, dir.path()));
        model.selectImage(1); // half.png, on screen while it is finished
        QVERIFY(seedOf(model.currentMetadata()) != QStringLiteral("5"));
        QList<qint64> runSizes;
        connect(&model, &ImageBrowserModel::prefetchProgressChanged, this, [&] {
            if (model.prefetchDoneCount() == 0)
                runSizes.append(model.prefetchTotalCount());
        });
        dir.writeImages({ "half.png" }, 5);
        QTRY_COMPARE_WITH_TIMEOUT(seedOf(model.currentMetadata()), QStringLiteral("5"), asyncTimeoutMs);
        QVERIFY(model.errorMessage().isEmpty());
        QCOMPARE(runSizes, QList<qint64> { 1 }); // the unchanged image is not read again
    }

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

    void restoreLastFolder_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<bool>("filesDroppedMeanwhile");
        QTest::addColumn<bool>("opens");
        QTest::newRow("an existing folder") << "folder" << false << true;
        QTest::newRow("a path that is gone") << "gone" << false << false;
        QTest::newRow("nothing stored") << "" << false << false;
        QTest::newRow("files dropped while looking") << "folder" << true << false;
    }

    void restoreLastFolder()
    {
        QFETCH(QString, stored);
        QFETCH(bool, filesDroppedMeanwhile);
        QFETCH(bool, opens);
        TestSandbox dir;
        dir.writeImages({ "folder/1.png", "dropped.png" });
        const QString path = stored.isEmpty() ? QString() : dir.filePath(stored);
        if (!path.isEmpty())
            QSettings().setValue("lastFolderPath", path);
        ImageBrowserModel model;
        QSignalSpy scanning(&model, &ImageBrowserModel::isScanningChanged);
        model.restoreLastFolder();
        QCOMPARE(model.isScanning(), !path.isEmpty()); // looked for on a worker
        if (filesDroppedMeanwhile)
            model.loadFiles(dir.urls({ "dropped.png" }));
        QTRY_VERIFY_WITH_TIMEOUT(!model.isScanning(), asyncTimeoutMs);
        // Looking on into listing, without a gap.
        QCOMPARE(scanning.count(), path.isEmpty() ? 0 : 2);
        QCOMPARE(model.rootFolderURL(), opens ? QUrl::fromLocalFile(path) : QUrl());
        QCOMPARE(listing(model), opens ? "*1" : filesDroppedMeanwhile ? "*dropped" : "");
        QCOMPARE(QSettings().value("lastFolderPath").toString(), path);
    }
};

QTEST_GUILESS_MAIN(TestImageBrowserModel)
#include "tst_ImageBrowserModel.moc"
