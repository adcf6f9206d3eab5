#include "ModelFixtures.h"

#include "FileStamp.h"
#include "MetadataIndex.h"

#include <QDir>
#include <QScopeGuard>
#include <QSignalSpy>

#include <fcntl.h>
#include <sys/stat.h>

using namespace limnoscope;
using namespace limnoscope::test;

namespace {

QString seeds(const ImageBrowserModel& model, const TestSandbox& dir, const QStringList& names)
{
    QString joined;
    for (const QString& name : names)
        joined += cachedSeed(model, dir.url(name));
    return joined;
}

// Gives the file at `path` the modification time of `stamp`, to the nanosecond.
void setModified(const QString& path, const FileStamp& stamp)
{
    const timespec times[2] = { { 0, UTIME_OMIT },
        { time_t(stamp.modifiedNanoseconds / 1'000'000'000), long(stamp.modifiedNanoseconds % 1'000'000'000) } };
    QVERIFY(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0) == 0);
}

// A stand-in exiftool whose batches find `description` for a.png alone, after running `first`.
QByteArray exiftoolDescribingA(const QByteArray& description, const QByteArray& first = {})
{
    return fakeExiftool(":",
        first
            + "for f; do case $f in */a.png) a=$f;; esac; done\n"
              "printf '[{\"SourceFile\": \"%s\", \"Description\": \""
            + description + "\"}]' \"$a\"");
}

// Lets exiftool run from `resources` until the returned guard goes.
auto useExiftoolIn(const QString& resources)
{
    setResourcesDirectory(resources);
    setExiftoolDisabled(false);
    return qScopeGuard([] {
        setExiftoolDisabled(true);
        setResourcesDirectory(QString());
    });
}

} // namespace

// The persistent index behind the prefetch, and the exiftool pass after the in-process one.
class TestPrefetchIndex : public ModelSuite
{
    Q_OBJECT

private slots:
    void cleanup()
    {
        const QString folder = QFileInfo(MetadataIndex::defaultPath()).path();
        QFile::remove(folder);
        QDir(folder).removeRecursively();
    }

    // A folder opened again is served from the index where a file's size and time are unchanged
    // (other content written under the same stamp is not read), and read where they changed;
    // after the index is cleared every file is read again.
    void reopenServesTheIndexUntilAFileChanges()
    {
        TestSandbox dir;
        const QStringList names = { "a.png", "b.png", "c.png" };
        dir.writeImages(names);
        {
            ImageBrowserModel model;
            QVERIFY(openAndRead(model, dir.path()));
        }
        const FileStamp before = *FileStamp::of(dir.filePath("a.png"));
        dir.writeImages({ "a.png" }, 7);
        setModified(dir.filePath("a.png"), before);
        QCOMPARE(*FileStamp::of(dir.filePath("a.png")), before);
        dir.writeImages({ "b.png" }, 8);

        ImageBrowserModel model;
        QVERIFY(openAndRead(model, dir.path()));
        QCOMPARE(seeds(model, dir, names), "183");
        QSignalSpy cleared(&model.metadataPrefetcher(), &MetadataPrefetcher::indexCleared);
        model.clearMetadataIndex();
        QVERIFY(cleared.wait(asyncTimeoutMs));
        QCOMPARE(cleared.first().first().toBool(), true);
        ImageBrowserModel again;
        QVERIFY(openAndRead(again, dir.path()));
        QCOMPARE(seeds(again, dir, names), "783");
    }

    // A ComfyUI graph is too long to keep for every image of a folder: the image on screen has its
    // raw texts read again, and that reading takes the cache entry's place.
    void longRawTextsAreReadAgainForTheImageOnScreen()
    {
        TestSandbox dir;
        QVERIFY(QFile::copy(sourceTreeRoot() + "/tests/data/realworld/comfyui-img2img.png", dir.filePath("a.png")));
        dir.writeImages({ "b.png" });
        for (int open = 0; open < 2; ++open) { // read, then served from the index
            ImageBrowserModel model;
            std::optional<LimnoraMetadata> prefetched;
            connect(&model.metadataPrefetcher(), &MetadataPrefetcher::entryStored, this,
                [&](const QUrl& url, const CacheEntry& entry, bool fromPrefetch) {
                    if (fromPrefetch && url == dir.url("a.png"))
                        prefetched = entry.metadata();
                });
            QVERIFY(openAndRead(model, dir.path()));
            QVERIFY(prefetched && prefetched->rawTextsLeftOut && prefetched->rawTexts.isEmpty());
            QCOMPARE(model.currentImageURL(), dir.url("a.png"));
            QTRY_VERIFY_WITH_TIMEOUT(
                model.currentMetadata() && !model.currentMetadata()->rawTexts.isEmpty(), asyncTimeoutMs);
            QCOMPARE(model.currentMetadata()->generator, "ComfyUI");
            QVERIFY(!model.metadataCache().value(dir.url("a.png"), CacheEntry({}, {})).metadata()->rawTextsLeftOut);
        }
    }

