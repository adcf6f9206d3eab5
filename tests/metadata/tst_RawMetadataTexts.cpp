#include "MetadataBlocks.h"
#include "RawMetadataTexts.h"
#include "TestFiles.h"

#include <QTemporaryDir>
#include <QTest>

using namespace limnoscope;
using namespace limnoscope::test;

namespace {

QStringList describe(const QList<RawText>& texts)
{
    QStringList lines;
    for (const RawText& raw : texts)
        lines.append(raw.source + u'=' + raw.text);
    return lines;
}

const QString a1111
    = QStringLiteral("a cat, ✓ ünïcode\nNegative prompt: dog\nSteps: 20, Sampler: Euler a, CFG scale: 7");

} // namespace

class TestRawMetadataTexts : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    int m_fileNumber = 0;

private slots:
    void texts_data()
    {
        QTest::addColumn<QString>("suffix");
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QByteArray>("sidecar");
        QTest::addColumn<QStringList>("expected");

        const QByteArray utf8 = a1111.toUtf8();
        const QStringList comment { u"UserComment="_qs + a1111 };
        for (const bool bigEndianTIFF : { true, false }) {
            for (const bool bigEndianText : { true, false }) {
                const QByteArray exif
                    = exifBlock({ { 0x9286, 7, userComment("UNICODE", a1111, bigEndianText), true } }, bigEndianTIFF);
                const QByteArray name = QByteArray(bigEndianText ? "UTF-16 BE" : "UTF-16 LE") + " in "
                    + (bigEndianTIFF ? "big" : "little") + "-endian EXIF";
                QTest::newRow("JPEG, " + name) << "jpg" << jpegWith(exif) << QByteArray() << comment;
                QTest::newRow("WebP, " + name) << "webp" << webpWith(exif) << QByteArray() << comment;
            }
        }
        QTest::newRow("JPEG, UTF-16 without ASCII follows the EXIF byte order")
            << "jpg" << jpegWith(exifBlock({ { 0x9286, 7, userComment("UNICODE", u"猫犬"_qs, false), true } }, false))
            << QByteArray() << QStringList { u"UserComment=猫犬"_qs };
        QTest::newRow("JPEG, ASCII code holding UTF-8")
            << "jpg" << jpegWith(exifBlock({ { 0x9286, 7, userComment("ASCII", a1111), true } }, false)) << QByteArray()
            << comment;
        QTest::newRow("JPEG, undefined code, trailing zeros")
            << "jpg" << jpegWith(exifBlock({ { 0x9286, 7, userComment("", "x") + QByteArray(5, '\0'), true } }, true))
            << QByteArray() << QStringList { "UserComment=x" };
        QTest::newRow("JPEG, blank comment left out")
            << "jpg" << jpegWith(exifBlock({ { 0x9286, 7, userComment("ASCII", "   "), true } }, true)) << QByteArray()
            << QStringList {};
        QTest::newRow("JPEG, UserComment in the first IFD, description tags, COM")
            << "jpg"
            << jpegWith(exifBlock({ { 0x010e, 2, "{\"a\": 1}\0"_qba }, { 0x010f, 2, "Make text\0"_qba },
                                      { 0x0110, 2, "Model text\0"_qba },
                                      { 0x9286, 7, userComment("UNICODE", "first IFD", false) } },
                            true),
                   { "first comment", "caf\xe9" })
            << QByteArray()
            << QStringList { "ImageDescription={\"a\": 1}", "Make=Make text", "Model=Model text",
                   "UserComment=first IFD", "JPEG COM=first comment", u"JPEG COM=café"_qs };
        QTest::newRow("WebP, XMP description")
            << "webp" << webpWith({}, xmpPacket("<dc:description>from XMP</dc:description>")) << QByteArray()
            << QStringList { "XMP=from XMP" };
        QTest::newRow("PNG text chunks in file order, none after the image data")
            << "png"
            << PNGChunkWriter()
                   .tEXt("parameters", "Latin-1 caf\xe9")
                   .iTXt("prompt", "{\"1\": \"✓\"}", true)
                   .zTXt("workflow", "squeezed")
                   .iTXt("Comment", "plain ✓")
                   .tinyImageData()
                   .tEXt("late", "after the pixels")
                   .end()
                   .bytes()
            << QByteArray()
            << QStringList { u"parameters=Latin-1 café"_qs, u"prompt={\"1\": \"✓\"}"_qs, "workflow=squeezed",
                   u"Comment=plain ✓"_qs };
        QTest::newRow("PNG, damaged compressed chunk passed over")
            << "png"
            << PNGChunkWriter().chunk("zTXt", QByteArray("bad\0\0garbage", 12)).tEXt("parameters", "kept").end().bytes()
            << QByteArray() << QStringList { "parameters=kept" };
        QTest::newRow("PNG truncated inside a chunk")
            << "png" << PNGChunkWriter().tEXt("a", "one").tEXt("b", "two").bytes().chopped(6) << QByteArray()
            << QStringList { "a=one" };
        PNGChunkWriter bombs;
        for (int i = 0; i < 5; ++i)
            bombs.zTXt("blank", QByteArray(15 * 1024 * 1024, ' '));
        QTest::newRow("PNG, walk ends once 64 MB were inflated")
            << "png" << bombs.tEXt("parameters", "not reached").end().bytes() << QByteArray() << QStringList {};
        QTest::newRow("sidecar beside a plain PNG") << "png" << PNGChunkWriter().tinyImageData().end().bytes() << utf8
                                                    << QStringList { u"Sidecar="_qs + a1111 };
        QTest::newRow("sidecar too large") << "png" << PNGChunkWriter().tinyImageData().end().bytes()
                                           << QByteArray(maxSidecarBytes + 1, 'x') << QStringList {};
        QTest::newRow("not an image") << "jpg" << QByteArray("\xff\xd8\xff") << QByteArray() << QStringList {};
    }

    void texts()
    {
        QFETCH(QString, suffix);
        QFETCH(QByteArray, file);
        QFETCH(QByteArray, sidecar);
        QFETCH(QStringList, expected);

        const QString base = m_dir.filePath(QStringLiteral("image%1").arg(++m_fileNumber));
        writeFile(base + u'.' + suffix, file);
        if (!sidecar.isEmpty())
            writeFile(base + QStringLiteral(".txt"), sidecar);
        QCOMPARE(describe(readRawMetadataTexts(base + u'.' + suffix)), expected);
    }

    // What exiftool writes must read back the same (it picks the character code itself).
    void exiftoolWrittenComment()
    {
        const QString path = m_dir.filePath(QStringLiteral("exiftool.jpg"));
        writeImage(path, "JPEG");
        runExiftool({ u"-UserComment="_qs + a1111, u"-Make=Maker"_qs, path });
        QCOMPARE(describe(readRawMetadataTexts(path)), (QStringList { "Make=Maker", u"UserComment="_qs + a1111 }));
    }

    void specialFilesGiveNothing()
    {
        QCOMPARE(readRawMetadataTexts(m_dir.path()), QList<RawText> {});
        QCOMPARE(readRawMetadataTexts(QStringLiteral("/dev/zero")), QList<RawText> {});
        QCOMPARE(readRawMetadataTexts(m_dir.filePath(QStringLiteral("missing.png"))), QList<RawText> {});
    }
};

QTEST_GUILESS_MAIN(TestRawMetadataTexts)
#include "tst_RawMetadataTexts.moc"
