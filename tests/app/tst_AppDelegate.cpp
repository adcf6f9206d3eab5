#include "AppDelegate.h"
#include "ImageBrowserModel.h"
#include "TestFiles.h"

#include <QDir>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <sys/resource.h>

using namespace limnoscope;
using namespace limnoscope::test;

class TestAppDelegate : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;

private slots:
    void initTestCase()
    {
        usePreferencesIn(m_dir.filePath("config"));
    }

    void sweepRemovesOnlyDownloadLeftovers()
    {
        const QString temporary = m_dir.filePath("tmp");
        for (const char *name : {"CFNetworkDownload_a1.tmp", "CFNetworkDownload", "keep.png", "xCFNetworkDownload"})
            writeFile(temporary + "/" + name, "x");
        QDir().mkpath(temporary + "/CFNetworkDownload_dir/inner");
        AppDelegate::sweepDownloadLeftovers(temporary);
        QStringList left = QDir(temporary).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
        left.sort();
        QCOMPARE(left, (QStringList{"keep.png", "xCFNetworkDownload"}));
        AppDelegate::sweepDownloadLeftovers(m_dir.filePath("missing")); // nothing to list: no harm
    }

    void temporaryDirectoryIsOurOwn()
    {
        const QString own = AppDelegate::temporaryDirectory();
        QVERIFY(own.startsWith(QDir::tempPath() + "/limnoscope-"));
        QVERIFY(own != QDir::tempPath());
    }

    void openFileLimitRaised()
    {
        struct rlimit before {};
        QCOMPARE(getrlimit(RLIMIT_NOFILE, &before), 0);
        struct rlimit lowered = before;
        lowered.rlim_cur = 256;
        QCOMPARE(setrlimit(RLIMIT_NOFILE, &lowered), 0);
        AppDelegate::raiseOpenFileLimit();
        struct rlimit after {};
        QCOMPARE(getrlimit(RLIMIT_NOFILE, &after), 0);
        QCOMPARE(after.rlim_cur, std::min(before.rlim_max, AppDelegate::openFileLimit));
    }

    void startOpensTheArgumentOrTheLastFolder()
    {
        const QString last = m_dir.filePath("last");
        writeFile(last + "/a.png", pngWithDescription("a"));
        QSettings().setValue(ImageBrowserModel::lastFolderPathKey, last);

        ImageBrowserModel model;
        AppDelegate delegate(&model);
        QList<QUrl> opened;
        delegate.applicationDidFinishLaunching(QString(), [&](const QUrl &url) { opened.append(url); });
        QTRY_COMPARE(model.rootFolderURL(), QUrl::fromLocalFile(last));
        QVERIFY(opened.isEmpty());

        ImageBrowserModel other;
        AppDelegate withArgument(&other);
        withArgument.applicationDidFinishLaunching(last + "/a.png", [&](const QUrl &url) { opened.append(url); });
        QCOMPARE(opened, QList<QUrl>{QUrl::fromLocalFile(last + "/a.png")});
        QVERIFY(other.rootFolderURL().isEmpty()); // the last folder is not opened as well
    }
};

QTEST_GUILESS_MAIN(TestAppDelegate)
#include "tst_AppDelegate.moc"
