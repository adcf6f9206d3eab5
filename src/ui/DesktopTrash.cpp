#include "DesktopTrash.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace limnoscope {
namespace {

// Only this user may look into a Trash folder it creates.
constexpr mode_t trashFolderMode = 0700;
constexpr mode_t trashInfoMode = 0600;
// "name", "name.2", ...: past this many names taken, the Trash is treated as unusable rather
// than searched on.
constexpr int maxTrashNameAttempts = 10000;

QByteArray uidText()
{
    return QByteArray::number(qulonglong(::geteuid()));
}

bool isFolder(const QByteArray& path)
{
    struct stat status {
    };
    return ::stat(path.constData(), &status) == 0 && S_ISDIR(status.st_mode);
}

// A folder that is itself no link, which this user may create entries in.
bool isRealWritableFolder(const struct stat& status, const QByteArray& path)
{
    return S_ISDIR(status.st_mode) && ::access(path.constData(), W_OK | X_OK) == 0;
}

QByteArray parentOf(const QByteArray& path)
{
    const qsizetype slash = path.lastIndexOf('/');
    return slash <= 0 ? QByteArray("/") : path.left(slash);
}

QString systemReason(int error)
{
    return qtTrId("trash_error_system").arg(QString::fromLocal8Bit(std::strerror(error)));
}

} // namespace

std::optional<QString> DesktopTrash::moveToTrash(const QString& path)
{
    const QByteArray given = QFile::encodeName(QDir::cleanPath(QFileInfo(path).absoluteFilePath()));
    const QByteArray name = given.mid(given.lastIndexOf('/') + 1);
    // The link itself is what the user sees and deletes: never follow it.
    struct stat file {
    };
    if (path.isEmpty() || name.isEmpty() || ::lstat(given.constData(), &file) != 0)
        return qtTrId("trash_error_missing");
    char resolved[PATH_MAX];
    if (!::realpath(parentOf(given).constData(), resolved))
        return qtTrId("trash_error_missing");
    const QByteArray folder(resolved);

    const std::optional<QByteArray> data = dataFolder();
    struct stat dataStatus {
    };
    if (!data || ::stat(data->constData(), &dataStatus) != 0)
        return qtTrId("trash_error_no_data_folder");
    if (file.st_dev == dataStatus.st_dev) {
        const QByteArray trash = *data + "/Trash";
        if (!prepareTrashFolder(trash))
            return qtTrId("trash_error_unusable");
        return moveInto(trash, given, given);
    }
    const QByteArray top = driveTop(folder, file.st_dev);
    const std::optional<QByteArray> trash = driveTrash(top);
    if (!trash)
        return qtTrId("trash_error_drive_unusable");
    // A drive's Trash records paths from the drive's top, so that they survive another mount point.
    const QByteArray physical = (folder == "/" ? QByteArray() : folder) + '/' + name;
    return moveInto(*trash, given, top == "/" ? physical.mid(1) : physical.mid(top.size() + 1));
}

std::optional<QByteArray> DesktopTrash::dataFolder()
{
    // Relative values are invalid and ignored, as the base-directory rules demand.
    const QByteArray configured = qgetenv("XDG_DATA_HOME");
    QByteArray folder;
    if (configured.startsWith('/')) {
        folder = configured;
    } else {
        const QByteArray home = qgetenv("HOME");
        if (!home.startsWith('/') || !isFolder(home))
            return std::nullopt;
        folder = home + "/.local/share";
    }
    if (!isFolder(folder) && !QDir().mkpath(QFile::decodeName(folder)))
        return std::nullopt;
    return isFolder(folder) ? std::optional(folder) : std::nullopt;
}

QByteArray DesktopTrash::driveTop(const QByteArray& folder, dev_t device)
{
    QByteArray top = folder;
    while (top != "/") {
        struct stat parent {
        };
        if (::stat(parentOf(top).constData(), &parent) != 0 || parent.st_dev != device)
            break;
        top = parentOf(top);
    }
    return top;
}

std::optional<QByteArray> DesktopTrash::driveTrash(const QByteArray& top)
{
    const QByteArray base = top == "/" ? QByteArray() : top;
    // A shared ".Trash" counts only when it is a real sticky folder: otherwise anyone could
    // have planted it, or a link to elsewhere.
    struct stat shared {
    };
    if (::lstat((base + "/.Trash").constData(), &shared) == 0 && S_ISDIR(shared.st_mode)
        && (shared.st_mode & S_ISVTX) != 0) {
        const QByteArray own = base + "/.Trash/" + uidText();
        if (prepareTrashFolder(own))
            return own;
    }
    const QByteArray own = base + "/.Trash-" + uidText();
    return prepareTrashFolder(own) ? std::optional(own) : std::nullopt;
}

bool DesktopTrash::prepareTrashFolder(const QByteArray& trash)
{
    // Every part is checked before any is created, so that a refusal leaves nothing behind.
    struct stat status {
    };
    const bool exists = ::lstat(trash.constData(), &status) == 0;
    if (!exists && errno != ENOENT)
        return false;
    if (exists && !(isRealWritableFolder(status, trash) && status.st_uid == ::geteuid()))
        return false;
    QList<QByteArray> missing;
    if (!exists)
        missing.append(trash);
    for (const char* part : { "/files", "/info" }) {
        const QByteArray path = trash + part;
        if (!exists || (::lstat(path.constData(), &status) != 0 && errno == ENOENT))
            missing.append(path);
        else if (!isRealWritableFolder(status, path))
            return false;
    }
    for (const QByteArray& path : std::as_const(missing)) {
        if (::mkdir(path.constData(), trashFolderMode) != 0 && errno != EEXIST)
            return false;
    }
    // Something may have appeared meanwhile: look once more.
    for (const QByteArray& path : { trash, trash + "/files", trash + "/info" }) {
        if (::lstat(path.constData(), &status) != 0 || !isRealWritableFolder(status, path))
            return false;
    }
    return true;
}

std::optional<QString> DesktopTrash::moveInto(
    const QByteArray& trash, const QByteArray& source, const QByteArray& recordedPath)
{
    const QByteArray name = source.mid(source.lastIndexOf('/') + 1);
    const QByteArray record = "[Trash Info]\nPath=" + recordedPath.toPercentEncoding("/")
        + "\nDeletionDate=" + QDateTime::currentDateTime().toString(Qt::ISODate).left(19).toLatin1() + '\n';
    for (int attempt = 1; attempt <= maxTrashNameAttempts; ++attempt) {
        const QByteArray trashedName = attempt == 1 ? name : name + '.' + QByteArray::number(attempt);
        const QByteArray infoPath = trash + "/info/" + trashedName + ".trashinfo";
        const QByteArray filesPath = trash + "/files/" + trashedName;
        // The information file is claimed first: it is what reserves the name.
        const int fd
            = ::open(infoPath.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, trashInfoMode);
        if (fd < 0 && errno == EEXIST)
            continue;
        if (fd < 0)
            return systemReason(errno);
        const bool written = ::write(fd, record.constData(), size_t(record.size())) == record.size();
        const int writeError = errno;
        ::close(fd);
        struct stat taken {
        };
        const bool nameFree = written && ::lstat(filesPath.constData(), &taken) != 0;
        if (nameFree && ::rename(source.constData(), filesPath.constData()) == 0)
            return std::nullopt;
        const int error = written ? errno : writeError;
        ::unlink(infoPath.constData());
        if (!written || nameFree)
            return systemReason(error);
    }
    return qtTrId("trash_error_unusable");
}

} // namespace limnoscope
