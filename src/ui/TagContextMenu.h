#pragma once

#include "AppContext.h"
#include "FinderTag.h"

#include <QList>
#include <QMenu>
#include <QPointer>
#include <QThreadPool>
#include <QUrl>

#include <array>

namespace limnoscope {

class AppNotifications;

// The one worker of every tag reading and change made from the menus and keys, so that two quick
// changes of one file never overlap (each is a read, then a write) and a reading queued after a
// change sees it. Made by the application and handed down in its context.
class TagWorker : public QThreadPool
{
public:
    TagWorker() { setMaxThreadCount(1); }
};

// The colour-tag submenu of an image row: "● " before each tag the file has, "○ " before the
// others, then "remove all", each with the window's shortcut of that command. The file's tags are
// read anew each time the submenu opens; reading and writing run on the tag worker, one operation
// at a time, and every change is announced with tagsDidChange of the context's notifications (none
// when null). GUI thread.
class TagContextMenu : public QMenu
{
    Q_OBJECT

public:
    // `knownTags` are shown until the reading started on opening lands; the context's tag worker
    // reads and writes, and its actions (may be null) give the shortcuts shown.
    TagContextMenu(
        const QUrl& url, const QList<FinderTag>& knownTags, const AppContext& context, QWidget* parent = nullptr);

    [[nodiscard]] const QList<FinderTag>& activeTags() const { return m_activeTags; }
    // The entry's title: the mark, a space, the tag's name.
    [[nodiscard]] static QString entryTitle(FinderTag tag, bool isActive);

signals:
    void activeTagsChanged();

private:
    void readActiveTags();
    void toggle(FinderTag tag);
    void removeAll();
    void setActiveTags(const QList<FinderTag>& tags);

    QUrl m_url;
    QPointer<AppNotifications> m_notifications;
    QThreadPool* m_worker;
    QList<FinderTag> m_activeTags;
    std::array<QAction*, allFinderTags.size()> m_tagActions {};
};

} // namespace limnoscope
