#include "FileStamp.h"
#include "FolderLister.h"
#include "FolderScan.h"
#include "SortOrder.h"
#include "TestFiles.h"
#include "TestSandbox.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>

#include <algorithm>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace limnoscope;
using namespace limnoscope::test;

namespace {

// Paths of `urls` relative to `root`, for readable comparisons.
QStringList relativePaths(const TestSandbox& root, const QList<QUrl>& urls)
{
    QStringList paths;
    for (const QUrl& url : urls)
        paths.append(QDir(root.path()).relativeFilePath(url.toLocalFile()));
    return paths;
}

// The kernel's file clock ticks in milliseconds; this gap gives files distinct times.
constexpr int fileClockGapMs = 20;

// Writes empty files with distinct times; "a->b" links a to b, "a+" sets a's modification time a day ahead.
void writeInTimeOrder(const TestSandbox& root, const QStringList& names)
{
    for (const QString& name : names) {
        QByteArray path = QFile::encodeName(root.filePath(name));
        QFile file(root.filePath(name.chopped(1)));
        if (name.endsWith(u'+')) {
            QVERIFY(file.open(QIODevice::Append)
                && file.setFileTime(QDateTime::currentDateTime().addDays(1), QFileDevice::FileModificationTime));
        } else if (name.contains("->")) {
            QVERIFY(QFile::link(root.filePath(name.section("->", 1)), root.filePath(name.section("->", 0, 0))));
        } else if (path.contains("<FF>")) { // at most one folder down
            path.replace("<FF>", "\xFF");
            ::mkdir(path.left(path.lastIndexOf('/')).constData(), 0700);
            QVERIFY(::close(::open(path.constData(), O_WRONLY | O_CREAT, 0600)) == 0);
        } else {
            writeFile(root.filePath(name), {});
        }
        QTest::qSleep(fileClockGapMs);
    }
}

} // namespace

class TestFolderScan : public QObject
{
    Q_OBJECT

private slots:
    // Names are separated by spaces; "<root>" is the opened folder's own group.
    void groups_data()
    {
        QTest::addColumn<QString>("files");
        QTest::addColumn<SortOrder>("order");
        QTest::addColumn<QString>("groupNames");
        QTest::addColumn<QString>("flat");
        QTest::addColumn<int>("skipped");
        const auto row = [](const char* name, const char* files, const char* groups, const char* flat,
                             SortOrder order = SortOrder::nameAscending,
                             int skipped = 0) { QTest::newRow(name) << files << order << groups << flat << skipped; };
        row("own images first, then subfolders by name", "top.png b/b1.png a/a2.png a/a1.png", "<root> a b",
            "top.png a/a1.png a/a2.png b/b1.png");
        row("date order leaves subfolders in name order", "b/b1.png a/a1.png c/c1.png", "a b c",
            "a/a1.png b/b1.png c/c1.png", SortOrder::dateDescending);
        row("date order of each folder's images", "b.png undated.png->nothing c.png a.png s/y.png s/x.png", "<root> s",
            "undated.png b.png c.png a.png s/y.png s/x.png", SortOrder::dateAscending);
        row("name descending leaves subfolders ascending", "b/1.png a/1.png a/2.png", "a b", "a/2.png a/1.png b/1.png",
            SortOrder::nameDescending);
        row("images only in subfolders", "a/x.png notes.txt", "a", "a/x.png");
        row("two levels down is not looked at", "top.png a/deep/x.png", "<root>", "top.png");
        row("hidden files and folders skipped", ".hidden.png .cache/x.png shown.png", "<root>", "shown.png");
        row("extensions in any case, only the seven",
            "p.PNG q.Tif r.gif s.jpe png t.jpeg u.webp v.HEIC w.tiff x.jpg y.png.txt", "<root>",
            "p.PNG q.Tif t.jpeg u.webp v.HEIC w.tiff x.jpg");
        row("subfolder without images gets no group", "empty/readme.txt a.png", "<root>", "a.png");
        row("subfolders in natural order", "folder10/x.png folder2/x.png Folder3/x.png", "folder2 Folder3 folder10",
            "folder2/x.png Folder3/x.png folder10/x.png");
        row("a folder named like an image is a folder", "album.png/x.png a.png", "<root> album.png",
            "a.png album.png/x.png");
        row("no images anywhere", "readme.txt a/notes.md", "", "");
        // <FF> stands for the byte 0xFF: such a name decodes to U+FFFD and so would alias another.
        row("names not valid UTF-8 are counted, never aliased",
            "photo-<FF>.png photo-\uFFFD.png sub<FF>/x.png b/c<FF>.jpg notes<FF>.txt", "<root>", "photo-\uFFFD.png",
            SortOrder::nameAscending, 3);
        // A link to a folder counts as a subfolder; a dangling link passes by its name alone.
        row("links and loops", "a/a.png top.png loop->loop a/back->. linked->a dangling.png->missing.png",
            "<root> a linked", "dangling.png top.png a/a.png linked/a.png");
    }

