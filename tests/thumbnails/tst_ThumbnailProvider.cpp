#include "DecodeDownsampled.h"
#include "TestFiles.h"
#include "TestImages.h"
#include "ThumbnailProvider.h"

#include <QMutex>
#include <QReadWriteLock>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace limnoscope;
using namespace limnoscope::test;

namespace {

constexpr int waitMs = 10000;

// The real decoder, recording its calls (URL, size); while held, every decode waits.
class HeldDecoder
{
public:
    ThumbnailProvider::Decoder decoder()
    {
        return [this](const QUrl& url, int maxPixelSize) {
            {
                QMutexLocker lock(&m_mutex);
                m_calls.append({ url, maxPixelSize });
            }
            QReadLocker waitWhileHeld(&m_held);
            return decodeDownsampled(url, maxPixelSize);
        };
    }
    void hold(bool holding) { holding ? m_held.lockForWrite() : m_held.unlock(); }
    QList<std::pair<QUrl, int>> calls() const
    {
        QMutexLocker lock(&m_mutex);
        return m_calls;
    }

private:
    QReadWriteLock m_held;
    mutable QMutex m_mutex;
    QList<std::pair<QUrl, int>> m_calls;
};

} // namespace

class TestThumbnailProvider : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QUrl m_landscape; // 400 x 300
    QUrl m_portrait; // 300 x 600
    QUrl m_broken; // text named .jpg
    QList<QUrl> m_more; // 400 x 300 each

    QUrl write(const QString& name, const QByteArray& bytes)
    {
        writeFile(m_dir.filePath(name), bytes);
        return QUrl::fromLocalFile(m_dir.filePath(name));
    }

    struct Fixture {
        ThumbnailSemaphore gate;
        ThumbnailCache cache;
        HeldDecoder decoder;
        std::unique_ptr<ThumbnailProvider> provider
            = std::make_unique<ThumbnailProvider>(gate, cache, decoder.decoder());
        QSignalSpy ready { provider.get(), &ThumbnailProvider::thumbnailReady };

        bool settled(const QUrl& url)
        {
            return QTest::qWaitFor([&] { return !provider->isLoading(url) && gate.running() == 0; }, waitMs);
        }
        QImage loaded(const QUrl& url, double size)
        {
            (void)provider->thumbnail(url, size);
            QTest::qWaitFor([&] { return ready.count() == 1; }, waitMs);
            return provider->thumbnail(url, size);
        }
    };

