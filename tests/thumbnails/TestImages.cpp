#include "TestImages.h"

#include "TestFiles.h"

#include <QBuffer>
#include <QFile>
#include <QPainter>
#include <QTest>

#include <libheif/heif.h>

#include <cstring>

namespace limnoscope::test {

QImage quadrants(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    QPainter painter(&image);
    const int halfWidth = width / 2;
    const int halfHeight = height / 2;
    painter.fillRect(0, 0, halfWidth, halfHeight, Qt::red);
    painter.fillRect(halfWidth, 0, width - halfWidth, halfHeight, Qt::green);
    painter.fillRect(0, halfHeight, halfWidth, height - halfHeight, Qt::blue);
    painter.fillRect(halfWidth, halfHeight, width - halfWidth, height - halfHeight, Qt::yellow);
    return image;
}

QImage solid(int width, int height, QColor colour)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

QByteArray encoded(const QImage& image, const char* format)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, format, 95))
        qFatal("cannot encode %s", format);
    return bytes;
}

namespace {

// Encodes `source` into `context` with `encoder`: as the primary image, or as the thumbnail of
// `primary` scaled to fit `thumbnailBox`.
bool encodeHEIC(heif_context* context, heif_encoder* encoder, const QImage& source, heif_image_handle** primary,
    int thumbnailBox = 0)
{
    const QImage rgb = source.convertToFormat(QImage::Format_RGB888);
    heif_image* image = nullptr;
    heif_image_create(rgb.width(), rgb.height(), heif_colorspace_RGB, heif_chroma_interleaved_RGB, &image);
    heif_image_add_plane(image, heif_channel_interleaved, rgb.width(), rgb.height(), 8);
    int stride = 0;
    uint8_t* plane = heif_image_get_plane(image, heif_channel_interleaved, &stride);
    for (int y = 0; y < rgb.height(); ++y)
        std::memcpy(plane + qsizetype(y) * stride, rgb.constScanLine(y), size_t(rgb.width()) * 3);
    heif_image_handle* handle = nullptr;
    const heif_error error = thumbnailBox
        ? heif_context_encode_thumbnail(context, image, *primary, encoder, nullptr, thumbnailBox, &handle)
        : heif_context_encode_image(context, image, encoder, nullptr, &handle);
    heif_image_release(image);
    if (thumbnailBox)
        heif_image_handle_release(handle);
    else
        *primary = handle;
    return error.code == heif_error_Ok && handle;
}

} // namespace

void writeHEIC(const QString& path, const QImage& primary, const QImage& thumbnailSource, int thumbnailBox)
{
    heif_context* context = heif_context_alloc();
    heif_encoder* encoder = nullptr;
    heif_image_handle* handle = nullptr;
    bool written = heif_context_get_encoder_for_format(context, heif_compression_HEVC, &encoder).code == heif_error_Ok;
    if (written) {
        heif_encoder_set_lossy_quality(encoder, 90);
        written = encodeHEIC(context, encoder, primary, &handle)
            && (thumbnailSource.isNull() || encodeHEIC(context, encoder, thumbnailSource, &handle, thumbnailBox))
            && heif_context_write_to_file(context, QFile::encodeName(path).constData()).code == heif_error_Ok;
        heif_encoder_release(encoder);
    }
    heif_image_handle_release(handle);
    heif_context_free(context);
    QVERIFY2(written, qPrintable(path));
}

bool isNear(QColor actual, QColor expected, int tolerance)
{
    return std::abs(actual.red() - expected.red()) <= tolerance
        && std::abs(actual.green() - expected.green()) <= tolerance
        && std::abs(actual.blue() - expected.blue()) <= tolerance;
}

} // namespace limnoscope::test
