#include "TestFiles.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMimeDatabase>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace limnoscope;

namespace {

constexpr int installTimeoutMs = 120'000;
constexpr int validatorTimeoutMs = 60'000;
constexpr int infoTimeoutMs = 60'000;
// The window has no way to say it is up; one that is still running after this long started.
constexpr int startupGraceMs = 3'000;
constexpr int quitTimeoutMs = 10'000;

// The build tree this test was built in: the nearest folder above it with a CMake cache.
QString buildDirectory()
{
    QDir dir(QCoreApplication::applicationDirPath());
    do {
        if (dir.exists(QStringLiteral("CMakeCache.txt")))
            return dir.absolutePath();
    } while (dir.cdUp());
    return {};
}

QString cachedValue(const QString& buildDir, const QString& name)
{
    QFile cache(buildDir + QStringLiteral("/CMakeCache.txt"));
    if (!cache.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    const QByteArray prefix = name.toUtf8() + ':';
    while (!cache.atEnd()) {
        const QByteArray line = cache.readLine().trimmed();
        if (line.startsWith(prefix))
            return QString::fromUtf8(line.mid(line.indexOf('=') + 1));
    }
    return {};
}

// The keys of the [Desktop Entry] group of a desktop file.
QHash<QString, QString> desktopEntry(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    QHash<QString, QString> keys;
    bool inGroup = false;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.startsWith(u'['))
            inGroup = line == QLatin1String("[Desktop Entry]");
        else if (inGroup && line.contains(u'=') && !line.startsWith(u'#'))
            keys.insert(line.section(u'=', 0, 0), line.section(u'=', 1));
    }
    return keys;
}

struct RunResult {
    bool finished = false;
    int exitCode = -1;
    QString output;
};

RunResult run(const QString& program, const QStringList& arguments, int timeoutMs,
    const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment())
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    RunResult result;
    result.finished = process.waitForFinished(timeoutMs);
    if (!result.finished) {
        process.kill();
        process.waitForFinished();
    }
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.output = QString::fromUtf8(process.readAll());
    return result;
}

} // namespace

