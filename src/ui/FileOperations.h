#pragma once

#include <QUrl>

namespace limnoscope {

// File operations the window offers on one image. GUI thread; the slow parts (reading an image,
// asking the file manager) run off it.

// Moves the file to the desktop's Trash (restorable from there). False when it could not: the
// file then stays where it was.
bool moveFileToTrash(const QUrl &fileURL);

// Shows the file selected in the desktop's file manager, or opens its folder when no file
// manager answers.
void revealInFileManager(const QUrl &fileURL);

// Puts the file's path, not its URL, on the clipboard as plain text.
void copyPathToClipboard(const QUrl &fileURL);

// Reads the image on a worker and puts it on the clipboard; nothing when it cannot be read.
void copyImageToClipboard(const QUrl &fileURL);

} // namespace limnoscope
