#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

#include <sys/types.h>

namespace limnoscope {

// Moves files into the desktop's shared Trash. GIO does the move (it writes the information file
// the desktop expects and picks the drive's ".Trash/<uid>" or ".Trash-<uid>" for other file
// systems); every Trash folder on the way is checked first, so that a damaged or foreign Trash,
// or an environment that names no absolute data folder, is a refusal with a reason, never a
// hang, a Trash in the working folder, a copy or a delete. Stateless and blocking; any thread.
class DesktopTrash
{
public:
    // Moves the file (a symbolic link itself, never its target) into its Trash. Nothing when it
    // moved, else the reason in words for the user.
    [[nodiscard]] static std::optional<QString> moveToTrash(const QString& path);

private:
    // The folder under which the home Trash lives, created when missing; nothing when the
    // environment names none that is absolute, as a Trash must never land in the working folder.
    [[nodiscard]] static std::optional<QByteArray> dataFolder();
    // The highest folder above `folder` (a resolved path) still on the same file system.
    [[nodiscard]] static QByteArray driveTop(const QByteArray& folder, dev_t device);
    // Whether the drive whose top is `top` has no Trash folder of ours yet or a usable one.
    [[nodiscard]] static bool driveTrashUsable(const QByteArray& top);
    // Whether `trash` is absent, or a folder whose "files" and "info" are absent or folders
    // this user can fill. `ownedRealFolder`: it must also be no link and belong to this user.
    [[nodiscard]] static bool trashFolderUsable(const QByteArray& trash, bool ownedRealFolder);
};

} // namespace limnoscope
