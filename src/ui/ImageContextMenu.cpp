#include "ImageContextMenu.h"

#include "CompareView.h"
#include "FileOperations.h"
#include "Icons.h"
#include "ImageBrowserModel.h"
#include "LimnoraAPI.h"
#include "QuickLookPanel.h"
#include "TagContextMenu.h"
#include "TagDotsCache.h"

namespace limnoscope {

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
    addAction(symbolIcon("eye"), qtTrId("ctx_quicklook"), this, [this] {
        if (m_quickLook)
            m_quickLook->toggle();
    });
    // The window's own Compare action: one shortcut, and enabled only while two are selected.
    if (QAction* compare
        = parent ? parent->window()->findChild<QAction*>(QLatin1String(CompareView::actionName)) : nullptr)
        addAction(compare);
    addSeparator();
    addAction(symbolIcon("photo.on.rectangle"), qtTrId("ctx_copy_image"), this, [url] { copyImageToClipboard(url); });
    addAction(symbolIcon("link"), qtTrId("ctx_copy_path"), this, [url] { copyPathToClipboard(url); });
    addSeparator();
    std::optional<QList<FinderTag>> knownTags;
    if (tagDots)
        knownTags = tagDots->tags(url);
    addMenu(new TagContextMenu(url, knownTags.value_or(QList<FinderTag> {}), context.notifications, this));
    addSeparator();
    addAction(symbolIcon("trash"), qtTrId("ctx_delete_file"), this, [this] { emit deleteRequested(m_url); });
}

} // namespace limnoscope
