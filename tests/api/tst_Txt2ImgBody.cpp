#include "LimnoraAPI.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

#include <limits>

using namespace limnoscope;

namespace {

using Settings = QList<QPair<QString, QString>>;

LimnoraMetadata record(const Settings& settings, const QList<LoraEntry>& loras = {})
{
    LimnoraMetadata metadata;
    metadata.prompt = QStringLiteral("a lake at dawn");
    metadata.negativePrompt = QStringLiteral("blurry");
    for (const auto& [key, value] : settings)
        metadata.settings.insert(key, value);
    metadata.loras = loras;
    metadata.rawSettingsString = QStringLiteral("Steps: 30");
    metadata.renderDuration = 12.5;
    return metadata;
}

QJsonObject parse(const QByteArray& body)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        qFatal("not a JSON object: %s", body.constData());
    return document.object();
}

} // namespace

class Txt2ImgBodyTest : public QObject
{
    Q_OBJECT

private slots:
    void emptyRecord();
    void settings_data();
    void settings();
    void largeSeedsAreExact();
    void keysInOrder();
    void loras();
    void textsAreEscaped();
    void nonFiniteWeightFails();
};

void Txt2ImgBodyTest::emptyRecord()
{
    LimnoraMetadata empty;
    const QJsonObject body = parse(txt2imgBody(empty));
    QCOMPARE(body.keys(), (QStringList { "loras", "negative_prompt", "prompt", "seed_mode" }));
    QCOMPARE(body.value("prompt"), QJsonValue(QString()));
    QCOMPARE(body.value("negative_prompt"), QJsonValue(QString()));
    QCOMPARE(body.value("seed_mode"), QJsonValue("Scale Alike"));
    QCOMPARE(body.value("loras"), QJsonValue(QJsonArray()));
}

void Txt2ImgBodyTest::settings_data()
{
    QTest::addColumn<Settings>("settings");
    QTest::addColumn<QJsonObject>("expected"); // the keys beyond the four always present
    QTest::addColumn<QString>("seedMode");

    const QString scaleAlike = QStringLiteral("Scale Alike");
    QTest::newRow("steps 30") << Settings { { "Steps", "30" } } << QJsonObject { { "steps", 30 } } << scaleAlike;
    QTest::newRow("steps 30.0") << Settings { { "Steps", "30.0" } } << QJsonObject() << scaleAlike;
    QTest::newRow("steps with leading space") << Settings { { "Steps", " 30" } } << QJsonObject() << scaleAlike;
    QTest::newRow("steps with trailing space") << Settings { { "Steps", "30 " } } << QJsonObject() << scaleAlike;
    QTest::newRow("steps +30") << Settings { { "Steps", "+30" } } << QJsonObject { { "steps", 30 } } << scaleAlike;
    QTest::newRow("steps -2") << Settings { { "Steps", "-2" } } << QJsonObject { { "steps", -2 } } << scaleAlike;
    QTest::newRow("steps empty") << Settings { { "Steps", "" } } << QJsonObject() << scaleAlike;
    QTest::newRow("steps beyond 64 bits")
        << Settings { { "Steps", "9223372036854775808" } } << QJsonObject() << scaleAlike;
    QTest::newRow("seed 4294967295") << Settings { { "Seed", "4294967295" } }
                                     << QJsonObject { { "seed", 4294967295LL } } << scaleAlike;
    QTest::newRow("seed -1") << Settings { { "Seed", "-1" } } << QJsonObject() << scaleAlike;
    QTest::newRow("seed -0") << Settings { { "Seed", "-0" } } << QJsonObject { { "seed", 0 } } << scaleAlike;
    QTest::newRow("seed 1e3") << Settings { { "Seed", "1e3" } } << QJsonObject() << scaleAlike;
    QTest::newRow("guidance 4.5") << Settings { { "Guidance Scale", "4.5" } }
                                  << QJsonObject { { "guidance_scale", 4.5 } } << scaleAlike;
    QTest::newRow("guidance decimal comma") << Settings { { "Guidance Scale", "4,5" } } << QJsonObject() << scaleAlike;
    QTest::newRow("guidance with space") << Settings { { "Guidance Scale", "4.5 " } } << QJsonObject() << scaleAlike;
    QTest::newRow("guidance nan") << Settings { { "Guidance Scale", "nan" } } << QJsonObject() << scaleAlike;
    QTest::newRow("shift 1e-1") << Settings { { "Shift", "1e-1" } } << QJsonObject { { "shift", 0.1 } } << scaleAlike;
    QTest::newRow("texts unchanged") << Settings { { "Sampler", " DPM++ 2M Karras " },
        { "Model", "flux_1_dev_q8p.ckpt" }, { "Seed Mode", "Legacy" } }
                                     << QJsonObject { { "sampler", " DPM++ 2M Karras " },
                                            { "model", "flux_1_dev_q8p.ckpt" } }
                                     << "Legacy";
    QTest::newRow("batches") << Settings { { "Batch Count", "2" }, { "Batch Size", "4" } }
                             << QJsonObject { { "batch_count", 2 }, { "batch_size", 4 } } << scaleAlike;
    QTest::newRow("batch size 1.5") << Settings { { "Batch Size", "1.5" } } << QJsonObject() << scaleAlike;
    QTest::newRow("size 896 x 1152") << Settings { { "Size", "896 x 1152" } }
                                     << QJsonObject { { "width", 896 }, { "height", 1152 } } << scaleAlike;
    QTest::newRow("size 1024x768") << Settings { { "Size", "1024x768" } }
                                   << QJsonObject { { "width", 1024 }, { "height", 768 } } << scaleAlike;
    QTest::newRow("size with tabs") << Settings { { "Size", "\t512\tx 640 " } }
                                    << QJsonObject { { "width", 512 }, { "height", 640 } } << scaleAlike;
    QTest::newRow("size single number") << Settings { { "Size", "1024" } } << QJsonObject() << scaleAlike;
    QTest::newRow("size capital X") << Settings { { "Size", "1024X768" } } << QJsonObject() << scaleAlike;
    QTest::newRow("size multiplication sign") << Settings { { "Size", "1024×768" } } << QJsonObject() << scaleAlike;
    QTest::newRow("size three parts") << Settings { { "Size", "1x2x3" } } << QJsonObject() << scaleAlike;
    QTest::newRow("size one part bad") << Settings { { "Size", "1024xabc" } } << QJsonObject() << scaleAlike;
}

