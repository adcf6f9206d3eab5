#include "AppNotifications.h"
#include "ExiftoolRunner.h"
#include "ImageBrowserModel.h"
#include "TestFiles.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QScopeGuard>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTranslator>
#include <QXmlStreamReader>

#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

using namespace limnoscope;
using limnoscope::test::pngWithDescription;
using limnoscope::test::sampleLimnoraText;
using limnoscope::test::writeFile;

namespace {

constexpr int asyncTimeoutMs = 10'000;
// Long enough for a folder watch to have delivered anything it was going to deliver.
constexpr int quietWatchMs = 1'800;
// Long enough for a listing or sort of a few thousand files to have come back, if it still could.
constexpr int staleResultGraceMs = 500;
// The kernel's file clock ticks in milliseconds; this gap gives files distinct times.
constexpr int fileClockGapMs = 20;

// A PNG whose generation text carries `seed`, so that records can be told apart.
void writeImage(const QString& path, int seed)
{
    writeFile(path, pngWithDescription(sampleLimnoraText(seed).toLatin1()));
}

QString seedOf(const std::optional<LimnoraMetadata>& metadata)
{
    return metadata ? metadata->settings.value(QStringLiteral("Seed")).value_or(QString()) : QStringLiteral("<none>");
}

QStringList namesOf(const QList<QUrl>& urls)
{
    QStringList names;
    for (const QUrl& url : urls)
        names.append(url.fileName());
    return names;
}

QList<QUrl> urlsIn(const QTemporaryDir& dir, const QStringList& names)
{
    QList<QUrl> urls;
    for (const QString& name : names)
        urls.append(QUrl::fromLocalFile(dir.filePath(name)));
    return urls;
}

// Opens the folder and waits until its listing is shown.
[[nodiscard]] bool openFolder(ImageBrowserModel& model, const QString& path)
{
    QSignalSpy loaded(&model, &ImageBrowserModel::folderLoaded);
    model.loadFolder(QUrl::fromLocalFile(path));
    return loaded.wait(asyncTimeoutMs);
}

// No groups, images, selection, current image or metadata, and no watch.
[[nodiscard]] bool showsNothing(const ImageBrowserModel& model)
{
    return model.groups().isEmpty() && model.flatURLs().isEmpty() && model.selectedURLs().isEmpty()
        && model.currentImageURL().isEmpty() && !model.currentMetadata() && !model.isWatching();
}

// The English texts of the translation source, so that messages read as the user sees them.
class EnglishTexts : public QTranslator
{
public:
    EnglishTexts()
    {
        QFile source(limnoscope::test::sourceTreeRoot() + "/translations/limnoscope_en.ts");
        QVERIFY(source.open(QIODevice::ReadOnly));
        QXmlStreamReader xml(&source);
        QString id;
        while (xml.readNextStartElement() || !xml.atEnd()) {
            if (xml.name() == u"message")
                id = xml.attributes().value("id").toString();
            else if (xml.name() == u"translation")
                m_texts.insert(id, xml.readElementText(QXmlStreamReader::IncludeChildElements));
        }
    }
    QString translate(const char*, const char* id, const char*, int) const override { return m_texts.value(id); }
    bool isEmpty() const override { return false; }

private:
    QHash<QString, QString> m_texts;
};

// Rescans the opened folder and waits until the rescan is applied.
[[nodiscard]] bool rescan(ImageBrowserModel& model)
{
    QSignalSpy rescanned(&model, &ImageBrowserModel::folderRescanned);
    model.rescanFolder();
    return rescanned.wait(asyncTimeoutMs);
}

} // namespace

