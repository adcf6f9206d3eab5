#include "MetadataPrefetcher.h"

#include "BrowserLogging.h"
#include "ExiftoolRunner.h"
#include "FileReadError.h"
#include "RawMetadataTexts.h"

#include <QCoreApplication>
#include <QtConcurrent/QtConcurrentMap>

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
// A record whose raw texts were left out gives way to one that has them.
bool keepsOver(const CacheEntry& kept, const CacheEntry& arriving, bool arrivingFromOwnLoad)
{
    if (kept.lacksRawTexts())
        return !arriving.isLoaded();
    return kept.fileStamp() == arriving.fileStamp() && kept.isLoaded() && (arrivingFromOwnLoad || !arriving.isLoaded());
}

// A folder's readings keep raw texts up to this many characters per image; the image on screen
// has longer ones read again.
constexpr qsizetype maxKeptRawTextCharacters = 4096;

ImageMetadataResult withoutLongRawTexts(ImageMetadataResult result)
{
    if (!result.metadata)
        return result;
    qsizetype characters = 0;
    for (const RawText& raw : result.metadata->rawTexts)
        characters += raw.source.size() + raw.text.size();
    if (characters > maxKeptRawTextCharacters) {
        result.metadata->rawTexts.clear();
        result.metadata->rawTextsLeftOut = true;
    }
    return result;
}

// The cache entry of a reading made just now: only an image without a record may be one that
// cannot be opened at all.
CacheEntry entryOf(const ImageMetadataResult& result, const std::optional<FileStamp>& stamp)
{
    const int readError = result.metadata ? 0 : readErrorOf(result.url.toLocalFile());
    return CacheEntry(result.metadata, stamp, readError);
}

// The index row of a reading; nothing for a file that could not be looked at or opened, whose
// reading says nothing about its next state.
std::optional<QPair<QString, IndexedReading>> rowOf(
    const ImageMetadataResult& result, const std::optional<FileStamp>& stamp, int readError)
{
    if (!stamp || readError != 0)
        return std::nullopt;
    return QPair<QString, IndexedReading>(result.url.toLocalFile(),
        IndexedReading { stamp->size, stamp->modifiedNanoseconds, result.metadata, result.route });
}

} // namespace

MetadataPrefetcher::MetadataPrefetcher(std::shared_ptr<const MetadataIndex> index, QObject* parent)
    : QObject(parent)
    , m_index(std::move(index))
{
    m_workers.setMaxThreadCount(workerThreads);
    m_firstPassWorkers.setMaxThreadCount(std::max(2, QThread::idealThreadCount()));
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
    m_workers.start([this, urls, generation = m_generation->load()] { run(urls, generation); });
}

bool MetadataPrefetcher::isStale(quint64 generation) const
{
    return m_stopWork->load() || m_generation->load() != generation;
}

void MetadataPrefetcher::post(quint64 generation, Entries entries, bool counted)
{
    if (entries.isEmpty() || isStale(generation))
        return;
    QMetaObject::invokeMethod(
        this,
        [this, generation, entries = std::move(entries), counted] {
            if (m_generation->load() == generation)
                storePrefetched(entries, counted);
        },
        Qt::QueuedConnection);
}

