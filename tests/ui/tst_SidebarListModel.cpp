// The sidebar's rows over real folders, the name lines, the tag dots on real attributes, localised formats.

#include "ExiftoolRunner.h"
#include "FileTags.h"
#include "ImageBrowserModel.h"
#include "LocalizedText.h"
#include "NameLayout.h"
#include "SidebarListModel.h"
#include "TagDotsCache.h"
#include "TestFiles.h"
#include "TestSandbox.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QFile>
#include <QFontMetricsF>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>

using namespace limnoscope;
using namespace limnoscope::test;
using RowKind = SidebarListModel::RowKind;

namespace {

// The rows as text: "#folder" for a header, the file name for an image.
QStringList rowTexts(const SidebarListModel& rows)
{
    QStringList texts;
    for (int row = 0; row < rows.rowCount(); ++row) {
        const QUrl url = rows.index(row).data(SidebarListModel::URLRole).toUrl();
        texts.append(rows.rowKind(row) == RowKind::groupHeader ? QStringLiteral("#") + url.fileName() : url.fileName());
    }
    return texts;
}

} // namespace

class TestSidebarListModel : public QObject
{
    Q_OBJECT

private:
    TestSandbox m_config;

private slots:
    void initTestCase()
    {
        usePreferencesIn(m_config.path());
        setExiftoolDisabled(true);
    }

    void init() { QSettings().clear(); }

    void droppedFilesHaveNoHeaders()
    {
        TestSandbox dir;
        dir.writeImages({ "x.png", "y.jpg" });
        ImageBrowserModel browser;
        SidebarListModel rows(&browser);
        QAbstractItemModelTester tester(&rows, QAbstractItemModelTester::FailureReportingMode::QtTest);
        browser.loadFiles(dir.urls({ "x.png", "y.jpg" }));
        QCOMPARE(rowTexts(rows), (QStringList { "x.png", "y.jpg" }));
        QVERIFY(!rows.showsGroupHeaders());
    }

    // A folder's rows, then rescans: rows that stay are left alone; only what came or went is inserted or removed.
    void rescanChangesOnlyWhatChanged_data()
    {
        QTest::addColumn<QString>("added"); // "tag:" writes a colour tag instead
        QTest::addColumn<QString>("removed");
        QTest::addColumn<int>("insertions");
        QTest::addColumn<int>("removals");
        const auto row = [](const char* name, const char* added, const char* removed, int insertions, int removals) {
            QTest::newRow(name) << added << removed << insertions << removals;
        };
        row("nothing changed", "", "", 0, 0);
        row("a colour tag written", "tag:b/b9.png", "", 0, 0);
        row("one image added", "a/a25.png", "", 1, 0);
        row("one image removed", "", "b/b10.png", 0, 1);
        row("images in two folders added", "a/a05.png b/b5.png", "", 2, 0);
        row("added and removed apart", "b/b0.png", "a/a1.png a/a2.png", 1, 1);
        row("a new subfolder", "c/c1.png c/c2.png", "", 1, 0);
        row("a whole subfolder gone", "", "b/b9.png b/b10.png", 0, 1);
    }

