#pragma once

#include "FinderTag.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QSet>
#include <QThreadPool>
#include <QUrl>

#include <optional>

namespace limnoscope {

// The colour tags of the files the sidebar shows, read on a worker thread so that painting never
// touches the disk, and only for the rows in view. A tag change anywhere makes every entry out of
// date: it stays shown until its new reading lands, so the dots never flicker. Lives on the GUI
// thread.
class TagDotsCache : public QObject
{
    Q_OBJECT

public:
    // Above this many entries, those of rows out of view are dropped.
    static constexpr qsizetype maxEntries = 4096;
    // Files read by one worker task.
    static constexpr qsizetype readBatchSize = 64;

    explicit TagDotsCache(QObject* parent = nullptr);
    // Waits for a read already running.
    ~TagDotsCache() override;

    // The tags last read for `url`, nothing before the first reading lands. Queues a reading when
    // there is none or it is out of date.
    [[nodiscard]] std::optional<QList<FinderTag>> tags(const QUrl& url);

    // Makes every entry out of date and reads the files in view again.
    void invalidate();

    // The files in view: readings of others still waiting are dropped.
    void setVisibleURLs(const QSet<QUrl>& urls);

signals:
    // A reading landed that differs from what was known of `url`.
    void tagsRead(const QUrl& url);

private:
    struct Entry {
        QList<FinderTag> tags;
        quint64 generation = 0;
    };
    using Readings = QList<QPair<QUrl, QList<FinderTag>>>;

    void enqueue(const QUrl& url);
    void startNextRead();
    void land(quint64 generation, const Readings& readings);
    void dropEntriesOutOfView();

    QHash<QUrl, Entry> m_entries;
    QList<QUrl> m_queue;
    QSet<QUrl> m_queued;
    QSet<QUrl> m_visible;
    quint64 m_generation = 1;
    bool m_reading = false;
    QThreadPool m_worker;
};

} // namespace limnoscope
