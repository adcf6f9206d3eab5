#include "FolderFilter.h"

#include "FileTags.h"
#include "MetadataPrefetcher.h"
#include "ReleaseOnWorker.h"

#include <QtConcurrent/QtConcurrentMap>

#include <algorithm>
#include <iterator>

namespace limnoscope {

struct FolderFilter::Result {
    ImageQuery query;
    QSet<QUrl> matches;
    QSet<QUrl> pending;
    QHash<QUrl, QList<FinderTag>> tags;
    QList<QList<QUrl>> listed; // the image lists matched, by listed group
    QList<QList<QUrl>> shown; // their matching images, in order
};

namespace {

// What a job matches: everything is a copy, so the GUI thread goes on changing its own.
struct MatchInput {
    ImageQuery query;
    QList<QList<QUrl>> listed; // the listed images, by group
    QList<QList<QUrl>> images; // those to match: all listed, or the last matches when narrowing
    QHash<QUrl, CacheEntry> cache;
    QHash<QUrl, QList<FinderTag>> tags;
};

struct Chunk {
    qsizetype list = 0;
    qsizetype begin = 0;
    qsizetype end = 0;
};

struct ChunkResult {
    QList<QUrl> matches;
    QList<QUrl> pending;
    QList<QPair<QUrl, QList<FinderTag>>> tagsRead;
};

enum class Verdict { matches, fails, pending };

// An image whose reading (or tags) the query needs and that has none yet cannot be told.
Verdict verdictFor(const ImageQuery& query, const QUrl& url, const CacheEntry* entry, const QList<FinderTag>* tags)
{
    if ((query.needsRecords() && !entry) || (query.needsTags() && !tags))
        return Verdict::pending;
    const QString name = url.fileName();
    const LimnoraMetadata* record = entry && entry->metadata() ? &*entry->metadata() : nullptr;
    return query.matches(QueryCandidate { record, name, tags }) ? Verdict::matches : Verdict::fails;
}

// Worker thread. Stops early, delivering nothing, once `generation` moved on from `wanted`.
ChunkResult matchImages(
    const MatchInput& input, const Chunk& chunk, const std::atomic<quint64>& generation, quint64 wanted)
{
    constexpr qsizetype staleCheckEvery = 256;
    ChunkResult result;
    const QList<QUrl>& images = input.images.at(chunk.list);
    for (qsizetype image = chunk.begin; image < chunk.end; ++image) {
        if ((image - chunk.begin) % staleCheckEvery == 0 && generation.load() != wanted)
            return {};
        const QUrl& url = images.at(image);
        const auto entry = input.cache.constFind(url);
        const QList<FinderTag>* tags = nullptr;
        if (input.query.needsTags()) {
            const auto known = input.tags.constFind(url);
            if (known != input.tags.cend()) {
                tags = &*known;
            } else {
                result.tagsRead.append({ url, readTags(url) });
                tags = &result.tagsRead.last().second;
            }
        }
        switch (verdictFor(input.query, url, entry == input.cache.cend() ? nullptr : &*entry, tags)) {
        case Verdict::matches:
            result.matches.append(url);
            break;
        case Verdict::pending:
            result.pending.append(url);
            break;
        case Verdict::fails:
            break;
        }
    }
    return result;
}

} // namespace

FolderFilter::FolderFilter(const QList<FolderGroup>& listed, const MetadataPrefetcher& prefetcher, QObject* parent)
    : QObject(parent)
    , m_listed(listed)
    , m_prefetcher(prefetcher)
{
    m_jobWorker.setMaxThreadCount(1);
    m_arrivals.setSingleShot(true);
    m_arrivals.setInterval(arrivalsShownAfterMs);
    connect(&m_arrivals, &QTimer::timeout, this, &FolderFilter::matchesChanged);
    connect(&prefetcher, &MetadataPrefetcher::entryStored, this, &FolderFilter::takeEntry);
}

FolderFilter::~FolderFilter()
{
    ++*m_generation;
}

void FolderFilter::setText(const QString& text)
{
    if (text == m_text)
        return;
    m_text = text;
    QueryError error;
    std::optional<ImageQuery> query = ImageQuery::parse(text, &error);
    m_error = query ? QString() : error.message;
    if (query && query->isEmpty())
        query.reset();
    m_query = std::move(query);
    start();
    emit stateChanged();
}

void FolderFilter::listingChanged()
{
    if (m_query)
        start();
}

void FolderFilter::tagsChanged()
{
    m_tags.clear();
    m_shownListsFor.clear(); // a tag: query's lists no longer tell what matches
    if (m_query && m_query->needsTags())
        start();
}

void FolderFilter::forget(const QSet<QUrl>& urls)
{
    m_matches.subtract(urls);
    m_pending.subtract(urls);
    m_shownListsFor.clear();
    m_arrived.subtract(urls);
}

void FolderFilter::start()
{
    ++*m_generation;
    m_arrivals.stop();
    m_arrived.clear();
    if (!m_query) {
        const bool wasApplied = std::exchange(m_applied, false);
        m_matching = false;
        releaseOnWorker(m_jobWorker, std::exchange(m_matches, {}));
        releaseOnWorker(m_jobWorker, std::exchange(m_pending, {}));
        m_shownListsFor.clear();
        if (wasApplied)
            emit matchesChanged();
        return;
    }
    m_matching = true;
    MatchInput copies { *m_query, {}, {}, m_prefetcher.cache(), m_tags };
    for (const FolderGroup& group : m_listed)
        copies.listed.append(group.images);
    // A query that can only match fewer images than the one shown (typing on) looks only at the
    // images shown, when they tell all that matches.
    const bool narrowing = m_applied && m_pending.isEmpty() && m_query->narrows(m_appliedQuery)
        && std::equal(copies.listed.cbegin(), copies.listed.cend(), m_shownListsFor.cbegin(), m_shownListsFor.cend());
    copies.images = narrowing ? m_shownLists : copies.listed;
    auto input = std::make_shared<const MatchInput>(std::move(copies));
    const quint64 wanted = *m_generation;
    m_jobWorker.start([this, input, wanted, generation = m_generation] {
        QList<Chunk> chunks;
        for (qsizetype list = 0; list < input->images.size(); ++list) {
            for (qsizetype begin = 0; begin < input->images.at(list).size(); begin += matchChunk)
                chunks.append({ list, begin, std::min(begin + matchChunk, input->images.at(list).size()) });
        }
        const QList<ChunkResult> parts = QtConcurrent::blockingMapped<QList<ChunkResult>>(&m_chunkWorkers, chunks,
            [&](const Chunk& chunk) { return matchImages(*input, chunk, *generation, wanted); });
        if (generation->load() != wanted)
            return;
        auto result = std::make_shared<Result>();
        result->query = input->query;
        result->tags = input->tags;
        result->listed = input->listed;
        result->shown.resize(input->images.size());
        for (qsizetype index = 0; index < parts.size(); ++index) {
            const ChunkResult& part = parts.at(index);
            result->shown[chunks.at(index).list].append(part.matches);
            result->matches.unite(QSet<QUrl>(part.matches.cbegin(), part.matches.cend()));
            result->pending.unite(QSet<QUrl>(part.pending.cbegin(), part.pending.cend()));
            for (const auto& [url, tags] : part.tagsRead)
                result->tags.insert(url, tags);
        }
        // A group that matches whole shares the listed images: comparing with it later is quick.
        for (qsizetype list = 0; list < result->shown.size(); ++list) {
            if (result->shown.at(list).size() == result->listed.at(list).size())
                result->shown[list] = result->listed.at(list);
        }
        QMetaObject::invokeMethod(
            this, [this, wanted, result] { applyResult(wanted, result); }, Qt::QueuedConnection);
    });
}

void FolderFilter::applyResult(quint64 generation, const std::shared_ptr<Result>& result)
{
    if (generation != m_generation->load())
        return;
    m_matching = false;
    m_applied = true;
    m_appliedQuery = std::move(result->query);
    releaseOnWorker(m_jobWorker, std::exchange(m_matches, std::move(result->matches)));
    releaseOnWorker(m_jobWorker, std::exchange(m_pending, std::move(result->pending)));
    m_shownLists = std::move(result->shown);
    m_shownListsFor = std::move(result->listed);
    if (m_query->needsTags())
        m_tags = std::move(result->tags);
    for (const QUrl& url : std::as_const(m_arrived)) {
        const auto entry = m_prefetcher.cache().constFind(url);
        if (entry != m_prefetcher.cache().cend())
            matchOne(url, &*entry);
    }
    m_arrived.clear();
    emit matchesChanged();
}

void FolderFilter::takeEntry(const QUrl& url, const CacheEntry& entry)
{
    if (!m_query)
        return;
    if (m_matching) {
        m_arrived.insert(url);
        return;
    }
    // A reading that changes nothing (the image on screen read again) shows nothing anew.
    if (matchOne(url, &entry) && !m_arrivals.isActive())
        m_arrivals.start();
}

bool FolderFilter::matchOne(const QUrl& url, const CacheEntry* entry)
{
    const auto tags = m_tags.constFind(url);
    const Verdict verdict = verdictFor(*m_query, url, entry, tags == m_tags.cend() ? nullptr : &*tags);
    const bool matched = verdict == Verdict::matches;
    const bool pending = verdict == Verdict::pending;
    if (m_matches.contains(url) == matched && m_pending.contains(url) == pending)
        return false;
    m_shownListsFor.clear(); // they no longer tell what matches
    if (matched)
        m_matches.insert(url);
    else
        m_matches.remove(url);
    if (pending)
        m_pending.insert(url);
    else
        m_pending.remove(url);
    return true;
}

qint64 FolderFilter::listedCount(const QUrl& groupURL) const
{
    qint64 count = 0;
    for (const FolderGroup& group : m_listed)
        count += groupURL.isEmpty() || group.url == groupURL ? group.images.size() : 0;
    return count;
}

QList<FolderGroup> FolderFilter::shownGroups(
    const QList<FolderGroup>& listed, const QUrl& current, qint64* currentPosition) const
{
    // The last job's lists serve as long as the listing is what it matched (most lists are then
    // the very same, compared at once) and no image was matched since; else every image is
    // looked up, some 10 ms for 100,000.
    const bool listsServe = std::equal(listed.cbegin(), listed.cend(), m_shownListsFor.cbegin(), m_shownListsFor.cend(),
        [](const FolderGroup& group, const QList<QUrl>& images) { return group.images == images; });
    QList<FolderGroup> shown;
    for (qsizetype index = 0; index < listed.size(); ++index) {
        const FolderGroup& group = listed.at(index);
        FolderGroup kept = group;
        if (listsServe) {
            kept.images = m_shownLists.at(index);
        } else {
            kept.images.clear();
            std::copy_if(group.images.cbegin(), group.images.cend(), std::back_inserter(kept.images),
                [this](const QUrl& image) { return m_matches.contains(image); });
            if (kept.images.size() == group.images.size())
                kept.images = group.images;
        }
        if (!kept.images.isEmpty())
            shown.append(std::move(kept));
    }
    if (!currentPosition)
        return shown;
    // Where the current image would be, when it does not match: the first match after it.
    *currentPosition = 0;
    if (current.isEmpty() || m_matches.contains(current))
        return shown;
    for (const FolderGroup& group : listed) {
        for (const QUrl& image : group.images) {
            if (image == current)
                return shown;
            *currentPosition += group.isExpanded && m_matches.contains(image) ? 1 : 0;
        }
    }
    return shown;
}

} // namespace limnoscope
