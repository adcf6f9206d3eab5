#include "RawMetadataSection.h"

#include "CopyButton.h"
#include "Icons.h"

#include <QKeyEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QToolButton>
#include <QVBoxLayout>

namespace limnoscope {

RawMetadataSection::RawMetadataSection(const QList<RawText>& texts, QWidget* parent)
    : SectionFrame(qtTrId("section_raw_metadata"), "doc.text.magnifyingglass", parent)
    , m_texts(texts)
    , m_toggle(new QToolButton(this))
    , m_copyButton(new CopyButton(
          QT_TRID_NOOP("copy_all"), [texts] { return rawTextsForClipboard(texts); }, this))
{
    m_toggle->setObjectName(QStringLiteral("RawMetadataToggle"));
    m_toggle->setCheckable(true);
    m_toggle->setFocusPolicy(Qt::StrongFocus);
    // Space belongs to the window's browsing keys (Quick Look): Return toggles the section too.
    m_toggle->installEventFilter(this);
    m_toggle->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    connect(m_toggle, &QToolButton::toggled, this, &RawMetadataSection::setExpanded);
    addHeaderWidget(m_copyButton);
    addHeaderWidget(m_toggle);
    setExpanded(false);
}

bool RawMetadataSection::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_toggle && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            m_toggle->toggle();
            return true;
        }
    }
    return SectionFrame::eventFilter(watched, event);
}

bool RawMetadataSection::isExpanded() const
{
    return m_body && m_body->isVisibleTo(this);
}

void RawMetadataSection::setExpanded(bool expanded)
{
    m_toggle->setText(expanded ? qtTrId("raw_metadata_hide") : qtTrId("raw_metadata_show").arg(m_texts.size()));
    m_toggle->setIcon(symbolIcon(expanded ? "chevron.down" : "chevron.right"));
    m_toggle->setAccessibleName(qtTrId("section_raw_metadata") + u' ' + m_toggle->text());
    divider()->setVisible(expanded);
    if (expanded && !m_body)
        buildTexts();
    if (m_body)
        m_body->setVisible(expanded);
}

void RawMetadataSection::buildTexts()
{
    m_body = new QWidget(this);
    m_body->setObjectName(QStringLiteral("RawMetadataTexts"));
    auto* column = new QVBoxLayout(m_body);
    column->setContentsMargins(0, 0, 0, 0);
    for (const RawText& raw : std::as_const(m_texts)) {
        auto* source = new QLabel(raw.source, m_body);
        source->setObjectName(QStringLiteral("RawTextSource"));
        source->setTextFormat(Qt::PlainText);
        source->setForegroundRole(QPalette::PlaceholderText);
        column->addWidget(source);

        auto* text = new QPlainTextEdit(m_body);
        text->setObjectName(QStringLiteral("RawText"));
        text->setReadOnly(true);
        text->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        // Room for the text's lines, long ones counted as wrapped at about 60 characters.
        const QString shown = raw.text.left(maxShownCharacters);
        const qsizetype estimated = shown.count(u'\n') + 1 + shown.size() / 60;
        const int lines = int(std::clamp<qsizetype>(estimated, 2, maxVisibleLines));
        text->setPlainText(shown);
        text->setFixedHeight(text->fontMetrics().lineSpacing() * lines + 2 * text->frameWidth() + 8);
        column->addWidget(text);
        if (raw.text.size() > maxShownCharacters) {
            auto* more = new QLabel(qtTrId("raw_metadata_more").arg(raw.text.size() - maxShownCharacters), m_body);
            more->setForegroundRole(QPalette::PlaceholderText);
            more->setWordWrap(true);
            column->addWidget(more);
        }
    }
    contentLayout()->addWidget(m_body);
}

QString rawTextsForClipboard(const QList<RawText>& texts)
{
    QStringList entries;
    for (const RawText& raw : texts)
        entries.append(raw.source + u'\n' + raw.text);
    return entries.join(QStringLiteral("\n\n"));
}

} // namespace limnoscope
