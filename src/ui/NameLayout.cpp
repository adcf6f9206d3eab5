#include "NameLayout.h"

#include <QTextLayout>

#include <cmath>

namespace limnoscope {
namespace {

// Summed advances ignore kerning, which can make a drawn line a little wider than measured:
// leave this much of the width free.
constexpr qreal slackPixels = 2.0;
constexpr qreal slackShare = 0.02;

// Characters whose look depends on their neighbours: right-to-left and Indic and South-East
// Asian scripts, combining marks, joiners and surrogate pairs.
bool shapesWithNeighbours(QChar character)
{
    const char16_t code = character.unicode();
    // Below the combining marks only the soft hyphen is one of them: most names are decided here,
    // without a look-up in the character tables for every character of every row.
    if (code < 0x0300)
        return code == 0x00AD;
    if (character.isSurrogate() || character.isMark() || character.category() == QChar::Other_Format)
        return true;
    return (code >= 0x0590 && code <= 0x1CFF) || (code >= 0xA800 && code <= 0xABFF)
        || (code >= 0xFB1D && code <= 0xFEFF);
}

bool isBreakAfter(QChar character)
{
    return character == QLatin1Char(' ') || character == QLatin1Char('-');
}

} // namespace

NameLayout::NameLayout(const QFont& font)
    : m_font(font)
    , m_metrics(font)
    , m_lineSpacing(int(std::ceil(m_metrics.lineSpacing())))
    , m_ascent(int(std::ceil(m_metrics.ascent())))
    , m_averageCharWidth(QFontMetrics(font).averageCharWidth())
    , m_advances(0x10000, -1.0f)
{
}

qreal NameLayout::advance(QChar character) const
{
    float& stored = m_advances[character.unicode()];
    if (stored < 0)
        stored = float(m_metrics.horizontalAdvance(character));
    return stored;
}

NameLayout::Lines NameLayout::lines(const QString& text, qreal width, qsizetype maxLines) const
{
    Lines result = allLines(text, width);
    if (maxLines > 0 && result.size() > maxLines) {
        Line& last = result[maxLines - 1];
        last.length = text.size() - last.start;
        result.resize(maxLines);
    }
    return result;
}

QStringList NameLayout::shownLines(const QString& text, qreal width, qsizetype maxLines) const
{
    const Lines all = allLines(text, width);
    QStringList shown;
    for (qsizetype i = 0; i < all.size() && i < maxLines; ++i) {
        // A space a line was broken after is not part of what is drawn (or centred).
        qsizetype length = all[i].length;
        while (length > 0 && text.at(all[i].start + length - 1) == QLatin1Char(' '))
            --length;
        shown.append(text.mid(all[i].start, length));
    }
    if (all.size() > maxLines)
        shown.last() = m_metrics.elidedText(text.mid(all[maxLines - 1].start), Qt::ElideMiddle, width);
    return shown;
}

NameLayout::Lines NameLayout::allLines(const QString& text, qreal width) const
{
    for (const QChar character : text) {
        if (shapesWithNeighbours(character))
            return shapedLines(text, width);
    }
    const qreal available = std::max<qreal>(1.0, width - slackPixels - width * slackShare);

    Lines result;
    qsizetype lineStart = 0;
    qreal lineWidth = 0;
    qsizetype breakAt = -1; // a place to break after the line's last space or hyphen
    qreal widthBeforeBreak = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const qreal characterWidth = advance(text.at(i));
        if (lineWidth + characterWidth > available && i > lineStart) {
            if (breakAt > lineStart) {
                result.append({ lineStart, breakAt - lineStart });
                lineStart = breakAt;
                lineWidth -= widthBeforeBreak;
            }
            // The rest of the word still overflows (or there was no place to break): break here.
            if (lineWidth + characterWidth > available && i > lineStart) {
                result.append({ lineStart, i - lineStart });
                lineStart = i;
                lineWidth = 0;
            }
            breakAt = -1;
        }
        lineWidth += characterWidth;
        if (isBreakAfter(text.at(i))) {
            breakAt = i + 1;
            widthBeforeBreak = lineWidth;
        }
    }
    result.append({ lineStart, text.size() - lineStart });
    return result;
}

NameLayout::Lines NameLayout::shapedLines(const QString& text, qreal width) const
{
    QTextLayout layout(text, m_font);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    Lines result;
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(width);
        result.append({ line.textStart(), line.textLength() });
    }
    layout.endLayout();
    if (result.isEmpty())
        result.append({ 0, 0 });
    return result;
}

} // namespace limnoscope
