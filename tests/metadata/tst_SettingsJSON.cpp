#include "MetadataParser.h"
#include "SettingsJSON.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

using namespace limnoscope;

namespace {

QJsonObject exported(const QString &settingsLine)
{
    LimnoraMetadata record;
    parseSettingsText(settingsLine, record);
    const QString json = settingsJSONString(record);
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(json.toUtf8(), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        qWarning() << "not a JSON object:" << json;
    return document.object();
}

} // namespace

class TestSettingsJSON : public QObject
{
    Q_OBJECT

private slots:
    void defaults()
    {
        const QJsonObject json = exported(QString());
        QCOMPARE(json.size(), 29);
        const QJsonObject expected{
            {"steps", 20}, {"sampler", 0}, {"guidanceScale", 7.0}, {"seed", 0}, {"width", 512}, {"height", 512},
            {"model", ""}, {"strength", 1.0}, {"shift", 1.0}, {"seedMode", 2}, {"batchSize", 1}, {"batchCount", 1},
            {"sharpness", 0.0}, {"maskBlur", 1.5}, {"maskBlurOutset", 0}, {"cfgZeroInitSteps", 0},
            {"cfgZeroStar", false}, {"preserveOriginalAfterInpaint", true}, {"resolutionDependentShift", false},
            {"causalInferencePad", 0}, {"tiledDecoding", false}, {"tiledDiffusion", false}, {"hiresFix", false},
            {"upscaler", ""}, {"faceRestoration", ""}, {"refinerModel", ""}, {"loras", QJsonArray()},
            {"controls", QJsonArray()}, {"stochasticSamplingGamma", 0.0},
        };
        QCOMPARE(json, expected);
        QVERIFY(json.value("loras").isArray());
        QVERIFY(json.value("model").isString());
        QVERIFY(json.value("cfgZeroStar").isBool());
    }

    void members_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("member");
        QTest::addColumn<QJsonValue>("expected");

        const QString full = "Steps: 30, Size: 768x1024, Sampler: Euler A, Seed Mode: Torch CPU, Hires Fix: True";
        QTest::newRow("steps") << full << "steps" << QJsonValue(30);
        QTest::newRow("width") << full << "width" << QJsonValue(768);
        QTest::newRow("height") << full << "height" << QJsonValue(1024);
        QTest::newRow("sampler") << full << "sampler" << QJsonValue(1);
        QTest::newRow("seedMode") << full << "seedMode" << QJsonValue(1);
        QTest::newRow("hiresFix") << full << "hiresFix" << QJsonValue(true);
        QTest::newRow("size with spaces") << "Steps: 1, Size: 768 x 1024" << "height" << QJsonValue(1024);
        QTest::newRow("capital X keeps width") << "Steps: 1, Size: 768X1024" << "width" << QJsonValue(512);
        QTest::newRow("three parts keep height") << "Steps: 1, Size: 1x2x3" << "height" << QJsonValue(512);
        QTest::newRow("steps 30.0 keeps default") << "Steps: 30.0" << "steps" << QJsonValue(20);
        QTest::newRow("steps +30") << "Steps: +30" << "steps" << QJsonValue(30);
        QTest::newRow("big seed") << "Steps: 1, Seed: 4294967295" << "seed" << QJsonValue(qint64(4294967295));
        QTest::newRow("seed mode Random") << "Steps: 1, Seed Mode: Random" << "seedMode" << QJsonValue(2);
        QTest::newRow("hires fix other text") << "Steps: 1, Hires Fix: yes" << "hiresFix" << QJsonValue(false);
        QTest::newRow("unknown sampler") << "Steps: 1, Sampler: Heun" << "sampler" << QJsonValue(17);
        QTest::newRow("guidance") << "Steps: 1, Guidance Scale: 4.5" << "guidanceScale" << QJsonValue(4.5);
        QTest::newRow("guidance decimal comma") << "Steps: 1, Guidance Scale: 4,5" << "guidanceScale" << QJsonValue(7.0);
        QTest::newRow("guidance nan keeps default") << "Steps: 1, Guidance Scale: nan" << "guidanceScale"
                                                    << QJsonValue(7.0);
        QTest::newRow("gamma") << "Steps: 1, Strategic Stochastic Sampling: 0.3" << "stochasticSamplingGamma"
                               << QJsonValue(0.3);
        QTest::newRow("model as written") << "Steps: 1, Model: m v1.ckpt" << "model" << QJsonValue("m v1.ckpt");
        QTest::newRow("refiner") << "Steps: 1, Refiner Model: r.ckpt" << "refinerModel" << QJsonValue("r.ckpt");
        QTest::newRow("upscaler") << "Steps: 1, Upscaler: 4x.pth" << "upscaler" << QJsonValue("4x.pth");
        QTest::newRow("batch") << "Steps: 1, Batch Count: 3, Batch Size: 2" << "batchCount" << QJsonValue(3);
        QTest::newRow("strength") << "Steps: 1, Strength: 0.75" << "strength" << QJsonValue(0.75);
        QTest::newRow("mask blur never taken") << "Steps: 1, Mask Blur: 4" << "maskBlur" << QJsonValue(1.5);
    }

    void members()
    {
        QFETCH(QString, line);
        QFETCH(QString, member);
        QFETCH(QJsonValue, expected);
        const QJsonObject json = exported(line);
        QCOMPARE(json.size(), 29);
        QCOMPARE(json.value(member), expected);
    }

    void loras()
    {
        const QJsonObject json = exported("Steps: 1, LoRA 1 Model: a.safetensors, LoRA 1 Weight: 0.8, LoRA 2 Model: b");
        const QJsonArray loras = json.value("loras").toArray();
        QCOMPARE(loras.size(), 2);
        QCOMPARE(loras[0].toObject(),
                 (QJsonObject{{"file", "a.safetensors"}, {"weight", 0.8}, {"mode", "all"}}));
        QCOMPARE(loras[1].toObject().value("weight").toDouble(), 1.0);
    }

    void keysSortedAndPretty()
    {
        const QString json = settingsJSONString(LimnoraMetadata{});
        QVERIFY(json.contains(u'\n'));
        const qsizetype batchCount = json.indexOf("\"batchCount\"");
        const qsizetype width = json.indexOf("\"width\"");
        QVERIFY(batchCount > 0 && width > 0);
        QCOMPARE(json.indexOf(u'"'), batchCount);
        QCOMPARE(json.lastIndexOf("\": "), width + qsizetype(strlen("\"width")));
    }
};

QTEST_GUILESS_MAIN(TestSettingsJSON)
#include "tst_SettingsJSON.moc"
