#pragma once

#include "LimnoraMetadata.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

#include <optional>

namespace limnoscope {

// Every metadata text one image file holds, read in-process for the other generators'
// readers and for showing as it is. Blocking; any thread, usually a worker.

// The texts of `filePath` in file order (see RawText for the source names): a PNG's text
// chunks before the first image-data chunk (and the EXIF and XMP it carries); a JPEG's and
// WebP's EXIF ImageDescription, Make, Model and UserComment, JPEG comments and the XMP
// description; other formats' EXIF and XMP through exiv2; then a same-name ".txt" file beside
// it ("Sidecar"). Texts that are empty or only white space are left out. Regular files only;
// nothing for anything else, damaged parts are passed over.
[[nodiscard]] QList<RawText> readRawMetadataTexts(const QString& filePath);

// An EXIF UserComment's bytes as text: the 8-byte character code ("ASCII", "UNICODE", "JIS" or
// zeros) and the text after it. UTF-16 ("UNICODE") is big- or little-endian as the zero bytes
// of its ASCII characters show, else `bigEndianByDefault` (the EXIF block's byte order) decides.
// Bytes without a code are taken as UTF-8. Trailing zeros are dropped.
[[nodiscard]] QString decodeUserComment(QByteArrayView bytes, bool bigEndianByDefault);

// The description an XMP packet carries: the first plain-string property whose name contains
// "description", else dc:description, tiff:ImageDescription or exif:ImageDescription.
[[nodiscard]] std::optional<QString> xmpDescription(const QByteArray& packet);

// Sets the metadata library up once per process: its XMP toolkit locked for use from several
// threads, its warnings off.
void setUpExiv2();

// Bounds on what is read: a sidecar larger than this is passed over; texts stop being collected
// once they hold this many characters or this many entries.
inline constexpr qint64 maxSidecarBytes = 1024 * 1024;
inline constexpr qsizetype maxRawTextCharacters = 32 * 1024 * 1024;
inline constexpr qsizetype maxRawTextCount = 256;

} // namespace limnoscope
