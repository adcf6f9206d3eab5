#pragma once

#include "CacheEntry.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QSet>
#include <QThreadPool>
#include <QUrl>

#include <atomic>
#include <memory>

namespace limnoscope {

// The metadata cache of the open folder and the two ways it fills: prefetch runs over many
// images (one at a time, later requests queued for the next run) and single-image loads of the
// image on screen. Lives on the GUI thread; the readings run on its own worker pool and come
// back to the GUI thread, where `entryStored` announces each one the cache took.
class MetadataPrefetcher : public QObject
{
    Q_OBJECT

public:
    // One prefetch run plus a few current-image loads at once.
    static constexpr int workerThreads = 4;

    explicit MetadataPrefetcher(QObject* parent = nullptr);
    // Stops a prefetch run at its next image and waits for the workers.
    ~MetadataPrefetcher() override;

    [[nodiscard]] const QHash<QUrl, CacheEntry>& cache() const { return m_cache; }
    // Waiting for the next prefetch run, in the order they were handed over.
    [[nodiscard]] const QList<QUrl>& pendingURLs() const { return m_pendingURLs; }
    [[nodiscard]] bool isPrefetching() const { return m_isPrefetching; }
    // Images of the current (or last) prefetch run with a cache entry, and all of its images.
    [[nodiscard]] qint64 doneCount() const { return m_doneCount; }
    [[nodiscard]] qint64 totalCount() const { return m_totalCount; }

    // Reads the images on a worker, or queues those not yet queued when a run is under way.
    void prefetch(const QList<QUrl>& urls);
    // Reads one image on a worker, beside any prefetch run.
    void load(const QUrl& url);
    // Empties the cache; a run under way still stores its later results.
    void clear();
    void forget(const QSet<QUrl>& urls);

    // Large containers are freed on a worker: freeing 100,000 cache entries takes tens of
    // milliseconds.
    template <typename Container> void releaseOnWorker(Container container)
    {
        if (!container.isEmpty())
            m_workers.start([released = std::move(container)] { Q_UNUSED(released) });
    }

signals:
    // The cache took `entry` for `url`; `fromPrefetch` tells a run's reading from a single load's.
    void entryStored(const QUrl& url, const CacheEntry& entry, bool fromPrefetch);
    void isPrefetchingChanged();
    void progressChanged();

private:
    void run(const QList<QUrl>& urls); // worker thread
    void storePrefetched(const QList<QPair<QUrl, CacheEntry>>& entries);
    void finishRun();
    void storeLoaded(const QUrl& url, const CacheEntry& entry);
    void setPrefetching(bool prefetching);
    void setProgress(qint64 done, qint64 total);

    QHash<QUrl, CacheEntry> m_cache;
    bool m_isPrefetching = false;
    QList<QUrl> m_pendingURLs;
    QSet<QUrl> m_pendingSet;
    qint64 m_doneCount = 0;
    qint64 m_totalCount = 0;

    // Set when the prefetcher goes away or the application quits, so that a long prefetch run
    // stops at its next image instead of holding up the exit.
    std::shared_ptr<std::atomic_bool> m_stopWork = std::make_shared<std::atomic_bool>(false);
    // Last member: destroyed first, waiting for the workers while the rest of the object exists.
    QThreadPool m_workers;
};

} // namespace limnoscope
