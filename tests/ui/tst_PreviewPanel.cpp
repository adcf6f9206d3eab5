#include "PreviewPanel.h"
#include "StableSplitView.h"
#include "TestFiles.h"
#include "TestSandbox.h"

#include <QSignalSpy>
#include <QTest>

using namespace limnoscope;
using namespace limnoscope::test;

class TestPreviewPanel : public QObject
{
    Q_OBJECT

private:
    TestSandbox m_dir;

private slots:
    void initTestCase() { usePreferencesIn(m_dir.path()); }

    // Hidden and shown again, the preview comes back at the width the window's layout gave it.
    void previewComesBackAtItsWidth()
    {
        StableSplitView split(new QWidget, new QWidget, new PreviewPanel);
        split.resize(1100, 700);
        split.show();
        QVERIFY(QTest::qWaitForWindowExposed(&split));
        const int width = split.sizes().at(2);
        split.setPreviewVisible(false);
        QTRY_VERIFY(split.widget(2)->isHidden());
        split.setPreviewVisible(true);
        QTRY_COMPARE(split.sizes().at(2), width);
    }

    void decodeSizeAndFailures_data()
    {
        QTest::addColumn<QByteArray>("format");
        QTest::addColumn<QSize>("written");
        QTest::addColumn<QSize>("shown");
        QTest::addColumn<bool>("afterLarge"); // set just after a large image whose slow decode must be dropped
        QTest::newRow("downsampled to 800") << QByteArray("JPEG") << QSize(1600, 1200) << QSize(800, 600) << false;
        QTest::newRow("never enlarged") << QByteArray("PNG") << QSize(200, 100) << QSize(200, 100) << false;
        QTest::newRow("not an image shows nothing") << QByteArray() << QSize() << QSize(0, 0) << false;
        QTest::newRow("the latest image wins") << QByteArray("JPEG") << QSize(300, 600) << QSize(300, 600) << true;
    }

    void decodeSizeAndFailures()
    {
        QFETCH(QByteArray, format);
        QFETCH(QSize, written);
        QFETCH(QSize, shown);
        QFETCH(bool, afterLarge);
        const QString path = m_dir.filePath(
            QStringLiteral("image-%1.%2").arg(QTest::currentDataTag(), format.isEmpty() ? "jpg" : format.toLower()));
        if (format.isEmpty())
            writeFile(path, "plain text named like a JPEG");
        else
            writeImage(path, format.constData(), written.width(), written.height());
        PreviewPanel panel;
        QSignalSpy landed(&panel, &PreviewPanel::imageShown);
        panel.show();
        if (afterLarge) {
            writeImage(m_dir.filePath("large.png"), "PNG", 4000, 1000);
            panel.setImageURL(QUrl::fromLocalFile(m_dir.filePath("large.png")));
        }
        panel.setImageURL(QUrl::fromLocalFile(path));
        // The large image is never shown once another is wanted: the panel is empty or, when the
        // small decode finished before its continuation was attached, already shows the new one.
        QVERIFY(panel.image().isNull() || panel.image().size() == shown);
        QTRY_VERIFY_WITH_TIMEOUT(!landed.isEmpty() && panel.image().size() == shown, 10'000);
        QTest::qWait(afterLarge ? 300 : 0); // the large decode would land by now if it were not dropped
        QCOMPARE(panel.image().size(), shown);
    }
};

QTEST_MAIN(TestPreviewPanel)
#include "tst_PreviewPanel.moc"
