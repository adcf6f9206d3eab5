#pragma once

#include "CacheEntry.h"
#include "FinderTag.h"
#include "FolderGroup.h"
#include "ImageQuery.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QSet>
#include <QThreadPool>
#include <QTimer>
#include <QUrl>

#include <atomic>
#include <memory>
#include <optional>

namespace limnoscope {

class MetadataPrefetcher;

// The sidebar's filter of the open folder: the query the user typed, which listed images match
// it and which cannot be told yet (no reading, or tags not read). A new query or a new listing is
// matched on workers, in chunks, with a generation number so that a newer one makes an older
// one stale; a query typed on from the one shown looks only at its matches; readings that arrive
// later are matched one by one on the GUI thread. Tags for tag:
// terms are read on the workers and kept per image until the tag version changes. Lives on the
// GUI thread; `matchesChanged` tells the model to show the matching images again.
class FolderFilter : public QObject
{
    Q_OBJECT

public:
    // Images per chunk a worker matches at once.
    static constexpr qsizetype matchChunk = 4096;
    // Readings that come in during a prefetch are shown together, at most this often.
    static constexpr int arrivalsShownAfterMs = 100;

    // `listed` and `prefetcher` are the model's: the images of every listed group and the
    // readings they are matched against.
    FolderFilter(const QList<FolderGroup>& listed, const MetadataPrefetcher& prefetcher, QObject* parent = nullptr);
    // Makes the work under way stale and waits for the workers.
    ~FolderFilter() override;

    [[nodiscard]] const QString& text() const { return m_text; }
    // Why the text cannot be read; empty when it can.
    [[nodiscard]] const QString& error() const { return m_error; }
    // Parses `text`; a malformed or empty one filters nothing. A readable query is matched
    // against every listed image on workers; the last result stays shown until its result comes.
    void setText(const QString& text);
    // Whether a result is shown: only matching images are listed.
    [[nodiscard]] bool isApplied() const { return m_applied; }
    // Listed images that cannot be matched yet (while a result is shown).
    [[nodiscard]] qsizetype pendingCount() const { return m_applied ? m_pending.size() : 0; }
    [[nodiscard]] bool matches(const QUrl& url) const { return m_matches.contains(url); }
    // Images listed in the group of `groupURL`, or in all groups.
    [[nodiscard]] qint64 listedCount(const QUrl& groupURL) const;

    // The listed images change: matches everything again (a rescan, another folder).
    void listingChanged();
    // The images left the list.
    void forget(const QSet<QUrl>& urls);
    // Tags changed on disk: the tags read are forgotten and read again where a query needs them.
    void tagsChanged();

    // The groups as the filter shows them: matching images only, groups without any left out.
    // `current`'s position among the shown images (where it would be when it does not match)
    // goes to `currentPosition`.
    [[nodiscard]] QList<FolderGroup> shownGroups(
        const QList<FolderGroup>& listed, const QUrl& current, qint64* currentPosition) const;

signals:
    // The text or the error changed.
    void stateChanged();
    // Which images match, or how many are pending, changed.
    void matchesChanged();

private:
    struct Result;
    void start();
    void applyResult(quint64 generation, const std::shared_ptr<Result>& result);
    void takeEntry(const QUrl& url, const CacheEntry& entry);
    // Matches one image against the query on the GUI thread; false when that changed nothing.
    bool matchOne(const QUrl& url, const CacheEntry* entry);

    const QList<FolderGroup>& m_listed;
    const MetadataPrefetcher& m_prefetcher;
    QString m_text;
    QString m_error;
    std::optional<ImageQuery> m_query; // a readable, non-empty query
    bool m_applied = false;
    ImageQuery m_appliedQuery; // the query of the result shown
    bool m_matching = false; // a job is under way
    QSet<QUrl> m_matches;
    QSet<QUrl> m_pending;
    // Readings that came while a job was under way: matched once its result is in.
    QSet<QUrl> m_arrived;
    QHash<QUrl, QList<FinderTag>> m_tags; // read for tag: terms, by image
    // The last job's matching images by listed group, and the listed lists it matched; emptied
    // once they no longer tell what matches.
    QList<QList<QUrl>> m_shownLists;
    QList<QList<QUrl>> m_shownListsFor;
    QTimer m_arrivals;
    std::shared_ptr<std::atomic<quint64>> m_generation = std::make_shared<std::atomic<quint64>>(0);
    // Last members: destroyed first. A job waits for its chunks, so the chunks' pool goes last.
    QThreadPool m_chunkWorkers;
    QThreadPool m_jobWorker;
};

} // namespace limnoscope
