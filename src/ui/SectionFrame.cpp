#include "SectionFrame.h"

#include "Icons.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace limnoscope {

SectionFrame::SectionFrame(const QString& title, const char* iconName, QWidget* parent)
    : QFrame(parent)
{
    setFrameShape(QFrame::StyledPanel);
    setObjectName(QStringLiteral("SectionFrame"));
    auto* column = new QVBoxLayout(this);
    column->setSpacing(rowSpacing);
    column->setContentsMargins(innerMargin + 6, innerMargin + 6, innerMargin + 6, innerMargin + 6);

    m_header = new QHBoxLayout;
    auto* icon = new QLabel(this);
    const int iconSize = fontMetrics().height();
    icon->setPixmap(symbolIcon(iconName).pixmap(iconSize, iconSize));
    auto* titleLabel = new QLabel(title, this);
    titleLabel->setObjectName(QStringLiteral("SectionTitle"));
    QFont headline = titleLabel->font();
    headline.setBold(true);
    titleLabel->setFont(headline);
    m_header->addWidget(icon);
    m_header->addWidget(titleLabel);
    m_header->addStretch(1);
    column->addLayout(m_header);
    m_divider = makeDivider(this);
    column->addWidget(m_divider);
    m_content = new QVBoxLayout;
    m_content->setSpacing(rowSpacing);
    column->addLayout(m_content);
}

void SectionFrame::addHeaderWidget(QWidget* widget)
{
    m_header->addWidget(widget);
}

QFrame* makeDivider(QWidget* parent)
{
    auto* line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}

} // namespace limnoscope
