#pragma once

#include "MetadataView.h"

#include <QPointer>
#include <QStackedWidget>

namespace limnoscope {

class EmptyDetailView;
class ImageBrowserModel;
class LimnoraAPIService;

// The centre pane: the inspector for the current image's metadata, or the empty view with the
// model's message whenever there is one. Follows the model. GUI thread.
class CenterPanelView : public QStackedWidget
{
    Q_OBJECT

public:
    CenterPanelView(ImageBrowserModel* model, LimnoraAPIService* api, QWidget* parent = nullptr);

    [[nodiscard]] MetadataView* metadataView() const { return m_metadataView; }
    [[nodiscard]] EmptyDetailView* emptyView() const { return m_emptyView; }

private:
    void update();

    ImageBrowserModel* m_model;
    LimnoraAPIService* m_api;
    EmptyDetailView* m_emptyView;
    QPointer<MetadataView> m_metadataView;
};

} // namespace limnoscope
