#pragma once

#include <QList>
#include <QString>
#include <QUrl>

#include <functional>

class QWidget;

namespace limnoscope {

class ImageBrowserModel;

// File operations the window offers on one image. GUI thread; the slow parts (reading an image,
// asking the file manager) run off it.

// Moves the file (a symbolic link itself) to the desktop's Trash, restorable from there. False when it could not: the
// file then stays where it was, and `failure` (when given) receives the reason, in words for the
// user. Blocks while the file system works: call it off the GUI thread.
bool moveFileToTrash(const QUrl& fileURL, QString* failure = nullptr);

// The one way the window deletes images: moves them to the Trash on a worker, then makes the
// model forget exactly those that moved and names the others, with the reason, in a message box
// over `window`. `finished` runs on the GUI thread once the model has been told, unless the model
// is gone by then. An image whose move is still under way is not asked for again.
void trashImages(
    ImageBrowserModel* model, const QList<QUrl>& urls, QWidget* window, const std::function<void()>& finished = {});

// Shows the file selected in the desktop's file manager, or opens its folder when no file
// manager answers.
void revealInFileManager(const QUrl& fileURL);

// Puts the file's path, not its URL, on the clipboard as plain text.
void copyPathToClipboard(const QUrl& fileURL);

// Reads the image on a worker and puts it on the clipboard; nothing when it cannot be read.
void copyImageToClipboard(const QUrl& fileURL);

} // namespace limnoscope
