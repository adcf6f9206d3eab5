#include "CopyButton.h"
#include "LimnoraAPI.h"
#include "Localization.h"
#include "MetadataView.h"
#include "RawMetadataSection.h"

#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTcpServer>
#include <QTest>
#include <QToolButton>

using namespace limnoscope;

// The inspector's generator line and raw-metadata section, driven through the real widgets.
class TestRawMetadataSection : public QObject
{
    Q_OBJECT

private:
    LimnoraAPIService* m_offlineAPI = nullptr;

private slots:
    void initTestCase()
    {
        installTranslations(qApp);
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost));
        const quint16 port = probe.serverPort();
        probe.close();
        m_offlineAPI = new LimnoraAPIService(port, this);
    }

    void generatorLine_data()
    {
        QTest::addColumn<QString>("generator");
        QTest::addColumn<bool>("withRawTexts");
        QTest::addColumn<QString>("shown"); // empty: no line
        QTest::newRow("recognised") << "ComfyUI" << true << qtTrId("generator_line").arg("ComfyUI");
        QTest::newRow("raw texts alone") << "" << true << qtTrId("generator_unknown");
        QTest::newRow("record from a bare text") << "" << false << "";
    }

    void generatorLine()
    {
        QFETCH(QString, generator);
        QFETCH(bool, withRawTexts);
        QFETCH(QString, shown);
        LimnoraMetadata metadata;
        metadata.generator = generator;
        if (withRawTexts)
            metadata.rawTexts = { { "prompt", "{}" } };
        MetadataView view(metadata, QUrl(), m_offlineAPI);
        const auto* line = view.findChild<QLabel*>("GeneratorLine");
        QCOMPARE(line ? line->text() : QString(), shown);
        QCOMPARE(view.findChildren<RawMetadataSection*>().size(), withRawTexts ? 1 : 0);
    }

    void expandAndCopy()
    {
        LimnoraMetadata metadata;
        const QString longText = QString(RawMetadataSection::maxShownCharacters + 5, u'x');
        metadata.rawTexts = { { "parameters", "a cat\nSteps: 20" }, { "workflow", longText } };
        MetadataView view(metadata, QUrl(), m_offlineAPI);
        view.resize(400, 600);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        auto* section = view.findChild<RawMetadataSection*>();
        QVERIFY(section);
        QVERIFY(!section->isExpanded());
        QVERIFY(view.findChildren<QPlainTextEdit*>().isEmpty());

        QTest::mouseClick(section->toggleButton(), Qt::LeftButton);
        QVERIFY(section->isExpanded());
        const QList<QPlainTextEdit*> texts = view.findChildren<QPlainTextEdit*>("RawText");
        QCOMPARE(texts.size(), 2);
        QCOMPARE(texts[0]->toPlainText(), metadata.rawTexts[0].text);
        QCOMPARE(texts[1]->toPlainText().size(), RawMetadataSection::maxShownCharacters);
        QStringList sources;
        for (const QLabel* label : view.findChildren<QLabel*>("RawTextSource"))
            sources.append(label->text());
        QCOMPARE(sources, (QStringList { "parameters", "workflow" }));
        QCOMPARE(section->toggleButton()->text(), qtTrId("raw_metadata_hide"));

        // The keyboard closes and opens it: Return (Space is the window's Quick Look key) or Space.
        section->toggleButton()->setFocus(Qt::TabFocusReason);
        QVERIFY(section->toggleButton()->hasFocus());
        QTest::keyClick(section->toggleButton(), Qt::Key_Return);
        QVERIFY(!section->isExpanded());
        QCOMPARE(section->toggleButton()->text(), qtTrId("raw_metadata_show").arg(2));
        QTest::keyClick(section->toggleButton(), Qt::Key_Space);
        QVERIFY(section->isExpanded());

        QApplication::clipboard()->clear();
        QTest::mouseClick(section->copyButton(), Qt::LeftButton);
        QCOMPARE(QApplication::clipboard()->text(), "parameters\na cat\nSteps: 20\n\nworkflow\n" + longText);
        QVERIFY(section->copyButton()->isShowingCopied());
    }

    void toggleIsInTheTabChain()
    {
        LimnoraMetadata metadata;
        metadata.rawTexts = { { "Comment", "text" } };
        MetadataView view(metadata, QUrl(), m_offlineAPI);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        auto* toggle = view.findChild<RawMetadataSection*>()->toggleButton();
        bool reached = false;
        for (int step = 0; step < 20 && !reached; ++step) {
            QWidget* focus = QApplication::focusWidget() ? QApplication::focusWidget() : &view;
            QTest::keyClick(focus, Qt::Key_Tab);
            reached = toggle->hasFocus();
        }
        QVERIFY(reached);
    }
};

QTEST_MAIN(TestRawMetadataSection)
#include "tst_RawMetadataSection.moc"