    void groups()
    {
        QFETCH(QString, files);
        QFETCH(SortOrder, order);
        QFETCH(QString, groupNames);
        QFETCH(QString, flat);
        QFETCH(int, skipped);
        TestSandbox root;
        writeInTimeOrder(root, files.split(u' ', Qt::SkipEmptyParts));
        QStringList subfolders;
        qsizetype skippedNames = -1;
        const std::optional<QList<FolderGroup>> groups
            = scanFolder(root.url(), order, &subfolders, nullptr, &skippedNames);
        QVERIFY(groups);
        QCOMPARE(skippedNames, qsizetype(skipped));
        const auto again = scanFolder(root.url(), order); // new group ids, showing the same
        QVERIFY(again && again->size() == groups->size());
        for (qsizetype group = 0; group < groups->size(); ++group)
            QVERIFY(groups->at(group).id != again->at(group).id && groups->at(group).showsSameAs(again->at(group)));

        QStringList names;
        for (const FolderGroup& group : *groups) {
            QVERIFY(group.isExpanded && !group.id.isNull() && group.name == group.url.fileName());
            names.append(group.url == root.url() ? "<root>" : relativePaths(root, { group.url }).first());
        }
        QCOMPARE(names.join(u' '), groupNames);
        QCOMPARE(relativePaths(root, flattenGroups(*groups)).join(u' '), flat);
        for (const QString& subfolder : std::as_const(subfolders))
            QVERIFY2(QFileInfo(subfolder).isDir(), qPrintable(subfolder));
    }

    // Files written first are older: "undated" is a link to nothing.
    void sortOrder_data()
    {
        QTest::addColumn<QString>("written");
        QTest::addColumn<QString>("names");
        QTest::addColumn<SortOrder>("order");
        QTest::addColumn<QString>("expected");
        const auto row = [](const char* name, const char* written, const char* names, SortOrder order,
                             const char* expected) { QTest::newRow(name) << written << names << order << expected; };
        const SortOrder up = SortOrder::nameAscending;
        const SortOrder down = SortOrder::nameDescending;
        row("digits by value, case ignored", "", "B.png 10.png a.png 2.png", up, "2.png 10.png a.png B.png");
        row("descending", "", "B.png 10.png a.png 2.png", down, "B.png a.png 10.png 2.png");
        row("digit runs inside names", "", "img10 img2 img1 img100", up, "img1 img2 img10 img100");
        row("equal names keep their order (ascending)", "", "IMG b img", up, "b IMG img");
        row("equal names keep their order (descending)", "", "img a IMG", down, "img IMG a");
        const char* dated = "first second third undated->nothing";
        const char* listed = "second undated third first";
        row("oldest first", dated, listed, SortOrder::dateAscending, "undated first second third");
        row("newest first", dated, listed, SortOrder::dateDescending, "third second first undated");
        row("birth time before modification time", "born-first born-second born-first+", "born-second born-first",
            SortOrder::dateAscending, "born-first born-second");
    }

