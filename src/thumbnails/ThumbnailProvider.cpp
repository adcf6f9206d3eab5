#include "ThumbnailProvider.h"

#include <QThread>

#include <algorithm>
#include <cstdlib>

namespace limnoscope {

ThumbnailProvider::ThumbnailProvider(ThumbnailSemaphore& gate, ThumbnailCache& cache, Decoder decoder, QObject* parent)
    : QObject(parent)
    , m_gate(gate)
    , m_cache(cache)
    , m_decoder(std::move(decoder))
{
    m_workers.setMaxThreadCount(ThumbnailSemaphore::limit);
    m_workers.setThreadPriority(QThread::LowPriority);
    m_recheck.setInterval(failureRecheckInterval);
    connect(&m_recheck, &QTimer::timeout, this, &ThumbnailProvider::recheckFailures);
}

ThumbnailProvider::~ThumbnailProvider()
{
    m_wanted.clear();
    // Workers post their results to this object; none may be left running once it is gone.
    // Results still queued are dropped with the object and give their slots back then.
    m_workers.waitForDone();
}

int ThumbnailProvider::decodeSize(double thumbnailSize)
{
    return std::max(minimumDecodeSize, int(thumbnailSize * decodeScale));
}

QImage ThumbnailProvider::thumbnail(const QUrl& url, double thumbnailSize)
{
    Q_ASSERT(thread() == QThread::currentThread());
    const int size = decodeSize(thumbnailSize);
    auto found = m_wanted.find(url);
    if (found == m_wanted.end()) {
        found = m_wanted.insert(url, Wanted {});
        if (const auto cached = m_cache.find(url)) {
            found->shown = cached->image;
            found->shownSize = cached->decodeSize;
        }
    }
    Wanted& wanted = *found;
    const auto closeEnough = [size](int otherSize) { return std::abs(otherSize - size) <= decodeSizeTolerance; };
    if (wanted.loadID != 0 && closeEnough(wanted.loadSize))
        return wanted.shown;
    if (!wanted.shown.isNull() && closeEnough(wanted.shownSize)) {
        wanted.loadID = 0; // a decode for another size is no longer needed
        return wanted.shown;
    }
    if (!wanted.failed)
        startLoad(url, wanted, size); // meanwhile the picture of another size stays, if any
    return wanted.shown;
}

void ThumbnailProvider::cancel(const QUrl& url)
{
    m_wanted.remove(url);
}

void ThumbnailProvider::setVisibleURLs(const QSet<QUrl>& visibleURLs)
{
    m_wanted.removeIf([&visibleURLs](const auto& entry) { return !visibleURLs.contains(entry.key()); });
}

bool ThumbnailProvider::isLoading(const QUrl& url) const
{
    const auto found = m_wanted.constFind(url);
    return found != m_wanted.cend() && found->loadID != 0;
}

void ThumbnailProvider::startLoad(const QUrl& url, Wanted& wanted, int size)
{
    const quint64 loadID = m_nextLoadID++;
    wanted.loadID = loadID;
    wanted.loadSize = size;
    // Granted at once when a slot is free, else later from this object's event loop.
    m_gate.wait(this, [this, url, loadID, size](ThumbnailSemaphore::Slot slot) {
        decodeIfStillWanted(url, loadID, size, std::move(slot));
    });
}

void ThumbnailProvider::decodeIfStillWanted(const QUrl& url, quint64 loadID, int size, ThumbnailSemaphore::Slot slot)
{
    if (!isCurrentLoad(url, loadID))
        return; // cancelled while waiting: the slot goes back now
    m_workers.start([this, decoder = m_decoder, url, loadID, size, slot]() mutable {
        // Taken before the decode: a file that changes during it looks changed afterwards.
        const std::optional<FileStamp> stamp = FileStamp::of(url.toLocalFile());
        QImage image = decoder(url, size);
        // The slot travels with the result and is given back on this object's thread once the
        // result has been handled, or dropped with the object.
        QMetaObject::invokeMethod(
            this,
            [this, url, loadID, size, image = std::move(image), stamp, slot = std::move(slot)]() mutable {
                land(url, loadID, size, image, stamp);
                slot.release();
            },
            Qt::QueuedConnection);
    });
}

void ThumbnailProvider::land(
    const QUrl& url, quint64 loadID, int size, const QImage& image, const std::optional<FileStamp>& stamp)
{
    if (!isCurrentLoad(url, loadID))
        return;
    Wanted& wanted = m_wanted[url];
    wanted.loadID = 0;
    if (image.isNull()) {
        wanted.failed = true;
        wanted.failedStamp = stamp;
        if (!m_recheck.isActive())
            m_recheck.start();
        return;
    }
    wanted.shown = image;
    wanted.shownSize = size;
    m_cache.insert(url, image, size);
    Q_EMIT thumbnailReady(url);
}

void ThumbnailProvider::recheckFailures()
{
    QList<QUrl> failed;
    for (auto wanted = m_wanted.cbegin(); wanted != m_wanted.cend(); ++wanted) {
        if (wanted->failed)
            failed.append(wanted.key());
    }
    if (failed.isEmpty()) {
        m_recheck.stop();
        return;
    }
    if (m_rechecking)
        return;
    m_rechecking = true;
    m_workers.start([this, failed] {
        QHash<QUrl, std::optional<FileStamp>> stamps;
        for (const QUrl& url : failed)
            stamps.insert(url, FileStamp::of(url.toLocalFile()));
        QMetaObject::invokeMethod(
            this, [this, stamps] { retryChanged(stamps); }, Qt::QueuedConnection);
    });
}

void ThumbnailProvider::retryChanged(const QHash<QUrl, std::optional<FileStamp>>& stamps)
{
    m_rechecking = false;
    for (auto stamp = stamps.cbegin(); stamp != stamps.cend(); ++stamp) {
        const auto wanted = m_wanted.find(stamp.key());
        if (wanted == m_wanted.end() || !wanted->failed || wanted->failedStamp == stamp.value())
            continue;
        wanted->failed = false;
        startLoad(stamp.key(), *wanted, wanted->loadSize);
    }
}

bool ThumbnailProvider::isCurrentLoad(const QUrl& url, quint64 loadID) const
{
    const auto found = m_wanted.constFind(url);
    return found != m_wanted.cend() && found->loadID == loadID;
}

} // namespace limnoscope
