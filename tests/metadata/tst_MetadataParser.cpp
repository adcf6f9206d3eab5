#include "LimnoraMetadata.h"
#include "MetadataParser.h"
#include "NumberParsing.h"
#include "SettingsJSON.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

#include <array>

using namespace limnoscope;

namespace {

// "key=value|key=value" in listing order of the map, for compact expectations.
QString settingsText(const SettingsMap& settings)
{
    QStringList pairs;
    for (const auto& [key, value] : settings.entries())
        pairs.append(key + u'=' + value);
    return pairs.join(u'|');
}

QString lorasText(const QList<LoraEntry>& loras)
{
    QStringList entries;
    for (const LoraEntry& lora : loras)
        entries.append(QStringLiteral("%1@%2/%3").arg(lora.file).arg(lora.weight).arg(lora.mode));
    return entries.join(u'|');
}

QJsonObject exported(const QString& settingsLine)
{
    LimnoraMetadata record;
    parseSettingsText(settingsLine, record);
    const QString json = settingsJSONString(record);
    QJsonParseError error {};
    const QJsonDocument document = QJsonDocument::fromJson(json.toUtf8(), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        qWarning() << "not a JSON object:" << json;
    return document.object();
}

QJsonObject defaults()
{
    return QJsonObject { { "steps", 20 }, { "sampler", 0 }, { "guidanceScale", 7.0 }, { "seed", 0 }, { "width", 512 },
        { "height", 512 }, { "model", "" }, { "strength", 1.0 }, { "shift", 1.0 }, { "seedMode", 2 },
        { "batchSize", 1 }, { "batchCount", 1 }, { "sharpness", 0.0 }, { "maskBlur", 1.5 }, { "maskBlurOutset", 0 },
        { "cfgZeroInitSteps", 0 }, { "cfgZeroStar", false }, { "preserveOriginalAfterInpaint", true },
        { "resolutionDependentShift", false }, { "causalInferencePad", 0 }, { "tiledDecoding", false },
        { "tiledDiffusion", false }, { "hiresFix", false }, { "upscaler", "" }, { "faceRestoration", "" },
        { "refinerModel", "" }, { "loras", QJsonArray() }, { "controls", QJsonArray() },
        { "stochasticSamplingGamma", 0.0 } };
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
        const auto loras = [](const char* name, const QString& line, const QString& loras) {
            QTest::newRow(name) << "Steps: 1, " + line << "Steps=1" << loras;
        };
        loras("two LoRAs", "LoRA 1 Model: a.ckpt, LoRA 1 Weight: 0.6, LoRA 2 Model: b.ckpt",
            "a.ckpt@0.6/all|b.ckpt@1/all");
        loras("weight without model", "LoRA 3 Weight: 0.5", "");
        loras("weight not a number", "LoRA 1 Model: a, LoRA 1 Weight: high", "a@1/all");
        loras("bad weight forgets earlier one", "LoRA 1 Weight: 0.5, LoRA 1 Model: a, LoRA 1 Weight: x", "a@1/all");
        loras("numeric LoRA order", "LoRA 10 Model: ten, LoRA 9 Model: nine", "nine@1/all|ten@1/all");
        loras("unnumbered LoRA any case", "LORA MODEL: u, LoRA weight: 0.25", "u@0.25/all");
        loras("negative LoRA number", "LoRA -1 Model: m, LoRA 0 Model: z", "m@1/all|z@1/all");
        loras("LoRA keys in any case, signed numbers, in numeric order",
            "Lora 12 model: a, LORA 12 WEIGHT: 0.5, LoRA +3 Weight: 2, LoRA 3 Model: b", "b@2/all|a@0.5/all");
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
        QTest::addColumn<double>("duration"); // -1: none; the prompt is "p" throughout
        QTest::newRow("no marker") << "p\nSteps: 1" << -1.0;
        QTest::newRow("seconds") << "p\nSteps: 1\n__duration__:12.5" << 12.5;
        QTest::newRow("letters") << "p\nSteps: 1\n__duration__:abc" << -1.0;
        QTest::newRow("comma is not a point") << "p\nSteps: 1\n__duration__:3,5" << -1.0;
        QTest::newRow("spaces not allowed") << "p\nSteps: 1\n__duration__: 3" << -1.0;
        QTest::newRow("first marker splits") << "p\n__duration__:1\n__duration__:2" << -1.0;
    }

    void renderTimeMarker()
    {
        QFETCH(QString, text);
        const LimnoraMetadata record = parseMarkedMetadataText(text);
        QCOMPARE(record.prompt, QStringLiteral("p"));
        QTEST(record.renderDuration.value_or(-1.0), "duration");
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

    void listingOrder_data()
    {
        QTest::addColumn<QStringList>("keysInTextOrder");
        QTest::addColumn<QStringList>("expectedOrder");

        QTest::newRow("catalogue keys in catalogue order") << QStringList { "Batch Size", "Hires Fix", "Seed",
            "Guidance Scale", "Model" } << QStringList { "Model", "Guidance Scale", "Seed", "Hires Fix", "Batch Size" };
        QTest::newRow("unknown keys after the catalogue, in text order") << QStringList { "Upscaler", "Steps", "Alpha",
            "Model" } << QStringList { "Model", "Steps", "Upscaler", "Alpha" };
        QTest::newRow("keys compared exactly") << QStringList { "steps", "Steps" } << QStringList { "Steps", "steps" };
        QTest::newRow("repeated key keeps its place and last value")
            << QStringList { "Zeta", "Alpha", "Zeta" } << QStringList { "Zeta", "Alpha" };
    }

    void listingOrder()
    {
        QFETCH(QStringList, keysInTextOrder);
        SettingsMap settings;
        for (int i = 0; i < keysInTextOrder.size(); ++i)
            settings.insert(keysInTextOrder[i], QString::number(i));
        QStringList keys;
        for (const SettingItem& item : orderedSettingItems(settings)) {
            keys.append(item.key);
            QCOMPARE(item.value, QString::number(keysInTextOrder.lastIndexOf(item.key)));
        }
        QTEST(keys, "expectedOrder");
    }

    // The first fragment a name contains decides: the longer ones must come before those they hold.
    void samplerCodes_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("code");
        const std::pair<const char*, int> rows[] = { { "DPM++ 2M Karras", 0 }, { "dpm++ 2m karras", 0 },
            { "Euler a", 1 }, { "Euler", 10 }, { "Heun", 17 }, { "", 17 }, { "My TCD trailing v2", 19 },
            { "tcd fast", 9 }, { "unipc trailing", 17 }, { "UNIPC AYS", 18 }, { "unipc++", 5 }, { "lcm turbo", 6 },
            { "EULER A SUBSTEP", 7 }, { "euler a ays x", 13 }, { "ddim trailing", 16 }, { "Ddim", 2 }, { "plms", 3 },
            { "dpm++ sde substep", 8 }, { "DPM++ sde trailing", 11 }, { "dpm++ SDE ays", 14 }, { "dpm++ sde", 4 },
            { "dpm++ 2M ays", 12 }, { "dpm++ 2m trailing", 15 }, { "dpm++ 2m", 0 }, { "DPM++ SDE AYS", 14 },
            { "seed mode:Legacy", 0 }, { "seed mode:Torch CPU", 1 }, { "seed mode:Scale Alike", 2 },
            { "seed mode:NVIDIA", 3 }, { "seed mode:scale alike", -1 } }; // -1: not a seed mode
        for (const auto& [name, code] : rows)
            QTest::addRow("'%s'", name) << QString::fromLatin1(name) << code;
    }

    void samplerCodes()
    {
        QFETCH(QString, name);
        const QString seedMode = name.section(u':', 1);
        QTEST(seedMode.isEmpty() ? samplerIndex(name) : seedModeIndex(seedMode).value_or(-1), "code");
    }

    // The members a settings line changes; every other member keeps its default.
    void members_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("expected"); // the changed members, as JSON without the braces

        QTest::newRow("empty line") << QString() << QString();
        QTest::newRow("whole line")
            << "Steps: 30, Size: 768x1024, Sampler: Euler A, Seed Mode: Torch CPU, Hires Fix: True, Seed: 4294967295, "
               "Guidance Scale: 4.5, Strategic Stochastic Sampling: 0.3, Model: m v1.ckpt, Refiner Model: r.ckpt, "
               "Upscaler: 4x.pth, Batch Count: 3, Batch Size: 2, Strength: 0.75, Shift: 2, Mask Blur: 4"
            << R"("steps":30,"width":768,"height":1024,"sampler":1,"seedMode":1,"hiresFix":true,"seed":4294967295,)"
               R"("guidanceScale":4.5,"stochasticSamplingGamma":0.3,"model":"m v1.ckpt","refinerModel":"r.ckpt",)"
               R"("upscaler":"4x.pth","batchCount":3,"batchSize":2,"strength":0.75,"shift":2)";
        QTest::newRow("size with spaces, steps with a sign") << "Steps: +30, Size: 768 x 1024"
                                                             << R"("steps":30,"width":768,"height":1024)";
        QTest::newRow("values not of their kind keep the defaults")
            << "Steps: 30.0, Guidance Scale: 4,5, Seed Mode: Random, Hires Fix: yes, Sampler: Heun, Size: 768X1024"
            << R"("sampler":17)";
        QTest::newRow("LoRAs") << "Steps: 1, LoRA 1 Model: a.safetensors, LoRA 1 Weight: 0.8, LoRA 2 Model: b"
                               << R"("steps":1,"loras":[{"file":"a.safetensors","weight":0.8,"mode":"all"},)"
                                  R"({"file":"b","weight":1,"mode":"all"}])";
    }

    void members()
    {
        QFETCH(QString, line);
        QFETCH(QString, expected);
        const QJsonObject changed = QJsonDocument::fromJson("{" + expected.toUtf8() + "}").object();
        QVERIFY(expected.isEmpty() || !changed.isEmpty());
        QJsonObject json = defaults();
        for (auto it = changed.begin(); it != changed.end(); ++it) {
            QVERIFY2(json.contains(it.key()), qPrintable(it.key()));
            json.insert(it.key(), it.value());
        }
        QCOMPARE(exported(line), json);
    }

    void keysSortedAndPretty()
    {
        const QString json = settingsJSONString(LimnoraMetadata {});
        QVERIFY(json.contains(u'\n'));
        const qsizetype batchCount = json.indexOf("\"batchCount\"");
        const qsizetype width = json.indexOf("\"width\"");
        QVERIFY(batchCount > 0 && width > 0);
        QCOMPARE(json.indexOf(u'"'), batchCount);
        QCOMPARE(json.lastIndexOf("\": "), width + qsizetype(strlen("\"width")));
    }
};

QTEST_GUILESS_MAIN(TestMetadataParser)
#include "tst_MetadataParser.moc"
