#include "ExiftoolRunner.h"
#include "MetadataBlocks.h"
#include "MetadataExtraction.h"
#include "MetadataParser.h"
#include "PNGTextReader.h"
#include "TestFiles.h"
#include "XMPPacket.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QProcess>
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

const QString none = QStringLiteral("<nothing>");

constexpr qint64 readBoundMs = 10'000; // per hostile file, however it is built
constexpr std::chrono::milliseconds exiftoolTimeout { 5000 };
constexpr int shrinkRounds = 200; // reads of a file another thread keeps cutting and restoring
constexpr qsizetype rewrittenTailBytes = 64 * 1024; // the part of it that is cut

const QByteArray sampleText = sampleLimnoraText().toLatin1();

QByteArray nestedElements(int depth)
{
    return QByteArray("<lim:a>").repeated(depth) + QByteArray("</lim:a>").repeated(depth);
}

} // namespace

// Where each image kind keeps its text; damaged, oversized and oddly named files end quickly,
// without a crash or unbounded memory, with their text or nothing.
class TestMetadataExtraction : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;

    // A file of `extension` under a fresh name in the temporary folder.
    QString newPath(const char* extension)
    {
        static int number = 0;
        return m_dir.filePath(QStringLiteral("f%1.%2").arg(++number).arg(QLatin1String(extension)));
    }
    QString jpegWithXMP(const QByteArray& properties, const char* format = "JPEG", const char* extension = "jpg")
    {
        const QString path = newPath(extension);
        writeImage(path, format);
        writeFile(path + ".xmp", xmpPacket(properties));
        runExiftool({ "-xmp<=" + path + ".xmp", path });
        return path;
    }
    QString withExif(const QString& path, const QString& tag = QStringLiteral("-EXIF:ImageDescription=exif text"))
    {
        runExiftool({ tag, path });
        return path;
    }
    QString pngBytes(const QByteArray& bytes, const char* extension = "png")
    {
        const QString path = newPath(extension);
        writeFile(path, bytes);
        return path;
    }

