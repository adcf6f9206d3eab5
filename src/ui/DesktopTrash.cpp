#include "DesktopTrash.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

// GLib names struct members "signals", which Qt defines as a keyword.
#undef signals
#include <gio/gio.h>
#define signals Q_SIGNALS

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

namespace limnoscope {
namespace {

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

// A folder this user may create entries in.
bool isWritableFolder(const struct stat& status, const QByteArray& path)
{
    return S_ISDIR(status.st_mode) && ::access(path.constData(), W_OK | X_OK) == 0;
}

QByteArray parentOf(const QByteArray& path)
{
    const qsizetype slash = path.lastIndexOf('/');
    return slash <= 0 ? QByteArray("/") : path.left(slash);
}

} // namespace

std::optional<QString> DesktopTrash::moveToTrash(const QString& path)
{
    const QByteArray given = QFile::encodeName(QDir::cleanPath(QFileInfo(path).absoluteFilePath()));
    // The link itself is what the user sees and deletes: never follow it.
    struct stat file {
    };
    if (path.isEmpty() || given.endsWith('/') || ::lstat(given.constData(), &file) != 0)
        return qtTrId("trash_error_missing");
    char resolved[PATH_MAX];
    if (!::realpath(parentOf(given).constData(), resolved))
        return qtTrId("trash_error_missing");

    const std::optional<QByteArray> data = dataFolder();
    struct stat dataStatus {
    };
    if (!data || ::stat(data->constData(), &dataStatus) != 0)
        return qtTrId("trash_error_no_data_folder");
    if (file.st_dev == dataStatus.st_dev) {
        // The home Trash may be a link to a folder elsewhere: users keep it so.
        if (!trashFolderUsable(*data + "/Trash", false))
            return qtTrId("trash_error_unusable");
    } else if (!driveTrashUsable(driveTop(QByteArray(resolved), file.st_dev))) {
        return qtTrId("trash_error_drive_unusable");
    }

    // GIO renames the file (the link itself) and never copies or deletes it.
    GFile* moved = g_file_new_for_path(given.constData());
    GError* error = nullptr;
    const bool done = g_file_trash(moved, nullptr, &error);
    g_object_unref(moved);
    if (done)
        return std::nullopt;
    const QString reason = qtTrId("trash_error_system").arg(error ? QString::fromUtf8(error->message) : QString());
    g_clear_error(&error);
    return reason;
}

std::optional<QByteArray> DesktopTrash::dataFolder()
{
    // Relative values are invalid and ignored, as the base-directory rules demand. GIO reads the
    // same variables (once per process), so the folder checked here is the one it uses.
    const QByteArray configured = qgetenv("XDG_DATA_HOME");
    QByteArray folder;
    if (configured.startsWith('/')) {
        folder = configured;
    } else {
        const QByteArray home = qgetenv("HOME");
        if (!home.startsWith('/') || !isFolder(home) || !configured.isEmpty())
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

bool DesktopTrash::driveTrashUsable(const QByteArray& top)
{
    const QByteArray base = top == "/" ? QByteArray() : top;
    // A shared ".Trash" counts only when it is a real sticky folder (otherwise anyone could have
    // planted it, or a link to elsewhere), and then only its folder for this user.
    struct stat shared {
    };
    if (::lstat((base + "/.Trash").constData(), &shared) == 0 && S_ISDIR(shared.st_mode)
        && (shared.st_mode & S_ISVTX) != 0 && trashFolderUsable(base + "/.Trash/" + uidText(), true)) {
        return true;
    }
    return trashFolderUsable(base + "/.Trash-" + uidText(), true);
}

bool DesktopTrash::trashFolderUsable(const QByteArray& trash, bool ownedRealFolder)
{
    struct stat status {
    };
    const int found = ownedRealFolder ? ::lstat(trash.constData(), &status) : ::stat(trash.constData(), &status);
    if (found != 0)
        return errno == ENOENT; // made when first used
    if (!isWritableFolder(status, trash) || (ownedRealFolder && status.st_uid != ::geteuid()))
        return false;
    for (const char* part : { "/files", "/info" }) {
        const QByteArray folder = trash + part;
        if (::lstat(folder.constData(), &status) != 0) {
            if (errno != ENOENT)
                return false;
        } else if (!isWritableFolder(status, folder)) {
            return false;
        }
    }
    return true;
}

} // namespace limnoscope
