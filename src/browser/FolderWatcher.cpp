#include "FolderWatcher.h"

#include <QFileSystemWatcher>
#include <QLoggingCategory>
#include <QSet>

namespace limnoscope {

namespace {
Q_LOGGING_CATEGORY(lcWatch, "limnoscope.browser.watch")
}

FolderWatcher::FolderWatcher(QObject* parent)
    : QObject(parent)
    , m_watcher(new QFileSystemWatcher(this))
{
    m_delay.setSingleShot(true);
    m_delay.setInterval(coalescingDelay);
    connect(&m_delay, &QTimer::timeout, this, &FolderWatcher::changed);
    // Directory events only: a file's own changes show up as changes of the folder holding it.
    connect(m_watcher, &QFileSystemWatcher::directoryChanged, this, &FolderWatcher::noteChange);
}

void FolderWatcher::watch(const QString& folderPath, const QStringList& subfolderPaths)
{
    stop();
    if (!m_watcher->addPath(folderPath)) {
        qCDebug(lcWatch) << "cannot watch" << folderPath;
        return;
    }
    m_folderPath = folderPath;
    updateSubfolders(subfolderPaths);
}

void FolderWatcher::updateSubfolders(const QStringList& subfolderPaths)
{
    if (!isWatching())
        return;
    const QSet<QString> wanted(subfolderPaths.cbegin(), subfolderPaths.cend());
    QStringList gone;
    for (const QString& path : m_watcher->directories()) {
        if (path != m_folderPath && !wanted.contains(path))
            gone.append(path);
    }
    if (!gone.isEmpty())
        m_watcher->removePaths(gone);
    const QStringList watched = m_watcher->directories();
    const QSet<QString> alreadyWatched(watched.cbegin(), watched.cend());
    QStringList added;
    for (const QString& path : subfolderPaths) {
        if (!alreadyWatched.contains(path))
            added.append(path);
    }
    // A subfolder that cannot be watched (no permission, watch limit) only misses live updates.
    if (!added.isEmpty()) {
        const QStringList failed = m_watcher->addPaths(added);
        if (!failed.isEmpty())
            qCDebug(lcWatch) << "cannot watch" << failed;
    }
}

void FolderWatcher::stop()
{
    m_delay.stop();
    m_folderPath.clear();
    const QStringList watched = watchedPaths();
    if (!watched.isEmpty())
        m_watcher->removePaths(watched);
}

QStringList FolderWatcher::watchedPaths() const
{
    return m_watcher->directories() + m_watcher->files();
}

void FolderWatcher::noteChange()
{
    // The first change of a burst starts the delay; later ones ride along with it.
    if (!m_delay.isActive())
        m_delay.start();
}

} // namespace limnoscope
