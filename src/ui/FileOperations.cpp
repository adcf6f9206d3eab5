#include "FileOperations.h"

#include "DesktopTrash.h"
#include "ImageBrowserModel.h"
#include "LocalizedText.h"
#include "UiLogging.h"

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
#include <QMessageBox>
#include <QMimeData>
#include <QPointer>
#include <QtConcurrent>

Q_LOGGING_CATEGORY(lcUI, "limnoscope.ui", QtWarningMsg)

namespace limnoscope {
namespace {

// Images larger than this are not put on the clipboard whole.
constexpr int clipboardImageAllocationLimitMB = 512;

// What one batch of Trash moves did.
struct TrashOutcome {
    QSet<QUrl> moved;
    QList<std::pair<QUrl, QString>> failures; // image and reason, in the order asked
};

// The images of batches still being moved: the keys are live and a second press must not try
// the same file again while the first move runs. GUI thread only.
QSet<QUrl>& imagesBeingTrashed()
{
    static QSet<QUrl> images;
    return images;
}

void reportTrashFailures(const QList<std::pair<QUrl, QString>>& failures, QWidget* window)
{
    QStringList lines;
    for (const auto& [url, reason] : failures) {
        qCDebug(lcUI) << "not moved to the Trash:" << url.toLocalFile() << reason;
        lines.append(localizedFormat("trash_failure_line", { url.fileName(), reason }));
    }
    const QString text = failures.size() == 1
        ? localizedFormat("trash_failed_message", { failures.first().first.fileName() })
        : localizedFormat("trash_failed_multi_message", { QString::number(failures.size()) });
    auto* box = new QMessageBox(QMessageBox::Warning, QString(), text, QMessageBox::Ok, window);
    box->setObjectName(QStringLiteral("TrashFailureMessage"));
    box->setInformativeText(lines.join(u'\n'));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

} // namespace

void trashImages(
    ImageBrowserModel* model, const QList<QUrl>& urls, QWidget* window, const std::function<void()>& finished)
{
    QList<QUrl> batch;
    for (const QUrl& url : urls) {
        if (!imagesBeingTrashed().contains(url) && !batch.contains(url))
            batch.append(url);
    }
    if (batch.isEmpty())
        return;
    for (const QUrl& url : std::as_const(batch))
        imagesBeingTrashed().insert(url);
    // A Trash on a slow or remote file system can take long: the GUI thread never waits for it.
    QPointer<QWidget> dialogParent(window);
    QPointer<ImageBrowserModel> target(model);
    QtConcurrent::run([batch] {
        TrashOutcome outcome;
        for (const QUrl& url : batch) {
            QString reason;
            if (moveFileToTrash(url, &reason))
                outcome.moved.insert(url);
            else
                outcome.failures.append({ url, reason });
        }
        return outcome;
    }).then(qApp, [batch, dialogParent, target, finished](const TrashOutcome& outcome) {
        for (const QUrl& url : batch)
            imagesBeingTrashed().remove(url);
        if (!target)
            return;
        target->forgetTrashedImages(outcome.moved);
        if (!outcome.failures.isEmpty())
            reportTrashFailures(outcome.failures, dialogParent);
        if (finished)
            finished();
    });
}

bool moveFileToTrash(const QUrl& fileURL, QString* failure)
{
    const std::optional<QString> reason = fileURL.isLocalFile() ? DesktopTrash::moveToTrash(fileURL.toLocalFile())
                                                                : std::optional(qtTrId("trash_error_missing"));
    if (!reason)
        return true;
    if (failure)
        *failure = *reason;
    return false;
}

void revealInFileManager(const QUrl& fileURL)
{
    QDBusMessage call = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.FileManager1"),
        QStringLiteral("/org/freedesktop/FileManager1"), QStringLiteral("org.freedesktop.FileManager1"),
        QStringLiteral("ShowItems"));
    call << QStringList { fileURL.toString(QUrl::FullyEncoded) } << QString();
    const QUrl folder = QUrl::fromLocalFile(QFileInfo(fileURL.toLocalFile()).absolutePath());
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        QDesktopServices::openUrl(folder);
        return;
    }
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), qApp);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, qApp, [watcher, folder] {
        if (watcher->isError())
            QDesktopServices::openUrl(folder);
        watcher->deleteLater();
    });
}

void copyPathToClipboard(const QUrl& fileURL)
{
    QApplication::clipboard()->setText(fileURL.toLocalFile());
}

void copyImageToClipboard(const QUrl& fileURL)
{
    const QString path = fileURL.toLocalFile();
    QtConcurrent::run([path] {
        QImageReader reader(path);
        reader.setAutoTransform(true);
        reader.setAllocationLimit(clipboardImageAllocationLimitMB);
        return reader.read();
    }).then(qApp, [](const QImage& image) {
        if (!image.isNull())
            QApplication::clipboard()->setImage(image);
    });
}

} // namespace limnoscope
