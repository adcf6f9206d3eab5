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

LoraEntry lora(const QString& file, double weight, const QString& mode = {})
{
    LoraEntry entry { .file = file, .weight = weight };
    if (!mode.isEmpty())
        entry.mode = mode;
    return entry;
}

} // namespace

Q_DECLARE_METATYPE(limnoscope::LimnoraMetadata)

class Txt2ImgBodyTest : public QObject
{
    Q_OBJECT

private slots:
    // Settings that are not exactly a number (or a size) of their kind are left out.
    void settings_data()
    {
        QTest::addColumn<Settings>("settings");
        QTest::addColumn<QJsonObject>("expected"); // beyond prompt, negative_prompt and loras

        QTest::newRow("steps 30") << Settings { { "Steps", "30" } } << QJsonObject { { "steps", 30 } };
        QTest::newRow("steps +30") << Settings { { "Steps", "+30" } } << QJsonObject { { "steps", 30 } };
        QTest::newRow("steps -2") << Settings { { "Steps", "-2" } } << QJsonObject { { "steps", -2 } };
        for (const char* bad : { "30.0", " 30", "30 ", "", "9223372036854775808" })
            QTest::addRow("steps '%s'", bad) << Settings { { "Steps", bad } } << QJsonObject();
        QTest::newRow("seed 4294967295") << Settings { { "Seed", "4294967295" } }
                                         << QJsonObject { { "seed", 4294967295LL } };
        QTest::newRow("seed -0") << Settings { { "Seed", "-0" } } << QJsonObject { { "seed", 0 } };
        for (const char* bad : { "-1", "1e3", "18446744073709551616" })
            QTest::addRow("seed %s", bad) << Settings { { "Seed", bad } } << QJsonObject();
        QTest::newRow("guidance 4.5") << Settings { { "Guidance Scale", "4.5" } }
                                      << QJsonObject { { "guidance_scale", 4.5 } };
        for (const char* bad : { "4,5", "4.5 ", "nan" })
            QTest::addRow("guidance '%s'", bad) << Settings { { "Guidance Scale", bad } } << QJsonObject();
        QTest::newRow("shift 1e-1") << Settings { { "Shift", "1e-1" } } << QJsonObject { { "shift", 0.1 } };
        QTest::newRow("texts unchanged") << Settings { { "Sampler", " DPM++ 2M Karras " },
            { "Model", "flux_1_dev_q8p.ckpt" }, { "Seed Mode", "Legacy" } }
                                         << QJsonObject { { "sampler", " DPM++ 2M Karras " },
                                                { "model", "flux_1_dev_q8p.ckpt" }, { "seed_mode", "Legacy" } };
        QTest::newRow("batches") << Settings { { "Batch Count", "2" }, { "Batch Size", "4" } }
                                 << QJsonObject { { "batch_count", 2 }, { "batch_size", 4 } };
        QTest::newRow("batch size 1.5") << Settings { { "Batch Size", "1.5" } } << QJsonObject();
        QTest::newRow("size 896 x 1152") << Settings { { "Size", "896 x 1152" } }
                                         << QJsonObject { { "width", 896 }, { "height", 1152 } };
        QTest::newRow("size 1024x768") << Settings { { "Size", "1024x768" } }
                                       << QJsonObject { { "width", 1024 }, { "height", 768 } };
        QTest::newRow("size with tabs") << Settings { { "Size", "\t512\tx 640 " } }
                                        << QJsonObject { { "width", 512 }, { "height", 640 } };
        for (const char* bad : { "1024", "1024X768", "1024×768", "1x2x3", "1024xabc" })
            QTest::addRow("size %s", bad) << Settings { { "Size", QString::fromUtf8(bad) } } << QJsonObject();
    }

    void settings()
    {
        QFETCH(Settings, settings);
        QFETCH(QJsonObject, expected);
        if (!expected.contains("seed_mode"))
            expected.insert("seed_mode", "Scale Alike");

        QJsonObject body = parse(txt2imgBody(record(settings)));
        QCOMPARE(body.take("prompt"), QJsonValue("a lake at dawn"));
        QCOMPARE(body.take("negative_prompt"), QJsonValue("blurry"));
        QCOMPARE(body.take("loras"), QJsonValue(QJsonArray()));
        QCOMPARE(body, expected);
    }

    // The exact bytes: members in order, numbers as written (above 2^53 a double would round,
    // above 2^63 - 1 a signed integer would not fit), no spaces.
    void wholeBody_data()
    {
        QTest::addColumn<LimnoraMetadata>("metadata");
        QTest::addColumn<QByteArray>("body");
        QTest::newRow("empty record")
            << LimnoraMetadata()
            << QByteArray(R"({"prompt":"","negative_prompt":"","seed_mode":"Scale Alike","loras":[]})");
        QTest::newRow("every member")
            << record({ { "Size", "8x16" }, { "Batch Size", "1" }, { "Batch Count", "2" }, { "Model", "m" },
                          { "Shift", "1.5" }, { "Sampler", "s" }, { "Seed", "18446744073709551615" },
                          { "Guidance Scale", "4.5" }, { "Steps", "30" }, { "Seed Mode", "Legacy" } },
                   { lora("detail_tweaker.safetensors", 0.6, "base"), lora("style.ckpt", -1.25) })
            << QByteArray(
                   R"({"prompt":"a lake at dawn","negative_prompt":"blurry","steps":30,"guidance_scale":4.5,)"
                   R"("seed":18446744073709551615,"seed_mode":"Legacy","sampler":"s","shift":1.5,"model":"m",)"
                   R"("batch_count":2,"batch_size":1,"width":8,"height":16,"loras":[{"file":"detail_tweaker.)"
                   R"(safetensors","weight":0.6,"mode":"base"},{"file":"style.ckpt","weight":-1.25,"mode":"all"}]})");
        QTest::newRow("seed above 2^53") << record({ { "Seed", "9007199254740993" } })
                                         << QByteArray(
                                                R"({"prompt":"a lake at dawn","negative_prompt":"blurry",)"
                                                R"("seed":9007199254740993,"seed_mode":"Scale Alike","loras":[]})");
    }

    void wholeBody()
    {
        QFETCH(LimnoraMetadata, metadata);
        QTEST(txt2imgBody(metadata), "body");
    }

    void textsAreEscaped()
    {
        LimnoraMetadata metadata;
        metadata.prompt = QStringLiteral("say \"hi\"\\ \n\ttab \x01 é 🌅 </script>");
        metadata.negativePrompt = QStringLiteral("😀");
        const QByteArray body = txt2imgBody(metadata);
        QCOMPARE(parse(body).value("prompt").toString(), metadata.prompt);
        QCOMPARE(parse(body).value("negative_prompt").toString(), metadata.negativePrompt);
        QVERIFY(!body.contains('\n'));
        QVERIFY(body.contains("\\u0001"));
    }

    void nonFiniteWeightFails()
    {
        for (double weight : { std::numeric_limits<double>::infinity(), std::numeric_limits<double>::quiet_NaN() })
            QVERIFY(txt2imgBody(record({}, { lora("x", weight) })).isEmpty());
    }
};

QTEST_GUILESS_MAIN(Txt2ImgBodyTest)
#include "tst_Txt2ImgBody.moc"