// Worker thread: touches no field but the index and the flags, only posts results back to the GUI
// thread. The posts are safe because the pool is destroyed, waiting for this run, before the rest
// of the object.
void MetadataPrefetcher::run(const QList<QUrl>& urls, quint64 generation)
{
    // Stamps are taken before any reading: a file that changes while it is read then looks
    // changed at the next rescan and is read again.
    QList<std::optional<FileStamp>> stamps;
    stamps.reserve(urls.size());
    QStringList paths;
    paths.reserve(urls.size());
    for (const QUrl& url : urls) {
        paths.append(url.toLocalFile());
        stamps.append(FileStamp::of(paths.last()));
    }

    // What the index holds for the files as they are now is served at once.
    const bool exiftoolInstalled = locateExiftool().has_value();
    QList<ImageMetadataResult> exiftoolDue;
    QList<qsizetype> unread;
    {
        QHash<QString, IndexedReading> indexed = m_index ? m_index->lookup(paths) : QHash<QString, IndexedReading> {};
        Entries served;
        for (qsizetype i = 0; i < urls.size(); ++i) {
            const auto row = indexed.find(paths[i]);
            if (row == indexed.end() || !stamps[i] || row->size != stamps[i]->size
                || row->modifiedNanoseconds != stamps[i]->modifiedNanoseconds) {
                unread.append(i);
                continue;
            }
            if (exiftoolInstalled && row->route == ReadingRoute::inProcess)
                exiftoolDue.append({ urls[i], row->record, row->route });
            served.append({ urls[i], CacheEntry(std::move(row->record), stamps[i]) });
            if (served.size() == deliveryChunk)
                post(generation, std::exchange(served, {}), true);
        }
        post(generation, std::move(served), true);
    }

    // The first pass over the rest, a chunk at a time on several threads, each chunk handed over
    // and stored in the index as it is read.
    for (qsizetype start = 0; start < unread.size() && !isStale(generation); start += deliveryChunk) {
        const QList<qsizetype> chunk = unread.sliced(start, std::min(deliveryChunk, unread.size() - start));
        const QList<CacheEntry> read = QtConcurrent::blockingMapped(&m_firstPassWorkers, chunk, [&](qsizetype i) {
            if (isStale(generation))
                return CacheEntry({}, stamps[i]);
            return entryOf(withoutLongRawTexts({ urls[i], readImageMetadataInProcess(urls[i]) }), stamps[i]);
        });
        if (isStale(generation))
            break;
        Entries entries;
        entries.reserve(chunk.size());
        QList<QPair<QString, IndexedReading>> rows;
        for (qsizetype k = 0; k < chunk.size(); ++k) {
            const qsizetype i = chunk[k];
            const ImageMetadataResult result { urls[i], read[k].metadata(), ReadingRoute::inProcess };
            if (const auto row = rowOf(result, stamps[i], read[k].readError()))
                rows.append(*row);
            if (exiftoolInstalled && read[k].readError() == 0)
                exiftoolDue.append(result);
            entries.append({ urls[i], read[k] });
        }
        post(generation, std::move(entries), true);
        if (m_index)
            m_index->store(rows);
    }
    if (m_index && !isStale(generation) && !m_pruned.exchange(true))
        m_index->prune();

    QMetaObject::invokeMethod(
        this,
        [this, generation, exiftoolDue = std::move(exiftoolDue)] {
            finishRun(m_generation->load() == generation ? exiftoolDue : QList<ImageMetadataResult> {});
        },
        Qt::QueuedConnection);
}

void MetadataPrefetcher::storePrefetched(const Entries& entries, bool counted)
{
    for (const auto& [url, entry] : entries) {
        if (const auto cached = m_cache.constFind(url); cached != m_cache.cend() && keepsOver(*cached, entry, false))
            continue;
        m_cache.insert(url, entry);
        emit entryStored(url, entry, true);
    }
    if (counted)
        setProgress(std::min(m_doneCount + entries.size(), m_totalCount), m_totalCount);
}

void MetadataPrefetcher::finishRun(const QList<ImageMetadataResult>& exiftoolDue)
{
    m_exiftoolQueue.append(exiftoolDue);
    setPrefetching(false);
    if (!m_pendingURLs.isEmpty()) {
        const QList<QUrl> pending = m_pendingURLs;
        m_pendingURLs.clear();
        m_pendingSet.clear();
        prefetch(pending);
    }
    startExiftoolPass();
}

// The exiftool pass goes on only between runs: a run waiting for a step of it would wait behind
// a batch of exiftool processes.
void MetadataPrefetcher::startExiftoolPass()
{
    if (m_exiftoolPassRunning || m_isPrefetching || m_exiftoolQueue.isEmpty())
        return;
    m_exiftoolPassRunning = true;
    const qsizetype count = std::min(exiftoolPassChunk, m_exiftoolQueue.size());
    const QList<ImageMetadataResult> step = m_exiftoolQueue.first(count);
    m_exiftoolQueue.remove(0, count);
    m_workers.start([this, step, generation = m_generation->load()] { exiftoolPassStep(step, generation); });
}

