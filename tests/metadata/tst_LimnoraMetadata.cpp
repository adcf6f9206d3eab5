#include "LimnoraMetadata.h"

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

        QTest::newRow("catalogue keys in catalogue order") << QStringList { "Batch Size", "Hires Fix", "Seed",
            "Guidance Scale", "Model" } << QStringList { "Model", "Guidance Scale", "Seed", "Hires Fix", "Batch Size" };
        QTest::newRow("unknown keys after the catalogue, in text order") << QStringList { "Upscaler", "Steps", "Alpha",
            "Model" } << QStringList { "Model", "Steps", "Upscaler", "Alpha" };
        QTest::newRow("keys compared exactly") << QStringList { "steps", "Steps" } << QStringList { "Steps", "steps" };
        QTest::newRow("repeated key keeps its place and last value")
            << QStringList { "Zeta", "Alpha", "Zeta" } << QStringList { "Zeta", "Alpha" };
    }

    void listingOrder()
    {
        QFETCH(QStringList, keysInTextOrder);
        SettingsMap settings;
        for (int i = 0; i < keysInTextOrder.size(); ++i)
            settings.insert(keysInTextOrder[i], QString::number(i));
        QStringList keys;
        for (const SettingItem& item : orderedSettingItems(settings)) {
            keys.append(item.key);
            QCOMPARE(item.value, QString::number(keysInTextOrder.lastIndexOf(item.key)));
        }
        QTEST(keys, "expectedOrder");
    }

    // The first fragment a name contains decides: the longer ones must come before those they hold.
    void samplerCodes_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("code");
        const std::pair<const char*, int> rows[] = { { "DPM++ 2M Karras", 0 }, { "dpm++ 2m karras", 0 },
            { "Euler a", 1 }, { "Euler", 10 }, { "Heun", 17 }, { "", 17 }, { "My TCD trailing v2", 19 },
            { "tcd fast", 9 }, { "unipc trailing", 17 }, { "UNIPC AYS", 18 }, { "unipc++", 5 }, { "lcm turbo", 6 },
            { "EULER A SUBSTEP", 7 }, { "euler a ays x", 13 }, { "ddim trailing", 16 }, { "Ddim", 2 }, { "plms", 3 },
            { "dpm++ sde substep", 8 }, { "DPM++ sde trailing", 11 }, { "dpm++ SDE ays", 14 }, { "dpm++ sde", 4 },
            { "dpm++ 2M ays", 12 }, { "dpm++ 2m trailing", 15 }, { "dpm++ 2m", 0 }, { "DPM++ SDE AYS", 14 } };
        for (const auto& [name, code] : rows)
            QTest::addRow("'%s'", name) << QString::fromLatin1(name) << code;
    }

    void samplerCodes()
    {
        QFETCH(QString, name);
        QTEST(samplerIndex(name), "code");
    }

    void seedModes_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("code"); // -1: not in the table
        const std::pair<const char*, int> rows[]
            = { { "Legacy", 0 }, { "Torch CPU", 1 }, { "Scale Alike", 2 }, { "NVIDIA", 3 }, { "scale alike", -1 } };
        for (const auto& [name, code] : rows)
            QTest::addRow("'%s'", name) << QString::fromLatin1(name) << code;
    }

    void seedModes()
    {
        QFETCH(QString, name);
        QTEST(seedModeIndex(name).value_or(-1), "code");
    }
};

QTEST_GUILESS_MAIN(TestLimnoraMetadata)
#include "tst_LimnoraMetadata.moc"
