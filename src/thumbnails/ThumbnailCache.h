#pragma once

#include <QHash>
#include <QImage>
#include <QUrl>

#include <list>
#include <optional>

namespace limnoscope {

// The process-wide memory-bounded cache of decoded thumbnails, keyed by file URL alone, so that
// a row scrolled back into view shows its picture at once. GUI thread only. The least recently
// used entries go first when a limit is passed.
class ThumbnailCache
{
public:
    struct Entry {
        QImage image;
        int decodeSize = 0; // the maxPixelSize the image was decoded at
    };

    static constexpr int countLimit = 50;
    static constexpr qint64 totalCostLimit = 8'000'000;

    // The application's cache, created on first use and never destroyed; the application hands
    // it to the views. Tests make their own (the limits above are the defaults).
    [[nodiscard]] static ThumbnailCache& shared();

    // The bytes of the image as a 32-bit-per-pixel bitmap: width × height × 4.
    [[nodiscard]] static qint64 cost(const QImage& image);

    // The entry for `url`, which becomes the most recently used.
    [[nodiscard]] std::optional<Entry> find(const QUrl& url);
    // Stores (or replaces) the entry for `url`, then evicts down to the limits. An image costing
    // more than the whole cache is not stored.
    void insert(const QUrl& url, const QImage& image, int decodeSize);
    void remove(const QUrl& url);

    [[nodiscard]] int count() const { return int(m_byURL.size()); }
    [[nodiscard]] qint64 totalCost() const { return m_totalCost; }

private:
    struct Node {
        QUrl url;
        Entry entry;
        qint64 cost = 0;
    };
    using Recency = std::list<Node>; // most recently used first

    void erase(Recency::iterator node);

    Recency m_recency;
    QHash<QUrl, Recency::iterator> m_byURL;
    qint64 m_totalCost = 0;
};

} // namespace limnoscope
