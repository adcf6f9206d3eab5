#include "LimnoraMetadata.h"
#include "MetadataParser.h"
#include "SettingsJSON.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

using namespace limnoscope;

namespace {

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

class TestLimnoraMetadata : public QObject
{
    Q_OBJECT

private slots:
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
            { "dpm++ 2M ays", 12 }, { "dpm++ 2m trailing", 15 }, { "dpm++ 2m", 0 }, { "DPM++ SDE AYS", 14 } };
        for (const auto& [name, code] : rows)
            QTest::addRow("'%s'", name) << QString::fromLatin1(name) << code;
    }

    void samplerCodes()
    {
        QFETCH(QString, name);
        QTEST(samplerIndex(name), "code");
    }

    void seedModes_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("code"); // -1: not in the table
        const std::pair<const char*, int> rows[]
            = { { "Legacy", 0 }, { "Torch CPU", 1 }, { "Scale Alike", 2 }, { "NVIDIA", 3 }, { "scale alike", -1 } };
        for (const auto& [name, code] : rows)
            QTest::addRow("'%s'", name) << QString::fromLatin1(name) << code;
    }

    void seedModes()
    {
        QFETCH(QString, name);
        QTEST(seedModeIndex(name).value_or(-1), "code");
    }

    // The members a settings line changes; every other member keeps its default.
    void members_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QJsonObject>("expected");

        QTest::newRow("empty line") << QString() << QJsonObject();
        QTest::newRow("whole line")
            << "Steps: 30, Size: 768x1024, Sampler: Euler A, Seed Mode: Torch CPU, Hires Fix: True, Seed: 4294967295, "
               "Guidance Scale: 4.5, Strategic Stochastic Sampling: 0.3, Model: m v1.ckpt, Refiner Model: r.ckpt, "
               "Upscaler: 4x.pth, Batch Count: 3, Batch Size: 2, Strength: 0.75, Shift: 2, Mask Blur: 4"
            << QJsonObject { { "steps", 30 }, { "width", 768 }, { "height", 1024 }, { "sampler", 1 }, { "seedMode", 1 },
                   { "hiresFix", true }, { "seed", qint64(4294967295) }, { "guidanceScale", 4.5 },
                   { "stochasticSamplingGamma", 0.3 }, { "model", "m v1.ckpt" }, { "refinerModel", "r.ckpt" },
                   { "upscaler", "4x.pth" }, { "batchCount", 3 }, { "batchSize", 2 }, { "strength", 0.75 },
                   { "shift", 2.0 } };
        QTest::newRow("size with spaces, steps with a sign")
            << "Steps: +30, Size: 768 x 1024" << QJsonObject { { "steps", 30 }, { "width", 768 }, { "height", 1024 } };
        QTest::newRow("values not of their kind keep the defaults")
            << "Steps: 30.0, Guidance Scale: 4,5, Seed Mode: Random, Hires Fix: yes, Sampler: Heun, Size: 768X1024"
            << QJsonObject { { "sampler", 17 } };
        QTest::newRow("LoRAs")
            << "Steps: 1, LoRA 1 Model: a.safetensors, LoRA 1 Weight: 0.8, LoRA 2 Model: b"
            << QJsonObject { { "steps", 1 },
                   { "loras",
                       QJsonArray { QJsonObject { { "file", "a.safetensors" }, { "weight", 0.8 }, { "mode", "all" } },
                           QJsonObject { { "file", "b" }, { "weight", 1.0 }, { "mode", "all" } } } } };
    }

    void members()
    {
        QFETCH(QString, line);
        QFETCH(QJsonObject, expected);
        QJsonObject json = defaults();
        for (auto it = expected.begin(); it != expected.end(); ++it) {
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

QTEST_GUILESS_MAIN(TestLimnoraMetadata)
#include "tst_LimnoraMetadata.moc"
