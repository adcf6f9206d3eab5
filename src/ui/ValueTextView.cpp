#include "ValueTextView.h"

#include <QKeyEvent>
#include <QMimeData>
#include <QRegularExpression>
#include <QTextDocument>

#include <cmath>

namespace limnoscope {
namespace {

// The narrowest a value gets: a few characters around the ellipsis stay readable.
constexpr int minimumCharacters = 4;
// The widest a value asks to be: the room the settings grid shares out goes to long values first,
// but one very long value does not take it all.
constexpr int preferredCharacters = 40;

QTextOption wrapOption()
{
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    return option;
}

} // namespace

ValueTextView::ValueTextView(const QString& text, Layout layout, QWidget* parent)
    : QTextEdit(parent)
    , m_text(text)
    , m_layout(layout)
    , m_measure(new QTextDocument(this))
{
    setReadOnly(true);
    setAcceptRichText(false);
    setTextInteractionFlags(Qt::TextSelectableByMouse);
    setFocusPolicy(Qt::ClickFocus);
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setSizeAdjustPolicy(QAbstractScrollArea::AdjustIgnored);
    // The section behind shows through, as behind a label.
    setAutoFillBackground(false);
    viewport()->setAutoFillBackground(false);
    document()->setDocumentMargin(0);
    if (layout == Layout::Wrap) {
        setLineWrapMode(QTextEdit::WidgetWidth);
        setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    } else {
        setLineWrapMode(QTextEdit::NoWrap);
    }
    m_measure->setDocumentMargin(0);
    m_measure->setDefaultTextOption(wrapOption());
    m_measure->setDefaultFont(font());
    m_measure->setPlainText(text);
    QSizePolicy policy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
    updateShownText();
}

ValueTextView::Layout ValueTextView::layoutFor(const QString& text)
{
    static const QRegularExpression space(QStringLiteral("\\s"));
    return text.contains(space) ? Layout::Wrap : Layout::ElideMiddle;
}

int ValueTextView::heightForWidth(int width) const
{
    const int frame = 2 * frameWidth();
    if (m_layout == Layout::ElideMiddle)
        return fontMetrics().lineSpacing() + frame;
    if (m_lastHeightForWidth.first != width) {
        m_measure->setTextWidth(std::max(1, width - frame));
        m_lastHeightForWidth = { width, int(std::ceil(m_measure->size().height())) + frame };
    }
    return m_lastHeightForWidth.second;
}

QSize ValueTextView::sizeHint() const
{
    const int widest = fontMetrics().averageCharWidth() * preferredCharacters;
    const int width = std::min(naturalWidth(), widest) + 2 * frameWidth();
    return { width, heightForWidth(width) };
}

int ValueTextView::naturalWidth() const
{
    if (m_naturalWidth < 0) {
        m_naturalWidth = 0;
        for (const QStringView line : QStringView(m_text).split(u'\n'))
            m_naturalWidth = std::max(m_naturalWidth, fontMetrics().horizontalAdvance(line.toString()) + 1);
    }
    return m_naturalWidth;
}

QSize ValueTextView::minimumSizeHint() const
{
    return { fontMetrics().averageCharWidth() * minimumCharacters + 2 * frameWidth(),
        fontMetrics().lineSpacing() + 2 * frameWidth() };
}

bool ValueTextView::event(QEvent* event)
{
    // Only copying and selecting everything belong to the text; the window's keys stay the window's.
    if (event->type() == QEvent::ShortcutOverride) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->matches(QKeySequence::Copy) || key->matches(QKeySequence::SelectAll)) {
            event->accept();
            return true;
        }
        event->ignore();
        return false;
    }
    return QTextEdit::event(event);
}

void ValueTextView::keyPressEvent(QKeyEvent* event)
{
    if (event->matches(QKeySequence::Copy))
        copy();
    else if (event->matches(QKeySequence::SelectAll))
        selectAll();
    else
        event->ignore();
}

void ValueTextView::wheelEvent(QWheelEvent* event)
{
    // The text is always shown whole: the wheel scrolls the inspector around it.
    event->ignore();
}

void ValueTextView::resizeEvent(QResizeEvent* event)
{
    QTextEdit::resizeEvent(event);
    updateShownText();
}

void ValueTextView::changeEvent(QEvent* event)
{
    QTextEdit::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        m_measure->setDefaultFont(font());
        m_lastHeightForWidth = { -1, 0 };
        m_naturalWidth = -1;
        updateShownText();
        updateGeometry();
    }
}

QMimeData* ValueTextView::createMimeDataFromSelection() const
{
    if (!m_elided)
        return QTextEdit::createMimeDataFromSelection();
    // Part of "abc…xyz" means nothing on its own: a shortened value is copied whole.
    auto* data = new QMimeData;
    data->setText(m_text);
    return data;
}

void ValueTextView::updateShownText()
{
    QString shown = m_text;
    if (m_layout == Layout::ElideMiddle && naturalWidth() > viewport()->width())
        shown = fontMetrics().elidedText(m_text, Qt::ElideMiddle, std::max(viewport()->width() - 1, 0));
    m_elided = shown != m_text;
    setToolTip(m_elided ? m_text : QString());
    if (toPlainText() != shown)
        setPlainText(shown);
}

} // namespace limnoscope
