#include "AppDelegate.h"
#include "ImageBrowserModel.h"
#include "TestFiles.h"
#include "TestSandbox.h"

#include <QDir>
#include <QScopeGuard>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace limnoscope;
using namespace limnoscope::test;

static constexpr uid_t nobodyUid = 65534;

class TestAppDelegate : public QObject
{
    Q_OBJECT

private:
    TestSandbox m_dir;

private slots:
    void initTestCase() { usePreferencesIn(m_dir.filePath("config")); }

    // Only regular files named like a download go: a link is not followed, a folder not entered.
    void sweepRemovesOnlyDownloadLeftovers()
    {
        const QString temporary = m_dir.filePath("tmp");
        const QString outside = m_dir.filePath("outside");
        for (const char* name : { "CFNetworkDownload_a1.tmp", "CFNetworkDownload", "keep.png", "xCFNetworkDownload" })
            writeFile(temporary + "/" + name, "x");
        writeFile(temporary + "/CFNetworkDownload_dir/CFNetworkDownload_inner", "x");
        writeFile(outside + "/CFNetworkDownload_target", "x");
        QVERIFY(QFile::link(outside + "/CFNetworkDownload_target", temporary + "/CFNetworkDownload_link"));
        QVERIFY(QFile::link(outside, temporary + "/CFNetworkDownload_folderlink"));
        QCOMPARE(::chmod(QFile::encodeName(temporary).constData(), 0700), 0);
        AppDelegate::sweepDownloadLeftovers(temporary);
        QCOMPARE(QDir(temporary).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot, QDir::Name),
            (QStringList { "CFNetworkDownload_dir", "CFNetworkDownload_folderlink", "CFNetworkDownload_link",
                "keep.png", "xCFNetworkDownload" }));
        QVERIFY(QFile::exists(temporary + "/CFNetworkDownload_dir/CFNetworkDownload_inner")
            && QFile::exists(outside + "/CFNetworkDownload_target"));
    }

    // What $TMPDIR/limnoscope-<uid> is before the start, and whether it is swept and used.
    void temporaryDirectoryIsOurOwn_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("used");
        QTest::newRow("missing") << "missing" << true;
        QTest::newRow("private folder") << "private" << true;
        QTest::newRow("folder others can enter") << "0755" << false;
        QTest::newRow("folder of another user") << "nobody" << false;
        QTest::newRow("link to a private folder") << "link" << false;
    }

    void temporaryDirectoryIsOurOwn()
    {
        QFETCH(QString, kind);
        QFETCH(bool, used);
        TestSandbox root;
        const QByteArray savedTemporary = qgetenv("TMPDIR");
        qputenv("TMPDIR", QFile::encodeName(root.path()));
        const auto restore = qScopeGuard([&] { qputenv("TMPDIR", savedTemporary); });
        const QString lasting = AppDelegate::lastingTemporaryDirectory();
        const QString folder = kind == "link" ? root.filePath("elsewhere") : lasting;
        const QString leftover = folder + "/CFNetworkDownload_a1.tmp";
        if (kind != "missing") {
            writeFile(leftover, "x");
            QCOMPARE(::chmod(QFile::encodeName(folder).constData(), kind == "0755" ? 0755 : 0700), 0);
        }
        if (kind == "link")
            QVERIFY(QFile::link(folder, lasting));
        if (kind == "nobody" && ::getuid() != 0)
            QSKIP("only root can give a folder to another user");
        QVERIFY(kind != "nobody" || ::chown(QFile::encodeName(folder).constData(), nobodyUid, nobodyUid) == 0);
        AppDelegate::sweepDownloadLeftovers(lasting);
        QCOMPARE(QFile::exists(leftover), kind != "missing" && !used);

        const QString own = AppDelegate::temporaryDirectory();
        QCOMPARE(own == lasting, used);
        QVERIFY(own.startsWith(lasting));
        struct stat status = {};
        QCOMPARE(::lstat(QFile::encodeName(own).constData(), &status), 0);
        QVERIFY(S_ISDIR(status.st_mode) && status.st_uid == ::getuid() && (status.st_mode & 07777) == 0700);
    }

    void openFileLimitRaised()
    {
        struct rlimit before {
        };
        QCOMPARE(getrlimit(RLIMIT_NOFILE, &before), 0);
        struct rlimit lowered = before;
        lowered.rlim_cur = 256;
        QCOMPARE(setrlimit(RLIMIT_NOFILE, &lowered), 0);
        AppDelegate::raiseOpenFileLimit();
        struct rlimit after {
        };
        QCOMPARE(getrlimit(RLIMIT_NOFILE, &after), 0);
        QCOMPARE(after.rlim_cur, std::min(before.rlim_max, AppDelegate::openFileLimit));
    }

    // No argument reopens the last folder; arguments, relative ones from the working folder, are
    // handed over together as absolute URLs, and the window opens them as one drop (one folder,
    // or the images among several items as a list).
    void startOpensTheArgumentsOrTheLastFolder_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QStringList>("opened"); // relative to the sandbox
        QTest::newRow("none: the last folder") << QStringList {} << QStringList {};
        QTest::newRow("one image") << QStringList { "last/a.png" } << QStringList { "last/a.png" };
        QTest::newRow("several, relative and absolute") << QStringList { "last/b.png", "last", "ABSOLUTE/other/c.png" }
                                                        << QStringList { "last/b.png", "last", "other/c.png" };
    }

    void startOpensTheArgumentsOrTheLastFolder()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QStringList, opened);
        const QString last = m_dir.filePath("last");
        m_dir.writeImages({ "last/a.png", "last/b.png", "other/c.png" });
        QSettings().setValue(ImageBrowserModel::lastFolderPathKey, last);
        const QString savedWorkingFolder = QDir::currentPath();
        QVERIFY(QDir::setCurrent(m_dir.path()));
        const auto restore = qScopeGuard([&] { QDir::setCurrent(savedWorkingFolder); });
        arguments.replaceInStrings("ABSOLUTE", m_dir.path());
        ImageBrowserModel model;
        AppDelegate delegate(&model);
        QList<QUrl> handed;
        delegate.applicationDidFinishLaunching(arguments, [&](const QList<QUrl>& urls) { handed = urls; });
        QTRY_COMPARE(model.rootFolderURL(), arguments.isEmpty() ? QUrl::fromLocalFile(last) : QUrl());
        QCOMPARE(handed, m_dir.urls(opened));
    }
};

QTEST_GUILESS_MAIN(TestAppDelegate)
#include "tst_AppDelegate.moc"
