#include "CenterPanelView.h"
#include "ContentView.h"
#include "CopyButton.h"
#include "ExiftoolRunner.h"
#include "ImageBrowserModel.h"
#include "LimnoraAPI.h"
#include "Localization.h"
#include "MainWindow.h"
#include "MetadataParser.h"
#include "MetadataView.h"
#include "RawMetadataSection.h"
#include "SettingsGrid.h"
#include "SettingsJSON.h"
#include "SettingsSectionView.h"
#include "TestAppContext.h"
#include "TestFiles.h"
#include "TestSandbox.h"
#include "TextSectionView.h"
#include "ValueTextView.h"

#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTcpServer>
#include <QTest>
#include <QToolButton>

using namespace limnoscope;

namespace {

LimnoraMetadata record(const QString& prompt, const QString& negative, const QString& settingsLine,
    std::optional<double> renderDuration = std::nullopt)
{
    LimnoraMetadata metadata;
    metadata.prompt = prompt;
    metadata.negativePrompt = negative;
    parseSettingsText(settingsLine, metadata);
    metadata.renderDuration = renderDuration;
    return metadata;
}

QStringList labelTexts(QWidget* parent, const QString& objectName)
{
    QStringList texts;
    for (QLabel* label : parent->findChildren<QLabel*>(objectName))
        texts.append(label->text());
    return texts;
}

// An A1111 text with a 600-character prompt without spaces or commas, a LoRA and long hashes.
const QString longHash = QStringLiteral("56d1442a0feefd64836a19ac8e3527ec71c884fc962e246ddf67b03e42921272");
QByteArray longA1111Text()
{
    return (QStringLiteral("masterpiece_best_quality_ultra_detailed_").repeated(15)
        + " <lora:add_detail_extremely_long_lora_file_name_for_testing_v2:0.8>\nNegative prompt: lowres\n"
          "Steps: 20, Sampler: DPM++ 2M Karras, CFG scale: 7, Seed: 1234, Size: 512x768, Model hash: "
        + longHash
        + ", Model: sd_xl_base_1.0, Denoising strength: 0.4, Hires upscaler: 4x-UltraSharp, Face restoration: "
          "CodeFormer, Lora hashes: \"add_detail_extremely_long_lora_file_name_for_testing_v2: 7c6bad76eb54\", "
          "TI hashes: \"EasyNegative: c74b4e810b03, badhandv4: 5e40d722fc3d\", Version: v1.9.4")
        .toLatin1();
}

} // namespace

class TestMetadataView : public QObject
{
    Q_OBJECT

private:
    // A port with no listener: the API counts as unavailable.
    LimnoraAPIService* m_offlineAPI = nullptr;

private slots:
    void initTestCase()
    {
        installTranslations(qApp);
        QVERIFY(qtTrId("setting_cfg") != QStringLiteral("setting_cfg")); // the English text is loaded
        m_offlineAPI = new LimnoraAPIService(test::unusedLocalPort(), this);
        setExiftoolDisabled(true); // a window's image keeps its first reading
    }

