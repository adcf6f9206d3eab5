#pragma once

#include "FileStamp.h"
#include "ThumbnailCache.h"
#include "ThumbnailSemaphore.h"

#include <QHash>
#include <QImage>
#include <QObject>
#include <QSet>
#include <QThreadPool>
#include <QTimer>
#include <QUrl>

#include <chrono>
#include <functional>
#include <optional>

namespace limnoscope {

// Hands the sidebar's painting delegate the thumbnail of each URL: from the cache, or by a decode
// on a worker thread through the gate it was given, announced by thumbnailReady(). Lives on the GUI
// thread; only the decodes run elsewhere.
//
// A URL is wanted from its first request until it is cancelled (its row left the view). While
// wanted it keeps the picture it shows, even when the cache evicts it, and a decode that gave
// nothing is not tried again until the file's size or modification time changes (it was still
// being written). A result that arrives for a URL no longer wanted, or for an earlier request of
// it, is neither shown nor cached.
class ThumbnailProvider : public QObject
{
    Q_OBJECT

public:
    using Decoder = std::function<QImage(const QUrl& url, int maxPixelSize)>;

    // Thumbnails are decoded at 2.5 times their width on screen, room for a device pixel ratio of
    // 2, and never smaller than the classic 136-pixel thumbnail.
    static constexpr double decodeScale = 2.5;
    static constexpr int minimumDecodeSize = 136;
    // A picture decoded more than this many pixels off the wanted size is replaced by a new decode.
    static constexpr int decodeSizeTolerance = 20;
    // Wanted files that failed to decode are looked at (their stamps, on a worker) this often:
    // nothing tells the provider when a file it could not decode has been finished.
    static constexpr std::chrono::milliseconds failureRecheckInterval { 1000 };

    // `decoder` (decodeDownsampled in the application) runs on worker threads and must be thread-safe.
    ThumbnailProvider(ThumbnailSemaphore& gate, ThumbnailCache& cache, Decoder decoder, QObject* parent = nullptr);
    // Waits for decodes already running (at most the gate's limit) before the provider goes away.
    ~ThumbnailProvider() override;

    // The size in pixels that thumbnails shown `thumbnailSize` wide are decoded at.
    [[nodiscard]] static int decodeSize(double thumbnailSize);

    // The picture to show for `url` at `thumbnailSize` now, null while there is none; starts a
    // decode when there is no picture or it was decoded for a size too far off.
    [[nodiscard]] QImage thumbnail(const QUrl& url, double thumbnailSize);

    // Forgets `url`: its waiting decode is dropped when its turn comes, a running one's result is
    // discarded, and the next request starts afresh (and retries a file that failed).
    void cancel(const QUrl& url);
    // Cancels every wanted URL that is not in `visibleURLs`.
    void setVisibleURLs(const QSet<QUrl>& visibleURLs);

    // Whether a decode for `url` is waiting for the gate or running.
    [[nodiscard]] bool isLoading(const QUrl& url) const;

Q_SIGNALS:
    // A new picture for `url` is ready: ask thumbnail() again.
    void thumbnailReady(const QUrl& url);

private:
    struct Wanted {
        QImage shown;
        int shownSize = 0; // decode size of `shown`
        quint64 loadID = 0; // the decode in flight, 0 for none
        int loadSize = 0;
        bool failed = false;
        std::optional<FileStamp> failedStamp; // the file's stamp just before the failed decode
    };

    void startLoad(const QUrl& url, Wanted& wanted, int size);
    void decodeIfStillWanted(const QUrl& url, quint64 loadID, int size, ThumbnailSemaphore::Slot slot);
    void land(const QUrl& url, quint64 loadID, int size, const QImage& image, const std::optional<FileStamp>& stamp);
    void recheckFailures();
    void retryChanged(const QHash<QUrl, std::optional<FileStamp>>& stamps);
    [[nodiscard]] bool isCurrentLoad(const QUrl& url, quint64 loadID) const;

    ThumbnailSemaphore& m_gate;
    ThumbnailCache& m_cache;
    Decoder m_decoder;
    QThreadPool m_workers;
    QHash<QUrl, Wanted> m_wanted;
    quint64 m_nextLoadID = 1;
    QTimer m_recheck;
    bool m_rechecking = false; // a look at the failed files' stamps is under way
};

} // namespace limnoscope
