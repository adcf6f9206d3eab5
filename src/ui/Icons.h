#pragma once

#include <QIcon>
#include <QList>

namespace limnoscope {

// The icon for one of the symbol names the window uses ("folder.badge.plus", "trash", ...):
// the desktop theme's icon of the same meaning, or the one Limnoscope ships when the theme has
// none, so that no button is ever blank. Shipped icons take the palette's text colour; a symbol
// with a filled variant shows it in the On state (a checked tool button). GUI thread.
[[nodiscard]] QIcon symbolIcon(const char* symbolName);

// The symbol names symbolIcon() knows.
[[nodiscard]] QList<QByteArray> symbolNames();

// Limnoscope's own icon, for window decorations: the installed theme's "limnoscope" or the
// copy compiled into the program.
[[nodiscard]] QIcon applicationIcon();

} // namespace limnoscope
