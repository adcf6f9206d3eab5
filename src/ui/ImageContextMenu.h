#pragma once

#include "AppContext.h"

#include <QMenu>
#include <QPointer>
#include <QUrl>

namespace limnoscope {

class TagDotsCache;

// The context menu of one image row: reveal in the file manager, generate in Limnora (only while
// its API answers, with the current image's settings), Quick Look, the window's Compare (when
// `context` has the window's commands), copy the image or its path, the colour tags, move to the
// Trash. GUI thread.
class ImageContextMenu : public QMenu
{
    Q_OBJECT

public:
    // `tagDots` (may be null) gives the tags submenu what is already known of the file's tags.
    ImageContextMenu(const QUrl& url, const AppContext& context, TagDotsCache* tagDots, QWidget* parent = nullptr);

    [[nodiscard]] const QUrl& url() const { return m_url; }

signals:
    // The row's delete confirmation should ask about `url`.
    void deleteRequested(const QUrl& url);

private:
    QUrl m_url;
    QPointer<ImageBrowserModel> m_browser;
    QPointer<LimnoraAPIService> m_api;
    QPointer<QuickLookPanel> m_quickLook;
};

} // namespace limnoscope
