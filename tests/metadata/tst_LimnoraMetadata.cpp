#include "LimnoraMetadata.h"

#include <QSet>
#include <QTest>

using namespace limnoscope;

class TestLimnoraMetadata : public QObject
{
    Q_OBJECT

private slots:
    void listingOrder_data()
    {
        QTest::addColumn<QStringList>("keysInTextOrder");
        QTest::addColumn<QStringList>("expectedOrder");

        QTest::newRow("catalogue keys in catalogue order")
            << QStringList{"Seed", "Model"} << QStringList{"Model", "Seed"};
        QTest::newRow("all thirteen reversed")
            << QStringList{"Batch Size", "Batch Count", "Strategic Stochastic Sampling", "Hires Fix", "Seed Mode",
                           "Shift", "Strength", "Size", "Seed", "Guidance Scale", "Steps", "Sampler", "Model"}
            << QStringList{"Model", "Sampler", "Steps", "Guidance Scale", "Seed", "Size", "Strength", "Shift",
                           "Seed Mode", "Hires Fix", "Strategic Stochastic Sampling", "Batch Count", "Batch Size"};
        QTest::newRow("only unknown keys keep their order")
            << QStringList{"Zeta", "Alpha", "Mid"} << QStringList{"Zeta", "Alpha", "Mid"};
        QTest::newRow("unknown keys after the catalogue")
            << QStringList{"Upscaler", "Steps", "Sharpness", "Model"}
            << QStringList{"Model", "Steps", "Upscaler", "Sharpness"};
        QTest::newRow("keys compared exactly") << QStringList{"steps", "Steps"} << QStringList{"Steps", "steps"};
        QTest::newRow("empty") << QStringList{} << QStringList{};
    }

    void listingOrder()
    {
        QFETCH(QStringList, keysInTextOrder);
        QFETCH(QStringList, expectedOrder);
        SettingsMap settings;
        for (const QString &key : keysInTextOrder)
            settings.insert(key, key + QStringLiteral(" value"));

        const QList<SettingItem> items = orderedSettingItems(settings);
        QStringList keys;
        QSet<QUuid> ids;
        for (const SettingItem &item : items) {
            keys.append(item.key);
            QCOMPARE(item.value, item.key + QStringLiteral(" value"));
            ids.insert(item.id);
        }
        QCOMPARE(keys, expectedOrder);
        QCOMPARE(ids.size(), items.size());
    }

    void repeatedKeyKeepsPlaceAndLastValue()
    {
        SettingsMap settings;
        settings.insert("Alpha", "1");
        settings.insert("Beta", "2");
        settings.insert("Alpha", "3");
        QCOMPARE(settings.size(), 2);
        QCOMPARE(settings.entries().first(), qMakePair(QString("Alpha"), QString("3")));
    }

    void samplerCodes_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("code");
        QTest::newRow("exact DPM++ 2M Karras") << "DPM++ 2M Karras" << 0;
        QTest::newRow("lower-case DPM++ 2M Karras") << "dpm++ 2m karras" << 0;
        QTest::newRow("Euler a mixed case") << "Euler a" << 1;
        QTest::newRow("bare Euler is Euler A Trailing") << "Euler" << 10;
        QTest::newRow("unknown Heun") << "Heun" << 17;
        QTest::newRow("empty") << "" << 17;
        QTest::newRow("exact TCD Trailing") << "TCD Trailing" << 19;
        QTest::newRow("tcd trailing before tcd") << "My TCD trailing v2" << 19;
        QTest::newRow("tcd") << "tcd fast" << 9;
        QTest::newRow("unipc trailing") << "unipc trailing" << 17;
        QTest::newRow("unipc ays") << "UNIPC AYS" << 18;
        QTest::newRow("unipc") << "unipc++" << 5;
        QTest::newRow("lcm") << "lcm turbo" << 6;
        QTest::newRow("euler a substep") << "EULER A SUBSTEP" << 7;
        QTest::newRow("euler a ays") << "euler a ays x" << 13;
        QTest::newRow("ddim trailing") << "ddim trailing" << 16;
        QTest::newRow("ddim") << "Ddim" << 2;
        QTest::newRow("plms") << "plms" << 3;
        QTest::newRow("dpm++ sde substep") << "dpm++ sde substep" << 8;
        QTest::newRow("dpm++ sde trailing") << "DPM++ sde trailing" << 11;
        QTest::newRow("dpm++ sde ays") << "dpm++ SDE ays" << 14;
        QTest::newRow("dpm++ sde") << "dpm++ sde" << 4;
        QTest::newRow("dpm++ 2m ays") << "dpm++ 2M ays" << 12;
        QTest::newRow("dpm++ 2m trailing") << "dpm++ 2m trailing" << 15;
        QTest::newRow("dpm++ 2m") << "dpm++ 2m" << 0;
        QTest::newRow("every exact name") << "DPM++ SDE AYS" << 14;
    }

    void samplerCodes()
    {
        QFETCH(QString, name);
        QFETCH(int, code);
        QCOMPARE(samplerIndex(name), code);
    }

    void seedModes_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("code"); // -1: not in the table
        QTest::newRow("Legacy") << "Legacy" << 0;
        QTest::newRow("Torch CPU") << "Torch CPU" << 1;
        QTest::newRow("Scale Alike") << "Scale Alike" << 2;
        QTest::newRow("NVIDIA") << "NVIDIA" << 3;
        QTest::newRow("lower case is unknown") << "scale alike" << -1;
        QTest::newRow("Random") << "Random" << -1;
    }

    void seedModes()
    {
        QFETCH(QString, name);
        QFETCH(int, code);
        QCOMPARE(seedModeIndex(name).value_or(-1), code);
    }
};

QTEST_GUILESS_MAIN(TestLimnoraMetadata)
#include "tst_LimnoraMetadata.moc"
