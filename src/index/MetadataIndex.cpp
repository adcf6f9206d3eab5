#include "MetadataIndex.h"

#include "IndexLogging.h"
#include "RecordEncoding.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QMutex>
#include <QSet>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>

#include <atomic>
#include <cerrno>
#include <sys/stat.h>

Q_LOGGING_CATEGORY(lcIndex, "limnoscope.index", QtWarningMsg)

namespace limnoscope {

namespace {

const QString driverName = QStringLiteral("QSQLITE");
// How long a statement waits for another process's write lock before the call gives up.
constexpr int busyTimeoutMs = 2000;
// A lookup writes `seen` only into rows whose stamp is older than this, so that opening the same
// folder again rewrites nothing.
constexpr qint64 seenRefreshSeconds = 24 * 60 * 60;
// A folder with at least this many looked-up images is read in one scan of its path range;
// fewer are looked up one by one, so that one image of a large folder does not read the folder.
constexpr qsizetype rangeScanMinimum = 64;

const QString setUpStatements[] = {
    QStringLiteral("PRAGMA journal_mode=WAL"),
    QStringLiteral("PRAGMA synchronous=NORMAL"),
    QStringLiteral("CREATE TABLE IF NOT EXISTS readings (path TEXT PRIMARY KEY NOT NULL, size INTEGER NOT NULL, "
                   "mtime_ns INTEGER NOT NULL, reader_version INTEGER NOT NULL, route INTEGER NOT NULL, "
                   "record BLOB, seen INTEGER NOT NULL) WITHOUT ROWID"),
};

// Why the database could not be used; each is warned about once per database and process.
enum class Failure { noDriver, cannotOpen, readOnly, locked, corrupt, other };

// SQLite's primary result codes, as the driver reports them in nativeErrorCode().
enum SQLiteResult {
    sqlitePerm = 3,
    sqliteBusy = 5,
    sqliteLocked = 6,
    sqliteReadOnly = 8,
    sqliteCorrupt = 11,
    sqliteCantOpen = 14,
    sqliteNotADatabase = 26
};

Failure classify(const QSqlError& error)
{
    // The driver may report extended result codes: the low byte is the primary one.
    const int code = error.nativeErrorCode().toInt() & 0xff;
    const QString text = error.databaseText();
    if (code == sqliteCorrupt || code == sqliteNotADatabase || text.contains(QLatin1String("malformed"))
        || text.contains(QLatin1String("not a database")))
        return Failure::corrupt;
    if (code == sqliteBusy || code == sqliteLocked)
        return Failure::locked;
    if (code == sqliteReadOnly)
        return Failure::readOnly;
    if (code == sqlitePerm || code == sqliteCantOpen)
        return Failure::cannotOpen;
    return Failure::other;
}

void warnOnce(const QString& databasePath, Failure failure, const QString& reason)
{
    static QMutex mutex;
    static QSet<QString> warned;
    {
        const QString key = QString::number(int(failure)) + databasePath;
        QMutexLocker locker(&mutex);
        if (warned.contains(key))
            return;
        warned.insert(key);
    }
    switch (failure) {
    case Failure::noDriver:
        qCWarning(lcIndex) << "The Qt SQLite driver is missing: metadata readings are not kept between runs";
        break;
    case Failure::cannotOpen:
        qCWarning(lcIndex).noquote() << "Cannot open the metadata index" << databasePath
                                     << "(" + reason + "): metadata readings are not kept";
        break;
    case Failure::readOnly:
        qCWarning(lcIndex).noquote() << "The metadata index" << databasePath
                                     << "is read-only: new readings are not kept";
        break;
    case Failure::locked:
        qCWarning(lcIndex).noquote() << "The metadata index" << databasePath
                                     << "is locked by another process: readings are read again meanwhile";
        break;
    case Failure::corrupt:
        qCWarning(lcIndex).noquote() << "The metadata index" << databasePath
                                     << "is corrupt (" + reason + "): starting a fresh one";
        break;
    case Failure::other:
        qCWarning(lcIndex).noquote() << "The metadata index" << databasePath << "failed:" << reason;
        break;
    }
}

[[nodiscard]] qint64 nowSeconds()
{
    return QDateTime::currentSecsSinceEpoch();
}

// One JSON array of texts, the argument of json_each(): a whole list of paths in one statement.
[[nodiscard]] QString jsonList(const QStringList& texts)
{
    return QString::fromUtf8(QJsonDocument(QJsonArray::fromStringList(texts)).toJson(QJsonDocument::Compact));
}

// One connection to the index, opened on the calling thread for one call and removed with it.
// A corrupt database is replaced by a fresh one: at once when it is found while opening, else
// once the connection is closed.
class Connection
{
public:
    explicit Connection(const QString& path)
        : m_path(path)
        , m_name(QStringLiteral("limnoscope-index-%1").arg(s_nextConnection.fetch_add(1)))
    {
        if (!QSqlDatabase::isDriverAvailable(driverName)) {
            warnOnce(m_path, Failure::noDriver, {});
            return;
        }
        makeFolder();
        if (!open() && m_corrupt)
            rebuild();
    }

