#include "DecodeDownsampled.h"
#include "TestFiles.h"
#include "TestImages.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <future>
#include <thread>

#include <sys/stat.h>

using namespace limnoscope;
using namespace limnoscope::test;

namespace {
// Teal, 8200 pixels square: beyond the full-size decode limit (269 MB), cheap at one byte a pixel.
QImage beyondDecodeLimit()
{
    QImage image(8200, 8200, QImage::Format_Indexed8);
    image.setColorTable({ QColor(0, 128, 128).rgb() });
    image.fill(0);
    return image;
}

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
        writeFile(m_dir.filePath(name), bytes);
        return QUrl::fromLocalFile(m_dir.filePath(name));
    }

private slots:
    void sizes_data()
    {
        QTest::addColumn<QUrl>("url");
        QTest::addColumn<int>("maxPixelSize");
        QTest::addColumn<QSize>("expected");

        const auto file = [this](const char* name, int width, int height, const char* format) {
            return write(QString::fromLatin1(name), encoded(solid(width, height, QColor(0, 128, 128)), format));
        };
        QTest::newRow("4000x3000 JPEG") << file("large.jpg", 4000, 3000, "jpg") << 136 << QSize(136, 102);
        QTest::newRow("square PNG") << file("square.png", 1024, 1024, "png") << 136 << QSize(136, 136);
        QTest::newRow("portrait PNG at preview size")
            << file("portrait.png", 900, 1800, "png") << 800 << QSize(400, 800);
        QTest::newRow("WebP rounds to nearest") << file("wide.webp", 300, 200, "webp") << 136 << QSize(136, 91);
        QTest::newRow("TIFF") << file("photo.tiff", 600, 300, "tiff") << 170 << QSize(170, 85);
        QTest::newRow("small image is not enlarged") << file("small.jpeg", 100, 50, "jpg") << 136 << QSize(100, 50);
        QTest::newRow("upper-case extension") << file("UPPER.JPG", 272, 136, "jpg") << 136 << QSize(136, 68);
        QTest::newRow("JPEG beyond the full-size limit: decoded scaled")
            << write("beyond-limit.jpg", encoded(beyondDecodeLimit(), "jpg")) << 800 << QSize(800, 800);
        QTest::newRow("PNG content named .jpg") << file("png-inside.jpg", 200, 200, "png") << 136 << QSize(136, 136);
    }

    void sizes()
    {
        QFETCH(QUrl, url);
        QFETCH(int, maxPixelSize);
        QFETCH(QSize, expected);

        const QImage image = decodeDownsampled(url, maxPixelSize);
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

        const QSize wide(136, 68);
        const QSize tall(68, 136);
        QTest::newRow("1 as stored") << 1 << wide << QList<QColor> { Qt::red, Qt::green, Qt::blue, Qt::yellow };
        QTest::newRow("2 mirrored") << 2 << wide << QList<QColor> { Qt::green, Qt::red, Qt::yellow, Qt::blue };
        QTest::newRow("3 upside down") << 3 << wide << QList<QColor> { Qt::yellow, Qt::blue, Qt::green, Qt::red };
        QTest::newRow("6 turned clockwise") << 6 << tall << QList<QColor> { Qt::blue, Qt::red, Qt::yellow, Qt::green };
        QTest::newRow("8 turned anticlockwise")
            << 8 << tall << QList<QColor> { Qt::green, Qt::yellow, Qt::red, Qt::blue };
    }

    void orientation()
    {
        QFETCH(int, orientation);
        QFETCH(QSize, expected);
        QFETCH(QList<QColor>, corners);

        const QUrl url = write(QStringLiteral("oriented%1.jpg").arg(orientation), encoded(quadrants(400, 200), "jpg"));
        runExiftool({ QStringLiteral("-Orientation#=%1").arg(orientation), url.toLocalFile() });

        const QImage image = decodeDownsampled(url, 136);
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

    // Damaged, mislabelled or missing files and unusable arguments give no image.
    void undecodable_data()
    {
        QTest::addColumn<QUrl>("url");
        QTest::addColumn<int>("maxPixelSize");

        const QByteArray jpeg = encoded(quadrants(640, 480), "jpg");
        const QByteArray png = encoded(quadrants(640, 480), "png");
        const QString wholeHEIC = m_dir.filePath(QStringLiteral("whole.heic"));
        writeHEIC(wholeHEIC, quadrants(512, 256)); // decodes: see heic()
        QFile heicFile(wholeHEIC);
        QVERIFY(heicFile.open(QIODevice::ReadOnly));
        const QByteArray heic = heicFile.readAll();
        for (const char* extension : { "jpg", "jpeg", "png", "webp", "heic", "tiff", "tif" })
            QTest::addRow("zero bytes .%s", extension) << write(QStringLiteral("empty.%1").arg(extension), {}) << 136;
        QTest::newRow("JPEG cut in its header") << write("cut-header.jpg", jpeg.left(300)) << 136;
        QTest::newRow("JPEG cut in its pixels") << write("cut-pixels.jpg", jpeg.left(jpeg.size() * 2 / 3)) << 136;
        QTest::newRow("JPEG missing only its end marker") << write("cut-end.jpg", jpeg.left(jpeg.size() - 2)) << 136;
        QTest::newRow("PNG cut in its pixels") << write("cut.png", png.left(png.size() / 2)) << 136;
        QTest::newRow("PNG declaring 100000 x 100000")
            << write("huge.png", PNGChunkWriter(100000, 100000).tinyImageData().end().bytes()) << 136;
        QTest::newRow("PNG beyond the limit: decoded at full size")
            << write("beyond-limit.png", encoded(beyondDecodeLimit(), "png")) << 136;
        QTest::newRow("WebP cut") << write("cut.webp", encoded(quadrants(640, 480), "webp").left(200)) << 136;
        QTest::newRow("TIFF cut") << write("cut.tiff", encoded(quadrants(640, 480), "tiff").left(4000)) << 136;
        QTest::newRow("HEIC cut in half") << write("cut.heic", heic.left(heic.size() / 2)) << 136;
        QTest::newRow("text named .jpg") << write("notes.jpg", "just some text, not a picture\n") << 136;
        QTest::newRow("JPEG named .gif") << write("picture.gif", jpeg) << 136;
        QTest::newRow("JPEG without extension") << write("picture", jpeg) << 136;
        QTest::newRow("missing file") << QUrl::fromLocalFile(m_dir.filePath("missing.jpg")) << 136;
        QTest::newRow("not a file URL") << QUrl("https://example.com/a.jpg") << 136;
        QVERIFY(QDir(m_dir.path()).mkpath("folder.png"));
        QTest::newRow("folder named like an image") << QUrl::fromLocalFile(m_dir.filePath("folder.png")) << 136;
        for (const char* name : { "fifo.png", "fifo.jpg", "fifo.heic" }) {
            QCOMPARE(::mkfifo(QFile::encodeName(m_dir.filePath(name)).constData(), 0600), 0);
            QTest::addRow("FIFO named %s", name) << QUrl::fromLocalFile(m_dir.filePath(name)) << 136;
        }
        QTest::newRow("zero size") << write("fine.png", png) << 0;
    }

    void undecodable()
    {
        QFETCH(QUrl, url);
        QFETCH(int, maxPixelSize);
        // On a thread of its own, so that a stuck decode fails the test instead of hanging it.
        std::packaged_task<bool()> decode(
            [url, maxPixelSize] { return decodeDownsampled(url, maxPixelSize).isNull(); });
        std::future<bool> isNull = decode.get_future();
        std::thread(std::move(decode)).detach();
        QVERIFY2(isNull.wait_for(std::chrono::seconds(10)) == std::future_status::ready, "the decode hangs");
        QVERIFY(isNull.get());
    }
};

QTEST_GUILESS_MAIN(TestDecodeDownsampled)
#include "tst_DecodeDownsampled.moc"
