#pragma once

#include "AppContext.h"

#include <QMainWindow>

class QAction;

namespace limnoscope {

class ActionTable;
class ContentView;
class KeyboardMap;
class TransientMessage;

// The one window: the menus and the toolbar over the commands of its action table, the content
// view, a title naming the current image and the folder, and a message over the bottom of the
// window for the outcome of a generate request or of clearing the index. It makes the action table and the Quick Look
// panel and hands the services of `context`, with both, to its parts. Closing it ends the application. GUI thread.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    static constexpr QSize defaultSize { 1100, 720 };
    // How long the outcome of a generate request or of clearing the index stays shown.
    static constexpr int messageShownMs = 4000;

    explicit MainWindow(const AppContext& context, QWidget* parent = nullptr);

    [[nodiscard]] ContentView* contentView() const { return m_content; }
    [[nodiscard]] QuickLookPanel* quickLook() const { return m_quickLook; }
    [[nodiscard]] ActionTable* actionTable() const { return m_actions; }
    [[nodiscard]] QAction* previewToggle() const;
    // Enabled while exactly two images are selected; the image context menu shows it too.
    [[nodiscard]] QAction* compareAction() const;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void buildMenus();
    void buildToolbar();
    void showGenerateOutcomes();
    void connectWindowCommands();
    void updatePreviewToggle();
    // "harbour-01.png — samples — Limnoscope", as far as there is an image and a folder.
    void updateTitle();

    AppContext m_context;
    ImageBrowserModel* m_model;
    ActionTable* m_actions;
    QuickLookPanel* m_quickLook;
    ContentView* m_content;
    KeyboardMap* m_keyboardMap;
    TransientMessage* m_message;
};

} // namespace limnoscope
