#pragma once

#include "AppContext.h"

#include <QMainWindow>

class QAction;
class QActionGroup;

namespace limnoscope {

class ContentView;
class KeyboardMap;

// The one window: menus (open folder, sort, colour tags, compare), the preview toggle in the toolbar,
// the content view, and a status bar that appears for the outcome of a generate request.
// It makes the Quick Look panel and hands the services of `context`, with the panel, to its
// parts. Closing it ends the application. GUI thread.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    static constexpr QSize defaultSize { 1100, 720 };
    // How long the outcome of a generate request stays in the status bar.
    static constexpr int generateOutcomeShownMs = 4000;

    explicit MainWindow(const AppContext& context, QWidget* parent = nullptr);

    [[nodiscard]] ContentView* contentView() const { return m_content; }
    [[nodiscard]] QuickLookPanel* quickLook() const { return m_quickLook; }
    [[nodiscard]] QAction* previewToggle() const { return m_previewToggle; }
    [[nodiscard]] QList<QAction*> sortActions() const;
    [[nodiscard]] QList<QAction*> tagActions() const { return m_tagActions; }
    // Enabled while exactly two images are selected; the image context menu shows it too.
    [[nodiscard]] QAction* compareAction() const { return m_compareAction; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void buildMenus();
    void buildToolbar();
    void buildStatusBar();
    void updateSortChecks();
    void updatePreviewToggle();
    // Changes the current image's tags, then tells every tag view and bumps the tag version.
    void changeCurrentImageTags(const std::function<void(const QUrl&)>& change);

    AppContext m_context;
    ImageBrowserModel* m_model;
    QuickLookPanel* m_quickLook;
    ContentView* m_content;
    KeyboardMap* m_keyboardMap;
    QActionGroup* m_sortGroup = nullptr;
    QAction* m_previewToggle = nullptr;
    QList<QAction*> m_tagActions;
    QAction* m_compareAction = nullptr;
};

} // namespace limnoscope
