#include "ImageQuery.h"
#include "TestSandbox.h"

#include <QTest>

using namespace limnoscope;

namespace {

// The record most rows search: "none" stands for an image without one; "key=value;..." changes
// it ("prompt", "neg", "lora", "generator" or a setting key).
std::optional<LimnoraMetadata> describedRecord(const QString& changes)
{
    if (changes == u"none")
        return std::nullopt;
    LimnoraMetadata record;
    record.prompt = QStringLiteral("A red car at the Lighthouse, golden hour");
    record.negativePrompt = QStringLiteral("blurry, lowres");
    record.loras.append(LoraEntry { {}, QStringLiteral("detail_tweaker_v2.safetensors") });
    record.generator = QStringLiteral("ComfyUI");
    const QStringList settings { QStringLiteral("Model=sdxl_base_1.0.safetensors"),
        QStringLiteral("Sampler=DPM++ 2M Karras"), QStringLiteral("Seed=12345"), QStringLiteral("Steps=30"),
        QStringLiteral("Guidance Scale=7.0"), QStringLiteral("Size=832x1216") };
    for (const QString& pair : settings + changes.split(u';', Qt::SkipEmptyParts)) {
        const QString key = pair.section(u'=', 0, 0), value = pair.section(u'=', 1);
        if (key == u"prompt")
            record.prompt = value;
        else if (key == u"neg")
            record.negativePrompt = value;
        else if (key == u"generator")
            record.generator = value;
        else
            record.settings.insert(key, value);
    }
    return record;
}

} // namespace

class TestImageQuery : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { test::installEnglishTexts(); }

    // `expected`: "yes" or "no" for a match, or a part of the error message.
    void matching_data()
    {
        QTest::addColumn<QString>("query");
        QTest::addColumn<QString>("record");
        QTest::addColumn<QString>("expected");
        const auto row = [](const char* query, const char* record, const char* expected) {
            QTest::addRow("%s | %s", query, record)
                << QString::fromUtf8(query) << QString::fromUtf8(record) << QString::fromUtf8(expected);
        };
        row("", "none", "yes");
        row("  lighthouse ", "", "yes");
        row("LIGHTHOUSE Golden", "", "yes");
        row("lighthouse sunset", "", "no");
        row("\"red car\"", "", "yes");
        row("\"car red\"", "", "no");
        row("-blurry", "", "no");
        row("-sunset -\"golden hour\"", "", "no");
        row("sdxl karras tweaker lowres render_0042", "", "yes");
        row("café STRASSE", "prompt=Café strasse", "yes");
        row("prompt:blurry", "", "no");
        row("NEG:blurry prompt:\"red car\"", "", "yes");
        row("model:SDXL lora:detail sampler:karras size:832x generator:comfy file:0042", "", "yes");
        row("model:flux", "", "no");
        row("-model:flux -lora:style", "", "yes");
        row("seed:12345 seed:>12000 seed:<=12345 steps:>=30 cfg:7 cfg:>6.5", "", "yes");
        row("seed:<12345", "", "no");
        row("steps:>30", "", "no");
        row("seed:9007199254740992", "Seed=9007199254740993", "no");
        row("steps:>1", "Steps=many", "no");
        row("size:1216x832", "", "no");
        row("tag:red -tag:BLUE", "", "yes");
        row("tag:blue", "", "no");
        row("render", "none", "yes");
        row("lighthouse", "none", "no");
        row("-model:sdxl tag:red file:render", "none", "yes");
        row("seed:1", "none", "no");
        row("foo:bar", "", "Unknown field “foo:”. Fields: prompt, neg, model");
        row("\"red car", "", "quotation mark is not closed");
        row("prompt:\"red", "", "quotation mark is not closed");
        row("prompt:>3", "", "“prompt:” holds text and takes no > or <; only seed, steps, cfg do");
        row("steps:>abc", "", "“steps:” takes a number");
        row("cfg:high", "", "“cfg:” takes a number");
        row("model: sdxl", "", "“model:” needs something");
        row("car - red", "", "“-” must be followed");
        row("tag:pink", "", "Unknown colour tag “pink”. Tags: red, orange");
    }

    void matching()
    {
        QFETCH(QString, query);
        QFETCH(QString, record);
        QFETCH(QString, expected);
        QueryError error;
        const auto parsed = ImageQuery::parse(query, &error);
        if (expected != u"yes" && expected != u"no") {
            QVERIFY(!parsed);
            QVERIFY2(error.message.contains(expected), qPrintable(error.message));
            return;
        }
        QVERIFY2(parsed, qPrintable(error.message));
        const auto metadata = describedRecord(record);
        const QList<FinderTag> tags { FinderTag::red };
        const QueryCandidate candidate { metadata ? &*metadata : nullptr, u"render_0042.png", &tags };
        QCOMPARE(parsed->matches(candidate), expected == u"yes");
    }

    // Typing on: which queries only ever match what an earlier one matched.
    void narrowing()
    {
        const auto narrows = [](const char* text, const char* earlier) {
            return ImageQuery::parse(QString::fromUtf8(text))->narrows(*ImageQuery::parse(QString::fromUtf8(earlier)));
        };
        QVERIFY(narrows("LIGHThouse", "light") && narrows("light house", "light") && narrows("x", ""));
        QVERIFY(narrows("-blu", "-blur") && narrows("steps:>31", "steps:>3") && narrows("-tag:red", "-tag:red"));
        QVERIFY(!narrows("-blur", "-blu") && !narrows("steps:>3", "steps:>31") && !narrows("steps:<4", "steps:>3"));
        QVERIFY(!narrows("", "x") && !narrows("light", "lighthouse") && !narrows("prompt:light", "light"));
    }

    // What the model has to read before a query can decide.
    void needs()
    {
        const auto needs = [](const char* text) {
            const auto query = ImageQuery::parse(QString::fromUtf8(text));
            return std::pair(query->needsRecords(), query->needsTags());
        };
        QCOMPARE(needs(""), std::pair(false, false));
        QCOMPARE(needs("tag:red file:x"), std::pair(false, true));
        QCOMPARE(needs("-x"), std::pair(true, false));
        QCOMPARE(needs("seed:1"), std::pair(true, false));
    }
};

QTEST_GUILESS_MAIN(TestImageQuery)
#include "tst_ImageQuery.moc"
