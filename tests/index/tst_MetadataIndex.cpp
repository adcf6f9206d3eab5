#include "MetadataIndex.h"
#include "RecordEncoding.h"
#include "TestFiles.h"
#include "TestSandbox.h"

#include <QCoreApplication>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTest>

#include <unistd.h>

using namespace limnoscope;

namespace {

LimnoraMetadata richRecord(std::optional<double> renderDuration)
{
    LimnoraMetadata record;
    record.prompt = QStringLiteral("a lake at dawn, «mist», 🌅");
    record.negativePrompt = QStringLiteral("blurry\nlow quality");
    record.settings.insert(QStringLiteral("Steps"), QStringLiteral("30"));
    record.settings.insert(QStringLiteral("Sampler"), QStringLiteral("DPM++ 2M"));
    record.settings.insert(QStringLiteral("Empty"), QString());
    record.loras = { { QUuid::createUuid(), QStringLiteral("water.safetensors"), 0.65, QStringLiteral("all") },
        { QUuid::createUuid(), QStringLiteral("fog"), -1.5e-3, QStringLiteral("unet") } };
    record.rawSettingsString = QStringLiteral("Steps: 30, Sampler: DPM++ 2M, Empty: ");
    record.renderDuration = renderDuration;
    record.generator = QStringLiteral("A1111 / Forge");
    record.rawTextsLeftOut = true;
    record.rawTexts = { { QStringLiteral("parameters"), QStringLiteral("a lake\nSteps: 30") },
        { QStringLiteral("Sidecar"), QString() } };
    return record;
}

IndexedReading reading(std::optional<LimnoraMetadata> record = LimnoraMetadata {})
{
    return { 1234, 1'700'000'000'123'456'789, std::move(record), ReadingRoute::exiftoolBatch };
}

// Runs one statement on the database outside the index, as another program would.
bool execSql(const QString& databasePath, const QString& statement)
{
    bool done = false;
    {
        QSqlDatabase database = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("test"));
        database.setDatabaseName(databasePath);
        done = database.open() && QSqlQuery(database).exec(statement);
    }
    QSqlDatabase::removeDatabase(QStringLiteral("test"));
    return done;
}

// Stores rows below `prefix` in many transactions, reading one back after each: what each of
// the two processes of twoProcessesAtOnce does.
int writeRows(const QString& databasePath, const QString& prefix, int batches)
{
    MetadataIndex index(databasePath);
    for (int batch = 0; batch < batches; ++batch) {
        QList<QPair<QString, IndexedReading>> rows;
        for (int i = 0; i < 100; ++i)
            rows.append({ prefix + QString::number(batch * 100 + i), reading(richRecord(1.5)) });
        if (!index.store(rows) || index.lookup({ rows.first().first }).size() != 1)
            return 1;
    }
    return 0;
}

} // namespace

class MetadataIndexTest : public QObject
{
    Q_OBJECT

private:
    test::TestSandbox m_sandbox;
    QString databasePath() const
    {
        return m_sandbox.filePath(QString::fromLatin1(QTest::currentTestFunction()) + ".sqlite");
    }

private slots:
    void initTestCase() { m_sandbox.isolateHome(); }

    void roundTrip_data()
    {
        QTest::addColumn<std::optional<LimnoraMetadata>>("record");
        QTest::newRow("every field") << std::optional(richRecord(12.25));
        QTest::newRow("no render time") << std::optional(richRecord(std::nullopt));
        QTest::newRow("empty record") << std::optional(LimnoraMetadata {});
        QTest::newRow("no metadata") << std::optional<LimnoraMetadata>();
    }
    void roundTrip()
    {
        QFETCH(std::optional<LimnoraMetadata>, record);
        const QString path = m_sandbox.filePath(QString::fromUtf8(QTest::currentDataTag()));
        QVERIFY(MetadataIndex(databasePath()).store({ { path, reading(record) } }));
        const auto found = MetadataIndex(databasePath()).lookup({ path, path + "-missing" });
        QCOMPARE(found.keys(), QList { path });
        QCOMPARE(found[path].size, reading().size);
        QCOMPARE(found[path].modifiedNanoseconds, reading().modifiedNanoseconds);
        QCOMPARE(found[path].route, ReadingRoute::exiftoolBatch);
        QVERIFY(sameRecord(found[path].record, record));
    }

    void malformedRecordsDecodeToNothing_data()
    {
        const QByteArray valid = encodeRecord(richRecord(3.0));
        QByteArray otherFormat = valid;
        otherFormat[1] = char(recordFormat + 1);
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("garbage") << QByteArray("\xff\x00\x13garbage", 10);
        QTest::newRow("last byte cut") << valid.chopped(1);
        QTest::newRow("half cut") << valid.left(valid.size() / 2);
        QTest::newRow("trailing byte") << valid + '\0';
        QTest::newRow("other format") << otherFormat;
        // An array of nine whose prompt claims 2^62 bytes.
        QTest::newRow("lying length") << QByteArray("\x89\x01\x7b\x40\x00\x00\x00\x00\x00\x00\x00xyz", 14);
        QTest::newRow("map") << QByteArray("\xa1\x01\x02", 3);
    }
    void malformedRecordsDecodeToNothing()
    {
        QFETCH(QByteArray, bytes);
        QVERIFY(!decodeRecord(bytes));
    }

