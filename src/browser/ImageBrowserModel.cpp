#include "ImageBrowserModel.h"

#include "FileReadError.h"
#include "FolderScan.h"
#include "FolderWatcher.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSettings>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <numeric>
#include <utility>

namespace limnoscope {

namespace {

QString noImagesInFolderText()
{
    return qtTrId("no_images_in_folder");
}

QString noExifDataText()
{
    return qtTrId("no_exif_data");
}

QString shownPath(const QUrl& url)
{
    return QDir::toNativeSeparators(url.toLocalFile());
}

QString cannotReadFolderText(const QUrl& folder, int errorNumber)
{
    return qtTrId("cannot_read_folder").arg(shownPath(folder), readErrorReason(errorNumber));
}

QString cannotReadImageText(const QUrl& image, int errorNumber)
{
    return qtTrId("cannot_read_image").arg(shownPath(image), readErrorReason(errorNumber));
}

// The listing of an opened folder failed because the folder itself is no longer at its path
// (deleted, renamed or moved away), not because it could not be read for a while.
bool isGone(int errorNumber)
{
    return errorNumber == ENOENT || errorNumber == ENOTDIR;
}

} // namespace

ImageBrowserModel* ImageBrowserModel::shared()
{
    static ImageBrowserModel* const instance = new ImageBrowserModel(QCoreApplication::instance());
    return instance;
}

ImageBrowserModel::ImageBrowserModel(QObject* parent)
    : QObject(parent)
    , m_watcher(new FolderWatcher(this))
{
    connect(m_watcher, &FolderWatcher::changed, this, &ImageBrowserModel::rescanFolder);
    connect(&m_prefetcher, &MetadataPrefetcher::isPrefetchingChanged, this, &ImageBrowserModel::isPrefetchingChanged);
    connect(&m_prefetcher, &MetadataPrefetcher::progressChanged, this, &ImageBrowserModel::prefetchProgressChanged);
    connect(&m_prefetcher, &MetadataPrefetcher::entryStored, this, &ImageBrowserModel::showStoredEntry);
    connect(&m_lister, &FolderLister::listed, this, &ImageBrowserModel::applyLoadListing);
    connect(&m_lister, &FolderLister::openingStamped, this, &ImageBrowserModel::applyOpeningStamps);
    connect(&m_lister, &FolderLister::rescanned, this, &ImageBrowserModel::applyRescan);
    connect(&m_lister, &FolderLister::rescanDue, this, &ImageBrowserModel::rescanFolder);
    connect(&m_lister, &FolderLister::imagesSorted, this, &ImageBrowserModel::applySortedImages);
    connect(&m_lister, &FolderLister::lastFolderLookedFor, this, &ImageBrowserModel::reopenLastFolder);
    connect(&m_filter, &FolderFilter::stateChanged, this, &ImageBrowserModel::filterChanged);
    connect(&m_filter, &FolderFilter::matchesChanged, this, &ImageBrowserModel::showFilterResult);
    connect(this, &ImageBrowserModel::tagVersionChanged, &m_filter, &FolderFilter::tagsChanged);

    const QSettings settings;
    // A missing or unreadable size reads as 0, which stands for the default.
    const double storedSize = settings.value(thumbnailSizeKey).toDouble();
    m_thumbnailSize = storedSize == 0 || !std::isfinite(storedSize) ? defaultThumbnailSize : storedSize;
    m_sortOrder = SortOrders::fromRawValue(settings.value(sortOrderKey).toString()).value_or(SortOrder::nameAscending);
}

// Published fields

void ImageBrowserModel::setGroups(const QList<FolderGroup>& groups)
{
    if (groups == m_groups)
        return;
    m_groups = groups;
    emit groupsChanged();
}

void ImageBrowserModel::setListedGroups(const QList<FolderGroup>& groups)
{
    m_listedGroups = groups;
    setGroups(m_filter.isApplied() ? m_filter.shownGroups(groups, {}, nullptr) : groups);
}

void ImageBrowserModel::showFilterResult()
{
    qint64 position = 0;
    const bool applied = m_filter.isApplied();
    setGroups(applied ? m_filter.shownGroups(m_listedGroups, m_currentImageURL, &position) : m_listedGroups);
    rebuildFlatURLs();
    // Images filtered out leave the selection, so that a delete never reaches an image not shown.
    QSet<QUrl> shownSelection = m_selectedURLs;
    shownSelection.removeIf([this, applied](const QUrl& url) { return applied && !m_filter.matches(url); });
    setSelectedURLs(shownSelection);
    reselect(position, Reselect::keepCurrent);
    emit filterChanged();
}

void ImageBrowserModel::setRootFolderURL(const QUrl& url)
{
    if (url == m_rootFolderURL)
        return;
    m_rootFolderURL = url;
    emit rootFolderURLChanged();
}

void ImageBrowserModel::setCurrentIndex(qint64 index)
{
    if (index == m_currentIndex)
        return;
    m_currentIndex = index;
    emit currentIndexChanged();
}

void ImageBrowserModel::setCurrentImageURL(const QUrl& url)
{
    if (url == m_currentImageURL)
        return;
    m_currentImageURL = url;
    emit currentImageURLChanged();
}

void ImageBrowserModel::setCurrentMetadata(const std::optional<LimnoraMetadata>& metadata)
{
    // Records have no equality (their rows carry fresh ids), so any record counts as a change.
    if (!metadata && !m_currentMetadata)
        return;
    m_currentMetadata = metadata;
    emit currentMetadataChanged();
}

void ImageBrowserModel::setErrorMessage(const QString& message)
{
    if (message == m_errorMessage)
        return;
    m_errorMessage = message;
    emit errorMessageChanged();
}

void ImageBrowserModel::setFlatURLs(const QList<QUrl>& urls)
{
    if (urls == m_flatURLs)
        return;
    m_flatURLs = urls;
    emit flatURLsChanged();
}

void ImageBrowserModel::setSelectedURLs(const QSet<QUrl>& urls)
{
    if (urls == m_selectedURLs)
        return;
    m_selectedURLs = urls;
    emit selectedURLsChanged();
}

void ImageBrowserModel::setTagVersion(qint64 version)
{
    if (version == m_tagVersion)
        return;
    m_tagVersion = version;
    emit tagVersionChanged();
}

void ImageBrowserModel::setThumbnailSize(double size)
{
    QSettings().setValue(thumbnailSizeKey, size);
    if (size == m_thumbnailSize)
        return;
    m_thumbnailSize = size;
    emit thumbnailSizeChanged();
}

void ImageBrowserModel::setSkippedNameCount(qint64 count)
{
    if (count == m_skippedNameCount)
        return;
    m_skippedNameCount = count;
    emit skippedNameCountChanged();
}

// Opening and sorting

namespace {

QList<QList<QUrl>> imageListsOf(const QList<FolderGroup>& groups)
{
    QList<QList<QUrl>> lists;
    lists.reserve(groups.size());
    for (const FolderGroup& group : groups)
        lists.append(group.images);
    return lists;
}

bool isNameOrder(SortOrder order)
{
    return order == SortOrder::nameAscending || order == SortOrder::nameDescending;
}

} // namespace

void ImageBrowserModel::rebuildFlatURLs()
{
    setFlatURLs(flattenGroups(m_groups));
}

void ImageBrowserModel::updateScanning()
{
    const bool scanning = m_lister.isOpening() || m_lister.isLookingForLastFolder();
    if (scanning == m_isScanning)
        return;
    m_isScanning = scanning;
    emit isScanningChanged();
}

void ImageBrowserModel::loadFolder(const QUrl& url)
{
    QSettings().setValue(lastFolderPathKey, url.toLocalFile());
    setRootFolderURL(url);
    setErrorMessage({});
    // A selection from the folder shown before must never be deleted along with this one.
    setSelectedURLs({});
    m_prefetcher.clear();
    stopWatching();
    m_lister.open(url, m_sortOrder); // changes of the folder shown before need no rescan
    updateScanning();
}

void ImageBrowserModel::applyLoadListing(SortOrder order, const FolderListing& listing)
{
    if (order != m_sortOrder) {
        // The order changed while the folder was listed: list it again in the new one.
        m_lister.listAgain(m_rootFolderURL, m_sortOrder);
        return;
    }

    if (!listing.groups) {
        // Nothing of the folder shown before may stay on screen under this folder's name.
        clearShownImages();
        setErrorMessage(cannotReadFolderText(m_rootFolderURL, listing.rootError));
    } else {
        m_subfolderPaths = listing.subfolderPaths;
        setSkippedNameCount(listing.skippedNames);
        // The stamps of the images handed to the prefetch below follow (`applyOpeningStamps`).
        m_prefetcher.releaseOnWorker(std::exchange(m_examinedStamps, {}));
        // Listed in the current order: a sort still under way for the groups shown before is moot.
        m_lister.dropSorts();
        setListedGroups(*listing.groups);
        rebuildFlatURLs();
        m_filter.listingChanged();
        startWatching(m_rootFolderURL);
        m_prefetcher.prefetch(m_filter.isApplied() ? flattenGroups(m_listedGroups) : m_flatURLs);
        if (m_flatURLs.isEmpty()) {
            setCurrentMetadata(std::nullopt);
            setCurrentImageURL({});
            if (listedCount() == 0)
                setErrorMessage(noImagesInFolderText());
        } else {
            selectImage(0);
        }
    }
    updateScanning();
    emit folderLoaded();
    m_lister.startQueuedRescan();
}

void ImageBrowserModel::applyOpeningStamps(const QHash<QUrl, ImageStamps>& stamps)
{
    m_prefetcher.releaseOnWorker(std::exchange(m_examinedStamps, stamps));
    m_lister.startQueuedRescan();
}

void ImageBrowserModel::loadFiles(const QList<QUrl>& urls)
{
    // Whatever is still being listed or sorted for the folder shown before is stale now.
    m_lister.dropAll();
    m_prefetcher.releaseOnWorker(std::exchange(m_examinedStamps, {}));
    setSkippedNameCount(0);

    QStringList names;
    names.reserve(urls.size());
    for (const QUrl& url : urls)
        names.append(url.fileName());
    setListedGroups({ FolderGroup { QUuid::createUuid(), QUrl::fromLocalFile(QStringLiteral("/")), QString(), urls,
        true, sharedBaseNames(names) } });
    setRootFolderURL({});
    rebuildFlatURLs();
    setSelectedURLs({});
    m_prefetcher.clear();
    m_filter.listingChanged();
    if (!urls.isEmpty()) {
        m_prefetcher.prefetch(urls);
        selectImage(0);
    }
    updateScanning();
}

void ImageBrowserModel::clearShownImages()
{
    m_lister.dropSorts();
    m_prefetcher.releaseOnWorker(std::exchange(m_examinedStamps, {}));
    m_subfolderPaths.clear();
    setSkippedNameCount(0);
    setListedGroups({});
    rebuildFlatURLs();
    m_filter.listingChanged();
    setSelectedURLs({});
    setCurrentIndex(0);
    setCurrentImageURL({});
    setCurrentMetadata(std::nullopt);
}

void ImageBrowserModel::setSortOrder(SortOrder order)
{
    if (order != m_sortOrder) {
        m_sortOrder = order;
        emit sortOrderChanged();
    }
    QSettings().setValue(sortOrderKey, SortOrders::rawValue(order));
    m_lister.dropSorts();
    startSort();
}

void ImageBrowserModel::startSort()
{
    const QList<QList<QUrl>> unsorted = imageListsOf(m_listedGroups);
    const qsizetype imageCount = std::accumulate(unsorted.cbegin(), unsorted.cend(), qsizetype(0),
        [](qsizetype count, const QList<QUrl>& images) { return count + images.size(); });
    if (isNameOrder(m_sortOrder) && imageCount <= immediateNameSortLimit)
        applySortedImages(unsorted, FolderLister::sortedImageLists(unsorted, m_sortOrder));
    else
        m_lister.sort(unsorted, m_sortOrder);
}

void ImageBrowserModel::applySortedImages(const QList<QList<QUrl>>& unsorted, const QList<QList<QUrl>>& sorted)
{
    // Images were forgotten or a rescan came back meanwhile: sort the groups as they are now.
    if (imageListsOf(m_listedGroups) != unsorted) {
        startSort();
        return;
    }
    QList<FolderGroup> groups = m_listedGroups;
    for (qsizetype group = 0; group < groups.size(); ++group)
        groups[group].images = sorted.at(group);
    setListedGroups(groups);
    rebuildFlatURLs();
    if (!m_currentImageURL.isEmpty())
        reselect(m_currentIndex, Reselect::keepCurrent);
    emit sortOrderApplied();
}

// Navigation, selection and deletion

void ImageBrowserModel::selectImage(qint64 index)
{
    if (index < 0 || index >= m_flatURLs.size())
        return;
    const QUrl url = m_flatURLs.at(index);
    setCurrentIndex(index);
    setCurrentImageURL(url);

    const auto entry = metadataCache().constFind(url);
    if (entry == metadataCache().cend()) {
        setCurrentMetadata(std::nullopt);
        setErrorMessage({});
        m_prefetcher.load(url);
    } else {
        showEntry(url, *entry);
    }
}

void ImageBrowserModel::showEntry(const QUrl& url, const CacheEntry& entry)
{
    setCurrentMetadata(entry.metadata());
    if (entry.lacksRawTexts())
        m_prefetcher.load(url);
    setErrorMessage(entry.isLoaded() ? QString()
            : entry.readError() != 0 ? cannotReadImageText(url, entry.readError())
                                     : noExifDataText());
}

void ImageBrowserModel::nextImage()
{
    if (!hasNext())
        return;
    setSelectedURLs({});
    selectImage(m_currentIndex + 1);
}

void ImageBrowserModel::previousImage()
{
    if (m_currentIndex < 1)
        return;
    setSelectedURLs({});
    selectImage(m_currentIndex - 1);
}

bool ImageBrowserModel::hasNext() const
{
    return m_currentIndex < m_flatURLs.size() - 1;
}

void ImageBrowserModel::toggleGroup(QUuid id)
{
    const auto group = std::find_if(m_listedGroups.cbegin(), m_listedGroups.cend(),
        [&id](const FolderGroup& candidate) { return candidate.id == id; });
    if (group == m_listedGroups.cend())
        return;
    QList<FolderGroup> groups = m_listedGroups;
    FolderGroup& toggled = groups[std::distance(m_listedGroups.cbegin(), group)];
    toggled.isExpanded = !toggled.isExpanded;
    setListedGroups(groups);
    rebuildFlatURLs();
    // Where browsing goes on when the current image folds away: the first image after its group.
    qsizetype visibleBefore = 0;
    for (const FolderGroup& shown : m_groups) {
        visibleBefore += shown.isExpanded ? shown.images.size() : 0;
        if (shown.id == id)
            break;
    }

    // The counter always names a visible image.
    if (!m_currentImageURL.isEmpty())
        reselect(visibleBefore, Reselect::keepCurrent);
}

void ImageBrowserModel::forgetTrashedImages(const QSet<QUrl>& trashed)
{
    if (trashed.isEmpty())
        return;
    setSelectedURLs(QSet<QUrl>(m_selectedURLs).subtract(trashed));
    forgetImages(trashed);
    // The image now at the old position becomes current, so that deleting steps on to the next.
    reselect(m_currentIndex, Reselect::byPosition);
    emit imagesForgotten();
}

void ImageBrowserModel::forgetImages(const QSet<QUrl>& urls)
{
    QList<FolderGroup> groups = m_listedGroups;
    for (FolderGroup& group : groups)
        group.images.removeIf([&urls](const QUrl& image) { return urls.contains(image); });
    groups.removeIf([](const FolderGroup& group) { return group.images.isEmpty(); });
    m_prefetcher.forget(urls);
    m_filter.forget(urls);
    setListedGroups(groups);
    rebuildFlatURLs();
}

void ImageBrowserModel::reselect(qint64 position, Reselect how)
{
    if (const qsizetype listed = m_flatURLs.indexOf(m_currentImageURL);
        how == Reselect::keepCurrent && !m_currentImageURL.isEmpty() && listed >= 0)
        setCurrentIndex(listed);
    else if (m_flatURLs.isEmpty()) {
        setCurrentIndex(0);
        setCurrentImageURL({});
        setCurrentMetadata(std::nullopt);
    } else {
        selectImage(std::min<qint64>(position, m_flatURLs.size() - 1));
    }
}

void ImageBrowserModel::showStoredEntry(const QUrl& url, const CacheEntry& entry, bool fromPrefetch)
{
    // Only a reading of the image on screen changes what is shown. A prefetch reading is shown
    // when the image was read again after it changed, or when the batch says more than the
    // image's own load did (the render time).
    if (url == m_currentImageURL && (!fromPrefetch || !sameRecord(entry.metadata(), m_currentMetadata)))
        showEntry(url, entry);
}

// Watching and preferences

bool ImageBrowserModel::isWatching() const
{
    return m_watcher->isWatching();
}

void ImageBrowserModel::startWatching(const QUrl& url)
{
    stopWatching();
    m_watcher->watch(QFileInfo(url.toLocalFile()).absoluteFilePath(), m_subfolderPaths);
}

void ImageBrowserModel::stopWatching()
{
    m_watcher->stop();
}

void ImageBrowserModel::rescanFolder()
{
    if (!m_rootFolderURL.isEmpty())
        m_lister.rescan(m_rootFolderURL, m_sortOrder, m_listedGroups, m_examinedStamps);
}

void ImageBrowserModel::applyRescan(const QUrl& root, SortOrder order, const FolderListing& listing)
{
    if (root != m_rootFolderURL)
        return;
    if (order != m_sortOrder) {
        m_lister.queueRescan(); // listed in an order no longer wanted
        return;
    }
    applyRescannedGroups(listing);
    emit folderRescanned();
}

void ImageBrowserModel::applyRescannedGroups(const FolderListing& listing)
{
    if (!listing.groups) {
        // A folder deleted or moved away is said to be gone, and shows nothing until it is
        // opened again; one that cannot be listed for a while keeps showing its last listing.
        if (isGone(listing.rootError)) {
            stopWatching();
            clearShownImages();
            setErrorMessage(qtTrId("folder_gone").arg(shownPath(m_rootFolderURL)));
        }
        return;
    }
    QList<FolderGroup> groups = *listing.groups;
    m_subfolderPaths = listing.subfolderPaths;
    m_watcher->updateSubfolders(m_subfolderPaths);
    setSkippedNameCount(listing.skippedNames);

    for (FolderGroup& group : groups) {
        const auto previous = std::find_if(m_listedGroups.cbegin(), m_listedGroups.cend(),
            [&group](const FolderGroup& old) { return old.url == group.url; });
        group.isExpanded = previous == m_listedGroups.cend() || previous->isExpanded;
    }
    // Unchanged folders keep their groups as they are (ids included), so the window stays still.
    const bool showsSame = std::equal(groups.cbegin(), groups.cend(), m_listedGroups.cbegin(), m_listedGroups.cend(),
        [](const FolderGroup& a, const FolderGroup& b) { return a.showsSameAs(b); });
    if (!showsSame) {
        setListedGroups(groups);
        rebuildFlatURLs();
        m_filter.listingChanged();
    }

    // New images, and images whose file changed since it was read (it may have been half
    // written then), in browsing order. Only images new or changed since the last examination
    // can be either: looking up all 100,000 images of a large folder in the cache would hold up
    // the GUI thread for a good part of a second. Collapsed groups are examined once expanded.
    QList<QUrl> unread;
    QHash<QUrl, ImageStamps> examined;
    for (qsizetype group = 0; group < groups.size(); ++group) {
        if (!groups.at(group).isExpanded)
            continue;
        const QList<QUrl>& images = groups.at(group).images;
        const ImageStamps& stamps = listing.stamps.at(group);
        for (const qsizetype image : listing.changed.at(group)) {
            const QUrl& url = images.at(image);
            const auto entry = metadataCache().constFind(url);
            if (entry == metadataCache().cend() || entry->isOutOfDate(stamps.value(url)))
                unread.append(url);
        }
        examined.insert(groups.at(group).url, stamps);
    }
    m_prefetcher.releaseOnWorker(std::exchange(m_examinedStamps, examined));
    m_prefetcher.prefetch(unread);

    reselect(m_currentIndex, Reselect::keepCurrent);
}

void ImageBrowserModel::restoreLastFolder()
{
    const QString path = QSettings().value(lastFolderPathKey).toString();
    if (path.isEmpty())
        return;
    m_lister.lookForLastFolder(path);
    updateScanning();
}

void ImageBrowserModel::reopenLastFolder(const QString& path, bool found)
{
    if (found)
        loadFolder(QUrl::fromLocalFile(path));
    updateScanning();
}

} // namespace limnoscope
