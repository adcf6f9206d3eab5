#pragma once

#include "AppContext.h"

#include <QWidget>

class QLabel;
class QLineEdit;
class QProgressBar;
class QSlider;
class QStackedWidget;
class QTimer;
class QToolButton;

namespace limnoscope {

class ElidedLabel;
class ImageListView;

// The main window's leading pane: the open folder's name with the sort menu and the open-folder
// button, the filter field with a line for its error or pending images, the thumbnail-size slider, then either the
// image list with the API status, the metadata reading progress, a notice of entries left out for unreadable names and
// the position counter with previous/next buttons beneath it, or, while no images are loaded, a prompt to drop or open
// a folder. GUI thread.
class SidebarView : public QWidget
{
    Q_OBJECT

public:
    // The slider's range and grid.
    static constexpr int minimumThumbnailSize = 44;
    static constexpr int maximumThumbnailSize = 200;
    static constexpr int thumbnailSizeStep = 4;
    // Typing in the filter field filters once it pauses this long.
    static constexpr int filterDelayMs = 100;

    explicit SidebarView(const AppContext& context, QWidget* parent = nullptr);

    [[nodiscard]] ImageListView* imageList() const { return m_list; }
    [[nodiscard]] QLineEdit* filterField() const { return m_filterField; }
    // Gives the filter field the keyboard, its text selected (Edit > Find).
    void focusFilter();

    // The slider position that shows `size` (the nearest grid point), and the size a position
    // stands for.
    [[nodiscard]] static int sliderPosition(double size);
    [[nodiscard]] static double thumbnailSizeAt(int sliderPosition);

signals:
    // The header's open-folder button or the empty state's button was pressed.
    void openFolderRequested();

protected:
    // Esc in the filter field clears it and gives the keyboard back to the window.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* makeHeader();
    QWidget* makeFilterRow();
    QWidget* makeSizeRow();
    QWidget* makeEmptyState();
    QWidget* makeFooter();

    void showFolder();
    // The header's icon: a folder, or a picture for opened files.
    void showFolderIcon();
    void showGroups();
    void showThumbnailSize();
    void showAPIStatus();
    void showPosition();
    void showPrefetchProgress();
    void showSkippedNames();
    void applyFilterText();
    void showFilter();

    ImageBrowserModel* m_model;
    LimnoraAPIService* m_api;
    AppNotifications* m_notifications;

    QLabel* m_folderIcon = nullptr;
    ElidedLabel* m_folderName = nullptr;
    QLabel* m_noFolder = nullptr;
    QLineEdit* m_filterField = nullptr;
    QLabel* m_filterStatus = nullptr;
    QTimer* m_filterDelay = nullptr;
    QSlider* m_sizeSlider = nullptr;
    QStackedWidget* m_pages = nullptr;
    QWidget* m_emptyState = nullptr;
    QWidget* m_listPage = nullptr;
    ImageListView* m_list = nullptr;
    QLabel* m_skippedNames = nullptr;
    QLabel* m_apiStatus = nullptr;
    QProgressBar* m_prefetchProgress = nullptr;
    QToolButton* m_previousButton = nullptr;
    QLabel* m_positionCounter = nullptr;
    QToolButton* m_nextButton = nullptr;
};

} // namespace limnoscope
