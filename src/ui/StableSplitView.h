#pragma once

#include <QSplitter>
#include <QVariantAnimation>

namespace limnoscope {

// The three panes side by side: sidebar (220–420 px, never collapsed), centre (at least 380 px)
// and preview (200–600 px, collapsible with a short animation). The divider positions are kept
// in the preferences across launches. GUI thread.
class StableSplitView : public QSplitter
{
    Q_OBJECT

public:
    static constexpr int sidebarMinimumWidth = 220;
    static constexpr int sidebarMaximumWidth = 420;
    static constexpr int centerMinimumWidth = 380;
    static constexpr int previewMinimumWidth = 200;
    static constexpr int previewMaximumWidth = 600;
    static constexpr int animationMs = 200;
    static constexpr int minimumHeight = 500;
    static constexpr auto settingsKey = "Limnoscope.SplitView";

    StableSplitView(QWidget* leading, QWidget* center, QWidget* trailing, QWidget* parent = nullptr);

    [[nodiscard]] bool isPreviewVisible() const { return m_previewVisible; }
    // Expands or collapses the preview pane, animated unless `animated` is false.
    void setPreviewVisible(bool visible, bool animated = true);

private:
    void restoreState();
    void saveState() const;
    void applyPreviewWidth(int width);
    void finishPreviewChange();

    QWidget* m_trailing;
    bool m_previewVisible = true;
    int m_previewWidth = 320;
    QVariantAnimation m_animation;
};

} // namespace limnoscope
