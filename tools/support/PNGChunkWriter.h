#pragma once

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QString>

namespace limnoscope {

// Builds PNG files chunk by chunk, so that text chunks can be placed exactly where wanted
// (Qt's own writer compresses long texts into zTXt). Used by the sample generator and tests.
class PNGChunkWriter
{
public:
    // The 8-byte signature, then a valid IHDR for `width` x `height`.
    PNGChunkWriter(int width = 1, int height = 1);

    // Any chunk with a correct CRC; `declaredLength` overrides the length field when set.
    PNGChunkWriter& chunk(const QByteArray& type, const QByteArray& data, qint64 declaredLength = -1);
    PNGChunkWriter& tEXt(const QByteArray& keyword, const QByteArray& latin1Text);
    PNGChunkWriter& iTXt(const QByteArray& keyword, const QByteArray& utf8Text, bool compress = false);
    PNGChunkWriter& zTXt(const QByteArray& keyword, const QByteArray& latin1Text);
    // The pixel data of `image` (RGBA, filter 0, zlib) as one IDAT chunk.
    PNGChunkWriter& imageData(const QImage& image);
    // A one-pixel IDAT chunk that matches the 1 x 1 header.
    PNGChunkWriter& tinyImageData();
    PNGChunkWriter& end();

    // Appends raw bytes (for truncated or damaged files).
    PNGChunkWriter& raw(const QByteArray& bytes);

    [[nodiscard]] const QByteArray& bytes() const { return m_bytes; }
    bool writeTo(const QString& path) const;

    [[nodiscard]] static QByteArray zlibCompress(const QByteArray& data);

private:
    QByteArray m_bytes;
};

} // namespace limnoscope
