#include "DecodeDownsampled.h"
#include "TestFiles.h"
#include "TestImages.h"
#include "ThumbnailProvider.h"

#include <QMutex>
#include <QReadWriteLock>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThreadPool>

#include <atomic>
#include <map>
#include <memory>

using namespace limnoscope;
using namespace limnoscope::test;
using Slot = ThumbnailSemaphore::Slot;

namespace {

constexpr int waitMs = 10000;

QUrl urlNumber(int number)
{
    return QUrl::fromLocalFile(QStringLiteral("/pictures/%1.png").arg(number));
}

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

// The thumbnail provider, its cache and its gate of three decode slots.
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
            // A decode that does not land in time shows in the picture returned.
            static_cast<void>(QTest::qWaitFor([&] { return ready.count() == 1; }, waitMs));
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

    // Dropped while decoding or behind three others: neither shown nor cached, and every slot comes back.
    void staleResultsAreDropped_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<bool>("behindThree");
        QTest::newRow("waits for the gate, then lands") << "none" << true;
        QTest::newRow("cancelled while decoding") << "cancel" << false;
        QTest::newRow("scrolled out of view while decoding") << "visible" << false;
        QTest::newRow("cancelled while waiting for the gate") << "cancel" << true;
        QTest::newRow("provider destroyed while decoding") << "destroyed" << true;
        QTest::newRow("asked for larger while decoding") << "resize" << false;
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

