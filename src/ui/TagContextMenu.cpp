#include "TagContextMenu.h"

#include "ActionTable.h"
#include "AppNotifications.h"
#include "FileTags.h"

#include <QCoreApplication>
#include <QPointer>
#include <QThreadPool>
#include <QtConcurrent>

namespace limnoscope {
namespace {

const QString activeMark = QStringLiteral("\u25CF ");
const QString inactiveMark = QStringLiteral("\u25CB ");

} // namespace

TagContextMenu::TagContextMenu(
    const QUrl& url, const QList<FinderTag>& knownTags, const AppContext& context, QWidget* parent)
    : QMenu(qtTrId("ctx_tags"), parent)
    , m_url(url)
    , m_notifications(context.notifications)
    , m_worker(context.tagWorker)
    , m_activeTags(knownTags)
{
    const ActionTable* actions = context.actions.data();
    for (std::size_t i = 0; i < allFinderTags.size(); ++i) {
        const FinderTag tag = allFinderTags[i];
        m_tagActions[i] = addAction(entryTitle(tag, m_activeTags.contains(tag)), this, [this, tag] { toggle(tag); });
        if (actions)
            actions->showShortcutsOn(m_tagActions[i], ActionTable::tagCommand(tag));
    }
    addSeparator();
    QAction* removeAllAction = addAction(qtTrId("tag_remove_all"), this, &TagContextMenu::removeAll);
    if (actions)
        actions->showShortcutsOn(removeAllAction, ActionTable::Command::removeAllTags);
    connect(this, &QMenu::aboutToShow, this, &TagContextMenu::readActiveTags);
}

QString TagContextMenu::entryTitle(FinderTag tag, bool isActive)
{
    return (isActive ? activeMark : inactiveMark) + localizedName(tag);
}

void TagContextMenu::setActiveTags(const QList<FinderTag>& tags)
{
    m_activeTags = tags;
    for (std::size_t i = 0; i < allFinderTags.size(); ++i)
        m_tagActions[i]->setText(entryTitle(allFinderTags[i], m_activeTags.contains(allFinderTags[i])));
    emit activeTagsChanged();
}

// The menu closes, and may be gone, before a change lands: the announcement is made regardless.

void TagContextMenu::readActiveTags()
{
    QPointer<TagContextMenu> menu(this);
    QtConcurrent::run(m_worker, [url = m_url] {
        return readTags(url);
    }).then(qApp, [menu](const QList<FinderTag>& tags) {
        if (menu)
            menu->setActiveTags(tags);
    });
}

void TagContextMenu::toggle(FinderTag tag)
{
    QPointer<TagContextMenu> menu(this);
    QtConcurrent::run(m_worker, [url = m_url, tag] {
        toggleTag(tag, url);
        return readTags(url);
    }).then(qApp, [menu, notifications = m_notifications](const QList<FinderTag>& tags) {
        if (menu)
            menu->setActiveTags(tags);
        if (notifications)
            emit notifications->tagsDidChange();
    });
}

void TagContextMenu::removeAll()
{
    QPointer<TagContextMenu> menu(this);
    QtConcurrent::run(m_worker, [url = m_url] {
        removeAllTags(url);
    }).then(qApp, [menu, notifications = m_notifications] {
        if (menu)
            menu->setActiveTags({});
        if (notifications)
            emit notifications->tagsDidChange();
    });
}

} // namespace limnoscope
