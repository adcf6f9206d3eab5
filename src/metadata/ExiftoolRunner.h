#pragma once

#include <QHash>
#include <QList>
#include <QSet>
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
[[nodiscard]] std::optional<QString> readDescriptionWithExiftool(const QUrl& fileURL);

// What exiftool's batches said about a list of files.
struct ExiftoolBatchResult {
    // The texts found; a text may end in the render-time marker.
    QHash<QUrl, QString> texts;
    // The files exiftool need not be asked about again: those it answered for, with or without
    // a text, and a file it hung on alone while it answered for the rest of its batch. Files
    // missing here met a missing or failing exiftool.
    QSet<QUrl> settled;
};

// Reads many files, 100 per process, each process at the lowest scheduling priority
// (exiftoolBatchNiceness): the batches run behind the in-process readers and the image on screen; a folder, FIFO or
// device among them is settled without asking. A process that runs out of time is run again on each half of its files,
// and so on down to the file that holds it up; when both halves of a split run out of time too, the fault is not one
// file and that part is given up. `isCancelled`, asked before each process and while it runs, stops the running and the
// remaining batches (so that quitting does not wait for a large folder or a child that hangs).
[[nodiscard]] ExiftoolBatchResult readBatchesWithExiftool(
    const QList<QUrl>& fileURLs, const std::function<bool()>& isCancelled = {});

// The texts of readBatchesWithExiftool alone: empty when the program is missing or yields nothing.
[[nodiscard]] QHash<QUrl, QString> readBatchWithExiftool(
    const QList<QUrl>& fileURLs, const std::function<bool()>& isCancelled = {});

// The texts in one batch's JSON output: an array of objects, each with "SourceFile" and
// "Description" (or "ImageDescription"), the render time from "UserComment" appended after the
// marker; an object longer than ExiftoolJSONStream keeps is left out. Empty for output that is
// not such an array. Pure; any thread.
[[nodiscard]] QHash<QUrl, QString> parseExiftoolBatchOutput(const QByteArray& output);

// Single-quotes `text` for /bin/sh so that any path survives unchanged.
[[nodiscard]] QString shellQuote(const QString& text);

// Process-wide switch: when set, locateExiftool finds nothing (limnoscope-info --no-exiftool,
// tests and benchmarks that measure the in-process readers).
void setExiftoolDisabled(bool disabled);

// How long a child may run before it is killed; what a killed child printed counts as nothing.
// exiftool starts in about 80 ms and reads hundreds of files a second: these bounds only stop a
// child that hangs. A batch of n files may take base + n * per file, at most the cap.
inline constexpr std::chrono::milliseconds exiftoolSingleFileTimeout { 30'000 };
inline constexpr std::chrono::milliseconds exiftoolBatchBaseTimeout { 10'000 };
inline constexpr std::chrono::milliseconds exiftoolBatchTimeoutPerFile { 1'000 };
inline constexpr std::chrono::milliseconds exiftoolBatchTimeoutCap { 300'000 };

// The address space each child may use: exiftool reads a batch in well under 200 MB, while a
// small compressed bomb drove it to gigabytes.
inline constexpr qint64 exiftoolMemoryLimitBytes = qint64(1) << 30;

// The nice value of batch processes: the lowest priority, so that they only use idle time.
inline constexpr int exiftoolBatchNiceness = 19;

// Tests shorten the bounds; calling with the constants above restores them.
void setExiftoolTimeouts(std::chrono::milliseconds singleFile, std::chrono::milliseconds batchCap,
    std::chrono::milliseconds batchBase = exiftoolBatchBaseTimeout,
    std::chrono::milliseconds batchPerFile = exiftoolBatchTimeoutPerFile);

// The resources directory searched first: `share/limnoscope` beside the installed binary,
// or the build tree's equivalent. Tests may point it elsewhere.
[[nodiscard]] QString resourcesDirectory();
void setResourcesDirectory(const QString& path);

} // namespace limnoscope