    // What the view shows: "<n> texts, <n> LoRAs, grid ending in <label>" or "no grid", then generator line and raw.
    void sections_data()
    {
        QTest::addColumn<QString>("prompt");
        QTest::addColumn<QString>("negative");
        QTest::addColumn<QString>("settings");
        QTest::addColumn<double>("duration"); // -1: none
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QString>("generator");
        QTest::addColumn<bool>("withRawTexts");
        const auto row = [](const char* name, const char* prompt, const char* negative, const char* settings,
                             double duration, const QString& shown, const char* generator = "", bool raw = false) {
            QTest::newRow(name) << QString(prompt) << QString(negative) << QString(settings) << duration << shown
                                << QString(generator) << raw;
        };
        const QString none = QStringLiteral("0 texts, 0 LoRAs (), no grid");
        row("recognised generator", "", "", "", -1, none + ", " + qtTrId("generator_line").arg("ComfyUI") + ", 1 raw",
            "ComfyUI", true);
        row("raw texts alone", "", "", "", -1, none + ", " + qtTrId("generator_unknown") + ", 1 raw", "", true);
        const QString renderTime = qtTrId("setting_render_time") + " ";
        row("full record", "a cat", "blurry", "Steps: 20, Seed: 5, LoRA 1 Model: a.safetensors", 12.4,
            "2 texts, 1 LoRAs (1.00), grid ending in " + renderTime + "12 s");
        const QString grid = QStringLiteral("0 texts, 0 LoRAs (), grid ending in ");
        row("settings only", "", "", "Steps: 20", -1, grid + qtTrId("setting_steps") + " 20");
        row("a known setting's label", "", "", "Guidance Scale: 7", -1, grid + qtTrId("setting_cfg") + " 7");
        row("an unknown setting as named", "", "", "Stochastic Sampling: on", -1, grid + "Stochastic Sampling on");
        row("nothing: no grid, no render time, no generator line", "", "", "", 30, none);
        row("LoRAs but no settings: empty grid", "p", "", "LoRA 1 Model: a, LoRA 2 Model: b, LoRA 2 Weight: -0.25", -1,
            "1 texts, 2 LoRAs (1.00 -0.25), grid ending in ");
        row("LoRAs only, render time cell", "p", "", "LoRA 1 Model: a, LoRA 1 Weight: 0.6", 75,
            "1 texts, 1 LoRAs (0.60), grid ending in " + renderTime + "1:15 min");
        row("negative only", "", "blurry", "", -1, "1 texts, 0 LoRAs (), no grid");
        const QString timed = grid + renderTime;
        row("59.6 s rounds up", "", "", "Steps: 1", 59.6, timed + "60 s");
        row("60.4 s", "", "", "Steps: 1", 60.4, timed + "1:00 min");
        row("125.9 s truncates", "", "", "Steps: 1", 125.9, timed + "2:05 min");
        row("one hour", "", "", "Steps: 1", 3600, timed + "60:00 min");
        row("not finite", "", "", "Steps: 1", std::numeric_limits<double>::infinity(), timed + "–");
    }

    void sections()
    {
        QFETCH(QString, prompt);
        QFETCH(QString, negative);
        QFETCH(QString, settings);
        QFETCH(double, duration);
        QFETCH(QString, generator);
        QFETCH(bool, withRawTexts);
        LimnoraMetadata metadata
            = record(prompt, negative, settings, duration < 0 ? std::nullopt : std::optional(duration));
        metadata.generator = generator;
        if (withRawTexts)
            metadata.rawTexts = { { "prompt", "{}" } };
        MetadataView view(metadata, QUrl(), m_offlineAPI);
        QCOMPARE(view.findChildren<SettingsSectionView*>().size(), 1);
        QVERIFY(!view.findChild<SettingsSectionView*>()->generateButton()->isVisibleTo(&view)); // the API is offline
        QCOMPARE(
            view.findChildren<QLabel*>("NoSettings").isEmpty(), view.findChild<QWidget*>("SettingsGrid") != nullptr);
        QString shown = QStringLiteral("%1 texts, %2 LoRAs (%3), ")
                            .arg(view.findChildren<TextSectionView*>().size())
                            .arg(view.findChildren<ValueTextView*>("LoraFile").size())
                            .arg(labelTexts(&view, "LoraWeight").join(u' '));
        if (auto* grid = view.findChild<SettingsGrid*>()) {
            shown += u"grid ending in "_qs; // the last cell's label and value
            if (const qsizetype last = grid->count() - 1; last >= 0)
                shown += grid->labelAt(last)->text() + u' ' + grid->valueAt(last)->fullText();
        } else {
            shown += u"no grid"_qs;
        }
        if (const auto* line = view.findChild<QLabel*>("GeneratorLine"))
            shown += ", " + line->text();
        if (const qsizetype raw = view.findChildren<RawMetadataSection*>().size())
            shown += QStringLiteral(", %1 raw").arg(raw);
        QTEST(shown, "shown");
    }

