#pragma once

#include "LimnoraMetadata.h"

#include <QList>
#include <QString>
#include <QUrl>

#include <functional>
#include <optional>

namespace limnoscope {

// Finding the generation text of image files. Blocking; call from worker threads only.

// The first non-empty text of: exiftool, the PNG text chunks, the EXIF/TIFF image
// descriptions, the XMP descriptions. Nothing when no source has one.
[[nodiscard]] std::optional<QString> extractMetadataText(const QUrl& fileURL);

// The same without exiftool: the in-process readers only, for images exiftool has been asked
// about already.
[[nodiscard]] std::optional<QString> extractBuiltInMetadataText(const QUrl& fileURL);

// One image as the current-image load reads it: extracted, then made a record (no render time).
// A text with a settings line is parsed as Limnora's; otherwise the file's raw texts go to the
// other generators' readers (see readForeignMetadata), and texts no reader takes apart still
// make a record of raw texts alone. Nothing for a file without generation texts.
[[nodiscard]] std::optional<LimnoraMetadata> readImageMetadata(const QUrl& fileURL);

// The result for one image: a record, or nothing when the image holds no generation text.
struct ImageMetadataResult {
    QUrl url;
    std::optional<LimnoraMetadata> metadata;
};

// The folder route: exiftool's batch reader over the whole list. An image it found a text for
// keeps that text (render-time marker split off); one it answered for without a text, or hung
// on alone, goes to the in-process readers; these come in one call to `deliver`. Then, where
// exiftool is missing or failed, the remaining images go one by one, in order and one per call,
// through the whole pipeline. Each image's text becomes its record as in readImageMetadata, so
// that both routes give the same record. `isCancelled` is asked before each exiftool process and each
// image after the batch; a cancelled run delivers nothing more.
void readFolderMetadata(const QList<QUrl>& fileURLs, const std::function<void(QList<ImageMetadataResult>)>& deliver,
    const std::function<bool()>& isCancelled = {});

} // namespace limnoscope