class TestImageBrowserModel : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_config;
    EnglishTexts m_english;

    // A folder holding `names` as images with seeds 1, 2, ... in that order.
    static void writeImages(const QTemporaryDir& dir, const QStringList& names)
    {
        int seed = 0;
        for (const QString& name : names)
            writeImage(dir.filePath(name), ++seed);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_config.isValid());
        limnoscope::test::usePreferencesIn(m_config.path());
        setExiftoolDisabled(true);
        QCoreApplication::installTranslator(&m_english);
    }

    void init() { QSettings().clear(); }

    // Opening

    void loadFolder()
    {
        QTemporaryDir dir;
        writeImages(dir, { "top.png", "b/b1.png", "a/a1.png", "a/a2.png" });
        ImageBrowserModel model;
        model.setSelectedURLs({ QUrl::fromLocalFile("/elsewhere/x.png") });
        QSignalSpy focus(AppNotifications::shared(), &AppNotifications::restoreFirstResponder);
        QElapsedTimer clock;
        clock.start();

        const QUrl root = QUrl::fromLocalFile(dir.path());
        QSignalSpy loaded(&model, &ImageBrowserModel::folderLoaded);
        QSignalSpy scanning(&model, &ImageBrowserModel::isScanningChanged);
        model.loadFolder(root);
        // At once: the folder is remembered and named; its listing is still on its way.
        QCOMPARE(model.rootFolderURL(), root);
        QCOMPARE(QSettings().value("lastFolderPath").toString(), dir.path());
        QVERIFY(model.isScanning());
        QVERIFY(model.groups().isEmpty());
        QVERIFY(!model.isWatching());

        qsizetype capacityWhenShown = -1;
        connect(&model, &ImageBrowserModel::folderLoaded, this,
            [&] { capacityWhenShown = model.metadataCache().capacity(); });
        QVERIFY(loaded.wait(asyncTimeoutMs));
        QVERIFY(!model.isScanning());
        QCOMPARE(scanning.count(), 2);
        // Room for every image's entry before the prefetch hands any over.
        QVERIFY2(capacityWhenShown >= 4, qPrintable(QString::number(capacityWhenShown)));
        QCOMPARE(model.groups().size(), 3);
        QCOMPARE(model.groups().at(1).name, QStringLiteral("a"));
        QCOMPARE(namesOf(model.flatURLs()), (QStringList { "top.png", "a1.png", "a2.png", "b1.png" }));
        QCOMPARE(model.currentIndex(), 0);
        QCOMPARE(model.currentImageURL(), QUrl::fromLocalFile(dir.filePath("top.png")));
        QVERIFY(model.selectedURLs().isEmpty());
        QVERIFY(model.errorMessage().isEmpty());
        QVERIFY(model.isWatching());

        QTRY_COMPARE_WITH_TIMEOUT(seedOf(model.currentMetadata()), QStringLiteral("1"), asyncTimeoutMs);
        QTRY_COMPARE_WITH_TIMEOUT(focus.count(), 1, asyncTimeoutMs);
        QVERIFY(clock.elapsed() >= ImageBrowserModel::folderOpenedFocusDelay.count() - 20);
        QTRY_VERIFY_WITH_TIMEOUT(!model.isPrefetching(), asyncTimeoutMs);
        QCOMPARE(model.metadataCache().size(), 4);
    }

    void loadFolderThatCannotBeListed_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("reason");
        QTest::newRow("no such folder") << "missing"
                                        << "no such file or folder";
        QTest::newRow("a file") << "a.png"
                                << "not a folder";
        QTest::newRow("a link loop") << "loop"
                                     << "too many levels of symbolic links";
        QTest::newRow("no permission") << "locked"
                                       << "permission denied";
    }

    void loadFolderThatCannotBeListed()
    {
        QFETCH(QString, name);
        QFETCH(QString, reason);
        if (name == "locked" && ::geteuid() == 0)
            QSKIP("root reads every folder");
        QTemporaryDir dir;
        writeImages(dir, { "a.png", "b.png", "locked/c.png" });
        QVERIFY(QFile::link(dir.filePath("loop"), dir.filePath("loop")));
        QVERIFY(QFile::setPermissions(dir.filePath("locked"), {}));
        ImageBrowserModel model;
        QVERIFY(openFolder(model, dir.path()));
        QTRY_VERIFY_WITH_TIMEOUT(!model.isPrefetching(), asyncTimeoutMs);
        model.setSelectedURLs({ model.flatURLs().first() });

        const QUrl target = QUrl::fromLocalFile(dir.filePath(name));
        QSignalSpy loaded(&model, &ImageBrowserModel::folderLoaded);
        model.loadFolder(target);
        QVERIFY(model.metadataCache().isEmpty());
        QVERIFY(model.errorMessage().isEmpty());
        QVERIFY(loaded.wait(asyncTimeoutMs));
        QVERIFY(!model.isScanning());
        QCOMPARE(
            model.errorMessage(), QStringLiteral("Cannot read folder “%1”: %2.").arg(target.toLocalFile(), reason));
        QCOMPARE(model.rootFolderURL(), target);
        // Nothing of the folder shown before stays under the new name.
        QVERIFY(showsNothing(model));
        QVERIFY(model.metadataCache().isEmpty());
        QCOMPARE(QSettings().value("lastFolderPath").toString(), target.toLocalFile());
    }

    // An image that cannot be opened says why, whether it was read on its own or in the batch.
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
    }

    void unreadableImageSaysWhy()
    {
        QFETCH(QString, kind);
        QFETCH(bool, inFolder);
        QFETCH(QString, reason);
        if (kind == "locked" && ::geteuid() == 0)
            QSKIP("root reads every file");
        QTemporaryDir dir;
        writeImages(dir, { "a.png" });
        const QString path = dir.filePath("z.png");
        if (kind == "loop")
            QVERIFY(QFile::link(path, path));
        else if (kind == "dangling")
            QVERIFY(QFile::link(dir.filePath("nowhere.png"), path));
        else if (kind == "locked")
            writeImage(path, 2);
        else if (kind == "fifo")
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        QVERIFY(kind != "locked" || QFile::setPermissions(path, {}));
        const QString expected = QStringLiteral("Cannot read image “%1”: %2.").arg(path, reason);

        ImageBrowserModel model;
        if (inFolder) {
            QVERIFY(openFolder(model, dir.path()));
            QTRY_VERIFY_WITH_TIMEOUT(!model.isPrefetching(), asyncTimeoutMs);
            QVERIFY(model.metadataCache().value(model.flatURLs().first(), CacheEntry(std::nullopt, {})).isLoaded());
            model.selectImage(1); // from the batch's entry
        } else {
            model.loadFiles({ QUrl::fromLocalFile(path) });
        }
        QTRY_COMPARE_WITH_TIMEOUT(model.errorMessage(), expected, asyncTimeoutMs);
        QVERIFY(!model.currentMetadata());
    }

    void loadFolderWithoutImages()
    {
        QTemporaryDir images;
        writeImages(images, { "a.png" });
        QTemporaryDir empty;
        writeFile(empty.filePath("notes.txt"), "x");
        ImageBrowserModel model;
        QVERIFY(openFolder(model, images.path()));
        QVERIFY(openFolder(model, empty.path()));
        QVERIFY(model.groups().isEmpty());
        QVERIFY(model.flatURLs().isEmpty());
        QVERIFY(model.currentImageURL().isEmpty());
        QVERIFY(!model.currentMetadata());
        QCOMPARE(model.errorMessage(), qtTrId("no_images_in_folder"));
        QVERIFY(model.isWatching());
    }

    void loadFiles()
    {
        QTemporaryDir dir;
        writeImages(dir, { "c.png", "a.png", "b.png" });
        ImageBrowserModel model;
        QVERIFY(openFolder(model, dir.path()));
        model.setSelectedURLs({ QUrl::fromLocalFile(dir.filePath("b.png")) });

        model.loadFiles(urlsIn(dir, { "c.png", "a.png", "b.png" }));
        QCOMPARE(model.groups().size(), 1);
        QCOMPARE(model.groups().first().name, QString());
        QCOMPARE(model.groups().first().url, QUrl::fromLocalFile("/"));
        QCOMPARE(namesOf(model.flatURLs()), (QStringList { "c.png", "a.png", "b.png" }));
        QVERIFY(model.rootFolderURL().isEmpty());
        QCOMPARE(model.currentImageURL(), QUrl::fromLocalFile(dir.filePath("c.png")));
        QVERIFY(model.selectedURLs().isEmpty());
        QTRY_COMPARE_WITH_TIMEOUT(seedOf(model.currentMetadata()), QStringLiteral("1"), asyncTimeoutMs);

        // A watch left from the folder has no effect now.
        model.rescanFolder();
        QCOMPARE(model.groups().size(), 1);
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

        // Written oldest first, so that both descending orders reverse the order of the names.
        QTemporaryDir dir;
        QStringList expected;
        for (int i = 1; i <= imageCount; ++i) {
            const QString name = QStringLiteral("%1.png").arg(i);
            writeImage(dir.filePath(name), i);
            expected.prepend(name);
            if (order == SortOrder::dateDescending)
                QTest::qSleep(fileClockGapMs);
        }
        writeImage(dir.filePath("sub/x.png"), 0);
        expected.append(QStringLiteral("x.png"));
        ImageBrowserModel model;
        QVERIFY(openFolder(model, dir.path()));
        model.selectImage(1);
        QTRY_COMPARE_WITH_TIMEOUT(seedOf(model.currentMetadata()), QStringLiteral("2"), asyncTimeoutMs);
        QSignalSpy metadataChanges(&model, &ImageBrowserModel::currentMetadataChanged);
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
        QCOMPARE(namesOf(model.flatURLs()), expected);
        QCOMPARE(model.currentIndex(), imageCount - 2);
        QCOMPARE(model.currentImageURL().fileName(), QStringLiteral("2.png"));
        QCOMPARE(model.groups().last().name, QStringLiteral("sub"));
        QCOMPARE(metadataChanges.count(), 0);
    }

    // Listing and sorting on workers: only the latest request's result is shown.

    void twoLoadsEndWithTheSecondFolder_data()
    {
        QTest::addColumn<int>("firstCount");
        QTest::addColumn<int>("secondCount");
        QTest::newRow("the first listing is the slower one") << 3000 << 2;
        QTest::newRow("the second listing is the slower one") << 2 << 3000;
    }

    void twoLoadsEndWithTheSecondFolder()
    {
        QFETCH(int, firstCount);
        QFETCH(int, secondCount);
        QTemporaryDir first;
        for (int i = 0; i < firstCount; ++i)
            writeFile(first.filePath(QStringLiteral("a/%1.png").arg(i)), {});
        QTemporaryDir second;
        for (int i = 0; i < secondCount; ++i)
            writeFile(second.filePath(QStringLiteral("b/%1.png").arg(i)), {});

        ImageBrowserModel model;
        QSignalSpy loaded(&model, &ImageBrowserModel::folderLoaded);
        QSignalSpy scanning(&model, &ImageBrowserModel::isScanningChanged);
        QSignalSpy groupChanges(&model, &ImageBrowserModel::groupsChanged);
        model.loadFolder(QUrl::fromLocalFile(first.path()));
        model.loadFolder(QUrl::fromLocalFile(second.path()));
        QVERIFY(model.isScanning());
        QVERIFY(loaded.wait(asyncTimeoutMs));
        QVERIFY(!loaded.wait(staleResultGraceMs));

        QCOMPARE(loaded.count(), 1);
        QCOMPARE(groupChanges.count(), 1); // the first folder's groups never showed
        QCOMPARE(model.groups().size(), 1);
        QCOMPARE(model.groups().first().name, QStringLiteral("b"));
        QCOMPARE(model.flatURLs().size(), secondCount);
        QCOMPARE(model.rootFolderURL(), QUrl::fromLocalFile(second.path()));
        QVERIFY(!model.isScanning());
        QCOMPARE(scanning.count(), 2);
        QTRY_VERIFY_WITH_TIMEOUT(!model.isPrefetching(), asyncTimeoutMs);
        // Only the second folder was prefetched.
        QCOMPARE(model.metadataCache().size(), secondCount);
    }

    void fileListMakesAListingStale()
    {
        QTemporaryDir dir;
        writeImages(dir, { "folder/1.png", "folder/2.png", "dropped.png" });
        ImageBrowserModel model;
        QSignalSpy loaded(&model, &ImageBrowserModel::folderLoaded);
        model.loadFolder(QUrl::fromLocalFile(dir.filePath("folder")));
        model.loadFiles(urlsIn(dir, { "dropped.png" }));
        QVERIFY(!model.isScanning());
        QVERIFY(!loaded.wait(staleResultGraceMs));
        QCOMPARE(namesOf(model.flatURLs()), QStringList { "dropped.png" });
        QVERIFY(model.rootFolderURL().isEmpty());
        QVERIFY(!model.isWatching());
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
        QTemporaryDir dir;
        writeImages(dir, { "1.png", "2.png", "3.png" });
        ImageBrowserModel model;
        QSignalSpy loaded(&model, &ImageBrowserModel::folderLoaded);
        QSignalSpy rescanned(&model, &ImageBrowserModel::folderRescanned);
        if (whileOpening) {
            model.loadFolder(QUrl::fromLocalFile(dir.path()));
        } else {
            QVERIFY(openFolder(model, dir.path()));
            model.stopWatching();
            writeImage(dir.filePath("4.png"), 4);
            model.rescanFolder();
        }
        model.setSortOrder(SortOrder::nameDescending);
        QSignalSpy& done = whileOpening ? loaded : rescanned;
        QVERIFY(done.wait(asyncTimeoutMs));
        QCOMPARE(done.count(), 1);
        QCOMPARE(namesOf(model.flatURLs()),
            whileOpening ? QStringList({ "3.png", "2.png", "1.png" })
                         : QStringList({ "4.png", "3.png", "2.png", "1.png" }));
    }

    void rescansAreCoalesced()
    {
        QTemporaryDir dir;
        writeImages(dir, { "1.png" });
        ImageBrowserModel model;
        QVERIFY(openFolder(model, dir.path()));
        model.stopWatching(); // only the rescans asked for here
        QSignalSpy rescanned(&model, &ImageBrowserModel::folderRescanned);

        model.rescanFolder();
        // A change the running rescan may have listed too early: the one queued after it lists it.
        writeImage(dir.filePath("2.png"), 2);
        for (int i = 0; i < 4; ++i)
            model.rescanFolder();
        QTRY_COMPARE_WITH_TIMEOUT(rescanned.count(), 2, asyncTimeoutMs);
        QVERIFY(!rescanned.wait(staleResultGraceMs));
        QCOMPARE(namesOf(model.flatURLs()), (QStringList { "1.png", "2.png" }));
    }

    void rescanWhileOpeningFollowsTheListing()
    {
        QTemporaryDir dir;
        writeImages(dir, { "1.png" });
        ImageBrowserModel model;
        QSignalSpy loaded(&model, &ImageBrowserModel::folderLoaded);
        QSignalSpy rescanned(&model, &ImageBrowserModel::folderRescanned);
        model.loadFolder(QUrl::fromLocalFile(dir.path()));
        model.rescanFolder();
        QVERIFY(loaded.wait(asyncTimeoutMs));
        QCOMPARE(rescanned.count(), 0);
        QVERIFY(rescanned.wait(asyncTimeoutMs));
        QCOMPARE(namesOf(model.flatURLs()), QStringList { "1.png" });
    }

    void rescanOfAFolderNoLongerShownIsDropped()
    {
        // The rescan of the large first folder comes back after the listing of the second.
        QTemporaryDir first;
        for (int i = 0; i < 3000; ++i)
            writeFile(first.filePath(QStringLiteral("%1.png").arg(i)), {});
        QTemporaryDir second;
        writeImages(second, { "2.png" });
        ImageBrowserModel model;
        QVERIFY(openFolder(model, first.path()));
        model.stopWatching();
        QSignalSpy rescanned(&model, &ImageBrowserModel::folderRescanned);
        writeFile(first.filePath("new.png"), {});
        model.rescanFolder();
        QVERIFY(openFolder(model, second.path()));
        QVERIFY(!rescanned.wait(staleResultGraceMs));
        QCOMPARE(rescanned.count(), 0);
        QCOMPARE(namesOf(model.flatURLs()), QStringList { "2.png" });
    }

    void newerSortOrderWins()
    {
        QTemporaryDir dir;
        QStringList names;
        for (int i = 1; i <= 5; ++i) {
            names.append(QStringLiteral("%1.png").arg(i));
            writeImage(dir.filePath(names.last()), i);
            QTest::qSleep(fileClockGapMs);
        }
        ImageBrowserModel model;
        QVERIFY(openFolder(model, dir.path()));
        QSignalSpy applied(&model, &ImageBrowserModel::sortOrderApplied);
        model.setSortOrder(SortOrder::dateDescending); // on a worker
        model.setSortOrder(SortOrder::nameAscending); // at once
        QCOMPARE(applied.count(), 1);
        QVERIFY(!applied.wait(staleResultGraceMs));
        QCOMPARE(namesOf(model.flatURLs()), names);
        QCOMPARE(model.sortOrder(), SortOrder::nameAscending);
    }

    void sortDoesNotBringBackForgottenImages()
    {
        QTemporaryDir dir;
        QStringList names;
        for (int i = 1; i <= 4; ++i) {
            names.prepend(QStringLiteral("%1.png").arg(i));
            writeImage(dir.filePath(names.first()), i);
            QTest::qSleep(fileClockGapMs);
        }
        ImageBrowserModel model;
        QVERIFY(openFolder(model, dir.path()));
        QSignalSpy applied(&model, &ImageBrowserModel::sortOrderApplied);
        model.setSortOrder(SortOrder::dateDescending);
        model.removeDeletedImage(QUrl::fromLocalFile(dir.filePath("3.png")));
        QVERIFY(applied.wait(asyncTimeoutMs));
        names.removeOne(QStringLiteral("3.png"));
        QCOMPARE(namesOf(model.flatURLs()), names);
    }

    void newImageOfACollapsedGroupIsReadOnceExpanded()
    {
        QTemporaryDir dir;
        writeImages(dir, { "1.png", "a/a1.png" });
        ImageBrowserModel model;
        QVERIFY(openFolder(model, dir.path()));
        QTRY_VERIFY_WITH_TIMEOUT(!model.isPrefetching(), asyncTimeoutMs);
        model.stopWatching();
        const QUuid a = model.groups().at(1).id;
        model.toggleGroup(a);

        writeImage(dir.filePath("a/a2.png"), 2);
        QVERIFY(rescan(model));
        QVERIFY(!model.isPrefetching()); // not browsed, not read
        const QUrl added = QUrl::fromLocalFile(dir.filePath("a/a2.png"));

        model.toggleGroup(model.groups().at(1).id);
        QVERIFY(rescan(model));
        QTRY_VERIFY_WITH_TIMEOUT(model.metadataCache().contains(added), asyncTimeoutMs);
        QCOMPARE(seedOf(model.metadataCache().value(added, CacheEntry({}, {})).metadata()), QStringLiteral("2"));
    }

    // Navigation, selection and deletion

    void navigation_data()
    {
        QTest::addColumn<int>("start");
        QTest::addColumn<QString>("action");
        QTest::addColumn<int>("expectedIndex");
        QTest::addColumn<bool>("selectionEmptied");

        QTest::newRow("next at the end") << 4 << "next" << 4 << false;
        QTest::newRow("previous at the start") << 0 << "previous" << 0 << false;
        QTest::newRow("next from the second") << 1 << "next" << 2 << true;
        QTest::newRow("previous from the third") << 2 << "previous" << 1 << true;
        QTest::newRow("select before the start") << 2 << "select -1" << 2 << false;
        QTest::newRow("select past the end") << 2 << "select 5" << 2 << false;
        QTest::newRow("select keeps the selection") << 2 << "select 4" << 4 << false;
    }

    void navigation()
    {
        QFETCH(int, start);
        QFETCH(QString, action);
        QFETCH(int, expectedIndex);
        QFETCH(bool, selectionEmptied);

        QTemporaryDir dir;
        writeImages(dir, { "1.png", "2.png", "3.png", "4.png", "5.png" });
        ImageBrowserModel model;
        QVERIFY(openFolder(model, dir.path()));
        model.selectImage(start);
        const QSet<QUrl> selection { model.flatURLs().at(0), model.flatURLs().at(3) };
        model.setSelectedURLs(selection);

        if (action == "next")
            model.nextImage();
        else if (action == "previous")
            model.previousImage();
        else
            model.selectImage(action.section(' ', 1).toInt());

        QCOMPARE(model.currentIndex(), expectedIndex);
        QCOMPARE(model.currentImageURL(), model.flatURLs().at(expectedIndex));
        QCOMPARE(model.selectedURLs(), selectionEmptied ? QSet<QUrl>() : selection);
        QCOMPARE(model.hasNext(), expectedIndex < 4);
    }

    void deletion_data()
    {
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<int>("current");
        QTest::addColumn<QStringList>("deleted");
        QTest::addColumn<bool>("asSelection");
        QTest::addColumn<QString>("expectedCurrent");
        QTest::addColumn<int>("expectedIndex");
        QTest::addColumn<int>("expectedGroups");

        const QStringList five { "1.png", "2.png", "3.png", "4.png", "5.png" };
        QTest::newRow("current third of five") << five << 2 << QStringList { "3.png" } << false << "4.png" << 2 << 1;
        QTest::newRow("current last") << five << 4 << QStringList { "5.png" } << false << "4.png" << 3 << 1;
        QTest::newRow("an image before the current one")
            << five << 3 << QStringList { "1.png" } << false << "5.png" << 3 << 1;
        QTest::newRow("selection before the current image")
            << QStringList { "1.png", "2.png", "3.png", "4.png", "5.png", "6.png" } << 3
            << QStringList { "1.png", "2.png" } << true << "6.png" << 3 << 1;
        QTest::newRow("the only image") << QStringList { "1.png" } << 0 << QStringList { "1.png" } << false << "" << 0
                                        << 0;
        QTest::newRow("the only image of a group") << QStringList { "1.png", "2.png", "sub/x.png" } << 2
                                                   << QStringList { "sub/x.png" } << false << "2.png" << 1 << 1;
        QTest::newRow("whole selection") << QStringList { "1.png", "2.png" } << 1 << QStringList { "1.png", "2.png" }
                                         << true << "" << 0 << 0;
    }

    void deletion()
    {
        QFETCH(QStringList, files);
        QFETCH(int, current);
        QFETCH(QStringList, deleted);
        QFETCH(bool, asSelection);
        QFETCH(QString, expectedCurrent);
        QFETCH(int, expectedIndex);
        QFETCH(int, expectedGroups);

        QTemporaryDir dir;
        writeImages(dir, files);
        ImageBrowserModel model;
        QSignalSpy focus(AppNotifications::shared(), &AppNotifications::restoreFirstResponder);
        QVERIFY(openFolder(model, dir.path()));
        QTRY_VERIFY_WITH_TIMEOUT(!model.isPrefetching(), asyncTimeoutMs);
        model.selectImage(current);
        QTRY_COMPARE_WITH_TIMEOUT(focus.count(), 1, asyncTimeoutMs); // the folder's own posting
        focus.clear();

        const QList<QUrl> deletedURLs = urlsIn(dir, deleted);
        if (asSelection) {
            model.setSelectedURLs(QSet<QUrl>(deletedURLs.cbegin(), deletedURLs.cend()));
            model.removeDeletedSelection();
            QVERIFY(model.selectedURLs().isEmpty());
        } else {
            model.removeDeletedImage(deletedURLs.first());
        }

        QCOMPARE(model.currentImageURL().fileName(), expectedCurrent);
        QCOMPARE(model.currentIndex(), expectedIndex);
        QCOMPARE(model.groups().size(), expectedGroups);
        if (expectedCurrent.isEmpty())
            QVERIFY(!model.currentMetadata());
        for (const QUrl& url : deletedURLs) {
            QVERIFY(!model.flatURLs().contains(url));
            QVERIFY(!model.metadataCache().contains(url));
            QVERIFY2(QFile::exists(url.toLocalFile()), "forgetting must not touch the disk");
        }
        QTRY_COMPARE_WITH_TIMEOUT(focus.count(), 1, asyncTimeoutMs);
    }

    void removeDeletedImageKeepsSelection()
    {
        QTemporaryDir dir;
        writeImages(dir, { "1.png", "2.png", "3.png" });
        ImageBrowserModel model;
        QSignalSpy focus(AppNotifications::shared(), &AppNotifications::restoreFirstResponder);
        QVERIFY(openFolder(model, dir.path()));
        const QSet<QUrl> selection { model.flatURLs().at(0), model.flatURLs().at(1) };
        model.setSelectedURLs(selection);
        model.removeDeletedImage(model.flatURLs().at(0));
        QCOMPARE(model.selectedURLs(), selection);
        QTRY_COMPARE_WITH_TIMEOUT(focus.count(), 2, asyncTimeoutMs); // the folder's and the deletion's

        focus.clear();
        model.setSelectedURLs({});
        model.removeDeletedSelection(); // nothing selected: nothing happens, nothing is posted
        QCOMPARE(model.flatURLs().size(), 2);
        QVERIFY(!focus.wait(ImageBrowserModel::deletionFocusDelay.count() * 3));
    }

    void collapseThenStep_data()
    {
        QTest::addColumn<int>("current");
        QTest::addColumn<int>("folded");
        QTest::addColumn<QString>("expectedCurrent");
        QTest::addColumn<int>("expectedIndex");
        QTest::addColumn<QString>("afterNext");

        // Groups: r1 r2 | a1 a2 a3 | b1 b2.
        QTest::newRow("the current image's group: the next group's first") << 3 << 1 << "b1.png" << 2 << "b2.png";
        QTest::newRow("a group before the current image") << 3 << 0 << "a2.png" << 1 << "a3.png";
        QTest::newRow("a group after the current image") << 3 << 2 << "a2.png" << 3 << "a3.png";
        QTest::newRow("the last group, holding the current image: the last visible")
            << 6 << 2 << "a3.png" << 4 << "a3.png";
    }

    void collapseThenStep()
    {
        QFETCH(int, current);
        QFETCH(int, folded);
        QFETCH(QString, expectedCurrent);
        QFETCH(int, expectedIndex);
        QFETCH(QString, afterNext);
        QTemporaryDir dir;
        writeImages(dir, { "r1.png", "r2.png", "a/a1.png", "a/a2.png", "a/a3.png", "b/b1.png", "b/b2.png" });
        ImageBrowserModel model;
        QVERIFY(openFolder(model, dir.path()));
        model.selectImage(current);

        model.toggleGroup(model.groups().at(folded).id);
        QVERIFY(!model.groups().at(folded).isExpanded);
        QCOMPARE(model.currentImageURL().fileName(), expectedCurrent);
        QCOMPARE(model.currentIndex(), expectedIndex);
        QCOMPARE(model.flatURLs().at(expectedIndex), model.currentImageURL());
        model.nextImage();
        QCOMPARE(model.currentImageURL().fileName(), afterNext);

        model.toggleGroup(QUuid::createUuid());
        QCOMPARE(model.flatURLs().size(), 7 - model.groups().at(folded).images.size());
        model.toggleGroup(model.groups().at(folded).id);
        QCOMPARE(model.flatURLs().size(), 7);
        QCOMPARE(model.flatURLs().at(model.currentIndex()).fileName(), afterNext);
    }

    // Metadata cache and prefetch

    void onlyTheStillCurrentLoadIsShown()
    {
        QTemporaryDir dir;
        writeImages(dir, { "1.png", "2.png", "3.png" });
        ImageBrowserModel model;
        // No turn of the event loop in between: neither the prefetch nor any load has answered,
        // so each step starts a load of its own.
        QSignalSpy metadataChanges(&model, &ImageBrowserModel::currentMetadataChanged);
        model.loadFiles(urlsIn(dir, { "1.png", "2.png", "3.png" }));
        model.nextImage();
        model.nextImage();
        QVERIFY(!model.currentMetadata());

        QTRY_VERIFY_WITH_TIMEOUT(!model.isPrefetching(), asyncTimeoutMs);
        QTRY_COMPARE_WITH_TIMEOUT(seedOf(model.currentMetadata()), QStringLiteral("3"), asyncTimeoutMs);
        // Nothing tells when the two stale loads end; give them ample time to (wrongly) show.
        QTest::qWait(200);
        QCOMPARE(seedOf(model.currentMetadata()), QStringLiteral("3"));
        QCOMPARE(metadataChanges.count(), 1);
        QCOMPARE(model.metadataCache().size(), 3);

        model.previousImage(); // cached now: shown at once
        QCOMPARE(seedOf(model.currentMetadata()), QStringLiteral("2"));
    }

    void noMetadataEntryShownAtOnce()
    {
        QTemporaryDir dir;
        writeFile(dir.filePath("plain.png"), "not an image");
        writeImages(dir, { "text.png" });
        ImageBrowserModel model;
        QVERIFY(openFolder(model, dir.path()));
        QTRY_VERIFY_WITH_TIMEOUT(!model.isPrefetching(), asyncTimeoutMs);
        QCOMPARE(model.metadataCache().value(model.flatURLs().at(0), CacheEntry({}, {})).kind(),
            CacheEntry::Kind::noMetadata);

        model.selectImage(1);
        QVERIFY(model.currentMetadata());
        model.selectImage(0);
        QCOMPARE(model.errorMessage(), qtTrId("no_exif_data"));
        QVERIFY(!model.currentMetadata());
        model.selectImage(1);
        QVERIFY(model.errorMessage().isEmpty());
    }

    void secondFolderWaitsForTheFirstRun()
    {
        // Enough images that the first run is still going when the second listing comes back,
        // even on a busy machine: the listing of three files takes microseconds.
        constexpr int firstCount = 5000;
        QTemporaryDir first;
        QStringList many;
        for (int i = 1; i <= firstCount; ++i)
            many.append(QStringLiteral("%1.png").arg(i));
        writeImages(first, many);
        QTemporaryDir second;
        writeImages(second, { "x.png", "y.png", "z.png" });

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
        QCOMPARE(model.prefetchDoneCount(), 3);
        // The first run's late results land in the cache too.
        QCOMPARE(model.metadataCache().size(), firstCount + 3);
        // One hand-off per image when images are read one by one.
        QList<qint64> expected;
        for (qint64 done = 0; done <= firstCount; ++done)
            expected.append(done);
        for (qint64 done = 0; done <= 3; ++done)
            expected.append(done);
        QCOMPARE(doneCounts, expected);
    }

    void batchRunHandsBackOnce()
    {
        if (!QFile::exists(QStringLiteral("/usr/bin/exiftool")))
            QSKIP("exiftool is not installed");
        setExiftoolDisabled(false);
        const auto restore = qScopeGuard([] { setExiftoolDisabled(true); });
        QTemporaryDir dir;
        writeImages(dir, { "1.png", "2.png", "3.png" });
        writeFile(dir.filePath("4.png"), "no image at all");

        ImageBrowserModel model;
        QList<qint64> doneCounts;
        connect(&model, &ImageBrowserModel::prefetchProgressChanged, this,
            [&] { doneCounts.append(model.prefetchDoneCount()); });
        model.prefetchMetadata(urlsIn(dir, { "1.png", "2.png", "3.png", "4.png" }));
        QTRY_VERIFY_WITH_TIMEOUT(!model.isPrefetching(), asyncTimeoutMs * 3);
        QCOMPARE(doneCounts, (QList<qint64> { 0, 4 }));
        QCOMPARE(model.metadataCache().size(), 4);
        QCOMPARE(
            seedOf(
                model.metadataCache().value(QUrl::fromLocalFile(dir.filePath("2.png")), CacheEntry({}, {})).metadata()),
            QStringLiteral("2"));
        QVERIFY(
            !model.metadataCache().value(QUrl::fromLocalFile(dir.filePath("4.png")), CacheEntry({}, {})).isLoaded());
    }

    // The image on screen is read on its own first (no render time); the batch brings it.
    void batchRenderTimeReachesTheImageOnScreen()
    {
        if (!QFile::exists(QStringLiteral("/usr/bin/exiftool")))
            QSKIP("exiftool is not installed");
        setExiftoolDisabled(false);
        const auto restore = qScopeGuard([] { setExiftoolDisabled(true); });
        QTemporaryDir dir;
        const QString jpeg = dir.filePath("rendered.jpg");
        limnoscope::test::writeImage(jpeg, "JPEG");
        limnoscope::test::runExiftool({ "-overwrite_original", "-EXIF:ImageDescription=a fox\nSteps: 12, Seed: 9",
            "-EXIF:UserComment={\"profile\":{\"duration\":6.5}}", jpeg });

        ImageBrowserModel model;
        QSignalSpy changes(&model, &ImageBrowserModel::currentMetadataChanged);
        model.loadFiles({ QUrl::fromLocalFile(jpeg) }); // selects it before the batch can land
        const auto renderTime
            = [&model] { return model.currentMetadata().value_or(LimnoraMetadata {}).renderDuration; };
        QTRY_COMPARE_WITH_TIMEOUT(renderTime(), std::optional<double>(6.5), asyncTimeoutMs);
        QTRY_VERIFY_WITH_TIMEOUT(!model.isPrefetching(), asyncTimeoutMs);
        changes.clear(); // the image's own load, landing later, must not take the render time away
        QVERIFY(!changes.wait(staleResultGraceMs));
        QCOMPARE(renderTime(), std::optional<double>(6.5));
        QCOMPARE(seedOf(model.currentMetadata()), QStringLiteral("9"));
    }

    void modelGoneDuringARun()
    {
        QTemporaryDir dir;
        QStringList names;
        for (int i = 0; i < 3000; ++i)
            names.append(QStringLiteral("%1.png").arg(i));
        writeImages(dir, names);
        const QList<QUrl> urls = urlsIn(dir, names);

        QElapsedTimer clock;
        clock.start();
        {
            ImageBrowserModel model;
            model.prefetchMetadata(urls);
            QTRY_VERIFY_WITH_TIMEOUT(!model.isPrefetching(), asyncTimeoutMs * 3);
        }
        const qint64 wholeRun = clock.restart();

        // The run stops at its next image instead of holding up the model's end, and what it
        // posted before is dropped with the model.
        {
            ImageBrowserModel model;
            model.prefetchMetadata(urls);
            QTest::qSleep(5);
        }
        const qint64 teardown = clock.elapsed();
        QCoreApplication::processEvents();
        QVERIFY2(teardown < wholeRun / 2, qPrintable(QStringLiteral("%1 ms vs %2 ms").arg(teardown).arg(wholeRun)));
    }

    // Watching

    void newImageAppearsAboutOneSecondLater()
    {
        QTemporaryDir dir;
        writeImages(dir, { "b.png", "d.png" });
        ImageBrowserModel model;
        QVERIFY(openFolder(model, dir.path()));
        model.selectImage(1);
        QTRY_VERIFY_WITH_TIMEOUT(!model.isPrefetching(), asyncTimeoutMs);

        QElapsedTimer clock;
        clock.start();
        writeImage(dir.filePath("c.png"), 7);
        QTRY_COMPARE_WITH_TIMEOUT(model.flatURLs().size(), 3, asyncTimeoutMs);
        QVERIFY2(clock.elapsed() >= 900, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(model.currentImageURL().fileName(), QStringLiteral("d.png"));
        QCOMPARE(model.currentIndex(), 2);
        const QUrl added = QUrl::fromLocalFile(dir.filePath("c.png"));
        QTRY_VERIFY_WITH_TIMEOUT(model.metadataCache().contains(added), asyncTimeoutMs);
        QCOMPARE(seedOf(model.metadataCache().value(added, CacheEntry({}, {})).metadata()), QStringLiteral("7"));
    }

    void newSubfoldersAreWatchedToo()
    {
        QTemporaryDir dir;
        writeImages(dir, { "top.png", "z/z.png" });
        ImageBrowserModel model;
        QVERIFY(openFolder(model, dir.path()));

        // A new folder with an image shows as a group among the subfolders, in name order.
        writeImage(dir.filePath("m/m.png"), 2);
        QTRY_COMPARE_WITH_TIMEOUT(model.groups().size(), 3, asyncTimeoutMs);
        QCOMPARE(model.groups().at(1).name, QStringLiteral("m"));
        QVERIFY(model.groups().at(1).isExpanded);

        // The new folder is watched from then on: a change inside it alone is seen.
        writeImage(dir.filePath("m/n.png"), 3);
        QTRY_COMPARE_WITH_TIMEOUT(model.groups().at(1).images.size(), 2, asyncTimeoutMs);
    }

    void rescanKeepsCollapsedGroupsAndCurrentImage()
    {
        QTemporaryDir dir;
        writeImages(dir, { "1.png", "2.png", "a/a1.png", "b/b1.png", "b/b2.png" });
        ImageBrowserModel model;
        QVERIFY(openFolder(model, dir.path()));
        model.toggleGroup(model.groups().at(1).id);
        model.selectImage(2); // b1.png, since a is collapsed
        QCOMPARE(model.currentImageURL().fileName(), QStringLiteral("b1.png"));

        writeImage(dir.filePath("0.png"), 9);
        QTRY_COMPARE_WITH_TIMEOUT(model.groups().first().images.size(), 3, asyncTimeoutMs);
        QVERIFY(!model.groups().at(1).isExpanded);
        QVERIFY(model.groups().at(2).isExpanded);
        QCOMPARE(namesOf(model.flatURLs()), (QStringList { "0.png", "1.png", "2.png", "b1.png", "b2.png" }));
        QCOMPARE(model.currentIndex(), 3);
        QCOMPARE(model.currentImageURL().fileName(), QStringLiteral("b1.png"));
    }

    void currentImageDeletedOutside_data()
    {
        QTest::addColumn<int>("current");
        QTest::addColumn<QString>("expected");
        QTest::newRow("middle: the next one slides in") << 1 << "3.png";
        QTest::newRow("last: the new last one") << 2 << "2.png";
    }

    void currentImageDeletedOutside()
    {
        QFETCH(int, current);
        QFETCH(QString, expected);
        QTemporaryDir dir;
        writeImages(dir, { "1.png", "2.png", "3.png" });
        ImageBrowserModel model;
        QVERIFY(openFolder(model, dir.path()));
        model.selectImage(current);

        QVERIFY(QFile::remove(model.currentImageURL().toLocalFile()));
        QTRY_COMPARE_WITH_TIMEOUT(model.flatURLs().size(), 2, asyncTimeoutMs);
        QCOMPARE(model.currentImageURL().fileName(), expected);
        QCOMPARE(model.currentIndex(), std::min(current, 1));
    }

    void lastImageDeletedOutside()
    {
        QTemporaryDir dir;
        writeImages(dir, { "1.png" });
        ImageBrowserModel model;
        QVERIFY(openFolder(model, dir.path()));
        QTRY_VERIFY_WITH_TIMEOUT(model.currentMetadata(), asyncTimeoutMs);
        QVERIFY(QFile::remove(dir.filePath("1.png")));
        QTRY_VERIFY_WITH_TIMEOUT(model.groups().isEmpty(), asyncTimeoutMs);
        QVERIFY(model.currentImageURL().isEmpty());
        QVERIFY(!model.currentMetadata());
        QVERIFY(model.errorMessage().isEmpty()); // the rescan never sets the empty-folder message
    }

    void burstOfChangesGivesOneRescan()
    {
        QTemporaryDir dir;
        writeImages(dir, { "a.png" });
        ImageBrowserModel model;
        QVERIFY(openFolder(model, dir.path()));
        QSignalSpy flatChanges(&model, &ImageBrowserModel::flatURLsChanged);
        for (int i = 0; i < 10; ++i)
            writeImage(dir.filePath(QStringLiteral("new%1.png").arg(i)), i);
        QTRY_COMPARE_WITH_TIMEOUT(model.flatURLs().size(), 11, asyncTimeoutMs);
        QTest::qWait(quietWatchMs);
        QCOMPARE(flatChanges.count(), 1);
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
        QTemporaryDir parent;
        const QString folder = parent.filePath("shown");
        writeImage(folder + "/1.png", 1);
        writeImage(folder + "/sub/2.png", 2);
        ImageBrowserModel model;
        QVERIFY(openFolder(model, folder));
        model.setSelectedURLs({ model.currentImageURL() });
        QTRY_VERIFY_WITH_TIMEOUT(model.currentMetadata(), asyncTimeoutMs);
        const QList<FolderGroup> groups = model.groups();

        const QString away = parent.filePath("away");
        QVERIFY(renamed ? QDir().rename(folder, away) : QDir(folder).removeRecursively());
        QTRY_COMPARE_WITH_TIMEOUT(model.errorMessage(),
            QStringLiteral(
                "The folder “%1” is no longer there: it was moved, renamed or deleted. Open it again once it is back.")
                .arg(folder),
            asyncTimeoutMs);
        QVERIFY(showsNothing(model));

        // Back again, it opens as before.
        if (renamed) {
            QVERIFY(QDir().rename(away, folder));
            QVERIFY(openFolder(model, folder));
            QCOMPARE(model.flatURLs(), flattenGroups(groups));
            QVERIFY(model.errorMessage().isEmpty());
            QVERIFY(model.isWatching());
        }
    }

    void rescanWithoutChangesLeavesTheModelStill()
    {
        QTemporaryDir dir;
        writeImages(dir, { "1.png", "sub/2.png" });
        ImageBrowserModel model;
        QVERIFY(openFolder(model, dir.path()));
        QTRY_VERIFY_WITH_TIMEOUT(!model.isPrefetching(), asyncTimeoutMs);
        QSignalSpy groupChanges(&model, &ImageBrowserModel::groupsChanged);
        QSignalSpy flatChanges(&model, &ImageBrowserModel::flatURLsChanged);
        QSignalSpy prefetching(&model, &ImageBrowserModel::isPrefetchingChanged);
        const QList<FolderGroup> groups = model.groups();

        // A colour tag written into an image is no change for the watch.
        QSignalSpy rescanned(&model, &ImageBrowserModel::folderRescanned);
        const QByteArray tagged = QFile::encodeName(dir.filePath("1.png"));
        QCOMPARE(::setxattr(tagged.constData(), "user.limnoscope.test", "1", 1, 0), 0);
        QVERIFY(!rescanned.wait(quietWatchMs));
        writeFile(dir.filePath("sub/deeper/3.png"), {}); // two levels down: not shown
        QVERIFY(rescan(model));
        QCOMPARE(model.groups(), groups); // ids included
        QCOMPARE(groupChanges.count(), 0);
        QCOMPARE(flatChanges.count(), 0);
        QCOMPARE(prefetching.count(), 0);
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
        QTemporaryDir dir;
        writeImages(dir, { "done.png" });
        writeFile(dir.filePath("half.png"), first);
        ImageBrowserModel model;
        QVERIFY(openFolder(model, dir.path()));
        QTRY_VERIFY_WITH_TIMEOUT(!model.isPrefetching(), asyncTimeoutMs);
        model.selectImage(1); // half.png, on screen while it is finished
        QVERIFY(seedOf(model.currentMetadata()) != QStringLiteral("5"));

        QList<qint64> runSizes;
        connect(&model, &ImageBrowserModel::prefetchProgressChanged, this, [&] {
            if (model.prefetchDoneCount() == 0)
                runSizes.append(model.prefetchTotalCount());
        });
        writeImage(dir.filePath("half.png"), 5);
        QTRY_COMPARE_WITH_TIMEOUT(seedOf(model.currentMetadata()), QStringLiteral("5"), asyncTimeoutMs);
        QVERIFY(model.errorMessage().isEmpty());
        QCOMPARE(runSizes, QList<qint64> { 1 }); // the unchanged image is not read again
    }

    // Preferences

    void preferencesAtCreation_data()
    {
        QTest::addColumn<QVariant>("storedSize");
        QTest::addColumn<QVariant>("storedOrder");
        QTest::addColumn<double>("size");
        QTest::addColumn<SortOrder>("order");

        QTest::newRow("nothing stored") << QVariant() << QVariant() << 68.0 << SortOrder::nameAscending;
        QTest::newRow("stored zero") << QVariant(0.0) << QVariant("date_desc") << 68.0 << SortOrder::dateDescending;
        QTest::newRow("stored 120") << QVariant(120.0) << QVariant("name_desc") << 120.0 << SortOrder::nameDescending;
        QTest::newRow("off the slider's grid, kept")
            << QVariant(45.5) << QVariant("date_asc") << 45.5 << SortOrder::dateAscending;
        QTest::newRow("unknown order, text size")
            << QVariant("big") << QVariant("newest") << 68.0 << SortOrder::nameAscending;
        QTest::newRow("not a finite number") << QVariant("nan") << QVariant("") << 68.0 << SortOrder::nameAscending;
    }

    void preferencesAtCreation()
    {
        QFETCH(QVariant, storedSize);
        QFETCH(QVariant, storedOrder);
        QFETCH(double, size);
        QFETCH(SortOrder, order);
        {
            QSettings settings;
            if (storedSize.isValid())
                settings.setValue("thumbnailSize", storedSize);
            if (storedOrder.isValid())
                settings.setValue("sortOrder", storedOrder);
        }
        const ImageBrowserModel model;
        QCOMPARE(model.thumbnailSize(), size);
        QCOMPARE(model.sortOrder(), order);
    }

    void preferencesAreStored()
    {
        ImageBrowserModel model;
        QSignalSpy sizeChanges(&model, &ImageBrowserModel::thumbnailSizeChanged);
        model.setThumbnailSize(72.0);
        QCOMPARE(sizeChanges.count(), 1);
        model.setSortOrder(SortOrder::dateAscending);
        const ImageBrowserModel reopened;
        QCOMPARE(reopened.thumbnailSize(), 72.0);
        QCOMPARE(reopened.sortOrder(), SortOrder::dateAscending);
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
        QTemporaryDir dir;
        writeImages(dir, { "folder/1.png", "dropped.png" });
        const QString path = stored.isEmpty() ? QString() : dir.filePath(stored);
        if (!path.isEmpty())
            QSettings().setValue("lastFolderPath", path);

        ImageBrowserModel model;
        QSignalSpy scanning(&model, &ImageBrowserModel::isScanningChanged);
        model.restoreLastFolder();
        QCOMPARE(model.isScanning(), !path.isEmpty()); // looked for on a worker
        if (filesDroppedMeanwhile)
            model.loadFiles(urlsIn(dir, { "dropped.png" }));
        QTRY_VERIFY_WITH_TIMEOUT(!model.isScanning(), asyncTimeoutMs);
        QCOMPARE(scanning.count(), path.isEmpty() ? 0 : 2); // looking on into listing, without a gap
        QCOMPARE(model.rootFolderURL(), opens ? QUrl::fromLocalFile(path) : QUrl());
        QCOMPARE(namesOf(model.flatURLs()),
            opens                       ? QStringList { "1.png" }
                : filesDroppedMeanwhile ? QStringList { "dropped.png" }
                                        : QStringList());
        QCOMPARE(QSettings().value("lastFolderPath").toString(), path);
    }
};

QTEST_GUILESS_MAIN(TestImageBrowserModel)
#include "tst_ImageBrowserModel.moc"
