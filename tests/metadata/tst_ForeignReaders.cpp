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

using Reader = std::optional<LimnoraMetadata> (*)(const QList<RawText>&);

std::optional<LimnoraMetadata> readAnyInfotext(const QList<RawText>& texts)
{
    for (const RawText& text : texts) {
        if (auto record = readA1111Infotext(text.text))
            return record;
    }
    return std::nullopt;
}

enum ReaderIndex { A1111, Swarm, Invoke, Novel, Fooocus, Easy, Comfy };
constexpr Reader readers[]
    = { readAnyInfotext, readSwarmUI, readInvokeAI, readNovelAI, readFooocus, readEasyDiffusion, readComfyUI };

QList<RawText> realTexts(const QString& file)
{
    return readRawMetadataTexts(test::sourceTreeRoot() + QStringLiteral("/tests/data/realworld/") + file);
}

// Texts given as source, text, source, text, ...
QList<RawText> rawTexts(const QStringList& flat)
{
    QList<RawText> texts;
    for (qsizetype i = 0; i + 1 < flat.size(); i += 2)
        texts.append({ flat.at(i), flat.at(i + 1) });
    return texts;
}

// "start…end" matches a text with that start and end; anything else must match whole.
bool matchesElided(const QString& actual, const QString& expected)
{
    const qsizetype ellipsis = expected.indexOf(u'…');
    if (ellipsis < 0)
        return actual == expected;
    return actual.startsWith(expected.first(ellipsis)) && actual.endsWith(expected.sliced(ellipsis + 1));
}

const QString otherSamplersKey = QStringLiteral("Other Samplers");

// "key=value|..." in insertion order, without the other samplers' summary, then "LoRA=file@weight";
// with `keysOf`, only its keys but the LoRAs, in its order ("<missing>": absent).
QString settingsText(const LimnoraMetadata& record, const std::optional<QString>& keysOf = std::nullopt)
{
    QStringList keys = keysOf ? keysOf->split(u'|', Qt::SkipEmptyParts) : QStringList();
    for (const auto& [key, value] : keysOf ? QList<QPair<QString, QString>>() : record.settings.entries())
        keys.append(key);
    QStringList pairs;
    for (const QString& key : std::as_const(keys)) {
        if (const QString name = key.section(u'=', 0, 0); name != otherSamplersKey && name != u"LoRA")
            pairs.append(name + u'=' + record.settings.value(name).value_or(u"<missing>"_qs));
    }
    for (const LoraEntry& lora : record.loras)
        pairs.append(QStringLiteral("LoRA=%1@%2").arg(lora.file).arg(lora.weight));
    return pairs.join(u'|');
}

const QString a1111Settings
    = QStringLiteral("Steps=15|Sampler=UniPC|Guidance Scale=5|Seed=235284042|Size=512x400|Model hash=c0d1994c73|"
                     "Model=realistic_realisticVisionV20_v20");

