#include "ExiftoolRunner.h"
#include "MetadataBlocks.h"
#include "MetadataExtraction.h"
#include "TestFiles.h"
#include "TestSandbox.h"

#include <QDir>
#include <QFile>
#include <QTest>

using namespace limnoscope;
using namespace limnoscope::test;

namespace {

const QString infotext = QStringLiteral("a cat on a sofa, ✓\nNegative prompt: dog\nSteps: 20, Sampler: Euler a, "
                                        "CFG scale: 7, Seed: 42, Size: 512x768, Model: sd_xl");
const QString none = QStringLiteral("<no record>");

// Every field of a record in one text, so that two readings compare whole.
QString describe(const std::optional<LimnoraMetadata>& record)
{
    if (!record)
        return none;
    QStringList lines { u"generator: "_qs + record->generator, u"prompt: "_qs + record->prompt,
        u"negative: "_qs + record->negativePrompt, u"settings line: "_qs + record->rawSettingsString,
        u"render time: "_qs + (record->renderDuration ? QString::number(*record->renderDuration) : QString()) };
    for (const auto& [key, value] : record->settings.entries())
        lines.append(u"setting "_qs + key + u" = "_qs + value);
    for (const LoraEntry& lora : record->loras)
        lines.append(u"lora "_qs + lora.file + u' ' + QString::number(lora.weight) + u' ' + lora.mode);
    for (const RawText& raw : record->rawTexts)
        lines.append(u"raw "_qs + raw.source + u": "_qs + raw.text);
    return lines.join(u'\n');
}

QStringList sources(const std::optional<LimnoraMetadata>& record)
{
    QStringList names;
    if (record) {
        for (const RawText& raw : record->rawTexts)
            names.append(raw.source);
    }
    return names;
}

} // namespace

// Images of other generators, real ones and written here, read by each route: the single-image
// load and the folder's batch, with exiftool and without. Each route must give the same record.
class TestForeignRoutes : public QObject
{
    Q_OBJECT

private:
    TestSandbox m_sandbox;
    QStringList m_names;
    // Per route, each file's record described.
    QHash<QString, QHash<QString, QString>> m_routes;

    void readAllRoutes()
    {
        QList<QUrl> urls;
        for (const QString& name : std::as_const(m_names))
            urls.append(m_sandbox.url(name));
        for (const bool withExiftool : { true, false }) {
            setExiftoolDisabled(!withExiftool);
            const QString suffix = withExiftool ? u" with exiftool"_qs : u" without exiftool"_qs;
            auto& single = m_routes[u"single"_qs + suffix];
            for (const QUrl& url : std::as_const(urls))
                single.insert(url.fileName(), describe(readImageMetadata(url)));
            auto& folder = m_routes[u"folder"_qs + suffix];
            readFolderMetadata(urls, [&folder](const QList<ImageMetadataResult>& results) {
                for (const ImageMetadataResult& result : results)
                    folder.insert(result.url.fileName(), describe(result.metadata));
            });
        }
        setExiftoolDisabled(false);
    }

private slots:
    void initTestCase()
    {
        const QDir realWorld(sourceTreeRoot() + QStringLiteral("/tests/data/realworld"));
        for (const QString& name : realWorld.entryList({ "*.png", "*.jpg" }, QDir::Files)) {
            if (name == u"a1111-stealth-alpha.png") // its text hides in the pixels' alpha bits
                continue;
            QVERIFY(QFile::copy(realWorld.filePath(name), m_sandbox.filePath(name)));
            m_names.append(name);
        }
        const auto add = [this](const QString& name, const QByteArray& bytes) {
            writeFile(m_sandbox.filePath(name), bytes);
            m_names.append(name);
        };
        add("utf16le-usercomment.jpg",
            jpegWith(exifBlock({ { 0x9286, 7, userComment("UNICODE", infotext, false), true } }, true)));
        add("usercomment.webp", webpWith(exifBlock({ { 0x9286, 7, userComment("UNICODE", infotext), true } }, false)));
        add("with-sidecar.png", PNGChunkWriter().tinyImageData().end().bytes());
        writeFile(m_sandbox.filePath("with-sidecar.txt"), infotext.toUtf8());
        add("infotext-description.png", pngWithDescription(infotext.toUtf8()));
        add("unknown-json.png", PNGChunkWriter().tEXt("Title", "t").tEXt("gen_data", "{\"x\": 1}").end().bytes());
        add("unknown-comment.jpg", jpegWith({}, { "made by hand" }));
        add("json-description.png", pngWithDescription("{\"unknown\": true}"));
        add("limnora.png", pngWithDescription(sampleLimnoraText().toLatin1()));
        add("prompt-only.png", pngWithDescription("just a prompt"));
        add("limnora-brace.png", pngWithDescription("{red|blue} car\nSteps: 20, Seed: 3"));
        add("photo.jpg",
            jpegWith(exifBlock({ { 0x010f, 2, "Camera\0"_qba }, { 0x0110, 2, "X100\0"_qba } }, true),
                { "CREATOR: gd-jpeg v1.0 (using IJG JPEG v62), quality = 82" }));
        add("plain.png", PNGChunkWriter().tEXt("Author", "me").tEXt("Title", "holiday").tinyImageData().end().bytes());
        readAllRoutes();
    }

