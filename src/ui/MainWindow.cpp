#include "MainWindow.h"

#include "AppNotifications.h"
#include "CenterPanelView.h"
#include "CompareView.h"
#include "ContentView.h"
#include "FileTags.h"
#include "FinderTag.h"
#include "Icons.h"
#include "ImageBrowserModel.h"
#include "KeySinkView.h"
#include "KeyboardMap.h"
#include "LimnoraAPI.h"
#include "LocalizedText.h"
#include "QuickLookPanel.h"
#include "SidebarView.h"
#include "StableSplitView.h"

#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QMenuBar>
#include <QStatusBar>
#include <QToolBar>

namespace limnoscope {

MainWindow::MainWindow(const AppContext& context, QWidget* parent)
    : QMainWindow(parent)
    , m_context(context)
    , m_model(context.model)
    , m_quickLook(new QuickLookPanel(context.model, context.notifications, this))
{
    m_context.quickLook = m_quickLook;
    m_content = new ContentView(m_context, this);
    m_keyboardMap = new KeyboardMap(m_context, this, this);
    setWindowTitle(QStringLiteral("Limnoscope"));
    setObjectName(QStringLiteral("MainWindow"));
    setUnifiedTitleAndToolBarOnMac(true);
    setCentralWidget(m_content);
    resize(defaultSize);
    connect(m_quickLook, &QuickLookPanel::deleteImmediatelyRequested, m_content,
        [this] { m_content->deleteWithoutConfirmation(ContentView::AfterDeletion::reshowQuickLook); });
    buildMenus();
    buildToolbar();
    buildStatusBar();
}

QList<QAction*> MainWindow::sortActions() const
{
    return m_sortGroup->actions();
}

void MainWindow::buildMenus()
{
    QMenu* file = menuBar()->addMenu(qtTrId("menu_file"));
    QAction* open = file->addAction(symbolIcon("folder.badge.plus"), qtTrId("open_folder_button"));
    open->setShortcut(QKeySequence::Open);
    connect(open, &QAction::triggered, m_context.notifications, &AppNotifications::openFolderCommand);
    file->addSeparator();
    QAction* clearIndex = file->addAction(qtTrId("menu_clear_metadata_index"));
    clearIndex->setObjectName(QStringLiteral("clearMetadataIndex"));
    connect(clearIndex, &QAction::triggered, m_model, &ImageBrowserModel::clearMetadataIndex);
    connect(&m_model->metadataPrefetcher(), &MetadataPrefetcher::indexCleared, this, [this](bool cleared) {
        statusBar()->showMessage(
            qtTrId(cleared ? "metadata_index_cleared" : "metadata_index_not_cleared"), generateOutcomeShownMs);
    });
    file->addSeparator();
    QAction* quit = file->addAction(qtTrId("menu_quit"));
    quit->setShortcut(QKeySequence::Quit);
    connect(quit, &QAction::triggered, this, &QWidget::close);

    QMenu* edit = menuBar()->addMenu(qtTrId("menu_edit"));
    QAction* find = edit->addAction(qtTrId("menu_find"));
    find->setObjectName(QStringLiteral("findAction"));
    find->setShortcut(QKeySequence::Find);
    connect(find, &QAction::triggered, this, [this] {
        if (auto* sidebar = m_content->findChild<SidebarView*>())
            sidebar->focusFilter();
    });
    edit->addSeparator();
    QMenu* tags = edit->addMenu(qtTrId("menu_tags"));
    for (FinderTag tag : allFinderTags) {
        QAction* action = tags->addAction(localizedName(tag));
        action->setShortcut(QKeySequence(QStringLiteral("Ctrl+%1").arg(shortcutDigit(tag))));
        action->setData(int(tag));
        connect(action, &QAction::triggered, this,
            [this, tag] { changeCurrentImageTags([tag](const QUrl& url) { toggleTag(tag, url); }); });
        m_tagActions.append(action);
    }
    tags->addSeparator();
    QAction* removeAll = tags->addAction(qtTrId("tag_remove_all"));
    removeAll->setShortcut(QKeySequence(QStringLiteral("Ctrl+0")));
    connect(removeAll, &QAction::triggered, this,
        [this] { changeCurrentImageTags([](const QUrl& url) { removeAllTags(url); }); });
    m_tagActions.append(removeAll);
    edit->addSeparator();

    QMenu* view = menuBar()->addMenu(qtTrId("menu_view"));
    QMenu* sort = view->addMenu(qtTrId("menu_sort"));
    m_sortGroup = new QActionGroup(this);
    for (SortOrder order : SortOrders::all()) {
        QAction* action = sort->addAction(SortOrders::displayText(order));
        action->setCheckable(true);
        action->setData(QVariant::fromValue(order));
        m_sortGroup->addAction(action);
        connect(action, &QAction::triggered, this, [this, order] { m_model->setSortOrder(order); });
    }
    view->addSeparator();
    // Ctrl+D: no other key of the window takes it; a text field keeps it as its own delete key.
    m_compareAction = view->addAction(qtTrId("menu_compare"));
    m_compareAction->setObjectName(QString::fromLatin1(CompareView::actionName));
    m_compareAction->setShortcut(QKeySequence(QStringLiteral("Ctrl+D")));
    CenterPanelView* center = m_content->centerPanel();
    connect(m_compareAction, &QAction::triggered, center, &CenterPanelView::showCompare);
    const auto updateCompareAction
        = [this, center] { m_compareAction->setEnabled(center->comparablePair().has_value()); };
    connect(m_model, &ImageBrowserModel::selectedURLsChanged, this, updateCompareAction);
    connect(m_model, &ImageBrowserModel::currentImageURLChanged, this, updateCompareAction);
    updateCompareAction();
    connect(center, &CenterPanelView::compareLeft, this, [this] { m_content->keySink()->restoreFocusSoon(); });
    connect(m_model, &ImageBrowserModel::sortOrderChanged, this, &MainWindow::updateSortChecks);
    updateSortChecks();
}

void MainWindow::buildToolbar()
{
    QToolBar* toolbar = addToolBar(QStringLiteral("Main"));
    toolbar->setObjectName(QStringLiteral("MainToolbar"));
    toolbar->setMovable(false);
    toolbar->setFloatable(false);
    toolbar->setContextMenuPolicy(Qt::PreventContextMenu);
    auto* spacer = new QWidget(toolbar);
    spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    toolbar->addWidget(spacer);
    m_previewToggle = toolbar->addAction(symbolIcon("sidebar.right"), QString());
    m_previewToggle->setCheckable(true);
    m_previewToggle->setChecked(m_content->splitView()->isPreviewVisible());
    connect(m_previewToggle, &QAction::triggered, this, [this](bool checked) {
        m_content->splitView()->setPreviewVisible(checked);
        updatePreviewToggle();
    });
    updatePreviewToggle();
}

void MainWindow::buildStatusBar()
{
    // Only there while it has something to say: a generate request's outcome, for a few seconds.
    QStatusBar* bar = statusBar();
    bar->setSizeGripEnabled(false);
    bar->hide();
    connect(
        bar, &QStatusBar::messageChanged, bar, [bar](const QString& message) { bar->setVisible(!message.isEmpty()); });
    connect(m_context.api, &LimnoraAPIService::generateFinished, bar,
        [bar](LimnoraAPIService::GenerateOutcome outcome, int httpStatus) {
            QString text;
            switch (outcome) {
            case LimnoraAPIService::GenerateOutcome::sent:
                text = qtTrId("generate_outcome_sent");
                break;
            case LimnoraAPIService::GenerateOutcome::refused:
                text = localizedFormat("generate_outcome_status", { QString::number(httpStatus) });
                break;
            case LimnoraAPIService::GenerateOutcome::unreachable:
                text = qtTrId("generate_outcome_unreachable");
                break;
            }
            bar->showMessage(text, generateOutcomeShownMs);
        });
}

void MainWindow::updatePreviewToggle()
{
    const bool visible = m_content->splitView()->isPreviewVisible();
    m_previewToggle->setChecked(visible);
    m_previewToggle->setToolTip(qtTrId(visible ? "hide_preview" : "show_preview"));
}

void MainWindow::updateSortChecks()
{
    for (QAction* action : m_sortGroup->actions())
        action->setChecked(action->data().value<SortOrder>() == m_model->sortOrder());
}

void MainWindow::changeCurrentImageTags(const std::function<void(const QUrl&)>& change)
{
    const QUrl current = m_model->currentImageURL();
    if (current.isEmpty())
        return;
    change(current); // the outcome is not looked at: the tag views read the file again
    emit m_context.notifications->tagsDidChange();
    m_model->setTagVersion(m_model->tagVersion() + 1);
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    QMainWindow::closeEvent(event);
    if (event->isAccepted())
        QApplication::quit(); // the Quick Look window must not keep the application alive
}

} // namespace limnoscope
