#include "MetadataView.h"

#include "RawMetadataSection.h"
#include "SettingsSectionView.h"
#include "TextSectionView.h"

#include <QLabel>
#include <QVBoxLayout>

namespace limnoscope {

MetadataView::MetadataView(
    const LimnoraMetadata& metadata, const QUrl& imageURL, LimnoraAPIService* api, QWidget* parent)
    : QScrollArea(parent)
{
    Q_UNUSED(imageURL)
    setWidgetResizable(true);
    setFrameShape(QFrame::NoFrame);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    // The content is as wide as the viewport: texts wrap or shorten instead of scrolling sideways.
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setBackgroundRole(QPalette::Base);

    auto* content = new QWidget;
    content->setBackgroundRole(QPalette::Base);
    auto* column = new QVBoxLayout(content);
    column->setSpacing(sectionSpacing);
    column->setContentsMargins(margin, margin, margin, margin);
    if (!metadata.generator.isEmpty() || !metadata.rawTexts.isEmpty()) {
        auto* generator = new QLabel(metadata.generator.isEmpty() ? qtTrId("generator_unknown")
                                                                  : qtTrId("generator_line").arg(metadata.generator),
            content);
        generator->setObjectName(QStringLiteral("GeneratorLine"));
        generator->setTextFormat(Qt::PlainText);
        generator->setForegroundRole(QPalette::PlaceholderText);
        generator->setWordWrap(true);
        column->addWidget(generator);
    }
    if (!metadata.prompt.isEmpty())
        column->addWidget(new TextSectionView(qtTrId("section_prompt"), "text.quote", metadata.prompt, content));
    if (!metadata.negativePrompt.isEmpty())
        column->addWidget(
            new TextSectionView(qtTrId("section_negative_prompt"), "minus.circle", metadata.negativePrompt, content));
    column->addWidget(new SettingsSectionView(metadata, api, content));
    if (!metadata.rawTexts.isEmpty())
        column->addWidget(new RawMetadataSection(metadata.rawTexts, content));
    column->addStretch(1);
    column->addSpacing(sectionSpacing);
    setWidget(content);
}

} // namespace limnoscope
