#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

#include <sys/types.h>

namespace limnoscope {

// The desktop's shared Trash as the freedesktop.org layout defines it: the data folder's
// "Trash" for files on its file system, the drive's ".Trash/<uid>" or ".Trash-<uid>" at the
// top of any other. Every folder on the way is checked before anything is written, so a
// damaged or foreign Trash is a refusal, never a hang, a copy or a delete. Stateless and
// blocking; any thread.
class DesktopTrash
{
public:
    // Renames the file (a symbolic link itself, never its target) into its Trash and records
    // where it came from. Nothing when it moved, else the reason in words for the user.
    [[nodiscard]] static std::optional<QString> moveToTrash(const QString& path);

private:
    // The folder under which the home Trash lives, created when missing; nothing when the
    // environment names none that is absolute, as a Trash must never land in the working folder.
    [[nodiscard]] static std::optional<QByteArray> dataFolder();
    // The highest folder above `folder` (a resolved path) still on the same file system.
    [[nodiscard]] static QByteArray driveTop(const QByteArray& folder, dev_t device);
    // The Trash folder of the drive whose top is `top`, ready to use, or nothing.
    [[nodiscard]] static std::optional<QByteArray> driveTrash(const QByteArray& top);
    // Makes sure `trash`, its "files" and "info" are real folders this user can fill.
    [[nodiscard]] static bool prepareTrashFolder(const QByteArray& trash);
    // Writes the information file and renames the file beside it; nothing on success.
    [[nodiscard]] static std::optional<QString> moveInto(
        const QByteArray& trash, const QByteArray& source, const QByteArray& recordedPath);
};

} // namespace limnoscope
