#include "ThumbnailCache.h"

#include <QTest>

using namespace limnoscope;

namespace {
QUrl urlNumber(int number)
{
    return QUrl::fromLocalFile(QStringLiteral("/pictures/%1.png").arg(number));
}
} // namespace

class TestThumbnailCache : public QObject
{
    Q_OBJECT

private slots:
    // Which of the inserted entries (numbered from 1, in order) are left.
    void limits_data()
    {
        QTest::addColumn<int>("inserted");
        QTest::addColumn<QSize>("imageSize");
        QTest::addColumn<int>("touched"); // looked up again after the first four inserts, 0 for none
        QTest::addColumn<QList<int>>("evicted");
        QTest::addColumn<int>("count");

        QTest::newRow("50 small ones fit") << 50 << QSize(136, 102) << 0 << QList<int> {} << 50;
        QTest::newRow("the 51st evicts the oldest") << 51 << QSize(136, 102) << 0 << QList<int> { 1 } << 50;
        QTest::newRow("a lookup keeps an entry") << 52 << QSize(136, 102) << 1 << QList<int> { 2, 3 } << 50;
        // 500 x 500 x 4 = 1,000,000: eight fit into 8,000,000.
        QTest::newRow("cost limit") << 10 << QSize(500, 500) << 0 << QList<int> { 1, 2 } << 8;
        QTest::newRow("cost limit with a lookup") << 10 << QSize(500, 500) << 2 << QList<int> { 1, 3 } << 8;
        QTest::newRow("larger than the whole cache") << 1 << QSize(1500, 1500) << 0 << QList<int> { 1 } << 0;
    }

    void limits()
    {
        QFETCH(int, inserted);
        QFETCH(QSize, imageSize);
        QFETCH(int, touched);
        QFETCH(QList<int>, evicted);
        QFETCH(int, count);

        ThumbnailCache cache;
        const QImage image(imageSize, QImage::Format_RGB32);
        for (int number = 1; number <= inserted; ++number) {
            cache.insert(urlNumber(number), image, 136);
            if (number == 4 && touched)
                QVERIFY(cache.find(urlNumber(touched)));
        }
        QCOMPARE(cache.count(), count);
        QCOMPARE(cache.totalCost(), count * imageSize.width() * imageSize.height() * 4);
        for (int number = 1; number <= inserted; ++number)
            QCOMPARE(cache.find(urlNumber(number)).has_value(), !evicted.contains(number));
    }

    // Replaced in place, its cost counted as 32 bits a pixel whatever its format; removed.
    void replaceAndRemove()
    {
        ThumbnailCache cache;
        const QImage larger(340, 255, QImage::Format_Grayscale8);
        cache.insert(urlNumber(1), QImage(136, 102, QImage::Format_RGB32), 136);
        cache.insert(urlNumber(1), larger, 340);
        QCOMPARE(cache.count(), 1);
        QCOMPARE(cache.totalCost(), 340 * 255 * 4);
        QCOMPARE(cache.find(urlNumber(1))->image, larger);
        QCOMPARE(cache.find(urlNumber(1))->decodeSize, 340);
        cache.remove(urlNumber(1));
        QCOMPARE(cache.totalCost(), 0);
        QVERIFY(!cache.find(urlNumber(1)));
    }
};

QTEST_GUILESS_MAIN(TestThumbnailCache)
#include "tst_ThumbnailCache.moc"
