#include "DecodeDownsampled.h"

#include "RegularFile.h"
#include "ThumbnailsLogging.h"

#include <QBuffer>
#include <QFileInfo>
#include <QImageReader>
#include <QStringList>

#include <libheif/heif.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

Q_LOGGING_CATEGORY(lcThumbnails, "limnoscope.thumbnails", QtWarningMsg)

namespace limnoscope {

namespace {

const QStringList& readerExtensions()
{
    static const QStringList extensions { QStringLiteral("jpg"), QStringLiteral("jpeg"), QStringLiteral("png"),
        QStringLiteral("webp"), QStringLiteral("tiff"), QStringLiteral("tif") };
    return extensions;
}

constexpr qint64 bytesPerPixel = 4;
constexpr qint64 maxDecodeBytes = qint64(maxDecodeMegabytes) * 1024 * 1024;

// `size` scaled down so that its longer side is at most `maxPixelSize`; never enlarged.
QSize fittedSize(QSize size, int maxPixelSize)
{
    const int longer = std::max(size.width(), size.height());
    if (longer <= maxPixelSize)
        return size;
    const double scale = double(maxPixelSize) / longer;
    return QSize(std::max(1, int(size.width() * scale + 0.5)), std::max(1, int(size.height() * scale + 0.5)));
}

// The size a JPEG of `stored` pixels is decoded at when `scaled` is asked for: libjpeg scales by
// 1/2, 1/4 or 1/8 while it decodes, by the largest of them that still gives at least `scaled`,
// and only that result is scaled further. Other formats decode at full size first.
QSize jpegDecodeSize(QSize stored, QSize scaled)
{
    const int ratio
        = std::min(stored.width() / std::max(1, scaled.width()), stored.height() / std::max(1, scaled.height()));
    const int denominator = ratio >= 8 ? 8 : ratio >= 4 ? 4 : ratio >= 2 ? 2 : 1;
    return QSize((stored.width() + denominator - 1) / denominator, (stored.height() + denominator - 1) / denominator);
}

qint64 decodeBytes(QSize size)
{
    return qint64(size.width()) * size.height() * bytesPerPixel;
}

} // namespace

QImage finished(QImage image, int maxPixelSize)
{
    if (image.isNull())
        return {};
    const QSize fitted = fittedSize(image.size(), maxPixelSize);
    if (fitted != image.size())
        image = image.scaled(fitted, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    image.convertTo(image.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32);
    return image;
}

namespace {

// Whether JPEG data holds an end-of-image marker after its first scan. A truncated JPEG (a file
// still being written, a broken copy) would otherwise decode "successfully" with its missing part
// painted grey. Anything that does not start like a JPEG is left to the reader to judge.
bool isCompleteIfJPEG(QByteArrayView data)
{
    const auto byteAt = [&data](qsizetype index) { return quint8(data[index]); };
    if (data.size() < 4 || byteAt(0) != 0xFF || byteAt(1) != 0xD8)
        return true;
    qsizetype position = 2;
    while (position + 1 < data.size()) {
        if (byteAt(position) != 0xFF)
            return false;
        const quint8 marker = byteAt(position + 1);
        position += 2;
        if (marker == 0xFF) { // fill byte before a marker
            --position;
            continue;
        }
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7))
            continue; // markers without a segment
        if (marker == 0xD9 || position + 2 > data.size())
            return false;
        const qsizetype segmentLength = (byteAt(position) << 8) | byteAt(position + 1);
        if (marker == 0xDA) // entropy-coded data escapes 0xFF, so the next FF D9 is the end marker
            return data.sliced(std::min(data.size(), position + segmentLength)).indexOf("\xFF\xD9") >= 0;
        position += segmentLength;
    }
    return false;
}

// The whole content of the regular file `path`, when it is not empty and at most maxFileBytes.
// The bytes are read rather than the file mapped or handed over by path: a mapped file cut short
// by its writer ends the process, and a FIFO or device named like an image would block a decoder
// opening it for good.
std::optional<QByteArray> fileBytes(const QString& path)
{
    std::optional<QByteArray> bytes = readRegularFile(path, maxFileBytes);
    if (!bytes || bytes->isEmpty())
        return std::nullopt;
    return bytes;
}

QImage decodeWithReader(const QString& path, int maxPixelSize)
{
    // The limit is process-wide in Qt; set it once rather than racing other decoding threads.
    static std::once_flag limitSet;
    std::call_once(limitSet, [] { QImageReader::setAllocationLimit(maxDecodeMegabytes); });

    std::optional<QByteArray> bytes = fileBytes(path);
    if (!bytes || !isCompleteIfJPEG(*bytes))
        return {};
    QBuffer buffer(&*bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    reader.setAutoTransform(true);
    // size() is the stored size, before the orientation is applied; the scaled size is given in
    // the same frame, so JPEG decodes straight at a reduced scale. The memory limit holds for
    // what is actually decoded: a JPEG far beyond it at full size still gives a thumbnail cheaply.
    const QSize storedSize = reader.size();
    if (storedSize.isValid()) {
        const QSize scaled = fittedSize(storedSize, maxPixelSize);
        const QSize decoded = reader.format() == "jpeg" ? jpegDecodeSize(storedSize, scaled) : storedSize;
        if (storedSize.isEmpty() || decodeBytes(decoded) > maxDecodeBytes)
            return {};
        if (scaled != storedSize)
            reader.setScaledSize(scaled);
    }
    const QImage image = reader.read();
    if (image.isNull())
        qCDebug(lcThumbnails) << "cannot decode" << path << reader.errorString();
    return finished(image, maxPixelSize);
}

struct HEIFDeleter {
    void operator()(heif_context* context) const { heif_context_free(context); }
    void operator()(heif_image_handle* handle) const { heif_image_handle_release(handle); }
    void operator()(heif_image* image) const { heif_image_release(image); }
};
using HEIFContext = std::unique_ptr<heif_context, HEIFDeleter>;
using HEIFHandle = std::unique_ptr<heif_image_handle, HEIFDeleter>;
using HEIFImage = std::unique_ptr<heif_image, HEIFDeleter>;

int longerSide(const heif_image_handle* handle)
{
    return std::max(heif_image_handle_get_width(handle), heif_image_handle_get_height(handle));
}

// The smallest embedded thumbnail whose longer side reaches `wantedSide`, if there is one.
HEIFHandle thumbnailOfAtLeast(const heif_image_handle* primary, int wantedSide)
{
    const int count = heif_image_handle_get_number_of_thumbnails(primary);
    if (count <= 0)
        return {};
    std::vector<heif_item_id> ids(count);
    const int listed = heif_image_handle_get_list_of_thumbnail_IDs(primary, ids.data(), count);
    HEIFHandle best;
    for (int index = 0; index < listed; ++index) {
        heif_image_handle* thumbnail = nullptr;
        if (heif_image_handle_get_thumbnail(primary, ids[index], &thumbnail).code != heif_error_Ok)
            continue;
        HEIFHandle candidate(thumbnail);
        const int side = longerSide(candidate.get());
        if (side >= wantedSide && (!best || side < longerSide(best.get())))
            best = std::move(candidate);
    }
    return best;
}

QImage decodeHEIC(const QString& path, int maxPixelSize)
{
    static const bool hasDecoder = [] {
        heif_init(nullptr);
        return heif_have_decoder_for_format(heif_compression_HEVC) != 0;
    }();
    if (!hasDecoder)
        return {};

    const std::optional<QByteArray> bytes = fileBytes(path);
    if (!bytes)
        return {};
    HEIFContext context(heif_context_alloc());
    if (!context)
        return {};
    heif_context_set_maximum_image_size_limit(context.get(), maxHEICSideLength);
    // Up to three thumbnails decode at once already; one thread per decode is enough.
    heif_context_set_max_decoding_threads(context.get(), 0);
    // `bytes` outlives the context, which reads from them without a copy.
    if (heif_context_read_from_memory_without_copy(context.get(), bytes->constData(), size_t(bytes->size()), nullptr)
            .code
        != heif_error_Ok)
        return {};
    heif_image_handle* primaryHandle = nullptr;
    if (heif_context_get_primary_image_handle(context.get(), &primaryHandle).code != heif_error_Ok)
        return {};
    HEIFHandle primary(primaryHandle);

    HEIFHandle thumbnail = thumbnailOfAtLeast(primary.get(), std::min(maxPixelSize, longerSide(primary.get())));
    const heif_image_handle* source = thumbnail ? thumbnail.get() : primary.get();
    const qint64 width = heif_image_handle_get_width(source);
    const qint64 height = heif_image_handle_get_height(source);
    if (width <= 0 || height <= 0 || width * height * bytesPerPixel > maxDecodeBytes)
        return {};

    const bool hasAlpha = heif_image_handle_has_alpha_channel(source) != 0;
    heif_image* decodedImage = nullptr;
    // The file's rotation and mirroring are applied by the decoder.
    if (heif_decode_image(source, &decodedImage, heif_colorspace_RGB,
            hasAlpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB, nullptr)
            .code
        != heif_error_Ok)
        return {};
    HEIFImage decoded(decodedImage);
    int stride = 0;
    const uint8_t* pixels = heif_image_get_plane_readonly(decoded.get(), heif_channel_interleaved, &stride);
    const int decodedWidth = heif_image_get_width(decoded.get(), heif_channel_interleaved);
    const int decodedHeight = heif_image_get_height(decoded.get(), heif_channel_interleaved);
    if (!pixels || decodedWidth <= 0 || decodedHeight <= 0)
        return {};
    const QImage::Format format = !hasAlpha                ? QImage::Format_RGB888
        : heif_image_handle_is_premultiplied_alpha(source) ? QImage::Format_RGBA8888_Premultiplied
                                                           : QImage::Format_RGBA8888;
    // Wraps libheif's buffer without copying; finished() makes the copy we keep.
    const QImage view(pixels, decodedWidth, decodedHeight, stride, format);
    return finished(view.copy(), maxPixelSize);
}

} // namespace

QImage decodeDownsampled(const QUrl& url, int maxPixelSize)
{
    if (!url.isLocalFile() || maxPixelSize <= 0)
        return {};
    const QString path = url.toLocalFile();
    const QString extension = QFileInfo(path).suffix().toLower();
    if (extension == QLatin1String("heic"))
        return decodeHEIC(path, maxPixelSize);
    if (readerExtensions().contains(extension))
        return decodeWithReader(path, maxPixelSize);
    return {};
}

} // namespace limnoscope
