#include "PreviewPanel.h"
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
    void latestImageWins()
    {
        // A large image that decodes slowly, then a small one: only the small one may show.
        const QString large = m_dir.filePath("large.png");
        const QString small = m_dir.filePath("small.jpg");
        writeImage(large, "PNG", 4000, 1000);
        writeImage(small, "JPEG", 300, 600);
        PreviewPanel panel;
        panel.resize(400, 400);
        panel.show();
        QSignalSpy shown(&panel, &PreviewPanel::imageShown);
        panel.setImageURL(QUrl::fromLocalFile(large));
        panel.setImageURL(QUrl::fromLocalFile(small));
        QVERIFY(panel.image().isNull()); // a new image clears the old one at once
        QVERIFY(shown.wait(10'000));
        QTest::qWait(300); // the large decode would land by now if it were not dropped
        QCOMPARE(panel.image().size(), QSize(300, 600));
    }

    void decodeSizeAndFailures_data()
    {
        QTest::addColumn<QByteArray>("format");
        QTest::addColumn<QSize>("written");
        QTest::addColumn<QSize>("shown");
        QTest::newRow("downsampled to 800") << QByteArray("JPEG") << QSize(1600, 1200) << QSize(800, 600);
        QTest::newRow("never enlarged") << QByteArray("PNG") << QSize(200, 100) << QSize(200, 100);
        QTest::newRow("not an image shows nothing") << QByteArray() << QSize() << QSize(0, 0);
    }

    void decodeSizeAndFailures()
    {
        QFETCH(QByteArray, format);
        QFETCH(QSize, written);
        QFETCH(QSize, shown);
        const QString path = m_dir.filePath(QStringLiteral("image-%1.%2")
                                                .arg(QTest::currentDataTag(), format.isEmpty() ? "jpg" : format.toLower()));
        if (format.isEmpty())
            writeFile(path, "plain text named like a JPEG");
        else
            writeImage(path, format.constData(), written.width(), written.height());
        PreviewPanel panel;
        QSignalSpy landed(&panel, &PreviewPanel::imageShown);
        panel.show();
        panel.setImageURL(QUrl::fromLocalFile(path));
        QTRY_VERIFY_WITH_TIMEOUT(!landed.isEmpty() && panel.image().size() == shown, 10'000);
    }
};

QTEST_MAIN(TestPreviewPanel)
#include "tst_PreviewPanel.moc"