    // The caller's queries are gone by now: they were made after the connection.
    ~Connection()
    {
        closeDatabase();
        if (m_corrupt)
            removeFiles();
    }

    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    [[nodiscard]] bool isOpen() const { return m_open; }
    [[nodiscard]] QSqlQuery query() const
    {
        QSqlQuery query(*m_database);
        query.setForwardOnly(true);
        return query;
    }

    // Warns once about a failed statement; a corrupt database is removed on closing.
    Failure fail(const QSqlError& error)
    {
        const Failure failure = classify(error);
        warnOnce(m_path, failure, error.text());
        if (failure == Failure::corrupt)
            m_corrupt = true;
        return failure;
    }

    bool exec(const QString& statement)
    {
        QSqlQuery query = this->query();
        if (query.exec(statement))
            return true;
        fail(query.lastError());
        return false;
    }

    // Closes the database, removes its files and starts a fresh one.
    bool rebuild()
    {
        closeDatabase();
        removeFiles();
        m_corrupt = false;
        return open();
    }

private:
    // The cache folder is private to the user, as every folder of Limnoscope's own.
    void makeFolder() const
    {
        const QFileInfo folder(QFileInfo(m_path).absolutePath());
        if (folder.exists())
            return;
        QDir().mkpath(folder.absolutePath());
        ::mkdir(QFile::encodeName(folder.absoluteFilePath()).constData(), S_IRWXU);
    }

    bool open()
    {
        m_database = QSqlDatabase::addDatabase(driverName, m_name);
        m_database->setDatabaseName(m_path);
        m_database->setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(busyTimeoutMs));
        if (!m_database->open()) {
            fail(m_database->lastError());
            return false;
        }
        for (const QString& statement : setUpStatements) {
            QSqlQuery query = this->query();
            if (query.exec(statement))
                continue;
            // A read-only database cannot change its journal, but can still be read.
            if (fail(query.lastError()) == Failure::readOnly && statement.startsWith(QLatin1String("PRAGMA")))
                continue;
            return false;
        }
        m_open = true;
        return true;
    }

    // Qt removes a connection only once no QSqlDatabase copy of it is left.
    void closeDatabase()
    {
        m_open = false;
        if (!m_database)
            return;
        m_database->close();
        m_database.reset();
        QSqlDatabase::removeDatabase(m_name);
    }

    void removeFiles() const
    {
        for (const char* suffix : { "", "-wal", "-shm" })
            QFile::remove(m_path + QLatin1String(suffix));
    }

    static inline std::atomic<quint64> s_nextConnection { 0 };

    QString m_path;
    QString m_name;
    std::optional<QSqlDatabase> m_database;
    bool m_open = false;
    bool m_corrupt = false;
};

// The folder part of a path with its slash ("/a/b/" for "/a/b/c.png").
[[nodiscard]] QStringView folderPrefix(const QString& path)
{
    return QStringView(path).left(path.lastIndexOf(QLatin1Char('/')) + 1);
}

// The paths of a lookup by folder, in the order the folders first appear.
struct Folder {
    QStringView prefix;
    QList<qsizetype> indexes;
};

[[nodiscard]] QList<Folder> byFolder(const QStringList& paths)
{
    QList<Folder> folders;
    QHash<QStringView, qsizetype> positions;
    qsizetype current = -1;
    for (qsizetype i = 0; i < paths.size(); ++i) {
        const QStringView prefix = folderPrefix(paths[i]);
        // A folder's paths mostly come one after another.
        if (current < 0 || folders[current].prefix != prefix) {
            current = positions.value(prefix, folders.size());
            if (current == folders.size()) {
                positions.insert(prefix, current);
                folders.append({ prefix, {} });
            }
        }
        folders[current].indexes.append(i);
    }
    return folders;
}

// Collects the readings a lookup found, and the paths whose `seen` stamp is due.
class LookupResult
{
public:
    explicit LookupResult(qsizetype expected)
        : m_seenBefore(nowSeconds() - seenRefreshSeconds)
    {
        m_readings.reserve(expected);
    }

