#include "ImageBrowserModel.h"

#include "AppNotifications.h"
#include "FileReadError.h"
#include "FolderScan.h"
#include "FolderWatcher.h"
#include "MetadataExtraction.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QTimer>

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

std::optional<FileStamp> stampOf(const QUrl& url)
{
    return FileStamp::of(url.toLocalFile());
}

// Whether the cached reading `kept` stays rather than `arriving`, read from the same state of the
// file: it found a record that the arriving one lacks, or, when `arrivingFromOwnLoad`, any record:
// a batch reading carries the render time, which the single-image load never has. Readings of
// different states are not ranked by modification time, which a restored copy may set back.
bool keepsOver(const CacheEntry& kept, const CacheEntry& arriving, bool arrivingFromOwnLoad)
{
    return kept.fileStamp() == arriving.fileStamp() && kept.isLoaded() && (arrivingFromOwnLoad || !arriving.isLoaded());
}

// Whether two readings say the same; records have no equality because their rows carry fresh ids.
bool sameReading(const std::optional<LimnoraMetadata>& a, const std::optional<LimnoraMetadata>& b)
{
    if (!a || !b)
        return !a && !b;
    const auto sameLoras = [](const LoraEntry& x, const LoraEntry& y) {
        return x.file == y.file && x.weight == y.weight && x.mode == y.mode;
    };
    return a->prompt == b->prompt && a->negativePrompt == b->negativePrompt && a->settings == b->settings
        && a->rawSettingsString == b->rawSettingsString && a->renderDuration == b->renderDuration
        && std::equal(a->loras.cbegin(), a->loras.cend(), b->loras.cbegin(), b->loras.cend(), sameLoras);
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
    m_workers.setMaxThreadCount(metadataWorkerThreads);
    m_listingWorkers.setMaxThreadCount(listingWorkerThreads);
    connect(m_watcher, &FolderWatcher::changed, this, &ImageBrowserModel::rescanFolder);
    if (const QCoreApplication* application = QCoreApplication::instance()) {
        connect(application, &QCoreApplication::aboutToQuit, this, [stopWork = m_stopWork] { *stopWork = true; });
    }

    const QSettings settings;
    // A missing or unreadable size reads as 0, which stands for the default.
    const double storedSize = settings.value(thumbnailSizeKey).toDouble();
    m_thumbnailSize = storedSize == 0 || !std::isfinite(storedSize) ? defaultThumbnailSize : storedSize;
    m_sortOrder = SortOrders::fromRawValue(settings.value(sortOrderKey).toString()).value_or(SortOrder::nameAscending);
}

ImageBrowserModel::~ImageBrowserModel()
{
    *m_stopWork = true;
}

// Published fields

