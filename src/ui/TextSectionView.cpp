#include "TextSectionView.h"

#include "CopyButton.h"

#include "ValueTextView.h"

#include <QVBoxLayout>

namespace limnoscope {

TextSectionView::TextSectionView(const QString& title, const char* iconName, const QString& content, QWidget* parent)
    : SectionFrame(title, iconName, parent)
    , m_copyButton(new CopyButton(
          QT_TRID_NOOP("copy_text"), [content] { return content; }, this))
{
    addHeaderWidget(m_copyButton);
    // Wrapped, never cut: a long tag list without spaces breaks anywhere.
    auto* text = new ValueTextView(content, ValueTextView::Layout::Wrap, this);
    text->setObjectName(QStringLiteral("SectionContent"));
    contentLayout()->addWidget(text);
}

} // namespace limnoscope
