#include "MetadataExtraction.h"

#include "ExiftoolRunner.h"
#include "ForeignMetadata.h"
#include "MetadataParser.h"
#include "PNGTextReader.h"
#include "RawMetadataTexts.h"
#include "RegularFile.h"
#include "StealthPNGInfo.h"
#include "XMPPacket.h"

#include <QFileInfo>
#include <QJsonDocument>

#include <exiv2/exiv2.hpp>
#include <libheif/heif.h>

#include <algorithm>
#include <memory>

namespace limnoscope {
namespace {

// Files are read whole into memory before a library parses them: the libraries would otherwise
// map a file (exiv2 does for TIFF), and one truncated meanwhile would bring the process down.
// An image larger than this is not read for metadata at all.
constexpr qint64 maxImageFileBytes = 256 * 1024 * 1024;

bool hasExtension(const QString& path, QLatin1String extension)
{
    return QFileInfo(path).suffix().compare(extension, Qt::CaseInsensitive) == 0;
}

std::optional<QString> nonEmpty(const std::string& utf8)
{
    if (utf8.empty())
        return std::nullopt;
    return QString::fromStdString(utf8);
}

std::optional<QString> exifImageDescription(const Exiv2::ExifData& exif)
{
    const auto found = exif.findKey(Exiv2::ExifKey("Exif.Image.ImageDescription"));
    if (found == exif.end() || found->typeId() != Exiv2::asciiString)
        return std::nullopt;
    return nonEmpty(found->toString());
}

// What an image file says about itself: the EXIF/TIFF image description, the PNG "Description"
// text and the raw XMP packet.
struct EmbeddedMetadata {
    std::optional<QString> tiffImageDescription;
    std::optional<QString> pngDescription;
    QByteArray xmpPacket;
};

std::optional<EmbeddedMetadata> readWithExiv2(const QByteArray& bytes)
{
    try {
        auto image
            = Exiv2::ImageFactory::open(reinterpret_cast<const Exiv2::byte*>(bytes.constData()), long(bytes.size()));
        if (image.get() == nullptr)
            return std::nullopt;
        image->readMetadata();
        EmbeddedMetadata found;
        found.tiffImageDescription = exifImageDescription(image->exifData());
        // For PNG files the library reports the "Description" text chunk as the comment.
        if (image->imageType() == Exiv2::ImageType::png)
            found.pngDescription = nonEmpty(image->comment());
        // Keep the packet as stored: otherwise the library serialises its own reading of it, in
        // which a plain-string description has become a language alternative.
        image->writeXmpFromPacket(true);
        found.xmpPacket = QByteArray::fromStdString(image->xmpPacket());
        return found;
    } catch (...) {
        return std::nullopt;
    }
}

// HEIC metadata blocks through libheif: the Exif block starts with a 4-byte offset to its TIFF
// header; XMP comes as a "mime" block of type application/rdf+xml.
// `bytes` must outlive the context, which reads from them without a copy.
std::optional<EmbeddedMetadata> readWithLibheif(const QByteArray& bytes)
{
    std::unique_ptr<heif_context, decltype(&heif_context_free)> context(heif_context_alloc(), heif_context_free);
    if (!context)
        return std::nullopt;
    if (heif_context_read_from_memory_without_copy(context.get(), bytes.constData(), size_t(bytes.size()), nullptr).code
        != heif_error_Ok)
        return std::nullopt;
    heif_image_handle* rawHandle = nullptr;
    if (heif_context_get_primary_image_handle(context.get(), &rawHandle).code != heif_error_Ok)
        return std::nullopt;
    std::unique_ptr<heif_image_handle, decltype(&heif_image_handle_release)> handle(
        rawHandle, heif_image_handle_release);

    EmbeddedMetadata found;
    const int count = heif_image_handle_get_number_of_metadata_blocks(handle.get(), nullptr);
    std::vector<heif_item_id> ids(size_t(std::max(count, 0)));
    heif_image_handle_get_list_of_metadata_block_IDs(handle.get(), nullptr, ids.data(), count);
    constexpr size_t maxBlockSize = 16 * 1024 * 1024;
    for (heif_item_id id : ids) {
        const size_t size = heif_image_handle_get_metadata_size(handle.get(), id);
        if (size == 0 || size > maxBlockSize)
            continue;
        QByteArray block(qsizetype(size), Qt::Uninitialized);
        if (heif_image_handle_get_metadata(handle.get(), id, block.data()).code != heif_error_Ok)
            continue;
        const QByteArray type = heif_image_handle_get_metadata_type(handle.get(), id);
        const QByteArray contentType = heif_image_handle_get_metadata_content_type(handle.get(), id);
        if (type == "Exif" && block.size() > 4 && !found.tiffImageDescription) {
            const quint32 offset = (quint32(uchar(block[0])) << 24) | (quint32(uchar(block[1])) << 16)
                | (quint32(uchar(block[2])) << 8) | quint32(uchar(block[3]));
            if (offset >= quint32(block.size() - 4))
                continue;
            try {
                Exiv2::ExifData exif;
                const auto* tiff = reinterpret_cast<const Exiv2::byte*>(block.constData()) + 4 + offset;
                Exiv2::ExifParser::decode(exif, tiff, uint32_t(block.size() - 4 - qsizetype(offset)));
                found.tiffImageDescription = exifImageDescription(exif);
            } catch (...) {
            }
        } else if (type == "mime" && contentType == "application/rdf+xml" && found.xmpPacket.isEmpty()) {
            found.xmpPacket = block;
        }
    }
    return found;
}

} // namespace

std::optional<QString> extractMetadataText(const QUrl& fileURL)
{
    if (auto text = readDescriptionWithExiftool(fileURL))
        return text;
    return extractBuiltInMetadataText(fileURL);
}

std::optional<QString> extractBuiltInMetadataText(const QUrl& fileURL)
{
    const QString path = fileURL.toLocalFile();
    if (hasExtension(path, QLatin1String("png"))) {
        if (auto text = readPNGTextMetadata(path))
            return text;
    }

    const auto bytes = readRegularFile(path, maxImageFileBytes);
    if (!bytes)
        return std::nullopt;
    setUpExiv2();
    const bool heic = hasExtension(path, QLatin1String("heic"));
    const auto embedded = heic ? readWithLibheif(*bytes) : readWithExiv2(*bytes);
    if (!embedded)
        return std::nullopt;
    if (embedded->tiffImageDescription)
        return embedded->tiffImageDescription;
    if (embedded->pngDescription)
        return embedded->pngDescription;
    return xmpDescription(embedded->xmpPacket);
}

namespace {

// A text no Limnora image holds: a JSON document (ComfyUI's graphs, Fooocus's parameters, ...)
// or the A1111 family's infotext. A Limnora prompt may start with a brace ("{red|blue} car"):
// only a whole JSON document counts.
bool isPlainlyForeign(const QString& text)
{
    const QStringView trimmed = QStringView(text).trimmed();
    if (trimmed.startsWith(u'{') || trimmed.startsWith(u'[')) {
        QJsonParseError error;
        QJsonDocument::fromJson(trimmed.toUtf8(), &error);
        if (error.error == QJsonParseError::NoError)
            return true;
    }
    return looksLikeA1111Infotext(text);
}

// PNG keywords and tags that ordinary images carry too (cameras, editors, converters): on their
// own they make no generation metadata.
bool isOrdinarySource(const QString& source)
{
    static const QStringList ordinary = {
        QStringLiteral("Software"),
        QStringLiteral("Title"),
        QStringLiteral("Author"),
        QStringLiteral("Copyright"),
        QStringLiteral("Creation Time"),
        QStringLiteral("Disclaimer"),
        QStringLiteral("Warning"),
        QStringLiteral("Source"),
        QStringLiteral("Description"),
        QStringLiteral("Comment"),
        QStringLiteral("ImageDescription"),
        QStringLiteral("Make"),
        QStringLiteral("Model"),
        QStringLiteral("XMP"),
        QStringLiteral("date:create"),
        QStringLiteral("date:modify"),
        QStringLiteral("date:timestamp"),
    };
    return ordinary.contains(source) || source.startsWith(QLatin1String("Raw profile type"));
}

// Comments that encoders and editors write into any JPEG they save.
bool isEncoderComment(const RawText& raw)
{
    static const QStringList prefixes = {
        QStringLiteral("CREATOR: gd-jpeg"),
        QStringLiteral("Created with GIMP"),
        QStringLiteral("Created with The GIMP"),
        QStringLiteral("File written by Adobe Photoshop"),
        QStringLiteral("Optimized by JPEGmini"),
        QStringLiteral("LEAD Technologies"),
        QStringLiteral("Intel(R) JPEG Library"),
        QStringLiteral("AppleMark"),
    };
    return raw.source == QLatin1String("JPEG COM")
        && std::any_of(prefixes.begin(), prefixes.end(),
            [&raw](const QString& prefix) { return QStringView(raw.text).trimmed().startsWith(prefix); });
}

bool holdsGenerationTexts(const QList<RawText>& texts)
{
    return std::any_of(texts.begin(), texts.end(), [](const RawText& raw) {
        return (!isOrdinarySource(raw.source) && !isEncoderComment(raw))
            || QStringView(raw.text).trimmed().startsWith(u'{');
    });
}

// The record of one image, from the text the Limnora pipeline found for it (render-time marker
// split off), whichever route found it. A text with a settings line that is not plainly foreign
// is Limnora's, and the file is not read again. Otherwise the file's raw texts go to the other
// generators' readers, and a PNG that holds no text they recognise is read once more for a text
// hidden in its pixels; a prompt-only text stays Limnora's when none of them recognises its
// file; texts that no reader takes apart still make a record of raw texts alone, so that they
// can be seen.
std::optional<LimnoraMetadata> recordForImage(
    const QString& path, const std::optional<QString>& text, std::optional<double> renderDuration)
{
    std::optional<LimnoraMetadata> limnora;
    if (text && !isPlainlyForeign(*text)) {
        limnora = parseMetadataText(*text);
        limnora->renderDuration = renderDuration;
        if (!limnora->rawSettingsString.isEmpty()) {
            limnora->generator = QStringLiteral("Limnora");
            return limnora;
        }
    }
    QList<RawText> rawTexts = readRawMetadataTexts(path);
    std::optional<LimnoraMetadata> record = readForeignMetadata(rawTexts);
    if (!record && !text && hasExtension(path, QLatin1String("png"))) {
        if (const QList<RawText> hidden = readStealthPNGTexts(path); !hidden.isEmpty()) {
            rawTexts.append(hidden);
            record = readForeignMetadata(rawTexts);
        }
    }
    if (!record && limnora)
        record = std::move(limnora);
    if (!record && (text || holdsGenerationTexts(rawTexts)))
        record.emplace();
    if (record)
        record->rawTexts = rawTexts;
    return record;
}

} // namespace

std::optional<LimnoraMetadata> readImageMetadata(const QUrl& fileURL)
{
    return recordForImage(fileURL.toLocalFile(), extractMetadataText(fileURL), std::nullopt);
}

std::optional<LimnoraMetadata> readImageMetadataInProcess(const QUrl& fileURL)
{
    const QString path = fileURL.toLocalFile();
    std::optional<LimnoraMetadata> record = recordForImage(path, extractBuiltInMetadataText(fileURL), std::nullopt);
    if (record && record->generator == QLatin1String("Limnora")) {
        for (const RawText& raw : readRawMetadataTexts(path)) {
            if (raw.source == QLatin1String("UserComment")) {
                record->renderDuration = renderDurationOfUserComment(raw.text);
                break;
            }
        }
    }
    return record;
}

QList<ImageMetadataResult> readWithExiftool(
    const QList<ImageMetadataResult>& firstPass, const std::function<bool()>& isCancelled)
{
    if (!locateExiftool())
        return firstPass;
    QList<QUrl> urls;
    urls.reserve(firstPass.size());
    for (const ImageMetadataResult& result : firstPass)
        urls.append(result.url);
    const ExiftoolBatchResult batch = readBatchesWithExiftool(urls, isCancelled);
    QList<ImageMetadataResult> results;
    results.reserve(firstPass.size());
    for (const ImageMetadataResult& first : firstPass) {
        if (isCancelled && isCancelled())
            return {};
        if (!batch.settled.contains(first.url)) {
            // exiftool failed on this image's batch: the whole pipeline, one image at a time.
            results.append({ first.url, readImageMetadata(first.url), ReadingRoute::pipeline });
        } else if (const QString text = batch.texts.value(first.url); !text.isEmpty()) {
            MarkedText marked = splitRenderTimeMarker(text);
            results.append(
                { first.url, recordForImage(first.url.toLocalFile(), std::move(marked.text), marked.renderDuration),
                    ReadingRoute::exiftoolBatch });
        } else {
            results.append({ first.url, first.metadata, ReadingRoute::exiftoolBatch });
        }
    }
    return results;
}

void readFolderMetadata(const QList<QUrl>& fileURLs, const std::function<void(QList<ImageMetadataResult>)>& deliver,
    const std::function<bool()>& isCancelled)
{
    QList<ImageMetadataResult> firstPass;
    firstPass.reserve(fileURLs.size());
    for (const QUrl& url : fileURLs) {
        if (isCancelled && isCancelled())
            return;
        firstPass.append({ url, readImageMetadataInProcess(url), ReadingRoute::inProcess });
    }
    QList<ImageMetadataResult> results = readWithExiftool(firstPass, isCancelled);
    if (!results.isEmpty() && !(isCancelled && isCancelled()))
        deliver(std::move(results));
}

} // namespace limnoscope
