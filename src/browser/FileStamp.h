#pragma once

#include <QString>
#include <QtGlobal>

#include <optional>

namespace limnoscope {

// What a file looked like when it was read: its size and modification time. A cached reading
// whose file no longer has the same stamp is out of date. Plain value; any thread.
struct FileStamp {
    qint64 size = 0;
    qint64 modifiedNanoseconds = 0;

    bool operator==(const FileStamp& other) const = default;

    // The stamp of the file at `path` (symbolic links followed); nothing when it cannot be read.
    [[nodiscard]] static std::optional<FileStamp> of(const QString& path);
};

// What one look at a file tells: its stamp, and its status change time, which, unlike the
// modification time, no one can set back. Plain value; any thread.
struct FileStatus {
    FileStamp stamp;
    qint64 changedNanoseconds = 0;

    // The status of the file at `path` (symbolic links followed); nothing when it cannot be read.
    [[nodiscard]] static std::optional<FileStatus> of(const QString& path);
};

} // namespace limnoscope
