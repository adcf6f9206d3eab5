#pragma once

#include "AppContext.h"
#include "FinderTag.h"
#include "SortOrder.h"

#include <QKeySequence>
#include <QList>
#include <QObject>
#include <QPointer>

#include <array>
#include <optional>

class QAction;
class QKeyEvent;

namespace limnoscope {

// The window's commands, one QAction each with its text, icon and shortcuts. The menus, the
// toolbar, the keyboard map, Quick Look and the context menus take them from here, so that a key
// is mapped in one place. The browsing keys, which text fields and buttons use too (arrows,
// Space, Delete, Home, End), are shown in the menus but never fired by Qt itself: the keyboard
// map triggers their commands while no text field, dialog or menu has the keyboard. The table
// carries out the commands that need only the model, the notifications and the clipboard; the
// window connects the others. GUI thread.
class ActionTable : public QObject
{
    Q_OBJECT

public:
    enum class Command {
        openFolder,
        clearMetadataIndex,
        quit,
        copyPrompt,
        copyNegativePrompt,
        copySettingsJSON,
        moveToTrash,
        moveToTrashWithoutAsking,
        find,
        tagRed,
        tagOrange,
        tagYellow,
        tagGreen,
        tagBlue,
        tagPurple,
        tagGray,
        removeAllTags,
        sortNameAscending,
        sortNameDescending,
        sortDateAscending,
        sortDateDescending,
        compare,
        togglePreview,
        previous,
        next,
        first,
        last,
        quickLook,
    };
    Q_ENUM(Command)
    static constexpr int commandCount = int(Command::quickLook) + 1;

    explicit ActionTable(const AppContext& context, QObject* parent = nullptr);

    [[nodiscard]] QAction* action(Command command) const { return m_actions.at(std::size_t(command)); }
    [[nodiscard]] static Command tagCommand(FinderTag tag);
    [[nodiscard]] static Command sortCommand(SortOrder order);

    // The command of a key press, the modifiers as pressed; a browsing key with modifiers that no
    // command takes counts as the key alone (Shift+Down steps too). Nothing for other keys.
    [[nodiscard]] std::optional<Command> commandForKey(const QKeyEvent* event) const;
    // Whether Qt leaves the command's keys to the keyboard map (the widgets' own keys).
    [[nodiscard]] bool isBrowsingKeyCommand(Command command) const;

    // Gives `local`, an action of a context menu that does the command for its own row, the
    // command's shortcuts to show; Qt never fires them there.
    void showShortcutsOn(QAction* local, Command command) const;
    // The text for a tooltip: the action's text without its mnemonic, and its first shortcut.
    [[nodiscard]] static QString toolTipText(const QString& text, const QAction* action);

    // Where the Quick Look and the delete commands close or toggle the panel.
    void setQuickLook(QuickLookPanel* quickLook);

private:
    void connectCommands();
    void updateEnabled();
    void readCurrentTags();
    // Checks the tag items for `tags`, read from `url`, unless another reading is due.
    void showTags(const QUrl& url, const QList<FinderTag>& tags);
    void changeCurrentImageTags(const std::optional<FinderTag>& toggled);
    void copyText(const QString& text);

    AppContext m_context;
    std::array<QAction*, commandCount> m_actions {};
    // One reading of the current image's tags at a time; asked for meanwhile, one more follows.
    bool m_readingTags = false;
    bool m_readTagsAgain = false;
};

} // namespace limnoscope
