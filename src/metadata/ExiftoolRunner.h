#pragma once

#include <QHash>
#include <QList>
#include <QString>
#include <QUrl>

#include <chrono>
#include <functional>
#include <optional>

namespace limnoscope {

// Runs the external exiftool program, when installed, for one file or for many at once.
// Every call blocks until its child has ended; call from worker threads only. Without the
// program every call yields nothing at once.

// The program's path: the resources copy, then the usual install places; nothing if absent.
[[nodiscard]] std::optional<QString> locateExiftool();

// The file's Description tag, trimmed; nothing when empty or absent.
[[nodiscard]] std::optional<QString> readDescriptionWithExiftool(const QUrl &fileURL);

// Texts for many files, 100 per process; a text may end in the render-time marker.
// Empty when the program is missing or yields nothing. `isCancelled`, asked before each
// process and while it runs, stops the running and the remaining batches (so that quitting
// does not wait for a large folder or a child that hangs).
[[nodiscard]] QHash<QUrl, QString> readBatchWithExiftool(const QList<QUrl> &fileURLs,
                                                         const std::function<bool()> &isCancelled = {});

// The texts in one batch's JSON output: an array of objects, each with "SourceFile" and
// "Description" (or "ImageDescription"), the render time from "UserComment" appended after the
// marker. Empty for output that is not such an array. Pure; any thread.
[[nodiscard]] QHash<QUrl, QString> parseExiftoolBatchOutput(const QByteArray &output);

// Single-quotes `text` for /bin/sh so that any path survives unchanged.
[[nodiscard]] QString shellQuote(const QString &text);

// Process-wide switch: when set, locateExiftool finds nothing (limnoscope-info --no-exiftool,
// tests and benchmarks that measure the in-process readers).
void setExiftoolDisabled(bool disabled);

// How long a child may run before it is killed and what it printed so far is used: by
// default 30 s for one file and 300 s for a batch. Tests shorten them.
void setExiftoolTimeouts(std::chrono::milliseconds singleFile, std::chrono::milliseconds batch);

// The resources directory searched first: `share/limnoscope` beside the installed binary,
// or the build tree's equivalent. Tests may point it elsewhere.
[[nodiscard]] QString resourcesDirectory();
void setResourcesDirectory(const QString &path);

} // namespace limnoscope
