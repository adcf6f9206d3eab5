#include "PNGTextReader.h"
#include "TestFiles.h"

#include <QTemporaryDir>
#include <QTest>

using namespace limnoscope;
using limnoscope::test::writeFile;

namespace {
const QString none = QStringLiteral("<nothing>");
}

class TestPNGTextReader : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    int m_fileNumber = 0;

    QString read(const QByteArray &bytes, const QString &name = QString())
    {
        const QString path = m_dir.filePath(name.isEmpty() ? QStringLiteral("f%1.png").arg(++m_fileNumber) : name);
        writeFile(path, bytes);
        return readPNGTextMetadata(path).value_or(none);
    }

private slots:
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
        QTest::newRow("iTXt invalid UTF-8") << PNGChunkWriter().iTXt("Description", "bad \xff\xfe").end().bytes()
                                            << none;
        QTest::newRow("iTXt compressed is inflated")
            << PNGChunkWriter().iTXt("Description", "squeezed ✓", true).end().bytes() << QString::fromUtf8("squeezed ✓");
        QTest::newRow("iTXt compressed but damaged")
            << PNGChunkWriter().chunk("iTXt", QByteArray("Description\0\x01\x00\0\0garbage", 22)).end().bytes() << none;
        QTest::newRow("iTXt without language terminators")
            << PNGChunkWriter().chunk("iTXt", QByteArray("Description\0\x00\x00text", 18)).end().bytes() << "text";
        QTest::newRow("iTXt with only flags") << PNGChunkWriter().chunk("iTXt", QByteArray("Comment\0\x00\x00", 10)).end().bytes()
                                              << none;
        QTest::newRow("zTXt is skipped, next chunk found")
            << PNGChunkWriter().zTXt("Description", "hidden").tEXt("Comment", "seen").end().bytes() << "seen";
        QTest::newRow("first metadata chunk wins")
            << PNGChunkWriter().tEXt("Title", "t").tEXt("Comment", "first").tEXt("Description", "second").end().bytes()
            << "first";
        QTest::newRow("non-text chunks are skipped")
            << PNGChunkWriter().chunk("pHYs", QByteArray(9, '\1')).chunk("gAMA", "abcd").tEXt("Description", "d").end().bytes()
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
        QCOMPARE(read(file), expected);
    }

    void largestTextChunkAndNoFile()
    {
        QByteArray text(int(maxTextChunkLength) - 12, 'a');
        QCOMPARE(read(PNGChunkWriter().tEXt("Description", text).end().bytes()).size(), text.size());
        QVERIFY(!readPNGTextMetadata(m_dir.filePath("missing.png")));
        QVERIFY(QDir(m_dir.path()).mkdir("folder.png"));
        QVERIFY(!readPNGTextMetadata(m_dir.filePath("folder.png")));
    }
};

QTEST_GUILESS_MAIN(TestPNGTextReader)
#include "tst_PNGTextReader.moc"
