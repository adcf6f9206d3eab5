#pragma once

#include "AppContext.h"

#include <QWidget>

class QLabel;
class QProgressBar;
class QSlider;
class QStackedWidget;
class QToolButton;

namespace limnoscope {

class ElidedLabel;
class ImageListView;

// The main window's leading pane: the open folder's name with the sort menu and the open-folder
// button, the thumbnail-size slider, then either the image list with the API status, the metadata
// reading progress, a notice of entries left out for unreadable names and the position counter
// with previous/next buttons beneath it, or, while no
// images are loaded, a prompt to drop or open a folder. GUI thread.
class SidebarView : public QWidget
{
    Q_OBJECT

public:
    // The slider's range and grid.
    static constexpr int minimumThumbnailSize = 44;
    static constexpr int maximumThumbnailSize = 200;
    static constexpr int thumbnailSizeStep = 4;

    explicit SidebarView(const AppContext& context, QWidget* parent = nullptr);

    [[nodiscard]] ImageListView* imageList() const { return m_list; }

    // The slider position that shows `size` (the nearest grid point), and the size a position
    // stands for.
    [[nodiscard]] static int sliderPosition(double size);
    [[nodiscard]] static double thumbnailSizeAt(int sliderPosition);

signals:
    // The header's open-folder button or the empty state's button was pressed.
    void openFolderRequested();

private:
    QWidget* makeHeader();
    QWidget* makeSizeRow();
    QWidget* makeEmptyState();
    QWidget* makeFooter();

    void showFolder();
    void showGroups();
    void showThumbnailSize();
    void showAPIStatus();
    void showPosition();
    void showPrefetchProgress();
    void showSkippedNames();

    ImageBrowserModel* m_model;
    LimnoraAPIService* m_api;

    QLabel* m_folderIcon = nullptr;
    ElidedLabel* m_folderName = nullptr;
    QLabel* m_noFolder = nullptr;
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
