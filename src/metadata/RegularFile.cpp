#include "RegularFile.h"

#include <QFile>

#include <algorithm>
#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace limnoscope {
namespace {

int fail(int* error, int number)
{
    if (error)
        *error = number;
    return -1;
}

} // namespace

bool isSpecialFile(const QString& path)
{
    struct stat status = {};
    return ::stat(QFile::encodeName(path).constData(), &status) == 0 && !S_ISREG(status.st_mode);
}

int openRegularFile(const QString& path, int* error)
{
    struct stat status = {};
    const QByteArray encoded = QFile::encodeName(path);
    if (::stat(encoded.constData(), &status) != 0)
        return fail(error, errno);
    if (!S_ISREG(status.st_mode))
        return fail(error, notARegularFileError);
    const int fd = ::open(encoded.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return fail(error, errno);
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(fd);
        return fail(error, notARegularFileError);
    }
    if (error)
        *error = 0;
    return fd;
}

std::optional<QByteArray> readRegularFile(const QString& path, qint64 maxBytes, int* error)
{
    const int fd = openRegularFile(path, error);
    if (fd < 0)
        return std::nullopt;
    struct stat status = {};
    if (::fstat(fd, &status) == 0 && status.st_size > maxBytes) {
        ::close(fd);
        fail(error, EFBIG);
        return std::nullopt;
    }
    QByteArray bytes;
    // Read to the end rather than trusting the size: the file may grow or shrink meanwhile.
    constexpr qsizetype chunkBytes = 256 * 1024;
    for (;;) {
        const qsizetype room = qsizetype(std::min<qint64>(chunkBytes, maxBytes + 1 - bytes.size()));
        if (room <= 0)
            break;
        const qsizetype start = bytes.size();
        bytes.resize(start + room);
        const ssize_t got = ::read(fd, bytes.data() + start, size_t(room));
        if (got < 0 && errno == EINTR) {
            bytes.resize(start);
            continue;
        }
        if (got < 0) {
            const int number = errno;
            ::close(fd);
            fail(error, number);
            return std::nullopt;
        }
        bytes.resize(start + got);
        if (got == 0)
            break;
    }
    ::close(fd);
    if (bytes.size() > maxBytes) {
        fail(error, EFBIG);
        return std::nullopt;
    }
    return bytes;
}

RegularFileReader::RegularFileReader(const QString& path)
    : m_fd(openRegularFile(path))
{
}

RegularFileReader::~RegularFileReader()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

qsizetype RegularFileReader::readAt(qint64 offset, char* buffer, qsizetype count) const
{
    qsizetype done = 0;
    while (done < count) {
        const ssize_t n = ::pread(m_fd, buffer + done, size_t(count - done), offset + done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += n;
    }
    return done;
}

} // namespace limnoscope
