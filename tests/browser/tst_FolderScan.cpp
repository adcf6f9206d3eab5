#include "FolderScan.h"
#include "SortOrder.h"
#include "TestFiles.h"
#include "TestSandbox.h"

#include <QDir>
#include <QFile>
#include <QTest>

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

// Writes empty files one after the other with distinct times; "name->target" makes a link.
void writeInTimeOrder(const TestSandbox& root, const QStringList& names)
{
    for (const QString& name : names) {
        QByteArray path = QFile::encodeName(root.filePath(name));
        if (name.contains("->")) {
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
    void groups_data()
    {
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<SortOrder>("order");
        QTest::addColumn<QStringList>("groupNames");
        QTest::addColumn<QStringList>("flat");
        QTest::addColumn<int>("skipped");

        QTest::newRow("own images first, then subfolders by name")
            << QStringList { "top.png", "b/b1.png", "a/a2.png", "a/a1.png" } << SortOrder::nameAscending
            << QStringList { "<root>", "a", "b" } << QStringList { "top.png", "a/a1.png", "a/a2.png", "b/b1.png" } << 0;
        QTest::newRow("date order leaves subfolders in name order")
            << QStringList { "b/b1.png", "a/a1.png", "c/c1.png" } << SortOrder::dateDescending
            << QStringList { "a", "b", "c" } << QStringList { "a/a1.png", "b/b1.png", "c/c1.png" } << 0;
        QTest::newRow("name descending leaves subfolders ascending")
            << QStringList { "b/1.png", "a/1.png", "a/2.png" } << SortOrder::nameDescending << QStringList { "a", "b" }
            << QStringList { "a/2.png", "a/1.png", "b/1.png" } << 0;
        QTest::newRow("images only in subfolders") << QStringList { "a/x.png", "notes.txt" } << SortOrder::nameAscending
                                                   << QStringList { "a" } << QStringList { "a/x.png" } << 0;
        QTest::newRow("two levels down is not looked at")
            << QStringList { "top.png", "a/deep/x.png" } << SortOrder::nameAscending << QStringList { "<root>" }
            << QStringList { "top.png" } << 0;
        QTest::newRow("hidden files and folders skipped")
            << QStringList { ".hidden.png", ".cache/x.png", "shown.png" } << SortOrder::nameAscending
            << QStringList { "<root>" } << QStringList { "shown.png" } << 0;
        QTest::newRow("extensions in any case, only the seven")
            << QStringList { "p.PNG", "q.Tif", "r.gif", "s.jpe", "png", "t.jpeg", "u.webp", "v.HEIC", "w.tiff", "x.jpg",
                   "y.png.txt" }
            << SortOrder::nameAscending << QStringList { "<root>" }
            << QStringList { "p.PNG", "q.Tif", "t.jpeg", "u.webp", "v.HEIC", "w.tiff", "x.jpg" } << 0;
        QTest::newRow("subfolder without images gets no group")
            << QStringList { "empty/readme.txt", "a.png" } << SortOrder::nameAscending << QStringList { "<root>" }
            << QStringList { "a.png" } << 0;
        QTest::newRow("subfolders in natural order")
            << QStringList { "folder10/x.png", "folder2/x.png", "Folder3/x.png" } << SortOrder::nameAscending
            << QStringList { "folder2", "Folder3", "folder10" }
            << QStringList { "folder2/x.png", "Folder3/x.png", "folder10/x.png" } << 0;
        QTest::newRow("a folder named like an image is a folder")
            << QStringList { "album.png/x.png", "a.png" } << SortOrder::nameAscending
            << QStringList { "<root>", "album.png" } << QStringList { "a.png", "album.png/x.png" } << 0;
        QTest::newRow("no images anywhere") << QStringList { "readme.txt", "a/notes.md" } << SortOrder::nameAscending
                                            << QStringList {} << QStringList {} << 0;
        // <FF> stands for the byte 0xFF: such a name decodes to U+FFFD and so would alias another.
        QTest::newRow("names not valid UTF-8 are counted, never aliased")
            << QStringList { "photo-<FF>.png", "photo-\uFFFD.png", "sub<FF>/x.png", "b/c<FF>.jpg", "notes<FF>.txt" }
            << SortOrder::nameAscending << QStringList { "<root>" } << QStringList { "photo-\uFFFD.png" } << 3;
        // A link to a folder counts as a subfolder; a dangling link passes by its name alone.
        QTest::newRow("links and loops") << QStringList { "a/a.png", "top.png", "loop->loop", "a/back->.", "linked->a",
            "dangling.png->missing.png" } << SortOrder::nameAscending
                                         << QStringList { "<root>", "a", "linked" }
                                         << QStringList { "dangling.png", "top.png", "a/a.png", "linked/a.png" } << 0;
    }

    void groups()
    {
        QFETCH(QStringList, files);
        QFETCH(SortOrder, order);
        QFETCH(QStringList, groupNames);
        QFETCH(QStringList, flat);
        QFETCH(int, skipped);

        TestSandbox root;
        writeInTimeOrder(root, files);
        QStringList subfolders;
        qsizetype skippedNames = -1;
        const std::optional<QList<FolderGroup>> groups
            = scanFolder(root.url(), order, &subfolders, nullptr, &skippedNames);
        QVERIFY(groups);
        QCOMPARE(skippedNames, qsizetype(skipped));
        // Every scan makes new group ids; the groups show the same.
        const auto again = scanFolder(root.url(), order);
        QVERIFY(again && again->size() == groups->size());
        for (qsizetype group = 0; group < groups->size(); ++group)
            QVERIFY(groups->at(group).id != again->at(group).id && groups->at(group).showsSameAs(again->at(group)));

        QStringList names;
        for (const FolderGroup& group : *groups) {
            const bool isRoot = group.url == QUrl::fromLocalFile(root.path());
            names.append(isRoot ? QStringLiteral("<root>") : group.name);
            if (isRoot)
                QCOMPARE(group.name, QFileInfo(root.path()).fileName());
            else
                QCOMPARE(group.url, QUrl::fromLocalFile(root.filePath(group.name)));
            QVERIFY(group.isExpanded);
            QVERIFY(!group.id.isNull());
        }
        QCOMPARE(names, groupNames);
        QCOMPARE(relativePaths(root, flattenGroups(*groups)), flat);
        for (const QString& subfolder : std::as_const(subfolders))
            QVERIFY2(QFileInfo(subfolder).isDir(), qPrintable(subfolder));
    }

    void naturalNameOrder_data()
    {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<SortOrder>("order");
        QTest::addColumn<QStringList>("expected");

        QTest::newRow("digits by value, case ignored") << QStringList { "B.png", "10.png", "a.png",
            "2.png" } << SortOrder::nameAscending << QStringList { "2.png", "10.png", "a.png", "B.png" };
        QTest::newRow("descending") << QStringList { "B.png", "10.png", "a.png", "2.png" } << SortOrder::nameDescending
                                    << QStringList { "B.png", "a.png", "10.png", "2.png" };
        QTest::newRow("digit runs inside names")
            << QStringList { "img10.png", "img2.png", "img1.png", "img100.png" } << SortOrder::nameAscending
            << QStringList { "img1.png", "img2.png", "img10.png", "img100.png" };
        QTest::newRow("equal names keep their order (ascending)") << QStringList { "IMG.png", "b.png",
            "img.png" } << SortOrder::nameAscending << QStringList { "b.png", "IMG.png", "img.png" };
        QTest::newRow("equal names keep their order (descending)") << QStringList { "img.png", "a.png",
            "IMG.png" } << SortOrder::nameDescending << QStringList { "img.png", "IMG.png", "a.png" };
    }

    void naturalNameOrder()
    {
        QFETCH(QStringList, names);
        QFETCH(SortOrder, order);
        QFETCH(QStringList, expected);

        TestSandbox root;
        QCOMPARE(relativePaths(root, sortImages(root.urls(names), order)), expected);
    }

    void dateOrder_data()
    {
        QTest::addColumn<SortOrder>("order");
        QTest::addColumn<QStringList>("expected");
        // Written in the order first, second, third; "undated.png" is a link to nothing.
        QTest::newRow("oldest first") << SortOrder::dateAscending
                                      << QStringList { "undated.png", "first.png", "second.png", "third.png" };
        QTest::newRow("newest first") << SortOrder::dateDescending
                                      << QStringList { "third.png", "second.png", "first.png", "undated.png" };
    }

    void dateOrder()
    {
        QFETCH(SortOrder, order);
        QFETCH(QStringList, expected);

        TestSandbox root;
        writeInTimeOrder(root, { "first.png", "second.png", "third.png" });
        QVERIFY(QFile::link(root.filePath("nothing"), root.filePath("undated.png")));
        const QStringList listed { "second.png", "undated.png", "third.png", "first.png" };
        QCOMPARE(relativePaths(root, sortImages(root.urls(listed), order)), expected);
    }

    void birthTimeBeforeModificationTime()
    {
        TestSandbox root;
        writeInTimeOrder(root, { "born-first.png", "born-second.png" });
        struct statx info {
        };
        QCOMPARE(
            ::statx(AT_FDCWD, QFile::encodeName(root.filePath("born-first.png")).constData(), 0, STATX_BTIME, &info),
            0);
        if (!(info.stx_mask & STATX_BTIME))
            QSKIP("this file system keeps no birth times");
        // Modified after the second file was made: the birth time still puts it first.
        QFile file(root.filePath("born-first.png"));
        QVERIFY(file.open(QIODevice::Append));
        QVERIFY(file.setFileTime(QDateTime::currentDateTime().addDays(1), QFileDevice::FileModificationTime));
        file.close();
        QCOMPARE(relativePaths(
                     root, sortImages(root.urls({ "born-second.png", "born-first.png" }), SortOrder::dateAscending)),
            (QStringList { "born-first.png", "born-second.png" }));
    }
};

QTEST_GUILESS_MAIN(TestFolderScan)
#include "tst_FolderScan.moc"
