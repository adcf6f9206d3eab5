#include "LimnoraAPI.h"
#include "TestHttpServer.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

using namespace limnoscope;
using limnoscope::test::unusedLocalPort;

namespace {
constexpr int probeWaitMs = 4500; // one interval plus room for a busy machine
} // namespace

class LimnoraAPIProbeTest : public QObject
{
    Q_OBJECT

private slots:
    // Probes run at once and then every 3 s; none finds a listener, so nothing changes.
    void staysUnavailable()
    {
        const quint16 port = unusedLocalPort();
        QElapsedTimer clock;
        clock.start();
        LimnoraAPIService service(port);
        QSignalSpy changed(&service, &LimnoraAPIService::isAvailableChanged);
        QList<qint64> probeTimes;
        connect(&service, &LimnoraAPIService::availabilityChecked, this, [&](bool open) {
            QVERIFY(!open);
            probeTimes.append(clock.elapsed());
        });

        QTRY_COMPARE_WITH_TIMEOUT(probeTimes.size(), 2, 2 * probeWaitMs);
        QVERIFY2(probeTimes[0] < 1000, "the first probe runs at once");
        QVERIFY2(probeTimes[1] - probeTimes[0] >= 3000, "probes are 3 s apart");
        QCOMPARE(changed.count(), 0);
        QVERIFY(!service.isAvailable());
        QCOMPARE(service.activePort(), qint64(port));
    }

    void listenerComesAndGoes()
    {
        const quint16 port = unusedLocalPort();
        LimnoraAPIService service(port);
        QSignalSpy changed(&service, &LimnoraAPIService::isAvailableChanged);
        QSignalSpy checked(&service, &LimnoraAPIService::availabilityChecked);
        QTRY_COMPARE(checked.count(), 1);
        QVERIFY(!service.isAvailable());

        // A listener that accepts and never says a word, as a server that is not HTTP would.
        QTcpServer listener;
        QList<QTcpSocket*> accepted;
        connect(&listener, &QTcpServer::newConnection, this, [&] {
            while (QTcpSocket* socket = listener.nextPendingConnection())
                accepted.append(socket);
        });
        QVERIFY(listener.listen(QHostAddress::LocalHost, port));
        QElapsedTimer clock;
        clock.start();
        QTRY_VERIFY_WITH_TIMEOUT(service.isAvailable(), probeWaitMs);
        QVERIFY(clock.elapsed() <= 3500);
        QCOMPARE(changed.count(), 1);
        QCOMPARE(changed.at(0).at(0).toBool(), true);
        QCOMPARE(service.activePort(), qint64(port));

        // The probe sends nothing and hangs up at once.
        QTRY_VERIFY(!accepted.isEmpty());
        QTRY_COMPARE(accepted.first()->state(), QAbstractSocket::UnconnectedState);
        QCOMPARE(accepted.first()->readAll(), QByteArray());

        const qsizetype probesWhileUp = checked.count();
        QTRY_VERIFY_WITH_TIMEOUT(checked.count() > probesWhileUp, probeWaitMs);
        QCOMPARE(changed.count(), 1); // still available: not signalled again

        listener.close();
        QTRY_VERIFY_WITH_TIMEOUT(!service.isAvailable(), probeWaitMs);
        QCOMPARE(changed.count(), 2);
        QCOMPARE(changed.at(1).at(0).toBool(), false);
        QCOMPARE(service.activePort(), qint64(port));
    }

    void connectAttemptIsBounded()
    {
        // A listener whose queue is full lets new connection attempts hang unanswered.
        QTcpServer stuck;
        stuck.setListenBacklogSize(0);
        QVERIFY(stuck.listen(QHostAddress::LocalHost, 0));
        stuck.pauseAccepting();
        std::vector<std::unique_ptr<QTcpSocket>> fillers;
        for (int i = 0; i < 4; ++i) {
            fillers.push_back(std::make_unique<QTcpSocket>());
            fillers.back()->connectToHost(QHostAddress::LocalHost, stuck.serverPort());
        }
        QTest::qWait(200); // let the handshakes that can complete fill the queue

        LimnoraAPIService service(unusedLocalPort());
        QElapsedTimer clock;
        clock.start();
        QFuture<bool> probe = service.checkTCPPort(stuck.serverPort());
        QVERIFY2(clock.elapsed() < 100, "the probe never blocks its caller");
        QTRY_VERIFY_WITH_TIMEOUT(probe.isFinished(), 3000);
        const qint64 took = clock.elapsed();
        if (took < 1000 && probe.result())
            QSKIP("this kernel accepted the connection despite the full queue");
        QVERIFY(!probe.result());
        QVERIFY2(took >= 1400 && took < 2500, qPrintable(QString::number(took)));
    }
};

QTEST_GUILESS_MAIN(LimnoraAPIProbeTest)
#include "tst_LimnoraAPIProbe.moc"
