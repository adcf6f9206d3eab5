#include "ExiftoolRunner.h"
#include "MetadataExtraction.h"
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
};

QTEST_GUILESS_MAIN(TestMetadataExtraction)
#include "tst_MetadataExtraction.moc"
