#include "FolderWatcher.h"

#include "BrowserLogging.h"

#include <QFile>
#include <QSet>
#include <QSocketNotifier>

#include <cerrno>

#include <sys/inotify.h>
#include <unistd.h>

Q_LOGGING_CATEGORY(lcBrowser, "limnoscope.browser", QtWarningMsg)

namespace limnoscope {

namespace {

// Entries coming and going, files finished writing (a generator may write an image in place,
// which changes no entry of the folder) and the watched folder itself going away. Attribute
// changes are left out: writing a colour tag must not rescan anything.
constexpr quint32 watchedEvents
    = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_CLOSE_WRITE | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;
// Room for many events per read; the kernel never splits one event across reads.
constexpr size_t eventBufferBytes = 16 * 1024;
} // namespace

FolderWatcher::FolderWatcher(QObject* parent)
    : QObject(parent)
    , m_inotify(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC))
{
    m_delay.setSingleShot(true);
    m_delay.setInterval(coalescingDelay);
    connect(&m_delay, &QTimer::timeout, this, &FolderWatcher::changed);
    if (m_inotify < 0) {
        qCWarning(lcBrowser) << "inotify is not available:" << qt_error_string(errno);
        return;
    }
    m_notifier = new QSocketNotifier(m_inotify, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &FolderWatcher::readEvents);
}

FolderWatcher::~FolderWatcher()
{
    if (m_inotify >= 0)
        ::close(m_inotify); // ends every watch with it
}

void FolderWatcher::watch(const QString& folderPath, const QStringList& subfolderPaths)
{
    stop();
    if (!addWatch(folderPath)) {
        qCDebug(lcBrowser) << "cannot watch" << folderPath;
        return;
    }
    m_folderPath = folderPath;
    updateSubfolders(subfolderPaths);
}

void FolderWatcher::updateSubfolders(const QStringList& subfolderPaths)
{
    if (!isWatching())
        return;
    QSet<QString> wanted(subfolderPaths.cbegin(), subfolderPaths.cend());
    wanted.insert(m_folderPath); // again, when it was moved and something is at its path now
    const QStringList watched = watchedPaths();
    for (const QString& path : watched) {
        if (!wanted.contains(path))
            removeWatch(path);
    }
    // A subfolder that cannot be watched (no permission, watch limit) only misses live updates.
    for (const QString& path : std::as_const(wanted)) {
        if (!m_watchByPath.contains(path) && !addWatch(path))
            qCDebug(lcBrowser) << "cannot watch" << path;
    }
}

void FolderWatcher::stop()
{
    m_delay.stop();
    m_folderPath.clear();
    const QStringList watched = watchedPaths();
    for (const QString& path : watched)
        removeWatch(path);
}

bool FolderWatcher::addWatch(const QString& path)
{
    if (m_inotify < 0)
        return false;
    const int watch = ::inotify_add_watch(m_inotify, QFile::encodeName(path).constData(), watchedEvents);
    if (watch < 0)
        return false;
    // Two paths of one folder (a link beside its target) share one watch descriptor.
    m_watchByPath.insert(path, watch);
    if (!m_pathByWatch.contains(watch))
        m_pathByWatch.insert(watch, path);
    return true;
}

void FolderWatcher::removeWatch(const QString& path)
{
    const int watch = m_watchByPath.take(path);
    const QStringList sharing = pathsOf(watch);
    if (!sharing.isEmpty()) { // the folder is still watched under another path
        m_pathByWatch.insert(watch, sharing.first());
        return;
    }
    m_pathByWatch.remove(watch);
    ::inotify_rm_watch(m_inotify, watch);
}

QStringList FolderWatcher::pathsOf(int watch) const
{
    QStringList paths;
    for (auto entry = m_watchByPath.cbegin(); entry != m_watchByPath.cend(); ++entry) {
        if (entry.value() == watch)
            paths.append(entry.key());
    }
    return paths;
}

void FolderWatcher::readEvents()
{
    alignas(inotify_event) char buffer[eventBufferBytes];
    bool relevant = false;
    for (;;) {
        const ssize_t length = ::read(m_inotify, buffer, sizeof buffer);
        if (length <= 0)
            break; // EAGAIN: all read
        for (ssize_t offset = 0; offset < length;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + offset);
            offset += ssize_t(sizeof(inotify_event) + event->len);
            if (event->mask & IN_Q_OVERFLOW) { // events were lost: anything may have changed
                relevant = true;
                continue;
            }
            if (!m_pathByWatch.contains(event->wd))
                continue; // a watch ended meanwhile
            if (event->mask & IN_IGNORED) { // the kernel ended the watch: its folder was deleted
                for (const QString& gone : pathsOf(event->wd))
                    m_watchByPath.remove(gone);
                m_pathByWatch.remove(event->wd);
                continue;
            }
            // A moved folder takes its watch along: its paths no longer name it.
            if (event->mask & IN_MOVE_SELF) {
                for (const QString& moved : pathsOf(event->wd))
                    removeWatch(moved);
            }
            relevant = true;
        }
    }
    if (relevant && isWatching())
        noteChange();
}

void FolderWatcher::noteChange()
{
    // The first change of a burst starts the delay; later ones ride along with it.
    if (!m_delay.isActive())
        m_delay.start();
}

} // namespace limnoscope
