#include "PNGChunkWriter.h"

#include <QFile>

#include <zlib.h>

namespace limnoscope {
namespace {

void appendBigEndian32(QByteArray& out, quint32 value)
{
    out.append(char(value >> 24));
    out.append(char(value >> 16));
    out.append(char(value >> 8));
    out.append(char(value));
}

} // namespace

PNGChunkWriter::PNGChunkWriter(int width, int height)
{
    m_bytes = QByteArray::fromHex("89504E470D0A1A0A");
    QByteArray header;
    appendBigEndian32(header, quint32(width));
    appendBigEndian32(header, quint32(height));
    header.append(char(8)); // bit depth
    header.append(char(6)); // RGBA
    header.append(3, char(0)); // compression, filter, interlace
    chunk("IHDR", header);
}

PNGChunkWriter& PNGChunkWriter::chunk(const QByteArray& type, const QByteArray& data, qint64 declaredLength)
{
    appendBigEndian32(m_bytes, quint32(declaredLength >= 0 ? declaredLength : data.size()));
    const QByteArray typeAndData = type + data;
    m_bytes.append(typeAndData);
    const uLong crc = crc32(
        crc32(0L, Z_NULL, 0), reinterpret_cast<const Bytef*>(typeAndData.constData()), uInt(typeAndData.size()));
    appendBigEndian32(m_bytes, quint32(crc));
    return *this;
}

PNGChunkWriter& PNGChunkWriter::tEXt(const QByteArray& keyword, const QByteArray& latin1Text)
{
    return chunk("tEXt", keyword + '\0' + latin1Text);
}

PNGChunkWriter& PNGChunkWriter::iTXt(const QByteArray& keyword, const QByteArray& utf8Text, bool compress)
{
    QByteArray data = keyword + '\0';
    data.append(char(compress ? 1 : 0));
    data.append(char(0)); // method: zlib
    data.append('\0'); // empty language tag
    data.append('\0'); // empty translated keyword
    data.append(compress ? zlibCompress(utf8Text) : utf8Text);
    return chunk("iTXt", data);
}

PNGChunkWriter& PNGChunkWriter::zTXt(const QByteArray& keyword, const QByteArray& latin1Text)
{
    return chunk("zTXt", keyword + '\0' + char(0) + zlibCompress(latin1Text));
}

PNGChunkWriter& PNGChunkWriter::imageData(const QImage& image)
{
    const QImage rgba = image.convertToFormat(QImage::Format_RGBA8888);
    QByteArray scanlines;
    scanlines.reserve(rgba.height() * (rgba.width() * 4 + 1));
    for (int y = 0; y < rgba.height(); ++y) {
        scanlines.append('\0');
        scanlines.append(reinterpret_cast<const char*>(rgba.constScanLine(y)), rgba.width() * 4);
    }
    return chunk("IDAT", zlibCompress(scanlines));
}

PNGChunkWriter& PNGChunkWriter::tinyImageData()
{
    return chunk("IDAT", zlibCompress(QByteArray("\0\xff\x00\x00\xff", 5)));
}

PNGChunkWriter& PNGChunkWriter::end()
{
    return chunk("IEND", {});
}

PNGChunkWriter& PNGChunkWriter::raw(const QByteArray& bytes)
{
    m_bytes.append(bytes);
    return *this;
}

bool PNGChunkWriter::writeTo(const QString& path) const
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(m_bytes) == m_bytes.size();
}

QByteArray PNGChunkWriter::zlibCompress(const QByteArray& data)
{
    uLongf size = compressBound(uLong(data.size()));
    QByteArray out(qsizetype(size), Qt::Uninitialized);
    if (compress2(reinterpret_cast<Bytef*>(out.data()), &size, reinterpret_cast<const Bytef*>(data.constData()),
            uLong(data.size()), 9)
        != Z_OK)
        return {};
    out.resize(qsizetype(size));
    return out;
}

} // namespace limnoscope
