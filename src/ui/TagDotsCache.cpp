#include "TagDotsCache.h"

#include "FileTags.h"

namespace limnoscope {

TagDotsCache::TagDotsCache(QObject* parent)
    : QObject(parent)
{
    // One reader keeps the readings in the order they were asked for.
    m_worker.setMaxThreadCount(1);
}

TagDotsCache::~TagDotsCache()
{
    // The worker posts its result to this object, which must outlive it.
    m_worker.waitForDone();
}

std::optional<QList<FinderTag>> TagDotsCache::tags(const QUrl& url)
{
    const auto found = m_entries.constFind(url);
    if (found == m_entries.cend()) {
        enqueue(url);
        return std::nullopt;
    }
    if (found->generation != m_generation)
        enqueue(url);
    return found->tags;
}

void TagDotsCache::invalidate()
{
    ++m_generation;
    for (const QUrl& url : std::as_const(m_visible))
        enqueue(url);
}

void TagDotsCache::setVisibleURLs(const QSet<QUrl>& urls)
{
    m_visible = urls;
    m_queue.removeIf([this](const QUrl& url) {
        if (m_visible.contains(url))
            return false;
        m_queued.remove(url);
        return true;
    });
    dropEntriesOutOfView();
}

void TagDotsCache::enqueue(const QUrl& url)
{
    if (m_queued.contains(url))
        return;
    m_queued.insert(url);
    m_queue.append(url);
    startNextRead();
}

void TagDotsCache::startNextRead()
{
    if (m_reading || m_queue.isEmpty())
        return;
    const QList<QUrl> batch = m_queue.first(std::min(readBatchSize, m_queue.size()));
    m_queue.remove(0, batch.size());
    for (const QUrl& url : batch)
        m_queued.remove(url);
    m_reading = true;
    const quint64 generation = m_generation;
    m_worker.start([this, batch, generation] {
        Readings readings;
        readings.reserve(batch.size());
        for (const QUrl& url : batch)
            readings.append({ url, readTags(url) });
        QMetaObject::invokeMethod(
            this, [this, generation, readings] { land(generation, readings); }, Qt::QueuedConnection);
    });
}

void TagDotsCache::land(quint64 generation, const Readings& readings)
{
    m_reading = false;
    for (const auto& [url, tags] : readings) {
        const auto previous = m_entries.constFind(url);
        const bool changed = previous == m_entries.cend() || previous->tags != tags;
        // A reading started before the last tag change stays out of date and is read again.
        m_entries.insert(url, Entry { tags, generation });
        if (changed)
            emit tagsRead(url);
    }
    dropEntriesOutOfView();
    startNextRead();
}

void TagDotsCache::dropEntriesOutOfView()
{
    if (m_entries.size() <= maxEntries)
        return;
    m_entries.removeIf([this](const auto& entry) { return !m_visible.contains(entry.key()); });
}

} // namespace limnoscope
