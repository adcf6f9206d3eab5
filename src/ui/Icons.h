#pragma once

#include <QIcon>

namespace limnoscope {

// The icon for one of the symbol names the window uses ("folder.badge.plus", "trash", ...):
// the desktop theme's icon of the same meaning, or a built-in one when the theme has none, so
// that no button is ever blank. GUI thread.
[[nodiscard]] QIcon symbolIcon(const char *symbolName);

} // namespace limnoscope
