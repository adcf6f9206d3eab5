#include "FolderLister.h"

#include "FolderScan.h"

#include <QFileInfo>

#include <algorithm>

namespace limnoscope {

FolderLister::FolderLister(QObject* parent)
    : QObject(parent)
{
    m_workers.setMaxThreadCount(workerThreads);
}

FolderListing FolderLister::listFolder(
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
            const std::optional<FileStamp> stamp = FileStamp::of(url.toLocalFile());
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

QList<QList<QUrl>> FolderLister::sortedImageLists(const QList<QList<QUrl>>& lists, SortOrder order)
{
    QList<QList<QUrl>> sorted;
    sorted.reserve(lists.size());
    for (const QList<QUrl>& images : lists)
        sorted.append(sortImages(images, order));
    return sorted;
}

void FolderLister::open(const QUrl& root, SortOrder order)
{
    ++m_generation;
    m_rescanQueued = false;
    listAgain(root, order);
}

void FolderLister::listAgain(const QUrl& root, SortOrder order)
{
    m_opening = true;
    m_workers.start([this, root, order, generation = m_generation] {
        FolderListing listing = listFolder(root, order);
        QMetaObject::invokeMethod(
            this,
            [this, generation, order, listing = std::move(listing)] {
                if (generation != m_generation)
                    return;
                m_opening = false;
                emit listed(order, listing);
            },
            Qt::QueuedConnection);
    });
}

void FolderLister::dropAll()
{
    ++m_generation;
    ++m_sortGeneration;
    m_opening = false;
    m_rescanQueued = false;
}

void FolderLister::rescan(
    const QUrl& root, SortOrder order, const QList<FolderGroup>& shown, const QHash<QUrl, ImageStamps>& examined)
{
    // A rescan already under way may have listed the folder before this change; the listing of
    // a folder being opened is shown before any rescan of it.
    if (m_rescanRunning || m_opening) {
        m_rescanQueued = true;
        return;
    }
    startRescan(root, order, shown, examined);
}

void FolderLister::startRescan(
    const QUrl& root, SortOrder order, const QList<FolderGroup>& shown, const QHash<QUrl, ImageStamps>& examined)
{
    m_rescanRunning = true;
    m_rescanQueued = false;
    m_workers.start([this, root, order, shown, examined, generation = m_generation] {
        FolderListing listing = listFolder(root, order, shown, examined);
        QMetaObject::invokeMethod(
            this,
            [this, generation, root, order, listing = std::move(listing)] {
                m_rescanRunning = false;
                // Another folder (or file list) shown since: the listing is stale.
                if (generation == m_generation)
                    emit rescanned(root, order, listing);
                startQueuedRescan();
            },
            Qt::QueuedConnection);
    });
}

void FolderLister::startQueuedRescan()
{
    if (!m_rescanQueued || m_rescanRunning || m_opening)
        return;
    m_rescanQueued = false;
    emit rescanDue();
}

void FolderLister::sort(const QList<QList<QUrl>>& unsorted, SortOrder order)
{
    m_workers.start([this, unsorted, order, generation = m_sortGeneration] {
        QList<QList<QUrl>> sorted = sortedImageLists(unsorted, order);
        QMetaObject::invokeMethod(
            this,
            [this, generation, unsorted, sorted = std::move(sorted)] {
                if (generation == m_sortGeneration)
                    emit imagesSorted(unsorted, sorted);
            },
            Qt::QueuedConnection);
    });
}

void FolderLister::lookForLastFolder(const QString& path)
{
    m_lookingForLastFolder = true;
    m_workers.start([this, path, generation = m_generation] {
        const bool exists = QFileInfo::exists(path);
        QMetaObject::invokeMethod(
            this,
            [this, generation, path, exists] {
                m_lookingForLastFolder = false;
                // The user opened something else meanwhile: that stays.
                emit lastFolderLookedFor(path, exists && generation == m_generation);
            },
            Qt::QueuedConnection);
    });
}

} // namespace limnoscope
