// Metadata reading: the in-process pipeline against exiftool's own batch command line over the
// same 2,000 images, and the folder route with exiftool, in one run; then other generators'
// images (2,000 A1111 PNGs, 2,000 JPEGs with an A1111 UserComment) and 2,000 PNGs without any
// metadata (which are also looked at for a text hidden in their pixels) through the folder route
// without exiftool, against exiftool over the same files.

#include "ExiftoolRunner.h"
#include "MetadataBlocks.h"
#include "MetadataExtraction.h"
#include "MetadataParser.h"
#include "PNGChunkWriter.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>
#include <functional>

using namespace limnoscope;

namespace {

constexpr int imagesPerKind = 1000;
constexpr int side = 512;
constexpr qsizetype exiftoolBatch = 100;

QByteArray limnoraText(int seed)
{
    QByteArray text = "cinematic photograph of an old lighthouse keeper reading by lamplight, weathered hands, "
                      "warm tungsten glow, rain on the window, shallow depth of field, 85mm lens, film grain, "
                      "intricate detail, muted teal and amber palette\n"
                      "-cartoon, illustration, blurry, deformed hands, extra fingers, lowres, jpeg artifacts, "
                      "watermark, signature, text\n"
                      "Steps: 30, Sampler: DPM++ 2M Karras, Guidance Scale: 5.5, Seed: ";
    text += QByteArray::number(seed);
    text += ", Size: 832x1216, Model: limnora_xl_v2_f16.ckpt, Strength: 1.0, Shift: 1.0, Seed Mode: Scale Alike, "
            "Batch Count: 1, Batch Size: 1, LoRA 1 Model: film_grain_v3.safetensors, LoRA 1 Weight: 0.6, "
            "LoRA 2 Model: lamplight.safetensors, LoRA 2 Weight: 0.35";
    return text;
}

QByteArray xmlEscaped(const QByteArray& text)
{
    return QByteArray(text).replace("&", "&amp;").replace("<", "&lt;").replace(">", "&gt;").replace("\n", "&#xA;");
}

// A JPEG with an XMP packet holding the text as a plain dc:description, in an APP1 segment
// right after the start-of-image marker.
QByteArray jpegWithXmp(const QByteArray& jpeg, const QByteArray& text)
{
    const QByteArray packet = "<?xpacket begin='' id='W5M0MpCehiHzreSzNTczkc9d'?><x:xmpmeta xmlns:x='adobe:ns:meta/'>"
                              "<rdf:RDF xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'>"
                              "<rdf:Description rdf:about='' xmlns:dc='http://purl.org/dc/elements/1.1/'>"
                              "<dc:description>"
        + xmlEscaped(text) + "</dc:description></rdf:Description></rdf:RDF></x:xmpmeta><?xpacket end='w'?>";
    const QByteArray payload = QByteArray("http://ns.adobe.com/xap/1.0/") + '\0' + packet;
    const int length = int(payload.size()) + 2;
    QByteArray segment("\xFF\xE1", 2);
    segment.append(char(length >> 8));
    segment.append(char(length & 0xFF));
    return jpeg.left(2) + segment + payload + jpeg.mid(2);
}

struct Images {
    QByteArray jpeg;
    QByteArray pngPixels; // every PNG chunk after IHDR
};

Images sampleImages()
{
    QImage image(side, side, QImage::Format_RGB32);
    for (int y = 0; y < side; ++y) {
        for (int x = 0; x < side; ++x)
            image.setPixel(x, y, qRgb(x / 2, y / 2, (x + y) / 4));
    }
    Images images;
    QBuffer buffer(&images.jpeg);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG", 85);
    images.pngPixels = PNGChunkWriter(side, side).imageData(image).end().bytes().mid(33);
    return images;
}

// Writes `bytes` as `dir`/`name` and gives its URL.
QUrl writeImageFile(const QDir& dir, const QString& name, const QByteArray& bytes)
{
    QFile file(dir.filePath(name));
    file.open(QIODevice::WriteOnly);
    file.write(bytes);
    return QUrl::fromLocalFile(file.fileName());
}

QList<QUrl> writeCorpus(const QDir& dir)
{
    const Images images = sampleImages();
    QList<QUrl> urls;
    for (int i = 0; i < imagesPerKind; ++i) {
        const QString name = QStringLiteral("image-%1").arg(i, 4, 10, QLatin1Char('0'));
        urls.append(writeImageFile(dir, name + ".png",
            PNGChunkWriter(side, side).tEXt("Description", limnoraText(i)).bytes() + images.pngPixels));
        urls.append(writeImageFile(dir, name + ".jpg", jpegWithXmp(images.jpeg, limnoraText(i))));
    }
    return urls;
}

QByteArray a1111Text(int seed)
{
    return "cinematic photograph of an old lighthouse keeper reading by lamplight, weathered hands, "
           "<lora:film_grain_v3:0.6>, warm tungsten glow, rain on the window, shallow depth of field\n"
           "Negative prompt: cartoon, illustration, blurry, deformed hands, extra fingers, lowres\n"
           "Steps: 30, Sampler: DPM++ 2M, Schedule type: Karras, CFG scale: 5.5, Seed: "
        + QByteArray::number(seed)
        + ", Size: 832x1216, Model hash: 31e35c80fc, Model: sd_xl_base_1.0, Denoising strength: 0.4, "
          "Lora hashes: \"film_grain_v3: 1a2b3c4d5e6f\", Version: v1.10.1";
}

QList<QUrl> writeForeignCorpus(const QDir& dir)
{
    const Images images = sampleImages();
    QList<QUrl> urls;
    for (int i = 0; i < 2 * imagesPerKind; ++i) {
        const QString name = QStringLiteral("a1111-%1").arg(i, 4, 10, QLatin1Char('0'));
        urls.append(writeImageFile(dir, name + ".png",
            PNGChunkWriter(side, side).tEXt("parameters", a1111Text(i)).bytes() + images.pngPixels));
        // A UserComment in UTF-16 ("UNICODE" code) in the Exif IFD, as the A1111 web UI writes it.
        const ExifField comment { 0x9286, 7, userComment("UNICODE", QString::fromUtf8(a1111Text(i))), true };
        urls.append(writeImageFile(dir, name + ".jpg", jpegWith(exifBlock({ comment }, true))));
    }
    return urls;
}

// PNGs without any text, as screenshots and edited pictures are.
QList<QUrl> writePlainCorpus(const QDir& dir)
{
    const Images images = sampleImages();
    QList<QUrl> urls;
    for (int i = 0; i < 2 * imagesPerKind; ++i) {
        const QString name = QStringLiteral("plain-%1.png").arg(i, 4, 10, QLatin1Char('0'));
        urls.append(writeImageFile(dir, name, PNGChunkWriter(side, side).bytes() + images.pngPixels));
    }
    return urls;
}

// exiftool's own batch command line, 100 files per process: the files per second.
double exiftoolRate(const QString& exiftool, const QList<QUrl>& urls)
{
    QElapsedTimer timer;
    timer.start();
    for (qsizetype start = 0; start < urls.size(); start += exiftoolBatch) {
        QStringList arguments = { "-json", "-Description", "-Comment", "-UserComment", "-Parameters", "-all", "-q" };
        for (const QUrl& url : urls.mid(start, exiftoolBatch))
            arguments.append(url.toLocalFile());
        QProcess process;
        process.setStandardOutputFile(QProcess::nullDevice());
        process.start(exiftool, arguments);
        process.waitForFinished(-1);
    }
    return urls.size() / (timer.nsecsElapsed() / 1e9);
}

void print(const QByteArray& figure, double value)
{
    std::printf("metadata.%s: %.1f\n", figure.constData(), value);
    std::fflush(stdout);
}

// The folder route without exiftool over `urls`, every record as `expected` says, against
// exiftool's batches over the same files: prints NAME_files_per_second, the exiftool rate and
// their ratio. False when a record is not as expected.
bool compareFolderRoute(const char* name, const QList<QUrl>& urls,
    const std::function<bool(const std::optional<LimnoraMetadata>&)>& expected, const QString& exiftool)
{
    setExiftoolDisabled(true);
    QElapsedTimer timer;
    timer.start();
    qsizetype asExpected = 0;
    readFolderMetadata(urls, [&](const QList<ImageMetadataResult>& results) {
        for (const ImageMetadataResult& result : results)
            asExpected += expected(result.metadata);
    });
    const double rate = urls.size() / (timer.nsecsElapsed() / 1e9);
    setExiftoolDisabled(false);
    if (asExpected != urls.size()) {
        std::fprintf(stderr, "metadata: only %lld of %lld %s images read as expected\n", qlonglong(asExpected),
            qlonglong(urls.size()), name);
        return false;
    }
    const double exiftoolFilesPerSecond = exiftoolRate(exiftool, urls);
    const QByteArray prefix(name);
    print(prefix + "_files_per_second", rate);
    print(prefix + "_exiftool_files_per_second", exiftoolFilesPerSecond);
    print("ratio_" + prefix + "_inprocess_vs_exiftool", rate / exiftoolFilesPerSecond);
    return true;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const QList<QUrl> urls = writeCorpus(QDir(dir.path()));
    const auto exiftool = locateExiftool();
    if (!exiftool) {
        std::fprintf(stderr, "metadata: exiftool is not installed (tools/setup installs it)\n");
        return 1;
    }

    // In-process, exiftool switched off: every file read and parsed.
    setExiftoolDisabled(true);
    QElapsedTimer timer;
    timer.start();
    int found = 0;
    for (const QUrl& url : urls)
        found += readImageMetadata(url).has_value();
    const double inProcessRate = urls.size() / (timer.nsecsElapsed() / 1e9);
    setExiftoolDisabled(false);
    if (found != urls.size()) {
        std::fprintf(stderr, "metadata: only %d of %lld images read\n", found, qlonglong(urls.size()));
        return 1;
    }

    const double exiftoolFilesPerSecond = exiftoolRate(*exiftool, urls);

    // The folder route with exiftool, as the prefetch runs it.
    timer.restart();
    qsizetype delivered = 0;
    readFolderMetadata(urls, [&](const QList<ImageMetadataResult>& results) { delivered += results.size(); });
    const double batchRouteRate = delivered / (timer.nsecsElapsed() / 1e9);

    print("inprocess_files_per_second", inProcessRate);
    print("exiftool_files_per_second", exiftoolFilesPerSecond);
    print("batch_route_files_per_second", batchRouteRate);
    print("ratio_inprocess_vs_exiftool", inProcessRate / exiftoolFilesPerSecond);

    // Other generators' images through the folder route without exiftool, every one recognised,
    // and PNGs without metadata, none given a record; each against exiftool over the same files.
    QTemporaryDir foreignDir;
    const QList<QUrl> foreignURLs = writeForeignCorpus(QDir(foreignDir.path()));
    const auto isA1111 = [](const std::optional<LimnoraMetadata>& record) {
        return record && record->generator == QLatin1String("A1111 / Forge");
    };
    QTemporaryDir plainDir;
    const QList<QUrl> plainURLs = writePlainCorpus(QDir(plainDir.path()));
    const auto hasNone = [](const std::optional<LimnoraMetadata>& record) { return !record; };
    return compareFolderRoute("foreign", foreignURLs, isA1111, *exiftool)
            && compareFolderRoute("plain_png", plainURLs, hasNone, *exiftool)
        ? 0
        : 1;
}
