#pragma once

#include "CacheEntry.h"
#include "FolderFilter.h"
#include "FolderGroup.h"
#include "FolderLister.h"
#include "LimnoraMetadata.h"
#include "MetadataPrefetcher.h"
#include "SortOrder.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QSet>
#include <QStringList>
#include <QUrl>
#include <QUuid>

#include <optional>

namespace limnoscope {

class FolderWatcher;

// The one model of the opened folder: its groups and browsing order, the current image and the
// multi-selection, the folder watch and the saved preferences. Lives on the GUI thread. Its
// `FolderLister` lists, rescans and sorts on workers and its `MetadataPrefetcher` keeps the
// metadata cache filled from workers; the model applies what they hand back. Its `FolderFilter`
// decides which listed images are shown while the user filters.
class ImageBrowserModel : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QList<limnoscope::FolderGroup> groups READ groups NOTIFY groupsChanged)
    Q_PROPERTY(QUrl rootFolderURL READ rootFolderURL NOTIFY rootFolderURLChanged)
    Q_PROPERTY(qint64 currentIndex READ currentIndex NOTIFY currentIndexChanged)
    Q_PROPERTY(QUrl currentImageURL READ currentImageURL NOTIFY currentImageURLChanged)
    Q_PROPERTY(
        std::optional<limnoscope::LimnoraMetadata> currentMetadata READ currentMetadata NOTIFY currentMetadataChanged)
    Q_PROPERTY(QString errorMessage READ errorMessage NOTIFY errorMessageChanged)
    Q_PROPERTY(QList<QUrl> flatURLs READ flatURLs NOTIFY flatURLsChanged)
    Q_PROPERTY(QSet<QUrl> selectedURLs READ selectedURLs WRITE setSelectedURLs NOTIFY selectedURLsChanged)
    Q_PROPERTY(qint64 tagVersion READ tagVersion WRITE setTagVersion NOTIFY tagVersionChanged)
    Q_PROPERTY(double thumbnailSize READ thumbnailSize WRITE setThumbnailSize NOTIFY thumbnailSizeChanged)
    Q_PROPERTY(limnoscope::SortOrders::SortOrder sortOrder READ sortOrder WRITE setSortOrder NOTIFY sortOrderChanged)
    Q_PROPERTY(bool isPrefetching READ isPrefetching NOTIFY isPrefetchingChanged)
    Q_PROPERTY(bool isScanning READ isScanning NOTIFY isScanningChanged)
    Q_PROPERTY(qint64 prefetchDoneCount READ prefetchDoneCount NOTIFY prefetchProgressChanged)
    Q_PROPERTY(qint64 prefetchTotalCount READ prefetchTotalCount NOTIFY prefetchProgressChanged)
    Q_PROPERTY(qint64 skippedNameCount READ skippedNameCount NOTIFY skippedNameCountChanged)

