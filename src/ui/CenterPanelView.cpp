#include "CenterPanelView.h"

#include "CompareView.h"
#include "EmptyDetailView.h"
#include "ImageBrowserModel.h"
#include "MetadataView.h"

namespace limnoscope {

CenterPanelView::CenterPanelView(ImageBrowserModel* model, LimnoraAPIService* api, QWidget* parent)
    : QStackedWidget(parent)
    , m_model(model)
    , m_api(api)
    , m_emptyView(new EmptyDetailView(this))
    , m_compareView(new CompareView(model, this))
{
    setObjectName(QStringLiteral("CenterPanelView"));
    addWidget(m_emptyView);
    addWidget(m_compareView);
    connect(m_compareView, &CompareView::leaveRequested, this, &CenterPanelView::leaveCompare);
    connect(model, &ImageBrowserModel::selectedURLsChanged, this, &CenterPanelView::followSelection);
    connect(model, &ImageBrowserModel::currentImageURLChanged, this, &CenterPanelView::followSelection);
    connect(model, &ImageBrowserModel::currentMetadataChanged, this, &CenterPanelView::update);
    connect(model, &ImageBrowserModel::errorMessageChanged, this, &CenterPanelView::update);
    update();
}

void CenterPanelView::update()
{
    // Asked first: taking the shown inspector out of the stack shows another page for a moment.
    const bool comparing = isComparing();
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
        setCurrentWidget(comparing ? static_cast<QWidget*>(m_compareView) : m_metadataView);
    } else {
        m_emptyView->setErrorMessage(m_model->errorMessage());
        const bool staysComparing = comparing && m_model->errorMessage().isEmpty();
        setCurrentWidget(staysComparing ? static_cast<QWidget*>(m_compareView) : m_emptyView);
    }
}

std::optional<std::pair<QUrl, QUrl>> CenterPanelView::comparablePair() const
{
    // Exactly two selected images, or one beside the current image: both rows are marked alike
    // (a click makes an image current without selecting it, Ctrl+click then selects another).
    QSet<QUrl> selection = m_model->selectedURLs();
    if (selection.size() == 1 && !m_model->currentImageURL().isEmpty())
        selection.insert(m_model->currentImageURL());
    if (selection.size() != 2)
        return std::nullopt;
    QUrl first = *selection.begin();
    QUrl second = *std::next(selection.begin());
    // Left is the one higher up in the list; by name when the list does not show them.
    const qsizetype firstAt = m_model->flatURLs().indexOf(first);
    const qsizetype secondAt = m_model->flatURLs().indexOf(second);
    if (firstAt >= 0 && secondAt >= 0 ? secondAt < firstAt : second.fileName() < first.fileName())
        std::swap(first, second);
    return std::pair { first, second };
}

bool CenterPanelView::hasComparablePair() const
{
    // comparablePair()'s test: two selected, or one selected and a current image other than it.
    const QSet<QUrl>& selection = m_model->selectedURLs();
    const QUrl& current = m_model->currentImageURL();
    return selection.size() == 2 || (selection.size() == 1 && !current.isEmpty() && !selection.contains(current));
}

bool CenterPanelView::isComparing() const
{
    return currentWidget() == m_compareView;
}

void CenterPanelView::showCompare()
{
    const auto pair = comparablePair();
    if (!pair)
        return;
    m_compareView->setImages(pair->first, pair->second);
    setCurrentWidget(m_compareView);
}

void CenterPanelView::leaveCompare()
{
    if (!isComparing())
        return;
    setCurrentWidget(m_metadataView ? static_cast<QWidget*>(m_metadataView) : m_emptyView);
    emit compareLeft();
}

void CenterPanelView::followSelection()
{
    if (!isComparing())
        return;
    const auto pair = comparablePair();
    if (!pair)
        leaveCompare();
    else if (pair->first != m_compareView->leftURL() || pair->second != m_compareView->rightURL())
        m_compareView->setImages(pair->first, pair->second);
}

} // namespace limnoscope
