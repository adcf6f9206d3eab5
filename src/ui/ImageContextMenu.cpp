#include "ImageContextMenu.h"

#include "ActionTable.h"
#include "FileOperations.h"
#include "Icons.h"
#include "ImageBrowserModel.h"
#include "LimnoraAPI.h"
#include "QuickLookPanel.h"
#include "TagContextMenu.h"
#include "TagDotsCache.h"

#include <QRegularExpression>

namespace limnoscope {
namespace {

// Field terms that find `value` as written: quoted phrases, split where the value holds a line
// break or a quotation mark (a phrase cannot hold one). Empty for an empty value.
QString phraseTerms(const char* field, const QString& value)
{
    static const QRegularExpression breaks(QStringLiteral("[\"\r\n]"));
    QStringList terms;
    for (const QString& part : value.split(breaks, Qt::SkipEmptyParts)) {
        if (const QString phrase = part.trimmed(); !phrase.isEmpty())
            terms.append(QStringLiteral("%1:\"%2\"").arg(QLatin1String(field), phrase));
    }
    return terms.join(u' ');
}

// The filter texts of "Same seed", "Same model" and "Same prompt" for a record; empty where it
// has no such value.
QStringList sameValueFilters(const std::optional<LimnoraMetadata>& record)
{
    if (!record)
        return { QString(), QString(), QString() };
    const QString seed = record->settings.value(QStringLiteral("Seed")).value_or(QString()).trimmed();
    static const QRegularExpression wholeNumber(QStringLiteral("^\\d+$"));
    return { wholeNumber.match(seed).hasMatch() ? QStringLiteral("seed:") + seed : QString(),
        phraseTerms("model", record->settings.value(QStringLiteral("Model")).value_or(QString())),
        phraseTerms("prompt", record->prompt) };
}

} // namespace

ImageContextMenu::ImageContextMenu(const QUrl& url, const AppContext& context, TagDotsCache* tagDots, QWidget* parent)
    : QMenu(parent)
    , m_url(url)
    , m_browser(context.model)
    , m_api(context.api)
    , m_quickLook(context.quickLook)
{
    addAction(symbolIcon("folder"), qtTrId("ctx_reveal_finder"), this, [url] { revealInFileManager(url); });
    if (m_api && m_api->isAvailable()) {
        // Limnora gets the current image's settings, whichever row the menu belongs to.
        addAction(symbolIcon("paintbrush.pointed"), qtTrId("ctx_generate_in_limnora"), this, [this] {
            if (m_browser && m_api && m_browser->currentMetadata())
                m_api->generate(*m_browser->currentMetadata());
        });
    }
    addSeparator();
    QAction* quickLook = addAction(symbolIcon("eye"), qtTrId("ctx_quicklook"), this, [this] {
        if (m_quickLook)
            m_quickLook->toggle();
    });
    if (context.actions)
        context.actions->showShortcutsOn(quickLook, ActionTable::Command::quickLook);
    // The window's own Compare action: one shortcut, and enabled only while two are selected.
    if (context.actions)
        addAction(context.actions->action(ActionTable::Command::compare));
    addSeparator();
    addAction(symbolIcon("photo.on.rectangle"), qtTrId("ctx_copy_image"), this, [url] { copyImageToClipboard(url); });
    addAction(symbolIcon("link"), qtTrId("ctx_copy_path"), this, [url] { copyPathToClipboard(url); });
    addSeparator();
    // Filter the folder by this image's seed, model or prompt (off where it has none).
    const QStringList filters = m_browser
        ? sameValueFilters(m_browser->metadataCache().value(url, CacheEntry(std::nullopt, {})).metadata())
        : sameValueFilters(std::nullopt);
    const char* const sameKeys[] = { "ctx_same_seed", "ctx_same_model", "ctx_same_prompt" };
    const char* const sameNames[] = { "sameSeed", "sameModel", "samePrompt" };
    for (qsizetype item = 0; item < filters.size(); ++item) {
        QAction* same = addAction(qtTrId(sameKeys[item]), this, [this, filter = filters.at(item)] {
            if (m_browser)
                m_browser->setFilterText(filter);
        });
        same->setObjectName(QLatin1String(sameNames[item]));
        same->setEnabled(!filters.at(item).isEmpty());
    }
    addSeparator();
    std::optional<QList<FinderTag>> knownTags;
    if (tagDots)
        knownTags = tagDots->tags(url);
    addMenu(new TagContextMenu(url, knownTags.value_or(QList<FinderTag> {}), context, this));
    addSeparator();
    // This row's file, which need not be the current image: the command's key is only shown.
    QAction* trash
        = addAction(symbolIcon("trash"), qtTrId("ctx_delete_file"), this, [this] { emit deleteRequested(m_url); });
    if (context.actions)
        context.actions->showShortcutsOn(trash, ActionTable::Command::moveToTrash);
}

} // namespace limnoscope
