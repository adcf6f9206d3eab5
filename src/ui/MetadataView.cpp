#include "MetadataView.h"

#include "SettingsSectionView.h"
#include "TextSectionView.h"

#include <QVBoxLayout>

namespace limnoscope {

MetadataView::MetadataView(const LimnoraMetadata &metadata, const QUrl &imageURL, LimnoraAPIService *api,
                           QWidget *parent)
    : QScrollArea(parent)
{
    Q_UNUSED(imageURL)
    setWidgetResizable(true);
    setFrameShape(QFrame::NoFrame);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setBackgroundRole(QPalette::Base);

    auto *content = new QWidget;
    content->setBackgroundRole(QPalette::Base);
    auto *column = new QVBoxLayout(content);
    column->setSpacing(sectionSpacing);
    column->setContentsMargins(margin, margin, margin, margin);
    if (!metadata.prompt.isEmpty())
        column->addWidget(new TextSectionView(qtTrId("section_prompt"), "text.quote", metadata.prompt, content));
    if (!metadata.negativePrompt.isEmpty())
        column->addWidget(new TextSectionView(qtTrId("section_negative_prompt"), "minus.circle",
                                              metadata.negativePrompt, content));
    column->addWidget(new SettingsSectionView(metadata, api, content));
    column->addStretch(1);
    column->addSpacing(sectionSpacing);
    setWidget(content);
}

} // namespace limnoscope
