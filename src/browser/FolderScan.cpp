#include "FolderScan.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QScopeGuard>

#include <algorithm>
#include <cerrno>
#include <iterator>
#include <limits>
#include <numeric>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

constexpr qint64 mostDistantPast = std::numeric_limits<qint64>::min();

// Below this many names a second thread costs more than it saves.
constexpr qsizetype parallelNamesMinimum = 2'000;

// Runs `work(begin, end)` over the positions [0, count): from `parallelMinimum` items on, the
// second half on a thread of its own (the scan's work is CPU-bound, and the GUI thread mostly
// waits for the listing), else all of it here. Returns when both halves are done: true when they
// were two, false when `work` ran once over all of [0, count).
template <typename Work>
bool inTwoHalves(qsizetype count, const Work& work, qsizetype parallelMinimum = parallelNamesMinimum)
{
    const qsizetype middle = count / 2;
    std::optional<std::thread> helper;
    if (count >= std::max<qsizetype>(parallelMinimum, 2)) {
        try {
            helper.emplace([&work, middle, count] { work(middle, count); });
        } catch (const std::system_error&) {
            // No thread to be had: this one does both halves.
        }
    }
    work(0, helper ? middle : count);
    if (!helper)
        return false;
    helper->join();
    return true;
}

#if defined(STATX_BTIME)
// Birth time where the file system keeps one, else modification time, in nanoseconds since the
// epoch, of the entry `name` of the folder open as `folderFD` (or of the path `name` when that
// is AT_FDCWD), symbolic links followed; the most distant past when neither can be read.
qint64 creationTime(int folderFD, const char* name)
{
    struct statx info {
    };
    if (::statx(folderFD, name, 0, STATX_BTIME | STATX_MTIME, &info) != 0)
        return mostDistantPast;
    const auto nanoseconds
        = [](const statx_timestamp& time) { return qint64(time.tv_sec) * 1'000'000'000 + time.tv_nsec; };
    if (info.stx_mask & STATX_BTIME)
        return nanoseconds(info.stx_btime);
    if (info.stx_mask & STATX_MTIME)
        return nanoseconds(info.stx_mtime);
    return mostDistantPast;
}
#else
qint64 creationTime(const QString& path)
{
    const QFileInfo info(path);
    QDateTime time = info.birthTime();
    if (!time.isValid())
        time = info.lastModified();
    return time.isValid() ? time.toMSecsSinceEpoch() * 1'000'000 : mostDistantPast;
}
#endif

// The creation times (see `creationTime`) of the files `names` in the folder `folderPath`, or,
// when `folderPath` is empty, of the absolute paths `names`. Each date is read once: a comparison
// whose answer changed during the sort would leave the order undefined.
std::vector<qint64> creationTimes(const QString& folderPath, const QStringList& names)
{
    std::vector<qint64> times(names.size(), mostDistantPast);
#if defined(STATX_BTIME)
    // Relative to the folder, the kernel walks one name per file instead of the whole path.
    const int folderFD = folderPath.isEmpty()
        ? AT_FDCWD
        : ::open(QFile::encodeName(folderPath).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderFD == -1)
        return times;
    const auto closeFolder = qScopeGuard([folderFD] {
        if (folderFD != AT_FDCWD)
            ::close(folderFD);
    });
    inTwoHalves(names.size(), [&](qsizetype begin, qsizetype end) {
        for (qsizetype i = begin; i < end; ++i)
            times[i] = creationTime(folderFD, QFile::encodeName(names.at(i)).constData());
    });
#else
    inTwoHalves(names.size(), [&](qsizetype begin, qsizetype end) {
        for (qsizetype i = begin; i < end; ++i)
            times[i] = creationTime(folderPath.isEmpty() ? names.at(i) : childPath(folderPath, names.at(i)));
    });
#endif
    return times;
}

// Positions of `count` items in a stable order given by `comesBefore(a, b)` on their positions:
// for many items, each half sorted on a thread of its own, then the two merged (the first
// half's items first among equals).
template <typename ComesBefore> std::vector<qsizetype> stableOrder(qsizetype count, const ComesBefore& comesBefore)
{
    std::vector<qsizetype> positions(count);
    std::iota(positions.begin(), positions.end(), 0);
    const bool halves = inTwoHalves(count, [&](qsizetype begin, qsizetype end) {
        std::stable_sort(positions.begin() + begin, positions.begin() + end, comesBefore);
    });
    if (halves)
        std::inplace_merge(positions.begin(), positions.begin() + count / 2, positions.end(), comesBefore);
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
    std::vector<QCollatorSortKey> keys;
    keys.reserve(names.size());
    // Sort keys have no empty state: each half fills its own list, with its own collator (one
    // collator is not to be used by two threads at once).
    std::vector<QCollatorSortKey> secondHalfKeys;
    inTwoHalves(names.size(), [&](qsizetype begin, qsizetype end) {
        const QCollator collator = naturalNameCollator();
        std::vector<QCollatorSortKey>& halfKeys = begin == 0 ? keys : secondHalfKeys;
        for (qsizetype i = begin; i < end; ++i)
            halfKeys.push_back(collator.sortKey(names.at(i)));
    });
    std::move(secondHalfKeys.begin(), secondHalfKeys.end(), std::back_inserter(keys));
    return stableOrder(names.size(), [&keys, ascending](qsizetype a, qsizetype b) {
        const int comparison = keys[a].compare(keys[b]);
        return ascending ? comparison < 0 : comparison > 0;
    });
}

std::vector<qsizetype> dateOrder(const std::vector<qint64>& times, bool ascending)
{
    return stableOrder(qsizetype(times.size()), [&times, ascending](qsizetype a, qsizetype b) {
        return ascending ? times[a] < times[b] : times[a] > times[b];
    });
}

// The images of a listed folder, by name, in the file system's order.
QStringList imageNames(const QList<DirectoryEntry>& entries)
{
    QStringList names;
    for (const DirectoryEntry& entry : entries) {
        // A directory named like an image is a folder, not an image.
        if (!entry.isDirectory && hasSupportedImageExtension(entry.name))
            names.append(entry.name);
    }
    return names;
}

// The images `names` of the folder `folderPath` in `order`: the order is found on the names
// alone (or their files' dates), before any URL is made.
QList<QUrl> sortedImageURLs(const QString& folderPath, const QStringList& names, SortOrder order)
{
    const bool byName = order == SortOrder::nameAscending || order == SortOrder::nameDescending;
    const bool ascending = order == SortOrder::nameAscending || order == SortOrder::dateAscending;
    const std::vector<qsizetype> positions
        = byName ? naturalOrder(names, ascending) : dateOrder(creationTimes(folderPath, names), ascending);
    QList<QUrl> urls(names.size());
    QUrl* const url = urls.data();
    inTwoHalves(names.size(), [&](qsizetype begin, qsizetype end) {
        for (qsizetype i = begin; i < end; ++i)
            url[i] = QUrl::fromLocalFile(childPath(folderPath, names.at(positions[i])));
    });
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
    const bool ascending = order == SortOrder::nameAscending || order == SortOrder::dateAscending;
    QStringList names;
    names.reserve(urls.size());
    switch (order) {
    case SortOrder::nameAscending:
    case SortOrder::nameDescending:
        for (const QUrl& url : urls)
            names.append(url.fileName());
        return reordered(urls, naturalOrder(names, ascending));
    case SortOrder::dateAscending:
    case SortOrder::dateDescending:
        for (const QUrl& url : urls)
            names.append(url.toLocalFile());
        return reordered(urls, dateOrder(creationTimes({}, names), ascending));
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
    if (const QStringList rootImages = imageNames(*rootEntries); !rootImages.isEmpty())
        groups.append({ QUuid::createUuid(), root, QFileInfo(rootPath).fileName(),
            sortedImageURLs(rootPath, rootImages, order), true, sharedBaseNames(rootImages) });

    QStringList subfolderNames;
    for (const DirectoryEntry& entry : *rootEntries) {
        if (entry.isDirectory)
            subfolderNames.append(entry.name);
    }
    subfolderNames = reordered(subfolderNames, naturalOrder(subfolderNames, true));

    // Two or more subfolders are listed two at a time.
    std::vector<std::optional<QList<DirectoryEntry>>> subfolderEntries(subfolderNames.size());
    qsizetype skippedInSecondHalf = 0;
    inTwoHalves(
        subfolderNames.size(),
        [&](qsizetype begin, qsizetype end) {
            for (qsizetype i = begin; i < end; ++i) {
                subfolderEntries[i] = listFolder(
                    childPath(rootPath, subfolderNames.at(i)), begin == 0 ? &skippedNames : &skippedInSecondHalf);
            }
        },
        2);
    skippedNames += skippedInSecondHalf;

    for (qsizetype i = 0; i < subfolderNames.size(); ++i) {
        const QString& name = subfolderNames.at(i);
        const QString path = childPath(rootPath, name);
        if (subfolderPaths)
            subfolderPaths->append(path);
        if (!subfolderEntries[i])
            continue;
        if (const QStringList images = imageNames(*subfolderEntries[i]); !images.isEmpty())
            groups.append({ QUuid::createUuid(), QUrl::fromLocalFile(path), name, sortedImageURLs(path, images, order),
                true, sharedBaseNames(images) });
    }
    if (skippedNameCount)
        *skippedNameCount = skippedNames;
    return groups;
}

} // namespace limnoscope
