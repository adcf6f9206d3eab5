#include "FileOperations.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

using namespace limnoscope;

namespace {

const QByteArray imageBytes = "\x89PNG\r\n\x1a\n not really an image";

void writeBytes(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(bytes), bytes.size());
}

enum class TrashDamage { None, TrashIsAFile, FilesIsAFile, InfoIsAFile, ReadOnlyDataDirectory };

} // namespace

// A Trash that cannot be used: the move reports failure and the image stays where it was,
// unchanged. The home folder, its data folder and the images share one temporary folder, so
// the home Trash is the one used.
class FaultsTrash : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_root;
    QString m_home;
    QString m_data;

private slots:
    void initTestCase()
    {
        QVERIFY(m_root.isValid());
        m_home = m_root.filePath(QStringLiteral("home"));
        m_data = m_home + QStringLiteral("/.local/share");
        qputenv("HOME", QFile::encodeName(m_home));
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_data));
    }

    void cleanup()
    {
        QFile::setPermissions(m_data, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QDir(m_home).removeRecursively();
    }

    void unusableTrash_data()
    {
        QTest::addColumn<TrashDamage>("damage");
        QTest::addColumn<bool>("moved");
        QTest::newRow("usable Trash") << TrashDamage::None << true;
        QTest::newRow("Trash is a file") << TrashDamage::TrashIsAFile << false;
        QTest::newRow("Trash/files is a file") << TrashDamage::FilesIsAFile << false;
        QTest::newRow("Trash/info is a file") << TrashDamage::InfoIsAFile << false;
        QTest::newRow("read-only data folder") << TrashDamage::ReadOnlyDataDirectory << false;
    }

    void unusableTrash()
    {
        QFETCH(TrashDamage, damage);
        QFETCH(bool, moved);
        QVERIFY(QDir().mkpath(m_data));
        switch (damage) {
        case TrashDamage::None:
            break;
        case TrashDamage::TrashIsAFile:
            writeBytes(m_data + "/Trash", "not a folder");
            break;
        case TrashDamage::FilesIsAFile:
            QVERIFY(QDir().mkpath(m_data + "/Trash/info"));
            writeBytes(m_data + "/Trash/files", "not a folder");
            break;
        case TrashDamage::InfoIsAFile:
            QVERIFY(QDir().mkpath(m_data + "/Trash/files"));
            writeBytes(m_data + "/Trash/info", "not a folder");
            break;
        case TrashDamage::ReadOnlyDataDirectory:
            if (::geteuid() == 0)
                QSKIP("running as root: permissions do not stop root from writing, so a read-only "
                      "data folder cannot be simulated here");
            QVERIFY(QFile::setPermissions(m_data, QFile::ReadOwner | QFile::ExeOwner));
            break;
        }

        const QString image = m_home + QStringLiteral("/pictures/lake.png");
        writeBytes(image, imageBytes);
        QCOMPARE(moveFileToTrash(QUrl::fromLocalFile(image)), moved);
        QCOMPARE(QFileInfo::exists(image), !moved);
        if (!moved) {
            QFile file(image);
            QVERIFY(file.open(QIODevice::ReadOnly));
            QCOMPARE(file.readAll(), imageBytes);
            // Not moved somewhere else either (Qt's fallback for a missing data folder).
            QVERIFY(!QFileInfo::exists(QDir::current().filePath(QStringLiteral("files/lake.png"))));
        } else {
            QVERIFY(QFileInfo::exists(m_data + "/Trash/files/lake.png"));
        }
    }
};

QTEST_MAIN(FaultsTrash)
#include "tst_FaultsTrash.moc"
