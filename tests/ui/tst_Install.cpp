#include "TestSandbox.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMimeDatabase>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTest>

using namespace limnoscope;

namespace {

constexpr int installTimeoutMs = 120'000;
constexpr int toolTimeoutMs = 60'000;
constexpr int startupGraceMs = 3'000; // the window cannot say it is up; still running after this, it started
constexpr int quitTimeoutMs = 10'000;
const QString desktopEntryPath = QStringLiteral("share/applications/limnoscope.desktop");
const QString metainfoPath = QStringLiteral("share/metainfo/org.limnoscope.Limnoscope.metainfo.xml");

struct RunResult {
    bool succeeded = false; // finished in time with exit status 0
    QString output; // standard output and error
};

RunResult run(const QString& program, const QStringList& arguments, int timeoutMs,
    const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment())
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        return { false, QString::fromUtf8(process.readAll()) };
    }
    return { process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0,
        QString::fromUtf8(process.readAll()) };
}

} // namespace

// Installs the build into a temporary prefix; a desktop must find, validate and start what was installed.
class TestInstall : public QObject
{
    Q_OBJECT

private:
    test::TestSandbox m_prefix;
    test::TestSandbox m_home;

    [[nodiscard]] QString installed(const QString& relativePath) const { return m_prefix.filePath(relativePath); }

    // What the installed programs see: a home and temporary folder of their own.
    [[nodiscard]] QProcessEnvironment isolatedEnvironment() const
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("HOME"), m_home.path());
        for (const char* variable : { "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "TMPDIR" })
            environment.insert(QString::fromLatin1(variable), m_home.filePath(QString::fromLatin1(variable)));
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        QDir(m_home.path()).mkpath(QStringLiteral("TMPDIR"));
        return environment;
    }

private slots:
    void initTestCase()
    {
        const RunResult install
            = run(CMAKE_PATH, { "--install", LIMNOSCOPE_BUILD_DIR, "--prefix", m_prefix.path() }, installTimeoutMs);
        QVERIFY2(install.succeeded, qPrintable(install.output));
    }

    void installsFile_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("executable");
        QTest::newRow("application") << QStringLiteral("bin/limnoscope") << true;
        QTest::newRow("command-line reader") << QStringLiteral("bin/limnoscope-info") << true;
        QTest::newRow("desktop entry") << desktopEntryPath << false;
        QTest::newRow("icon") << QStringLiteral("share/icons/hicolor/scalable/apps/limnoscope.svg") << false;
        QTest::newRow("metainfo") << metainfoPath << false;
    }

    void installsFile()
    {
        QFETCH(QString, path);
        QFETCH(bool, executable);
        const QFileInfo file(installed(path));
        QVERIFY2(file.isFile(), qPrintable(file.filePath()));
        QVERIFY(file.size() > 0);
        QCOMPARE(file.isExecutable(), executable);
        QVERIFY(QFileInfo(installed(QStringLiteral("share/limnoscope"))).isDir()); // the resources folder
    }

    void desktopEntryOpensFoldersAndEveryImageType()
    {
        QFile file(installed(desktopEntryPath));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QString entry = QString::fromUtf8(file.readAll()); // one group: [Desktop Entry]
        const auto value = [&entry](const QString& key) {
            return QRegularExpression("^" + key + "=(.*)$", QRegularExpression::MultilineOption)
                .match(entry)
                .captured(1);
        };
        QCOMPARE(value("Exec"), QStringLiteral("limnoscope %f"));
        QCOMPARE(value("Icon"), QStringLiteral("limnoscope"));
        QVERIFY(value("Categories").split(u';').contains(QStringLiteral("Viewer")));
        // Folders, and every listed image type under this system's MIME name, so file managers offer us.
        const QStringList mimeTypes = value("MimeType").split(u';');
        QVERIFY(mimeTypes.contains(QStringLiteral("inode/directory")));
        for (const QString extension : { "jpg", "jpeg", "png", "webp", "heic", "tiff", "tif" }) {
            const QString name
                = QMimeDatabase().mimeTypeForFile("a." + extension, QMimeDatabase::MatchExtension).name();
            QVERIFY2(mimeTypes.contains(name), qPrintable(extension));
        }
    }

    void installedFilesValidate_data()
    {
        QTest::addColumn<QString>("validator");
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("desktop entry") << "desktop-file-validate" << QStringList { installed(desktopEntryPath) };
        QTest::newRow("metainfo") << "appstreamcli" << QStringList { "validate", "--no-net", installed(metainfoPath) };
    }

    void installedFilesValidate()
    {
        QFETCH(QString, validator);
        QFETCH(QStringList, arguments);
        const QString program = QStandardPaths::findExecutable(validator);
        if (program.isEmpty())
            QSKIP(qPrintable(validator + QStringLiteral(" is not installed (tools/setup installs it)")));
        const RunResult result = run(program, arguments, toolTimeoutMs);
        QVERIFY2(result.succeeded, qPrintable(result.output));
        // desktop-file-validate exits 0 on hints and warnings; it prints nothing for a clean file.
        if (validator == QLatin1String("desktop-file-validate"))
            QVERIFY2(result.output.trimmed().isEmpty(), qPrintable(result.output));
    }

    void installedReaderUsesBundledExiftool()
    {
        const QString systemExiftool = QStringLiteral("/usr/bin/exiftool");
        if (!QFileInfo::exists(systemExiftool))
            QSKIP("exiftool is not installed (tools/setup installs it)");
        // A bundled copy, as a package ships it: not executable until the reader picks it up.
        const QString bundled = installed(QStringLiteral("share/limnoscope/exiftool"));
        QFile::remove(bundled);
        QVERIFY(QFile::copy(systemExiftool, bundled) && QFile::setPermissions(bundled, QFile::ReadOwner));

        m_home.writeImages({ "images/one.png" });
        const QString image = m_home.filePath(QStringLiteral("images/one.png"));
        const RunResult result
            = run(installed(QStringLiteral("bin/limnoscope-info")), { image }, toolTimeoutMs, isolatedEnvironment());
        QVERIFY2(result.succeeded, qPrintable(result.output));
        const QJsonObject line = QJsonDocument::fromJson(result.output.toUtf8()).object();
        QCOMPARE(line.value(QStringLiteral("file")).toString(), image);
        QVERIFY2(line.value(QStringLiteral("metadata")).isObject(), qPrintable(result.output));
        QVERIFY2(QFileInfo(bundled).isExecutable(), "the installed reader did not look in its resources folder");
    }

    void installedApplicationStarts()
    {
        m_home.writeImages({ "images/two.png" });
        QProcess application;
        application.setProcessEnvironment(isolatedEnvironment());
        application.setProcessChannelMode(QProcess::MergedChannels);
        application.start(installed(QStringLiteral("bin/limnoscope")), { m_home.filePath(QStringLiteral("images")) });
        QVERIFY(application.waitForStarted());
        QVERIFY2(!application.waitForFinished(startupGraceMs), application.readAll().constData());
        application.terminate();
        QVERIFY(application.waitForFinished(quitTimeoutMs));
    }
};

QTEST_GUILESS_MAIN(TestInstall)
#include "tst_Install.moc"
