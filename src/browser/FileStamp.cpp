#include "FileStamp.h"

#include <QFile>

#include <sys/stat.h>

namespace limnoscope {

namespace {

qint64 nanosecondsSinceEpoch(const timespec& time)
{
    return qint64(time.tv_sec) * 1'000'000'000 + time.tv_nsec;
}

} // namespace

std::optional<FileStamp> FileStamp::of(const QString& path)
{
    const std::optional<FileStatus> status = FileStatus::of(path);
    return status ? std::optional(status->stamp) : std::nullopt;
}

std::optional<FileStatus> FileStatus::of(const QString& path)
{
    struct stat info {
    };
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return std::nullopt;
#if defined(__APPLE__)
    const timespec &modified = info.st_mtimespec, &changed = info.st_ctimespec;
#else
    const timespec &modified = info.st_mtim, &changed = info.st_ctim;
#endif
    return FileStatus { FileStamp { qint64(info.st_size), nanosecondsSinceEpoch(modified) },
        nanosecondsSinceEpoch(changed) };
}

} // namespace limnoscope