        if (how == "resize") {
            (void)fixture.provider->thumbnail(m_landscape, 200);
            QTRY_COMPARE_WITH_TIMEOUT(fixture.decoder.calls().size(), 2, waitMs);
        } else if (how == "visible")
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
        const bool lands = how == "none" || how == "resize";
        QTRY_COMPARE_WITH_TIMEOUT(fixture.ready.count(), busy.size() + lands, waitMs);
        QVERIFY(fixture.settled(m_landscape));
        QCOMPARE(fixture.ready.count(), busy.size() + lands);
        QCOMPARE(fixture.gate.waiting(), 0);
        QCOMPARE(fixture.cache.find(m_landscape).has_value(), lands);
        // One that was cancelled while it waited never decodes.
        QCOMPARE(fixture.decoder.calls().size(), busy.size() + (lands || !behindThree) + (how == "resize"));
        if (lands) {
            const bool larger = how == "resize";
            QCOMPARE(fixture.provider->thumbnail(m_landscape, larger ? 200 : 68).size(),
                larger ? QSize(400, 300) : QSize(170, 128));
            return;
        }
        for (const QList<QVariant>& signal : fixture.ready)
            QVERIFY(signal.first().toUrl() != m_landscape);
        // Asked for anew, it loads again.
        QVERIFY(fixture.provider->thumbnail(m_landscape, 68).isNull());
        QTRY_COMPARE_WITH_TIMEOUT(fixture.ready.count(), busy.size() + 1, waitMs);
        QCOMPARE(fixture.provider->thumbnail(m_landscape, 68).size(), QSize(170, 128));
    }

    // A file that decodes to nothing is not tried again until it is cancelled.
    void failedFiles()
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

        // One that failed while it was still being written is decoded again once it changed.
        const QByteArray jpeg = encoded(quadrants(400, 300), "jpg");
        const QUrl url = write("growing.jpg", jpeg.left(jpeg.size() / 2));
        QVERIFY(fixture.provider->thumbnail(url, 68).isNull());
        QVERIFY(!fixture.ready.wait(ThumbnailProvider::failureRecheckInterval.count() * 3)); // unchanged: not again
        QCOMPARE(fixture.decoder.calls().size(), 3);

        writeFile(url.toLocalFile(), jpeg);
        QVERIFY(fixture.ready.wait(waitMs));
        QCOMPARE(fixture.provider->thumbnail(url, 68).size(), QSize(170, 128));
        QCOMPARE(fixture.decoder.calls().size(), 4);
    }

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
        const int each = imageSize.width() * imageSize.height() * 4;
        QCOMPARE(cache.count(), count);
        QCOMPARE(cache.totalCost(), count * each);
        for (int number = 1; number <= inserted; ++number)
            QCOMPARE(cache.find(urlNumber(number)).has_value(), !evicted.contains(number));
        if (!count)
            return;
        // The last one replaced in place, its cost counted as 32 bits a pixel whatever its format; then removed.
        const QImage smaller(imageSize / 2, QImage::Format_Grayscale8);
        cache.insert(urlNumber(inserted), smaller, 68);
        QCOMPARE(cache.count(), count);
        QCOMPARE(cache.totalCost(), (count - 1) * each + smaller.width() * smaller.height() * 4);
        QCOMPARE(cache.find(urlNumber(inserted))->image, smaller);
        QCOMPARE(cache.find(urlNumber(inserted))->decodeSize, 68);
        cache.remove(urlNumber(inserted));
        QCOMPARE(cache.totalCost(), (count - 1) * each);
        QVERIFY(!cache.find(urlNumber(inserted)));
    }

    // "ask 1 2"/"release 1" numbered slots, "events" runs the loop, "granted 1 2" grant order, "gate 3 1" running and
    // waiting; "other" asks from a context that drops its slot, "destroy" ends it, "calls 1" counts its grants;
    // "copy 1 3" makes three copies of slot 1, "drop" destroys one, "twice" releases one twice.
    void grants_data()
    {
        QTest::addColumn<QString>("steps");
        QTest::newRow("three run, the rest wait, first in first out")
            << "ask 1 2 3 4 5 6 | granted 1 2 3 | gate 3 3 | release 2 | granted 1 2 3 4 | release 1 3 "
               "| granted 1 2 3 4 5 6 | gate 3 0";
        QTest::newRow("a caller arriving before the waiter resumes takes the freed slot")
            << "ask 1 2 3 4 | release 1 | ask 5 6 | granted 1 2 3 5 | events | granted 1 2 3 5 | gate 3 2 "
               "| release 2 | granted 1 2 3 5 4 | release 3 | granted 1 2 3 5 4 6";
        QTest::newRow("waiter drops its slot")
            << "ask 1 2 3 | other | ask 4 | gate 3 2 | release 1 | granted 1 2 3 4 | calls 1 | gate 3 0";
        QTest::newRow("context destroyed while waiting")
            << "ask 1 2 3 | other | ask 4 | destroy | gate 3 1 | release 1 | granted 1 2 3 4 | calls 0";
        QTest::newRow("context destroyed while its resumption is on its way")
            << "ask 1 2 3 | other | ask 4 | release 1 | destroy | granted 1 2 3 4 | calls 0 | gate 3 0";
        QTest::newRow("one copy destroyed") << "ask 1 2 | copy 1 1 | drop | gate 1 0";
        QTest::newRow("three copies destroyed one by one")
            << "ask 1 2 | copy 1 3 | drop | drop | gate 2 0 | drop | gate 1 0";
        QTest::newRow("three copies, each released twice")
            << "ask 1 2 | copy 1 3 | twice | twice | gate 2 0 | twice | gate 1 0";
    }

    void grants()
    {
        QFETCH(QString, steps);
        ThumbnailSemaphore gate;
        QList<int> granted;
        std::map<int, Slot> held;
        std::vector<Slot> copies;
        auto other = std::make_unique<QObject>();
        int calls = 0;
        for (const QString& step : steps.split(u'|')) {
            QStringList words = step.split(u' ', Qt::SkipEmptyParts);
            const QString verb = words.takeFirst();
            QList<int> numbers;
            for (const QString& word : words)
                numbers.append(word.toInt());
            if (verb == "ask") {
                for (int number : numbers)
                    gate.wait(this, [&granted, &held, number](Slot slot) {
                        granted.append(number);
                        held[number] = std::move(slot);
                    });
            } else if (verb == "release") {
                for (int number : numbers)
                    held.erase(number);
            } else if (verb == "events") {
                QCoreApplication::processEvents();
            } else if (verb == "granted") {
                QTRY_COMPARE_WITH_TIMEOUT(granted, numbers, waitMs);
            } else if (verb == "gate") {
                QCOMPARE(QList<int>({ gate.running(), gate.waiting() }), numbers);
            } else if (verb == "other") {
                gate.wait(other.get(), [&calls](Slot) { ++calls; });
            } else if (verb == "destroy") {
                other.reset();
            } else if (verb == "copy") {
                copies.assign(size_t(numbers.value(1)), held[numbers.value(0)]);
                held.erase(numbers.value(0));
            } else if (verb == "drop" || verb == "twice") {
                QVERIFY(copies.back().isHeld());
                verb == "twice" ? (copies.back().release(), copies.back().release()) : void(copies.back() = Slot());
                QVERIFY(!copies.back().isHeld());
                copies.pop_back();
            } else {
                QCOMPARE(verb, "calls");
                QCOMPARE(calls, numbers.value(0));
            }
        }
        held.clear();
        QCOMPARE(gate.running(), 0);
    }

    // Slots released on worker threads; never more than three holders at once.
    void workersNeverExceedTheLimit()
    {
        constexpr int jobs = 60;
        ThumbnailSemaphore gate;
        QThreadPool workers;
        workers.setMaxThreadCount(8);
        std::atomic<int> inside = 0;
        std::atomic<int> mostInside = 0;
        std::atomic<int> finished = 0;
        for (int job = 0; job < jobs; ++job) {
            gate.wait(this, [&](Slot slot) {
                workers.start([&, slot]() mutable {
                    const int now = ++inside;
                    int seen = mostInside.load();
                    while (now > seen && !mostInside.compare_exchange_weak(seen, now)) { }
                    QThread::usleep(2000); // stands for a decode
                    --inside;
                    slot.release();
                    ++finished;
                });
            });
        }
        QTRY_COMPARE_WITH_TIMEOUT(finished.load(), jobs, 20000);
        workers.waitForDone();
        QCOMPARE(gate.running(), 0);
        QCOMPARE(gate.waiting(), 0);
        QCOMPARE(mostInside.load(), ThumbnailSemaphore::limit);
    }
};

QTEST_GUILESS_MAIN(TestThumbnailProvider)
#include "tst_ThumbnailProvider.moc"