void ImageBrowserModel::setGroups(const QList<FolderGroup>& groups)
{
    if (groups == m_groups)
        return;
    m_groups = groups;
    emit groupsChanged();
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

void ImageBrowserModel::setPrefetching(bool prefetching)
{
    if (prefetching == m_isPrefetching)
        return;
    m_isPrefetching = prefetching;
    emit isPrefetchingChanged();
}

void ImageBrowserModel::setPrefetchProgress(qint64 done, qint64 total)
{
    if (done == m_prefetchDoneCount && total == m_prefetchTotalCount)
        return;
    m_prefetchDoneCount = done;
    m_prefetchTotalCount = total;
    emit prefetchProgressChanged();
}

void ImageBrowserModel::setSkippedNameCount(qint64 count)
{
    if (count == m_skippedNameCount)
        return;
    m_skippedNameCount = count;
    emit skippedNameCountChanged();
}

// Opening and sorting

// What a worker found in the opened folder.
struct ImageBrowserModel::FolderListing {
    std::optional<QList<FolderGroup>> groups; // nothing when the folder itself cannot be listed
    int rootError = 0; // why it could not be
    QStringList subfolderPaths;
    qsizetype skippedNames = 0;
    // Parallel to `groups`: the stamps of each group's images, and the positions of the images
    // that are new or changed since the folder's images were last examined.
    QList<ImageStamps> stamps;
    QList<QList<qsizetype>> changed;
};

namespace {

QList<QList<QUrl>> imageListsOf(const QList<FolderGroup>& groups)
{
    QList<QList<QUrl>> lists;
    lists.reserve(groups.size());
    for (const FolderGroup& group : groups)
        lists.append(group.images);
    return lists;
}

// Worker thread, or the GUI thread for small lists in a name order.
QList<QList<QUrl>> sortedImageLists(const QList<QList<QUrl>>& lists, SortOrder order)
{
    QList<QList<QUrl>> sorted;
    sorted.reserve(lists.size());
    for (const QList<QUrl>& images : lists)
        sorted.append(sortImages(images, order));
    return sorted;
}

bool isNameOrder(SortOrder order)
{
    return order == SortOrder::nameAscending || order == SortOrder::nameDescending;
}

} // namespace

// Worker thread. Image lists equal to those of the same folder in `shown` are replaced by
// them, so that the GUI thread finds unchanged folders unchanged without comparing every image.
ImageBrowserModel::FolderListing ImageBrowserModel::listFolder(
    const QUrl& root, SortOrder order, const QList<FolderGroup>& shown, const QHash<QUrl, ImageStamps>& examined)
{
    FolderListing listing;
    listing.groups = scanFolder(root, order, &listing.subfolderPaths, &listing.rootError, &listing.skippedNames);
    if (!listing.groups)
        return listing;
    for (FolderGroup& group : *listing.groups) {
        const auto before = std::find_if(
            shown.cbegin(), shown.cend(), [&group](const FolderGroup& old) { return old.url == group.url; });
        if (before != shown.cend() && before->images == group.images)
            group.images = before->images;

        const ImageStamps known = examined.value(group.url);
        ImageStamps stamps;
        stamps.reserve(group.images.size());
        QList<qsizetype> changed;
        for (qsizetype image = 0; image < group.images.size(); ++image) {
            const QUrl& url = group.images.at(image);
            const std::optional<FileStamp> stamp = stampOf(url);
            stamps.insert(url, stamp);
            const auto knownStamp = known.constFind(url);
            if (knownStamp == known.cend() || *knownStamp != stamp)
                changed.append(image);
        }
        listing.stamps.append(stamps);
        listing.changed.append(changed);
    }
    return listing;
}

void ImageBrowserModel::rebuildFlatURLs()
{
    setFlatURLs(flattenGroups(m_groups));
}

void ImageBrowserModel::updateScanning()
{
    const bool scanning = m_loadInFlight || m_lookingForLastFolder;
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
    forgetMetadataCache();
    stopWatching();

    ++m_loadGeneration;
    m_loadInFlight = true;
    m_rescanQueued = false; // changes of the folder shown before need no rescan
    updateScanning();
    startLoadListing(url);
}

void ImageBrowserModel::startLoadListing(const QUrl& url)
{
    m_listingWorkers.start([this, url, generation = m_loadGeneration, order = m_sortOrder] {
        FolderListing listing = listFolder(url, order);
        QMetaObject::invokeMethod(
            this,
            [this, generation, order, listing = std::move(listing)] { applyLoadListing(generation, order, listing); },
            Qt::QueuedConnection);
    });
}

void ImageBrowserModel::applyLoadListing(quint64 generation, SortOrder order, const FolderListing& listing)
{
    if (generation != m_loadGeneration)
        return;
    if (order != m_sortOrder) {
        // The order changed while the folder was listed: list it again in the new one.
        startLoadListing(m_rootFolderURL);
        return;
    }
    m_loadInFlight = false;

    if (!listing.groups) {
        // Nothing of the folder shown before may stay on screen under this folder's name.
        clearShownImages();
        setErrorMessage(cannotReadFolderText(m_rootFolderURL, listing.rootError));
    } else {
        m_subfolderPaths = listing.subfolderPaths;
        setSkippedNameCount(listing.skippedNames);
        QHash<QUrl, ImageStamps> examined;
        for (qsizetype group = 0; group < listing.groups->size(); ++group)
            examined.insert(listing.groups->at(group).url, listing.stamps.at(group));
        releaseOnWorker(std::exchange(m_examinedStamps, examined));
        // Listed in the current order: a sort still under way for the groups shown before is moot.
        ++m_sortGeneration;
        setGroups(*listing.groups);
        rebuildFlatURLs();
        startWatching(m_rootFolderURL);
        prefetchMetadata(m_flatURLs);
        postRestoreFirstResponder(folderOpenedFocusDelay);
        if (m_flatURLs.isEmpty()) {
            setCurrentMetadata(std::nullopt);
            setCurrentImageURL({});
            setErrorMessage(noImagesInFolderText());
        } else {
            selectImage(0);
        }
    }
    updateScanning();
    emit folderLoaded();
    startQueuedRescan();
}

void ImageBrowserModel::loadFiles(const QList<QUrl>& urls)
{
    // Whatever is still being listed or sorted for the folder shown before is stale now.
    ++m_loadGeneration;
    m_loadInFlight = false;
    m_rescanQueued = false;
    ++m_sortGeneration;
    releaseOnWorker(std::exchange(m_examinedStamps, {}));
    setSkippedNameCount(0);

    setGroups({ FolderGroup { QUuid::createUuid(), QUrl::fromLocalFile(QStringLiteral("/")), QString(), urls, true } });
    setRootFolderURL({});
    rebuildFlatURLs();
    setSelectedURLs({});
    forgetMetadataCache();
    if (!m_flatURLs.isEmpty()) {
        prefetchMetadata(m_flatURLs);
        selectImage(0);
    }
    updateScanning();
}

void ImageBrowserModel::clearShownImages()
{
    ++m_sortGeneration;
    releaseOnWorker(std::exchange(m_examinedStamps, {}));
    m_subfolderPaths.clear();
    setSkippedNameCount(0);
    setGroups({});
    rebuildFlatURLs();
    setSelectedURLs({});
    setCurrentIndex(0);
    setCurrentImageURL({});
    setCurrentMetadata(std::nullopt);
}

void ImageBrowserModel::forgetMetadataCache()
{
    releaseOnWorker(std::exchange(m_metadataCache, {}));
}

void ImageBrowserModel::setSortOrder(SortOrder order)
{
    if (order != m_sortOrder) {
        m_sortOrder = order;
        emit sortOrderChanged();
    }
    QSettings().setValue(sortOrderKey, SortOrders::rawValue(order));
    ++m_sortGeneration;
    startSort();
}

void ImageBrowserModel::startSort()
{
    const QList<QList<QUrl>> unsorted = imageListsOf(m_groups);
    const qsizetype imageCount = std::accumulate(unsorted.cbegin(), unsorted.cend(), qsizetype(0),
        [](qsizetype count, const QList<QUrl>& images) { return count + images.size(); });
    if (isNameOrder(m_sortOrder) && imageCount <= immediateNameSortLimit) {
        applySortedImages(m_sortGeneration, unsorted, sortedImageLists(unsorted, m_sortOrder));
        return;
    }
    m_listingWorkers.start([this, unsorted, order = m_sortOrder, generation = m_sortGeneration] {
        QList<QList<QUrl>> sorted = sortedImageLists(unsorted, order);
        QMetaObject::invokeMethod(
            this,
            [this, generation, unsorted, sorted = std::move(sorted)] {
                applySortedImages(generation, unsorted, sorted);
            },
            Qt::QueuedConnection);
    });
}

void ImageBrowserModel::applySortedImages(
    quint64 generation, const QList<QList<QUrl>>& unsorted, const QList<QList<QUrl>>& sorted)
{
    if (generation != m_sortGeneration)
        return;
    // Images were forgotten or a rescan came back meanwhile: sort the groups as they are now.
    if (imageListsOf(m_groups) != unsorted) {
        startSort();
        return;
    }
    const QUrl current = m_currentImageURL;
    QList<FolderGroup> groups = m_groups;
    for (qsizetype group = 0; group < groups.size(); ++group)
        groups[group].images = sorted.at(group);
    setGroups(groups);
    rebuildFlatURLs();
    if (const qsizetype position = m_flatURLs.indexOf(current); !current.isEmpty() && position >= 0)
        setCurrentIndex(position);
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

    const auto entry = m_metadataCache.constFind(url);
    if (entry == m_metadataCache.cend()) {
        setCurrentMetadata(std::nullopt);
        setErrorMessage({});
        loadCurrentMetadata(url);
    } else {
        showEntry(url, *entry);
    }
}

void ImageBrowserModel::showEntry(const QUrl& url, const CacheEntry& entry)
{
    setCurrentMetadata(entry.metadata());
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

void ImageBrowserModel::toggleGroup(const QUuid& id)
{
    const auto group = std::find_if(
        m_groups.cbegin(), m_groups.cend(), [&id](const FolderGroup& candidate) { return candidate.id == id; });
    if (group == m_groups.cend())
        return;
    const qsizetype toggledPosition = std::distance(m_groups.cbegin(), group);
    QList<FolderGroup> groups = m_groups;
    FolderGroup& toggled = groups[toggledPosition];
    toggled.isExpanded = !toggled.isExpanded;
    // Where browsing goes on when the current image folds away: the first image after its group.
    qsizetype visibleBefore = 0;
    for (qsizetype position = 0; position <= toggledPosition; ++position) {
        if (groups.at(position).isExpanded)
            visibleBefore += groups.at(position).images.size();
    }
    setGroups(groups);
    rebuildFlatURLs();

    // The counter always names a visible image.
    if (!m_currentImageURL.isEmpty())
        keepCurrentOrSelect(visibleBefore);
}

void ImageBrowserModel::removeDeletedImage(const QUrl& url)
{
    forgetImages({ url });
    // The image now at the old position becomes current, so that deleting steps on to the next.
    selectNearest(m_currentIndex);
    postRestoreFirstResponder(deletionFocusDelay);
}

void ImageBrowserModel::removeDeletedSelection()
{
    forgetTrashedImages(QSet<QUrl>(m_selectedURLs)); // a copy: forgetting changes the selection
}

void ImageBrowserModel::forgetTrashedImages(const QSet<QUrl>& trashed)
{
    if (trashed.isEmpty())
        return;
    setSelectedURLs(QSet<QUrl>(m_selectedURLs).subtract(trashed));
    forgetImages(trashed);
    // The image now at the old position becomes current, so that deleting steps on to the next.
    selectNearest(m_currentIndex);
    postRestoreFirstResponder(deletionFocusDelay);
}

void ImageBrowserModel::forgetImages(const QSet<QUrl>& urls)
{
    QList<FolderGroup> groups = m_groups;
    for (FolderGroup& group : groups)
        group.images.removeIf([&urls](const QUrl& image) { return urls.contains(image); });
    groups.removeIf([](const FolderGroup& group) { return group.images.isEmpty(); });
    for (const QUrl& url : urls)
        m_metadataCache.remove(url);
    setGroups(groups);
    rebuildFlatURLs();
}

void ImageBrowserModel::selectNearest(qint64 position)
{
    if (m_flatURLs.isEmpty()) {
        setCurrentIndex(0);
        setCurrentImageURL({});
        setCurrentMetadata(std::nullopt);
    } else {
        selectImage(std::min<qint64>(position, m_flatURLs.size() - 1));
    }
}

void ImageBrowserModel::keepCurrentOrSelect(qint64 position)
{
    if (const qsizetype listed = m_flatURLs.indexOf(m_currentImageURL); !m_currentImageURL.isEmpty() && listed >= 0)
        setCurrentIndex(listed);
    else
        selectNearest(position);
}

void ImageBrowserModel::postRestoreFirstResponder(std::chrono::milliseconds delay)
{
    QTimer::singleShot(delay, this, [] { emit AppNotifications::shared()->restoreFirstResponder(); });
}

// Metadata cache and prefetch

void ImageBrowserModel::prefetchMetadata(const QList<QUrl>& urls)
{
    if (urls.isEmpty())
        return;
    if (m_isPrefetching) {
        for (const QUrl& url : urls) {
            if (!m_pendingPrefetchSet.contains(url)) {
                m_pendingPrefetchSet.insert(url);
                m_pendingPrefetchURLs.append(url);
            }
        }
        return;
    }
    setPrefetching(true);
    setPrefetchProgress(0, urls.size());
    // Room for the whole run at once: growing step by step while the run hands its entries over
    // would rehash the whole cache on the GUI thread at every doubling (tens of milliseconds at
    // 65,536 entries).
    m_metadataCache.reserve(m_metadataCache.size() + urls.size());
    m_workers.start([this, urls] { runPrefetch(urls); });
}

// Worker thread: touches no field, only posts results back to the GUI thread, one hop per
// delivery and one for the end of the run. The posts are safe because the pool is destroyed,
// waiting for this run, before the model object itself.
void ImageBrowserModel::runPrefetch(const QList<QUrl>& urls)
{
    // Stamps are taken before any reading: a file that changes while it is read then looks
    // changed at the next rescan and is read again.
    QHash<QUrl, std::optional<FileStamp>> stamps;
    stamps.reserve(urls.size());
    for (const QUrl& url : urls)
        stamps.insert(url, stampOf(url));

    const auto deliver = [this, &stamps](const QList<ImageMetadataResult>& results) {
        QList<QPair<QUrl, CacheEntry>> entries;
        entries.reserve(results.size());
        for (const ImageMetadataResult& result : results) {
            // Only an image without a reading may be one that cannot be opened at all.
            const int readError = result.metadata ? 0 : readErrorOf(result.url.toLocalFile());
            entries.append({ result.url, CacheEntry(result.metadata, stamps.value(result.url), readError) });
        }
        QMetaObject::invokeMethod(
            this, [this, entries = std::move(entries)] { storePrefetched(entries); }, Qt::QueuedConnection);
    };
    const std::shared_ptr<std::atomic_bool> stopWork = m_stopWork;
    readFolderMetadata(urls, deliver, [stopWork] { return stopWork->load(); });
    QMetaObject::invokeMethod(
        this, [this] { finishPrefetchRun(); }, Qt::QueuedConnection);
}

void ImageBrowserModel::storePrefetched(const QList<QPair<QUrl, CacheEntry>>& entries)
{
    for (const auto& [url, entry] : entries) {
        if (const auto cached = m_metadataCache.constFind(url);
            cached != m_metadataCache.cend() && keepsOver(*cached, entry, false))
            continue;
        m_metadataCache.insert(url, entry);
        // The image on screen read again after it changed, or a batch reading that says more than
        // its own load did (the render time): show it.
        if (url == m_currentImageURL && !sameReading(entry.metadata(), m_currentMetadata))
            showEntry(url, entry);
    }
    setPrefetchProgress(std::min(m_prefetchDoneCount + entries.size(), m_prefetchTotalCount), m_prefetchTotalCount);
}

void ImageBrowserModel::finishPrefetchRun()
{
    setPrefetching(false);
    if (m_pendingPrefetchURLs.isEmpty())
        return;
    const QList<QUrl> pending = m_pendingPrefetchURLs;
    m_pendingPrefetchURLs.clear();
    m_pendingPrefetchSet.clear();
    prefetchMetadata(pending);
}

void ImageBrowserModel::loadCurrentMetadata(const QUrl& url)
{
    m_workers.start([this, url] {
        const std::optional<FileStamp> stamp = stampOf(url);
        std::optional<LimnoraMetadata> metadata = readImageMetadata(url);
        const int readError = metadata ? 0 : readErrorOf(url.toLocalFile());
        CacheEntry entry(std::move(metadata), stamp, readError);
        QMetaObject::invokeMethod(
            this, [this, url, entry = std::move(entry)] { applyCurrentMetadata(url, entry); }, Qt::QueuedConnection);
    });
}

void ImageBrowserModel::applyCurrentMetadata(const QUrl& url, const CacheEntry& entry)
{
    if (const auto cached = m_metadataCache.constFind(url);
        cached != m_metadataCache.cend() && keepsOver(*cached, entry, true))
        return;
    m_metadataCache.insert(url, entry);
    // Only the load of the image that is still current changes what is shown.
    if (url != m_currentImageURL)
        return;
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
    if (m_rootFolderURL.isEmpty())
        return;
    // A rescan already under way may have listed the folder before this change; the listing of
    // a folder being opened is shown before any rescan of it.
    if (m_rescanRunning || m_loadInFlight) {
        m_rescanQueued = true;
        return;
    }
    startRescan();
}

void ImageBrowserModel::startRescan()
{
    m_rescanRunning = true;
    m_rescanQueued = false;
    m_listingWorkers.start([this, root = m_rootFolderURL, generation = m_loadGeneration, order = m_sortOrder,
                               shown = m_groups, examined = m_examinedStamps] {
        FolderListing listing = listFolder(root, order, shown, examined);
        QMetaObject::invokeMethod(
            this,
            [this, generation, root, order, listing = std::move(listing)]() mutable {
                applyRescan(generation, root, order, std::move(listing));
            },
            Qt::QueuedConnection);
    });
}

void ImageBrowserModel::startQueuedRescan()
{
    if (m_rescanQueued && !m_rescanRunning && !m_loadInFlight && !m_rootFolderURL.isEmpty())
        startRescan();
}

void ImageBrowserModel::applyRescan(quint64 generation, const QUrl& root, SortOrder order, FolderListing listing)
{
    m_rescanRunning = false;
    // Another folder (or file list) shown since: the listing is stale.
    if (generation == m_loadGeneration && root == m_rootFolderURL) {
        if (order != m_sortOrder) {
            m_rescanQueued = true; // listed in an order no longer wanted
        } else {
            applyRescannedGroups(listing);
            emit folderRescanned();
        }
    }
    startQueuedRescan();
}

void ImageBrowserModel::applyRescannedGroups(FolderListing& listing)
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
    QList<FolderGroup>& groups = *listing.groups;
    m_subfolderPaths = listing.subfolderPaths;
    m_watcher->updateSubfolders(m_subfolderPaths);
    setSkippedNameCount(listing.skippedNames);

    for (FolderGroup& group : groups) {
        const auto previous = std::find_if(
            m_groups.cbegin(), m_groups.cend(), [&group](const FolderGroup& old) { return old.url == group.url; });
        group.isExpanded = previous == m_groups.cend() || previous->isExpanded;
    }
    // Unchanged folders keep their groups as they are (ids included), so the window stays still.
    const bool showsSame = std::equal(groups.cbegin(), groups.cend(), m_groups.cbegin(), m_groups.cend(),
        [](const FolderGroup& a, const FolderGroup& b) { return a.showsSameAs(b); });
    if (!showsSame) {
        setGroups(groups);
        rebuildFlatURLs();
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
            const auto entry = m_metadataCache.constFind(url);
            if (entry == m_metadataCache.cend() || entry->isOutOfDate(stamps.value(url)))
                unread.append(url);
        }
        examined.insert(groups.at(group).url, stamps);
    }
    releaseOnWorker(std::exchange(m_examinedStamps, examined));
    prefetchMetadata(unread);

    keepCurrentOrSelect(m_currentIndex);
}

void ImageBrowserModel::restoreLastFolder()
{
    const QString path = QSettings().value(lastFolderPathKey).toString();
    if (path.isEmpty())
        return;
    m_lookingForLastFolder = true;
    updateScanning();
    // Even looking at a path can hang (an unreachable network mount).
    m_listingWorkers.start([this, path, generation = m_loadGeneration] {
        const bool exists = QFileInfo::exists(path);
        QMetaObject::invokeMethod(
            this, [this, generation, path, exists] { reopenLastFolder(generation, path, exists); },
            Qt::QueuedConnection);
    });
}

void ImageBrowserModel::reopenLastFolder(quint64 generation, const QString& path, bool exists)
{
    m_lookingForLastFolder = false;
    // The user opened something else meanwhile: that stays.
    if (exists && generation == m_loadGeneration)
        loadFolder(QUrl::fromLocalFile(path));
    updateScanning();
}

} // namespace limnoscope
