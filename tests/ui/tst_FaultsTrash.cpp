#include "FileOperations.h"
#include "TestFiles.h"
#include "TestSandbox.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTest>

#include <unistd.h>

using namespace limnoscope;
using limnoscope::test::writeFile;

namespace {

const QByteArray imageBytes = "\x89PNG\r\n\x1a\n not really an image";

// What is deleted: a plain image, a link whose target is gone, a link to an image on another drive.
enum class Deleted { Image, DanglingLink, LinkToOtherDrive };
constexpr qint64 refusalBoundMs = 2000;
constexpr int childWaitMs = 30'000;
// Set in the copy of this test that runs with a relative environment.
constexpr char relativeEnvironmentChild[] = "LIMNOSCOPE_TRASH_RELATIVE_CHILD";

} // namespace

// An unusable Trash refuses and leaves the image unchanged; images on /dev/shm use that drive's Trash.
class FaultsTrash : public QObject
{
    Q_OBJECT

private:
    test::TestSandbox m_root;
    QTemporaryDir m_drive { QStringLiteral("/dev/shm/limnoscope-trash-XXXXXX") };
    QString m_home;
    QString m_data;
    QString m_driveTrash = QStringLiteral("/dev/shm/.Trash-%1").arg(::geteuid());
    bool m_driveTrashIsOurs = false;

private slots:
    void initTestCase()
    {
        if (qEnvironmentVariableIsSet(relativeEnvironmentChild))
            return;
        m_driveTrashIsOurs = m_drive.isValid() && !QFileInfo::exists(m_driveTrash)
            && !QFileInfo::exists(QStringLiteral("/dev/shm/.Trash"));
        m_home = m_root.filePath(QStringLiteral("home"));
        m_data = m_home + QStringLiteral("/.local/share");
        qputenv("HOME", QFile::encodeName(m_home));
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_data));
    }

    void cleanup()
    {
        if (m_home.isEmpty())
            return; // the copy with a relative environment: nothing of its own to clean
        QFile::setPermissions(m_data, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QDir(m_home).removeRecursively();
        if (m_driveTrashIsOurs)
            QDir(m_driveTrash).removeRecursively(), QFile::remove(m_driveTrash);
    }

    void unusableTrash_data()
    {
        QTest::addColumn<QString>(
            "damage"); // the part that is a file ("data", "Trash", "files", "info"), or "read-only"
        QTest::addColumn<bool>("onDrive"); // the image on /dev/shm rather than beside the home
        QTest::addColumn<Deleted>("deleted");
        QTest::addColumn<QByteArray>("reason"); // empty: moved
        QTest::addColumn<QString>("fileName");
        const auto row = [](const char* name, const char* damage, bool onDrive, Deleted deleted, const char* reason,
                             const QString& fileName = QStringLiteral("lake.png")) {
            QTest::newRow(name) << damage << onDrive << deleted << QByteArray(reason) << fileName;
        };
        const char* homeUnusable = "trash_error_unusable";
        const char* driveUnusable = "trash_error_drive_unusable";
        row("usable Trash", "", false, Deleted::Image, "");
        // The .trashinfo keeps the original path, escaped.
        row("percent sign in the name", "", false, Deleted::Image, "", "a%20b.png");
        row("line feed and non-ASCII", "", false, Deleted::Image, "", "Seerose\nam Morgen ü.png");
        row("Trash is a file", "Trash", false, Deleted::Image, homeUnusable);
        row("Trash/files is a file", "files", false, Deleted::Image, homeUnusable);
        row("Trash/info is a file", "info", false, Deleted::Image, homeUnusable);
        row("read-only data folder", "read-only", false, Deleted::Image, homeUnusable);
        row("data folder is a file", "data", false, Deleted::Image, "trash_error_no_data_folder");
        row("dangling link", "", false, Deleted::DanglingLink, "");
        row("link to another drive", "", false, Deleted::LinkToOtherDrive, "");
        // GIO keeps no Trash on mounts below system folders such as /dev: a refusal with its reason.
        row("drive: usable Trash", "", true, Deleted::Image, "trash_error_system");
        row("drive: Trash is a file", "Trash", true, Deleted::Image, driveUnusable);
        row("drive: files is a file", "files", true, Deleted::Image, driveUnusable);
        row("drive: info is a file", "info", true, Deleted::Image, driveUnusable);
    }

    void unusableTrash()
    {
        QFETCH(QString, damage);
        QFETCH(bool, onDrive);
        QFETCH(Deleted, deleted);
        QFETCH(QByteArray, reason);
        QFETCH(QString, fileName);
        if ((onDrive || deleted == Deleted::LinkToOtherDrive) && !m_driveTrashIsOurs)
            QSKIP("no /dev/shm, or it has a Trash of its own already");
        if (damage == "read-only" && ::geteuid() == 0)
            QSKIP("root writes into a read-only folder");
        // Without damage the data folder is made on the way.
        QVERIFY(QDir().mkpath(damage.isEmpty() || damage == "data" ? m_home : m_data));
        const QString trash = onDrive ? m_driveTrash : m_data + "/Trash";
        if (damage == "read-only")
            QVERIFY(QFile::setPermissions(m_data, QFile::ReadOwner | QFile::ExeOwner));
        else if (!damage.isEmpty()) // the other part is a folder
            writeFile(damage == "data" ? m_data : damage == "Trash" ? trash : trash + "/" + damage, "not a folder");
        if (damage == "files" || damage == "info")
            QVERIFY(QDir().mkpath(trash + (damage == "files" ? "/info" : "/files")));

        const QString image = (onDrive ? m_drive.path() : m_home) + "/pictures/" + fileName;
        const QString target = m_drive.filePath(QStringLiteral("target.png"));
        if (deleted == Deleted::Image) {
            writeFile(image, imageBytes);
        } else {
            writeFile(target, imageBytes);
            QVERIFY(QDir().mkpath(QFileInfo(image).path()));
            QVERIFY(QFile::link(target, image));
            if (deleted == Deleted::DanglingLink)
                QVERIFY(QFile::remove(target));
        }
        QString failure;
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(moveFileToTrash(QUrl::fromLocalFile(image), &failure), reason.isEmpty());
        QVERIFY(clock.elapsed() < refusalBoundMs);
        // GIO's reason follows the system refusal's text.
        const QString expected = reason.isEmpty() ? QString() : qtTrId(reason.constData()).section("%1", 0, 0);
        QVERIFY2(
            reason == "trash_error_system" ? failure.startsWith(expected) : failure == expected, qPrintable(failure));
        const QString trashed = trash + "/files/" + fileName;
        QCOMPARE(QFileInfo(reason.isEmpty() ? trashed : image).isSymLink(), deleted != Deleted::Image);
        QCOMPARE(QFileInfo(image).isSymLink() || QFileInfo::exists(image), !reason.isEmpty());
        if (deleted == Deleted::LinkToOtherDrive) {
            QCOMPARE(QFileInfo(trashed).symLinkTarget(), target); // the link moved, its target stayed
            QVERIFY(QFileInfo::exists(target));
        }
        if (reason.isEmpty()) {
            QFile info(trash + "/info/" + fileName + ".trashinfo");
            QVERIFY(info.open(QIODevice::ReadOnly));
            const QByteArray escaped = info.readAll().split('\n').value(1).mid(int(qstrlen("Path=")));
            QVERIFY(!escaped.contains(' '));
            QCOMPARE(QString::fromUtf8(QByteArray::fromPercentEncoding(escaped)), image);
            QVERIFY(!moveFileToTrash(QUrl::fromLocalFile(image), &failure)); // gone now
            QCOMPARE(failure, qtTrId("trash_error_missing"));
        } else if (deleted == Deleted::Image) {
            QFile file(image);
            QVERIFY(file.open(QIODevice::ReadOnly));
            QCOMPARE(file.readAll(), imageBytes);
            // Not moved somewhere else either (Qt's fallback for a missing data folder).
            QVERIFY(!QFileInfo::exists(QDir::current().filePath(QStringLiteral("files/lake.png"))));
        }
    }

    // Relative HOME and XDG_DATA_HOME: refused, nothing made; in a child, as GIO reads them once.
    void relativeDataFolder()
    {
        if (qEnvironmentVariableIsSet(relativeEnvironmentChild)) {
            QString failure;
            QVERIFY(!moveFileToTrash(QUrl::fromLocalFile(QDir::current().filePath("lake.png")), &failure));
            QCOMPARE(failure, qtTrId("trash_error_no_data_folder"));
            return;
        }
        const QString work = m_root.filePath(QStringLiteral("work"));
        writeFile(work + "/lake.png", imageBytes);
        QVERIFY(QDir().mkpath(work + "/home"));
        QProcess child;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(relativeEnvironmentChild, "1");
        environment.insert("HOME", "home");
        environment.insert("XDG_DATA_HOME", "data");
        child.setProcessEnvironment(environment);
        child.setWorkingDirectory(work);
        child.setProcessChannelMode(QProcess::ForwardedChannels);
        child.start(QCoreApplication::applicationFilePath(), { QStringLiteral("relativeDataFolder") });
        QVERIFY(child.waitForFinished(childWaitMs));
        QCOMPARE(child.exitCode(), 0);
        QCOMPARE(QDir(work).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
            (QStringList { "home", "lake.png" }));
        QCOMPARE(QDir(work + "/home").entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), QStringList());
    }
};

QTEST_MAIN(FaultsTrash)
#include "tst_FaultsTrash.moc"
