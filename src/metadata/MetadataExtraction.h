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

// Which steps made a reading of an image.
enum class ReadingRoute : int {
    // The in-process readers alone: where exiftool is installed, its pass is still due.
    inProcess = 1,
    // The exiftool batch answered for the file (with a text or without): final.
    exiftoolBatch = 2,
    // exiftool failed on the file's batch and the whole pipeline read it alone: final.
    pipeline = 3,
};

// The result for one image: a record, or nothing when the image holds no generation text.
struct ImageMetadataResult {
    QUrl url;
    std::optional<LimnoraMetadata> metadata;
    ReadingRoute route = ReadingRoute::inProcess;
};

// The first pass over one image: the in-process readers alone (never exiftool), the text made a
// record as readImageMetadata does; a Limnora record gets the render time from the file's EXIF
// user comment, where the batch would have found it.
[[nodiscard]] std::optional<LimnoraMetadata> readImageMetadataInProcess(const QUrl& fileURL);

// The exiftool pass over images the first pass read (`firstPass`: their results): the final
// result of each, in the same order. An image exiftool's batch found a text for gets the record of
// that text (with the render time, route exiftoolBatch); one the batch answered for without a
// text keeps its first-pass record (route exiftoolBatch); one whose batch failed goes through the
// whole pipeline alone (route pipeline). Without exiftool the first pass is final and comes back
// unchanged. A cancelled pass gives nothing.
[[nodiscard]] QList<ImageMetadataResult> readWithExiftool(
    const QList<ImageMetadataResult>& firstPass, const std::function<bool()>& isCancelled = {});

// The folder route: the first pass over every image, then the exiftool pass; each image's final
// result is delivered once, in order, in one call to `deliver`, so that the folder route gives
// the record the single-image load gives (plus the render time). `isCancelled` is asked before
// each image and each exiftool process; a cancelled run delivers nothing.
void readFolderMetadata(const QList<QUrl>& fileURLs, const std::function<void(QList<ImageMetadataResult>)>& deliver,
    const std::function<bool()>& isCancelled = {});

} // namespace limnoscope