private slots:
    void initTestCase()
    {
        m_landscape = write("landscape.jpg", encoded(quadrants(400, 300), "jpg"));
        m_portrait = write("portrait.png", encoded(quadrants(300, 600), "png"));
        m_broken = write("broken.jpg", "not a picture");
        for (int number = 0; number < 4; ++number)
            m_more.append(write(QStringLiteral("more%1.webp").arg(number), encoded(quadrants(400, 300), "webp")));
    }

    // Decoded once; served again after a cancel, to another provider and after a cache eviction.
    void decodesOnceThenServesFromTheCache()
    {
        Fixture fixture;
        QVERIFY(fixture.provider->thumbnail(m_landscape, 68).isNull());
        const QImage image = fixture.loaded(m_landscape, 68);
        QCOMPARE(fixture.ready.first().first().toUrl(), m_landscape);
        QCOMPARE(image.size(), QSize(170, 128));
        QVERIFY(isNear(image.pixelColor(5, 5), Qt::red));
        QCOMPARE(fixture.cache.find(m_landscape)->image, image);
        QTRY_COMPARE_WITH_TIMEOUT(fixture.gate.running(), 0, waitMs);

        fixture.provider->cancel(m_landscape);
        QCOMPARE(fixture.provider->thumbnail(m_landscape, 68), image);
        ThumbnailProvider other(fixture.gate, fixture.cache, fixture.decoder.decoder());
        QCOMPARE(other.thumbnail(m_landscape, 68), image);
        for (int number = 0; number < ThumbnailCache::countLimit; ++number)
            fixture.cache.insert(QUrl::fromLocalFile(QStringLiteral("/other/%1.png").arg(number)), image, 170);
        QVERIFY(!fixture.cache.find(m_landscape));
        QCOMPARE(fixture.provider->thumbnail(m_landscape, 68), image);
        QVERIFY(!fixture.provider->isLoading(m_landscape));
        QCOMPARE(fixture.decoder.calls().size(), 1);
        QCOMPARE(fixture.ready.count(), 1);
    }

    void sizeChange_data()
    {
        QTest::addColumn<QUrl>("url");
        QTest::addColumn<double>("newSize");
        QTest::addColumn<QList<int>>("decodeSizes");
        QTest::addColumn<QSize>("finalSize");

        QTest::newRow("same size") << m_landscape << 68.0 << QList<int> { 170 } << QSize(170, 128);
        QTest::newRow("20 pixels off is close enough") << m_landscape << 76.0 << QList<int> { 170 } << QSize(170, 128);
        QTest::newRow("more than 20 off is decoded again")
            << m_landscape << 78.0 << QList<int> { 170, 195 } << QSize(195, 146);
        QTest::newRow("smaller again") << m_landscape << 44.0 << QList<int> { 170, 136 } << QSize(136, 102);
        QTest::newRow("portrait: width below the decode size")
            << m_portrait << 68.0 << QList<int> { 170 } << QSize(85, 170);
        QTest::newRow("small picture: never enlarged")
            << m_landscape << 200.0 << QList<int> { 170, 500 } << QSize(400, 300);
    }

    void sizeChange()
    {
        QFETCH(QUrl, url);
        QFETCH(double, newSize);
        QFETCH(QList<int>, decodeSizes);
        QFETCH(QSize, finalSize);

        Fixture fixture;
        const QImage first = fixture.loaded(url, 68);
        QCOMPARE(fixture.provider->thumbnail(url, newSize), first); // meanwhile the earlier picture stays
        QVERIFY(fixture.settled(url));
        QCOMPARE(fixture.provider->thumbnail(url, newSize).size(), finalSize);
        QCOMPARE(fixture.provider->thumbnail(url, newSize).size(), finalSize);
        QVERIFY(fixture.settled(url));
        QList<int> sizes;
        for (const auto& call : fixture.decoder.calls())
            sizes.append(call.second);
        QCOMPARE(sizes, decodeSizes);
        QCOMPARE(fixture.ready.count(), decodeSizes.size());
        QCOMPARE(fixture.cache.find(url)->decodeSize, decodeSizes.last());
    }

    // Asked for while decoding or behind three others: left alone it lands; cancelled, scrolled away
    // or with its provider gone it is neither shown nor cached, and every slot comes back.
    void staleResultsAreDropped_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<bool>("behindThree");
        QTest::newRow("waits for the gate, then lands") << "none" << true;
        QTest::newRow("cancelled while decoding") << "cancel" << false;
        QTest::newRow("scrolled out of view while decoding") << "visible" << false;
        QTest::newRow("cancelled while waiting for the gate") << "cancel" << true;
        QTest::newRow("provider destroyed while decoding") << "destroyed" << true;
    }

    void staleResultsAreDropped()
    {
        QFETCH(QString, how);
        QFETCH(bool, behindThree);
        Fixture fixture;
        fixture.decoder.hold(true);
        const QList<QUrl> busy = behindThree ? m_more.mid(0, 3) : QList<QUrl> {};
        for (const QUrl& url : busy + QList<QUrl> { m_landscape })
            (void)fixture.provider->thumbnail(url, 68);
        QTRY_COMPARE_WITH_TIMEOUT(fixture.decoder.calls().size(), behindThree ? 3 : 1, waitMs);
        QCOMPARE(fixture.gate.running(), behindThree ? 3 : 1);
        QCOMPARE(fixture.gate.waiting(), behindThree ? 1 : 0);
        QVERIFY(fixture.provider->isLoading(m_landscape));

        if (how == "visible")
            fixture.provider->setVisibleURLs({ m_portrait });
        else if (how == "cancel")
            fixture.provider->cancel(m_landscape);
        fixture.decoder.hold(false);
        if (how == "destroyed") {
            fixture.provider.reset();
            QCOMPARE(fixture.gate.running(), 0);
            QCOMPARE(fixture.gate.waiting(), 0);
            QCOMPARE(fixture.cache.count(), 0);
            return;
        }
        const bool lands = how == "none";
        QTRY_COMPARE_WITH_TIMEOUT(fixture.ready.count(), busy.size() + lands, waitMs);
        QTRY_COMPARE_WITH_TIMEOUT(fixture.gate.running(), 0, waitMs);
        QCOMPARE(fixture.gate.waiting(), 0);
        QCOMPARE(fixture.cache.find(m_landscape).has_value(), lands);
        // One that was cancelled while it waited never decodes.
        QCOMPARE(fixture.decoder.calls().size(), busy.size() + (lands || !behindThree));
        if (lands)
            return;
        for (const QList<QVariant>& signal : fixture.ready)
            QVERIFY(signal.first().toUrl() != m_landscape);
        // Asked for anew, it loads again.
        QVERIFY(fixture.provider->thumbnail(m_landscape, 68).isNull());
        QTRY_COMPARE_WITH_TIMEOUT(fixture.ready.count(), busy.size() + 1, waitMs);
        QCOMPARE(fixture.provider->thumbnail(m_landscape, 68).size(), QSize(170, 128));
    }

    // Asked for at another size while decoding: only the later request's result lands.
    void supersededResultIsDropped()
    {
        Fixture fixture;
        fixture.decoder.hold(true);
        (void)fixture.provider->thumbnail(m_landscape, 68);
        QTRY_COMPARE_WITH_TIMEOUT(fixture.decoder.calls().size(), 1, waitMs);
        (void)fixture.provider->thumbnail(m_landscape, 200);
        QTRY_COMPARE_WITH_TIMEOUT(fixture.decoder.calls().size(), 2, waitMs);
        fixture.decoder.hold(false);

        QTRY_COMPARE_WITH_TIMEOUT(fixture.ready.count(), 1, waitMs);
        QVERIFY(fixture.settled(m_landscape));
        QCOMPARE(fixture.ready.count(), 1);
        QCOMPARE(fixture.provider->thumbnail(m_landscape, 200).size(), QSize(400, 300));
        QCOMPARE(fixture.cache.find(m_landscape)->decodeSize, 500);
    }

    // A file that decodes to nothing is not tried again until it is cancelled.
    void undecodableFileStaysEmpty()
    {
        Fixture fixture;
        QVERIFY(fixture.provider->thumbnail(m_broken, 68).isNull());
        QVERIFY(fixture.settled(m_broken));
        for (double size : { 68.0, 68.0, 120.0 })
            QVERIFY(fixture.provider->thumbnail(m_broken, size).isNull());
        QVERIFY(fixture.settled(m_broken));
        QCOMPARE(fixture.decoder.calls().size(), 1);
        QCOMPARE(fixture.ready.count(), 0);
        QVERIFY(!fixture.cache.find(m_broken));

        fixture.provider->setVisibleURLs({});
        QVERIFY(fixture.provider->thumbnail(m_broken, 68).isNull());
        QVERIFY(fixture.settled(m_broken));
        QCOMPARE(fixture.decoder.calls().size(), 2);
    }

    // A file that failed while it was still being written is decoded again once it changed.
    void failedFileIsRetriedOnceChanged()
    {
        Fixture fixture;
        const QByteArray jpeg = encoded(quadrants(400, 300), "jpg");
        const QUrl url = write("growing.jpg", jpeg.left(jpeg.size() / 2));
        QVERIFY(fixture.provider->thumbnail(url, 68).isNull());
        QVERIFY(!fixture.ready.wait(ThumbnailProvider::failureRecheckInterval.count() * 3)); // unchanged: not again
        QCOMPARE(fixture.decoder.calls().size(), 1);

        writeFile(url.toLocalFile(), jpeg);
        QVERIFY(fixture.ready.wait(waitMs));
        QCOMPARE(fixture.provider->thumbnail(url, 68).size(), QSize(170, 128));
        QCOMPARE(fixture.decoder.calls().size(), 2);
    }
};

QTEST_GUILESS_MAIN(TestThumbnailProvider)
#include "tst_ThumbnailProvider.moc"