// "KSampler 3|KSamplerAdvanced 57": which samplers the summary describes.
QString otherSamplers(const LimnoraMetadata& record)
{
    QStringList names;
    for (const QString& summary :
        record.settings.value(otherSamplersKey).value_or(QString()).split(QStringLiteral("; ")))
        names.append(summary.section(u':', 0, 0));
    return names.join(u'|');
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

class TestForeignReaders : public QObject
{
    Q_OBJECT

private slots:
    void looksLikeInfotext_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("looks");
        QTest::newRow("negative part") << "a cat\nNegative prompt: dog\nSteps: 20" << true;
        QTest::newRow("CFG scale pair") << "a cat\nSteps: 20, CFG scale: 7, Seed: 1" << true;
        QTest::newRow("Limnora line") << "a cat\n-dog\nSteps: 20, Guidance Scale: 7, Seed: 1" << false;
        QTest::newRow("CFG scale only in the prompt") << "CFG scale: 7 looks nice\nSteps: 20" << false;
        QTest::newRow("plain text") << "just words" << false;
    }

    void looksLikeInfotext()
    {
        QFETCH(QString, text);
        QTEST(looksLikeA1111Infotext(text), "looks");
    }

    void jsonKeys_data()
    {
        QTest::addColumn<QString>("json");
        QTest::addColumn<QString>("parent");
        QTest::addColumn<QStringList>("keys");
        QTest::newRow("written order, nested skipped")
            << "{\"z\": 1, \"a\": {\"q\": [1, {\"r\": 2}]}, \"m\\\"x\": \"s, \\\"t\\\": 3\", \"b\": [{\"c\": 1}]}"
            << "" << QStringList { "z", "a", "m\"x", "b" };
        QTest::newRow("parent's keys") << R"({"a": 1, "p": {"y": 1, "x": {"w": 2}, "v": []}, "q": {"u": 1}})"
                                       << "p" << QStringList { "y", "x", "v" };
        QTest::newRow("parent holds no object") << "{\"p\": \"text {\\\"k\\\": 1}\", \"k\": {\"a\": 1}}"
                                                << "p" << QStringList {};
    }

    void jsonKeys()
    {
        QFETCH(QString, json);
        QFETCH(QString, parent);
        QTEST(jsonKeysInOrder(json, parent), "keys");
    }

    // Real files and hand-written texts: which reader answers and what it takes out.
    void records_data()
    {
        QTest::addColumn<QString>("file"); // in tests/data/realworld, or empty
        QTest::addColumn<QStringList>("texts"); // when no file
        QTest::addColumn<int>("reader");
        QTest::addColumn<QString>("generator"); // empty: no record
        QTest::addColumn<QString>("prompt"); // "start…end" compares both ends
        QTest::addColumn<QString>("negative");
        QTest::addColumn<QString>("settings"); // for a file, a subset of the record's

        const auto row = [](const char* name, const QString& file, const QStringList& texts, int reader,
                             const QString& generator = {}, const QString& prompt = {}, const QString& negative = {},
                             const QString& settings = {}) {
            QTest::newRow(name) << file << texts << reader << generator << prompt << negative << settings;
        };
        const auto infotext
            = [&row](const char* name, const QString& text, const QString& generator = {}, const QString& prompt = {},
                  const QString& negative = {}, const QString& settings = {}) {
                  row(name, "", { "parameters", text }, A1111, generator, prompt, negative, settings);
              };
        const QStringList none;
        const QString a1111 = QStringLiteral("A1111 / Forge");
        infotext("multi-line negative, CRLF",
            "a cat\r\non a mat\r\nNegative prompt: blurry,\r\nlow quality\r\nSteps: 20, Sampler: Euler a, CFG scale: 7",
            a1111, "a cat\non a mat", "blurry,\nlow quality", "Steps=20|Sampler=Euler a|Guidance Scale=7");
        infotext("no negative, catalogue names",
            "a dog\nSteps: 30, Seed: 5, Size: 512x768, Model: C:\\models\\sd\\xl.safetensors, Denoising strength: "
            "0.4, Clip skip: 2, ENSD: 31337",
            a1111, "a dog", "",
            "Steps=30|Seed=5|Size=512x768|Model=xl.safetensors|Strength=0.4|CLIP Skip=2|ENSD=31337");
        infotext("schedule type joined",
            "p\nSteps: 4, Sampler: DPM++ 2M, Schedule type: Karras, Hires sampler: Euler, Hires schedule type: "
            "Automatic",
            a1111, "p", "", "Steps=4|Sampler=DPM++ 2M Karras|Hires sampler=Euler|Hires schedule type=Automatic");
        infotext("quoted value with commas, JSON values, SD.Next",
            "p\nSteps: 8, Lora hashes: \"one: abc123, two: def456\", Hashes: {\"model\": \"a, b\", \"x\": [1, 2]}, "
            "Template: \"say \\\"hi\\\", bye\", App: SD.Next, Version: 1",
            "SD.Next", "p", "",
            "Steps=8|Lora hashes=one: abc123, two: def456|Hashes={\"model\": \"a, b\", \"x\": [1, 2]}|"
            "Template=say \"hi\", bye|App=SD.Next|Version=1|LoRA=one@1|LoRA=two@1");
        infotext("lora tags with weights, hashes add only the untagged, Civitai",
            "a <lora:style/ink:0.6> b <LORA:detail:0.8:0.5> <lora:bare> <lora:unclosed\nNegative prompt: "
            "<lora:neg:2>\nSteps: 1, Lora hashes: \"detail: 1, extra: 2\", Civitai resources: [{\"type\": \"lora\"}]",
            "Civitai", "a <lora:style/ink:0.6> b <LORA:detail:0.8:0.5> <lora:bare> <lora:unclosed", "<lora:neg:2>",
            "Steps=1|Lora hashes=detail: 1, extra: 2|Civitai resources=[{\"type\": \"lora\"}]|LoRA=ink@0.6|"
            "LoRA=detail@0.8|LoRA=bare@1|LoRA=extra@1");
        infotext("unterminated quote falls back to the comma", "p\nSteps: 3, Note: \"open, Seed: 9", a1111, "p", "",
            "Steps=3|Note=\"open|Seed=9");
        infotext("settings line alone, automatic schedule", "Steps: 20, Sampler: Euler, Schedule type: Automatic",
            a1111, "", "", "Steps=20|Sampler=Euler");
        infotext("Fooocus writing this format", "p\nSteps: 2, Version: Fooocus v2.4.3", "Fooocus", "p", "",
            "Steps=2|Version=Fooocus v2.4.3");
        infotext("no Steps pair", "a cat\nNegative prompt: dog\nSampler: Euler, CFG scale: 7");
        infotext("Steps inside the prompt only", "Steps: 20 in the prompt\nand then more words");
        infotext("a lower-case steps key", "p\nsteps: 20, seed: 1");
        row("A1111 PNG", "a1111-parameters.png", none, A1111, "A1111 / Forge", "photo of a duck", "monochrome",
            a1111Settings);
        row("A1111 JPEG UserComment", "a1111-usercomment.jpg", none, A1111, "A1111 / Forge", "photo of a duck",
            "monochrome", a1111Settings);
        row("Fooocus", "fooocus-parameters.png", none, Fooocus, "Fooocus", "a smiling goldfish", "",
            "Model=juggernautXL_v8Rundiffusion|Sampler=dpmpp_2m_sde_gpu karras|Seed=6952411511246973023|Steps=30|"
            "Guidance Scale=4|Size=768x1280|Sharpness=2|CLIP Skip=2|performance=Speed|Refiner Model=<missing>|"
            "styles=['Fooocus V2', 'Fooocus Enhance', 'Fooocus Sharp']");
        const QString dreamPrompt
            = QStringLiteral("professional full body photo of young woman…film grain, low contrast");
        row("InvokeAI Dream", "invokeai-dream.png", none, Invoke, "InvokeAI", dreamPrompt,
            "rendering, glowing eyes, skinny",
            "Steps=50|Seed=2980747362|Size=512x768|Guidance Scale=5|Sampler=k_lms|Face Restoration Strength=0.9|"
            "CodeFormer Fidelity=0.75|Upscale=4 0.95");
        row("InvokeAI sd-metadata over Dream", "invokeai-sd-metadata.png", none, Invoke, "InvokeAI", dreamPrompt,
            "rendering, glowing eyes, skinny",
            "Model=deliberateForInvoke_v08|Steps=50|Guidance Scale=5|Seed=2980747362|Size=512x768|Sampler=k_lms|"
            "Hires Fix=false|app_version=2.3.0|Upscale=<missing>");
        row("InvokeAI metadata", "invokeai-metadata.png", none, Invoke, "InvokeAI",
            "digital artwork, oil painting.…holidays,", "grainy+, photo, oversaturated…unfocused , black and white",
            "Model=juggernautXL|Sampler=euler|Size=1024x1024|Seed=3293022630|Steps=35|Guidance Scale=8|VAE=VAEFix|"
            "generation_mode=sdxl_txt2img|cfg_rescale_multiplier=0|positive_style_prompt=<missing>");
        row("NovelAI", "novelai.png", none, Novel, "NovelAI", "masterpiece, best quality,  cat, space, icon",
            "lowres, bad anatomy, bad hands…watermark, username, blurry",
            "Steps=50|Sampler=k_euler_ancestral|Seed=2253955223|Strength=0.4|Noise=0|Guidance Scale=10|"
            "Model=Stable Diffusion 1D44365E");
        row("Fooocus reader leaves an infotext", "a1111-parameters.png", none, Fooocus);
        row("NovelAI reader leaves Fooocus", "fooocus-parameters.png", none, Novel);

        row("SwarmUI in a UserComment", "",
            { "UserComment", R"({"sui_image_params": {"prompt": "a fox", "negativeprompt": "rain",
                "model": "sdxl/juggernaut.safetensors", "seed": 42, "steps": 25, "cfgscale": 6.5, "aspectratio": "1:1",
                "width": 1024, "height": 1024, "sampler": "dpmpp_2m", "scheduler": "karras",
                "loras": ["style/ink", "detail"], "loraweights": ["0.7", 1], "swarm_version": "0.9"},
                "sui_models": [{"name": "x"}]})" },
            Swarm, "SwarmUI", "a fox", "rain",
            "Model=juggernaut.safetensors|Sampler=dpmpp_2m karras|Size=1024x1024|Seed=42|Steps=25|"
            "Guidance Scale=6.5|aspectratio=1:1|swarm_version=0.9|LoRA=ink@0.7|LoRA=detail@1");
        row("NovelAI v4 prompts", "",
            { "Software", "NovelAI", "Source", "NovelAI Diffusion V4 F6302A9D", "Comment",
                R"({"v4_prompt": {"caption": {"base_caption": "two cats", "char_captions": [{"char_caption":
             "girl, red hair"}, {"char_caption": "boy"}]}}, "v4_negative_prompt": {"caption": {"base_caption":
             "blurry", "char_captions": [{"char_caption": "hat"}]}}, "steps": 28, "scale": 5.0, "seed": 7,
             "sampler": "k_euler", "noise_schedule": "karras", "width": 832, "height": 1216, "cfg_rescale": 0.2})" },
            Novel, "NovelAI", "two cats", "blurry",
            "Model=NovelAI Diffusion V4 F6302A9D|Sampler=k_euler karras|Size=832x1216|"
            "Character 1 Prompt=girl, red hair|Character 2 Prompt=boy|Character 1 Negative Prompt=hat|"
            "Steps=28|Guidance Scale=5|Seed=7|cfg_rescale=0.2");
        row("Easy Diffusion, labelled keys", "",
            { "Prompt", "a boat", "Negative Prompt", "fog", "Seed", "99", "Stable Diffusion model",
                "models/sd-v1-5.ckpt", "Steps", "40", "Guidance Scale", "7.5", "Width", "512", "Height", "640",
                "Sampler", "euler_a", "LoRA model", "['lora/a', 'b']", "LoRA Strength", "[0.5, 0.25]",
                "Use Face Correction", "GFPGANv1.4" },
            Easy, "Easy Diffusion", "a boat", "fog",
            "Size=512x640|Seed=99|Model=sd-v1-5.ckpt|Steps=40|Guidance Scale=7.5|Sampler=euler_a|"
            "Use Face Correction=GFPGANv1.4|LoRA=a@0.5|LoRA=b@0.25");
        row("Easy Diffusion ignores a lone prompt", "",
            { "prompt", R"({"3": {"class_type": "KSampler"}})", "workflow", "{}" }, Easy);
        row("Fooocus needs its scheme", "", { "parameters", R"({"prompt": "a", "steps": 3})" }, Fooocus);
        row("Dream text without switches", "", { "Dream", "just a prompt" }, Invoke);
        for (const char* text : { R"({"3": {"class_type": "KSampler", "inputs": {"seed": 1)",
                 R"({"prompt": "a cat", "steps": 20, "sampler": "euler"})", R"({"3": {"type": "KSampler"}})",
                 R"({"nodes": [{"id": 1, "type": "KSampler"}]})", "prompt: a cat", R"([{"class_type": "KSampler"}])" })
            row(text, "", { "prompt", text }, Comfy);
    }

    void records()
    {
        QFETCH(QString, file);
        QFETCH(QStringList, texts);
        QFETCH(int, reader);
        QFETCH(QString, generator);
        const QList<RawText> raw = file.isEmpty() ? rawTexts(texts) : realTexts(file);
        QVERIFY(!raw.isEmpty());
        const auto record = readers[reader](raw);
        QCOMPARE(record.has_value(), !generator.isEmpty());
        if (!record)
            return;
        QCOMPARE(record->generator, generator);
        QFETCH(QString, prompt);
        QFETCH(QString, negative);
        QVERIFY2(matchesElided(record->prompt, prompt), qPrintable(record->prompt));
        QVERIFY2(matchesElided(record->negativePrompt, negative), qPrintable(record->negativePrompt));
        QFETCH(QString, settings);
        QCOMPARE(settingsText(*record, file.isEmpty() ? std::nullopt : std::optional(settings)), settings);
        QVERIFY(record->rawTexts.isEmpty());
    }

    // Hostile texts end quickly and without a crash.
    void hostile_data()
    {
        QTest::addColumn<QList<RawText>>("texts");
        QTest::addColumn<bool>("infotext"); // whether the A1111 reader answers
        const QString big(8 * 1024 * 1024, u'a');
        const QString deep = QString(200000, u'[') + QString(200000, u'{');
        const auto row = [](const char* name, const char* source, const QString& text, bool infotext) {
            QTest::newRow(name) << QList<RawText> { { source, text } } << infotext;
        };
        row("huge prompt", "parameters", big + "\nSteps: 2, Seed: 1", true);
        row("unterminated quote, open brackets", "parameters", "p\nSteps: 1, A: \"" + big + ", B: " + deep, true);
        row("lora tags never closed", "parameters", QString("<lora:").repeated(500000), false);
        row("key characters without colons", "parameters", QString("ab ").repeated(2000000), false);
        row("millions of switches", "Dream", "a" + QString(" -x 1").repeated(1000000), false);
        QTest::newRow("deep JSON everywhere") << QList<RawText> { { "parameters", "{\"a\": " + deep },
            { "Comment", "{\"uc\": " + deep }, { "invokeai_metadata", "{\"x\":" + deep }, { "sd-metadata", deep },
            { "UserComment", "{\"sui_image_params\": " + deep }, { "Dream", "\"" + big },
            { "prompt", "{\"3\": " + deep } } << false;
    }

    void hostile()
    {
        QFETCH(QList<RawText>, texts);
        QElapsedTimer timer;
        timer.start();
        QTEST(readAnyInfotext(texts).has_value(), "infotext");
        for (const Reader reader : readers)
            (void)reader(texts);
        for (const RawText& text : texts)
            (void)jsonKeysInOrder(text.text, QStringLiteral("a"));
        QVERIFY2(timer.elapsed() < 10000, qPrintable(QString::number(timer.elapsed())));
    }

    // Each real file's API graph and editor graph alone give the record read by hand; so do written API graphs.
    void graphs_data()
    {
        QTest::addColumn<QString>("file"); // in tests/data
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("form"); // the text, with %api, %editor: the file's graphs, %quoted: %api as JSON
        QTest::addColumn<QString>("prompt");
        QTest::addColumn<QString>("negative");
        QTest::addColumn<QString>("settings");
        QTest::addColumn<QString>("others");

        // JPEG and WebP keep the graphs in EXIF tags: every form gives the PNG's record.
        const QStringList exifForms { "Make", "prompt:%api", "ImageDescription", "Workflow: %editor", "UserComment",
            "{\"prompt\": %api, \"workflow\": %editor}", "UserComment", "{\"prompt\": \"%quoted\"}" };
        const auto rows = [&exifForms](const char* name, const QString& file, const QString& prompt,
                              const QString& negative, const QString& settings, const QString& others) {
            const QStringList forms = QStringList { "prompt", "%api", "workflow", "%editor" }
                + (file.contains(u"unclip") ? exifForms : QStringList());
            for (qsizetype i = 0; i < forms.size(); i += 2)
                QTest::addRow("%s, %s %s", name, qPrintable(forms[i]), qPrintable(forms[i + 1]))
                    << "realworld/" + file << forms[i] << forms[i + 1] << prompt << negative << settings << others;
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
        const auto graph = [](const char* file, const char* prompt, const char* negative, const char* settings,
                               const char* others = "") {
            QTest::newRow(file) << QStringLiteral("comfyui/") + file << "prompt"
                                << "%api" << prompt << negative << settings << others;
        };
        // Seed from a primitive, positive via a reroute, LoRA and CLIP skip in chains, a muted last sampler.
        graph("editor-graph.json", "a lighthouse at dusk", "blurry",
            "Model=juggernaut.safetensors|Sampler=dpmpp_2m karras|Steps=30|Guidance Scale=6.5|Seed=42|"
            "Size=832x1216|Batch Size=1|CLIP Skip=2|LoRA=ink.safetensors@0.8");
        // Settings on noise, guider, sampler and sigmas nodes; seed beyond 2^53; zeroed negative; scaled latent.
        graph("custom-sampler.json", "a red fox, in snow", "",
            "Model=flux1-dev.safetensors|Sampler=euler beta|Steps=28|Guidance Scale=1|Seed=9007199254740993|"
            "Size=1536x1152|Batch Size=1|Flux Guidance=3.5|LoRA=detail.safetensors@0.6");
        // A ControlNet passes both conditionings on (output 1 is the negative); img2img size.
        graph("controlnet-img2img.json", "castle", "fog",
            "Model=sdxl.safetensors|Sampler=euler karras|Steps=20|Guidance Scale=7|Seed=1|Size=640x480|"
            "Strength=0.75");
        // Cycles in the model, conditioning, text, seed and latent links end without a hang.
        graph("cycles.json", "loop", "loop",
            "Sampler=euler|Steps=10|Guidance Scale=5|LoRA=x.safetensors@1|LoRA=y.safetensors@0.5");
    }

    void graphs()
    {
        QFETCH(QString, file);
        QFETCH(QString, source);
        QFETCH(QString, form);
        QFile graph(test::sourceTreeRoot() + QStringLiteral("/tests/data/") + file);
        QVERIFY(graph.open(QIODevice::ReadOnly));
        const QList<RawText> texts = file.endsWith(u".png") ? readRawMetadataTexts(graph.fileName())
                                                            : QList<RawText> { { "prompt", graph.readAll() } };
        const QString api = rawTextFrom(texts, QStringLiteral("prompt")).value_or(QString());
        const QString quoted = QString::fromUtf8(QJsonDocument(QJsonArray { api }).toJson(QJsonDocument::Compact));
        form.replace(u"%api"_qs, api)
            .replace(u"%editor"_qs, rawTextFrom(texts, QStringLiteral("workflow")).value_or(QString()))
            .replace(u"%quoted"_qs, quoted.mid(2, quoted.size() - 4)); // without the brackets and quotes
        const auto record = readComfyUI({ { source, form } });
        QVERIFY(record);
        QCOMPARE(record->generator, QStringLiteral("ComfyUI"));
        QTEST(record->prompt, "prompt");
        QTEST(record->negativePrompt, "negative");
        QTEST(settingsText(*record), "settings");
        QTEST(otherSamplers(*record), "others");
        QVERIFY(record->rawTexts.isEmpty());
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

QTEST_GUILESS_MAIN(TestForeignReaders)
#include "tst_ForeignReaders.moc"
