#include "FolderScan.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QScopeGuard>

#include <algorithm>
#include <cerrno>
#include <limits>
#include <numeric>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

namespace limnoscope {

namespace {

struct DirectoryEntry {
    QString name;
    bool isDirectory = false; // symbolic links followed
};

// One level, hidden entries (names starting with a dot) skipped, in the file system's own order.
// Nothing when the folder cannot be opened; `errorNumber`, when given, then receives why. Entries
// whose names do not survive decoding are left out; `skippedNames` counts those of them that
// would have been listed (folders and files named like images).
std::optional<QList<DirectoryEntry>> listFolder(
    const QString& path, qsizetype* skippedNames, int* errorNumber = nullptr)
{
    DIR* directory = ::opendir(QFile::encodeName(path).constData());
    if (!directory) {
        if (errorNumber)
            *errorNumber = errno;
        return std::nullopt;
    }
    const auto closeDirectory = qScopeGuard([directory] { ::closedir(directory); });
    const int directoryFD = ::dirfd(directory);

    QList<DirectoryEntry> entries;
    while (const dirent* entry = ::readdir(directory)) {
        if (entry->d_name[0] == '.')
            continue;
        bool isDirectory = entry->d_type == DT_DIR;
        // Links and file systems without entry types need a look at the target itself; a link
        // loop or a dangling link fails that look and is no directory.
        if (entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN) {
            struct stat info {
            };
            isDirectory = ::fstatat(directoryFD, entry->d_name, &info, 0) == 0 && S_ISDIR(info.st_mode);
        }
        const QString name = QFile::decodeName(entry->d_name);
        // Bytes that are not valid in the file-name encoding decode to replacement characters, and
        // the decoded name would lead to another file (or to none): such an entry has no path
        // that reaches it, so it is left out rather than shown, tagged or trashed as another.
        if (QFile::encodeName(name) != QByteArrayView(entry->d_name)) {
            if (isDirectory || hasSupportedImageExtension(name))
                ++*skippedNames;
            continue;
        }
        entries.append({ name, isDirectory });
    }
    return entries;
}

QString childPath(const QString& folderPath, const QString& name)
{
    return folderPath.endsWith(QLatin1Char('/')) ? folderPath + name : folderPath + QLatin1Char('/') + name;
}

// Birth time where the file system keeps one, else modification time, in nanoseconds since
// the epoch; the most distant past when neither can be read.
qint64 creationTime(const QUrl& url)
{
    constexpr qint64 mostDistantPast = std::numeric_limits<qint64>::min();
    const QByteArray path = QFile::encodeName(url.toLocalFile());
#if defined(STATX_BTIME)
    struct statx info {
    };
    if (::statx(AT_FDCWD, path.constData(), 0, STATX_BTIME | STATX_MTIME, &info) != 0)
        return mostDistantPast;
    const auto nanoseconds
        = [](const statx_timestamp& time) { return qint64(time.tv_sec) * 1'000'000'000 + time.tv_nsec; };
    if (info.stx_mask & STATX_BTIME)
        return nanoseconds(info.stx_btime);
    if (info.stx_mask & STATX_MTIME)
        return nanoseconds(info.stx_mtime);
    return mostDistantPast;
#else
    const QFileInfo info(QFile::decodeName(path));
    QDateTime time = info.birthTime();
    if (!time.isValid())
        time = info.lastModified();
    return time.isValid() ? time.toMSecsSinceEpoch() * 1'000'000 : mostDistantPast;
#endif
}

// Positions of `count` items in a stable order given by `comesBefore(a, b)` on their positions.
template <typename ComesBefore> std::vector<qsizetype> stableOrder(qsizetype count, ComesBefore comesBefore)
{
    std::vector<qsizetype> positions(count);
    std::iota(positions.begin(), positions.end(), 0);
    std::stable_sort(positions.begin(), positions.end(), comesBefore);
    return positions;
}

template <typename Item> QList<Item> reordered(const QList<Item>& items, const std::vector<qsizetype>& positions)
{
    QList<Item> result;
    result.reserve(items.size());
    for (const qsizetype position : positions)
        result.append(items.at(position));
    return result;
}

// Natural order of names, ascending or descending; equal names keep their order. Sort keys
// are made once per name, which is far cheaper than comparing through the collator each time.
std::vector<qsizetype> naturalOrder(const QStringList& names, bool ascending)
{
    const QCollator collator = naturalNameCollator();
    std::vector<QCollatorSortKey> keys;
    keys.reserve(names.size());
    for (const QString& name : names)
        keys.push_back(collator.sortKey(name));
    return stableOrder(names.size(), [&keys, ascending](qsizetype a, qsizetype b) {
        const int comparison = keys[a].compare(keys[b]);
        return ascending ? comparison < 0 : comparison > 0;
    });
}

QList<QUrl> imageURLs(const QString& folderPath, const QList<DirectoryEntry>& entries)
{
    QList<QUrl> urls;
    for (const DirectoryEntry& entry : entries) {
        // A directory named like an image is a folder, not an image.
        if (!entry.isDirectory && hasSupportedImageExtension(entry.name))
            urls.append(QUrl::fromLocalFile(childPath(folderPath, entry.name)));
    }
    return urls;
}

} // namespace

const QStringList& supportedImageExtensions()
{
    static const QStringList extensions { QStringLiteral("jpg"), QStringLiteral("jpeg"), QStringLiteral("png"),
        QStringLiteral("webp"), QStringLiteral("heic"), QStringLiteral("tiff"), QStringLiteral("tif") };
    return extensions;
}

bool hasSupportedImageExtension(QStringView fileName)
{
    const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
    if (dot < 0)
        return false;
    const QStringView extension = fileName.mid(dot + 1);
    return std::any_of(supportedImageExtensions().cbegin(), supportedImageExtensions().cend(),
        [extension](const QString& supported) { return extension.compare(supported, Qt::CaseInsensitive) == 0; });
}

QCollator naturalNameCollator()
{
    QLocale locale;
    if (locale.language() == QLocale::C)
        locale = QLocale(QLocale::English, QLocale::UnitedStates);
    QCollator collator(locale);
    collator.setNumericMode(true);
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    return collator;
}

QList<QUrl> sortImages(const QList<QUrl>& urls, SortOrder order)
{
    switch (order) {
    case SortOrder::nameAscending:
    case SortOrder::nameDescending: {
        QStringList names;
        names.reserve(urls.size());
        for (const QUrl& url : urls)
            names.append(url.fileName());
        return reordered(urls, naturalOrder(names, order == SortOrder::nameAscending));
    }
    case SortOrder::dateAscending:
    case SortOrder::dateDescending: {
        // Each date is read once: a comparison whose answer changed during the sort would
        // leave the order undefined.
        std::vector<qint64> times;
        times.reserve(urls.size());
        for (const QUrl& url : urls)
            times.push_back(creationTime(url));
        const bool ascending = order == SortOrder::dateAscending;
        return reordered(urls, stableOrder(urls.size(), [&times, ascending](qsizetype a, qsizetype b) {
            return ascending ? times[a] < times[b] : times[a] > times[b];
        }));
    }
    }
    return urls;
}

std::optional<QList<FolderGroup>> scanFolder(
    const QUrl& root, SortOrder order, QStringList* subfolderPaths, int* errorNumber, qsizetype* skippedNameCount)
{
    const QString rootPath = QDir::cleanPath(root.toLocalFile());
    if (!root.isLocalFile() || rootPath.isEmpty()) {
        if (errorNumber)
            *errorNumber = ENOENT;
        return std::nullopt;
    }
    qsizetype skippedNames = 0;
    const std::optional<QList<DirectoryEntry>> rootEntries = listFolder(rootPath, &skippedNames, errorNumber);
    if (!rootEntries)
        return std::nullopt;

    QList<FolderGroup> groups;
    const QList<QUrl> rootImages = imageURLs(rootPath, *rootEntries);
    if (!rootImages.isEmpty())
        groups.append(
            { QUuid::createUuid(), root, QFileInfo(rootPath).fileName(), sortImages(rootImages, order), true });

    QStringList subfolderNames;
    for (const DirectoryEntry& entry : *rootEntries) {
        if (entry.isDirectory)
            subfolderNames.append(entry.name);
    }
    subfolderNames = reordered(subfolderNames, naturalOrder(subfolderNames, true));

    for (const QString& name : std::as_const(subfolderNames)) {
        const QString path = childPath(rootPath, name);
        if (subfolderPaths)
            subfolderPaths->append(path);
        const std::optional<QList<DirectoryEntry>> entries = listFolder(path, &skippedNames);
        if (!entries)
            continue;
        const QList<QUrl> images = imageURLs(path, *entries);
        if (!images.isEmpty())
            groups.append({ QUuid::createUuid(), QUrl::fromLocalFile(path), name, sortImages(images, order), true });
    }
    if (skippedNameCount)
        *skippedNameCount = skippedNames;
    return groups;
}

} // namespace limnoscope
