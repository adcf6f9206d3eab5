#include "FolderLister.h"

#include "FolderScan.h"

#include <QDateTime>
#include <QFileInfo>

#include <algorithm>
#include <utility>

namespace limnoscope {

FolderLister::FolderLister(QObject* parent)
    : QObject(parent)
{
    m_workers.setMaxThreadCount(workerThreads);
}

namespace {

// Files changed this long before a listing began count as changed after it: status change times
// come from the kernel's coarse clock, or from a file server's own clock.
constexpr qint64 changeTimeToleranceNs = 2'000'000'000;

} // namespace

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

QHash<QUrl, ImageStamps> FolderLister::openingStamps(const QList<FolderGroup>& groups, qint64 listingStart)
{
    QHash<QUrl, ImageStamps> stampsByGroup;
    for (const FolderGroup& group : groups) {
        ImageStamps stamps;
        stamps.reserve(group.images.size());
        for (const QUrl& url : group.images) {
            // One look for both the stamp and the change time.
            const std::optional<FileStatus> status = FileStatus::of(url.toLocalFile());
            if (!status)
                stamps.insert(url, std::nullopt);
            else if (status->changedNanoseconds < listingStart - changeTimeToleranceNs)
                stamps.insert(url, status->stamp);
        }
        stampsByGroup.insert(group.url, stamps);
    }
    return stampsByGroup;
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
    m_rescanQueuedBehind = false;
    listAgain(root, order);
}

void FolderLister::listAgain(const QUrl& root, SortOrder order)
{
    m_opening = true;
    m_stamping = false;
    m_workers.start([this, root, order, generation = m_generation, listingNumber = ++m_listingNumber] {
        const qint64 listingStart = QDateTime::currentDateTimeUtc().toMSecsSinceEpoch() * 1'000'000;
        // The names alone make the listing: stamps, which only rescans need, are taken after it
        // is handed over, while the GUI thread shows it.
        FolderListing listing;
        listing.groups = scanFolder(root, order, &listing.subfolderPaths, &listing.rootError, &listing.skippedNames);
        const QList<FolderGroup> groups = listing.groups.value_or(QList<FolderGroup>());
        const bool hasGroups = listing.groups.has_value();
        const auto isCurrent = [this, generation, listingNumber] {
            return generation == m_generation && listingNumber == m_listingNumber;
        };
        QMetaObject::invokeMethod(
            this,
            [this, isCurrent, order, listing = std::move(listing)] {
                if (!isCurrent())
                    return;
                m_opening = false;
                m_stamping = listing.groups.has_value();
                emit listed(order, listing);
            },
            Qt::QueuedConnection);
        if (!hasGroups)
            return;
        QHash<QUrl, ImageStamps> stamps = openingStamps(groups, listingStart);
        QMetaObject::invokeMethod(
            this,
            [this, isCurrent, stamps = std::move(stamps)] {
                if (!isCurrent() || !m_stamping)
                    return;
                m_stamping = false;
                emit openingStamped(stamps);
            },
            Qt::QueuedConnection);
    });
}

void FolderLister::dropAll()
{
    ++m_generation;
    ++m_sortGeneration;
    m_opening = false;
    m_stamping = false;
    m_rescanQueued = false;
    m_rescanQueuedBehind = false;
}

void FolderLister::rescan(
    const QUrl& root, SortOrder order, const QList<FolderGroup>& shown, const QHash<QUrl, ImageStamps>& examined)
{
    // A rescan already under way may have listed the folder before this change; the listing of
    // a folder being opened, and the stamps of its images, come before any rescan of it.
    if (m_rescanRunning || m_opening) {
        m_rescanQueued = true;
        return;
    }
    if (m_stamping) {
        // The first request waits for the stamps as it would for a running rescan; later ones ask
        // for one more after it.
        (m_rescanQueued ? m_rescanQueuedBehind : m_rescanQueued) = true;
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
    if (!m_rescanQueued || m_rescanRunning || m_opening || m_stamping)
        return;
    m_rescanQueued = false;
    emit rescanDue();
    m_rescanQueued = m_rescanQueued || std::exchange(m_rescanQueuedBehind, false);
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
