#pragma once

#include "LimnoraMetadata.h"

#include <QScrollArea>
#include <QUrl>

#include <array>
#include <optional>

class QLabel;
class QVBoxLayout;

namespace limnoscope {

class CacheEntry;
class ComparePicture;
class CopyButton;
class ElidedLabel;
class ImageBrowserModel;

// The Compare page of the centre pane: two images side by side, decoded on workers, over one
// table of their settings with the differing rows marked, and their prompts with the removed
// and added words marked. The records come from the model's metadata cache and fill in as the
// prefetch stores them. Esc (while no text field has the keyboard) asks to leave. GUI thread.
class CompareView : public QScrollArea
{
    Q_OBJECT

public:
    static constexpr int decodeSize = 800;
    static constexpr int pictureHeight = 240;

    explicit CompareView(ImageBrowserModel* model, QWidget* parent = nullptr);

    // Shows `left` and `right`; their pictures are decoded again only when they changed.
    void setImages(const QUrl& left, const QUrl& right);
    [[nodiscard]] QUrl leftURL() const { return m_sides[0].url; }
    [[nodiscard]] QUrl rightURL() const { return m_sides[1].url; }

signals:
    void leaveRequested();
    // Both pictures of the current pair were decoded (an undecodable one counts, shown empty).
    void picturesShown();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    struct Side {
        QUrl url;
        // Set once the cache has a reading; the inner value is empty for an image without metadata.
        std::optional<std::optional<LimnoraMetadata>> reading;
        ElidedLabel* name = nullptr;
        ComparePicture* picture = nullptr;
        QLabel* status = nullptr;
        CopyButton* copy = nullptr;
        bool decoded = false;
    };

    QWidget* makeSideColumn(Side& side);
    void decode(int index);
    void readRecord(Side& side);
    void entryStored(const QUrl& url, const CacheEntry& entry);
    // Replaces the settings table and the prompts with ones for the records as read now.
    void rebuildDetails();
    [[nodiscard]] QWidget* makeSettingsTable(QWidget* parent) const;
    [[nodiscard]] QWidget* makePromptRows(QWidget* parent) const;

    ImageBrowserModel* m_model;
    std::array<Side, 2> m_sides;
    QVBoxLayout* m_column;
    QWidget* m_details = nullptr;
    quint64 m_loadID = 0;
};

} // namespace limnoscope