private slots:
    void init() { setExiftoolDisabled(true); }
    void cleanup() { setExiftoolDisabled(false); }

    void sources_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("expected");
        QImage pixels(4, 4, QImage::Format_RGB32);
        pixels.fill(Qt::red);
        const QByteArray zipped = PNGChunkWriter(4, 4).zTXt("Description", "zipped").imageData(pixels).end().bytes();
        const QByteArray plain = "<dc:description>plain xmp</dc:description>";
        QTest::newRow("chunk text comes before the EXIF description")
            << withExif(pngBytes(pngWithDescription("chunk text"))) << "chunk text";
        QTest::newRow("TIFF description before the PNG description") << withExif(pngBytes(zipped)) << "exif text";
        QTest::newRow("compressed PNG description through the image reader") << pngBytes(zipped) << "zipped";
        // Only the chunk reader understands a "parameters" chunk.
        QTest::newRow("capital extension uses the chunk reader")
            << pngBytes(PNGChunkWriter().tEXt("parameters", R"({"prompt": "p"})").tinyImageData().end().bytes(), "PNG")
            << R"({"prompt": "p"})";
        QTest::newRow("white space is returned") << pngBytes(pngWithDescription("   ")) << "   ";
        QString jpeg = newPath("jpg");
        writeImage(jpeg, "JPEG");
        QTest::newRow("JPEG EXIF description") << withExif(jpeg, "-EXIF:ImageDescription=jpeg exif") << "jpeg exif";
        QTest::newRow("XMP plain string") << jpegWithXMP(plain) << "plain xmp";
        const QString alternative = jpegWithXMP(
            "<dc:description><rdf:Alt><rdf:li xml:lang='x-default'>alt xmp</rdf:li></rdf:Alt></dc:description>");
        QTest::newRow("XMP language alternative is not taken") << alternative << none;
        QTest::newRow("exiftool first: it reads a language alternative") << alternative << "alt xmp";
        QTest::newRow("first top-level description tag")
            << jpegWithXMP("<lim:title>no</lim:title><lim:PromptDescription>own tag</lim:PromptDescription>" + plain)
            << "own tag";
        QTest::newRow("WebP XMP") << jpegWithXMP(plain, "WEBP", "webp") << "plain xmp";
        const QString tiff = newPath("tif");
        writeImage(tiff, "TIFF");
        QTest::newRow("TIFF") << withExif(tiff, "-ImageDescription=tiff text") << "tiff text";
        const QString heic = newPath("heic");
        pixels.scaled(64, 64).save(heic + ".png");
        QProcess::execute("convert", { heic + ".png", heic });
        QTest::newRow("HEIC EXIF through libheif") << withExif(heic, "-EXIF:ImageDescription=heic text") << "heic text";
        QTest::newRow("text file named .jpg") << pngBytes("just some words, not an image\n", "jpg") << none;
        QTest::newRow("zero-byte file") << pngBytes({}, "jpg") << none;
        jpeg = newPath("jpg");
        writeImage(jpeg, "JPEG", 64, 64);
        QFile::resize(jpeg, 40);
        QTest::newRow("truncated JPEG") << jpeg << none;
        QTest::newRow("missing file") << newPath("missing") << none;
        QVERIFY(QDir(m_dir.path()).mkdir("folder.png"));
        QTest::newRow("folder named .png") << m_dir.filePath("folder.png") << none;
    }

    void sources()
    {
        QFETCH(QString, path);
        setExiftoolDisabled(!QByteArray(QTest::currentDataTag()).startsWith("exiftool"));
        QTEST(extractMetadataText(QUrl::fromLocalFile(path)).value_or(none), "expected");
    }

    void xmpProperties_data()
    {
        QTest::addColumn<QByteArray>("packet");
        QTest::addColumn<QString>("expected"); // namespace:name=value, without "=value" when not a plain string

        QTest::newRow("plain and alternative")
            << xmpPacket("<dc:title>t</dc:title><dc:description><rdf:Alt><rdf:li>x</rdf:li></rdf:Alt></dc:description>")
            << "dc:title=t|dc:description";
        QTest::newRow("structure and resource")
            << xmpPacket("<lim:s rdf:parseType='Resource'><lim:a>1</lim:a></lim:s><lim:r rdf:resource='http://x'/>")
            << "limnora:s|limnora:r";
        QTest::newRow("empty element is an empty string") << xmpPacket("<lim:e/>") << "limnora:e=";
        QTest::newRow("entities decoded") << xmpPacket("<lim:t>a &amp; b &lt;c&gt;</lim:t>") << "limnora:t=a & b <c>";
        const QByteArray attribute = "<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF "
                                     "xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'><rdf:Description "
                                     "xmlns:tiff='http://ns.adobe.com/tiff/1.0/' tiff:ImageDescription='attr'/>"
                                     "</rdf:RDF></x:xmpmeta>";
        QTest::newRow("attribute form") << attribute << "tiff:ImageDescription=attr";
        QTest::newRow("cut in half") << attribute.first(attribute.size() / 2) << "";
    }

    void xmpProperties()
    {
        QFETCH(QByteArray, packet);
        QStringList found;
        for (const XMPProperty& property : readXMPProperties(packet)) {
            // The namespace's first path segment: "dc", "tiff", "limnora".
            const QString name = QUrl(property.namespaceURI).path().section(u'/', 1, 1) + u':' + property.name;
            found.append(property.value ? name + u'=' + *property.value : name);
        }
        QTEST(found.join(u'|'), "expected");
    }

    void chunkWalk_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("expected"); // "chunk reader\timage reader" where they differ

        const QByteArray prompted = R"({"prompt": "cat"})";
        QTest::newRow("Description tEXt")
            << PNGChunkWriter().tEXt("Description", "a cat").tinyImageData().end().bytes() << "a cat";
        QTest::newRow("empty text") << PNGChunkWriter().tEXt("Description", "").end().bytes() << none;
        QTest::newRow("Latin-1 text") << PNGChunkWriter().tEXt("Comment", "caf\xe9").end().bytes()
                                      << QString::fromUtf8("café");
        QTest::newRow("ImageDescription") << PNGChunkWriter().tEXt("ImageDescription", "d").end().bytes() << "d";
        QTest::newRow("keyword is case-sensitive") << PNGChunkWriter().tEXt("description", "d").end().bytes() << none;
        QTest::newRow("Software tEXt") << PNGChunkWriter().tEXt("Software", "Limnora").end().bytes() << "Limnora";
        QTest::newRow("Software iTXt") << PNGChunkWriter().iTXt("Software", "Limnora").end().bytes() << none;
        QTest::newRow("other keyword with quoted prompt")
            << PNGChunkWriter().tEXt("parameters", prompted).end().bytes() << QString::fromLatin1(prompted);
        QTest::newRow("other keyword, bare word prompt")
            << PNGChunkWriter().tEXt("parameters", "prompt: cat").end().bytes() << none;
        QTest::newRow("other keyword as iTXt") << PNGChunkWriter().iTXt("parameters", prompted).end().bytes() << none;
        QTest::newRow("iTXt UTF-8") << PNGChunkWriter().iTXt("Description", "ein Hündchen ✓").end().bytes()
                                    << QString::fromUtf8("ein Hündchen ✓");
        QTest::newRow("iTXt invalid UTF-8")
            << PNGChunkWriter().iTXt("Description", "bad \xff\xfe").end().bytes() << none + u"\tbad \uFFFD\uFFFD"_qs;
        QTest::newRow("iTXt compressed is inflated")
            << PNGChunkWriter().iTXt("Description", "squeezed ✓", true).end().bytes()
            << QString::fromUtf8("squeezed ✓");
        QTest::newRow("iTXt compressed but damaged")
            << PNGChunkWriter().chunk("iTXt", QByteArray("Description\0\x01\x00\0\0garbage", 22)).end().bytes() << none;
        QTest::newRow("iTXt without language terminators")
            << PNGChunkWriter().chunk("iTXt", QByteArray("Description\0\x00\x00text", 18)).end().bytes() << "text";
        QTest::newRow("iTXt with only flags")
            << PNGChunkWriter().chunk("iTXt", QByteArray("Comment\0\x00\x00", 10)).end().bytes() << none;
        QTest::newRow("zTXt is skipped, next chunk found")
            << PNGChunkWriter().zTXt("Description", "hidden").tEXt("Comment", "seen").end().bytes() << "seen";
        QTest::newRow("first metadata chunk wins")
            << PNGChunkWriter().tEXt("Title", "t").tEXt("Comment", "first").tEXt("Description", "second").end().bytes()
            << "first";
        PNGChunkWriter skipped;
        skipped.chunk("pHYs", QByteArray(9, '\1')).chunk("gAMA", "abcd").tEXt("Description", "d").end();
        QTest::newRow("non-text chunks are skipped") << skipped.bytes() << "d";
        QTest::newRow("text after IDAT is never read")
            << PNGChunkWriter().tinyImageData().tEXt("Description", "late").end().bytes() << none + "\tlate";
        QTest::newRow("IEND stops") << PNGChunkWriter().end().tEXt("Description", "late").bytes() << none;
        QTest::newRow("no keyword terminator") << PNGChunkWriter().chunk("tEXt", "Description").end().bytes() << none;
        QTest::newRow("zero-length text chunk stops")
            << PNGChunkWriter().chunk("tEXt", {}).tEXt("Description", "d").end().bytes() << none;
        QTest::newRow("not a PNG signature")
            << QByteArray("GIF89a..").append(PNGChunkWriter().tEXt("Description", "d").bytes().mid(8)) << none;
        const QByteArray largest(maxTextChunkLength - 12, 'a');
        QTest::newRow("largest text chunk")
            << PNGChunkWriter().tEXt("Description", largest).end().bytes() << QString::fromLatin1(largest);
        QTest::newRow("signature only") << QByteArray::fromHex("89504E470D0A1A0A") << none;
        QTest::newRow("empty file") << QByteArray() << none;
        QTest::newRow("non-ASCII chunk type is skipped")
            << PNGChunkWriter().chunk("t\xc5Xt", "Description\0zz").tEXt("Comment", "c").end().bytes() << "c";
        QTest::newRow("text chunk declares 9,999,999 bytes, file ends early")
            << PNGChunkWriter().chunk("tEXt", "Description\0abc"_qba, 9'999'999).bytes() << none;
        QTest::newRow("4 GB length on a chunk before the text")
            << PNGChunkWriter().chunk("abCd", "", 0xffffffff).tEXt("Description", sampleText).bytes() << none;
        QTest::newRow("4 GB length on the text chunk")
            << PNGChunkWriter().chunk("tEXt", "Description\0"_qba + sampleText, 0xffffffff).bytes() << none;
        QTest::newRow("2 GB length on the text chunk")
            << PNGChunkWriter().chunk("iTXt", "Description\0\0\0\0\0x"_qba, 0x80000000).bytes() << none;
        PNGChunkWriter tinyChunks;
        for (int i = 0; i < 100'000; ++i)
            tinyChunks.chunk("abCd", "");
        QTest::newRow("100,000 tiny chunks before the text")
            << tinyChunks.tEXt("Description", sampleText).tinyImageData().end().bytes()
            << QString::fromLatin1(sampleText);
        PNGChunkWriter otherTexts;
        for (int i = 0; i < 10'000; ++i)
            otherTexts.tEXt("k", "v").zTXt("Comment", "z");
        QTest::newRow("20,000 text chunks that are not metadata")
            << otherTexts.tEXt("Description", sampleText).bytes() << QString::fromLatin1(sampleText);
        const QByteArray bomb = "Description\0\1\0\0\0"_qba + PNGChunkWriter::zlibCompress(QByteArray(100'000'000, 1));
        QTest::newRow("iTXt inflating to 100 MB") << PNGChunkWriter().chunk("iTXt", bomb).bytes() << none;
    }

    void chunkWalk()
    {
        QFETCH(QByteArray, file);
        const QString path = pngBytes(file);
        QElapsedTimer clock;
        clock.start();
        QFETCH(QString, expected);
        QCOMPARE(readPNGTextMetadata(path).value_or(none), expected.section(u'\t', 0, 0));
        QCOMPARE(extractMetadataText(QUrl::fromLocalFile(path)).value_or(none), expected.section(u'\t', -1));
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
        const QByteArray jpeg = jpegWith({}, {}, xmpPacket(properties));
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
        PNGChunkWriter png;
        png.chunk("abCd", QByteArray(1 << 20, 'x')).tEXt("Description", sampleText).tinyImageData().end();
        QTest::newRow("png") << png.bytes() << "png";
        QTest::newRow("jpeg with XMP") << jpegWith(
            {}, {}, xmpPacket("<dc:description>" + sampleText + "</dc:description>") + QByteArray(30'000, ' '))
                                       << "jpg";
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

    // A name that is not UTF-8 is left out of Qt's listing, has no text and costs its neighbours nothing.
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

QTEST_GUILESS_MAIN(TestMetadataExtraction)
#include "tst_MetadataExtraction.moc"
