#include "ExiftoolRunner.h"
#include "MetadataBlocks.h"
#include "MetadataExtraction.h"
#include "RawMetadataTexts.h"
#include "StealthPNGInfo.h"
#include "TestFiles.h"
#include "TestSandbox.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QTest>

#include <zlib.h>

using namespace limnoscope;
using namespace limnoscope::test;

namespace {

const QString infotext = QStringLiteral("a cat on a sofa, ✓\nNegative prompt: dog\nSteps: 20, Sampler: Euler a, "
                                        "CFG scale: 7, Seed: 42, Size: 512x768, Model: sd_xl");
const QString none = QStringLiteral("<no record>");
const QString rawInfotext
    = QStringLiteral("a cat, ✓ ünïcode\nNegative prompt: dog\nSteps: 20, Sampler: Euler a, CFG scale: 7");

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

QStringList sources(const QList<RawText>& texts, bool withText = false)
{
    QStringList lines;
    for (const RawText& raw : texts)
        lines.append(withText ? raw.source + u'=' + raw.text : raw.source);
    return lines;
}

QByteArray gzip(const QByteArray& bytes)
{
    z_stream stream {};
    deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, MAX_WBITS + 16, 8, Z_DEFAULT_STRATEGY);
    QByteArray out(qsizetype(deflateBound(&stream, uLong(bytes.size()))) + 32, '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.constData()));
    stream.avail_in = uInt(bytes.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = uInt(out.size());
    deflate(&stream, Z_FINISH);
    out.truncate(qsizetype(stream.total_out));
    deflateEnd(&stream);
    return out;
}

// A PNG of noise, written by Qt (so with its real row filters), whose pixels hide `payload`
// behind `signature` in the lowest bits of alpha, or of red, green and blue, column by column.
QByteArray stealthPNG(const QByteArray& signature, const QByteArray& payload, QSize size,
    QImage::Format format = QImage::Format_ARGB32, qint64 declaredBits = -1)
{
    QImage image(size, format);
    QRandomGenerator noise(7);
    for (int y = 0; y < size.height(); ++y) {
        for (int x = 0; x < size.width(); ++x)
            image.setPixel(x, y, noise.generate());
    }
    const quint32 bits = quint32(declaredBits >= 0 ? declaredBits : payload.size() * 8);
    const QByteArray hidden
        = signature + QByteArray::fromHex(QByteArray::number(bits, 16).rightJustified(8, '0')) + payload;
    const bool alpha = signature.startsWith("stealth_png");
    for (qint64 i = 0; i < hidden.size() * 8; ++i) {
        const bool bit = (uchar(hidden[i / 8]) >> (7 - i % 8)) & 1;
        const qint64 pixel = alpha ? i : i / 3;
        const int x = int(pixel / size.height());
        const int y = int(pixel % size.height());
        QColor colour = image.pixelColor(x, y);
        const auto withBit = [bit](int value) { return (value & ~1) | int(bit); };
        if (alpha)
            colour.setAlpha(withBit(colour.alpha()));
        else if (i % 3 == 0)
            colour.setRed(withBit(colour.red()));
        else if (i % 3 == 1)
            colour.setGreen(withBit(colour.green()));
        else
            colour.setBlue(withBit(colour.blue()));
        image.setPixelColor(x, y, colour);
    }
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return buffer.data();
}

// NovelAI hides a copy of its text chunks in the alpha bits as one JSON object.
QByteArray novelAICopy()
{
    const QJsonObject comment { { "prompt", "a fox in snow" }, { "uc", "blurry" }, { "steps", 28 }, { "scale", 5.0 },
        { "seed", 77 }, { "sampler", "k_euler" }, { "width", 832 }, { "height", 1216 } };
    const QJsonObject texts { { "Title", "AI generated image" }, { "Description", "a fox in snow" },
        { "Software", "NovelAI" }, { "Source", "Stable Diffusion XL C1E1DE52" },
        { "Comment", QString::fromUtf8(QJsonDocument(comment).toJson(QJsonDocument::Compact)) } };
    return QJsonDocument(texts).toJson(QJsonDocument::Compact);
}

} // namespace

// The texts each image kind keeps, and images of other generators, real ones and written here, read
// by each route: the single-image load and the folder's batch, with exiftool and without. Each route
// must give the same record.
class TestForeignRoutes : public QObject
{
    Q_OBJECT

private:
    TestSandbox m_sandbox;
    QStringList m_names;
    int m_fileNumber = 0;
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
        // A graph beside an infotext: the format that names itself wins.
        const QList<RawText> comfy = readRawMetadataTexts(realWorld.filePath("comfyui-img2img.png"));
        add("comfyui-and-infotext.png",
            PNGChunkWriter()
                .iTXt("parameters", infotext.toUtf8())
                .iTXt("prompt", comfy.value(0).text.toUtf8())
                .end()
                .bytes());
        add("unknown-json.png", PNGChunkWriter().tEXt("Title", "t").tEXt("gen_data", "{\"x\": 1}").end().bytes());
        add("unknown-comment.jpg", jpegWith({}, { "made by hand" }));
        add("json-description.png", pngWithDescription("{\"unknown\": true}"));
        add("limnora.png", pngWithDescription(sampleLimnoraText().toLatin1()));
        add("prompt-only.png", pngWithDescription("just a prompt"));
        add("limnora-brace.png", pngWithDescription("{red|blue} car\nSteps: 20, Seed: 3"));
        add("photo.jpg",
            jpegWith(exifBlock({ { 0x010f, 2, "Camera\0"_qba }, { 0x0110, 2, "X100\0"_qba } }, true),
                { "CREATOR: gd-jpeg v1.0 (using IJG JPEG v62), quality = 82" }));
        add("novelai-hidden.png", stealthPNG("stealth_pngcomp", gzip(novelAICopy()), { 64, 64 }));
        add("plain.png", PNGChunkWriter().tEXt("Author", "me").tEXt("Title", "holiday").tinyImageData().end().bytes());
        readAllRoutes();
    }

