#include "MainWindow.h"

#include "ActionTable.h"
#include "AppNotifications.h"
#include "CenterPanelView.h"
#include "ContentView.h"
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
#include "TransientMessage.h"

#include <QApplication>
#include <QCloseEvent>
#include <QMenuBar>
#include <QToolBar>

namespace limnoscope {

MainWindow::MainWindow(const AppContext& context, QWidget* parent)
    : QMainWindow(parent)
    , m_context(context)
    , m_model(context.model)
    , m_actions(new ActionTable(context, this))
    , m_quickLook(new QuickLookPanel(context.model, context.notifications, m_actions, this))
{
    m_actions->setQuickLook(m_quickLook);
    m_context.quickLook = m_quickLook;
    m_context.actions = m_actions;
    m_content = new ContentView(m_context, this);
    m_keyboardMap = new KeyboardMap(m_context, this, this);
    setObjectName(QStringLiteral("MainWindow"));
    setUnifiedTitleAndToolBarOnMac(true);
    setCentralWidget(m_content);
    resize(defaultSize);
    connect(m_quickLook, &QuickLookPanel::deleteImmediatelyRequested, m_content,
        [this] { m_content->deleteWithoutConfirmation(ContentView::AfterDeletion::reshowQuickLook); });
    m_message = new TransientMessage(this);
    connectWindowCommands();
    buildMenus();
    buildToolbar();
    showGenerateOutcomes();
    for (auto signal : { &ImageBrowserModel::rootFolderURLChanged, &ImageBrowserModel::currentImageURLChanged,
             &ImageBrowserModel::flatURLsChanged })
        connect(m_model, signal, this, &MainWindow::updateTitle);
    updateTitle();
}

QAction* MainWindow::previewToggle() const
{
    return m_actions->action(ActionTable::Command::togglePreview);
}

QAction* MainWindow::compareAction() const
{
    return m_actions->action(ActionTable::Command::compare);
}

// The commands that need the window's parts.
void MainWindow::connectWindowCommands()
{
    using Command = ActionTable::Command;
    connect(m_actions->action(Command::quit), &QAction::triggered, this, &QWidget::close);
    connect(m_actions->action(Command::find), &QAction::triggered, this, [this] {
        if (auto* sidebar = m_content->findChild<SidebarView*>())
            sidebar->focusFilter();
    });
    QAction* compare = m_actions->action(Command::compare);
    CenterPanelView* center = m_content->centerPanel();
    connect(compare, &QAction::triggered, center, &CenterPanelView::showCompare);
    const auto updateCompareAction = [compare, center] { compare->setEnabled(center->hasComparablePair()); };
    connect(m_model, &ImageBrowserModel::selectedURLsChanged, this, updateCompareAction);
    connect(m_model, &ImageBrowserModel::currentImageURLChanged, this, updateCompareAction);
    updateCompareAction();
    connect(center, &CenterPanelView::compareLeft, this, [this] { m_content->keySink()->restoreFocusSoon(); });
    connect(previewToggle(), &QAction::triggered, this, [this](bool checked) {
        m_content->splitView()->setPreviewVisible(checked);
        updatePreviewToggle();
    });
    updatePreviewToggle();
    connect(&m_model->metadataPrefetcher(), &MetadataPrefetcher::indexCleared, this, [this](bool cleared) {
        m_message->showMessage(
            qtTrId(cleared ? "metadata_index_cleared" : "metadata_index_not_cleared"), messageShownMs);
    });
}

void MainWindow::buildMenus()
{
    using Command = ActionTable::Command;
    const auto add = [this](QMenu* menu, std::initializer_list<Command> commands) {
        for (Command command : commands)
            menu->addAction(m_actions->action(command));
    };
    QMenu* file = menuBar()->addMenu(qtTrId("menu_file"));
    add(file, { Command::openFolder });
    file->addSeparator();
    add(file, { Command::clearMetadataIndex });
    file->addSeparator();
    add(file, { Command::quit });

    QMenu* edit = menuBar()->addMenu(qtTrId("menu_edit"));
    add(edit, { Command::copyPrompt, Command::copyNegativePrompt, Command::copySettingsJSON });
    edit->addSeparator();
    add(edit, { Command::moveToTrash, Command::moveToTrashWithoutAsking });
    edit->addSeparator();
    add(edit, { Command::find });
    edit->addSeparator();
    QMenu* tags = edit->addMenu(qtTrId("menu_tags"));
    for (FinderTag tag : allFinderTags)
        tags->addAction(m_actions->action(ActionTable::tagCommand(tag)));
    tags->addSeparator();
    add(tags, { Command::removeAllTags });

    QMenu* view = menuBar()->addMenu(qtTrId("menu_view"));
    QMenu* sort = view->addMenu(qtTrId("menu_sort_by"));
    for (SortOrder order : SortOrders::all())
        sort->addAction(m_actions->action(ActionTable::sortCommand(order)));
    view->addSeparator();
    add(view, { Command::compare });
    view->addSeparator();
    add(view, { Command::togglePreview });

    QMenu* go = menuBar()->addMenu(qtTrId("menu_go"));
    add(go, { Command::previous, Command::next });
    go->addSeparator();
    add(go, { Command::first, Command::last });
    go->addSeparator();
    add(go, { Command::quickLook });
}

void MainWindow::buildToolbar()
{
    using Command = ActionTable::Command;
    QToolBar* toolbar = addToolBar(QStringLiteral("Main"));
    toolbar->setObjectName(QStringLiteral("MainToolbar"));
    toolbar->setMovable(false);
    toolbar->setFloatable(false);
    toolbar->setContextMenuPolicy(Qt::PreventContextMenu);
    toolbar->setToolButtonStyle(Qt::ToolButtonIconOnly);
    toolbar->addAction(m_actions->action(Command::openFolder));
    toolbar->addSeparator();
    toolbar->addAction(m_actions->action(Command::previous));
    toolbar->addAction(m_actions->action(Command::next));
    toolbar->addSeparator();
    toolbar->addAction(m_actions->action(Command::quickLook));
    toolbar->addAction(m_actions->action(Command::moveToTrash));
    auto* spacer = new QWidget(toolbar);
    spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    toolbar->addWidget(spacer);
    toolbar->addAction(previewToggle());
}

void MainWindow::showGenerateOutcomes()
{
    connect(m_context.api, &LimnoraAPIService::generateFinished, m_message,
        [message = m_message](LimnoraAPIService::GenerateOutcome outcome, int httpStatus) {
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
            message->showMessage(text, messageShownMs);
        });
}

void MainWindow::updatePreviewToggle()
{
    const bool visible = m_content->splitView()->isPreviewVisible();
    QAction* toggle = previewToggle();
    toggle->setChecked(visible);
    toggle->setToolTip(ActionTable::toolTipText(qtTrId(visible ? "hide_preview" : "show_preview"), toggle));
}

void MainWindow::updateTitle()
{
    static const QString separator = QStringLiteral(" \u2014 ");
    QStringList parts;
    const QString current = m_model->currentImageURL().fileName();
    if (!current.isEmpty())
        parts.append(current);
    // The folder, or the opened files; one opened file is named already as the current image.
    if (const QString opened = openedItemsName(*m_model); !opened.isEmpty() && opened != current)
        parts.append(opened);
    parts.append(QStringLiteral("Limnoscope"));
    setWindowTitle(parts.join(separator));
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    QMainWindow::closeEvent(event);
    if (event->isAccepted())
        QApplication::quit(); // the Quick Look window must not keep the application alive
}

} // namespace limnoscope
