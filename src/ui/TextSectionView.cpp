#include "TextSectionView.h"

#include "CopyButton.h"

#include <QLabel>
#include <QVBoxLayout>

namespace limnoscope {

TextSectionView::TextSectionView(const QString& title, const char* iconName, const QString& content, QWidget* parent)
    : SectionFrame(title, iconName, parent)
    , m_copyButton(new CopyButton(
          QT_TRID_NOOP("copy_text"), [content] { return content; }, this))
{
    addHeaderWidget(m_copyButton);
    auto* text = new QLabel(content, this);
    text->setObjectName(QStringLiteral("SectionContent"));
    text->setTextFormat(Qt::PlainText);
    text->setWordWrap(true);
    text->setTextInteractionFlags(Qt::TextSelectableByMouse);
    text->setCursor(Qt::IBeamCursor);
    contentLayout()->addWidget(text);
}

} // namespace limnoscope
