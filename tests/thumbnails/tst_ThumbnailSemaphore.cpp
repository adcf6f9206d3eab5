#include "ThumbnailSemaphore.h"

#include <QSignalSpy>
#include <QTest>
#include <QThreadPool>

#include <atomic>
#include <map>
#include <memory>

using namespace limnoscope;
using Slot = ThumbnailSemaphore::Slot;

namespace {

// Asks a gate for numbered slots and keeps them until told to release them.
class Requests
{
public:
    explicit Requests(ThumbnailSemaphore& gate)
        : m_gate(gate)
    {
    }

    void ask(int number, QObject* context)
    {
        m_gate.wait(context, [this, number](Slot slot) {
            granted.append(number);
            m_held[number] = std::move(slot);
        });
    }
    void release(int number) { m_held.erase(number); }

    QList<int> granted;

private:
    ThumbnailSemaphore& m_gate;
    std::map<int, Slot> m_held;
};

} // namespace

class TestThumbnailSemaphore : public QObject
{
    Q_OBJECT

private slots:
    void threeRunAndTheRestWaitFirstInFirstOut()
    {
        ThumbnailSemaphore gate;
        Requests requests(gate);
        for (int number = 1; number <= 6; ++number)
            requests.ask(number, this);
        QCOMPARE(requests.granted, (QList<int> { 1, 2, 3 }));
        QCOMPARE(gate.running(), 3);
        QCOMPARE(gate.waiting(), 3);

        requests.release(2);
        QTRY_COMPARE_WITH_TIMEOUT(requests.granted, (QList<int> { 1, 2, 3, 4 }), 5000);
        requests.release(1);
        requests.release(3);
        QTRY_COMPARE_WITH_TIMEOUT(requests.granted, (QList<int> { 1, 2, 3, 4, 5, 6 }), 5000);
        QCOMPARE(gate.running(), 3);
        QCOMPARE(gate.waiting(), 0);
        for (int number : { 4, 5, 6 })
            requests.release(number);
        QCOMPARE(gate.running(), 0);
    }

    // A released slot's waiter is resumed from the event loop; whoever asks before it runs may
    // take the slot, and the waiter then stays first in line without exceeding the limit.
    void callerArrivingInBetweenTakesTheFreedSlot()
    {
        ThumbnailSemaphore gate;
        Requests requests(gate);
        for (int number = 1; number <= 4; ++number)
            requests.ask(number, this);
        requests.release(1);
        requests.ask(5, this);
        requests.ask(6, this);
        QCOMPARE(requests.granted, (QList<int> { 1, 2, 3, 5 }));

        QCoreApplication::processEvents();
        QCOMPARE(requests.granted, (QList<int> { 1, 2, 3, 5 }));
        QCOMPARE(gate.running(), 3);
        QCOMPARE(gate.waiting(), 2);

        requests.release(2);
        QTRY_COMPARE_WITH_TIMEOUT(requests.granted, (QList<int> { 1, 2, 3, 5, 4 }), 5000);
        requests.release(3);
        QTRY_COMPARE_WITH_TIMEOUT(requests.granted, (QList<int> { 1, 2, 3, 5, 4, 6 }), 5000);
        for (int number : { 4, 5, 6 })
            requests.release(number);
        QCOMPARE(gate.running(), 0);
    }

    void slotIsReleasedExactlyOnce_data()
    {
        QTest::addColumn<int>("copies");
        QTest::addColumn<bool>("releaseExplicitly");

        QTest::newRow("one holder, destroyed") << 1 << false;
        QTest::newRow("one holder, released then destroyed") << 1 << true;
        QTest::newRow("three copies, destroyed one by one") << 3 << false;
        QTest::newRow("three copies, each released twice") << 3 << true;
    }

    void slotIsReleasedExactlyOnce()
    {
        QFETCH(int, copies);
        QFETCH(bool, releaseExplicitly);

        ThumbnailSemaphore gate;
        Slot kept;
        gate.wait(this, [&kept](Slot slot) { kept = std::move(slot); });
        Slot other;
        gate.wait(this, [&other](Slot slot) { other = std::move(slot); });
        QCOMPARE(gate.running(), 2);

        std::vector<Slot> holders(size_t(copies), kept);
        kept = Slot();
        for (Slot& holder : holders) {
            QCOMPARE(gate.running(), 2);
            QVERIFY(holder.isHeld());
            if (releaseExplicitly) {
                holder.release();
                holder.release();
            } else {
                holder = Slot();
            }
            QVERIFY(!holder.isHeld());
        }
        QCOMPARE(gate.running(), 1);
        other.release();
        QCOMPARE(gate.running(), 0);
    }

    // A waiter that no longer wants its slot gives it back at once, and the next one is served.
    void unwantedWaiterPassesStraightThrough()
    {
        ThumbnailSemaphore gate;
        Requests requests(gate);
        for (int number = 1; number <= 3; ++number)
            requests.ask(number, this);
        int passedThrough = 0;
        gate.wait(this, [&passedThrough](Slot) { ++passedThrough; });
        requests.ask(4, this);

        requests.release(1);
        QTRY_COMPARE_WITH_TIMEOUT(requests.granted, (QList<int> { 1, 2, 3, 4 }), 5000);
        QCOMPARE(passedThrough, 1);
        QCOMPARE(gate.running(), 3);
        for (int number : { 2, 3, 4 })
            requests.release(number);
    }

    void destroyedContextPassesItsTurnOn_data()
    {
        QTest::addColumn<bool>("alreadyResumed");

        QTest::newRow("destroyed while waiting") << false;
        QTest::newRow("destroyed while its resumption is on its way") << true;
    }

    void destroyedContextPassesItsTurnOn()
    {
        QFETCH(bool, alreadyResumed);

        ThumbnailSemaphore gate;
        Requests requests(gate);
        for (int number = 1; number <= 3; ++number)
            requests.ask(number, this);
        auto doomed = std::make_unique<QObject>();
        bool doomedGranted = false;
        gate.wait(doomed.get(), [&doomedGranted](Slot) { doomedGranted = true; });
        requests.ask(4, this);
        QCOMPARE(gate.waiting(), 2);

        if (alreadyResumed) {
            requests.release(1);
            doomed.reset();
        } else {
            doomed.reset();
            QCOMPARE(gate.waiting(), 1);
            requests.release(1);
        }
        QTRY_COMPARE_WITH_TIMEOUT(requests.granted, (QList<int> { 1, 2, 3, 4 }), 5000);
        QVERIFY(!doomedGranted);
        QCOMPARE(gate.running(), 3);
        for (int number : { 2, 3, 4 })
            requests.release(number);
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

QTEST_GUILESS_MAIN(TestThumbnailSemaphore)
#include "tst_ThumbnailSemaphore.moc"
