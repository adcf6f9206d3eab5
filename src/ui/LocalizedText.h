#pragma once

#include <QString>
#include <QStringList>

namespace limnoscope {

class ImageBrowserModel;

// Localised texts with arguments. The texts behind the keys may use printf-style ("%lld", "%@")
// or Qt-style ("%1") places for their arguments; either works. GUI thread.

// The text of `key` with each argument, in order, put in the first remaining place: the first
// "%lld", "%ld", "%d" or "%@", or else "%1", "%2", ... by the argument's number.
[[nodiscard]] QString localizedFormat(const char* key, const QStringList& arguments);

// The plural text of `key` for `count` ("%n images"); a count beyond the largest int shows that.
[[nodiscard]] QString localizedCount(const char* key, qint64 count);

// What is open, in a few words: the folder's name, the name of the one opened file, or "3 images"
// for several opened files (the filter aside); empty while nothing is open.
[[nodiscard]] QString openedItemsName(const ImageBrowserModel& model);

} // namespace limnoscope
