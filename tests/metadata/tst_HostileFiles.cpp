#include "ExiftoolRunner.h"
#include "MetadataExtraction.h"
#include "MetadataParser.h"
#include "PNGTextReader.h"
#include "TestFiles.h"

#include <QBuffer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <cstdio>
#include <fcntl.h>
#include <thread>
#include <unistd.h>

using namespace limnoscope;
using namespace limnoscope::test;

namespace {

constexpr qint64 readBoundMs = 10'000; // per hostile file, however it is built
constexpr std::chrono::milliseconds exiftoolTimeout { 5000 };
constexpr int shrinkRounds = 200; // reads of a file another thread keeps cutting and restoring
constexpr qsizetype rewrittenTailBytes = 64 * 1024; // the part of it that is cut

const QByteArray sampleText = sampleLimnoraText().toLatin1();

template <std::size_t N> QByteArray literal(const char (&text)[N])
{
    return QByteArray(text, qsizetype(N - 1));
}

// A JPEG whose APP1 XMP segment holds `packet` (at most 65,502 bytes).
QByteArray jpegWithXMP(const QByteArray& packet)
{
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    QImage image(8, 8, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    image.save(&buffer, "JPEG");
    const QByteArray payload = QByteArray("http://ns.adobe.com/xap/1.0/", 29) + packet;
    const int length = int(payload.size()) + 2;
    Q_ASSERT(length <= 0xffff);
    const QByteArray segment = QByteArray("\xff\xe1") + char(length >> 8) + char(length & 0xff) + payload;
    return jpeg.left(2) + segment + jpeg.mid(2);
}

QByteArray nestedElements(int depth)
{
    return QByteArray("<lim:a>").repeated(depth) + QByteArray("</lim:a>").repeated(depth);
}

} // namespace

// Damaged, oversized and oddly named image files: no reader crashes, hangs or grows without
// bound, and each gives its text when it can or nothing.
class HostileFiles : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;

private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }
    void init() { setExiftoolDisabled(true); }
    void cleanup() { setExiftoolDisabled(false); }

    void pngChunks_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<std::optional<QString>>("expected");
        const auto nothing = std::optional<QString>();
        const auto found = std::optional<QString>(QString::fromLatin1(sampleText));

        QTest::newRow("text chunk declares 9,999,999 bytes, file ends early")
            << PNGChunkWriter().chunk("tEXt", literal("Description\0abc"), 9'999'999).bytes() << nothing;
        QTest::newRow("4 GB length on a chunk before the text")
            << PNGChunkWriter().chunk("abCd", "", 0xffffffff).tEXt("Description", sampleText).bytes() << nothing;
        QTest::newRow("4 GB length on the text chunk")
            << PNGChunkWriter().chunk("tEXt", literal("Description\0") + sampleText, 0xffffffff).bytes() << nothing;
        QTest::newRow("2 GB length on the text chunk")
            << PNGChunkWriter().chunk("iTXt", literal("Description\0\0\0\0\0x"), 0x80000000).bytes() << nothing;
        PNGChunkWriter tinyChunks;
        for (int i = 0; i < 100'000; ++i)
            tinyChunks.chunk("abCd", "");
        QTest::newRow("100,000 tiny chunks before the text")
            << tinyChunks.tEXt("Description", sampleText).tinyImageData().end().bytes() << found;
        PNGChunkWriter otherTexts;
        for (int i = 0; i < 10'000; ++i)
            otherTexts.tEXt("k", "v").zTXt("Comment", "z");
        QTest::newRow("20,000 text chunks that are not metadata")
            << otherTexts.tEXt("Description", sampleText).bytes() << found;
        QTest::newRow("compressed iTXt that inflates to 100 MB")
            << PNGChunkWriter()
                   .chunk("iTXt",
                       literal("Description\0\1\0\0\0") + PNGChunkWriter::zlibCompress(QByteArray(100'000'000, 'a')))
                   .bytes()
            << nothing;
    }

    void pngChunks()
    {
        QFETCH(QByteArray, bytes);
        const QString path = m_dir.filePath(QStringLiteral("chunks-%1.png").arg(QTest::currentDataTag()));
        writeFile(path, bytes);
        QElapsedTimer clock;
        clock.start();
        QTEST(readPNGTextMetadata(path), "expected");
        QTEST(extractMetadataText(QUrl::fromLocalFile(path)), "expected");
        QVERIFY2(clock.elapsed() < readBoundMs, qPrintable(QString::number(clock.elapsed())));
    }

    // A settings line with 200,000 keys is read in linear time.
    void manySettingsKeys()
    {
        QString small = QStringLiteral("p\nSteps: 1");
        for (int i = 0; i < 20'000; ++i)
            small += QStringLiteral(", K%1: %1").arg(i);
        QString large = small;
        for (int i = 20'000; i < 200'000; ++i)
            large += QStringLiteral(", K%1: %1").arg(i);
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(parseMetadataText(small).settings.size(), 20'001);
        const qint64 smallMs = std::max<qint64>(clock.restart(), 1);
        const LimnoraMetadata largeRecord = parseMetadataText(large);
        const qint64 largeMs = clock.elapsed();
        QCOMPARE(largeRecord.settings.size(), 200'001);
        QCOMPARE(largeRecord.settings.value(QStringLiteral("K199999")), QStringLiteral("199999"));
        QVERIFY2(largeMs < 30 * smallMs + 500, qPrintable(QStringLiteral("%1 ms vs %2 ms").arg(largeMs).arg(smallMs)));
    }

    void nestedXMP_data()
    {
        QTest::addColumn<QByteArray>("properties");
        QTest::newRow("4,000 nested elements") << nestedElements(4'000);
        QTest::newRow("4,000 nested elements inside the description")
            << "<dc:description>" + nestedElements(4'000) + "</dc:description>";
        QTest::newRow("nested descriptions") << QByteArray("<dc:description><rdf:Alt><rdf:li>").repeated(1'800);
    }

    void nestedXMP()
    {
        QFETCH(QByteArray, properties);
        const QByteArray jpeg = jpegWithXMP(xmpPacket(properties));
        QVERIFY(jpeg.size() > 50'000);
        const QString path = m_dir.filePath(QStringLiteral("nested-%1.jpg").arg(QTest::currentDataTag()));
        writeFile(path, jpeg);
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(extractMetadataText(QUrl::fromLocalFile(path)), std::nullopt);
        QVERIFY2(clock.elapsed() < readBoundMs, qPrintable(QString::number(clock.elapsed())));

        // exiftool may recurse for half a minute: the runner's timeout bounds it.
        setExiftoolDisabled(false);
        setExiftoolTimeouts(exiftoolTimeout, exiftoolTimeout);
        clock.restart();
        const std::optional<QString> text = readDescriptionWithExiftool(QUrl::fromLocalFile(path));
        const qint64 exiftoolMs = clock.elapsed();
        setExiftoolTimeouts(exiftoolSingleFileTimeout, exiftoolBatchTimeoutCap);
        QCOMPARE(text, std::nullopt);
        QVERIFY2(exiftoolMs < exiftoolTimeout.count() + readBoundMs, qPrintable(QString::number(exiftoolMs)));
    }

    void shrinkingFile_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("extension");
        QTest::newRow("png") << PNGChunkWriter()
                                    .chunk("abCd", QByteArray(1 << 20, 'x'))
                                    .tEXt("Description", sampleText)
                                    .tinyImageData()
                                    .end()
                                    .bytes()
                             << "png";
        QTest::newRow("jpeg with XMP") << jpegWithXMP(xmpPacket("<dc:description>" + sampleText + "</dc:description>")
            + QByteArray(30'000, ' ')) << "jpg";
    }

    // Another thread rewrites the file while it is read: every read gives the whole text or nothing.
    void shrinkingFile()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, extension);
        const QString path = m_dir.filePath(QStringLiteral("shrinking.") + extension);
        writeFile(path, bytes);
        const QByteArray encodedPath = QFile::encodeName(path);

        std::atomic_bool stop = false;
        std::thread writer([&] {
            const int fd = ::open(encodedPath.constData(), O_WRONLY);
            const qsizetype span = std::min<qsizetype>(bytes.size() - 1, rewrittenTailBytes);
            for (qsizetype step = 1; !stop; ++step) {
                const qsizetype cut = bytes.size() - 1 - (step * 7919) % span;
                [[maybe_unused]] const int truncated = ::ftruncate(fd, off_t(cut));
                [[maybe_unused]] const ssize_t written
                    = ::pwrite(fd, bytes.constData() + cut, size_t(bytes.size() - cut), off_t(cut));
            }
            ::close(fd);
        });
        const QString expected = parseMetadataText(QString::fromLatin1(sampleText)).prompt;
        int found = 0;
        for (int round = 0; round < shrinkRounds; ++round) {
            if (const auto record = readImageMetadata(QUrl::fromLocalFile(path))) {
                QCOMPARE(record->prompt, expected);
                ++found;
            }
        }
        stop = true;
        writer.join();
        qInfo("%d of %d reads found the text", found, shrinkRounds);
    }

    void awkwardNames_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("newline") << "new\nline.png";
        QTest::newRow("quotes") << "it's \"quoted\".png";
        QTest::newRow("leading dash") << "-json.png";
        QTest::newRow("option with value") << "-execute.png";
        QTest::newRow("shell substitution") << "$(touch pwned) `touch pwned`.png";
        QTest::newRow("non-ASCII") << "湖 ☂ é.png";
    }

    // Names pass unchanged to exiftool on both routes and to the in-process readers.
    void awkwardNames()
    {
        QFETCH(QString, name);
        setExiftoolDisabled(false);
        const QString folder = m_dir.filePath(QStringLiteral("names-%1").arg(QTest::currentDataTag()));
        const QString path = folder + u'/' + name;
        writeFile(path, pngWithDescription(sampleText));
        const QUrl url = QUrl::fromLocalFile(path);
        const QString text = QString::fromLatin1(sampleText);

        QCOMPARE(readPNGTextMetadata(path), text);
        QCOMPARE(readDescriptionWithExiftool(url), text.trimmed());
        QCOMPARE(readBatchWithExiftool({ url }).value(url), text);
        QCOMPARE(QDir(folder).entryList(QDir::Files), QStringList { name });
        QVERIFY(!QFileInfo::exists(QDir::current().filePath(QStringLiteral("pwned"))));
        QVERIFY(!QFileInfo::exists(folder + QStringLiteral("/pwned")));
    }

    // A name that is not UTF-8 is left out of Qt's listing; asked for anyway it has no text, and its
    // neighbours lose nothing.
    void invalidUTF8Name()
    {
        setExiftoolDisabled(false);
        const QString folder = m_dir.filePath(QStringLiteral("invalid-utf8"));
        writeFile(folder + "/good.png", pngWithDescription(sampleText));
        writeFile(folder + "/bad", pngWithDescription(sampleText));
        const QByteArray badName = QFile::encodeName(folder) + "/bad\xff\xfe name.png";
        QCOMPARE(::rename(QFile::encodeName(folder + "/bad").constData(), badName.constData()), 0);
        const QUrl good = QUrl::fromLocalFile(folder + "/good.png");
        QCOMPARE(QDir(folder).entryList(QDir::Files), QStringList { "good.png" });
        const QList<QUrl> urls { good, QUrl::fromLocalFile(QFile::decodeName(badName)) };

        QCOMPARE(readBatchWithExiftool(urls).value(good), QString::fromLatin1(sampleText));
        QHash<QUrl, bool> hasText;
        readFolderMetadata(urls, [&](const QList<ImageMetadataResult>& results) {
            for (const ImageMetadataResult& result : results)
                hasText.insert(result.url, result.metadata.has_value());
        });
        QVERIFY(hasText.value(good));
        QVERIFY(!hasText.value(urls.last()));
        QVERIFY(!readImageMetadata(urls.last()));
        QCOMPARE(::unlink(badName.constData()), 0);
    }
};

QTEST_GUILESS_MAIN(HostileFiles)
#include "tst_HostileFiles.moc"
