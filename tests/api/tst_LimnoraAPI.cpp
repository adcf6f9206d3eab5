#include "LimnoraAPI.h"
#include "TestHttpServer.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <limits>

using namespace limnoscope;
using limnoscope::test::unusedLocalPort;

namespace {

constexpr int probeWaitMs = 4500; // one interval plus room for a busy machine

using Settings = QList<QPair<QString, QString>>;

LimnoraMetadata record(const Settings& settings, const QList<LoraEntry>& loras = {})
{
    LimnoraMetadata metadata;
    metadata.prompt = QStringLiteral("a lake at dawn");
    metadata.negativePrompt = QStringLiteral("blurry");
    for (const auto& [key, value] : settings)
        metadata.settings.insert(key, value);
    metadata.loras = loras;
    metadata.rawSettingsString = QStringLiteral("Steps: 30");
    metadata.renderDuration = 12.5;
    return metadata;
}

QJsonObject parse(const QByteArray& body)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        qFatal("not a JSON object: %s", body.constData());
    return document.object();
}

LoraEntry lora(const QString& file, double weight, const QString& mode = {})
{
    LoraEntry entry { .file = file, .weight = weight };
    if (!mode.isEmpty())
        entry.mode = mode;
    return entry;
}

} // namespace

Q_DECLARE_METATYPE(limnoscope::LimnoraMetadata)

