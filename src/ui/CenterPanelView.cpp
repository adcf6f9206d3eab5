#include "CenterPanelView.h"

#include "EmptyDetailView.h"
#include "ImageBrowserModel.h"
#include "MetadataView.h"

namespace limnoscope {

CenterPanelView::CenterPanelView(ImageBrowserModel* model, LimnoraAPIService* api, QWidget* parent)
    : QStackedWidget(parent)
    , m_model(model)
    , m_api(api)
    , m_emptyView(new EmptyDetailView(this))
{
    setObjectName(QStringLiteral("CenterPanelView"));
    addWidget(m_emptyView);
    connect(model, &ImageBrowserModel::currentMetadataChanged, this, &CenterPanelView::update);
    connect(model, &ImageBrowserModel::errorMessageChanged, this, &CenterPanelView::update);
    update();
}

void CenterPanelView::update()
{
    if (m_metadataView) {
        removeWidget(m_metadataView);
        m_metadataView->deleteLater();
    }
    // A message means the record, if one is still held, belongs to something no longer shown
    // (a folder that could not be opened replaced it): the message wins.
    const auto& metadata = m_model->currentMetadata();
    if (metadata && m_model->errorMessage().isEmpty()) {
        m_metadataView = new MetadataView(*metadata, m_model->currentImageURL(), m_api, this);
        addWidget(m_metadataView);
        setCurrentWidget(m_metadataView);
    } else {
        m_emptyView->setErrorMessage(m_model->errorMessage());
        setCurrentWidget(m_emptyView);
    }
}

} // namespace limnoscope
