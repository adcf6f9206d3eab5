#include "ActionTable.h"
#include "CenterPanelView.h"
#include "CompareDiff.h"
#include "CompareView.h"
#include "ContentView.h"
#include "ElidedLabel.h"
#include "ImageBrowserModel.h"
#include "ImageContextMenu.h"
#include "KeySinkView.h"
#include "LimnoraAPI.h"
#include "MainWindow.h"
#include "TestAppContext.h"
#include "TestSandbox.h"

#include <QApplication>
#include <QLabel>
#include <QTest>

using namespace limnoscope;
using namespace limnoscope::test;

namespace {

void addLeftRightExpectedColumns()
{
    QTest::addColumn<QString>("left");
    QTest::addColumn<QString>("right");
    QTest::addColumn<QString>("expected");
}

void row(const char* name, const char* left, const char* right, const char* expected)
{
    QTest::newRow(name) << QString(left) << QString(right) << QString(expected);
}

// "-" is no record; else "Key=value;...", where generator, lora (file:weight) and seconds are not settings.
std::optional<LimnoraMetadata> record(const QString& description)
{
    if (description == u'-')
        return std::nullopt;
    LimnoraMetadata metadata;
    for (const QString& pair : description.split(u';', Qt::SkipEmptyParts)) {
        const QString key = pair.section(u'=', 0, 0), value = pair.section(u'=', 1);
        if (key == u"generator")
            metadata.generator = value;
        else if (key == u"lora")
            metadata.loras.append({ QUuid(), value.section(u':', 0, 0), value.section(u':', 1).toDouble() });
        else if (key == u"seconds")
            metadata.renderDuration = value.toDouble();
        else
            metadata.settings.insert(key, value);
    }
    return metadata;
}

} // namespace

class TestCompareView : public QObject
{
    Q_OBJECT

    TestSandbox m_home;

private slots:
    void initTestCase()
    {
        m_home.isolateHome();
        installEnglishTexts();
    }

    // Expected as "a -red +blue cat": removed words with a minus, added ones with a plus.
    void words_data()
    {
        addLeftRightExpectedColumns();
        row("equal", "a red cat", "a red cat", "a red cat");
        row("white space alone differs", " a  red\ncat ", "a red cat", "a red cat");
        row("added", "a cat", "a fluffy cat", "a +fluffy cat");
        row("removed", "a fluffy cat, sitting", "a cat, sitting", "a -fluffy cat, sitting");
        row("moved", "cat dog bird", "dog cat bird", "-cat dog +cat bird");
        row("changed, words repeated", "a a b", "a b b", "a -a +b b");
    }

    void words()
    {
        QFETCH(QString, left);
        QFETCH(QString, right);
        static const char* const marks[] = { "", "-", "+" }; // same, removed, added
        QStringList shown;
        for (const DiffWord& word : wordDiff(left, right))
            shown.append(QLatin1String(marks[int(word.kind)]) + word.word);
        QTEST(shown.join(u' '), "expected");
        // Either side of the rich text marks its own changes only and escapes every word.
        const QList<DiffWord> words = wordDiff(QStringLiteral("x <b>"), QStringLiteral("x &"));
        QCOMPARE(diffHTML(words, DiffSide::left, Qt::red), "x <s style=\"background-color:#ff0000\">&lt;b&gt;</s>");
        QCOMPARE(diffHTML(words, DiffSide::right, Qt::green), "x <u style=\"background-color:#00ff00\">&amp;</u>");
    }