// The txt2img request body and the probe of Limnora's port.
class LimnoraAPITest : public QObject
{
    Q_OBJECT

private slots:
    // Probes run at once and then every 3 s; a closed port changes nothing, a listener comes and goes.
    void listenerComesAndGoes()
    {
        const quint16 port = unusedLocalPort();
        QElapsedTimer clock;
        clock.start();
        LimnoraAPIService service(port);
        QSignalSpy changed(&service, &LimnoraAPIService::isAvailableChanged);
        QSignalSpy checked(&service, &LimnoraAPIService::availabilityChecked);
        QList<qint64> probeTimes;
        connect(&service, &LimnoraAPIService::availabilityChecked, this, [&] { probeTimes.append(clock.elapsed()); });
        QTRY_COMPARE_WITH_TIMEOUT(checked.count(), 2, 2 * probeWaitMs);
        QVERIFY2(probeTimes[0] < 1000, "the first probe runs at once");
        QVERIFY2(probeTimes[1] - probeTimes[0] >= 3000, "probes are 3 s apart");
        QCOMPARE(QVariantList({ checked.at(0).at(0), checked.at(1).at(0) }), QVariantList({ false, false }));
        QCOMPARE(changed.count(), 0);
        QVERIFY(!service.isAvailable());

        // A listener that accepts and never says a word, as a server that is not HTTP would.
        QTcpServer listener;
        QList<QTcpSocket*> accepted;
        connect(&listener, &QTcpServer::newConnection, this, [&] {
            while (QTcpSocket* socket = listener.nextPendingConnection())
                accepted.append(socket);
        });
        QVERIFY(listener.listen(QHostAddress::LocalHost, port));
        clock.restart();
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

    // Settings that are not exactly a number (or a size) of their kind are left out.
    void settings_data()
    {
        QTest::addColumn<QString>("settings"); // "Key=value|Key=value"
        QTest::addColumn<QString>("expected"); // members beyond prompt, negative_prompt and loras

        const auto row = [](const QString& settings, const char* expected) {
            QTest::addRow("%s", qPrintable(settings)) << settings << QString::fromUtf8(expected);
        };
        row("Steps=30", R"("steps":30)");
        row("Steps=+30", R"("steps":30)");
        row("Steps=-2", R"("steps":-2)");
        row("Seed=4294967295", R"("seed":4294967295)");
        row("Seed=-0", R"("seed":0)");
        row("Guidance Scale=4.5", R"("guidance_scale":4.5)");
        row("Shift=1e-1", R"("shift":0.1)");
        row("Sampler= DPM++ 2M Karras |Model=flux_1_dev_q8p.ckpt|Seed Mode=Legacy",
            R"("sampler":" DPM++ 2M Karras ","model":"flux_1_dev_q8p.ckpt","seed_mode":"Legacy")");
        row("Batch Count=2|Batch Size=4", R"("batch_count":2,"batch_size":4)");
        row("Size=896 x 1152", R"("width":896,"height":1152)");
        row("Size=1024x768", R"("width":1024,"height":768)");
        row("Size=\t512\tx 640 ", R"("width":512,"height":640)");
        for (const char* bad :
            { "Steps=30.0", "Steps= 30", "Steps=30 ", "Steps=", "Steps=9223372036854775808", "Seed=-1", "Seed=1e3",
                "Seed=18446744073709551616", "Guidance Scale=4,5", "Guidance Scale=4.5 ", "Guidance Scale=nan",
                "Batch Size=1.5", "Size=1024", "Size=1024X768", "Size=1024×768", "Size=1x2x3", "Size=1024xabc" })
            row(QString::fromUtf8(bad), "");
    }

    void settings()
    {
        QFETCH(QString, settings);
        QFETCH(QString, expected);
        Settings pairs;
        for (const QString& pair : settings.split(u'|'))
            pairs.append({ pair.section(u'=', 0, 0), pair.section(u'=', 1) });
        QJsonObject members = parse("{" + expected.toUtf8() + "}");
        if (!members.contains("seed_mode"))
            members.insert("seed_mode", "Scale Alike");
        QJsonObject body = parse(txt2imgBody(record(pairs)));
        QCOMPARE(body.take("prompt"), QJsonValue("a lake at dawn"));
        QCOMPARE(body.take("negative_prompt"), QJsonValue("blurry"));
        QCOMPARE(body.take("loras"), QJsonValue(QJsonArray()));
        QCOMPARE(body, members);
    }

    // The exact bytes: members in order, numbers as written (above 2^53 a double would round,
    // above 2^63 - 1 a signed integer would not fit), no spaces.
    void wholeBody_data()
    {
        QTest::addColumn<LimnoraMetadata>("metadata");
        QTest::addColumn<QByteArray>("body");
        QTest::newRow("empty record")
            << LimnoraMetadata()
            << QByteArray(R"({"prompt":"","negative_prompt":"","seed_mode":"Scale Alike","loras":[]})");
        QTest::newRow("every member")
            << record({ { "Size", "8x16" }, { "Batch Size", "1" }, { "Batch Count", "2" }, { "Model", "m" },
                          { "Shift", "1.5" }, { "Sampler", "s" }, { "Seed", "18446744073709551615" },
                          { "Guidance Scale", "4.5" }, { "Steps", "30" }, { "Seed Mode", "Legacy" } },
                   { lora("detail_tweaker.safetensors", 0.6, "base"), lora("style.ckpt", -1.25) })
            << QByteArray(
                   R"({"prompt":"a lake at dawn","negative_prompt":"blurry","steps":30,"guidance_scale":4.5,)"
                   R"("seed":18446744073709551615,"seed_mode":"Legacy","sampler":"s","shift":1.5,"model":"m",)"
                   R"("batch_count":2,"batch_size":1,"width":8,"height":16,"loras":[{"file":"detail_tweaker.)"
                   R"(safetensors","weight":0.6,"mode":"base"},{"file":"style.ckpt","weight":-1.25,"mode":"all"}]})");
        QTest::newRow("seed above 2^53") << record({ { "Seed", "9007199254740993" } })
                                         << QByteArray(
                                                R"({"prompt":"a lake at dawn","negative_prompt":"blurry",)"
                                                R"("seed":9007199254740993,"seed_mode":"Scale Alike","loras":[]})");
        LimnoraMetadata escaped;
        escaped.prompt = QStringLiteral("say \"hi\"\\ \n\ttab \x01 é 🌅 </script>");
        escaped.negativePrompt = QStringLiteral("😀");
        QTest::newRow("texts escaped") << escaped
                                       << QByteArray(
                                              "{\"prompt\":\"say \\\"hi\\\"\\\\ \\n\\ttab \\u0001 é 🌅 </script>\","
                                              R"("negative_prompt":"😀","seed_mode":"Scale Alike","loras":[]})");
        for (double weight : { std::numeric_limits<double>::infinity(), std::numeric_limits<double>::quiet_NaN() })
            QTest::addRow("lora weight %f fails", weight) << record({}, { lora("x", weight) }) << QByteArray();
    }

    void wholeBody()
    {
        QFETCH(LimnoraMetadata, metadata);
        QTEST(txt2imgBody(metadata), "body");
    }
};

QTEST_GUILESS_MAIN(LimnoraAPITest)
#include "tst_LimnoraAPI.moc"
