#pragma once

#include "FileStamp.h"
#include "FolderGroup.h"
#include "SortOrder.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QStringList>
#include <QThreadPool>
#include <QUrl>

#include <optional>

namespace limnoscope {

// The stamps of one folder's images, by image.
using ImageStamps = QHash<QUrl, std::optional<FileStamp>>;

// What a worker found in the opened folder.
struct FolderListing {
    std::optional<QList<FolderGroup>> groups; // nothing when the folder itself cannot be listed
    int rootError = 0; // why it could not be
    QStringList subfolderPaths;
    qsizetype skippedNames = 0;
    // Parallel to `groups`, for rescans only: the stamps of each group's images, and the positions
    // of the images that are new or changed since the folder's images were last examined.
    QList<ImageStamps> stamps;
    QList<QList<qsizetype>> changed;
};

// Lists the open folder (when it opens and at rescans), re-sorts its images and looks for the
// last folder, on two workers of its own, and hands each result back on the GUI thread only
// while it is still wanted: opening another folder or a file list makes every listing and sort
// under way stale, a newer sort makes older ones stale, and rescans run one at a time with at
// most one more queued. An opening's listing is handed over as soon as the names are sorted;
// the stamps its images were handed to the prefetch with follow. Lives on the GUI thread.
class FolderLister : public QObject
{
    Q_OBJECT

public:
    // Two, so that a new folder need not wait for the listing of one it replaced.
    static constexpr int workerThreads = 2;

    explicit FolderLister(QObject* parent = nullptr);

    // Worker thread. Image lists equal to those of the same folder in `shown` are replaced by
    // them, so that the GUI thread finds unchanged folders unchanged without comparing every image.
    [[nodiscard]] static FolderListing listFolder(const QUrl& root, SortOrder order,
        const QList<FolderGroup>& shown = {}, const QHash<QUrl, ImageStamps>& examined = {});
    // Worker thread. The stamps of the images of `groups` (an opening's listing, which began at
    // `listingStart`, nanoseconds since the epoch), by group folder. The prefetch of the listing
    // may read an image before it changes and this look may come after: an image whose file
    // changed since shortly before the listing began is left out, and the next rescan examines it.
    [[nodiscard]] static QHash<QUrl, ImageStamps> openingStamps(const QList<FolderGroup>& groups, qint64 listingStart);
    // Worker thread, or the GUI thread for small lists in a name order.
    [[nodiscard]] static QList<QList<QUrl>> sortedImageLists(const QList<QList<QUrl>>& lists, SortOrder order);

    // Lists a newly opened folder; `listed` follows unless something else is opened first.
    // Changes seen before the listing is shown need no rescan.
    void open(const QUrl& root, SortOrder order);
    // Lists the folder being opened once more (in another order), as part of the same opening.
    // Makes the listings and stamps under way for it stale.
    void listAgain(const QUrl& root, SortOrder order);
    // Something other than a listed folder is shown: every listing and sort under way is stale.
    void dropAll();
    // True from `open` until its listing is handed over.
    [[nodiscard]] bool isOpening() const { return m_opening; }

    // Lists the folder again; `rescanned` follows. While a rescan runs or a folder is being
    // opened (until its stamps are handed over), the request is queued and `rescanDue` asks for
    // it once that is over.
    void rescan(
        const QUrl& root, SortOrder order, const QList<FolderGroup>& shown, const QHash<QUrl, ImageStamps>& examined);
    void queueRescan() { m_rescanQueued = true; }
    // Asks for the queued rescan when nothing holds it up.
    void startQueuedRescan();

    // Sorts on a worker for the latest sort; `imagesSorted` follows unless a newer one came first.
    void sort(const QList<QList<QUrl>>& unsorted, SortOrder order);
    // Every sort under way is stale.
    void dropSorts() { ++m_sortGeneration; }

    // Looks at `path` on a worker (even that can hang on an unreachable network mount);
    // `lastFolderLookedFor` follows.
    void lookForLastFolder(const QString& path);
    [[nodiscard]] bool isLookingForLastFolder() const { return m_lookingForLastFolder; }

signals:
    void listed(SortOrder order, const FolderListing& listing);
    // After `listed` of a listing with groups: `openingStamps` of its images.
    void openingStamped(const QHash<QUrl, limnoscope::ImageStamps>& stamps);
    void rescanned(const QUrl& root, SortOrder order, const FolderListing& listing);
    void rescanDue();
    void imagesSorted(const QList<QList<QUrl>>& unsorted, const QList<QList<QUrl>>& sorted);
    // `found`: the path exists and nothing else was opened meanwhile.
    void lastFolderLookedFor(const QString& path, bool found);

private:
    void startRescan(
        const QUrl& root, SortOrder order, const QList<FolderGroup>& shown, const QHash<QUrl, ImageStamps>& examined);

    // Every `open` and `dropAll` counts one up: a listing made for an older count is stale.
    quint64 m_generation = 0;
    // Every `dropSorts` and `dropAll` counts one up: a sort made for an older count is dropped.
    quint64 m_sortGeneration = 0;
    // Every `listAgain` counts one up: only the newest listing of an opening and its stamps count.
    quint64 m_listingNumber = 0;
    bool m_opening = false;
    bool m_stamping = false; // from an opening's listing until its stamps are handed over
    bool m_lookingForLastFolder = false;
    bool m_rescanRunning = false;
    bool m_rescanQueued = false;
    bool m_rescanQueuedBehind = false; // asked for while a queued rescan waits for an opening's stamps
    // Last member: destroyed first, waiting for the workers while the rest of the object exists.
    QThreadPool m_workers;
};

} // namespace limnoscope
