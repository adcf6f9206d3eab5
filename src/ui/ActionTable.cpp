#include "ActionTable.h"

#include "AppNotifications.h"
#include "FileTags.h"
#include "Icons.h"
#include "ImageBrowserModel.h"
#include "QuickLookPanel.h"
#include "SettingsJSON.h"
#include "TagContextMenu.h"

#include <QAction>
#include <QActionGroup>
#include <QClipboard>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QtConcurrent>

namespace limnoscope {
namespace {

using Command = ActionTable::Command;

// One row of the table: the command, its text's key (empty where the text comes from elsewhere),
// its icon, its shortcuts ("; " between them, the first is the one menus show) and whether they
// are browsing keys, left to the keyboard map.
struct CommandRow {
    Command command;
    const char* textKey;
    const char* icon;
    const char* keys;
    bool browsingKeys;
};

// clang-format off
constexpr CommandRow commandRows[] = {
    { Command::openFolder, "menu_open_folder", "folder.badge.plus", "Ctrl+O", false },
    { Command::clearMetadataIndex, "menu_clear_metadata_index", nullptr, "", false },
    { Command::quit, "menu_quit", nullptr, "Ctrl+Q", false },
    { Command::copyPrompt, "menu_copy_prompt", nullptr, "Ctrl+Shift+C", false },
    { Command::copyNegativePrompt, "menu_copy_negative_prompt", nullptr, "Ctrl+Shift+N", false },
    { Command::copySettingsJSON, "menu_copy_settings_json", nullptr, "Ctrl+Shift+J", false },
    { Command::moveToTrash, "menu_move_to_trash", "trash", "Del; Ctrl+Backspace", true },
    { Command::moveToTrashWithoutAsking, "menu_move_to_trash_without_asking", nullptr, "Shift+Del", true },
    { Command::find, "menu_find", nullptr, "Ctrl+F", false },
    { Command::tagRed, "menu_tag_red", nullptr, "Ctrl+1", false },
    { Command::tagOrange, "menu_tag_orange", nullptr, "Ctrl+2", false },
    { Command::tagYellow, "menu_tag_yellow", nullptr, "Ctrl+3", false },
    { Command::tagGreen, "menu_tag_green", nullptr, "Ctrl+4", false },
    { Command::tagBlue, "menu_tag_blue", nullptr, "Ctrl+5", false },
    { Command::tagPurple, "menu_tag_purple", nullptr, "Ctrl+6", false },
    { Command::tagGray, "menu_tag_gray", nullptr, "Ctrl+7", false },
    { Command::removeAllTags, "tag_remove_all", nullptr, "Ctrl+0", false },
    { Command::sortNameAscending, nullptr, nullptr, "", false },
    { Command::sortNameDescending, nullptr, nullptr, "", false },
    { Command::sortDateAscending, nullptr, nullptr, "", false },
    { Command::sortDateDescending, nullptr, nullptr, "", false },
    // Ctrl+D: a text field keeps it as its own delete key.
    { Command::compare, "menu_compare", nullptr, "Ctrl+D", false },
    { Command::togglePreview, "menu_show_preview", "sidebar.right", "F9", false },
    { Command::previous, "menu_previous_image", "chevron.left", "Left; Up", true },
    { Command::next, "menu_next_image", "chevron.right", "Right; Down", true },
    { Command::first, "menu_first_image", nullptr, "Home; Ctrl+Home", true },
    { Command::last, "menu_last_image", nullptr, "End; Ctrl+End", true },
    { Command::quickLook, "menu_quick_look", "eye", "Space", true },
};
// clang-format on
static_assert(std::size(commandRows) == ActionTable::commandCount);

// A dot of the tag's colour; in the checked state a light tick inside it, for styles that show
// the icon in place of a check mark.
QIcon tagDotIcon(FinderTag tag)
{
    QIcon icon;
    for (const int side : { 16, 32 }) {
        for (const QIcon::State state : { QIcon::Off, QIcon::On }) {
            QPixmap pixmap(side, side);
            pixmap.fill(Qt::transparent);
            QPainter painter(&pixmap);
            painter.setRenderHint(QPainter::Antialiasing);
            painter.scale(side / 16.0, side / 16.0);
            painter.setPen(QPen(tagColor(tag).darker(125), 1));
            painter.setBrush(tagColor(tag));
            painter.drawEllipse(QRectF(2.5, 2.5, 11, 11));
            if (state == QIcon::On) {
                painter.setPen(QPen(Qt::white, 1.8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
                painter.drawPolyline(QPolygonF({ { 5.2, 8.2 }, { 7.2, 10.2 }, { 10.8, 5.8 } }));
            }
            painter.end();
            icon.addPixmap(pixmap, QIcon::Normal, state);
        }
    }
    return icon;
}

} // namespace

ActionTable::ActionTable(const AppContext& context, QObject* parent)
    : QObject(parent)
    , m_context(context)
{
    const QMetaEnum names = QMetaEnum::fromType<Command>();
    for (const CommandRow& row : commandRows) {
        auto* action = new QAction(this);
        action->setObjectName(QLatin1String(names.valueToKey(int(row.command))));
        if (row.textKey)
            action->setText(qtTrId(row.textKey));
        if (row.icon)
            action->setIcon(symbolIcon(row.icon));
        if (*row.keys)
            action->setShortcuts(QKeySequence::listFromString(QLatin1String(row.keys)));
        // The widgets' own keys: shown in the menus, fired by the keyboard map alone.
        action->setShortcutContext(row.browsingKeys ? Qt::WidgetShortcut : Qt::WindowShortcut);
        m_actions[std::size_t(row.command)] = action;
    }
    for (FinderTag tag : allFinderTags) {
        QAction* action = this->action(tagCommand(tag));
        action->setCheckable(true);
        action->setIcon(tagDotIcon(tag));
    }
    auto* sortGroup = new QActionGroup(this);
    for (SortOrder order : SortOrders::all()) {
        QAction* action = this->action(sortCommand(order));
        action->setText(SortOrders::displayText(order));
        action->setCheckable(true);
        sortGroup->addAction(action);
    }
    action(Command::togglePreview)->setCheckable(true);
    // In a menu its check mark says it; the icon is the toolbar's.
    action(Command::togglePreview)->setIconVisibleInMenu(false);
    for (QAction* action : m_actions)
        action->setToolTip(toolTipText(action->text(), action));
    connectCommands();
    updateEnabled();
    readCurrentTags();
}

void ActionTable::setQuickLook(QuickLookPanel* quickLook)
{
    m_context.quickLook = quickLook;
}

ActionTable::Command ActionTable::tagCommand(FinderTag tag)
{
    return Command(int(Command::tagRed) + rawValue(tag) - rawValue(FinderTag::red));
}

ActionTable::Command ActionTable::sortCommand(SortOrder order)
{
    return Command(int(Command::sortNameAscending) + int(SortOrders::all().indexOf(order)));
}

std::optional<ActionTable::Command> ActionTable::commandForKey(const QKeyEvent* event) const
{
    const QKeyCombination pressed(event->modifiers() & ~Qt::KeypadModifier, Qt::Key(event->key()));
    const QKeyCombination alone(Qt::Key(event->key()));
    std::optional<Command> byKeyAlone;
    for (int index = 0; index < commandCount; ++index) {
        for (const QKeySequence& keys : m_actions[std::size_t(index)]->shortcuts()) {
            if (keys.count() != 1)
                continue;
            if (keys[0] == pressed)
                return Command(index);
            if (keys[0] == alone && !byKeyAlone && isBrowsingKeyCommand(Command(index)))
                byKeyAlone = Command(index);
        }
    }
    return byKeyAlone;
}

bool ActionTable::isBrowsingKeyCommand(Command command) const
{
    return action(command)->shortcutContext() == Qt::WidgetShortcut;
}

void ActionTable::showShortcutsOn(QAction* local, Command command) const
{
    local->setShortcuts(action(command)->shortcuts());
    // A context menu's action is in no focused widget: the key stays the window's.
    local->setShortcutContext(Qt::WidgetShortcut);
}

QString ActionTable::toolTipText(const QString& text, const QAction* action)
{
    QString plain = text;
    plain.replace(QStringLiteral("&&"), QStringLiteral("\x01")).remove(u'&').replace(u'\x01', u'&');
    if (action->shortcut().isEmpty())
        return plain;
    return QStringLiteral("%1 (%2)").arg(plain, action->shortcut().toString(QKeySequence::NativeText));
}

void ActionTable::connectCommands()
{
    ImageBrowserModel* model = m_context.model;
    AppNotifications* notifications = m_context.notifications;
    connect(action(Command::openFolder), &QAction::triggered, notifications, &AppNotifications::openFolderCommand);
    connect(action(Command::clearMetadataIndex), &QAction::triggered, model, &ImageBrowserModel::clearMetadataIndex);
    connect(action(Command::copyPrompt), &QAction::triggered, this, [this] {
        if (const auto& record = m_context.model->currentMetadata())
            copyText(record->prompt);
    });
    connect(action(Command::copyNegativePrompt), &QAction::triggered, this, [this] {
        if (const auto& record = m_context.model->currentMetadata())
            copyText(record->negativePrompt);
    });
    connect(action(Command::copySettingsJSON), &QAction::triggered, this, [this] {
        if (const auto& record = m_context.model->currentMetadata())
            copyText(settingsJSONString(*record));
    });
    connect(action(Command::moveToTrash), &QAction::triggered, this, [this] {
        if (m_context.quickLook)
            m_context.quickLook->close();
        if (!m_context.model->selectedURLs().isEmpty())
            emit m_context.notifications->deleteSelectedImages();
        else
            emit m_context.notifications->deleteCurrentImage();
    });
    connect(action(Command::moveToTrashWithoutAsking), &QAction::triggered, notifications,
        &AppNotifications::deleteImmediately);
    for (FinderTag tag : allFinderTags)
        connect(action(tagCommand(tag)), &QAction::triggered, this, [this, tag] { changeCurrentImageTags(tag); });
    connect(action(Command::removeAllTags), &QAction::triggered, this, [this] { changeCurrentImageTags({}); });
    for (SortOrder order : SortOrders::all())
        connect(action(sortCommand(order)), &QAction::triggered, model, [model, order] { model->setSortOrder(order); });
    connect(action(Command::previous), &QAction::triggered, model, &ImageBrowserModel::previousImage);
    connect(action(Command::next), &QAction::triggered, model, &ImageBrowserModel::nextImage);
    connect(action(Command::first), &QAction::triggered, model, [model] {
        model->setSelectedURLs({});
        model->selectImage(0);
    });
    connect(action(Command::last), &QAction::triggered, model, [model] {
        model->setSelectedURLs({});
        model->selectImage(model->flatURLs().size() - 1);
    });
    connect(action(Command::quickLook), &QAction::triggered, this, [this] {
        if (m_context.quickLook && !m_context.model->currentImageURL().isEmpty())
            m_context.quickLook->toggle();
    });

    const auto updateSortChecks = [this, model] { action(sortCommand(model->sortOrder()))->setChecked(true); };
    connect(model, &ImageBrowserModel::sortOrderChanged, this, updateSortChecks);
    updateSortChecks();
    for (auto signal : { &ImageBrowserModel::currentImageURLChanged, &ImageBrowserModel::currentMetadataChanged,
             &ImageBrowserModel::currentIndexChanged, &ImageBrowserModel::flatURLsChanged,
             &ImageBrowserModel::selectedURLsChanged })
        connect(model, signal, this, &ActionTable::updateEnabled);
    connect(model, &ImageBrowserModel::currentImageURLChanged, this, &ActionTable::readCurrentTags);
    connect(notifications, &AppNotifications::tagsDidChange, this, &ActionTable::readCurrentTags);
}

void ActionTable::updateEnabled()
{
    const ImageBrowserModel* model = m_context.model;
    const bool hasCurrent = !model->currentImageURL().isEmpty();
    const auto& record = model->currentMetadata();
    const qint64 count = model->flatURLs().size();
    const qint64 index = model->currentIndex();
    action(Command::copyPrompt)->setEnabled(record && !record->prompt.isEmpty());
    action(Command::copyNegativePrompt)->setEnabled(record && !record->negativePrompt.isEmpty());
    action(Command::copySettingsJSON)->setEnabled(record.has_value());
    const bool anyToTrash = hasCurrent || !model->selectedURLs().isEmpty();
    action(Command::moveToTrash)->setEnabled(anyToTrash);
    action(Command::moveToTrashWithoutAsking)->setEnabled(anyToTrash);
    for (FinderTag tag : allFinderTags)
        action(tagCommand(tag))->setEnabled(hasCurrent);
    action(Command::removeAllTags)->setEnabled(hasCurrent);
    action(Command::previous)->setEnabled(count > 0 && index > 0);
    action(Command::next)->setEnabled(model->hasNext());
    action(Command::first)->setEnabled(count > 0);
    action(Command::last)->setEnabled(count > 0);
    action(Command::quickLook)->setEnabled(hasCurrent);
}

void ActionTable::readCurrentTags()
{
    if (m_readingTags) { // stepping through many images reads only the last one's tags
        m_readTagsAgain = true;
        return;
    }
    m_readingTags = true;
    const QUrl url = m_context.model->currentImageURL();
    // On the tag worker, behind any change still being written, so the reading shows it.
    QtConcurrent::run(m_context.tagWorker, [url] {
        return url.isEmpty() ? QList<FinderTag> {} : readTags(url);
    }).then(qApp, [self = QPointer(this), url](const QList<FinderTag>& tags) {
        // Qt 6.4 runs a continuation whose context object is gone: the table is checked here instead.
        if (!self)
            return;
        self->showTags(url, tags);
    });
}

void ActionTable::showTags(const QUrl& url, const QList<FinderTag>& tags)
{
    m_readingTags = false;
    if (std::exchange(m_readTagsAgain, false) || url != m_context.model->currentImageURL()) {
        readCurrentTags();
        return;
    }
    for (FinderTag tag : allFinderTags)
        action(tagCommand(tag))->setChecked(tags.contains(tag));
}

void ActionTable::changeCurrentImageTags(const std::optional<FinderTag>& toggled)
{
    const QUrl url = m_context.model->currentImageURL();
    if (url.isEmpty())
        return;
    // The outcome is not looked at: the tag views read the file again.
    QtConcurrent::run(m_context.tagWorker, [url, toggled] {
        if (toggled)
            toggleTag(*toggled, url);
        else
            removeAllTags(url);
    }).then(qApp, [self = QPointer(this)] {
        if (!self)
            return;
        emit self->m_context.notifications->tagsDidChange();
        self->m_context.model->setTagVersion(self->m_context.model->tagVersion() + 1);
    });
}

void ActionTable::copyText(const QString& text)
{
    QGuiApplication::clipboard()->setText(text);
}

} // namespace limnoscope