    void rescanChangesOnlyWhatChanged()
    {
        QFETCH(QString, added);
        QFETCH(QString, removed);
        QFETCH(int, insertions);
        QFETCH(int, removals);
        TestSandbox dir;
        dir.writeImages({ "top.png", "a/a1.png", "a/a2.png", "a/a3.png", "b/b10.png", "b/b9.png" });
        ImageBrowserModel browser;
        SidebarListModel rows(&browser);
        QAbstractItemModelTester tester(&rows, QAbstractItemModelTester::FailureReportingMode::QtTest);
        QVERIFY(openFolder(browser, dir.path()));
        browser.stopWatching(); // this test decides when to rescan
        QVERIFY(rows.showsGroupHeaders()); // each folder has its header; images in natural order
        QCOMPARE(rowTexts(rows).mid(1).join(u' '), "top.png #a a1.png a2.png a3.png #b b9.png b10.png");
        QCOMPARE(rows.index(1).data().toString(), QStringLiteral("top")); // the name without its extension
        const QPersistentModelIndex keptImage = rows.index(1);
        rows.setMeasuredHeight(keptImage.row(), 77);

        for (const QString& file : added.split(u' ', Qt::SkipEmptyParts))
            QVERIFY(file.startsWith("tag:") ? toggleTag(FinderTag::red, dir.url(file.mid(4)))
                                            : (dir.writeImages({ file }), true));
        for (const QString& file : removed.split(u' ', Qt::SkipEmptyParts))
            QVERIFY(QFile::remove(dir.filePath(file)));
        QSignalSpy inserted(&rows, &QAbstractItemModel::rowsInserted);
        QSignalSpy removedRows(&rows, &QAbstractItemModel::rowsRemoved);
        QSignalSpy reset(&rows, &QAbstractItemModel::modelReset);
        QSignalSpy layout(&rows, &QAbstractItemModel::layoutChanged);
        QVERIFY(rescan(browser));
        QCOMPARE(inserted.count(), insertions);
        QCOMPARE(removedRows.count(), removals);
        QCOMPARE(reset.count(), 0);
        QCOMPARE(layout.count(), 0);
        // The rows now match a list built afresh, and the untouched row kept what it had.
        SidebarListModel fresh(&browser);
        QCOMPARE(rowTexts(rows), rowTexts(fresh));
        QVERIFY(keptImage.isValid());
        QCOMPARE(rows.measuredHeight(keptImage.row()), 77);
        // Headers answer with the groups' current ids, so folding still works.
        const int header = rowTexts(rows).indexOf(QStringLiteral("#a"));
        QVERIFY(header < 0 || browser.groups().at(1).id == rows.index(header).data(SidebarListModel::GroupIDRole));
    }

    // Names the same but for their extensions show them, within a group only; a rescan updates rows that stay.
    void sharedBaseNamesShowExtensions()
    {
        TestSandbox dir;
        dir.writeImages({ "a.png", "a.jpg", "b.png", "c.d.png", "c.d.webp", "sub/a.png.png", "sub/b.jpg" });
        ImageBrowserModel browser;
        SidebarListModel rows(&browser);
        QAbstractItemModelTester tester(&rows, QAbstractItemModelTester::FailureReportingMode::QtTest);
        QVERIFY(openFolder(browser, dir.path()));
        browser.stopWatching();
        const auto titles = [&rows](int first) {
            QStringList shown;
            for (int row = first; row < rows.rowCount(); ++row)
                shown.append(rows.index(row).data().toString());
            return shown.join(u' ');
        };
        QCOMPARE(titles(1), "a.jpg a.png b c.d.png c.d.webp sub a.png b"); // after the folder's header
        dir.writeImages({ "b.webp" });
        QVERIFY(QFile::remove(dir.filePath("a.jpg")) && QFile::remove(dir.filePath("c.d.webp")));
        QVERIFY(rescan(browser));
        QCOMPARE(titles(1), "a b.png b.webp c.d sub a.png b");
        browser.loadFiles({ dir.url("a.png"), dir.url("b.png"), dir.url("sub/b.jpg") }); // no header
        QCOMPARE(titles(0), "a b.png b.jpg");
    }

