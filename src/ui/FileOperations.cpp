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

namespace limnoscope {
namespace {

// Images larger than this are not put on the clipboard whole.
constexpr int clipboardImageAllocationLimitMB = 512;

bool isInsideTrash(const QString &path)
{
    return path.contains(QLatin1String("/Trash/files/")) || path.contains(QLatin1String("/.Trash-"));
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
