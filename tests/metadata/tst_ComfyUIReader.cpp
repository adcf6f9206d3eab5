#include "ForeignMetadata.h"
#include "ForeignRecord.h"
#include "RawMetadataTexts.h"
#include "TestFiles.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

using namespace limnoscope;

namespace {

const QString otherSamplersKey = QStringLiteral("Other Samplers");

// "key=value|..." in insertion order, without the other samplers' summary, then "LoRA=file@weight".
QString settingsText(const LimnoraMetadata& record)
{
    QStringList pairs;
    for (const auto& [key, value] : record.settings.entries()) {
        if (key != otherSamplersKey)
            pairs.append(key + u'=' + value);
    }
    for (const LoraEntry& lora : record.loras)
        pairs.append(QStringLiteral("LoRA=%1@%2").arg(lora.file).arg(lora.weight));
    return pairs.join(u'|');
}

// "KSampler 3|KSamplerAdvanced 57": which samplers the summary describes.
QString otherSamplers(const LimnoraMetadata& record)
{
    QStringList names;
    for (const QString& summary :
        record.settings.value(otherSamplersKey).value_or(QString()).split(QStringLiteral("; ")))
        names.append(summary.section(u':', 0, 0));
    return names.join(u'|');
}

QList<RawText> realTexts(const QString& file)
{
    return readRawMetadataTexts(test::sourceTreeRoot() + QStringLiteral("/tests/data/realworld/") + file);
}

QJsonObject node(const QString& classType, const QJsonObject& inputs)
{
    return { { QStringLiteral("class_type"), classType }, { QStringLiteral("inputs"), inputs } };
}

QJsonArray link(const QString& id, int slot = 0)
{
    return { id, slot };
}

const QString sharedNegative = QStringLiteral(
    "(hands), text, error, cropped, (worst quality:1.2), (low quality:1.2), normal quality, (jpeg artifacts:1.3), "
    "signature, watermark, username, blurry, artist name, monochrome, sketch, censorship, censor, (copyright:1.2), "
    "extra legs, (forehead mark) (depth of field) (emotionless) (penis) (pumpkin)");

} // namespace

class TestComfyUIReader : public QObject
{
    Q_OBJECT

private slots:
    // Read by hand from each file; the API graph and the editor graph alone give the same record.
    void realImages_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("prompt");
        QTest::addColumn<QString>("negative");
        QTest::addColumn<QString>("settings");
        QTest::addColumn<QString>("others");

