#include "CopyButton.h"
#include "LimnoraAPI.h"
#include "Localization.h"
#include "MetadataParser.h"
#include "MetadataView.h"
#include "SettingsJSON.h"
#include "SettingsSectionView.h"
#include "TestSandbox.h"
#include "TextSectionView.h"

#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QPushButton>
#include <QTcpServer>
#include <QTest>

using namespace limnoscope;

namespace {

LimnoraMetadata record(const QString &prompt, const QString &negative, const QString &settingsLine,
                       std::optional<double> renderDuration = std::nullopt)
{
    LimnoraMetadata metadata;
    metadata.prompt = prompt;
    metadata.negativePrompt = negative;
    parseSettingsText(settingsLine, metadata);
    metadata.renderDuration = renderDuration;
    return metadata;
}

QStringList labelTexts(QWidget *parent, const QString &objectName)
{
    QStringList texts;
    for (QLabel *label : parent->findChildren<QLabel *>(objectName))
        texts.append(label->text());
    return texts;
}

} // namespace

class TestMetadataView : public QObject
{
    Q_OBJECT

private:
    // A port with no listener: the API counts as unavailable.
    LimnoraAPIService *m_offlineAPI = nullptr;

private slots:
    void initTestCase()
    {
        installTranslations(qApp);
        m_offlineAPI = new LimnoraAPIService(test::unusedLocalPort(), this);
    }

    void sections_data()
    {
        QTest::addColumn<QString>("prompt");
        QTest::addColumn<QString>("negative");
        QTest::addColumn<QString>("settings");
        QTest::addColumn<double>("duration"); // -1: none
        QTest::addColumn<int>("textSections");
        QTest::addColumn<bool>("noSettingsShown");
        QTest::addColumn<int>("loraRows");
        QTest::addColumn<QString>("lastCellLabel");

        QTest::newRow("full record") << "a cat" << "blurry" << "Steps: 20, Seed: 5, LoRA 1 Model: a.safetensors" << 12.4
                                     << 2 << false << 1 << qtTrId("setting_render_time");
        QTest::newRow("settings only") << "" << "" << "Steps: 20" << -1.0 << 0 << false << 0 << qtTrId("setting_steps");
        QTest::newRow("nothing: no grid, no render time") << "" << "" << "" << 30.0 << 0 << true << 0 << "";
        QTest::newRow("LoRAs but no settings: empty grid") << "p" << "" << "LoRA 1 Model: a, LoRA 2 Model: b" << -1.0
                                                           << 1 << false << 2 << "";
        QTest::newRow("LoRAs only, render time cell") << "p" << "" << "LoRA 1 Model: a" << 75.0 << 1 << false << 1
                                                      << qtTrId("setting_render_time");
        QTest::newRow("negative only") << "" << "blurry" << "" << -1.0 << 1 << true << 0 << "";
    }

    void sections()
    {
        QFETCH(QString, prompt);
        QFETCH(QString, negative);
        QFETCH(QString, settings);
        QFETCH(double, duration);
        QFETCH(int, textSections);
        QFETCH(bool, noSettingsShown);
        QFETCH(int, loraRows);
        QFETCH(QString, lastCellLabel);

        MetadataView view(record(prompt, negative, settings, duration < 0 ? std::nullopt : std::optional(duration)),
                          QUrl(), m_offlineAPI);
        QCOMPARE(view.findChildren<TextSectionView *>().size(), textSections);
        QCOMPARE(view.findChildren<SettingsSectionView *>().size(), 1);
        QCOMPARE(!view.findChildren<QLabel *>("NoSettings").isEmpty(), noSettingsShown);
        QCOMPARE(view.findChildren<QWidget *>("SettingsGrid").isEmpty(), noSettingsShown);
        QCOMPARE(view.findChildren<QLabel *>("LoraFile").size(), loraRows);
        if (!lastCellLabel.isEmpty()) {
            QWidget *grid = view.findChild<QWidget *>("SettingsGrid");
            const QList<QLabel *> labels = grid->findChildren<QLabel *>();
            QVERIFY(labels.size() >= 2);
            QCOMPARE(labels[labels.size() - 2]->text(), lastCellLabel);
        }
    }

    void renderTimes_data()
    {
        QTest::addColumn<double>("seconds");
        QTest::addColumn<QString>("shown");
        QTest::newRow("12.4") << 12.4 << "12 s";
        QTest::newRow("59.6 rounds up") << 59.6 << "60 s";
        QTest::newRow("60.4") << 60.4 << "1:00 min";
        QTest::newRow("125.9 truncates") << 125.9 << "2:05 min";
        QTest::newRow("one hour") << 3600.0 << "60:00 min";
        QTest::newRow("not finite") << std::numeric_limits<double>::infinity() << "–";
    }

    void renderTimes()
    {
        QFETCH(double, seconds);
        QTEST(formatRenderTime(seconds), "shown");
    }

    void labelsAndWeights()
    {
        QCOMPARE(settingLabel("Guidance Scale"), qtTrId("setting_cfg"));
        QCOMPARE(settingLabel("Strategic Stochastic Sampling"), QStringLiteral("Strategic Stochastic Sampling"));
        QVERIFY(qtTrId("setting_cfg") != QStringLiteral("setting_cfg")); // the English text is loaded

        LimnoraMetadata metadata;
        for (double weight : {1.0, 0.6, -0.25}) {
            LoraEntry lora;
            lora.file = "f.safetensors";
            lora.weight = weight;
            metadata.loras.append(lora);
        }
        SettingsSectionView section(metadata, m_offlineAPI);
        QCOMPARE(labelTexts(&section, "LoraWeight"), (QStringList{"1.00", "0.60", "-0.25"}));
    }

    void copying()
    {
        const LimnoraMetadata metadata = record("  a cat, exactly as stored  ", "", "Steps: 30, Size: 768x1024");
        MetadataView view(metadata, QUrl(), m_offlineAPI);
        CopyButton *promptCopy = view.findChild<TextSectionView *>()->copyButton();
        QVERIFY(!promptCopy->isShowingCopied());
        promptCopy->click();
        QCOMPARE(QApplication::clipboard()->text(), metadata.prompt);
        QVERIFY(promptCopy->isShowingCopied());
        QCOMPARE(promptCopy->text(), qtTrId("copied"));
        QTRY_VERIFY_WITH_TIMEOUT(!promptCopy->isShowingCopied(), 3000);
        QCOMPARE(promptCopy->text(), qtTrId("copy_text"));

        view.findChild<SettingsSectionView *>()->copyButton()->click();
        QCOMPARE(QApplication::clipboard()->text(), settingsJSONString(metadata));
    }

    void generateButtonFollowsTheAPI()
    {
        QTcpServer limnora;
        QVERIFY(limnora.listen(QHostAddress::LocalHost));
        LimnoraAPIService api(limnora.serverPort());
        SettingsSectionView section(record("p", "", "Steps: 1"), &api);
        section.show();
        QTRY_VERIFY_WITH_TIMEOUT(section.generateButton()->isVisible(), 5000);

        SettingsSectionView offline(record("p", "", "Steps: 1"), m_offlineAPI);
        offline.show();
        QVERIFY(!offline.generateButton()->isVisible());
    }
};

QTEST_MAIN(TestMetadataView)
#include "tst_MetadataView.moc"