public:
    static constexpr double defaultThumbnailSize = 68.0;
    // Up to this many listed images, a change between the name orders is sorted at once (about
    // 2 microseconds an image); larger lists, and the date orders (which read every file's
    // date), are sorted on a worker.
    static constexpr qsizetype immediateNameSortLimit = 4'000;

    static constexpr auto lastFolderPathKey = "lastFolderPath";
    static constexpr auto sortOrderKey = "sortOrder";
    static constexpr auto thumbnailSizeKey = "thumbnailSize";

    // The application's model, created on first use with the application as parent; the
    // application hands it to the window, which hands it on. Tests make their own.
    [[nodiscard]] static ImageBrowserModel* shared();

    // Reads the sort order and thumbnail size from the preferences.
    explicit ImageBrowserModel(QObject* parent = nullptr);

    // Published fields.
    [[nodiscard]] const QList<FolderGroup>& groups() const { return m_groups; }
    // Empty when nothing is open or a file list is shown.
    [[nodiscard]] const QUrl& rootFolderURL() const { return m_rootFolderURL; }
    [[nodiscard]] qint64 currentIndex() const { return m_currentIndex; }
    // Empty when there is no current image.
    [[nodiscard]] const QUrl& currentImageURL() const { return m_currentImageURL; }
    [[nodiscard]] const std::optional<LimnoraMetadata>& currentMetadata() const { return m_currentMetadata; }
    // Empty when there is no message.
    [[nodiscard]] const QString& errorMessage() const { return m_errorMessage; }
    [[nodiscard]] const QList<QUrl>& flatURLs() const { return m_flatURLs; }
    [[nodiscard]] const QSet<QUrl>& selectedURLs() const { return m_selectedURLs; }
    void setSelectedURLs(const QSet<QUrl>& urls);
    [[nodiscard]] qint64 tagVersion() const { return m_tagVersion; }
    void setTagVersion(qint64 version);
    [[nodiscard]] double thumbnailSize() const { return m_thumbnailSize; }
    // Also stores the size under "thumbnailSize".
    void setThumbnailSize(double size);
    [[nodiscard]] SortOrder sortOrder() const { return m_sortOrder; }
    // Stores the order at once; re-sorts every group's images (on a worker unless the list is
    // small and the order is by name) and keeps the current image current. `sortOrderApplied`
    // follows when the new order is shown, unless another folder or file list is shown first.
    void setSortOrder(SortOrder order);
    [[nodiscard]] bool isPrefetching() const { return m_prefetcher.isPrefetching(); }
    // True from `loadFolder` (or `restoreLastFolder`) until the folder's listing is shown.
    [[nodiscard]] bool isScanning() const { return m_isScanning; }
    // Images of the current (or last) prefetch run with a cache entry, and all of its images.
    [[nodiscard]] qint64 prefetchDoneCount() const { return m_prefetcher.doneCount(); }
    [[nodiscard]] qint64 prefetchTotalCount() const { return m_prefetcher.totalCount(); }
    // Images and subfolders of the open folder and its subfolders left out of the last listing
    // because their names are not valid in the file-name encoding (no path reaches them).
    [[nodiscard]] qint64 skippedNameCount() const { return m_skippedNameCount; }

    // Plain fields.
    [[nodiscard]] const QHash<QUrl, CacheEntry>& metadataCache() const { return m_prefetcher.cache(); }
    // Waiting for the next prefetch run, in the order they were handed over.
    [[nodiscard]] const QList<QUrl>& pendingPrefetchURLs() const { return m_prefetcher.pendingURLs(); }
    [[nodiscard]] bool isWatching() const;

    // Opening. `loadFolder` forgets the shown folder's cache and watch at once and lists the new
    // folder on a worker; `folderLoaded` follows when the listing is shown. A later `loadFolder`
    // or `loadFiles` makes an earlier listing stale: it is dropped.
    void loadFolder(const QUrl& url);
    void loadFiles(const QList<QUrl>& urls);
    void rebuildFlatURLs();

    // Navigation, selection and deletion.
    void selectImage(qint64 index);
    void nextImage();
    void previousImage();
    [[nodiscard]] bool hasNext() const;
    // By value: a caller may pass the id of a group it read from groups(), which this replaces.
    void toggleGroup(QUuid id);
    // Forgets exactly the images that did move to the Trash: they leave the list and the
    // selection, the rest of the selection stays, the image now at the current position
    // becomes current, and `imagesForgotten` follows. Nothing happens for an empty set; the
    // disk is never touched.
    void forgetTrashedImages(const QSet<QUrl>& trashed);

    // Filtering. While a query is applied, `groups` and `flatURLs` hold only the matching images
    // (a group without any is left out), so browsing, selection and deletion reach only those;
    // the current image stays current while it matches. `filterChanged` follows every change.
    void setFilterText(const QString& text) { m_filter.setText(text); }
    [[nodiscard]] const QString& filterText() const { return m_filter.text(); }
    // Why the filter text cannot be read (then nothing is filtered); empty when it can.
    [[nodiscard]] const QString& filterError() const { return m_filter.error(); }
    [[nodiscard]] bool isFiltering() const { return m_filter.isApplied(); }
    // Images listed, the filter aside: in the group of `groupURL`, or in all groups.
    [[nodiscard]] qint64 listedCount(const QUrl& groupURL = {}) const { return m_filter.listedCount(groupURL); }
    // Listed images left out because the filter cannot tell yet whether they match (not read yet).
    [[nodiscard]] qint64 pendingCount() const { return m_filter.pendingCount(); }

    // Metadata.
    void prefetchMetadata(const QList<QUrl>& urls) { m_prefetcher.prefetch(urls); }
    void loadCurrentMetadata(const QUrl& url) { m_prefetcher.load(url); }
    // Deletes every reading the persistent index holds; the cache of the open folder stays.
    void clearMetadataIndex() { m_prefetcher.clearIndex(); }
    [[nodiscard]] const MetadataPrefetcher& metadataPrefetcher() const { return m_prefetcher; }

    // Watching and preferences.
    void startWatching(const QUrl& url);
    void stopWatching();
    // Lists the opened folder again on a worker; `folderRescanned` follows. One rescan runs at a
    // time, and requests that arrive meanwhile give one more after it.
    void rescanFolder();
    // Looks for the stored folder on a worker and opens it if something is there.
    void restoreLastFolder();

