#pragma once

#include "FolderGroup.h"
#include "SortOrder.h"

#include <QCollator>
#include <QList>
#include <QStringList>
#include <QUrl>

#include <optional>

namespace limnoscope {

// Listing an opened folder and its immediate subfolders into groups of images, and the orders
// of images. Blocking (directory listings, file dates); usable without the browser model, on
// any thread. Large folders are split between the calling thread and one more of its own.

// The lower-case file extensions shown: jpg, jpeg, png, webp, heic, tiff, tif.
[[nodiscard]] const QStringList& supportedImageExtensions();

// True when the text after the last dot of `fileName` is a supported extension, in any case.
[[nodiscard]] bool hasSupportedImageExtension(QStringView fileName);

// The file-manager-style name comparison: case-insensitive, digit runs by value ("img2" before
// "img10"), in the user's locale, or English where the locale is C (which knows no digit runs).
[[nodiscard]] QCollator naturalNameCollator();

// A stable sort of `urls` in `order`: file names by the natural comparison, or creation dates
// (birth time, else modification time; a file without either counts as the most distant past).
[[nodiscard]] QList<QUrl> sortImages(const QList<QUrl>& urls, SortOrder order);

// The groups of the folder `root`: its own images first (if any), then one group per immediate
// subfolder with images, subfolders in natural name order whatever `order` is; the images of
// each group sorted in `order` (a name order reads nothing but the folders, a date order also
// each image's date). Hidden entries are skipped; deeper folders are not looked at.
// Nothing when `root` itself cannot be listed; a subfolder that cannot be listed is skipped.
// `subfolderPaths`, when given, receives the paths of every immediate subfolder, listable or not;
// `errorNumber`, when given, receives why `root` could not be listed. An entry whose name is not
// valid in the file-name encoding cannot be reached by a path and is left out;
// `skippedNameCount`, when given, receives how many such images and subfolders were left out.
[[nodiscard]] std::optional<QList<FolderGroup>> scanFolder(const QUrl& root, SortOrder order,
    QStringList* subfolderPaths = nullptr, int* errorNumber = nullptr, qsizetype* skippedNameCount = nullptr);

} // namespace limnoscope