    // The image on screen has its left-out raw texts read again without losing what the exiftool
    // pass found and the in-process readers cannot (here a prompt beside a text no reader takes).
    void rawTextsReadAgainKeepTheExiftoolReading()
    {
        TestSandbox dir;
        QVERIFY(PNGChunkWriter()
                    .tEXt("workflow", "not a graph " + QByteArray(5000, 'x'))
                    .tinyImageData()
                    .end()
                    .writeTo(dir.filePath("a.png")));
        TestSandbox resources;
        installFakeExiftool(resources.path(), exiftoolDescribingA("a fox at dusk"));
        const auto restore = useExiftoolIn(resources.path());
        ImageBrowserModel model;
        QVERIFY(openAndRead(model, dir.path()));
        QTRY_VERIFY_WITH_TIMEOUT(model.metadataPrefetcher().exiftoolPassBacklog() == 0
                && !model.metadataPrefetcher().isExiftoolPassRunning(),
            asyncTimeoutMs);
        const auto prompt = [&model] { return model.currentMetadata().value_or(LimnoraMetadata {}).prompt; };
        QTRY_COMPARE_WITH_TIMEOUT(prompt(), "a fox at dusk", asyncTimeoutMs);
        QTRY_VERIFY_WITH_TIMEOUT(!model.currentMetadata()->rawTexts.isEmpty(), asyncTimeoutMs);
        QTest::qWait(staleResultGraceMs);
        QCOMPARE(prompt(), "a fox at dusk");
        QCOMPARE(model.currentMetadata()->rawTexts.first().text.size(), 5012);
    }

    void unusableIndexIsNoFailure_data()
    {
        QTest::addColumn<QString>("damage");
        QTest::newRow("its folder is a file") << "folder";
        QTest::newRow("the database is garbage") << "garbage";
    }

    void unusableIndexIsNoFailure()
    {
        QFETCH(QString, damage);
        const QString database = MetadataIndex::defaultPath();
        if (damage == "folder")
            writeFile(QFileInfo(database).path(), "not a folder");
        else
            writeFile(database, QByteArray(8192, '\x5a'));
        TestSandbox dir;
        dir.writeImages({ "a.png", "b.png" });
        for (int open = 0; open < 2; ++open) {
            ImageBrowserModel model;
            QVERIFY(openAndRead(model, dir.path()));
            QCOMPARE(seeds(model, dir, { "a.png", "b.png" }), "12");
        }
    }

    // The pass runs exiftool at the lowest priority, replaces the reading it found a text for,
    // keeps the others, and its result is stored: a reopen asks exiftool nothing more.
    void exiftoolPassReplacesOnlyWhereItFoundAText()
    {
        TestSandbox dir;
        dir.writeImages({ "a.png", "b.png" });
        TestSandbox resources;
        installFakeExiftool(resources.path(),
            exiftoolDescribingA("from exiftool\\\\nSteps: 5, Seed: 99", "nice >> \"$(dirname \"$0\")/runs\"\n"));
        const auto restore = useExiftoolIn(resources.path());
        for (int open = 0; open < 2; ++open) {
            ImageBrowserModel model;
            QVERIFY(openAndRead(model, dir.path()));
            QTRY_VERIFY_WITH_TIMEOUT(model.metadataPrefetcher().exiftoolPassBacklog() == 0
                    && !model.metadataPrefetcher().isExiftoolPassRunning(),
                asyncTimeoutMs);
            QTRY_COMPARE_WITH_TIMEOUT(seeds(model, dir, { "a.png", "b.png" }), "992", asyncTimeoutMs);
        }
        QFile runs(resources.filePath("runs"));
        QVERIFY(runs.open(QIODevice::ReadOnly));
        QCOMPARE(runs.readAll(), QByteArray::number(exiftoolBatchNiceness) + '\n');
    }
};

QTEST_GUILESS_MAIN(TestPrefetchIndex)
#include "tst_PrefetchIndex.moc"
