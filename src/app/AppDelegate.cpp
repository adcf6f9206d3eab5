#include "AppDelegate.h"

#include "AppLogging.h"
#include "ImageBrowserModel.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtConcurrent>

#include <cerrno>
#include <cstdlib>
#include <string_view>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

Q_LOGGING_CATEGORY(lcApp, "limnoscope.app", QtWarningMsg)

namespace limnoscope {

AppDelegate::AppDelegate(ImageBrowserModel* model, QObject* parent)
    : QObject(parent)
    , m_model(model)
{
}

void AppDelegate::applicationDidFinishLaunching(
    const QStringList& openAtStart, const std::function<void(const QList<QUrl>&)>& open)
{
    QList<QUrl> urls;
    for (const QString& path : openAtStart) {
        if (!path.isEmpty())
            urls.append(QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()));
    }
    if (urls.isEmpty())
        m_model->restoreLastFolder();
    else
        open(urls);
    raiseOpenFileLimit();
    // Qt's network access keeps its HTTP cache in memory unless given a disk cache: nothing to
    // install for the memory-only cache. Only the lasting folder can hold leftovers; a fresh one
    // made because that one was not ours is empty.
    // Even making a folder may wait on a slow file system: all of it on a worker.
    QThreadPool::globalInstance()->start([] {
        const QString temporary = temporaryDirectory();
        if (temporary == lastingTemporaryDirectory())
            sweepDownloadLeftovers(temporary);
    });
}

QString AppDelegate::lastingTemporaryDirectory()
{
    return QDir::tempPath() + QStringLiteral("/limnoscope-%1").arg(::getuid());
}

QString AppDelegate::temporaryDirectory()
{
    const QString lasting = lastingTemporaryDirectory();
    const QByteArray path = QFile::encodeName(lasting);
    // Made private from the start; an existing entry, ours or another user's, is left as it is.
    if (::mkdir(path.constData(), privateFolderMode) != 0 && errno != EEXIST)
        return {};
    struct stat status {
    };
    if (::lstat(path.constData(), &status) == 0 && isPrivateFolder(status))
        return lasting;
    // Another user may have made the folder first (the temporary folder is shared), or made it a
    // link: anything in it could be theirs, so a fresh folder only we can enter is used instead.
    QByteArray fresh = QFile::encodeName(lasting + QStringLiteral("-XXXXXX"));
    if (!::mkdtemp(fresh.data())) {
        qCWarning(lcApp) << "no private temporary folder:" << qt_error_string(errno);
        return {};
    }
    return QFile::decodeName(fresh);
}

bool AppDelegate::isPrivateFolder(const struct stat& status)
{
    return S_ISDIR(status.st_mode) && status.st_uid == ::getuid() && (status.st_mode & 07777) == privateFolderMode;
}

void AppDelegate::sweepDownloadLeftovers(const QString& directory)
{
    // Everything is done relative to the opened folder, and that folder is checked on its
    // descriptor: swapping the folder or an entry for a link between a check and a delete then
    // reaches nothing outside it.
    const int folder
        = ::open(QFile::encodeName(directory).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (folder < 0)
        return;
    struct stat status {
    };
    if (::fstat(folder, &status) != 0 || !isPrivateFolder(status)) {
        ::close(folder);
        return;
    }
    DIR* entries = ::fdopendir(folder); // owns `folder` from here on
    if (!entries) {
        ::close(folder);
        return;
    }
    static constexpr std::string_view leftoverPrefix = "CFNetworkDownload";
    while (const dirent* entry = ::readdir(entries)) {
        if (!std::string_view(entry->d_name).starts_with(leftoverPrefix))
            continue;
        // Downloads are plain files: a link or folder of that name was not made by a download.
        struct stat entryStatus {
        };
        if (::fstatat(folder, entry->d_name, &entryStatus, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(entryStatus.st_mode))
            ::unlinkat(folder, entry->d_name, 0);
    }
    ::closedir(entries);
}

void AppDelegate::raiseOpenFileLimit()
{
    struct rlimit limit {
    };
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return;
    limit.rlim_cur = std::min(limit.rlim_max, openFileLimit);
    if (::setrlimit(RLIMIT_NOFILE, &limit) != 0)
        qCWarning(lcApp) << "cannot raise the open-file limit:" << qt_error_string(errno);
}

} // namespace limnoscope
