#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace limnoscope {

// Finding and starting an installed Limnora. Reads files and starts processes: call on a
// worker thread, never on the GUI thread.

// The first of: the desktop entry "com.limnora.Limnora.desktop", then "limnora.desktop" in the
// XDG application folders (an entry marked Hidden counts as absent), "/opt/Limnora/limnora",
// "~/Applications/Limnora.AppImage". A desktop entry's path or an executable's path.
[[nodiscard]] std::optional<QString> findLimnoraApp();

// The program and arguments of a desktop entry's Exec value (already read from the file, with
// the file's own escapes undone): quoting resolved, field codes such as %U dropped, %% kept as %.
[[nodiscard]] QStringList desktopExecArguments(const QString& exec);

// Starts the desktop entry's command or the executable, detached. True when it started.
bool launchApplication(const QString& location);

// Launches Limnora when it is installed; true when it was found, whether or not it started.
bool openLimnoraIfInstalled();

} // namespace limnoscope
