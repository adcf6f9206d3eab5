#include "DecodeDownsampled.h"
#include "TestFiles.h"
#include "TestImages.h"
#include "TestSandbox.h"
#include "ThumbnailStore.h"

#include <QCryptographicHash>
#include <QFileInfo>
#include <QTest>

#include <sys/stat.h>

using namespace limnoscope;
using namespace limnoscope::test;

// The thumbnails on disk: each case in a sandbox with its own cache, its decodes counted.
class TestThumbnailStore : public QObject
{
    Q_OBJECT

    std::optional<TestSandbox> m_files;
    int m_decodes = 0;

    static QString thumbnails() { return qEnvironmentVariable("XDG_CACHE_HOME") + "/thumbnails"; }
    static QString standardPath(const QString& folder, const QString& file)
    {
        const auto hash = QCryptographicHash::hash(QUrl::fromLocalFile(file).toEncoded(), QCryptographicHash::Md5);
        return thumbnails() + '/' + folder + '/' + hash.toHex() + ".png";
    }
    QImage thumbnail(const QString& path, int size)
    {
        const auto counted = [this](const QUrl& url, int size) { return ++m_decodes, decodeDownsampled(url, size); };
        return ThumbnailStore().cachingDecoder(counted)(QUrl::fromLocalFile(path), size);
    }

private Q_SLOTS:
    void init() { m_files.emplace().isolateHome(), m_decodes = 0; }

    void storesByTheStandard_data()
    {
        QTest::addColumn<int>("imageWidth"); // 0 for a file that is no image
        QTest::addColumn<int>("wanted"); // the decode size the sidebar asks for
        QTest::addColumn<QString>("folder");
        QTest::addColumn<int>("storedWidth");
        QTest::newRow("normal") << 1500 << 128 << "normal" << 128;
        QTest::newRow("just above normal") << 1500 << 129 << "large" << 256;
        QTest::newRow("beyond x-large") << 1500 << 1400 << "xx-large" << 1024;
        QTest::newRow("small image kept small") << 90 << 300 << "x-large" << 90;
        QTest::newRow("failure") << 0 << 170 << "fail/limnoscope-" LIMNOSCOPE_VERSION << 0;
    }
    void storesByTheStandard()
    {
        QFETCH(int, imageWidth);
        QFETCH(int, wanted);
        QFETCH(QString, folder);
        QFETCH(int, storedWidth);
        const QString path = m_files->filePath("picture.png");
        writeFile(path, imageWidth ? encoded(quadrants(imageWidth, imageWidth * 2 / 3), "png") : "not an image");
        QCOMPARE(thumbnail(path, wanted).width(), std::min(wanted, storedWidth)); // decoded and stored
        QVERIFY(thumbnail(path, wanted).width() == std::min(wanted, storedWidth) && m_decodes == 1); // or not retried
        const QString stored = standardPath(folder, path);
        const QImage written(stored); // its keys: QImageReader::text would cut them at the first colon
        QCOMPARE(imageWidth ? written.width() : 0, storedWidth);
        QCOMPARE(written.text("Thumb::URI"), QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded));
        QCOMPARE(written.text("Thumb::MTime").toLongLong(), QFileInfo(path).lastModified().toSecsSinceEpoch());
        QCOMPARE(written.text("Thumb::Size").toLongLong(), QFileInfo(path).size());
        const auto mode = [](const QString& path) { return int(QFile::permissions(path)); }; // 0x7700 is 0700
        QCOMPARE(QList({ mode(stored), mode(QFileInfo(stored).path()) }), QList({ 0x6600, 0x7700 }));
        writeFile(path, encoded(quadrants(300, 200), "png")); // a changed file is decoded again
        QVERIFY(!thumbnail(path, wanted).isNull() && m_decodes == 2);
    }

    void usesOnlyValidThumbnails_data()
    {
        QTest::addColumn<QString>("kind"); // at the thumbnail's name: another program's "file", or something else
        QTest::addColumn<QStringList>("spoil"); // a key of that file given a wrong value
        QTest::newRow("valid, without size") << "file" << QStringList { "Thumb::Size", "" };
        QTest::newRow("wrong mtime") << "file" << QStringList { "Thumb::MTime", "1" };
        QTest::newRow("wrong size") << "file" << QStringList { "Thumb::Size", "12" };
        QTest::newRow("wrong uri") << "file" << QStringList { "Thumb::URI", "file:///elsewhere.png" };
        QTest::newRow("corrupt PNG") << "garbage" << QStringList();
        QTest::newRow("link to elsewhere") << "link" << QStringList();
        QTest::newRow("FIFO") << "fifo" << QStringList();
        QTest::newRow("size folder is a file, nothing can be stored") << "blocked" << QStringList();
        QTest::newRow("picture inside the thumbnails folder") << "inside" << QStringList();
    }
    void usesOnlyValidThumbnails()
    {
        QFETCH(QString, kind);
        QFETCH(QStringList, spoil);
        const QString path = kind == "inside" ? thumbnails() + "/pictures/picture.png" : m_files->filePath("a.png");
        writeFile(path, encoded(quadrants(600, 400), "png"));
        QImage other = solid(128, 128, Qt::cyan);
        other.setText("Thumb::URI", QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded));
        other.setText("Thumb::MTime", QString::number(QFileInfo(path).lastModified().toSecsSinceEpoch()));
        other.setText("Thumb::Size", QString::number(QFileInfo(path).size()));
        other.setText(spoil.value(0), spoil.value(1));
        const QString stored = standardPath("normal", path);
        writeFile(kind == "blocked" ? thumbnails() + "/normal" : stored,
            kind == "garbage" ? QByteArray("\x89PNG broken") : encoded(other, "png"));
        QVERIFY(kind != "link" || (QFile::rename(stored, path + "~") && QFile::link(path + "~", stored)));
        QVERIFY(kind != "fifo" || (QFile::remove(stored) && ::mkfifo(QFile::encodeName(stored), 0600) == 0));
        const bool used = kind == "file" && spoil.value(1).isEmpty();
        QVERIFY(isNear(thumbnail(path, 100).pixelColor(10, 10), used ? Qt::cyan : Qt::red, 8));
        QCOMPARE(m_decodes, used ? 0 : 1);
        QCOMPARE(isNear(QImage(stored).pixelColor(10, 10), Qt::cyan, 8), used || kind == "inside"); // stale: replaced
    }
};

QTEST_GUILESS_MAIN(TestThumbnailStore)
#include "tst_ThumbnailStore.moc"