    // The inspector in the window at its default size and at the narrowest the window allows:
    // no sideways scrolling, whole buttons, texts wrapped, long words shortened but copied whole,
    // the values of each column at one x.
    void fitsTheWindow_data()
    {
        QTest::addColumn<QString>("image"); // in tests/data/realworld; empty: the long A1111 text
        QTest::addColumn<bool>("narrowest");
        QTest::addColumn<QString>("shortened");
        QTest::addColumn<int>("cellsPerRow");
        const QString model = QStringLiteral("AbyssOrangeMix2_hard.safetensors");
        // Two cells to a row only where no value would be shortened.
        QTest::newRow("A1111, short values") << "a1111-parameters.png" << false << "" << 2;
        QTest::newRow("ComfyUI, several samplers") << "comfyui-multi-sampler.png" << false << "" << 1;
        QTest::newRow("ComfyUI, narrowest window") << "comfyui-multi-sampler.png" << true << model << 1;
        QTest::newRow("A1111, long hashes and prompt") << "" << false << longHash << 1;
        QTest::newRow("A1111, narrowest window") << "" << true << longHash << 1;
    }

    void fitsTheWindow()
    {
        QFETCH(QString, image);
        QFETCH(bool, narrowest);
        QFETCH(QString, shortened);
        QFETCH(int, cellsPerRow);
        test::TestSandbox folder;
        const QString path = folder.filePath("image.png");
        if (image.isEmpty())
            QVERIFY(PNGChunkWriter().tEXt("parameters", longA1111Text()).tinyImageData().end().writeTo(path));
        else
            QVERIFY(QFile::copy(test::sourceTreeRoot() + "/tests/data/realworld/" + image, path));
        ImageBrowserModel model;
        test::TestAppContext app(&model, m_offlineAPI);
        MainWindow window(app.context);
        window.resize(narrowest ? window.minimumSizeHint().width() : MainWindow::defaultSize.width(),
            MainWindow::defaultSize.height());
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QVERIFY(test::openFolder(model, folder.path()));
        // The inspector is made again for each newer reading: wait for the last one (the folder's
        // readings done, the image's long raw texts read again).
        QTRY_VERIFY(!model.isPrefetching() && !model.metadataPrefetcher().isExiftoolPassRunning()
            && model.currentMetadata() && !model.currentMetadata()->rawTextsLeftOut);
        QTRY_VERIFY(window.contentView()->centerPanel()->metadataView());
        MetadataView* view = window.contentView()->centerPanel()->metadataView();
        QWidget* viewport = view->viewport();
        QTRY_VERIFY(view->widget()->width() <= viewport->width());
        QVERIFY(!view->horizontalScrollBar()->isVisible());
        const auto inside = [viewport](QWidget* widget) {
            const QRect shown(widget->mapTo(viewport, QPoint()), widget->size());
            return widget->isVisible() && shown.left() >= 0 && shown.right() <= viewport->rect().right();
        };
        QVERIFY(view->findChildren<CopyButton*>().size() >= 2);
        for (QAbstractButton* button : view->findChildren<QAbstractButton*>())
            QVERIFY2(!button->isVisibleTo(view) || inside(button), qPrintable(button->text()));
        for (QLabel* weight : view->findChildren<QLabel*>("LoraWeight"))
            QVERIFY(inside(weight));
        QCOMPARE(view->findChildren<QLabel*>("LoraWeight").size(), image.isEmpty() ? 1 : 0);
        // Each text inside, laid out within its width and given the height of all its lines, once
        // the layouts the last resize asked for are done: the first that is not, else nothing.
        const auto textNotFitting = [&] {
            for (ValueTextView* text : view->findChildren<ValueTextView*>())
                if (!inside(text) || text->document()->size().width() > text->viewport()->width() + 1
                    || text->height() < text->heightForWidth(text->width()))
                    return text->fullText();
            return QString();
        };
        QTRY_COMPARE(textNotFitting(), QString());

        auto* grid = view->findChild<SettingsGrid*>();
        QCOMPARE(grid->cellsPerRow(), cellsPerRow);
        // How many x positions each column's values start at, once the grid's new layout is applied.
        const auto valueStarts = [grid] {
            QSet<int> starts[2];
            for (qsizetype i = 0; i < grid->count(); ++i)
                starts[i % grid->cellsPerRow()].insert(grid->valueAt(i)->mapTo(grid, QPoint()).x());
            return QList<qsizetype> { starts[0].size(), starts[1].size() };
        };
        QTRY_COMPARE(valueStarts(), (QList<qsizetype> { 1, grid->cellsPerRow() - 1 }));

        ValueTextView* value = nullptr;
        for (qsizetype i = 0; i < grid->count(); ++i) {
            QCOMPARE(grid->valueAt(i)->isElided(), grid->valueAt(i)->fullText() == shortened);
            value = grid->valueAt(i)->isElided() ? grid->valueAt(i) : value;
        }
        if (shortened.isEmpty())
            return;
        QVERIFY(value->toPlainText().contains(u'…'));
        QCOMPARE(value->toolTip(), shortened);
        QTest::mouseClick(value->viewport(), Qt::LeftButton);
        QTest::keyClick(value, Qt::Key_A, Qt::ControlModifier);
        QApplication::clipboard()->clear();
        QTest::keyClick(value, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QApplication::clipboard()->text(), shortened);
    }