    void sameRecordInEveryRoute_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("generator");
        QTest::addColumn<QString>("promptStart");
        QTest::addColumn<QStringList>("rawSources");
        const auto row = [](const char* tag, const char* name, const QString& generator, const QString& promptStart,
                             const QStringList& rawSources) {
            QTest::newRow(tag) << QString::fromLatin1(name) << generator << promptStart << rawSources;
        };
        const QStringList comfy = { "prompt", "workflow" };
        row("A1111 PNG", "a1111-parameters.png", "A1111 / Forge", "photo of a duck", { "parameters" });
        row("A1111 JPEG", "a1111-usercomment.jpg", "A1111 / Forge", "photo of a duck", { "UserComment" });
        row("ComfyUI", "comfyui-img2img.png", "ComfyUI", "photograph of victorian woman", comfy);
        row("ComfyUI, several samplers", "comfyui-multi-sampler.png", "ComfyUI", "(best quality) beautiful", comfy);
        row("ComfyUI, noisy latents", "comfyui-noisy-latents.png", "ComfyUI", "girl (flat chest:0.9)", comfy);
        row("ComfyUI beside an infotext", "comfyui-and-infotext.png", "ComfyUI", "photograph of victorian woman",
            { "parameters", "prompt" });
        row("ComfyUI, two passes", "comfyui-unclip-2pass.png", "ComfyUI", "beautiful scenery", comfy);
        row("Fooocus", "fooocus-parameters.png", "Fooocus", "a smiling goldfish", { "parameters", "fooocus_scheme" });
        row("InvokeAI Dream", "invokeai-dream.png", "InvokeAI", "professional full body photo", { "Dream" });
        row("InvokeAI metadata", "invokeai-metadata.png", "InvokeAI", "digital artwork, oil painting",
            { "invokeai_metadata" });
        row("InvokeAI sd-metadata", "invokeai-sd-metadata.png", "InvokeAI", "professional full body photo",
            { "Dream", "sd-metadata" });
        row("NovelAI", "novelai.png", "NovelAI", "masterpiece, best quality,  cat",
            { "Title", "Description", "Software", "Source", "Comment" });
        row("A1111, in the pixels' alpha bits", "a1111-stealth-alpha.png", "A1111 / Forge", "a circle",
            { "stealth_pngcomp" });
        row("NovelAI, a copy of its texts in the alpha bits", "novelai-hidden.png", "NovelAI", "a fox in snow",
            { "Comment", "Description", "Software", "Source", "Title" });
        row("UTF-16 LE UserComment in big-endian EXIF", "utf16le-usercomment.jpg", "A1111 / Forge",
            u"a cat on a sofa, ✓"_qs, { "UserComment" });
        row("WebP UserComment", "usercomment.webp", "A1111 / Forge", "a cat", { "UserComment" });
        row("sidecar", "with-sidecar.png", "A1111 / Forge", "a cat", { "Sidecar" });
        row("infotext as the description", "infotext-description.png", "A1111 / Forge", "a cat", { "Description" });
        row("unknown JSON chunk: raw texts only", "unknown-json.png", "", "", { "Title", "gen_data" });
        row("unknown comment: raw texts only", "unknown-comment.jpg", "", "", { "JPEG COM" });
        row("unknown JSON description: raw texts only", "json-description.png", "", "", { "Description" });
        row("Limnora", "limnora.png", "Limnora", "a lighthouse", {});
        row("Limnora prompt starting with a brace", "limnora-brace.png", "Limnora", "{red|blue} car", {});
        row("prompt alone", "prompt-only.png", "", "just a prompt", { "Description" });
        row("photo", "photo.jpg", none, "", {});
        row("plain PNG", "plain.png", none, "", {});
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
        if (generator.isEmpty() && promptStart.isEmpty()) {
            LimnoraMetadata rawTextsAlone;
            rawTextsAlone.rawTexts = record->rawTexts;
            QCOMPARE(describe(rawTextsAlone), describe(record));
        }
        QCOMPARE(sources(record ? record->rawTexts : QList<RawText> {}), rawSources);
    }

    void texts_data()
    {
        QTest::addColumn<QString>("suffix"); // empty: `file` is the path of a file to read as it is
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QByteArray>("sidecar");
        QTest::addColumn<QString>("expected"); // "source=text|source=text"

        const auto row = [](const QByteArray& name, const char* suffix, const QByteArray& file, const QString& expected,
                             const QByteArray& sidecar = {}) {
            QTest::newRow(name.constData()) << QString::fromLatin1(suffix) << file << sidecar << expected;
        };
        const auto comment = [](const QString& text, const char* code = "UNICODE", bool bigEndianText = false,
                                 bool bigEndianTIFF = true) {
            return exifBlock({ { 0x9286, 7, userComment(code, text, bigEndianText), true } }, bigEndianTIFF);
        };
        const QString infotextComment = u"UserComment="_qs + rawInfotext;
        for (const bool bigEndianTIFF : { true, false }) {
            for (const bool bigEndianText : { true, false }) {
                const QByteArray exif = comment(rawInfotext, "UNICODE", bigEndianText, bigEndianTIFF);
                const QByteArray name = QByteArray(bigEndianText ? "UTF-16 BE" : "UTF-16 LE") + " in "
                    + (bigEndianTIFF ? "big" : "little") + "-endian EXIF";
                row("JPEG, " + name, "jpg", jpegWith(exif), infotextComment);
                row("WebP, " + name, "webp", webpWith(exif), infotextComment);
            }
        }
        row("JPEG, UTF-16 without ASCII follows the EXIF byte order", "jpg",
            jpegWith(comment(u"猫犬"_qs, "UNICODE", false, false)), u"UserComment=猫犬"_qs);
        row("JPEG, ASCII code holding UTF-8", "jpg", jpegWith(comment(rawInfotext, "ASCII", false, false)),
            infotextComment);
        row("JPEG, undefined code, trailing zeros", "jpg",
            jpegWith(exifBlock({ { 0x9286, 7, userComment("", "x") + QByteArray(5, '\0'), true } }, true)),
            "UserComment=x");
        row("JPEG, blank comment left out", "jpg", jpegWith(comment("   ", "ASCII")), "");
        row("JPEG, UserComment in the first IFD, description tags, COM", "jpg",
            jpegWith(exifBlock({ { 0x010e, 2, "{\"a\": 1}\0"_qba }, { 0x010f, 2, "Make text\0"_qba },
                                   { 0x0110, 2, "Model text\0"_qba },
                                   { 0x9286, 7, userComment("UNICODE", "first IFD", false) } },
                         true),
                { "first comment", "caf\xe9" }),
            u"ImageDescription={\"a\": 1}|Make=Make text|Model=Model text|UserComment=first IFD|"
            u"JPEG COM=first comment|JPEG COM=café"_qs);
        row("WebP, XMP description", "webp", webpWith({}, xmpPacket("<dc:description>from XMP</dc:description>")),
            "XMP=from XMP");
        PNGChunkWriter chunks;
        chunks.tEXt("parameters", "Latin-1 caf\xe9").iTXt("prompt", "{\"1\": \"✓\"}", true);
        chunks.zTXt("workflow", "squeezed").iTXt("Comment", "plain ✓").tinyImageData();
        chunks.tEXt("late", "after the pixels").end();
        row("PNG text chunks in file order, none after the image data", "png", chunks.bytes(),
            u"parameters=Latin-1 café|prompt={\"1\": \"✓\"}|workflow=squeezed|Comment=plain ✓"_qs);
        row("PNG, damaged compressed chunk passed over", "png",
            PNGChunkWriter().chunk("zTXt", QByteArray("bad\0\0garbage", 12)).tEXt("parameters", "kept").end().bytes(),
            "parameters=kept");
        row("PNG truncated inside a chunk", "png",
            PNGChunkWriter().tEXt("a", "one").tEXt("b", "two").bytes().chopped(6), "a=one");
        PNGChunkWriter bombs;
        for (int i = 0; i < 5; ++i)
            bombs.zTXt("blank", QByteArray(15 * 1024 * 1024, ' '));
        row("PNG, walk ends at 64 MB inflated", "png", bombs.tEXt("parameters", "not reached").end().bytes(), "");
        row("sidecar too large", "png", PNGChunkWriter().tinyImageData().end().bytes(), "",
            QByteArray(maxSidecarBytes + 1, 'x'));
        // What exiftool writes reads back the same (it picks the character code itself).
        const QString written = m_sandbox.filePath(QStringLiteral("raw/exiftool.jpg"));
        writeImage(written, "JPEG");
        runExiftool({ u"-UserComment="_qs + rawInfotext, u"-Make=Maker"_qs, written });
        row("written by exiftool", "", written.toUtf8(), "Make=Maker|" + infotextComment);
        for (const QString& special : { m_sandbox.path(), u"/dev/zero"_qs, m_sandbox.filePath(u"missing.png"_qs) })
            row(special.toUtf8(), "", special.toUtf8(), "");
        row("not an image", "jpg", QByteArray("\xff\xd8\xff"), "");
    }

    void hiddenTexts_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("expected"); // "source=text|source=text"
        const QByteArray text = rawInfotext.toUtf8();
        const QString found = u'=' + rawInfotext;
        QTest::newRow("alpha bits") << stealthPNG("stealth_pnginfo", text, { 40, 40 }) << "stealth_pnginfo" + found;
        QTest::newRow("alpha bits, compressed")
            << stealthPNG("stealth_pngcomp", gzip(text), { 40, 40 }) << "stealth_pngcomp" + found;
        QTest::newRow("colour bits of an RGB image, compressed")
            << stealthPNG("stealth_rgbcomp", gzip(text), { 30, 30 }, QImage::Format_RGB32) << "stealth_rgbcomp" + found;
        QTest::newRow("colour bits, the signature running over three columns")
            << stealthPNG("stealth_rgbinfo", text, { 120, 16 }) << "stealth_rgbinfo" + found;
        QTest::newRow("no signature") << stealthPNG("stealth_nothing", text, { 40, 40 }) << "";
        QTest::newRow("length past the pixels")
            << stealthPNG("stealth_pnginfo", text, { 40, 40 }, QImage::Format_ARGB32, 40 * 40) << "";
        QTest::newRow("damaged compressed text")
            << stealthPNG("stealth_pngcomp", gzip(text).chopped(9), { 40, 40 }) << "";
        QByteArray huge = PNGChunkWriter().tinyImageData().end().bytes();
        huge.replace(16, 8, QByteArray(8, '\xff')); // 4,294,967,295 pixels square
        QTest::newRow("impossible size") << huge << "";
        QTest::newRow("cut short") << stealthPNG("stealth_pnginfo", text, { 40, 40 }).chopped(300) << "";
    }

    void hiddenTexts()
    {
        QFETCH(QByteArray, file);
        const QString path = m_sandbox.filePath(QStringLiteral("hidden/image%1.png").arg(++m_fileNumber));
        writeFile(path, file);
        QTEST(sources(readStealthPNGTexts(path), true).join(u'|'), "expected");
    }

    void texts()
    {
        QFETCH(QString, suffix);
        QFETCH(QByteArray, file);
        QFETCH(QByteArray, sidecar);
        const QString base = m_sandbox.filePath(QStringLiteral("raw/image%1").arg(++m_fileNumber));
        const QString path = suffix.isEmpty() ? QString::fromUtf8(file) : base + u'.' + suffix;
        if (!suffix.isEmpty())
            writeFile(path, file);
        if (!sidecar.isEmpty())
            writeFile(base + QStringLiteral(".txt"), sidecar);
        QTEST(sources(readRawMetadataTexts(path), true).join(u'|'), "expected");
    }
};

QTEST_GUILESS_MAIN(TestForeignRoutes)
#include "tst_ForeignRoutes.moc"
