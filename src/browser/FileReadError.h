#pragma once

#include <QString>

namespace limnoscope {

// Why a file or folder could not be read, told to the user. Plain functions; `readErrorOf` on
// worker threads only (it opens the file), `readErrorReason` on the GUI thread.

// The error number of opening `path` for reading, 0 when it opens; notARegularFileError for a
// folder, FIFO, device or socket, which is never read. Never blocks on a named pipe.
[[nodiscard]] int readErrorOf(const QString& path);

// The localised reason for an error number from opening or listing: the common causes have
// texts of their own, any other is the system's description.
[[nodiscard]] QString readErrorReason(int errorNumber);

} // namespace limnoscope