    void lookupFindsExactlyTheRowsAskedFor()
    {
        // Enough paths in one folder for one scan of its range, with neighbours on either side;
        // settings with the same keys in one or the other order, some with one more.
        const QString folder = m_sandbox.filePath(QStringLiteral("földer 🌊"));
        QStringList asked;
        QList<QPair<QString, IndexedReading>> rows;
        for (int i = 0; i < 100; ++i) {
            LimnoraMetadata record;
            const QStringList keys = i % 3 ? QStringList { "Steps", "Seed" } : QStringList { "Seed", "Steps" };
            for (const QString& key : keys + (i % 5 ? QStringList() : QStringList { "Extra" }))
                record.settings.insert(key, key == "Seed" ? QString::number(i) : key);
            rows.append({ folder + QStringLiteral("/%1.png").arg(i), reading(record) });
        }
        for (const char* neighbour : { "/sub/1.png", "-x/1.png", "0/1.png", "/2.png.x" })
            rows.append({ folder + neighbour, reading() });
        for (int i = 0; i < 100; i += 2)
            asked << rows[i].first << folder + QStringLiteral("/gone%1.png").arg(i);
        asked << folder + "/sub/1.png";
        MetadataIndex index(databasePath());
        QVERIFY(index.store(rows));
        const auto found = index.lookup(asked);
        QCOMPARE(found.size(), 51);
        for (int i = 0; i < 100; i += 2)
            QCOMPARE(found.value(rows[i].first).record->settings.entries(), rows[i].second.record->settings.entries());
        QVERIFY(found.contains(folder + "/sub/1.png"));
    }

    void corruptDatabaseIsRebuilt()
    {
        MetadataIndex index(databasePath());
        QVERIFY(index.store({ { "/a.png", reading() } }));
        test::writeFile(databasePath(), QByteArray(8192, '\x5a'));
        QVERIFY(index.lookup({ "/a.png" }).isEmpty());
        QVERIFY(index.store({ { "/b.png", reading() } }));
        QCOMPARE(index.lookup({ "/a.png", "/b.png" }).keys(), QList<QString> { "/b.png" });
    }

    void readOnlyFolderStoresNothing()
    {
        const QString folder = m_sandbox.filePath(QStringLiteral("read-only"));
        QVERIFY(QDir().mkpath(folder));
        QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner));
        if (::access(QFile::encodeName(folder).constData(), W_OK) == 0)
            QSKIP("this user can write into any folder");
        MetadataIndex index(folder + "/index.sqlite");
        QVERIFY(!index.store({ { "/a.png", reading() } }));
        QVERIFY(index.lookup({ "/a.png" }).isEmpty());
        QVERIFY(!index.clear());
    }

    void otherReaderVersionIsAbsent()
    {
        MetadataIndex index(databasePath());
        QVERIFY(index.store({ { "/a.png", reading() }, { "/b.png", reading() } }));
        QVERIFY(execSql(databasePath(),
            QStringLiteral("UPDATE readings SET reader_version = %1 WHERE path = '/a.png'")
                .arg(MetadataIndex::readerVersion + 1)));
        QCOMPARE(index.lookup({ "/a.png", "/b.png" }).keys(), QList<QString> { "/b.png" });
    }

    void twoProcessesAtOnce()
    {
        QProcess other;
        other.start(QCoreApplication::applicationFilePath(), { "--write-rows", databasePath(), "/other/" });
        MetadataIndex index(databasePath());
        QTRY_VERIFY_WITH_TIMEOUT(index.lookup({ "/other/0" }).size() == 1, test::asyncTimeoutMs);
        QCOMPARE(writeRows(databasePath(), "/this/", 40), 0);
        QVERIFY(other.waitForFinished(60'000));
        QCOMPARE(other.exitCode(), 0);
        QCOMPARE(index.lookup({ "/this/3999", "/other/9999", "/other/0" }).size(), 3);
    }

    void prune_data()
    {
        QTest::addColumn<bool>("fileExists");
        QTest::addColumn<int>("daysUnseen");
        QTest::addColumn<bool>("lookedUpSince");
        QTest::addColumn<bool>("kept");
        QTest::newRow("gone, unseen long") << false << 31 << false << false;
        QTest::newRow("present, unseen long") << true << 31 << false << true;
        QTest::newRow("gone, seen lately") << false << 29 << false << true;
        QTest::newRow("gone, looked up since") << false << 31 << true << true;
    }
    void prune()
    {
        QFETCH(bool, fileExists);
        QFETCH(int, daysUnseen);
        QFETCH(bool, lookedUpSince);
        QFETCH(bool, kept);
        const QString path = m_sandbox.filePath(QStringLiteral("image.png"));
        QFile::remove(path);
        if (fileExists)
            test::writeFile(path, "x");
        MetadataIndex index(databasePath());
        QVERIFY(index.clear());
        QVERIFY(index.store({ { path, reading() } }));
        QVERIFY(
            execSql(databasePath(), QStringLiteral("UPDATE readings SET seen = seen - %1").arg(daysUnseen * 86400)));
        if (lookedUpSince)
            QCOMPARE(index.lookup({ path }).size(), 1);
        index.prune();
        QCOMPARE(index.lookup({ path }).size(), kept ? 1 : 0);
    }

    void clearEmptiesThePrivateDefaultIndex()
    {
        MetadataIndex index;
        QVERIFY(index.databasePath().startsWith(m_sandbox.path()));
        QVERIFY(index.store({ { "/a.png", reading() } }));
        QCOMPARE(QFileInfo(QFileInfo(index.databasePath()).path()).permissions() & 0x0077, 0);
        QVERIFY(index.clear());
        QVERIFY(index.lookup({ "/a.png" }).isEmpty());
    }
};

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc == 4 && qstrcmp(argv[1], "--write-rows") == 0)
        return writeRows(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]), 100);
    MetadataIndexTest suite;
    return QTest::qExec(&suite, argc, argv);
}

#include "tst_MetadataIndex.moc"
