#include "ContentView.h"

#include "AppNotifications.h"
#include "CenterPanelView.h"
#include "FileOperations.h"
#include "FolderScan.h"
#include "ImageBrowserModel.h"
#include "KeySinkView.h"
#include "Localization.h"
#include "LocalizedText.h"
#include "PreviewPanel.h"
#include "QuickLookPanel.h"
#include "SidebarView.h"
#include "StableSplitView.h"

#include <QDir>
#include <QDragEnterEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QMimeData>
#include <QPainter>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

namespace limnoscope {
namespace {

// Drawn over the window while files are dragged over it; lets every click through.
class DropOverlay : public QWidget
{
public:
    static constexpr int inset = 6;
    static constexpr qreal cornerRadius = 10;
    static constexpr qreal lineWidth = 3;
    static constexpr int fillAlpha = 20; // 8 %

    explicit DropOverlay(QWidget* parent)
        : QWidget(parent)
    {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        hide();
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        QColor accent = palette().color(QPalette::Highlight);
        QColor fill = accent;
        fill.setAlpha(fillAlpha);
        painter.setBrush(fill);
        painter.setPen(QPen(accent, lineWidth));
        painter.drawRoundedRect(QRectF(rect()).adjusted(inset, inset, -inset, -inset), cornerRadius, cornerRadius);
    }
};

} // namespace

ContentView::ContentView(const AppContext& context, QWidget* parent)
    : QWidget(parent)
    , m_context(context)
    , m_model(context.model)
    , m_keySink(new KeySinkView(context, this))
{
    setObjectName(QStringLiteral("ContentView"));
    setAcceptDrops(true);
    ImageBrowserModel* model = context.model;
    auto* sidebar = new SidebarView(context);
    m_center = new CenterPanelView(model, context.api);
    m_preview = new PreviewPanel;
    m_splitView = new StableSplitView(sidebar, m_center, m_preview, m_keySink);

    auto* sinkLayout = new QVBoxLayout(m_keySink);
    sinkLayout->setContentsMargins(0, 0, 0, 0);
    sinkLayout->addWidget(m_splitView);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_keySink);
    m_dropOverlay = new DropOverlay(this);

    connect(sidebar, &SidebarView::openFolderRequested, this, &ContentView::showFolderPicker);
    connect(model, &ImageBrowserModel::currentImageURLChanged, this,
        [this] { m_preview->setImageURL(m_model->currentImageURL()); });
    connect(
        model, &ImageBrowserModel::folderLoaded, this, [this] { m_keySink->restoreFocusSoon(folderOpenedFocusDelay); });
    connect(
        model, &ImageBrowserModel::imagesForgotten, this, [this] { m_keySink->restoreFocusSoon(deletionFocusDelay); });
    AppNotifications* notifications = context.notifications;
    connect(notifications, &AppNotifications::openFolderCommand, this, &ContentView::showFolderPicker);
    connect(notifications, &AppNotifications::deleteSelectedImages, this, &ContentView::confirmDeleteSelection);
    connect(notifications, &AppNotifications::deleteImmediately, this, [this] { deleteWithoutConfirmation(); });
    connect(
        notifications, &AppNotifications::restoreFirstResponder, m_keySink, [this] { m_keySink->restoreFocusSoon(); });
    m_preview->setImageURL(model->currentImageURL());
}

void ContentView::handleDroppedURLs(const QList<QUrl>& urls)
{
    if (urls.size() == 1) {
        const QFileInfo item(urls.first().toLocalFile());
        // A path that is not there (given on the command line) is still opened, so that the
        // model says what is wrong with it instead of the window showing nothing.
        if (!item.exists()) {
            const QUrl url = QUrl::fromLocalFile(item.absoluteFilePath());
            if (hasSupportedImageExtension(url.fileName()))
                m_model->loadFiles({ url });
            else
                m_model->loadFolder(url);
            return;
        }
        if (item.isDir()) {
            m_model->loadFolder(QUrl::fromLocalFile(item.absoluteFilePath()));
            return;
        }
        const QUrl root = m_model->rootFolderURL();
        if (!root.isEmpty() && QDir::cleanPath(item.absolutePath()) == QDir::cleanPath(root.toLocalFile()))
            return;
    }
    QList<QUrl> images;
    for (const QUrl& url : urls) {
        if (hasSupportedImageExtension(url.fileName()))
            images.append(url);
    }
    const QCollator collator = naturalNameCollator();
    std::stable_sort(images.begin(), images.end(),
        [&](const QUrl& a, const QUrl& b) { return collator.compare(a.fileName(), b.fileName()) < 0; });
    if (!images.isEmpty())
        m_model->loadFiles(images);
}