    void sameRecordInEveryRoute_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("generator");
        QTest::addColumn<QString>("promptStart");
        QTest::addColumn<QStringList>("rawSources");

        struct Row {
            const char* tag;
            const char* name;
            QString generator;
            QString promptStart;
            QStringList rawSources;
        };
        const QStringList comfy = { "prompt", "workflow" };
        const QList<Row> rows = {
            { "A1111 PNG", "a1111-parameters.png", "A1111 / Forge", "photo of a duck", { "parameters" } },
            { "A1111 JPEG", "a1111-usercomment.jpg", "A1111 / Forge", "photo of a duck", { "UserComment" } },
            { "ComfyUI", "comfyui-img2img.png", "ComfyUI", "photograph of victorian woman", comfy },
            { "ComfyUI, several samplers", "comfyui-multi-sampler.png", "ComfyUI", "(best quality) beautiful", comfy },
            { "ComfyUI, noisy latents", "comfyui-noisy-latents.png", "ComfyUI", "girl (flat chest:0.9)", comfy },
            { "ComfyUI, two passes", "comfyui-unclip-2pass.png", "ComfyUI", "beautiful scenery", comfy },
            { "Fooocus", "fooocus-parameters.png", "Fooocus", "a smiling goldfish",
                { "parameters", "fooocus_scheme" } },
            { "InvokeAI Dream", "invokeai-dream.png", "InvokeAI", "professional full body photo", { "Dream" } },
            { "InvokeAI metadata", "invokeai-metadata.png", "InvokeAI", "digital artwork, oil painting",
                { "invokeai_metadata" } },
            { "InvokeAI sd-metadata", "invokeai-sd-metadata.png", "InvokeAI", "professional full body photo",
                { "Dream", "sd-metadata" } },
            { "NovelAI", "novelai.png", "NovelAI", "masterpiece, best quality,  cat",
                { "Title", "Description", "Software", "Source", "Comment" } },
            { "UTF-16 LE UserComment in big-endian EXIF", "utf16le-usercomment.jpg", "A1111 / Forge",
                u"a cat on a sofa, ✓"_qs, { "UserComment" } },
            { "WebP UserComment", "usercomment.webp", "A1111 / Forge", "a cat", { "UserComment" } },
            { "sidecar", "with-sidecar.png", "A1111 / Forge", "a cat", { "Sidecar" } },
            { "infotext as the description", "infotext-description.png", "A1111 / Forge", "a cat", { "Description" } },
            { "unknown JSON chunk: raw texts only", "unknown-json.png", "", "", { "Title", "gen_data" } },
            { "unknown comment: raw texts only", "unknown-comment.jpg", "", "", { "JPEG COM" } },
            { "unknown JSON description: raw texts only", "json-description.png", "", "", { "Description" } },
            { "Limnora", "limnora.png", "Limnora", "a lighthouse", {} },
            { "Limnora prompt starting with a brace", "limnora-brace.png", "Limnora", "{red|blue} car", {} },
            { "prompt alone", "prompt-only.png", "", "just a prompt", { "Description" } },
            { "photo", "photo.jpg", none, "", {} },
            { "plain PNG", "plain.png", none, "", {} },
        };
        for (const Row& row : rows)
            QTest::newRow(row.tag) << QString::fromLatin1(row.name) << row.generator << row.promptStart
                                   << row.rawSources;
    }

    void sameRecordInEveryRoute()
    {
        QFETCH(QString, name);
        QFETCH(QString, generator);
        QFETCH(QString, promptStart);
        QFETCH(QStringList, rawSources);

        const QString reference = m_routes.value(u"single without exiftool"_qs).value(name);
        for (auto route = m_routes.cbegin(); route != m_routes.cend(); ++route)
            QVERIFY2(route->value(name) == reference,
                qPrintable(route.key() + u":\n"_qs + route->value(name) + u"\nother route:\n"_qs + reference));

        setExiftoolDisabled(true);
        const auto record = readImageMetadata(m_sandbox.url(name));
        setExiftoolDisabled(false);
        if (generator == none) {
            QCOMPARE(describe(record), none);
            return;
        }
        QVERIFY(record);
        QCOMPARE(record->generator, generator);
        QVERIFY2(promptStart.isEmpty() ? record->prompt.isEmpty() : record->prompt.startsWith(promptStart),
            qPrintable(describe(record)));
        if (!generator.isEmpty() && generator != u"Limnora")
            QVERIFY2(!record->settings.isEmpty(), qPrintable(describe(record)));
        if (generator.isEmpty() && promptStart.isEmpty())
            QCOMPARE(describe(LimnoraMetadata { .rawTexts = record->rawTexts }), describe(record));
        QCOMPARE(sources(record), rawSources);
    }
};

QTEST_GUILESS_MAIN(TestForeignRoutes)
#include "tst_ForeignRoutes.moc"