    // Columns: path or name, size, mtime_ns, route, record, seen.
    void take(const QSqlQuery& row, const QString& path)
    {
        const int route = row.value(3).toInt();
        if (route < int(ReadingRoute::inProcess) || route > int(ReadingRoute::pipeline))
            return;
        IndexedReading reading { row.value(1).toLongLong(), row.value(2).toLongLong(), {}, ReadingRoute(route) };
        const QVariant record = row.value(4);
        if (!record.isNull()) {
            // An unreadable record is a missing row: the next store replaces it.
            reading.record = m_decoder.decode(record.toByteArray());
            if (!reading.record)
                return;
        }
        if (row.value(5).toLongLong() < m_seenBefore)
            m_seenDue.append(path);
        m_readings.emplace(path, std::move(reading));
    }

    [[nodiscard]] const QStringList& seenDue() const { return m_seenDue; }
    [[nodiscard]] QHash<QString, IndexedReading> takeReadings() { return std::move(m_readings); }

private:
    qint64 m_seenBefore;
    RecordDecoder m_decoder;
    QHash<QString, IndexedReading> m_readings;
    QStringList m_seenDue;
};

} // namespace

QString MetadataIndex::defaultPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation)
        + QStringLiteral("/limnoscope/metadata-index.sqlite");
}

MetadataIndex::MetadataIndex(QString databasePath)
    : m_databasePath(std::move(databasePath))
{
}

QHash<QString, IndexedReading> MetadataIndex::lookup(const QStringList& paths) const
{
    if (paths.isEmpty())
        return {};
    Connection connection(m_databasePath);
    if (!connection.isOpen())
        return {};

    LookupResult result(paths.size());
    // SQLite compares paths as UTF-8 bytes: the paths in "/a/b/" sort from "/a/b/" up to "/a/b0"
    // ('0' follows '/'); the rows of subfolders in that range are passed over in SQLite.
    QSqlQuery range = connection.query();
    range.prepare(QStringLiteral("SELECT substr(path, length(?) + 1), size, mtime_ns, route, record, seen "
                                 "FROM readings WHERE path >= ? AND path < ? AND reader_version = ? "
                                 "AND instr(substr(path, length(?) + 1), '/') = 0"));
    QSqlQuery single = connection.query();
    single.prepare(QStringLiteral("SELECT path, size, mtime_ns, route, record, seen "
                                  "FROM readings WHERE path = ? AND reader_version = ?"));
    for (const Folder& folder : byFolder(paths)) {
        if (folder.indexes.size() >= rangeScanMinimum && !folder.prefix.isEmpty()) {
            QHash<QStringView, qsizetype> names;
            names.reserve(folder.indexes.size());
            for (qsizetype index : folder.indexes)
                names.insert(QStringView(paths[index]).sliced(folder.prefix.size()), index);
            const QString prefix = folder.prefix.toString();
            range.bindValue(0, prefix);
            range.bindValue(1, prefix);
            range.bindValue(2, prefix.chopped(1) + QLatin1Char('0'));
            range.bindValue(3, readerVersion);
            range.bindValue(4, prefix);
            if (!range.exec()) {
                connection.fail(range.lastError());
                return {};
            }
            while (range.next()) {
                const qsizetype index = names.value(range.value(0).toString(), -1);
                if (index >= 0)
                    result.take(range, paths[index]);
            }
            // next() is false at the end and on an error alike (a damaged page ends the scan).
            if (range.lastError().isValid()) {
                connection.fail(range.lastError());
                return {};
            }
            range.finish();
            continue;
        }
        for (qsizetype index : folder.indexes) {
            single.bindValue(0, paths[index]);
            single.bindValue(1, readerVersion);
            if (!single.exec()) {
                connection.fail(single.lastError());
                return {};
            }
            if (single.next())
                result.take(single, paths[index]);
            else if (single.lastError().isValid()) {
                connection.fail(single.lastError());
                return {};
            }
            single.finish();
        }
    }

    QHash<QString, IndexedReading> readings = result.takeReadings();
    if (!result.seenDue().isEmpty()) {
        // Not having the stamp written only makes prune() keep the rows longer.
        QSqlQuery seen = connection.query();
        seen.prepare(
            QStringLiteral("UPDATE readings SET seen = :now WHERE path IN (SELECT value FROM json_each(:paths))"));
        seen.bindValue(QStringLiteral(":now"), nowSeconds());
        seen.bindValue(QStringLiteral(":paths"), jsonList(result.seenDue()));
        if (!seen.exec())
            connection.fail(seen.lastError());
    }
    return readings;
}

