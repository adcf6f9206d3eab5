#include "ThumbnailCache.h"

#include <QCoreApplication>
#include <QThread>

namespace limnoscope {

namespace {
bool onGUIThread()
{
    return !QCoreApplication::instance() || QThread::currentThread() == QCoreApplication::instance()->thread();
}
} // namespace

ThumbnailCache& ThumbnailCache::shared()
{
    static auto* cache = new ThumbnailCache; // never destroyed, like the images' users
    return *cache;
}

qint64 ThumbnailCache::cost(const QImage& image)
{
    return qint64(image.width()) * image.height() * 4;
}

std::optional<ThumbnailCache::Entry> ThumbnailCache::find(const QUrl& url)
{
    Q_ASSERT(onGUIThread());
    const auto found = m_byURL.constFind(url);
    if (found == m_byURL.cend())
        return std::nullopt;
    m_recency.splice(m_recency.begin(), m_recency, found.value());
    return found.value()->entry;
}

void ThumbnailCache::insert(const QUrl& url, const QImage& image, int decodeSize)
{
    Q_ASSERT(onGUIThread());
    remove(url);
    const qint64 imageCost = cost(image);
    if (image.isNull() || imageCost > totalCostLimit)
        return;
    m_recency.push_front(Node { url, Entry { image, decodeSize }, imageCost });
    m_byURL.insert(url, m_recency.begin());
    m_totalCost += imageCost;
    while (count() > countLimit || m_totalCost > totalCostLimit)
        erase(std::prev(m_recency.end()));
}

void ThumbnailCache::remove(const QUrl& url)
{
    Q_ASSERT(onGUIThread());
    const auto found = m_byURL.constFind(url);
    if (found != m_byURL.cend())
        erase(found.value());
}

void ThumbnailCache::erase(Recency::iterator node)
{
    m_totalCost -= node->cost;
    m_byURL.remove(node->url);
    m_recency.erase(node);
}

} // namespace limnoscope
