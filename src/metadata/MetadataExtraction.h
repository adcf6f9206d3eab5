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
[[nodiscard]] std::optional<QString> extractMetadataText(const QUrl &fileURL);

// One image as the current-image load reads it: extracted, then parsed (no render time).
[[nodiscard]] std::optional<LimnoraMetadata> readImageMetadata(const QUrl &fileURL);

// The result for one image: a record, or nothing when the image holds no generation text.
struct ImageMetadataResult {
    QUrl url;
    std::optional<LimnoraMetadata> metadata;
};

// The folder route: exiftool's batch reader over the whole list (render-time marker split
// off); when that yields nothing, the images one by one in order. `deliver` receives one
// result per call on the one-by-one path, or all results in one call after a batch.
// `isCancelled` is asked before each exiftool process and each one-by-one image; a cancelled
// run delivers nothing more.
void readFolderMetadata(const QList<QUrl> &fileURLs,
                        const std::function<void(QList<ImageMetadataResult>)> &deliver,
                        const std::function<bool()> &isCancelled = {});

} // namespace limnoscope