bool MetadataIndex::store(const QList<QPair<QString, IndexedReading>>& rows) const
{
    if (rows.isEmpty())
        return true;
    Connection connection(m_databasePath);
    // IMMEDIATE takes the write lock at once, waiting for another process's writes to end.
    if (!connection.isOpen() || !connection.exec(QStringLiteral("BEGIN IMMEDIATE")))
        return false;
    QSqlQuery insert = connection.query();
    const bool prepared = insert.prepare(QStringLiteral("INSERT OR REPLACE INTO readings "
                                                        "(path, size, mtime_ns, reader_version, route, record, seen) "
                                                        "VALUES (?, ?, ?, ?, ?, ?, ?)"));
    const qint64 now = nowSeconds();
    bool stored = prepared;
    for (auto row = rows.cbegin(); stored && row != rows.cend(); ++row) {
        const IndexedReading& reading = row->second;
        insert.bindValue(0, row->first);
        insert.bindValue(1, reading.size);
        insert.bindValue(2, reading.modifiedNanoseconds);
        insert.bindValue(3, readerVersion);
        insert.bindValue(4, int(reading.route));
        insert.bindValue(
            5, reading.record ? QVariant(encodeRecord(*reading.record)) : QVariant(QMetaType::fromType<QByteArray>()));
        insert.bindValue(6, now);
        stored = insert.exec();
    }
    if (!stored)
        connection.fail(insert.lastError());
    insert.finish();
    if (stored && connection.exec(QStringLiteral("COMMIT")))
        return true;
    connection.exec(QStringLiteral("ROLLBACK"));
    return false;
}

bool MetadataIndex::clear() const
{
    Connection connection(m_databasePath);
    if (!connection.isOpen())
        return false;
    QSqlQuery remove = connection.query();
    if (remove.exec(QStringLiteral("DELETE FROM readings")))
        return true;
    // Another process's write lock passes; a database that cannot be emptied is replaced.
    if (connection.fail(remove.lastError()) == Failure::locked)
        return false;
    remove = QSqlQuery();
    return connection.rebuild();
}

void MetadataIndex::prune() const
{
    Connection connection(m_databasePath);
    if (!connection.isOpen())
        return;
    QStringList gone;
    QSqlQuery old = connection.query();
    old.prepare(QStringLiteral("SELECT path FROM readings WHERE seen < :before"));
    old.bindValue(QStringLiteral(":before"), nowSeconds() - std::chrono::seconds(pruneAfter).count());
    if (!old.exec()) {
        connection.fail(old.lastError());
        return;
    }
    while (old.next()) {
        const QString path = old.value(0).toString();
        struct stat status {
        };
        // Only a file that is surely gone loses its row: an unreadable folder keeps it.
        if (::stat(QFile::encodeName(path).constData(), &status) != 0 && (errno == ENOENT || errno == ENOTDIR))
            gone.append(path);
    }
    if (old.lastError().isValid()) {
        connection.fail(old.lastError());
        return;
    }
    old.finish();
    if (gone.isEmpty())
        return;
    QSqlQuery remove = connection.query();
    remove.prepare(QStringLiteral("DELETE FROM readings WHERE path IN (SELECT value FROM json_each(:paths))"));
    remove.bindValue(QStringLiteral(":paths"), jsonList(gone));
    if (!remove.exec())
        connection.fail(remove.lastError());
}

} // namespace limnoscope