// Installs the build into a temporary prefix, as a packager or `tools/install` would, and checks
// that a desktop finds, validates and starts what was installed.
class TestInstall : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_prefix;
    QTemporaryDir m_home;

    [[nodiscard]] QString installed(const QString& relativePath) const { return m_prefix.filePath(relativePath); }

    // What the installed programs see: a home and temporary folder of their own.
    [[nodiscard]] QProcessEnvironment isolatedEnvironment() const
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("HOME"), m_home.path());
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), m_home.filePath(QStringLiteral("config")));
        environment.insert(QStringLiteral("XDG_DATA_HOME"), m_home.filePath(QStringLiteral("data")));
        environment.insert(QStringLiteral("XDG_CACHE_HOME"), m_home.filePath(QStringLiteral("cache")));
        environment.insert(QStringLiteral("TMPDIR"), m_home.filePath(QStringLiteral("tmp")));
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        QDir(m_home.path()).mkpath(QStringLiteral("tmp"));
        return environment;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_prefix.isValid());
        QVERIFY(m_home.isValid());
        const QString buildDir = buildDirectory();
        QVERIFY2(!buildDir.isEmpty(), "not run from a CMake build tree");
        QString cmake = cachedValue(buildDir, QStringLiteral("CMAKE_COMMAND"));
        if (cmake.isEmpty())
            cmake = QStringLiteral("cmake");
        const RunResult install = run(cmake,
            { QStringLiteral("--install"), buildDir, QStringLiteral("--prefix"), m_prefix.path() }, installTimeoutMs);
        QVERIFY2(install.finished && install.exitCode == 0, qPrintable(install.output));
    }

    void installsFile_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("executable");
        QTest::newRow("application") << QStringLiteral("bin/limnoscope") << true;
        QTest::newRow("command-line reader") << QStringLiteral("bin/limnoscope-info") << true;
        QTest::newRow("desktop entry") << QStringLiteral("share/applications/limnoscope.desktop") << false;
        QTest::newRow("icon") << QStringLiteral("share/icons/hicolor/scalable/apps/limnoscope.svg") << false;
        QTest::newRow("metainfo") << QStringLiteral("share/metainfo/org.limnoscope.Limnoscope.metainfo.xml") << false;
    }

    void installsFile()
    {
        QFETCH(QString, path);
        QFETCH(bool, executable);
        const QFileInfo file(installed(path));
        QVERIFY2(file.isFile(), qPrintable(file.filePath()));
        QVERIFY(file.size() > 0);
        QCOMPARE(file.isExecutable(), executable);
    }

    void installsResourcesFolder() { QVERIFY(QFileInfo(installed(QStringLiteral("share/limnoscope"))).isDir()); }

    void desktopEntryOpensFoldersAndEveryImageType()
    {
        const QHash<QString, QString> entry
            = desktopEntry(installed(QStringLiteral("share/applications/limnoscope.desktop")));
        QCOMPARE(entry.value(QStringLiteral("Exec")), QStringLiteral("limnoscope %f"));
        QCOMPARE(entry.value(QStringLiteral("Icon")), QStringLiteral("limnoscope"));
        const QStringList categories = entry.value(QStringLiteral("Categories")).split(u';', Qt::SkipEmptyParts);
        QVERIFY(categories.contains(QStringLiteral("Graphics")));
        QVERIFY(categories.contains(QStringLiteral("Viewer")));

        const QStringList mimeTypes = entry.value(QStringLiteral("MimeType")).split(u';', Qt::SkipEmptyParts);
        QVERIFY(mimeTypes.contains(QStringLiteral("inode/directory")));
        // Every file the folder scan lists must be one a file manager offers to open with us,
        // under the name this system's MIME database gives it.
        const QMimeDatabase mime;
        for (const char* extension : { "jpg", "jpeg", "png", "webp", "heic", "tiff", "tif" }) {
            const QString name = mime.mimeTypeForFile(QStringLiteral("image.") + QLatin1String(extension),
                                         QMimeDatabase::MatchExtension)
                                     .name();
            QVERIFY2(mimeTypes.contains(name), qPrintable(QStringLiteral("%1 (%2) is missing").arg(name, extension)));
        }
    }

    void installedFilesValidate_data()
    {
        QTest::addColumn<QString>("validator");
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("desktop entry") << QStringLiteral("desktop-file-validate")
                                       << QStringList { installed(
                                              QStringLiteral("share/applications/limnoscope.desktop")) };
        QTest::newRow("metainfo") << QStringLiteral("appstreamcli")
                                  << QStringList { QStringLiteral("validate"), QStringLiteral("--no-net"),
                                         installed(
                                             QStringLiteral("share/metainfo/org.limnoscope.Limnoscope.metainfo.xml")) };
    }

    void installedFilesValidate()
    {
        QFETCH(QString, validator);
        QFETCH(QStringList, arguments);
        const QString program = QStandardPaths::findExecutable(validator);
        if (program.isEmpty())
            QSKIP(qPrintable(validator + QStringLiteral(" is not installed (tools/setup installs it)")));
        const RunResult result = run(program, arguments, validatorTimeoutMs);
        QVERIFY2(result.finished && result.exitCode == 0, qPrintable(result.output));
        // desktop-file-validate exits 0 on hints and warnings; it prints nothing for a clean file.
        if (validator == QLatin1String("desktop-file-validate"))
            QVERIFY2(result.output.trimmed().isEmpty(), qPrintable(result.output));
    }

    void installedReaderUsesBundledExiftool()
    {
        const QString systemExiftool = QStringLiteral("/usr/bin/exiftool");
        if (!QFileInfo::exists(systemExiftool))
            QSKIP("exiftool is not installed (tools/setup installs it)");
        // A bundled copy, as a package would ship it: not yet executable; the reader makes it so
        // when it picks it up.
        const QString bundled = installed(QStringLiteral("share/limnoscope/exiftool"));
        QFile::remove(bundled);
        QVERIFY(QFile::copy(systemExiftool, bundled));
        QVERIFY(
            QFile::setPermissions(bundled, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther));

        const QString image = m_home.filePath(QStringLiteral("images/one.png"));
        test::writeFile(image, test::pngWithDescription(test::sampleLimnoraText(77).toLatin1()));
        const RunResult result
            = run(installed(QStringLiteral("bin/limnoscope-info")), { image }, infoTimeoutMs, isolatedEnvironment());
        QVERIFY2(result.finished && result.exitCode == 0, qPrintable(result.output));

        const QJsonObject line = QJsonDocument::fromJson(result.output.toUtf8()).object();
        QCOMPARE(line.value(QStringLiteral("file")).toString(), image);
        QVERIFY2(line.value(QStringLiteral("metadata")).isObject(), qPrintable(result.output));
        QVERIFY2(QFileInfo(bundled).isExecutable(), "the installed reader did not look in its resources folder");
    }

    void installedApplicationStarts()
    {
        QDir(m_home.path()).mkpath(QStringLiteral("images"));
        test::writeFile(m_home.filePath(QStringLiteral("images/two.png")),
            test::pngWithDescription(test::sampleLimnoraText(78).toLatin1()));
        QProcess application;
        application.setProcessEnvironment(isolatedEnvironment());
        application.setProcessChannelMode(QProcess::MergedChannels);
        application.start(installed(QStringLiteral("bin/limnoscope")), { m_home.filePath(QStringLiteral("images")) });
        QVERIFY(application.waitForStarted());
        QVERIFY2(!application.waitForFinished(startupGraceMs),
            qPrintable(QStringLiteral("ended at once with status %1: %2")
                           .arg(application.exitCode())
                           .arg(QString::fromUtf8(application.readAll()))));
        application.terminate();
        QVERIFY(application.waitForFinished(quitTimeoutMs));
    }
};

QTEST_GUILESS_MAIN(TestInstall)
#include "tst_Install.moc"
