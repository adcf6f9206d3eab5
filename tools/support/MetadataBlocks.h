#pragma once

#include <QByteArray>
#include <QList>

namespace limnoscope {

// Metadata blocks written byte by byte, so that tests and benchmarks control exactly what a file
// holds (byte orders and character codes that tools would normalise).

// One EXIF field: tag, TIFF type (2 ASCII, 7 UNDEFINED), value bytes; in the first IFD or in
// the Exif IFD.
struct ExifField {
    quint16 tag = 0;
    quint16 type = 7;
    QByteArray value;
    bool inExifIFD = false;
};

// A TIFF header and its IFDs ("Exif\0\0" not included), in big- or little-endian byte order.
QByteArray exifBlock(const QList<ExifField>& fields, bool bigEndian);

// A UserComment value: the 8-byte code ("UNICODE", "ASCII" or empty for zeros) and `text` as
// UTF-16 in the given order (for "UNICODE") or UTF-8.
QByteArray userComment(const QByteArray& code, const QString& text, bool bigEndianUTF16 = true);

// A real JPEG (a small one-colour image) with an APP1 "Exif" segment holding `exif` (when not
// empty), a COM segment for each comment and an APP1 XMP segment holding the `xmp` packet (when
// not empty, at most 65,502 bytes), right after the start marker.
QByteArray jpegWith(const QByteArray& exif, const QList<QByteArray>& comments = {}, const QByteArray& xmp = {});

// A real extended WebP (VP8X header, one-colour image) with an "EXIF" chunk holding `exif` after
// the image data, and an "XMP " chunk when `xmp` is not empty.
QByteArray webpWith(const QByteArray& exif, const QByteArray& xmp = {});

} // namespace limnoscope