signals:
    void groupsChanged();
    void rootFolderURLChanged();
    void currentIndexChanged();
    void currentImageURLChanged();
    void currentMetadataChanged();
    void errorMessageChanged();
    void flatURLsChanged();
    void selectedURLsChanged();
    void tagVersionChanged();
    void thumbnailSizeChanged();
    void sortOrderChanged();
    void isPrefetchingChanged();
    void prefetchProgressChanged();
    void isScanningChanged();
    void skippedNameCountChanged();
    // The listing of the latest `loadFolder` is shown (or, when the folder could not be listed,
    // nothing but the message saying why is).
    void folderLoaded();
    // Images moved to the Trash left the list (`forgetTrashedImages`).
    void imagesForgotten();
    // A rescan's listing has been applied: the model shows the folder as it was listed, shows
    // nothing but a message when the folder is gone, or kept everything when the folder could
    // not be listed for another reason.
    void folderRescanned();
    // The images are shown in the latest sort order.
    void sortOrderApplied();
    // The filter's text, error, matching images or pending count changed.
    void filterChanged();

private:
    void setGroups(const QList<FolderGroup>& groups);
    // Keeps the listing and shows what of it the filter lets through.
    void setListedGroups(const QList<FolderGroup>& groups);
    void showFilterResult();
    void setRootFolderURL(const QUrl& url);
    void setCurrentIndex(qint64 index);
    void setCurrentImageURL(const QUrl& url);
    void setCurrentMetadata(const std::optional<LimnoraMetadata>& metadata);
    void setErrorMessage(const QString& message);
    void setFlatURLs(const QList<QUrl>& urls);
    void setSkippedNameCount(qint64 count);
    void updateScanning();

    void applyLoadListing(SortOrder order, const FolderListing& listing);
    // The stamps the opened folder's images were handed to the prefetch with, by group folder.
    void applyOpeningStamps(const QHash<QUrl, ImageStamps>& stamps);
    void applyRescan(const QUrl& root, SortOrder order, const FolderListing& listing);
    void applyRescannedGroups(const FolderListing& listing);
    void startSort();
    void applySortedImages(const QList<QList<QUrl>>& unsorted, const QList<QList<QUrl>>& sorted);
    void reopenLastFolder(const QString& path, bool found);
    // Empties the groups, the lists, the selection and the current image and its metadata.
    void clearShownImages();
    void forgetImages(const QSet<QUrl>& urls);

    // How `reselect` picks the current image.
    enum class Reselect {
        keepCurrent, // the current image stays current where it is still listed
        byPosition, // the image now at the position becomes current
    };
    // The one rule for the current image after the list changed: the current image where
    // `how` keeps it, else the image at `position` (or the last one); none when nothing is listed.
    void reselect(qint64 position, Reselect how);

    void showStoredEntry(const QUrl& url, const CacheEntry& entry, bool fromPrefetch);
    // Shows the entry of the current image `url`: its record, or why there is none.
    void showEntry(const QUrl& url, const CacheEntry& entry);

    QList<FolderGroup> m_groups;
    QList<FolderGroup> m_listedGroups; // the groups as listed, the filter aside
    QUrl m_rootFolderURL;
    qint64 m_currentIndex = 0;
    QUrl m_currentImageURL;
    std::optional<LimnoraMetadata> m_currentMetadata;
    QString m_errorMessage;
    QList<QUrl> m_flatURLs;
    QSet<QUrl> m_selectedURLs;
    qint64 m_tagVersion = 0;
    double m_thumbnailSize = defaultThumbnailSize;
    SortOrder m_sortOrder = SortOrder::nameAscending;

    qint64 m_skippedNameCount = 0;
    bool m_isScanning = false;

    FolderWatcher* m_watcher;
    QStringList m_subfolderPaths; // of the last scan, for the watch
    // By expanded folder group: its images' stamps at the last listing whose new and changed
    // images were looked up in the cache (or all handed to the prefetch, when the folder opened).
    // Images with the same stamp at the next rescan need no look-up.
    QHash<QUrl, ImageStamps> m_examinedStamps;

    // Last members: destroyed first, waiting for their workers while the rest of the model exists.
    MetadataPrefetcher m_prefetcher { std::make_shared<const MetadataIndex>() };
    FolderLister m_lister;
    FolderFilter m_filter { m_listedGroups, m_prefetcher };
};

} // namespace limnoscope
