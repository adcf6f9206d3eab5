#pragma once

#include <QByteArray>
#include <QString>

#include <cerrno>
#include <optional>

namespace limnoscope {

// Opening files that come from outside, on any thread. Only regular files are read: a FIFO,
// a device or a socket named like an image would block a reader for good. Nothing is mapped
// into memory, so a file truncated while it is read cannot bring the process down.

// The error number given for a path that is not a regular file (a folder, FIFO, device, socket).
inline constexpr int notARegularFileError = EINVAL;

// Whether `path` exists (following links) as something other than a regular file: a folder,
// FIFO, device or socket. Checked without opening it.
[[nodiscard]] bool isSpecialFile(const QString& path);

// A read-only descriptor (close-on-exec) of `path` when it is a regular file; -1 otherwise, with
// the reason in `error` (an errno value, or notARegularFileError). Nothing else is opened (opening
// a device may act on it); the open never blocks, and the type is checked again on the open
// descriptor, so the file cannot be swapped between check and read.
[[nodiscard]] int openRegularFile(const QString& path, int* error = nullptr);

// The whole content of the regular file `path`, when it holds at most `maxBytes`; nothing
// otherwise (`error`: as above, or EFBIG when it is larger).
[[nodiscard]] std::optional<QByteArray> readRegularFile(const QString& path, qint64 maxBytes, int* error = nullptr);

// A regular file (opened as `openRegularFile` does) read at given offsets, closed on every path.
// Read with pread rather than mapped: the file may shrink while it is read.
class RegularFileReader
{
public:
    explicit RegularFileReader(const QString& path);
    ~RegularFileReader();
    RegularFileReader(const RegularFileReader&) = delete;
    RegularFileReader& operator=(const RegularFileReader&) = delete;

    [[nodiscard]] bool isOpen() const { return m_fd >= 0; }

    // Reads up to `count` bytes at `offset` into `buffer`: fewer only where the file ends or a
    // read fails.
    qsizetype readAt(qint64 offset, char* buffer, qsizetype count) const;

private:
    int m_fd = -1;
};

} // namespace limnoscope
