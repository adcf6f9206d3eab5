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

    // Builds the named kind of test file and returns its path.
    QString makeFile(const QString &kind)
    {
        const QString base = m_dir.filePath(kind.simplified().replace(' ', '_'));
        const QString xmpFile = base + ".xmp";
        const auto withXmp = [&](const QString &path, const QByteArray &properties) {
            writeFile(xmpFile, xmpPacket(properties));
            runExiftool({"-xmp<=" + xmpFile, path});
        };
        const QByteArray plainDescription = "<dc:description>plain xmp</dc:description>";
        const QByteArray alternativeDescription =
            "<dc:description><rdf:Alt><rdf:li xml:lang='x-default'>alt xmp</rdf:li></rdf:Alt></dc:description>";

        if (kind == "png chunk before exif") {
            writeFile(base + ".png", pngWithDescription("chunk text"));
            runExiftool({"-EXIF:ImageDescription=exif text", base + ".png"});
            return base + ".png";
        }
        if (kind == "png tiff description before zTXt") {
            QImage pixels(4, 4, QImage::Format_RGB32);
            pixels.fill(Qt::red);
            writeFile(base + ".png", PNGChunkWriter(4, 4).zTXt("Description", "zipped").imageData(pixels).end().bytes());
            runExiftool({"-EXIF:ImageDescription=exif text", base + ".png"});
            return base + ".png";
        }
        if (kind == "png zTXt description") {
            QImage pixels(4, 4, QImage::Format_RGB32);
            pixels.fill(Qt::red);
            writeFile(base + ".png", PNGChunkWriter(4, 4).zTXt("Description", "zipped").imageData(pixels).end().bytes());
            return base + ".png";
        }
        if (kind == "capital PNG extension") {
            // Only the chunk reader understands a "parameters" chunk.
            writeFile(base + ".PNG", PNGChunkWriter().tEXt("parameters", R"({"prompt": "p"})").tinyImageData().end().bytes());
            return base + ".PNG";
        }
        if (kind == "white space is text") {
            writeFile(base + ".png", pngWithDescription("   "));
            return base + ".png";
        }
        if (kind == "jpeg exif description") {
            writeImage(base + ".jpg", "JPEG");
            runExiftool({"-EXIF:ImageDescription=jpeg exif", base + ".jpg"});
            return base + ".jpg";
        }
        if (kind == "jpeg xmp plain string") {
            writeImage(base + ".jpg", "JPEG");
            withXmp(base + ".jpg", plainDescription);
            return base + ".jpg";
        }
        if (kind == "jpeg xmp language alternative") {
            writeImage(base + ".jpg", "JPEG");
            withXmp(base + ".jpg", alternativeDescription);
            return base + ".jpg";
        }
        if (kind == "jpeg xmp other description tag first") {
            writeImage(base + ".jpg", "JPEG");
            withXmp(base + ".jpg", "<lim:title>no</lim:title><lim:PromptDescription>own tag</lim:PromptDescription>"
                                   + plainDescription);
            return base + ".jpg";
        }
        if (kind == "webp xmp plain string") {
            writeImage(base + ".webp", "WEBP");
            withXmp(base + ".webp", plainDescription);
            return base + ".webp";
        }
        if (kind == "tiff image description") {
            writeImage(base + ".tif", "TIFF");
            runExiftool({"-ImageDescription=tiff text", base + ".tif"});
            return base + ".tif";
        }
        if (kind == "heic exif description") {
            QImage pixels(64, 64, QImage::Format_RGB32);
            pixels.fill(Qt::blue);
            pixels.save(base + ".png");
            QProcess::execute("convert", {base + ".png", base + ".heic"});
            runExiftool({"-EXIF:ImageDescription=heic text", base + ".heic"});
            return base + ".heic";
        }
        if (kind == "text file named jpg") {
            writeFile(base + ".jpg", "just some words, not an image\n");
            return base + ".jpg";
        }
        if (kind == "zero bytes") {
            writeFile(base + ".jpg", {});
            return base + ".jpg";
        }
        if (kind == "truncated jpeg") {
            writeImage(base + ".jpg", "JPEG", 64, 64);
            QFile file(base + ".jpg");
            file.open(QIODevice::ReadWrite);
            file.resize(40);
            return base + ".jpg";
        }
        return base + ".missing";
    }

private slots:
    void initTestCase() { setExiftoolDisabled(true); }

    void sources_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("expected");
        QTest::newRow("chunk text comes before the EXIF description") << "png chunk before exif" << "chunk text";
        QTest::newRow("TIFF description before the PNG description") << "png tiff description before zTXt" << "exif text";
        QTest::newRow("compressed PNG description through the image reader") << "png zTXt description" << "zipped";
        QTest::newRow("capital extension uses the chunk reader") << "capital PNG extension" << R"({"prompt": "p"})";
        QTest::newRow("white space is returned") << "white space is text" << "   ";
        QTest::newRow("JPEG EXIF description") << "jpeg exif description" << "jpeg exif";
        QTest::newRow("XMP plain string") << "jpeg xmp plain string" << "plain xmp";
        QTest::newRow("XMP language alternative is not taken") << "jpeg xmp language alternative" << none;
        QTest::newRow("first top-level description tag") << "jpeg xmp other description tag first" << "own tag";
        QTest::newRow("WebP XMP") << "webp xmp plain string" << "plain xmp";
        QTest::newRow("TIFF") << "tiff image description" << "tiff text";
        QTest::newRow("HEIC EXIF through libheif") << "heic exif description" << "heic text";
        QTest::newRow("text file named .jpg") << "text file named jpg" << none;
        QTest::newRow("zero-byte file") << "zero bytes" << none;
        QTest::newRow("truncated JPEG") << "truncated jpeg" << none;
        QTest::newRow("missing file") << "missing" << none;
    }

    void sources()
    {
        QFETCH(QString, kind);
        const QString path = makeFile(kind);
        QTEST(extractMetadataText(QUrl::fromLocalFile(path)).value_or(none), "expected");
    }

    void exiftoolComesFirst()
    {
        // exiftool reads a language alternative that the in-process readers refuse.
        const QString path = makeFile("jpeg xmp language alternative");
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
        QByteArray nested = "<lim:deep>";
        for (int i = 0; i < 5000; ++i)
            nested += "<lim:n>";
        QVERIFY(!readXMPProperties(xmpPacket(nested)).value(0).value);
    }
};

QTEST_GUILESS_MAIN(TestMetadataExtraction)
#include "tst_MetadataExtraction.moc"
