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
} // namespace

class TestThumbnailSemaphore : public QObject
{
    Q_OBJECT

private slots:
    // Steps separated by "|": "ask 1 2" asks for numbered slots and keeps them, "release 1"
    // gives them back, "events" runs the event loop once, "granted 1 2" is the order of grants so
    // far, "gate 3 1" the slots running and waiting; "other" asks in between from a context of
    // its own whose grant drops the slot at once, "destroy" destroys that context, "calls 1"
    // counts its grants. Every slot is given back at the end.
    void grants_data()
    {
        QTest::addColumn<QString>("steps");
        QTest::newRow("three run, the rest wait, first in first out")
            << "ask 1 2 3 4 5 6 | granted 1 2 3 | gate 3 3 | release 2 | granted 1 2 3 4 | release 1 3 "
               "| granted 1 2 3 4 5 6 | gate 3 0";
        // A released slot's waiter is resumed from the event loop; whoever asks before it runs
        // may take the slot, and the waiter then stays first in line without exceeding the limit.
        QTest::newRow("a caller arriving in between takes the freed slot")
            << "ask 1 2 3 4 | release 1 | ask 5 6 | granted 1 2 3 5 | events | granted 1 2 3 5 | gate 3 2 "
               "| release 2 | granted 1 2 3 5 4 | release 3 | granted 1 2 3 5 4 6";
        // A waiter that drops its slot or whose context goes passes its turn on.
        QTest::newRow("waiter drops its slot")
            << "ask 1 2 3 | other | ask 4 | gate 3 2 | release 1 | granted 1 2 3 4 | calls 1 | gate 3 0";
        QTest::newRow("context destroyed while waiting")
            << "ask 1 2 3 | other | ask 4 | destroy | gate 3 1 | release 1 | granted 1 2 3 4 | calls 0";
        QTest::newRow("context destroyed while its resumption is on its way")
            << "ask 1 2 3 | other | ask 4 | release 1 | destroy | granted 1 2 3 4 | calls 0 | gate 3 0";
    }

    void grants()
    {
        QFETCH(QString, steps);
        ThumbnailSemaphore gate;
        QList<int> granted;
        std::map<int, Slot> held;
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
                QTRY_COMPARE_WITH_TIMEOUT(granted, numbers, grantWaitMs);
            } else if (verb == "gate") {
                QCOMPARE(QList<int>({ gate.running(), gate.waiting() }), numbers);
            } else if (verb == "other") {
                gate.wait(other.get(), [&calls](Slot) { ++calls; });
            } else if (verb == "destroy") {
                other.reset();
            } else {
                QCOMPARE(verb, "calls");
                QCOMPARE(calls, numbers.value(0));
            }
        }
        held.clear();
        QCOMPARE(gate.running(), 0);
    }

    void slotIsReleasedExactlyOnce_data()
    {
        QTest::addColumn<int>("copies");
        QTest::addColumn<bool>("releaseExplicitly"); // twice each, else destroyed
        QTest::newRow("one holder, destroyed") << 1 << false;
        QTest::newRow("three copies, destroyed one by one") << 3 << false;
        QTest::newRow("three copies, each released twice") << 3 << true;
    }

    void slotIsReleasedExactlyOnce()
    {
        QFETCH(int, copies);
        QFETCH(bool, releaseExplicitly);
        ThumbnailSemaphore gate;
        Slot kept;
        Slot other;
        gate.wait(this, [&kept](Slot slot) { kept = std::move(slot); });
        gate.wait(this, [&other](Slot slot) { other = std::move(slot); });
        std::vector<Slot> holders(size_t(copies), kept);
        kept = Slot();
        for (Slot& holder : holders) {
            QCOMPARE(gate.running(), 2);
            QVERIFY(holder.isHeld());
            releaseExplicitly ? (holder.release(), holder.release()) : void(holder = Slot());
            QVERIFY(!holder.isHeld());
        }
        QCOMPARE(gate.running(), 1);
        other.release();
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