    void sortOrder()
    {
        QFETCH(QString, written);
        QFETCH(QString, names);
        QFETCH(SortOrder, order);
        QFETCH(QString, expected);
        TestSandbox root;
        struct statx info = {};
        if (written.contains(u'+')
            && (::statx(AT_FDCWD, QFile::encodeName(root.path()).constData(), 0, STATX_BTIME, &info) != 0
                || !(info.stx_mask & STATX_BTIME)))
            QSKIP("this file system keeps no birth times");
        writeInTimeOrder(root, written.split(u' ', Qt::SkipEmptyParts));
        QCOMPARE(relativePaths(root, sortImages(root.urls(names.split(u' ')), order)).join(u' '), expected);
    }

    // Enough images for the work to be split between two threads: the order holds across the
    // whole folder, listed or sorted again.
    void manyImages_data()
    {
        QTest::addColumn<SortOrder>("order");
        for (const SortOrder order : SortOrders::all())
            QTest::newRow(qPrintable(SortOrders::rawValue(order))) << order;
    }

    void manyImages()
    {
        QFETCH(SortOrder, order);
        TestSandbox root;
        QStringList names;
        for (int i = 1; i <= 3000; ++i) {
            names.append(QStringLiteral("img%1.png").arg(i));
            writeFile(root.filePath(names.last()), {});
        }
        const bool ascending = order == SortOrder::nameAscending || order == SortOrder::dateAscending;
        if (!ascending)
            std::reverse(names.begin(), names.end());
        const auto groups = scanFolder(root.url(), order);
        QVERIFY(groups && groups->size() == 1);
        for (const QList<QUrl>& sorted : { groups->first().images, sortImages(root.urls(names), order) }) {
            QCOMPARE(sorted.size(), names.size());
            if (order == SortOrder::nameAscending || order == SortOrder::nameDescending) {
                QCOMPARE(fileNames(sorted), names);
                continue;
            }
            const auto created = [](const QUrl& url) {
                const QFileInfo info(url.toLocalFile());
                return (info.birthTime().isValid() ? info.birthTime() : info.lastModified()).toMSecsSinceEpoch();
            };
            for (qsizetype i = 1; i < sorted.size(); ++i)
                QVERIFY(ascending ? created(sorted.at(i - 1)) <= created(sorted.at(i))
                                  : created(sorted.at(i - 1)) >= created(sorted.at(i)));
        }
    }

    // An opening's stamps: a file changed since shortly before its listing began is left out (the
    // next rescan examines it); one that cannot be looked at is stamped as such.
    void openingStamps_data()
    {
        QTest::addColumn<int>("listingStartFromNowS");
        QTest::addColumn<QString>("stamped");
        QTest::newRow("changed long before the listing") << 3600 << "a.png b.png dangling.png";
        QTest::newRow("changed just before the listing") << 0 << "dangling.png";
    }

    void openingStamps()
    {
        QFETCH(int, listingStartFromNowS);
        QFETCH(QString, stamped);
        TestSandbox root;
        writeFile(root.filePath("a.png"), "a");
        writeFile(root.filePath("b.png"), "bb");
        QVERIFY(QFile::link(root.filePath("missing"), root.filePath("dangling.png")));
        const auto groups = scanFolder(root.url(), SortOrder::nameAscending);
        QVERIFY(groups && groups->size() == 1);
        const qint64 listingStart = QDateTime::currentDateTimeUtc().addSecs(listingStartFromNowS).toMSecsSinceEpoch();
        const QHash<QUrl, ImageStamps> stamps = FolderLister::openingStamps(*groups, listingStart * 1'000'000);
        QCOMPARE(stamps.keys(), QList<QUrl> { root.url() });
        QStringList names;
        for (const QUrl& image : groups->first().images) {
            if (!stamps.value(root.url()).contains(image))
                continue;
            QCOMPARE(stamps.value(root.url()).value(image), FileStamp::of(image.toLocalFile()));
            names.append(image.fileName());
        }
        QCOMPARE(names.join(u' '), stamped);
    }
};

QTEST_GUILESS_MAIN(TestFolderScan)
#include "tst_FolderScan.moc"
