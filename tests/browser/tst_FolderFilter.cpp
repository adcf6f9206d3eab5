#include "FileTags.h"
#include "ImageBrowserModel.h"
#include "ModelFixtures.h"

#include <QSignalSpy>
#include <QTest>

using namespace limnoscope;
using namespace limnoscope::test;

// The model while the sidebar filters: what is listed, browsed, counted and deleted.
class TestFolderFilter : public ModelSuite
{
    Q_OBJECT

    // The listing, each group's "shown/listed" count, the pending and selected counts, any error.
    static QString state(const ImageBrowserModel& model)
    {
        QStringList groups;
        for (const FolderGroup& group : model.groups())
            groups.append(QStringLiteral("%1/%2").arg(group.images.size()).arg(model.listedCount(group.url)));
        return QStringLiteral("%1 [%2] %3 of %4 pending, %5 selected%6")
            .arg(listing(model), groups.join(u' '))
            .arg(model.pendingCount())
            .arg(model.listedCount())
            .arg(model.selectedURLs().size())
            .arg(model.filterError().isEmpty() ? "" : ", error");
    }

    // Sets the text and waits until its result is shown (a malformed or empty text shows at once).
    static bool filter(ImageBrowserModel& model, const QString& text)
    {
        QSignalSpy changes(&model, &ImageBrowserModel::filterChanged);
        model.setFilterText(text);
        return !model.filterError().isEmpty() || text.isEmpty()
            || QTest::qWaitFor([&] { return changes.count() >= 2; }, asyncTimeoutMs);
    }

private slots:
    // A folder of a b c d and sub/e sub/f, seeds 1 to 6. Steps: "?TEXT" filters ("_" for a space), "late?TEXT" filters
    // before the folder opens, "next", "prev", "del" trashes the current image, "all" selects
    // every image shown, "g" writes g.png (seed 7) and rescans, "desc" sorts by name descending,
    // "fold" folds sub, "red" tags c red.
    void filtering_data()
    {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QString>("expected");
        const auto row = [](const char* name, const char* steps, const char* expected) {
            QTest::newRow(name) << steps << expected;
        };
        row("unfiltered", "", "*a b c d e f [4/4 2/2] 0 of 6 pending, 0 selected");
        row("narrows groups and list", "?seed:>2", "*c d e f [2/4 2/2] 0 of 6 pending, 0 selected");
        row("a group without matches is left out", "?seed:<3", "*a b [2/4] 0 of 6 pending, 0 selected");
        row("the current image stays while it matches", "next next next ?seed:>2",
            "c *d e f [2/4 2/2] 0 of 6 pending, 0 selected");
        row("else the next match becomes current", "next ?seed:>4", "*e f [2/2] 0 of 6 pending, 0 selected");
        row("browsing goes over matches only", "?seed:>2 next next next next prev",
            "c d *e f [2/4 2/2] 0 of 6 pending, 0 selected");
        row("deleting a match steps to the next match", "?seed:>2 next del",
            "c *e f [1/3 2/2] 0 of 5 pending, 0 selected");
        row("the selection keeps matches only", "all ?seed:>4", "*+e +f [2/2] 0 of 6 pending, 2 selected");
        row("a malformed query filters nothing", "?seed:>2 ?seed:>",
            "a b *c d e f [4/4 2/2] 0 of 6 pending, 0 selected, error");
        row("clearing shows all, the current image kept", "?seed:>2 next ?",
            "a b c *d e f [4/4 2/2] 0 of 6 pending, 0 selected");
        row("a rescan keeps the filter", "?seed:>2 g", "*c d g e f [3/5 2/2] 0 of 7 pending, 0 selected");
        row("a sort keeps the filter", "?seed:>2 next desc", "*d c f e [2/4 2/2] 0 of 6 pending, 0 selected");
        row("a folded group", "?seed:>2 fold", "*c d [2/4 2/2] 0 of 6 pending, 0 selected");
        row("tags are read again after a change", "?tag:red red", "*c [1/4] 0 of 6 pending, 0 selected");
        row("typing on looks at the last matches", "?seed:>2 ?seed:>4", "*e f [2/2] 0 of 6 pending, 0 selected");
        row("a tag change is seen when typing on", "?tag:red red ?tag:red_seed:>2",
            "*c [1/4] 0 of 6 pending, 0 selected");
        row("images not yet read show once read", "late?seed:>2", "*c d e f [2/4 2/2] 0 of 6 pending, 0 selected");
    }

    void filtering()
    {
        QFETCH(QString, steps);
        QFETCH(QString, expected);
        TestSandbox dir;
        dir.writeImages(pngs("a b c d sub/e sub/f"));
        ImageBrowserModel model;
        if (steps.startsWith("late?")) {
            QVERIFY(filter(model, steps.mid(5)));
            QVERIFY(openFolder(model, dir.path())); // the prefetch starts with the listing
        } else {
            QVERIFY(openAndRead(model, dir.path()));
        }
        for (const QString& step : steps.split(u' ', Qt::SkipEmptyParts)) {
            if (step.startsWith(u'?'))
                QVERIFY(filter(model, step.mid(1).replace(u'_', u' ')));
            else if (step == "next")
                model.nextImage();
            else if (step == "prev")
                model.previousImage();
            else if (step == "del")
                model.forgetTrashedImages({ model.currentImageURL() });
            else if (step == "all")
                model.setSelectedURLs(QSet<QUrl>(model.flatURLs().cbegin(), model.flatURLs().cend()));
            else if (step == "g") {
                dir.writeImages({ "g.png" }, 7);
                QVERIFY(rescan(model));
            } else if (step == "desc")
                model.setSortOrder(SortOrder::nameDescending);
            else if (step == "fold")
                model.toggleGroup(model.groups().last().id);
            else if (step == "red") {
                QVERIFY(toggleTag(FinderTag::red, dir.url("c.png")));
                model.setTagVersion(model.tagVersion() + 1);
            }
        }
        QTRY_COMPARE_WITH_TIMEOUT(state(model), expected, asyncTimeoutMs);
        QCOMPARE(model.currentImageURL(), model.flatURLs().value(model.currentIndex()));
    }
};

QTEST_GUILESS_MAIN(TestFolderFilter)
#include "tst_FolderFilter.moc"
