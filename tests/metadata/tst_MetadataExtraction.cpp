#include "ExiftoolRunner.h"
#include "MetadataExtraction.h"
#include "PNGTextReader.h"
#include "TestFiles.h"
#include "XMPPacket.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace limnoscope;
using namespace limnoscope::test;

namespace {
const QString none = QStringLiteral("<nothing>");
}

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
    QString languageAlternative()
    {
        return jpegWithXMP(
            "<dc:description><rdf:Alt><rdf:li xml:lang='x-default'>alt xmp</rdf:li></rdf:Alt></dc:description>");
    }
    QString pngBytes(const QByteArray& bytes, const char* extension = "png")
    {
        const QString path = newPath(extension);
        writeFile(path, bytes);
        return path;
    }

private slots:
    void initTestCase() { setExiftoolDisabled(true); }

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
        QTest::newRow("XMP language alternative is not taken") << languageAlternative() << none;
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
    }

    void sources()
    {
        QFETCH(QString, path);
        QTEST(extractMetadataText(QUrl::fromLocalFile(path)).value_or(none), "expected");
    }

    void exiftoolComesFirst()
    {
        // exiftool reads a language alternative that the in-process readers refuse.
        const QString path = languageAlternative();
        setExiftoolDisabled(false);
        QCOMPARE(extractMetadataText(QUrl::fromLocalFile(path)), QStringLiteral("alt xmp"));
        setExiftoolDisabled(true);
    }

    void xmpProperties_data()
    {
        QTest::addColumn<QByteArray>("properties");
        QTest::addColumn<QString>("expected"); // name=value, "name" alone when not a plain string

        QTest::newRow("plain and alternative")
            << QByteArray("<dc:title>t</dc:title><dc:description><rdf:Alt><rdf:li>x</rdf:li></rdf:Alt></dc:description>")
            << "title=t|description";
        QTest::newRow("structure and resource")
            << QByteArray("<lim:s rdf:parseType='Resource'><lim:a>1</lim:a></lim:s><lim:r rdf:resource='http://x'/>")
            << "s|r";
        QTest::newRow("empty element is an empty string") << QByteArray("<lim:e/>") << "e=";
        QTest::newRow("entities decoded") << QByteArray("<lim:t>a &amp; b &lt;c&gt;</lim:t>") << "t=a & b <c>";
    }

    void xmpProperties()
    {
        QFETCH(QByteArray, properties);
        QStringList found;
        for (const XMPProperty &property : readXMPProperties(xmpPacket(properties)))
            found.append(property.value ? property.name + u'=' + *property.value : property.name);
        QTEST(found.join(u'|'), "expected");
    }

    void xmpAttributeFormAndDamage()
    {
        const QByteArray packet = "<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'>"
                                  "<rdf:Description xmlns:tiff='http://ns.adobe.com/tiff/1.0/' tiff:ImageDescription='attr'/>"
                                  "</rdf:RDF></x:xmpmeta>";
        const QList<XMPProperty> properties = readXMPProperties(packet);
        QCOMPARE(properties.size(), 1);
        QCOMPARE(properties[0].namespaceURI, QString::fromLatin1(xmpNamespaceTIFF));
        QCOMPARE(properties[0].value, QStringLiteral("attr"));

        QVERIFY(readXMPProperties(packet.left(packet.size() / 2)).isEmpty());
    }

    void chunkWalk_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("expected");

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
            << PNGChunkWriter().iTXt("Description", "bad \xff\xfe").end().bytes() << none;
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
        QTest::newRow("non-text chunks are skipped") << PNGChunkWriter()
                                                            .chunk("pHYs", QByteArray(9, '\1'))
                                                            .chunk("gAMA", "abcd")
                                                            .tEXt("Description", "d")
                                                            .end()
                                                            .bytes()
                                                     << "d";
        QTest::newRow("text after IDAT is never read")
            << PNGChunkWriter().tinyImageData().tEXt("Description", "late").end().bytes() << none;
        QTest::newRow("IEND stops") << PNGChunkWriter().end().tEXt("Description", "late").bytes() << none;
        QTest::newRow("no keyword terminator") << PNGChunkWriter().chunk("tEXt", "Description").end().bytes() << none;
        QTest::newRow("zero-length text chunk stops")
            << PNGChunkWriter().chunk("tEXt", {}).tEXt("Description", "d").end().bytes() << none;
        QTest::newRow("not a PNG signature")
            << QByteArray("GIF89a..").append(PNGChunkWriter().tEXt("Description", "d").bytes().mid(8)) << none;
        QTest::newRow("signature only") << QByteArray::fromHex("89504E470D0A1A0A") << none;
        QTest::newRow("empty file") << QByteArray() << none;
        QTest::newRow("non-ASCII chunk type is skipped")
            << PNGChunkWriter().chunk("t\xc5Xt", "Description\0zz").tEXt("Comment", "c").end().bytes() << "c";
    }

    void chunkWalk()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, expected);
        QCOMPARE(readPNGTextMetadata(pngBytes(file)).value_or(none), expected);
    }

    void largestTextChunkAndNoFile()
    {
        QByteArray text(int(maxTextChunkLength) - 12, 'a');
        const QString path = pngBytes(PNGChunkWriter().tEXt("Description", text).end().bytes());
        QCOMPARE(readPNGTextMetadata(path).value_or(QString()).size(), text.size());
        QVERIFY(!readPNGTextMetadata(m_dir.filePath("missing.png")));
        QVERIFY(QDir(m_dir.path()).mkdir("folder.png"));
        QVERIFY(!readPNGTextMetadata(m_dir.filePath("folder.png")));
    }
};

QTEST_GUILESS_MAIN(TestMetadataExtraction)
#include "tst_MetadataExtraction.moc"
