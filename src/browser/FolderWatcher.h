#pragma once

#include <QObject>
#include <QStringList>
#include <QTimer>

#include <chrono>

class QFileSystemWatcher;

namespace limnoscope {

// Watches an opened folder and each of its immediate subfolders and reports every burst of
// changes once, one coalescing delay after the burst's first change. Lives on the GUI thread.
class FolderWatcher : public QObject
{
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds coalescingDelay { 1000 };

    explicit FolderWatcher(QObject* parent = nullptr);

    // Replaces any earlier watch. Watches nothing when `folderPath` itself cannot be watched.
    void watch(const QString& folderPath, const QStringList& subfolderPaths);
    // Keeps the folder and watches exactly `subfolderPaths` beside it; nothing when not watching.
    void updateSubfolders(const QStringList& subfolderPaths);
    // Ends the watch; a burst still waiting for its delay is dropped.
    void stop();

    [[nodiscard]] bool isWatching() const { return !m_folderPath.isEmpty(); }
    [[nodiscard]] QStringList watchedPaths() const;

signals:
    void changed();

private:
    void noteChange();

    QFileSystemWatcher* m_watcher;
    QTimer m_delay;
    QString m_folderPath;
};

} // namespace limnoscope
