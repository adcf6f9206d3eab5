#pragma once

#include "AppContext.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QPointer>
#include <QUrl>
#include <QWidget>

#include <chrono>

namespace limnoscope {

class CenterPanelView;
class KeySinkView;
class PreviewPanel;
class SidebarView;
class StableSplitView;

// The main window's content: sidebar, inspector and preview side by side over the key sink. It
// opens folders (dialog or drop), moves the selection to the Trash on request, and gives the
// key sink the keyboard back after a folder opened or images were forgotten. GUI thread.
class ContentView : public QWidget
{
    Q_OBJECT

public:
    static constexpr int quickLookReshowDelayMs = 200;
    // After a folder opens, and after trashed images are forgotten, keyboard focus goes back to
    // the key sink this long later.
    static constexpr std::chrono::milliseconds folderOpenedFocusDelay { 300 };
    static constexpr std::chrono::milliseconds deletionFocusDelay { 150 };

    // What follows a deletion without confirmation: Quick Look shows the next image again when
    // the deletion was asked for from it.
    enum class AfterDeletion { stay, reshowQuickLook };

    explicit ContentView(const AppContext& context, QWidget* parent = nullptr);

    // What a drop of these items does: one folder opens it; one image of the open folder does
    // nothing; otherwise the images among them, in natural name order, are shown as a list. One
    // item that does not exist is opened as an image when its name says so, else as a folder.
    void handleDroppedURLs(const QList<QUrl>& urls);
    // Shows the folder chooser (folders only, one).
    void showFolderPicker();
    // Asks before moving the multi-selection to the Trash; nothing without a selection.
    void confirmDeleteSelection();
    // Moves the selection, or else the current image, to the Trash without asking.
    void deleteWithoutConfirmation(AfterDeletion after = AfterDeletion::stay);

    [[nodiscard]] StableSplitView* splitView() const { return m_splitView; }
    [[nodiscard]] CenterPanelView* centerPanel() const { return m_center; }
    [[nodiscard]] PreviewPanel* previewPanel() const { return m_preview; }
    [[nodiscard]] KeySinkView* keySink() const { return m_keySink; }
    [[nodiscard]] bool isDraggingOver() const { return m_draggingOver; }
    [[nodiscard]] QMessageBox* openConfirmation() const { return m_confirmation; }
    [[nodiscard]] QFileDialog* openFolderPicker() const { return m_folderPicker; }

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void setDraggingOver(bool dragging);
    // The given images that are listed in the open folder or file list: nothing else is ever
    // moved to the Trash.
    [[nodiscard]] QList<QUrl> listedImages(const QList<QUrl>& urls) const;

    AppContext m_context;
    ImageBrowserModel* m_model;
    KeySinkView* m_keySink;
    CenterPanelView* m_center;
    PreviewPanel* m_preview;
    StableSplitView* m_splitView;
    QWidget* m_dropOverlay;
    bool m_draggingOver = false;
    QPointer<QMessageBox> m_confirmation;
    QPointer<QFileDialog> m_folderPicker;
};

} // namespace limnoscope
