#pragma once

#include "MetadataView.h"

#include <QPointer>
#include <QStackedWidget>
#include <QUrl>

#include <optional>
#include <utility>

namespace limnoscope {

class CompareView;
class EmptyDetailView;
class ImageBrowserModel;
class LimnoraAPIService;

// The centre pane: the inspector for the current image's metadata, or the empty view with the
// model's message whenever there is one, or the Compare page of two selected images until it is
// left or the selection changes. Follows the model. GUI thread.
class CenterPanelView : public QStackedWidget
{
    Q_OBJECT

public:
    CenterPanelView(ImageBrowserModel* model, LimnoraAPIService* api, QWidget* parent = nullptr);

    [[nodiscard]] MetadataView* metadataView() const { return m_metadataView; }
    [[nodiscard]] EmptyDetailView* emptyView() const { return m_emptyView; }
    [[nodiscard]] CompareView* compareView() const { return m_compareView; }

    // The two selected images (or the one selected and the current image) in list order, or
    // nothing unless exactly two are marked so.
    [[nodiscard]] std::optional<std::pair<QUrl, QUrl>> comparablePair() const;
    // Whether comparablePair() has a pair, without looking up where the two are in the list.
    [[nodiscard]] bool hasComparablePair() const;
    [[nodiscard]] bool isComparing() const;
    // Shows the Compare page for the two selected images; nothing unless exactly two are.
    void showCompare();
    void leaveCompare();

signals:
    // The Compare page was left; the keyboard should go back to the list.
    void compareLeft();

private:
    void update();
    void followSelection();

    ImageBrowserModel* m_model;
    LimnoraAPIService* m_api;
    EmptyDetailView* m_emptyView;
    CompareView* m_compareView;
    QPointer<MetadataView> m_metadataView;
};

} // namespace limnoscope