        const auto rows = [](const char* name, const QString& file, const QString& prompt, const QString& negative,
                              const QString& settings, const QString& others) {
            for (const QString& source : { QStringLiteral("prompt"), QStringLiteral("workflow") })
                QTest::addRow("%s, %s", name, qPrintable(source))
                    << file << source << prompt << negative << settings << others;
        };
        rows("img2img", "comfyui-img2img.png", "photograph of victorian woman with wings, sky clouds, meadow grass",
            "watermark, text",
            "Model=v1-5-pruned-emaonly.ckpt|Sampler=sample_dpmpp_2m|Steps=20|Guidance Scale=8|"
            "Seed=280823642470253|Strength=0.8700000000000001",
            "");
        rows("second pass after an upscale", "comfyui-multi-sampler.png",
            "(best quality) beautiful (HDR:1.2) (realistic:1.2) landscape breathtaking amazing view nature scenery "
            "photograph forest mountains ocean daytime night evening morning, (sky:1.2)",
            sharedNegative,
            "Model=AbyssOrangeMix2_hard.safetensors|Sampler=dpmpp_2m simple|Steps=14|Guidance Scale=7|"
            "Seed=1122440447966177|Size=1088x1920|Batch Size=1|Strength=0.5|CLIP Skip=2",
            "KSampler 3");
        rows("noisy latents composited", "comfyui-noisy-latents.png",
            "girl (flat chest:0.9), (fennec ears:1.0)\u00a0 (fox ears:1.0), (messy hair), (highlights), (realistic "
            "starry eyes pupil:1.1), (hoodie), open jacket, running (school uniform)\nsky clouds nature national park "
            "beautiful winter snow scenery HDR landscape\n(sunset)",
            sharedNegative,
            "Model=Anything-V3.0.ckpt|Sampler=sample_dpmpp_sde simple|Steps=9|Guidance Scale=5.5|"
            "Seed=1084614416978598|Size=1920x1088|Batch Size=1|Strength=0.54",
            "KSamplerAdvanced 57|KSamplerAdvanced 58|KSamplerAdvanced 60|KSamplerAdvanced 64|KSamplerAdvanced 73");
        rows("unCLIP then a second pass", "comfyui-unclip-2pass.png", "beautiful scenery landscape outdoors mountains",
            "(hands), text, error, cropped, (jpeg artifacts:1.3), signature, watermark, username, blurry, artist "
            "name, monochrome, sketch, censorship, censor, (copyright:1.2), extra legs, (forehead mark)  (penis)",
            "Model=cardosAnimated_v20.safetensors|Sampler=dpmpp_sde|Steps=8|Guidance Scale=9|Seed=119080905858220|"
            "Size=1920x1088|Batch Size=1|Strength=0.5199999999999996",
            "KSampler 3");
    }

    void realImages()
    {
        QFETCH(QString, file);
        QFETCH(QString, source);
        QList<RawText> texts = realTexts(file);
        texts.removeIf([&](const RawText& text) { return text.source != source; });
        QCOMPARE(texts.size(), 1);

        const auto record = readComfyUI(texts);
        QVERIFY(record);
        QCOMPARE(record->generator, QStringLiteral("ComfyUI"));
        QTEST(record->prompt, "prompt");
        QTEST(record->negativePrompt, "negative");
        QTEST(settingsText(*record), "settings");
        QTEST(otherSamplers(*record), "others");
        QVERIFY(record->rawTexts.isEmpty());
    }

    // JPEG and WebP keep the graphs in EXIF tags; every form gives the PNG's record.
    void exifForms_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("form");
        QTest::newRow("prompt: prefix") << "Make"
                                        << "prompt:%api";
        QTest::newRow("Workflow: prefix, editor graph alone") << "ImageDescription"
                                                              << "Workflow: %editor";
        QTest::newRow("one document") << "UserComment"
                                      << "{\"prompt\": %api, \"workflow\": %editor}";
        QTest::newRow("one document of JSON strings") << "UserComment"
                                                      << "{\"prompt\": \"%quoted\"}";
    }

    void exifForms()
    {
        QFETCH(QString, source);
        QFETCH(QString, form);
        const QList<RawText> png = realTexts(QStringLiteral("comfyui-unclip-2pass.png"));
        const QString api = rawTextFrom(png, QStringLiteral("prompt")).value_or(QString());
        const QString editor = rawTextFrom(png, QStringLiteral("workflow")).value_or(QString());
        QString quoted = QString::fromUtf8(QJsonDocument(QJsonArray { api }).toJson(QJsonDocument::Compact));
        quoted = quoted.mid(2, quoted.size() - 4); // the string's JSON form without its quotes

        const auto expected = readComfyUI(png);
        form.replace(QStringLiteral("%api"), api)
            .replace(QStringLiteral("%editor"), editor)
            .replace(QStringLiteral("%quoted"), quoted);
        const auto record = readComfyUI({ { source, form } });
        QVERIFY(expected && record);
        QCOMPARE(record->prompt, expected->prompt);
        QCOMPARE(record->negativePrompt, expected->negativePrompt);
        QCOMPARE(settingsText(*record), settingsText(*expected));
    }

    void handWrittenGraphs_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("prompt");
        QTest::addColumn<QString>("negative");
        QTest::addColumn<QString>("settings");
        const auto row = [](const char* file, const char* prompt, const char* negative, const char* settings) {
            QTest::newRow(file) << file << prompt << negative << settings;
        };
        // Seed from a primitive, positive via a reroute, LoRA and CLIP skip in chains, a muted last sampler.
        row("editor-graph.json", "a lighthouse at dusk", "blurry",
            "Model=juggernaut.safetensors|Sampler=dpmpp_2m karras|Steps=30|Guidance Scale=6.5|Seed=42|"
            "Size=832x1216|Batch Size=1|CLIP Skip=2|LoRA=ink.safetensors@0.8");
        // Settings on noise, guider, sampler and sigmas nodes; seed beyond 2^53; zeroed negative; scaled latent.
        row("custom-sampler.json", "a red fox, in snow", "",
            "Model=flux1-dev.safetensors|Sampler=euler beta|Steps=28|Guidance Scale=1|Seed=9007199254740993|"
            "Size=1536x1152|Batch Size=1|Flux Guidance=3.5|LoRA=detail.safetensors@0.6");
        // A ControlNet passes both conditionings on (output 1 is the negative); img2img size.
        row("controlnet-img2img.json", "castle", "fog",
            "Model=sdxl.safetensors|Sampler=euler karras|Steps=20|Guidance Scale=7|Seed=1|Size=640x480|"
            "Strength=0.75");
        // Cycles in the model, conditioning, text, seed and latent links end without a hang.
        row("cycles.json", "loop", "loop",
            "Sampler=euler|Steps=10|Guidance Scale=5|LoRA=x.safetensors@1|LoRA=y.safetensors@0.5");
    }

    void handWrittenGraphs()
    {
        QFETCH(QString, file);
        QFile graph(test::sourceTreeRoot() + QStringLiteral("/tests/data/comfyui/") + file);
        QVERIFY(graph.open(QIODevice::ReadOnly));
        const auto record = readComfyUI({ { QStringLiteral("prompt"), QString::fromUtf8(graph.readAll()) } });
        QVERIFY(record);
        QTEST(record->prompt, "prompt");
        QTEST(record->negativePrompt, "negative");
        QTEST(settingsText(*record), "settings");
    }

    // 20000 chained samplers on looping conditionings, 60 concatenations each doubling the text.
    void largeGraph()
    {
        constexpr int samplers = 20000;
        constexpr int concatenations = 60;
        QJsonObject graph;
        graph.insert(QStringLiteral("t0"), node(QStringLiteral("PrimitiveString"), { { "value", "fox" } }));
        for (int i = 1; i <= concatenations; ++i) {
            const QString previous = QStringLiteral("t%1").arg(i - 1);
            graph.insert(QStringLiteral("t%1").arg(i),
                node(QStringLiteral("StringConcatenate"),
                    { { "string_a", link(previous) }, { "string_b", link(previous) }, { "delimiter", " " } }));
        }
        graph.insert(QStringLiteral("text"),
            node(QStringLiteral("CLIPTextEncode"), { { "text", link(QStringLiteral("t%1").arg(concatenations)) } }));
        for (int i = 0; i < samplers; ++i) {
            const QString condition = QStringLiteral("c%1").arg(i);
            graph.insert(condition,
                node(QStringLiteral("ConditioningCombine"),
                    { { "conditioning_1", link(QStringLiteral("c%1").arg((i + 1) % samplers)) },
                        { "conditioning_2", link(QStringLiteral("text")) } }));
            graph.insert(QString::number(i),
                node(QStringLiteral("KSampler"),
                    { { "seed", i }, { "steps", 20 }, { "positive", link(condition) },
                        { "latent_image", link(QString::number(std::max(i - 1, 0))) } }));
        }
        const QString text = QString::fromUtf8(QJsonDocument(graph).toJson(QJsonDocument::Compact));
        QVERIFY(text.size() > 4 * 1024 * 1024);

        QElapsedTimer timer;
        timer.start();
        const auto record = readComfyUI({ { QStringLiteral("prompt"), text } });
        QVERIFY2(timer.elapsed() < 5000, qPrintable(QString::number(timer.elapsed())));
        QVERIFY(record);
        QCOMPARE(record->settings.value(QStringLiteral("Seed")), QString::number(samplers - 1));
        QVERIFY(record->prompt.count(QStringLiteral("fox")) > 10000);
        QVERIFY(record->prompt.size() < 1024 * 1024);
        QVERIFY(record->settings.value(otherSamplersKey).value_or(QString()).endsWith(QStringLiteral("19991 more")));
    }
};

QTEST_GUILESS_MAIN(TestComfyUIReader)
#include "tst_ComfyUIReader.moc"