void Txt2ImgBodyTest::settings()
{
    QFETCH(Settings, settings);
    QFETCH(QJsonObject, expected);
    QFETCH(QString, seedMode);

    QJsonObject body = parse(txt2imgBody(record(settings)));
    QCOMPARE(body.take("prompt"), QJsonValue("a lake at dawn"));
    QCOMPARE(body.take("negative_prompt"), QJsonValue("blurry"));
    QCOMPARE(body.take("seed_mode"), QJsonValue(seedMode));
    QCOMPARE(body.take("loras"), QJsonValue(QJsonArray()));
    QCOMPARE(body, expected);
}

void Txt2ImgBodyTest::largeSeedsAreExact()
{
    // Above 2^53 a double would round; above 2^63 - 1 a signed integer would not fit.
    const QByteArray body = txt2imgBody(record({ { "Seed", "18446744073709551615" } }));
    QVERIFY2(body.contains("\"seed\":18446744073709551615,"), body.constData());
    QVERIFY(txt2imgBody(record({ { "Seed", "9007199254740993" } })).contains("\"seed\":9007199254740993,"));
    QVERIFY(!txt2imgBody(record({ { "Seed", "18446744073709551616" } })).contains("seed\""));
}

void Txt2ImgBodyTest::keysInOrder()
{
    const QByteArray body
        = txt2imgBody(record({ { "Size", "8x16" }, { "Batch Size", "1" }, { "Batch Count", "1" }, { "Model", "m" },
            { "Shift", "1" }, { "Sampler", "s" }, { "Seed", "1" }, { "Guidance Scale", "1" }, { "Steps", "1" } }));
    const QStringList keys { "prompt", "negative_prompt", "steps", "guidance_scale", "seed", "seed_mode", "sampler",
        "shift", "model", "batch_count", "batch_size", "width", "height", "loras" };
    qsizetype previous = -1;
    for (const QString& key : keys) {
        const qsizetype at = body.indexOf('"' + key.toUtf8() + "\":");
        QVERIFY2(at > previous, qPrintable(key));
        previous = at;
    }
    QCOMPARE(parse(body).size(), keys.size());
}

void Txt2ImgBodyTest::loras()
{
    LoraEntry first;
    first.file = QStringLiteral("detail_tweaker.safetensors");
    first.weight = 0.6;
    first.mode = QStringLiteral("base");
    LoraEntry second;
    second.file = QStringLiteral("style.ckpt");
    second.weight = -1.25;
    const QByteArray body = txt2imgBody(record({}, { first, second }));
    QVERIFY2(body.contains("\"weight\":0.6,"), body.constData());

    const QJsonArray loras = parse(body).value("loras").toArray();
    QCOMPARE(loras.size(), 2);
    QCOMPARE(loras.at(0).toObject(),
        (QJsonObject { { "file", "detail_tweaker.safetensors" }, { "weight", 0.6 }, { "mode", "base" } }));
    QCOMPARE(
        loras.at(1).toObject(), (QJsonObject { { "file", "style.ckpt" }, { "weight", -1.25 }, { "mode", "all" } }));
}

void Txt2ImgBodyTest::textsAreEscaped()
{
    LimnoraMetadata metadata;
    metadata.prompt = QStringLiteral("say \"hi\"\\ \n\ttab \x01 é 🌅 </script>");
    metadata.negativePrompt = QStringLiteral("😀");
    const QByteArray body = txt2imgBody(metadata);
    const QJsonObject object = parse(body);
    QCOMPARE(object.value("prompt").toString(), metadata.prompt);
    QCOMPARE(object.value("negative_prompt").toString(), metadata.negativePrompt);
    QVERIFY(!body.contains('\n'));
    QVERIFY(body.contains("\\u0001"));
}

void Txt2ImgBodyTest::nonFiniteWeightFails()
{
    LoraEntry lora;
    lora.file = QStringLiteral("x");
    lora.weight = std::numeric_limits<double>::infinity();
    QVERIFY(txt2imgBody(record({}, { lora })).isEmpty());
    lora.weight = std::numeric_limits<double>::quiet_NaN();
    QVERIFY(txt2imgBody(record({}, { lora })).isEmpty());
}

QTEST_GUILESS_MAIN(Txt2ImgBodyTest)
#include "tst_Txt2ImgBody.moc"
