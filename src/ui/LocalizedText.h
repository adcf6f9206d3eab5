#pragma once

#include <QString>
#include <QStringList>

namespace limnoscope {

// Localised texts with arguments. The texts behind the keys may use printf-style ("%lld", "%@")
// or Qt-style ("%1") places for their arguments; either works. GUI thread.

// The text of `key` with each argument, in order, put in the first remaining place: the first
// "%lld", "%ld", "%d" or "%@", or else "%1", "%2", ... by the argument's number.
[[nodiscard]] QString localizedFormat(const char* key, const QStringList& arguments);

} // namespace limnoscope
