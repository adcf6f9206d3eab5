#include "MetadataBlocks.h"

#include <QBuffer>
#include <QImage>
#include <QString>

#include <algorithm>

namespace limnoscope {
namespace {

// The low `bytes` bytes of `value`, in the given order.
void put(QByteArray& out, int bytes, bool bigEndian, quint32 value)
{
    for (int i = 0; i < bytes; ++i)
        out.append(char((value >> (8 * (bigEndian ? bytes - 1 - i : i))) & 0xff));
}

// One IFD at `offset` with its out-of-line values after it; `next` is the following IFD's offset.
QByteArray ifd(bool bigEndian, QList<ExifField> fields, quint32 offset)
{
    std::sort(fields.begin(), fields.end(), [](const ExifField& a, const ExifField& b) { return a.tag < b.tag; });
    QByteArray entries;
    QByteArray values;
    const quint32 valuesStart = offset + 2 + 12 * quint32(fields.size()) + 4;
    put(entries, 2, bigEndian, quint32(fields.size()));
    for (const ExifField& field : fields) {
        put(entries, 2, bigEndian, field.tag);
        put(entries, 2, bigEndian, field.type);
        const int unitSize = field.type == 3 ? 2 : field.type == 4 ? 4 : 1;
        put(entries, 4, bigEndian, quint32(field.value.size() / unitSize));
        if (field.value.size() <= 4) {
            entries.append(field.value.leftJustified(4, '\0', true));
        } else {
            put(entries, 4, bigEndian, valuesStart + quint32(values.size()));
            values.append(field.value);
            if (values.size() % 2)
                values.append('\0');
        }
    }
    put(entries, 4, bigEndian, 0);
    return entries + values;
}

QByteArray imageBytes(const char* format)
{
    QImage image(16, 16, QImage::Format_RGB32);
    image.fill(QColor(40, 120, 200));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
}

} // namespace

QByteArray exifBlock(const QList<ExifField>& fields, bool bigEndian)
{
    QList<ExifField> first;
    QList<ExifField> exif;
    for (const ExifField& field : fields)
        (field.inExifIFD ? exif : first).append(field);

    QByteArray block = bigEndian ? QByteArray("MM") : QByteArray("II");
    put(block, 2, bigEndian, 42);
    put(block, 4, bigEndian, 8);
    if (exif.isEmpty())
        return block + ifd(bigEndian, first, 8);
    // The Exif IFD pointer's value is known only once the first IFD's size is: build it twice.
    first.append({ 0x8769, 4, QByteArray(4, '\0') });
    const quint32 exifOffset = 8 + quint32(ifd(bigEndian, first, 8).size());
    QByteArray pointer;
    put(pointer, 4, bigEndian, exifOffset);
    first.last().value = pointer;
    return block + ifd(bigEndian, first, 8) + ifd(bigEndian, exif, exifOffset);
}

QByteArray userComment(const QByteArray& code, const QString& text, bool bigEndianUTF16)
{
    QByteArray value = code.leftJustified(8, '\0', true);
    if (code != "UNICODE")
        return value + text.toUtf8();
    for (const QChar c : text) {
        const char high = char(c.unicode() >> 8);
        const char low = char(c.unicode() & 0xff);
        value.append(bigEndianUTF16 ? high : low).append(bigEndianUTF16 ? low : high);
    }
    return value;
}

QByteArray jpegWith(const QByteArray& exif, const QList<QByteArray>& comments, const QByteArray& xmp)
{
    const QByteArray plain = imageBytes("JPEG");
    QByteArray segments;
    const auto segment = [&segments](char marker, const QByteArray& data) {
        const int length = int(data.size()) + 2;
        segments.append('\xff').append(marker).append(char(length >> 8)).append(char(length & 0xff)).append(data);
    };
    if (!exif.isEmpty())
        segment('\xe1', QByteArray("Exif\0\0", 6) + exif);
    for (const QByteArray& comment : comments)
        segment('\xfe', comment);
    if (!xmp.isEmpty())
        segment('\xe1', QByteArray("http://ns.adobe.com/xap/1.0/", 29) + xmp);
    return plain.first(2) + segments + plain.sliced(2);
}

QByteArray webpWith(const QByteArray& exif, const QByteArray& xmp)
{
    const QByteArray plain = imageBytes("WEBP");
    // The simple file's single image chunk, after "RIFF", the size and "WEBP".
    QByteArray chunks = plain.sliced(12);
    QByteArray header("VP8X");
    put(header, 4, false, 10);
    header.append(char((exif.isEmpty() ? 0 : 0x08) | (xmp.isEmpty() ? 0 : 0x04))).append(3, '\0');
    for (int i = 0; i < 2; ++i) // canvas width and height minus one, 24 bits each
        header.append(char(15)).append(2, '\0');
    const auto chunk = [&chunks](const char* type, const QByteArray& data) {
        chunks.append(type, 4);
        put(chunks, 4, false, quint32(data.size()));
        chunks.append(data);
        if (data.size() % 2)
            chunks.append('\0');
    };
    if (!exif.isEmpty())
        chunk("EXIF", exif);
    if (!xmp.isEmpty())
        chunk("XMP ", xmp);
    QByteArray file("RIFF");
    put(file, 4, false, quint32(4 + header.size() + chunks.size()));
    return file + "WEBP" + header + chunks;
}

} // namespace limnoscope
