#include "EmptyDetailView.h"

#include "Icons.h"

#include <QLabel>
#include <QVBoxLayout>

namespace limnoscope {

EmptyDetailView::EmptyDetailView(QWidget* parent)
    : QWidget(parent)
    , m_text(new QLabel(this))
{
    setBackgroundRole(QPalette::Base);
    setAutoFillBackground(true);
    auto* column = new QVBoxLayout(this);
    column->addStretch(1);
    auto* icon = new QLabel(this);
    icon->setPixmap(symbolIcon("doc.text.magnifyingglass").pixmap(iconSize, iconSize, QIcon::Disabled));
    icon->setAlignment(Qt::AlignCenter);
    column->addWidget(icon);
    m_text->setObjectName(QStringLiteral("EmptyDetailText"));
    m_text->setAlignment(Qt::AlignCenter);
    m_text->setWordWrap(true);
    m_text->setForegroundRole(QPalette::PlaceholderText);
    column->addWidget(m_text);
    column->addStretch(1);
    setErrorMessage({});
}

void EmptyDetailView::setErrorMessage(const QString& message)
{
    m_text->setText(message.isEmpty() ? qtTrId("select_image_hint") : message);
}

QString EmptyDetailView::shownText() const
{
    return m_text->text();
}

} // namespace limnoscope