    // Expected rows as "key:left|right", "?" for no value, "*" when the row differs, joined by "; ".
    void settings_data()
    {
        addLeftRightExpectedColumns();
        row("same", "Steps=30;Seed=1", "Seed=1;Steps=30", "Steps:30|30; Seed:1|1");
        row("catalogue first, then each side's own keys", "Foo=1;Seed=5;Model=m", "Bar=2;Model=m",
            "Model:m|m; Seed:5|?*; Foo:1|?*; Bar:?|2*");
        row("changed value", "Seed=1;Sampler=Euler", "Seed=2;Sampler=Euler", "Sampler:Euler|Euler; Seed:1|2*");
        row("no metadata on the right", "Seed=1;generator=Limnora", "-", "Seed:1|?*; generator:Limnora|?*");
        row("LoRAs and render time", "lora=a:0.8;lora=b:1;seconds=12", "lora=a:0.5;lora=b:1;seconds=12",
            "loras:a:0.8, b:1|a:0.5, b:1*; renderTime:12 s|12 s");
        row("neither has metadata", "-", "-", "");
    }

    void settings()
    {
        QFETCH(QString, left);
        QFETCH(QString, right);
        const char* kinds[] = { "", "generator", "loras", "renderTime" };
        QStringList rows;
        for (const ComparisonRow& row : settingsComparison(record(left), record(right)))
            rows.append(QStringLiteral("%1:%2|%3%4")
                            .arg(row.key.isEmpty() ? QString::fromLatin1(kinds[int(row.kind)]) : row.key,
                                row.left.value_or("?"), row.right.value_or("?"), row.differs ? "*" : ""));
        QTEST(rows.join(QStringLiteral("; ")), "expected");
    }

    // The real key opens Compare on the two selected images (never on one), the context menu
    // offers it, and Esc leaves it and gives the keyboard back.
    void keyOpensCompareAndEscLeaves()
    {
        TestSandbox folder;
        folder.writeImages({ "img1.png", "img2.png", "img3.png" });
        ImageBrowserModel model;
        LimnoraAPIService api(unusedLocalPort());
        TestAppContext app(&model, &api);
        MainWindow window(app.context);
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window) && openFolder(model, folder.path()));
        CenterPanelView* center = window.contentView()->centerPanel();
        KeySinkView* sink = window.contentView()->keySink();
        model.setSelectedURLs({ folder.url("img1.png") }); // the current image alone
        QTest::keyClick(sink, Qt::Key_D, Qt::ControlModifier);
        QVERIFY(!window.compareAction()->isEnabled() && !center->isComparing());
        model.setSelectedURLs({ folder.url("img2.png") }); // one selected beside the current one
        QVERIFY(window.compareAction()->isEnabled());

        model.setSelectedURLs({ folder.url("img3.png"), folder.url("img1.png") });
        AppContext windowContext = app.context; // as the window hands it to its rows
        windowContext.actions = window.actionTable();
        QVERIFY(window.compareAction()->isEnabled()
            && ImageContextMenu({}, windowContext, nullptr, &window).actions().contains(window.compareAction()));
        QSignalSpy pictures(center->compareView(), &CompareView::picturesShown);
        QTest::keyClick(sink, Qt::Key_D, Qt::ControlModifier);
        QVERIFY(center->isComparing());
        const auto names = center->compareView()->findChildren<ElidedLabel*>("CompareFileName");
        QVERIFY(names.size() == 2 && names[0]->text() == "img1.png" && names[1]->text() == "img3.png");
        QTRY_VERIFY_WITH_TIMEOUT(!pictures.isEmpty(), asyncTimeoutMs); // may already have come during the key press
        const auto markedValues = [center] {
            QStringList texts;
            for (const QLabel* cell : center->compareView()->findChildren<QLabel*>("CompareValue"))
                if (cell->font().bold() && cell->autoFillBackground())
                    texts.append(cell->text());
            return texts;
        };
        QTRY_COMPARE(markedValues(), QStringList({ "1", "3" })); // the seeds; every other value is alike

        center->compareView()->findChild<QLabel*>("CompareValue")->setFocus(); // as when text in it is selected
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
        QVERIFY(!center->isComparing());
        QTRY_COMPARE(QApplication::focusWidget(), sink);
    }
};

QTEST_MAIN(TestCompareView)
#include "tst_CompareView.moc"
