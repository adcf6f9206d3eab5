#include "FileStamp.h"

#include <QFile>

#include <sys/stat.h>

namespace limnoscope {

std::optional<FileStamp> FileStamp::of(const QString& path)
{
    struct stat info {
    };
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return std::nullopt;
#if defined(__APPLE__)
    const auto& modified = info.st_mtimespec;
#else
    const auto& modified = info.st_mtim;
#endif
    return FileStamp { qint64(info.st_size), qint64(modified.tv_sec) * 1'000'000'000 + modified.tv_nsec };
}

} // namespace limnoscope
