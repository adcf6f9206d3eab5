#include "ThumbnailSemaphore.h"

#include <QTest>
#include <QThreadPool>

#include <atomic>
#include <map>
#include <memory>

using namespace limnoscope;
using Slot = ThumbnailSemaphore::Slot;

namespace {

constexpr int grantWaitMs = 5000;

// Asks a gate for numbered slots and keeps them until told to release them.
class Requests
{
public:
    explicit Requests(ThumbnailSemaphore& gate)
        : m_gate(gate)
    {
    }
    void ask(QObject* context, std::initializer_list<int> numbers)
    {
        for (int number : numbers)
            m_gate.wait(context, [this, number](Slot slot) {
                granted.append(number);
                m_held[number] = std::move(slot);
            });
    }
    void release(std::initializer_list<int> numbers)
    {
        for (int number : numbers)
            m_held.erase(number);
    }
    void releaseAll() { m_held.clear(); }

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
        requests.ask(this, { 1, 2, 3, 4, 5, 6 });
        QCOMPARE(requests.granted, (QList<int> { 1, 2, 3 }));
        QCOMPARE(gate.running(), 3);
        QCOMPARE(gate.waiting(), 3);

        requests.release({ 2 });
        QTRY_COMPARE_WITH_TIMEOUT(requests.granted, (QList<int> { 1, 2, 3, 4 }), grantWaitMs);
        requests.release({ 1, 3 });
        QTRY_COMPARE_WITH_TIMEOUT(requests.granted, (QList<int> { 1, 2, 3, 4, 5, 6 }), grantWaitMs);
        QCOMPARE(gate.running(), 3);
        QCOMPARE(gate.waiting(), 0);
        requests.releaseAll();
        QCOMPARE(gate.running(), 0);
    }

    // A released slot's waiter is resumed from the event loop; whoever asks before it runs may
    // take the slot, and the waiter then stays first in line without exceeding the limit.
    void callerArrivingInBetweenTakesTheFreedSlot()
    {
        ThumbnailSemaphore gate;
        Requests requests(gate);
        requests.ask(this, { 1, 2, 3, 4 });
        requests.release({ 1 });
        requests.ask(this, { 5, 6 });
        QCOMPARE(requests.granted, (QList<int> { 1, 2, 3, 5 }));
        QCoreApplication::processEvents();
        QCOMPARE(requests.granted, (QList<int> { 1, 2, 3, 5 }));
        QCOMPARE(gate.running(), 3);
        QCOMPARE(gate.waiting(), 2);

        requests.release({ 2 });
        QTRY_COMPARE_WITH_TIMEOUT(requests.granted, (QList<int> { 1, 2, 3, 5, 4 }), grantWaitMs);
        requests.release({ 3 });
        QTRY_COMPARE_WITH_TIMEOUT(requests.granted, (QList<int> { 1, 2, 3, 5, 4, 6 }), grantWaitMs);
        requests.releaseAll();
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

    // A waiter between 3 and 4 that drops its slot, or whose context is destroyed, passes its
    // turn on to 4 without ever exceeding the limit.
    void skippedWaiterPassesItsTurnOn_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("granted and drops the slot") << "drops";
        QTest::newRow("context destroyed while waiting") << "destroyed";
        QTest::newRow("context destroyed while its resumption is on its way") << "destroyed when resumed";
    }

    void skippedWaiterPassesItsTurnOn()
    {
        QFETCH(QString, how);

        ThumbnailSemaphore gate;
        Requests requests(gate);
        requests.ask(this, { 1, 2, 3 });
        auto context = std::make_unique<QObject>();
        int calls = 0;
        gate.wait(context.get(), [&calls](Slot) { ++calls; });
        requests.ask(this, { 4 });
        QCOMPARE(gate.waiting(), 2);

        if (how == "destroyed") {
            context.reset();
            QCOMPARE(gate.waiting(), 1);
        }
        requests.release({ 1 });
        if (how == "destroyed when resumed")
            context.reset();
        QTRY_COMPARE_WITH_TIMEOUT(requests.granted, (QList<int> { 1, 2, 3, 4 }), grantWaitMs);
        QCOMPARE(calls, how == "drops" ? 1 : 0);
        QCOMPARE(gate.running(), 3);
        requests.releaseAll();
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
