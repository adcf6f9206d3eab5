#pragma once

#include "AppContext.h"

#include <QListView>
#include <QMessageBox>
#include <QPointer>
#include <QSet>
#include <QTimer>
#include <QUrl>

class QMimeData;

namespace limnoscope {

class SidebarListModel;
class TagDotsCache;
class ThumbnailDelegate;
class ThumbnailProvider;

// The sidebar's list of group headers and image rows. A click on a header folds its group; a
// click on an image row selects (Ctrl toggles the row in the multi-selection, Shift selects the
// range to the current image); a row dragged out carries its file's URL; each image row has the
// context menu of file operations and its own delete confirmation. Keeps the current image in
// view (and in its place on screen when the thumbnail size changes) and only the rows in view load
// thumbnails and tags. GUI thread.
class ImageListView : public QListView
{
    Q_OBJECT

public:
    explicit ImageListView(const AppContext& context, QWidget* parent = nullptr);

    [[nodiscard]] SidebarListModel* rowsModel() const { return m_rows; }
    [[nodiscard]] TagDotsCache* tagDots() const { return m_tagDots; }
    [[nodiscard]] ThumbnailProvider* thumbnails() const { return m_thumbnails; }
    // The image rows at least partly in view.
    [[nodiscard]] QSet<QUrl> visibleImageURLs() const;
    // The delete confirmation on screen, or null.
    [[nodiscard]] QMessageBox* deleteConfirmation() const { return m_deleteConfirmation; }

    // What a row dragged out carries: the file's URL.
    [[nodiscard]] static QMimeData* dragData(const QUrl& url);

    // Asks whether to move `url` to the Trash; confirmed and moved, the model forgets it. One
    // confirmation at a time.
    void askToDelete(const QUrl& url);
    // Scrolls the least distance that shows the current image's row.
    void scrollToCurrentImage();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    // Lays the rows out for a new thumbnail size at once.
    void relayOutKeepingAnchor();
    void clickImage(const QUrl& url, Qt::KeyboardModifiers modifiers);
    void startDragging(const QUrl& url);
    void noteVisibleRows();
    void updateImageRow(const QUrl& url);
    void deleteCurrentImageIfListed();

    AppContext m_context;
    ImageBrowserModel* m_browser;
    SidebarListModel* m_rows;
    ThumbnailProvider* m_thumbnails;
    TagDotsCache* m_tagDots;
    ThumbnailDelegate* m_delegate;

    QPersistentModelIndex m_pressedIndex;
    QPoint m_pressPosition;
    bool m_dragStarted = false;

    QTimer m_visibleRowsTimer; // notes the rows in view once painting is done
    int m_firstVisibleRow = -1;
    int m_lastVisibleRow = -1;
    QSet<QUrl> m_visibleImageURLs;

    QPointer<QMessageBox> m_deleteConfirmation;
};

} // namespace limnoscope
