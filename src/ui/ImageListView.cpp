#include "ImageListView.h"

#include "AppNotifications.h"
#include "DecodeDownsampled.h"
#include "FileOperations.h"
#include "ImageBrowserModel.h"
#include "ImageContextMenu.h"
#include "LocalizedText.h"
#include "SidebarListModel.h"
#include "TagDotsCache.h"
#include "ThumbnailDelegate.h"
#include "ThumbnailProvider.h"
#include "ThumbnailStore.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QDrag>
#include <QMessageBox>
#include <QMimeData>
#include <QMouseEvent>
#include <QPushButton>
#include <QScrollBar>

namespace limnoscope {
namespace {

// Wheel and arrow steps of the list, in pixels.
constexpr int scrollStep = 24;
// The picture under the pointer while a row is dragged out.
constexpr int dragPictureSize = 64;

// The sidebar's decoder: through the thumbnails shared on disk when the context has them.
ThumbnailProvider::Decoder thumbnailDecoder(const AppContext& context)
{
    return context.thumbnailStore ? context.thumbnailStore->cachingDecoder(decodeDownsampled)
                                  : ThumbnailProvider::Decoder(decodeDownsampled);
}

} // namespace

ImageListView::ImageListView(const AppContext& context, QWidget* parent)
    : QListView(parent)
    , m_context(context)
    , m_browser(context.model)
    , m_rows(new SidebarListModel(m_browser, this))
    , m_thumbnails(
          new ThumbnailProvider(*context.thumbnailGate, *context.thumbnailCache, thumbnailDecoder(context), this))
    , m_tagDots(new TagDotsCache(this))
    , m_delegate(new ThumbnailDelegate(m_browser, m_rows, m_thumbnails, m_tagDots, this))
{
    ImageBrowserModel* browser = m_browser;
    setModel(m_rows);
    setItemDelegate(m_delegate);
    setViewMode(ListMode);
    setFlow(TopToBottom);
    setUniformItemSizes(false);
    // Row heights come from the delegate's measurements, so laying out every row is quick; one pass
    // keeps the scroll position through rows coming and going.
    setLayoutMode(SinglePass);
    setWordWrap(true); // lays the rows out again when the width changes
    setVerticalScrollMode(ScrollPerPixel);
    verticalScrollBar()->setSingleStep(scrollStep);
    // A scroll bar that comes and goes would change the width the names wrap in.
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setSelectionMode(NoSelection);
    setEditTriggers(NoEditTriggers);
    // Keys belong to the window's key sink, which browses the images.
    setFocusPolicy(Qt::NoFocus);
    setFrameShape(NoFrame);
    viewport()->setBackgroundRole(QPalette::Window);
    setMouseTracking(false);

    m_visibleRowsTimer.setSingleShot(true);
    m_visibleRowsTimer.setInterval(0);
    connect(&m_visibleRowsTimer, &QTimer::timeout, this, &ImageListView::noteVisibleRows);

    connect(browser, &ImageBrowserModel::currentImageURLChanged, this, [this] {
        viewport()->update();
        scrollToCurrentImage();
    });
    connect(browser, &ImageBrowserModel::selectedURLsChanged, viewport(), qOverload<>(&QWidget::update));
    connect(browser, &ImageBrowserModel::thumbnailSizeChanged, this, &ImageListView::relayOutKeepingAnchor);
    connect(m_rows, &QAbstractItemModel::modelReset, this, &ImageListView::scrollToCurrentImage, Qt::QueuedConnection);

    connect(m_thumbnails, &ThumbnailProvider::thumbnailReady, this, &ImageListView::updateImageRow);
    connect(m_tagDots, &TagDotsCache::tagsRead, this, &ImageListView::updateImageRow);
    const auto tagsChanged = [this] {
        m_tagDots->invalidate();
        viewport()->update();
    };
    connect(context.notifications, &AppNotifications::tagsDidChange, this, tagsChanged);
    connect(browser, &ImageBrowserModel::tagVersionChanged, this, tagsChanged);
    connect(
        context.notifications, &AppNotifications::deleteCurrentImage, this, &ImageListView::deleteCurrentImageIfListed);
}

QSet<QUrl> ImageListView::visibleImageURLs() const
{
    return m_visibleImageURLs;
}

QMimeData* ImageListView::dragData(const QUrl& url)
{
    auto* data = new QMimeData;
    data->setUrls({ url });
    return data;
}

void ImageListView::scrollToCurrentImage()
{
    const int row = m_rows->rowOfImage(m_browser->currentImageURL());
    if (row >= 0)
        scrollTo(m_rows->index(row), EnsureVisible);
}

void ImageListView::relayOutKeepingAnchor()
{
    // The rows still stand where they were laid out for the old size: the current image's row
    // keeps its place on screen, or, when it is out of view, the row at the top does.
    const QRect area = viewport()->rect();
    int anchor = m_rows->rowOfImage(m_browser->currentImageURL());
    if (anchor < 0 || !visualRect(m_rows->index(anchor)).intersects(area)) {
        const QModelIndex top = indexAt(QPoint(area.center().x(), area.top()));
        anchor = top.isValid() ? top.row() : -1;
    }
    const int topBefore = anchor >= 0 ? visualRect(m_rows->index(anchor)).top() : 0;
    doItemsLayout();
    if (anchor < 0)
        return;
    QScrollBar* bar = verticalScrollBar();
    bar->setValue(bar->value() + visualRect(m_rows->index(anchor)).top() - topBefore);
}

// Mouse: a click acts when the button goes up over the row it went down on, unless the row was
// dragged out meanwhile.

void ImageListView::mousePressEvent(QMouseEvent* event)
{
    m_dragStarted = false;
    m_pressedIndex = QPersistentModelIndex();
    if (event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    m_pressedIndex = indexAt(event->position().toPoint());
    m_pressPosition = event->position().toPoint();
    event->accept();
}

void ImageListView::mouseDoubleClickEvent(QMouseEvent* event)
{
    // Two quick clicks are two clicks.
    mousePressEvent(event);
}

void ImageListView::mouseMoveEvent(QMouseEvent* event)
{
    if (!(event->buttons() & Qt::LeftButton) || !m_pressedIndex.isValid() || m_dragStarted)
        return;
    if ((event->position().toPoint() - m_pressPosition).manhattanLength() < QApplication::startDragDistance())
        return;
    if (m_rows->rowKind(m_pressedIndex.row()) != SidebarListModel::RowKind::image)
        return;
    m_dragStarted = true;
    startDragging(m_rows->rowURL(m_pressedIndex.row()));
}

void ImageListView::mouseReleaseEvent(QMouseEvent* event)
{
    const QPersistentModelIndex pressed = m_pressedIndex;
    m_pressedIndex = QPersistentModelIndex();
    if (event->button() != Qt::LeftButton || m_dragStarted || !pressed.isValid()
        || indexAt(event->position().toPoint()) != pressed) {
        return;
    }
    event->accept();
    const int row = pressed.row();
    if (m_rows->rowKind(row) == SidebarListModel::RowKind::groupHeader) {
        m_browser->toggleGroup(pressed.data(SidebarListModel::GroupIDRole).toUuid());
        return;
    }
    clickImage(m_rows->rowURL(row), event->modifiers());
}

void ImageListView::clickImage(const QUrl& url, Qt::KeyboardModifiers modifiers)
{
    if (modifiers & Qt::ControlModifier) {
        QSet<QUrl> selected = m_browser->selectedURLs();
        if (!selected.remove(url))
            selected.insert(url);
        m_browser->setSelectedURLs(selected);
        return;
    }
    const QList<QUrl>& flat = m_browser->flatURLs();
    const qsizetype position = flat.indexOf(url);
    if ((modifiers & Qt::ShiftModifier) && position >= 0) {
        const qsizetype current = m_browser->currentIndex();
        const qsizetype first = std::clamp<qsizetype>(std::min(current, position), 0, flat.size() - 1);
        const qsizetype last = std::clamp<qsizetype>(std::max(current, position), 0, flat.size() - 1);
        QSet<QUrl> range;
        range.reserve(last - first + 1);
        for (qsizetype i = first; i <= last; ++i)
            range.insert(flat.at(i));
        m_browser->setSelectedURLs(range);
        return;
    }
    m_browser->setSelectedURLs({});
    if (position < 0)
        return;
    m_browser->selectImage(position);
}

void ImageListView::startDragging(const QUrl& url)
{
    auto* drag = new QDrag(this);
    drag->setMimeData(dragData(url));
    const QImage thumbnail = m_thumbnails->thumbnail(url, m_browser->thumbnailSize());
    if (!thumbnail.isNull())
        drag->setPixmap(QPixmap::fromImage(
            thumbnail.scaled(dragPictureSize, dragPictureSize, Qt::KeepAspectRatio, Qt::SmoothTransformation)));
    drag->exec(Qt::CopyAction | Qt::LinkAction, Qt::CopyAction);
}

void ImageListView::contextMenuEvent(QContextMenuEvent* event)
{
    const QModelIndex index = indexAt(event->pos());
    if (!index.isValid() || m_rows->rowKind(index.row()) != SidebarListModel::RowKind::image) {
        event->ignore();
        return;
    }
    auto* menu = new ImageContextMenu(m_rows->rowURL(index.row()), m_context, m_tagDots, this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    connect(menu, &ImageContextMenu::deleteRequested, this, &ImageListView::askToDelete);
    menu->popup(event->globalPos());
    event->accept();
}

// Rows in view

void ImageListView::paintEvent(QPaintEvent* event)
{
    QListView::paintEvent(event);
    m_visibleRowsTimer.start();
}

void ImageListView::noteVisibleRows()
{
    QSet<QUrl> visible;
    m_firstVisibleRow = -1;
    m_lastVisibleRow = -1;
    const QRect area = viewport()->rect();
    const QModelIndex top = indexAt(QPoint(area.center().x(), area.top()));
    const int rowCount = m_rows->rowCount();
    for (int row = top.isValid() ? top.row() : 0; row < rowCount; ++row) {
        const QRect rect = visualRect(m_rows->index(row));
        if (rect.top() > area.bottom())
            break;
        if (!rect.intersects(area))
            continue;
        if (m_firstVisibleRow < 0)
            m_firstVisibleRow = row;
        m_lastVisibleRow = row;
        if (m_rows->rowKind(row) == SidebarListModel::RowKind::image)
            visible.insert(m_rows->rowURL(row));
    }
    if (visible == m_visibleImageURLs)
        return;
    m_visibleImageURLs = visible;
    // Rows that left the view give up their thumbnail loads and tag readings.
    m_thumbnails->setVisibleURLs(visible);
    m_tagDots->setVisibleURLs(visible);
}

void ImageListView::updateImageRow(const QUrl& url)
{
    if (!m_visibleImageURLs.contains(url) || m_firstVisibleRow < 0)
        return;
    for (int row = m_firstVisibleRow; row <= m_lastVisibleRow && row < m_rows->rowCount(); ++row) {
        if (m_rows->rowURL(row) == url && m_rows->rowKind(row) == SidebarListModel::RowKind::image) {
            update(m_rows->index(row));
            return;
        }
    }
}

// Deleting

void ImageListView::deleteCurrentImageIfListed()
{
    // Only the current image's row asks, and only while it is listed (its group expanded).
    const QUrl current = m_browser->currentImageURL();
    if (m_rows->rowOfImage(current) >= 0)
        askToDelete(current);
}

void ImageListView::askToDelete(const QUrl& url)
{
    if (m_deleteConfirmation || url.isEmpty())
        return;
    // Keys go to the confirmation while it is up.
    if (QWidget* focused = QApplication::focusWidget())
        focused->clearFocus();

    auto* box = new QMessageBox(window());
    box->setIcon(QMessageBox::Warning);
    box->setText(localizedFormat("delete_alert_message", { url.fileName() }));
    QPushButton* confirm = box->addButton(qtTrId("delete_alert_confirm"), QMessageBox::DestructiveRole);
    QPushButton* cancel = box->addButton(qtTrId("delete_alert_cancel"), QMessageBox::RejectRole);
    box->setDefaultButton(confirm);
    box->setEscapeButton(cancel);
    box->setWindowModality(Qt::ApplicationModal);
    box->setAttribute(Qt::WA_DeleteOnClose);
    connect(box, &QMessageBox::finished, this, [this, box, confirm, url] {
        const bool confirmed = box->clickedButton() == confirm;
        emit m_context.notifications->restoreFirstResponder();
        if (confirmed)
            trashImages(m_browser, { url }, window());
    });
    m_deleteConfirmation = box;
    box->show();
}

} // namespace limnoscope
