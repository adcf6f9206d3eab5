#include "FileOperations.h"

#include <QApplication>
#include <QClipboard>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QMimeData>
#include <QStandardPaths>
#include <QtConcurrent>

#include <sys/stat.h>

namespace limnoscope {
namespace {

// Images larger than this are not put on the clipboard whole.
constexpr int clipboardImageAllocationLimitMB = 512;

bool isInsideTrash(const QString &path)
{
    return path.contains(QLatin1String("/Trash/files/")) || path.contains(QLatin1String("/.Trash-"));
}

// Qt retries creating the Trash's information file under a new name for as long as creating it
// fails, whatever the reason: a home Trash whose "info" or "files" is not a writable folder
// would hold the GUI thread for good. Such a Trash counts as unusable. (Files on another file
// system go to that file system's own Trash folder, which Qt sets up itself.)
bool homeTrashLooksUsable(const QString &path)
{
    const QString dataHome = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    struct stat file {};
    struct stat data {};
    if (::stat(QFile::encodeName(path).constData(), &file) != 0
        || ::stat(QFile::encodeName(dataHome).constData(), &data) != 0 || file.st_dev != data.st_dev)
        return true;
    for (const char *part : {"/Trash/files", "/Trash/info"}) {
        const QFileInfo folder(dataHome + QLatin1String(part));
        if (folder.exists() && !(folder.isDir() && folder.isWritable()))
            return false;
    }
    return true;
}

} // namespace

bool moveFileToTrash(const QUrl &fileURL)
{
    const QString path = fileURL.toLocalFile();
    if (path.isEmpty() || !QFileInfo::exists(path))
        return false;
    // Qt moves the file into the working directory and reports success when the data directory
    // is missing: make sure it exists, and check where the file went.
    QDir().mkpath(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation));
    if (!homeTrashLooksUsable(path))
        return false;
    QString pathInTrash;
    if (!QFile::moveToTrash(path, &pathInTrash))
        return false;
    if (isInsideTrash(pathInTrash))
        return true;
    // Somewhere that is not a Trash: put the file back.
    if (!pathInTrash.isEmpty() && !QFileInfo::exists(path))
        QFile::rename(pathInTrash, path);
    return false;
}

void revealInFileManager(const QUrl &fileURL)
{
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    call << QStringList{fileURL.toString(QUrl::FullyEncoded)} << QString();
    const QUrl folder = QUrl::fromLocalFile(QFileInfo(fileURL.toLocalFile()).absolutePath());
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        QDesktopServices::openUrl(folder);
        return;
    }
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), qApp);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, qApp, [watcher, folder] {
        if (watcher->isError())
            QDesktopServices::openUrl(folder);
        watcher->deleteLater();
    });
}

void copyPathToClipboard(const QUrl &fileURL)
{
    QApplication::clipboard()->setText(fileURL.toLocalFile());
}

void copyImageToClipboard(const QUrl &fileURL)
{
    const QString path = fileURL.toLocalFile();
    QtConcurrent::run([path] {
        QImageReader reader(path);
        reader.setAutoTransform(true);
        reader.setAllocationLimit(clipboardImageAllocationLimitMB);
        return reader.read();
    }).then(qApp, [](const QImage &image) {
        if (!image.isNull())
            QApplication::clipboard()->setImage(image);
    });
}

} // namespace limnoscope
