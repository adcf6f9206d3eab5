#pragma once

#include <QHash>
#include <QObject>
#include <QStringList>
#include <QTimer>

#include <chrono>

class QSocketNotifier;

namespace limnoscope {

// Watches an opened folder and each of its immediate subfolders with inotify and reports every
// burst of changes once, one coalescing delay after the burst's first change. Lives on the GUI
// thread, which reads the (non-blocking) inotify descriptor when it has events.
class FolderWatcher : public QObject
{
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds coalescingDelay { 1000 };

    explicit FolderWatcher(QObject* parent = nullptr);
    ~FolderWatcher() override;

    // Replaces any earlier watch. Watches nothing when `folderPath` itself cannot be watched.
    void watch(const QString& folderPath, const QStringList& subfolderPaths);
    // Keeps the folder and watches exactly `subfolderPaths` beside it; nothing when not watching.
    void updateSubfolders(const QStringList& subfolderPaths);
    // Ends the watch; a burst still waiting for its delay is dropped.
    void stop();

    [[nodiscard]] bool isWatching() const { return !m_folderPath.isEmpty(); }
    [[nodiscard]] QStringList watchedPaths() const { return m_watchByPath.keys(); }

signals:
    void changed();

private:
    bool addWatch(const QString& path);
    void removeWatch(const QString& path);
    [[nodiscard]] QStringList pathsOf(int watch) const;
    void readEvents();
    void noteChange();

    int m_inotify = -1;
    QSocketNotifier* m_notifier = nullptr;
    QHash<QString, int> m_watchByPath;
    QHash<int, QString> m_pathByWatch; // one path of each watch, to tell its events from stale ones
    QTimer m_delay;
    QString m_folderPath;
};

} // namespace limnoscope
