#pragma once

#include "LimnoraMetadata.h"
#include "MetadataExtraction.h" // ReadingRoute

#include <QHash>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

#include <chrono>
#include <optional>

namespace limnoscope {

// One stored reading of an image: the file's state when it was read and what was found.
struct IndexedReading {
    qint64 size = 0;
    qint64 modifiedNanoseconds = 0;
    // Nothing: the file was read and holds no metadata.
    std::optional<LimnoraMetadata> record;
    ReadingRoute route = ReadingRoute::inProcess;
};

// The persistent index of metadata readings: one SQLite database (WAL) shared by every
// Limnoscope process of the user, keyed by absolute path. Only ever a shortcut: a database that
// is missing, corrupt, locked or read-only makes lookups find nothing and stores do nothing (a
// corrupt one is rebuilt when it can be), and no call ever throws or blocks for long.
// Blocking file work: call from worker threads only; every call may come from any thread (each
// uses its own connection).
class MetadataIndex
{
public:
    // Raised whenever a reader's output changes: rows of another version count as absent.
    static constexpr int readerVersion = 1;
    // Rows of files that have been gone this long are deleted by prune().
    static constexpr std::chrono::hours pruneAfter { 30 * 24 };

    // $XDG_CACHE_HOME/limnoscope/metadata-index.sqlite
    [[nodiscard]] static QString defaultPath();

    explicit MetadataIndex(QString databasePath = defaultPath());

    [[nodiscard]] const QString& databasePath() const { return m_databasePath; }

    // The readings stored for those of `paths` that have a row of the current reader version.
    // The caller compares size and time with the file's own.
    [[nodiscard]] QHash<QString, IndexedReading> lookup(const QStringList& paths) const;

    // Inserts or replaces the rows, all in one transaction. False when nothing was stored.
    bool store(const QList<QPair<QString, IndexedReading>>& rows) const;

    // Deletes every row (and starts a fresh database where the old one cannot be emptied).
    bool clear() const;

    // Deletes the rows of files that no longer exist and were not looked up for pruneAfter.
    void prune() const;

private:
    QString m_databasePath;
};

} // namespace limnoscope