// Worker thread. The stamps are taken again: a file that changed since its first pass is read as
// it is now.
void MetadataPrefetcher::exiftoolPassStep(const QList<ImageMetadataResult>& firstPass, quint64 generation)
{
    QList<std::optional<FileStamp>> stamps;
    stamps.reserve(firstPass.size());
    for (const ImageMetadataResult& result : firstPass)
        stamps.append(stampOf(result.url));
    QList<ImageMetadataResult> finals = readWithExiftool(firstPass, [this, generation] { return isStale(generation); });
    for (ImageMetadataResult& result : finals)
        result = withoutLongRawTexts(std::move(result));
    Entries changed;
    QList<QPair<QString, IndexedReading>> rows;
    for (qsizetype i = 0; i < finals.size(); ++i) {
        const CacheEntry entry = entryOf(finals[i], stamps[i]);
        if (const auto row = rowOf(finals[i], stamps[i], entry.readError()))
            rows.append(*row);
        if (!sameRecord(finals[i].metadata, firstPass[i].metadata))
            changed.append({ finals[i].url, entry });
    }
    if (m_index && !rows.isEmpty())
        m_index->store(rows);
    post(generation, std::move(changed), false);
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_exiftoolPassRunning = false;
            startExiftoolPass();
        },
        Qt::QueuedConnection);
}

void MetadataPrefetcher::load(const QUrl& url)
{
    if (const auto cached = m_cache.constFind(url); cached != m_cache.cend() && cached->lacksRawTexts()) {
        loadRawTexts(url);
        return;
    }
    loadWhole(url);
}

void MetadataPrefetcher::loadWhole(const QUrl& url)
{
    m_workers.start([this, url, generation = m_generation->load()] {
        const std::optional<FileStamp> stamp = stampOf(url);
        const CacheEntry entry = entryOf({ url, readImageMetadata(url) }, stamp);
        QMetaObject::invokeMethod(
            this,
            [this, url, entry, generation] {
                if (m_generation->load() == generation)
                    storeLoaded(url, entry);
            },
            Qt::QueuedConnection);
    });
}

// The raw texts of a file whose cached reading left them out are read alone and given to the
// cached record, which keeps whatever its route found (the exiftool pass may have read a text the
// in-process readers cannot). A file changed since its reading is read whole again.
void MetadataPrefetcher::loadRawTexts(const QUrl& url)
{
    m_workers.start([this, url, generation = m_generation->load()] {
        const std::optional<FileStamp> stamp = stampOf(url);
        QList<RawText> rawTexts = readRawMetadataTexts(url.toLocalFile());
        QMetaObject::invokeMethod(
            this,
            [this, url, stamp, rawTexts = std::move(rawTexts), generation] {
                if (m_generation->load() != generation)
                    return;
                const auto cached = m_cache.constFind(url);
                if (cached == m_cache.cend() || !cached->lacksRawTexts())
                    return; // forgotten, or whole again
                if (!stamp || cached->fileStamp() != stamp) {
                    loadWhole(url);
                    return;
                }
                LimnoraMetadata record = *cached->metadata();
                record.rawTexts = rawTexts;
                record.rawTextsLeftOut = false;
                storeLoaded(url, CacheEntry(std::move(record), stamp));
            },
            Qt::QueuedConnection);
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
    ++*m_generation;
    m_exiftoolQueue.clear();
    releaseOnWorker(std::exchange(m_cache, {}));
}

void MetadataPrefetcher::clearIndex()
{
    m_workers.start([this] {
        const bool cleared = m_index && m_index->clear();
        QMetaObject::invokeMethod(
            this, [this, cleared] { emit indexCleared(cleared); }, Qt::QueuedConnection);
    });
}

void MetadataPrefetcher::forget(const QSet<QUrl>& urls)
{
    for (const QUrl& url : urls)
        m_cache.remove(url);
}

} // namespace limnoscope
