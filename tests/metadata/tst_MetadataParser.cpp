#include "MetadataParser.h"
#include "NumberParsing.h"

#include <QTest>

#include <array>

using namespace limnoscope;

namespace {

// "key=value|key=value" in listing order of the map, for compact expectations.
QString settingsText(const SettingsMap &settings)
{
    QStringList pairs;
    for (const auto &[key, value] : settings.entries())
        pairs.append(key + u'=' + value);
    return pairs.join(u'|');
}

QString lorasText(const QList<LoraEntry> &loras)
{
    QStringList entries;
    for (const LoraEntry &lora : loras)
        entries.append(QStringLiteral("%1@%2/%3").arg(lora.file).arg(lora.weight).arg(lora.mode));
    return entries.join(u'|');
}

} // namespace

class TestMetadataParser : public QObject
{
    Q_OBJECT

private slots:
    void wholeText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("prompt");
        QTest::addColumn<QString>("negative");
        QTest::addColumn<QString>("raw"); // the settings line, also parsed into the settings

        const auto row = [](const char* name, const QString& text, const QString& prompt, const QString& negative = {},
                             const QString& raw = QStringLiteral("Steps: 1")) {
            QTest::newRow(name) << text << prompt << negative << raw;
        };
        row("no settings line", "  a cat\n on a mat \n", "a cat\n on a mat", "", "");
        row("steps is case-sensitive", "a cat steps: 20", "a cat steps: 20", "", "");
        row("entities and one hyphen", "a cat&#xA;-blurry&#xA;Steps: 20, Seed: 5", "a cat", "blurry",
            "Steps: 20, Seed: 5");
        row("two hyphens and a space", "a cat\n-- blurry\nSteps: 1", "a cat", "blurry");
        row("three hyphens keep the third", "a cat\n---blurry\nSteps: 1", "a cat", "-blurry");
        row("dots-hyphen fallback", "a cat..-blurry Steps: 1", "a cat", "blurry");
        row("first line-break hyphen wins", "a\n-b\n-c\nSteps: 1", "a", "b\n-c");
        row("negative only white space", "a cat\n-   \nSteps: 1", "a cat");
        row("hyphen inside a line is prompt", "a well-lit cat\nSteps: 1", "a well-lit cat");
        row("ampersand lt becomes <", "x &amp;lt; y &quot;q&quot;\nSteps: 1", "x < y \"q\"");
        row("settings line trimmed", "p\nSteps: 1, Seed: 2 \n\n", "p", "", "Steps: 1, Seed: 2");
        row("empty text", "", "", "", "");
    }

    void wholeText()
    {
        QFETCH(QString, text);
        QFETCH(QString, raw);
        const LimnoraMetadata record = parseMetadataText(text);
        QTEST(record.prompt, "prompt");
        QTEST(record.negativePrompt, "negative");
        QCOMPARE(record.rawSettingsString, raw);
        LimnoraMetadata fromLine;
        parseSettingsText(raw, fromLine);
        QCOMPARE(settingsText(record.settings), settingsText(fromLine.settings));
        QVERIFY(!record.renderDuration);
    }

    void settingsLine_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("settings");
        QTest::addColumn<QString>("loras");

        const auto plain = [](const char* name, const QString& line, const QString& settings) {
            QTest::newRow(name) << line << settings << QString();
        };
        plain("three settings", "Steps: 30, Size: 512x768, Sampler: Euler A", "Steps=30|Size=512x768|Sampler=Euler A");
        plain("comma before lower case stays", "Steps: 30, foo: 1", "Steps=30, foo: 1");
        plain("comma before digit stays", "Steps: 30,40, Seed: 1", "Steps=30,40|Seed=1");
        plain("several spaces before upper case", "Steps: 1,    Seed: 2", "Steps=1|Seed=2");
        plain("comma and spaces at the end", "Steps: 1,   ", "Steps=1,");
        plain("non-Latin upper case splits", "Steps: 1, Ωmega: 2", "Steps=1|Ωmega=2");
        plain("comma with combining mark", "Steps: 1,\u0301 Seed: 2", "Steps=1,\u0301 Seed: 2");
        plain("segment without colon-space ignored", "Steps: 1, Bare, Seed: 2", "Steps=1|Seed=2");
        plain("empty value ignored", "Steps: 1, Seed: , Model: m", "Steps=1|Model=m");
        plain("key and value trimmed of tabs", "Steps: 1, Model: \tm\t, Seed:\t2", "Steps=1|Model=m");
        plain("repeated key keeps its place and last value", "Steps: 1, Seed: 2, Model: m, Seed: 3",
            "Steps=1|Seed=3|Model=m");
        plain("Lora Strength is a setting", "Steps: 1, Lora Strength: 2", "Steps=1|Lora Strength=2");
        plain("keys that are not LoRA keys are settings",
            "Steps: 1, LoRA  1 Model: a, LoRA 99999999999999999999 Model: b, LoRA1 Model: c, LoRA 1 Model Name: d",
            "Steps=1|LoRA  1 Model=a|LoRA 99999999999999999999 Model=b|LoRA1 Model=c|LoRA 1 Model Name=d");
        QTest::newRow("two LoRAs") << "Steps: 1, LoRA 1 Model: a.ckpt, LoRA 1 Weight: 0.6, LoRA 2 Model: b.ckpt"
                                   << "Steps=1" << "a.ckpt@0.6/all|b.ckpt@1/all";
        QTest::newRow("weight without model") << "Steps: 1, LoRA 3 Weight: 0.5" << "Steps=1" << "";
        QTest::newRow("weight not a number") << "Steps: 1, LoRA 1 Model: a, LoRA 1 Weight: high" << "Steps=1"
                                             << "a@1/all";
        QTest::newRow("bad weight forgets earlier one")
            << "Steps: 1, LoRA 1 Weight: 0.5, LoRA 1 Model: a, LoRA 1 Weight: x" << "Steps=1" << "a@1/all";
        QTest::newRow("numeric LoRA order") << "Steps: 1, LoRA 10 Model: ten, LoRA 9 Model: nine" << "Steps=1"
                                            << "nine@1/all|ten@1/all";
        QTest::newRow("unnumbered LoRA any case") << "Steps: 1, LORA MODEL: u, LoRA weight: 0.25"
                                                  << "Steps=1"
                                                  << "u@0.25/all";
        QTest::newRow("negative LoRA number") << "Steps: 1, LoRA -1 Model: m, LoRA 0 Model: z" << "Steps=1"
                                              << "m@1/all|z@1/all";
        QTest::newRow("LoRA keys in any case, signed numbers, in numeric order")
            << "Steps: 1, Lora 12 model: a, LORA 12 WEIGHT: 0.5, LoRA +3 Weight: 2, LoRA 3 Model: b"
            << "Steps=1"
            << "b@2/all|a@0.5/all";
    }

    void settingsLine()
    {
        QFETCH(QString, line);
        LimnoraMetadata record;
        parseSettingsText(line, record);
        QTEST(settingsText(record.settings), "settings");
        QTEST(lorasText(record.loras), "loras");
    }

    void renderTimeMarker_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("prompt");
        QTest::addColumn<double>("duration"); // -1: none

        QTest::newRow("no marker") << "p\nSteps: 1" << "p" << -1.0;
        QTest::newRow("seconds") << "p\nSteps: 1\n__duration__:12.5" << "p" << 12.5;
        QTest::newRow("letters") << "p\nSteps: 1\n__duration__:abc" << "p" << -1.0;
        QTest::newRow("comma is not a point") << "p\nSteps: 1\n__duration__:3,5" << "p" << -1.0;
        QTest::newRow("spaces not allowed") << "p\nSteps: 1\n__duration__: 3" << "p" << -1.0;
        QTest::newRow("first marker splits") << "p\n__duration__:1\n__duration__:2" << "p" << -1.0;
    }

    void renderTimeMarker()
    {
        QFETCH(QString, text);
        QFETCH(double, duration);
        const LimnoraMetadata record = parseMarkedMetadataText(text);
        QTEST(record.prompt, "prompt");
        QCOMPARE(record.renderDuration.value_or(-1.0), duration);
    }

    void numbers_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("asInt64");
        QTest::addColumn<QString>("asUInt64");
        QTest::addColumn<QString>("asDouble");

        // text, then as int64, as uint64 and as double ("-": refused)
        const std::array<const char*, 4> rows[] = { { "30", "30", "30", "30" }, { "+30", "30", "30", "30" },
            { "-1", "-1", "-", "-1" }, { "-0", "0", "0", "0" }, { "30.0", "-", "-", "30" }, { " 30", "-", "-", "-" },
            { "7,5", "-", "-", "-" }, { "4294967295", "4294967295", "4294967295", "4294967295" },
            { "-9223372036854775808", "-9223372036854775808", "-", "-9.2233720368547758e+18" },
            { "18446744073709551615", "-", "18446744073709551615", "1.8446744073709552e+19" },
            { "18446744073709551616", "-", "-", "1.8446744073709552e+19" }, { "1e3", "-", "-", "1000" },
            { "0x1.8p1", "-", "-", "3" }, { "nan", "-", "-", "-" }, { "1e999", "-", "-", "-" }, { "٣", "-", "-", "-" },
            { "", "-", "-", "-" } };
        for (const auto& row : rows)
            QTest::addRow("'%s'", row[0])
                << QString::fromUtf8(row[0]) << QString(row[1]) << QString(row[2]) << QString(row[3]);
    }

    void numbers()
    {
        QFETCH(QString, text);
        const auto orDash = [](auto value) {
            if (!value)
                return QStringLiteral("-");
            if constexpr (std::is_floating_point_v<std::decay_t<decltype(*value)>>)
                return QString::number(*value, 'g', 17);
            else
                return QString::number(*value);
        };
        QTEST(orDash(parseInt64(text)), "asInt64");
        QTEST(orDash(parseUInt64(text)), "asUInt64");
        QTEST(orDash(parseDouble(text)), "asDouble");
    }
};

QTEST_GUILESS_MAIN(TestMetadataParser)
#include "tst_MetadataParser.moc"