void ContentView::showFolderPicker()
{
    if (m_folderPicker)
        return;
    auto* picker = new QFileDialog(window(), qtTrId("open_folder_button"));
    picker->setAttribute(Qt::WA_DeleteOnClose);
    picker->setFileMode(QFileDialog::Directory);
    picker->setOption(QFileDialog::ShowDirsOnly);
    picker->setObjectName(QStringLiteral("FolderPicker"));
    if (const QUrl root = m_model->rootFolderURL(); !root.isEmpty())
        picker->setDirectory(root.toLocalFile());
    // Qt's own dialog never announces URLs, only file names; the result is read from the dialog
    // itself, which works for it and for the desktop's native one alike.
    connect(picker, &QDialog::accepted, this, [this, picker] {
        const QList<QUrl> urls = picker->selectedUrls();
        if (!urls.isEmpty())
            m_model->loadFolder(urls.first());
    });
    m_folderPicker = picker;
    picker->open();
}

QList<QUrl> ContentView::listedImages(const QList<QUrl>& urls) const
{
    QSet<QUrl> listed;
    for (const FolderGroup& group : m_model->groups())
        listed.unite(QSet<QUrl>(group.images.begin(), group.images.end()));
    QList<QUrl> kept;
    for (const QUrl& url : urls) {
        if (listed.contains(url))
            kept.append(url);
    }
    return kept;
}

void ContentView::confirmDeleteSelection()
{
    const QSet<QUrl> selection = m_model->selectedURLs();
    if (selection.isEmpty() || m_confirmation)
        return;
    auto* dialog = new QMessageBox(QMessageBox::Warning, QString(),
        localizedFormat("delete_multi_alert_message", { QString::number(selection.size()) }), QMessageBox::NoButton,
        window());
    dialog->setObjectName(QStringLiteral("DeleteSelectionConfirmation"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    QPushButton* confirm = dialog->addButton(qtTrId("delete_alert_confirm"), QMessageBox::DestructiveRole);
    dialog->addButton(qtTrId("delete_alert_cancel"), QMessageBox::RejectRole);
    connect(dialog, &QMessageBox::finished, this, [this, dialog, confirm] {
        if (dialog->clickedButton() != confirm)
            return;
        const QSet<QUrl> selected = m_model->selectedURLs();
        trashImages(m_model, listedImages(QList<QUrl>(selected.begin(), selected.end())), window());
    });
    m_confirmation = dialog;
    dialog->open();
}

void ContentView::deleteWithoutConfirmation(AfterDeletion after)
{
    const QSet<QUrl> selection = m_model->selectedURLs();
    QList<QUrl> doomed(selection.begin(), selection.end());
    if (doomed.isEmpty() && !m_model->currentImageURL().isEmpty())
        doomed.append(m_model->currentImageURL());
    doomed = listedImages(doomed);
    if (doomed.isEmpty())
        return;
    QPointer<ContentView> self(this);
    trashImages(m_model, doomed, window(), [self, after] {
        // Quick Look comes back only when it was where the deletion was asked for.
        if (!self || after != AfterDeletion::reshowQuickLook)
            return;
        QTimer::singleShot(quickLookReshowDelayMs, self, [self] {
            if (self->m_model->currentImageURL().isEmpty())
                return;
            if (QuickLookPanel* quickLook = self->m_context.quickLook)
                quickLook->present();
        });
    });
}

void ContentView::setDraggingOver(bool dragging)
{
    m_draggingOver = dragging;
    m_dropOverlay->setVisible(dragging);
    if (dragging)
        m_dropOverlay->raise();
}

void ContentView::dragEnterEvent(QDragEnterEvent* event)
{
    if (!event->mimeData()->hasUrls())
        return;
    event->acceptProposedAction();
    setDraggingOver(true);
}

void ContentView::dragLeaveEvent(QDragLeaveEvent* event)
{
    QWidget::dragLeaveEvent(event);
    setDraggingOver(false);
}

void ContentView::dropEvent(QDropEvent* event)
{
    setDraggingOver(false);
    QList<QUrl> urls;
    for (const QUrl& url : event->mimeData()->urls()) {
        if (url.isLocalFile()) // an item that gives no file is left out
            urls.append(url);
    }
    event->acceptProposedAction();
    handleDroppedURLs(urls);
}

void ContentView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    m_dropOverlay->setGeometry(rect());
}

} // namespace limnoscope
