#include "ImageBrowserModel.h"

#include "AppNotifications.h"
#include "FolderScan.h"
#include "FolderWatcher.h"
#include "MetadataExtraction.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QSettings>
#include <QTimer>

#include <algorithm>
#include <cmath>

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

std::optional<FileStamp> stampOf(const QUrl& url)
{
    return FileStamp::of(url.toLocalFile());
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

// Opening and sorting

std::optional<QList<FolderGroup>> ImageBrowserModel::scanFolder(const QUrl& root)
{
    QStringList subfolderPaths;
    std::optional<QList<FolderGroup>> groups = limnoscope::scanFolder(root, m_sortOrder, &subfolderPaths);
    if (groups)
        m_subfolderPaths = subfolderPaths;
    return groups;
}

void ImageBrowserModel::rebuildFlatURLs()
{
    setFlatURLs(flattenGroups(m_groups));
}

void ImageBrowserModel::loadFolder(const QUrl& url)
{
    QSettings().setValue(lastFolderPathKey, url.toLocalFile());
    setRootFolderURL(url);
    setErrorMessage({});
    // A selection from the folder shown before must never be deleted along with this one.
    setSelectedURLs({});
    m_metadataCache.clear();
    stopWatching();

    const std::optional<QList<FolderGroup>> groups = scanFolder(url);
    if (!groups) {
        setErrorMessage(noImagesInFolderText());
        return;
    }
    setGroups(*groups);
    rebuildFlatURLs();
    startWatching(url);
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

void ImageBrowserModel::loadFiles(const QList<QUrl>& urls)
{
    setGroups({ FolderGroup { QUuid::createUuid(), QUrl::fromLocalFile(QStringLiteral("/")), QString(), urls, true } });
    setRootFolderURL({});
    rebuildFlatURLs();
    setSelectedURLs({});
    m_metadataCache.clear();
    if (!m_flatURLs.isEmpty()) {
        prefetchMetadata(m_flatURLs);
        selectImage(0);
    }
}

void ImageBrowserModel::setSortOrder(SortOrder order)
{
    if (order != m_sortOrder) {
        m_sortOrder = order;
        emit sortOrderChanged();
    }
    QSettings().setValue(sortOrderKey, SortOrders::rawValue(order));
    const QUrl current = m_currentImageURL;

    QList<FolderGroup> groups = m_groups;
    for (FolderGroup& group : groups)
        group.images = sortImages(group.images, order);
    setGroups(groups);
    rebuildFlatURLs();

    if (const qsizetype position = m_flatURLs.indexOf(current); !current.isEmpty() && position >= 0)
        setCurrentIndex(position);
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
        setCurrentMetadata(entry->metadata());
        setErrorMessage(entry->isLoaded() ? QString() : noExifDataText());
    }
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
    QList<FolderGroup> groups = m_groups;
    FolderGroup& toggled = groups[std::distance(m_groups.cbegin(), group)];
    toggled.isExpanded = !toggled.isExpanded;
    setGroups(groups);
    rebuildFlatURLs();
}

void ImageBrowserModel::removeDeletedImage(const QUrl& url)
{
    forgetImages({ url });
    selectAfterForgetting();
    postRestoreFirstResponder(deletionFocusDelay);
}

void ImageBrowserModel::removeDeletedSelection()
{
    if (m_selectedURLs.isEmpty())
        return;
    const QSet<QUrl> deleted = m_selectedURLs;
    setSelectedURLs({});
    forgetImages(deleted);
    selectAfterForgetting();
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

// The image now at the old position becomes current (or the last one), so that deleting
// steps on to the next image.
void ImageBrowserModel::selectAfterForgetting()
{
    if (m_flatURLs.isEmpty()) {
        setCurrentIndex(0);
        setCurrentImageURL({});
        setCurrentMetadata(std::nullopt);
    } else {
        selectImage(std::min<qint64>(m_currentIndex, m_flatURLs.size() - 1));
    }
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
        for (const ImageMetadataResult& result : results)
            entries.append({ result.url, CacheEntry(result.metadata, stamps.value(result.url)) });
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
    for (const auto& [url, entry] : entries)
        m_metadataCache.insert(url, entry);
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
        CacheEntry entry(readImageMetadata(url), stamp);
        QMetaObject::invokeMethod(
            this, [this, url, entry = std::move(entry)] { applyCurrentMetadata(url, entry); }, Qt::QueuedConnection);
    });
}

void ImageBrowserModel::applyCurrentMetadata(const QUrl& url, const CacheEntry& entry)
{
    m_metadataCache.insert(url, entry);
    // Only the load of the image that is still current changes what is shown.
    if (url != m_currentImageURL)
        return;
    setCurrentMetadata(entry.metadata());
    setErrorMessage(entry.isLoaded() ? QString() : noExifDataText());
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
    const QUrl current = m_currentImageURL;
    std::optional<QList<FolderGroup>> groups = scanFolder(m_rootFolderURL);
    if (!groups)
        return;
    m_watcher->updateSubfolders(m_subfolderPaths);

    for (FolderGroup& group : *groups) {
        const auto previous = std::find_if(
            m_groups.cbegin(), m_groups.cend(), [&group](const FolderGroup& old) { return old.url == group.url; });
        group.isExpanded = previous == m_groups.cend() || previous->isExpanded;
    }
    // Unchanged folders keep their groups as they are (ids included), so the window stays still.
    const bool showsSame = std::equal(groups->cbegin(), groups->cend(), m_groups.cbegin(), m_groups.cend(),
        [](const FolderGroup& a, const FolderGroup& b) { return a.showsSameAs(b); });
    if (!showsSame) {
        setGroups(*groups);
        rebuildFlatURLs();
    }

    // New images, and images whose file changed since it was read (it may have been half
    // written then).
    QList<QUrl> unread;
    for (const QUrl& url : std::as_const(m_flatURLs)) {
        const auto entry = m_metadataCache.constFind(url);
        if (entry == m_metadataCache.cend() || entry->isOutOfDate(stampOf(url)))
            unread.append(url);
    }
    prefetchMetadata(unread);

    if (const qsizetype position = m_flatURLs.indexOf(current); !current.isEmpty() && position >= 0) {
        setCurrentIndex(position);
    } else if (m_flatURLs.isEmpty()) {
        setCurrentMetadata(std::nullopt);
        setCurrentImageURL({});
    } else {
        selectImage(std::min<qint64>(m_currentIndex, m_flatURLs.size() - 1));
    }
}

void ImageBrowserModel::restoreLastFolder()
{
    const QString path = QSettings().value(lastFolderPathKey).toString();
    if (path.isEmpty() || !QFileInfo::exists(path))
        return;
    loadFolder(QUrl::fromLocalFile(path));
}

} // namespace limnoscope
