#include "FileReadError.h"

#include "RegularFile.h"

#include <cerrno>
#include <cstring>

#include <unistd.h>

namespace limnoscope {

int readErrorOf(const QString& path)
{
    int error = 0;
    const int fd = openRegularFile(path, &error);
    if (fd < 0)
        return error;
    ::close(fd);
    return 0;
}

QString readErrorReason(int errorNumber)
{
    switch (errorNumber) {
    case EACCES:
    case EPERM:
        return qtTrId("error_permission_denied");
    case ENOENT:
        return qtTrId("error_no_such_file");
    case ENOTDIR:
        return qtTrId("error_not_a_folder");
    case notARegularFileError:
        return qtTrId("error_not_a_regular_file");
    case EIO:
        return qtTrId("error_input_output");
    case ELOOP:
        return qtTrId("error_link_loop");
    case ENAMETOOLONG:
        return qtTrId("error_name_too_long");
    case EMFILE:
    case ENFILE:
        return qtTrId("error_too_many_open_files");
    default:
        return QString::fromLocal8Bit(std::strerror(errorNumber));
    }
}

} // namespace limnoscope