    // Every line fits the width and nothing is lost; width 0 is the expected first line's (a space breaks first).
    void nameLinesFitTheWidth_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("minimumLines");
        QTest::addColumn<QString>("firstLine");
        QTest::newRow("short") << "cat" << 120 << 1 << "cat";
        QTest::newRow("words") << "a cat in space with a hat and a very long tail" << 80 << 3 << "";
        QTest::newRow("one long word") << QString(60, QLatin1Char('W')) << 70 << 4 << "";
        QTest::newRow("hyphens") << "2024-05-12-10-33-12-seed-123456789" << 60 << 3 << "";
        QTest::newRow("underscores only") << "limnora_00042_a_cat_sitting_on_a_red_chair" << 90 << 2 << "";
        QTest::newRow("narrower than a letter") << "abc" << 1 << 3 << "a";
        QTest::newRow("joined script") << QStringLiteral("صورة قطة في الفضاء مع قبعة") << 60 << 2 << "";
        QTest::newRow("combining marks") << QStringLiteral("cafe\u0301 nai\u0308ve re\u0301sume\u0301") << 40 << 2
                                         << "";
        QTest::newRow("empty") << "" << 100 << 1 << "";
        QTest::newRow("spaces first") << "alpha beta gamma" << 0 << 2 << "alpha beta ";
    }

    void nameLinesFitTheWidth()
    {
        QFETCH(QString, name);
        QFETCH(int, width);
        QFETCH(int, minimumLines);
        QFETCH(QString, firstLine);
        const QFontMetricsF metrics(QApplication::font());
        if (width == 0)
            width = int(metrics.horizontalAdvance(firstLine) * 1.1) + 4;
        const NameLayout::Lines lines = NameLayout(QApplication::font()).lines(name, width);
        QVERIFY(lines.size() >= minimumLines);
        QString joined;
        for (const NameLayout::Line& line : lines) {
            const QString text = name.mid(line.start, line.length);
            QCOMPARE(line.start, joined.size());
            joined += text;
            // A single character wider than the width stands alone on its line.
            if (text.trimmed().size() > 1)
                QVERIFY2(metrics.horizontalAdvance(text.trimmed()) <= width + 0.5, qPrintable(text));
        }
        QCOMPARE(joined, name);
        QVERIFY(firstLine.isEmpty() || name.mid(lines[0].start, lines[0].length) == firstLine);
    }

    // The cache reads real attributes off the GUI thread and shows what it had until a new reading lands.
    void tagDotsCacheReadsAndRefreshes()
    {
        TestSandbox dir;
        dir.writeImages({ "tagged.png", "plain.png" });
        const QUrl tagged = dir.url("tagged.png");
        const QUrl plain = dir.url("plain.png");
        QVERIFY(toggleTag(FinderTag::red, tagged));
        QVERIFY(toggleTag(FinderTag::blue, tagged));

        TagDotsCache cache;
        cache.setVisibleURLs({ tagged, plain });
        QSignalSpy read(&cache, &TagDotsCache::tagsRead);
        QCOMPARE(cache.tags(tagged), std::nullopt);
        QCOMPARE(cache.tags(plain), std::nullopt);
        QTRY_COMPARE_WITH_TIMEOUT(
            cache.tags(tagged), (QList<FinderTag> { FinderTag::red, FinderTag::blue }), asyncTimeoutMs);
        QTRY_COMPARE_WITH_TIMEOUT(cache.tags(plain), QList<FinderTag> {}, asyncTimeoutMs);

        QVERIFY(toggleTag(FinderTag::green, plain));
        read.clear();
        cache.invalidate();
        QCOMPARE(cache.tags(plain), QList<FinderTag> {}); // the old reading until the new lands
        QTRY_COMPARE_WITH_TIMEOUT(cache.tags(plain), QList<FinderTag> { FinderTag::green }, asyncTimeoutMs);
        // Only the file whose tags differ is announced.
        QCOMPARE(read.count(), 1);
        QCOMPARE(read.first().first().toUrl(), plain);
    }

    void localizedFormatFillsPlaces_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("expected");
        QTest::newRow("counter") << "%lld / %lld" << QStringList { "3", "10" } << "3 / 10";
        QTest::newRow("text argument") << "“%@” to the Trash?" << QStringList { "a b.png" }
                                       << "“a b.png” to the Trash?";
        QTest::newRow("qt places reordered") << "%2 of %1" << QStringList { "10", "3" } << "3 of 10";
        QTest::newRow("argument holding a place") << "%@ and %@" << QStringList { "100%d", "x" } << "100%d and x";
        QTest::newRow("more places than arguments") << "%lld / %lld" << QStringList { "1" } << "1 / %lld";
    }

    void localizedFormatFillsPlaces()
    {
        QFETCH(QString, key); // without a translation the key is its own text
        QFETCH(QStringList, arguments);
        QFETCH(QString, expected);
        QCOMPARE(localizedFormat(key.toUtf8().constData(), arguments), expected);
    }
};

QTEST_MAIN(TestSidebarListModel)
#include "tst_SidebarListModel.moc"
