#include "DecodeDownsampled.h"
#include "TestFiles.h"
#include "TestImages.h"

#include <QTemporaryDir>
#include <QTest>

using namespace limnoscope;
using namespace limnoscope::test;

namespace {
QColor centreColour(const QImage& image)
{
    return image.pixelColor(image.width() / 2, image.height() / 2);
}
} // namespace

class TestDecodeDownsampled : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;

    QUrl write(const QString& name, const QByteArray& bytes)
    {
        const QString path = m_dir.filePath(name);
        writeFile(path, bytes);
        return QUrl::fromLocalFile(path);
    }

private slots:
    void sizes_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<int>("maxPixelSize");
        QTest::addColumn<QSize>("expected");

        const QColor teal(0, 128, 128);
        QTest::newRow("4000x3000 JPEG to 136")
            << "large.jpg" << encoded(solid(4000, 3000, teal), "jpg") << 136 << QSize(136, 102);
        QTest::newRow("square PNG") << "square.png" << encoded(solid(1024, 1024, teal), "png") << 136
                                    << QSize(136, 136);
        QTest::newRow("portrait PNG at preview size")
            << "portrait.png" << encoded(solid(900, 1800, teal), "png") << 800 << QSize(400, 800);
        QTest::newRow("WebP rounds to nearest")
            << "wide.webp" << encoded(solid(300, 200, teal), "webp") << 136 << QSize(136, 91);
        QTest::newRow("TIFF") << "photo.tiff" << encoded(solid(600, 300, teal), "tiff") << 170 << QSize(170, 85);
        QTest::newRow("tif") << "photo.tif" << encoded(solid(300, 600, teal), "tiff") << 136 << QSize(68, 136);
        QTest::newRow("small image is not enlarged")
            << "small.jpeg" << encoded(solid(100, 50, teal), "jpg") << 136 << QSize(100, 50);
        QTest::newRow("upper-case extension")
            << "UPPER.JPG" << encoded(solid(272, 136, teal), "jpg") << 136 << QSize(136, 68);
        QTest::newRow("PNG content named .jpg")
            << "png-inside.jpg" << encoded(solid(200, 200, teal), "png") << 136 << QSize(136, 136);
    }

    void sizes()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, file);
        QFETCH(int, maxPixelSize);
        QFETCH(QSize, expected);

        const QImage image = decodeDownsampled(write(name, file), maxPixelSize);
        QCOMPARE(image.size(), expected);
        QCOMPARE(image.format(), QImage::Format_RGB32);
        QVERIFY2(isNear(centreColour(image), QColor(0, 128, 128)), qPrintable(centreColour(image).name()));
    }

    void transparencyIsKept()
    {
        QImage translucent(400, 400, QImage::Format_ARGB32);
        translucent.fill(QColor(255, 0, 0, 128));
        const QImage image = decodeDownsampled(write("translucent.png", encoded(translucent, "png")), 136);
        QCOMPARE(image.format(), QImage::Format_ARGB32_Premultiplied);
        QVERIFY(std::abs(image.pixelColor(68, 68).alpha() - 128) <= 2);
    }

    // Corners of quadrants(400, 200) after the EXIF orientation is applied.
    void orientation_data()
    {
        QTest::addColumn<int>("orientation");
        QTest::addColumn<QSize>("expected");
        QTest::addColumn<QList<QColor>>("corners"); // top left, top right, bottom left, bottom right

        QTest::newRow("1 as stored") << 1 << QSize(136, 68)
                                     << QList<QColor> { Qt::red, Qt::green, Qt::blue, Qt::yellow };
        QTest::newRow("2 mirrored") << 2 << QSize(136, 68)
                                    << QList<QColor> { Qt::green, Qt::red, Qt::yellow, Qt::blue };
        QTest::newRow("3 upside down") << 3 << QSize(136, 68)
                                       << QList<QColor> { Qt::yellow, Qt::blue, Qt::green, Qt::red };
        QTest::newRow("6 turned clockwise")
            << 6 << QSize(68, 136) << QList<QColor> { Qt::blue, Qt::red, Qt::yellow, Qt::green };
        QTest::newRow("8 turned anticlockwise")
            << 8 << QSize(68, 136) << QList<QColor> { Qt::green, Qt::yellow, Qt::red, Qt::blue };
    }

    void orientation()
    {
        QFETCH(int, orientation);
        QFETCH(QSize, expected);
        QFETCH(QList<QColor>, corners);

        const QString path = m_dir.filePath(QStringLiteral("oriented%1.jpg").arg(orientation));
        writeFile(path, encoded(quadrants(400, 200), "jpg"));
        setExifOrientation(path, orientation);

        const QImage image = decodeDownsampled(QUrl::fromLocalFile(path), 136);
        QCOMPARE(image.size(), expected);
        const int inset = 8;
        const QList<QPoint> points { { inset, inset }, { image.width() - inset, inset },
            { inset, image.height() - inset }, { image.width() - inset, image.height() - inset } };
        for (int corner = 0; corner < 4; ++corner) {
            const QColor actual = image.pixelColor(points[corner]);
            QVERIFY2(isNear(actual, corners[corner]),
                qPrintable(QStringLiteral("corner %1 is %2").arg(corner).arg(actual.name())));
        }
    }

    // The embedded thumbnail (green) is used when it is large enough, else the picture (red).
    void heic_data()
    {
        QTest::addColumn<int>("thumbnailBox");
        QTest::addColumn<int>("maxPixelSize");
        QTest::addColumn<QSize>("expected");
        QTest::addColumn<QColor>("colour");

        QTest::newRow("no thumbnail") << 0 << 136 << QSize(136, 68) << QColor(Qt::red);
        QTest::newRow("thumbnail large enough") << 160 << 136 << QSize(136, 68) << QColor(Qt::green);
        QTest::newRow("thumbnail exactly large enough") << 160 << 160 << QSize(160, 80) << QColor(Qt::green);
        QTest::newRow("thumbnail too small") << 160 << 300 << QSize(300, 150) << QColor(Qt::red);
        QTest::newRow("picture smaller than wanted") << 160 << 800 << QSize(512, 256) << QColor(Qt::red);
    }

    void heic()
    {
        QFETCH(int, thumbnailBox);
        QFETCH(int, maxPixelSize);
        QFETCH(QSize, expected);
        QFETCH(QColor, colour);

        const QString path = m_dir.filePath(QStringLiteral("photo-%1.heic").arg(thumbnailBox));
        writeHEIC(path, solid(512, 256, Qt::red), thumbnailBox ? solid(512, 256, Qt::green) : QImage(), thumbnailBox);

        const QImage image = decodeDownsampled(QUrl::fromLocalFile(path), maxPixelSize);
        QCOMPARE(image.size(), expected);
        QVERIFY2(isNear(centreColour(image), colour), qPrintable(centreColour(image).name()));
    }

    void hostileInput_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("file");

        const QByteArray jpeg = encoded(quadrants(640, 480), "jpg");
        const QByteArray png = encoded(quadrants(640, 480), "png");
        for (const char* extension : { "jpg", "jpeg", "png", "webp", "heic", "tiff", "tif" })
            QTest::addRow("zero bytes .%s", extension) << QStringLiteral("empty.%1").arg(extension) << QByteArray();
        QTest::newRow("JPEG cut in its header") << "cut-header.jpg" << jpeg.left(300);
        QTest::newRow("JPEG cut in its pixels") << "cut-pixels.jpg" << jpeg.left(jpeg.size() * 2 / 3);
        QTest::newRow("JPEG missing only its end marker") << "cut-end.jpg" << jpeg.left(jpeg.size() - 2);
        QTest::newRow("PNG cut in its pixels") << "cut.png" << png.left(png.size() / 2);
        QTest::newRow("PNG declaring 100000 x 100000")
            << "huge.png" << PNGChunkWriter(100000, 100000).tinyImageData().end().bytes();
        QTest::newRow("WebP cut") << "cut.webp" << encoded(quadrants(640, 480), "webp").left(200);
        QTest::newRow("TIFF cut") << "cut.tiff" << encoded(quadrants(640, 480), "tiff").left(4000);
        QTest::newRow("text named .jpg") << "notes.jpg" << QByteArray("just some text, not a picture\n");
        QTest::newRow("text named .heic") << "notes.heic" << QByteArray("ftypheic but not really");
        QTest::newRow("JPEG named .gif") << "picture.gif" << jpeg;
        QTest::newRow("JPEG without extension") << "picture" << jpeg;
    }

    void hostileInput()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, file);

        QVERIFY(decodeDownsampled(write(name, file), 136).isNull());
    }

    void truncatedHEIC()
    {
        const QString path = m_dir.filePath(QStringLiteral("whole.heic"));
        writeHEIC(path, quadrants(512, 256));
        QFile whole(path);
        QVERIFY(whole.open(QIODevice::ReadOnly));
        const QByteArray bytes = whole.readAll();
        QVERIFY(!decodeDownsampled(QUrl::fromLocalFile(path), 136).isNull());
        QVERIFY(decodeDownsampled(write("cut.heic", bytes.left(bytes.size() / 2)), 136).isNull());
    }

    void unusableArguments_data()
    {
        QTest::addColumn<QUrl>("url");
        QTest::addColumn<int>("maxPixelSize");

        QTest::newRow("missing file") << QUrl::fromLocalFile(m_dir.filePath("missing.jpg")) << 136;
        QTest::newRow("not a file URL") << QUrl("https://example.com/a.jpg") << 136;
        QTest::newRow("folder named like an image") << QUrl::fromLocalFile(m_dir.filePath("folder.png")) << 136;
        QTest::newRow("zero size") << write("fine.png", encoded(quadrants(64, 64), "png")) << 0;
    }

    void unusableArguments()
    {
        QFETCH(QUrl, url);
        QFETCH(int, maxPixelSize);

        QDir(m_dir.path()).mkpath("folder.png");
        QVERIFY(decodeDownsampled(url, maxPixelSize).isNull());
    }
};

QTEST_GUILESS_MAIN(TestDecodeDownsampled)
#include "tst_DecodeDownsampled.moc"
