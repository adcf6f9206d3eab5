#include "MetadataPrefetcher.h"

#include "FileReadError.h"
#include "MetadataExtraction.h"

#include <QCoreApplication>

#include <algorithm>

namespace limnoscope {

namespace {

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

} // namespace

MetadataPrefetcher::MetadataPrefetcher(QObject* parent)
    : QObject(parent)
{
    m_workers.setMaxThreadCount(workerThreads);
    if (const QCoreApplication* application = QCoreApplication::instance()) {
        connect(application, &QCoreApplication::aboutToQuit, this, [stopWork = m_stopWork] { *stopWork = true; });
    }
}

MetadataPrefetcher::~MetadataPrefetcher()
{
    *m_stopWork = true;
}

void MetadataPrefetcher::setPrefetching(bool prefetching)
{
    if (prefetching == m_isPrefetching)
        return;
    m_isPrefetching = prefetching;
    emit isPrefetchingChanged();
}

void MetadataPrefetcher::setProgress(qint64 done, qint64 total)
{
    if (done == m_doneCount && total == m_totalCount)
        return;
    m_doneCount = done;
    m_totalCount = total;
    emit progressChanged();
}

void MetadataPrefetcher::prefetch(const QList<QUrl>& urls)
{
    if (urls.isEmpty())
        return;
    if (m_isPrefetching) {
        for (const QUrl& url : urls) {
            if (!m_pendingSet.contains(url)) {
                m_pendingSet.insert(url);
                m_pendingURLs.append(url);
            }
        }
        return;
    }
    setPrefetching(true);
    setProgress(0, urls.size());
    // Room for the whole run at once: growing step by step while the run hands its entries over
    // would rehash the whole cache on the GUI thread at every doubling (tens of milliseconds at
    // 65,536 entries).
    m_cache.reserve(m_cache.size() + urls.size());
    m_workers.start([this, urls] { run(urls); });
}

// Worker thread: touches no field, only posts results back to the GUI thread, one hop per
// delivery and one for the end of the run. The posts are safe because the pool is destroyed,
// waiting for this run, before the rest of the object.
void MetadataPrefetcher::run(const QList<QUrl>& urls)
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
        this, [this] { finishRun(); }, Qt::QueuedConnection);
}

void MetadataPrefetcher::storePrefetched(const QList<QPair<QUrl, CacheEntry>>& entries)
{
    for (const auto& [url, entry] : entries) {
        if (const auto cached = m_cache.constFind(url); cached != m_cache.cend() && keepsOver(*cached, entry, false))
            continue;
        m_cache.insert(url, entry);
        emit entryStored(url, entry, true);
    }
    setProgress(std::min(m_doneCount + entries.size(), m_totalCount), m_totalCount);
}

void MetadataPrefetcher::finishRun()
{
    setPrefetching(false);
    if (m_pendingURLs.isEmpty())
        return;
    const QList<QUrl> pending = m_pendingURLs;
    m_pendingURLs.clear();
    m_pendingSet.clear();
    prefetch(pending);
}

void MetadataPrefetcher::load(const QUrl& url)
{
    m_workers.start([this, url] {
        const std::optional<FileStamp> stamp = stampOf(url);
        std::optional<LimnoraMetadata> metadata = readImageMetadata(url);
        const int readError = metadata ? 0 : readErrorOf(url.toLocalFile());
        CacheEntry entry(std::move(metadata), stamp, readError);
        QMetaObject::invokeMethod(
            this, [this, url, entry = std::move(entry)] { storeLoaded(url, entry); }, Qt::QueuedConnection);
    });
}

void MetadataPrefetcher::storeLoaded(const QUrl& url, const CacheEntry& entry)
{
    if (const auto cached = m_cache.constFind(url); cached != m_cache.cend() && keepsOver(*cached, entry, true))
        return;
    m_cache.insert(url, entry);
    emit entryStored(url, entry, false);
}

void MetadataPrefetcher::clear()
{
    releaseOnWorker(std::exchange(m_cache, {}));
}

void MetadataPrefetcher::forget(const QSet<QUrl>& urls)
{
    for (const QUrl& url : urls)
        m_cache.remove(url);
}

} // namespace limnoscope
