#include "SectionFrame.h"

#include "ElidedLabel.h"
#include "Icons.h"

#include <QEvent>
#include <QGridLayout>
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

    m_header = new QGridLayout;
    m_header->setVerticalSpacing(rowSpacing / 2);
    m_title = new QWidget(this);
    auto* titleRow = new QHBoxLayout(m_title);
    titleRow->setContentsMargins(0, 0, 0, 0);
    auto* icon = new QLabel(m_title);
    const int iconSize = fontMetrics().height();
    icon->setPixmap(symbolIcon(iconName).pixmap(iconSize, iconSize));
    // The title gives way last: the buttons go below it first (see resizeEvent).
    auto* titleLabel = new ElidedLabel(m_title);
    titleLabel->setText(title);
    titleLabel->setObjectName(QStringLiteral("SectionTitle"));
    titleLabel->setAccessibleName(title);
    QFont headline = titleLabel->font();
    headline.setBold(true);
    titleLabel->setFont(headline);
    titleRow->addWidget(icon);
    titleRow->addWidget(titleLabel, 1);
    m_buttons = new QWidget(this);
    m_buttons->setObjectName(QStringLiteral("SectionButtons"));
    m_buttonRow = new QHBoxLayout(m_buttons);
    m_buttonRow->setContentsMargins(0, 0, 0, 0);
    m_buttons->installEventFilter(this);
    m_header->addWidget(m_title, 0, 0);
    m_header->addWidget(m_buttons, 0, 1, Qt::AlignRight | Qt::AlignVCenter);
    m_header->setColumnStretch(0, 1);
    column->addLayout(m_header);
    m_divider = makeDivider(this);
    column->addWidget(m_divider);
    m_content = new QVBoxLayout;
    m_content->setSpacing(rowSpacing);
    column->addLayout(m_content);
}

void SectionFrame::addHeaderWidget(QWidget* widget)
{
    widget->setParent(m_buttons);
    m_buttonRow->addWidget(widget);
}

bool SectionFrame::buttonsBelowTitle() const
{
    return m_header->indexOf(m_buttons) >= 0 && m_header->itemAtPosition(1, 0) != nullptr;
}

void SectionFrame::resizeEvent(QResizeEvent* event)
{
    QFrame::resizeEvent(event);
    arrangeHeader();
}

bool SectionFrame::eventFilter(QObject* watched, QEvent* event)
{
    // A button shown, hidden or relabelled changes what fits beside the title.
    if (watched == m_buttons && event->type() == QEvent::LayoutRequest)
        arrangeHeader();
    return QFrame::eventFilter(watched, event);
}

void SectionFrame::arrangeHeader()
{
    // Title and buttons share the row while the whole title fits beside the buttons; in a
    // narrower panel the buttons go to a row of their own under the title.
    const int room = contentsRect().width() - layout()->contentsMargins().left() - layout()->contentsMargins().right();
    const int oneRow = m_title->sizeHint().width() + m_header->horizontalSpacing() + m_buttons->sizeHint().width();
    const bool below = room < oneRow;
    if (below == buttonsBelowTitle())
        return;
    m_header->removeWidget(m_buttons);
    if (below)
        m_header->addWidget(m_buttons, 1, 0, 1, 2, Qt::AlignRight | Qt::AlignVCenter);
    else
        m_header->addWidget(m_buttons, 0, 1, Qt::AlignRight | Qt::AlignVCenter);
}

QFrame* makeDivider(QWidget* parent)
{
    auto* line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}

QLabel* secondaryLabel(const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setForegroundRole(QPalette::PlaceholderText);
    return label;
}

} // namespace limnoscope
