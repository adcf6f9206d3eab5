#include "AppDelegate.h"

#include "ImageBrowserModel.h"

#include <QDir>
#include <QFileInfo>
#include <QtConcurrent>

#include <unistd.h>

namespace limnoscope {

AppDelegate::AppDelegate(ImageBrowserModel *model, QObject *parent)
    : QObject(parent)
    , m_model(model)
{
}

void AppDelegate::applicationDidFinishLaunching(const QString &openAtStart, const std::function<void(const QUrl &)> &open)
{
    if (openAtStart.isEmpty())
        m_model->restoreLastFolder();
    else
        open(QUrl::fromLocalFile(QFileInfo(openAtStart).absoluteFilePath()));
    raiseOpenFileLimit();
    // Qt's network access keeps its HTTP cache in memory unless given a disk cache: nothing to
    // install for the memory-only cache.
    const QString temporary = temporaryDirectory();
    QThreadPool::globalInstance()->start([temporary] { sweepDownloadLeftovers(temporary); });
}

QString AppDelegate::temporaryDirectory()
{
    return QDir::tempPath() + QStringLiteral("/limnoscope-%1").arg(::getuid());
}

void AppDelegate::sweepDownloadLeftovers(const QString &directory)
{
    QDir folder(directory);
    const QStringList leftovers = folder.entryList({QStringLiteral("CFNetworkDownload*")},
                                                   QDir::Files | QDir::Dirs | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QString &name : leftovers) {
        const QString path = folder.filePath(name);
        if (QFileInfo(path).isDir() && !QFileInfo(path).isSymLink())
            QDir(path).removeRecursively();
        else
            folder.remove(name);
    }
}

void AppDelegate::raiseOpenFileLimit()
{
    struct rlimit limit {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return;
    limit.rlim_cur = std::min(limit.rlim_max, openFileLimit);
    ::setrlimit(RLIMIT_NOFILE, &limit);
}

} // namespace limnoscope
