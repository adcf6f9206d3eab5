#pragma once

#include "CacheEntry.h"
#include "MetadataExtraction.h"
#include "MetadataIndex.h"
#include "ReleaseOnWorker.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QSet>
#include <QThreadPool>
#include <QUrl>

#include <atomic>
#include <memory>

namespace limnoscope {

// The metadata cache of the open folder and the ways it fills: prefetch runs over many images
// (one at a time, later requests queued for the next run) and single-image loads of the image on
// screen. A run serves what the persistent index holds for the files as they are, reads the rest
// with the in-process readers (the first pass, on several threads) and stores those readings in
// the index; then, where exiftool is installed, the exiftool pass goes over the images the first
// pass read, in small batches at the lowest priority behind later runs, replacing an entry only
// where its reading differs. Lives on the GUI thread; the readings run on its own worker pools
// and come back to the GUI thread, where `entryStored` announces each one the cache took.
class MetadataPrefetcher : public QObject
{
    Q_OBJECT

public:
    // One prefetch run plus a few current-image loads at once.
    static constexpr int workerThreads = 4;

    // First-pass readings go to the GUI thread in hand-offs of at most this many, and the exiftool
    // pass reads this many images per step.
    static constexpr qsizetype deliveryChunk = 2000;
    static constexpr qsizetype exiftoolPassChunk = 500;

    // `index`: the persistent index to serve and store readings, none for a cache in memory only.
    explicit MetadataPrefetcher(std::shared_ptr<const MetadataIndex> index, QObject* parent = nullptr);
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
    // Reads one image on a worker, beside any prefetch run; an image whose cached reading left its
    // raw texts out has them read again, and its record with them takes the reading's place.
    void load(const QUrl& url);
    // Empties the cache and drops the run and the exiftool pass under way (another folder is shown).
    void clear();
    // Deletes every row of the persistent index on a worker; `indexCleared` tells how it went.
    void clearIndex();
    // Images waiting for the exiftool pass, and whether it is reading some now.
    [[nodiscard]] qsizetype exiftoolPassBacklog() const { return m_exiftoolQueue.size(); }
    [[nodiscard]] bool isExiftoolPassRunning() const { return m_exiftoolPassRunning; }
    void forget(const QSet<QUrl>& urls);

    // Large containers are freed on a worker: freeing 100,000 cache entries takes tens of
    // milliseconds.
    template <typename Container> void releaseOnWorker(Container container)
    {
        limnoscope::releaseOnWorker(m_workers, std::move(container));
    }

signals:
    // The cache took `entry` for `url`; `fromPrefetch` tells a run's reading from a single load's.
    void entryStored(const QUrl& url, const CacheEntry& entry, bool fromPrefetch);
    void isPrefetchingChanged();
    void progressChanged();
    // A clearIndex() has ended; false when the index could not be emptied (or there is none).
    void indexCleared(bool cleared);

private:
    using Entries = QList<QPair<QUrl, CacheEntry>>;

    void run(const QList<QUrl>& urls, quint64 generation); // worker thread
    [[nodiscard]] bool isStale(quint64 generation) const; // any thread
    void post(quint64 generation, Entries entries, bool counted); // worker thread
    void storePrefetched(const Entries& entries, bool counted);
    void finishRun(const QList<ImageMetadataResult>& exiftoolDue);
    void startExiftoolPass();
    void exiftoolPassStep(const QList<ImageMetadataResult>& firstPass, quint64 generation); // worker thread
    void loadWhole(const QUrl& url);
    void loadRawTexts(const QUrl& url);
    void storeLoaded(const QUrl& url, const CacheEntry& entry);
    void setPrefetching(bool prefetching);
    void setProgress(qint64 done, qint64 total);

    QHash<QUrl, CacheEntry> m_cache;
    bool m_isPrefetching = false;
    QList<QUrl> m_pendingURLs;
    QSet<QUrl> m_pendingSet;
    qint64 m_doneCount = 0;
    qint64 m_totalCount = 0;
    // First-pass readings waiting for the exiftool pass.
    QList<ImageMetadataResult> m_exiftoolQueue;
    bool m_exiftoolPassRunning = false;
    std::shared_ptr<const MetadataIndex> m_index;
    std::atomic_bool m_pruned = false; // the index was pruned once in this process

    // Raised by clear(): work begun for an earlier folder stops and delivers nothing more.
    std::shared_ptr<std::atomic<quint64>> m_generation = std::make_shared<std::atomic<quint64>>(0);

    // Set when the prefetcher goes away or the application quits, so that a long prefetch run
    // stops at its next image instead of holding up the exit.
    std::shared_ptr<std::atomic_bool> m_stopWork = std::make_shared<std::atomic_bool>(false);
    // Last members: destroyed first, waiting for the workers while the rest of the object exists;
    // a run waits for its first-pass threads, so their pool goes after the run's.
    QThreadPool m_firstPassWorkers;
    QThreadPool m_workers;
};

} // namespace limnoscope