    void copyingAndGenerate()
    {
        const LimnoraMetadata metadata = record("  a cat, exactly as stored  ", "", "Steps: 30, Size: 768x1024");
        QTcpServer limnora;
        QVERIFY(limnora.listen(QHostAddress::LocalHost));
        LimnoraAPIService api(limnora.serverPort());
        MetadataView view(metadata, QUrl(), &api);
        auto* settings = view.findChild<SettingsSectionView*>();
        QTRY_VERIFY_WITH_TIMEOUT(settings->generateButton()->isVisibleTo(&view), 5000); // the API answers
        CopyButton* promptCopy = view.findChild<TextSectionView*>()->copyButton();
        QVERIFY(!promptCopy->isShowingCopied());
        promptCopy->click();
        QCOMPARE(QApplication::clipboard()->text(), metadata.prompt);
        QVERIFY(promptCopy->isShowingCopied());
        QCOMPARE(promptCopy->text(), qtTrId("copied"));
        QTRY_VERIFY_WITH_TIMEOUT(!promptCopy->isShowingCopied(), 3000);
        QCOMPARE(promptCopy->text(), qtTrId("copy_text"));

        settings->copyButton()->click();
        QCOMPARE(QApplication::clipboard()->text(), settingsJSONString(metadata));
    }

    // The raw section is reached by Tab, opens by mouse, Return and Space, and copies every text whole.
    void rawMetadataSection()
    {
        const QString longText(RawMetadataSection::maxShownCharacters + 5, u'x');
        LimnoraMetadata metadata;
        metadata.rawTexts = { { "parameters", "a cat\nSteps: 20" }, { "workflow", longText } };
        MetadataView view(metadata, QUrl(), m_offlineAPI);
        view.resize(400, 600);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        auto* section = view.findChild<RawMetadataSection*>();
        QVERIFY(section && !section->isExpanded());
        QVERIFY(view.findChildren<QPlainTextEdit*>().isEmpty());
        QWidget* toggle = section->toggleButton();
        for (int step = 0; step < 20 && !toggle->hasFocus(); ++step)
            QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : &view, Qt::Key_Tab);
        QVERIFY(toggle->hasFocus());

        QTest::mouseClick(toggle, Qt::LeftButton);
        QVERIFY(section->isExpanded());
        const QList<QPlainTextEdit*> texts = view.findChildren<QPlainTextEdit*>("RawText");
        QCOMPARE(texts.size(), 2);
        QCOMPARE(texts[0]->toPlainText(), metadata.rawTexts[0].text);
        QCOMPARE(texts[1]->toPlainText().size(), RawMetadataSection::maxShownCharacters);
        QCOMPARE(labelTexts(&view, "RawTextSource"), (QStringList { "parameters", "workflow" }));
        QCOMPARE(section->toggleButton()->text(), qtTrId("raw_metadata_hide"));
        QTest::keyClick(toggle, Qt::Key_Return);
        QVERIFY(!section->isExpanded());
        QCOMPARE(section->toggleButton()->text(), qtTrId("raw_metadata_show").arg(2));
        QTest::keyClick(toggle, Qt::Key_Space);
        QVERIFY(section->isExpanded());

        QApplication::clipboard()->clear();
        QTest::mouseClick(section->copyButton(), Qt::LeftButton);
        QCOMPARE(QApplication::clipboard()->text(), "parameters\na cat\nSteps: 20\n\nworkflow\n" + longText);
        QVERIFY(section->copyButton()->isShowingCopied());
    }
};

QTEST_MAIN(TestMetadataView)
#include "tst_MetadataView.moc"
