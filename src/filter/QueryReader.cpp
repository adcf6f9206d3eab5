#include "QueryReader.h"

#include <QCoreApplication>

#include <array>

namespace limnoscope {
namespace {

struct FieldName {
    QLatin1StringView name;
    Field field;
};

// The field names as typed, in the order the error message lists them.
constexpr std::array<FieldName, 12> fieldNames { {
    { QLatin1StringView("prompt"), Field::prompt },
    { QLatin1StringView("neg"), Field::negativePrompt },
    { QLatin1StringView("model"), Field::model },
    { QLatin1StringView("lora"), Field::lora },
    { QLatin1StringView("sampler"), Field::sampler },
    { QLatin1StringView("seed"), Field::seed },
    { QLatin1StringView("steps"), Field::steps },
    { QLatin1StringView("size"), Field::size },
    { QLatin1StringView("cfg"), Field::cfg },
    { QLatin1StringView("generator"), Field::generator },
    { QLatin1StringView("tag"), Field::tag },
    { QLatin1StringView("file"), Field::file },
} };

QString allFieldNames()
{
    QStringList names;
    for (const FieldName& entry : fieldNames)
        names.append(entry.name);
    return names.join(QLatin1StringView(", "));
}

QString numericFieldNames()
{
    QStringList names;
    for (const FieldName& entry : fieldNames)
        if (isNumeric(entry.field))
            names.append(entry.name);
    return names.join(QLatin1StringView(", "));
}

// The text of a message id, or the English one given here where no translations are installed
// (limnoscope-info has none).
QString localizedText(const char* id, const char* english)
{
    const QString text = qtTrId(id);
    return text == QLatin1StringView(id) ? QString::fromUtf8(english) : text;
}

// A colour tag's name as the user reads it: the shown name, or the stored one where no translations are installed.
QString shownTagName(FinderTag tag)
{
    const QString shown = localizedName(tag);
    return (shown == localizationKey(tag) ? attributeName(tag) : shown).toLower();
}

// The messages of a query that cannot be read.

QString loneMinusMessage()
{
    return localizedText(
        QT_TRID_NOOP("query_error_lone_minus"), "A “-” must be followed by what to leave out, as in -blurry.");
}

QString unclosedQuoteMessage()
{
    return localizedText(QT_TRID_NOOP("query_error_unclosed_quote"), "A quotation mark is not closed.");
}

QString unknownFieldMessage(QStringView name)
{
    return localizedText(QT_TRID_NOOP("query_error_unknown_field"),
        "Unknown field “%1:”. Fields: %2. Put text that holds a colon in quotation marks.")
        .arg(name, allFieldNames());
}

QString emptyValueMessage(const QString& field)
{
    return localizedText(QT_TRID_NOOP("query_error_empty_value"), "“%1:” needs something to look for after the colon.")
        .arg(field);
}

QString notANumberMessage(const QString& field, QStringView value)
{
    return localizedText(
        QT_TRID_NOOP("query_error_not_a_number"), "“%1:” takes a number, also after >, <, >= or <=, not “%2”.")
        .arg(field, value);
}

QString comparisonOnTextMessage(const QString& field)
{
    return localizedText(
        QT_TRID_NOOP("query_error_comparison_on_text"), "“%1:” holds text and takes no > or <; only %2 do.")
        .arg(field, numericFieldNames());
}

QString unknownTagMessage(QStringView value)
{
    QStringList names;
    for (FinderTag tag : allFinderTags)
        names.append(shownTagName(tag));
    return localizedText(QT_TRID_NOOP("query_error_unknown_tag"), "Unknown colour tag “%1”. Tags: %2.")
        .arg(value, names.join(QLatin1StringView(", ")));
}

// Reads one query text term by term; stops at the first fault, which it describes.
class TermReader
{
public:
    explicit TermReader(const QString& text)
        : m_text(text)
    {
    }

    std::optional<QList<QueryTerm>> read(QueryError& error)
    {
        QList<QueryTerm> terms;
        while (skipSpace()) {
            const qsizetype termStart = m_at;
            QueryTerm term;
            if (m_text[m_at] == u'-') {
                term.excluded = true;
                if (++m_at == m_text.size() || m_text[m_at].isSpace())
                    return fail(error, termStart, loneMinusMessage());
            }
            if (m_text[m_at] == u'"') {
                const qsizetype quote = m_at;
                auto phrase = quoted();
                if (!phrase)
                    return fail(error, quote, unclosedQuoteMessage());
                if (phrase->isEmpty())
                    continue; // "" looks for nothing, so it lets every image through
                term.needle = FoldedNeedle(phrase->toString());
                terms.append(std::move(term));
                continue;
            }
            qsizetype nameEnd = m_at;
            while (nameEnd < m_text.size() && m_text[nameEnd].isLetter() && m_text[nameEnd].unicode() < 0x80)
                ++nameEnd;
            if (nameEnd == m_at || nameEnd == m_text.size() || m_text[nameEnd] != u':') {
                term.needle = FoldedNeedle(bare().toString());
                terms.append(std::move(term));
                continue;
            }
            const QStringView name = QStringView(m_text).mid(m_at, nameEnd - m_at);
            const FieldName* known = nullptr;
            for (const FieldName& entry : fieldNames)
                if (name.compare(entry.name, Qt::CaseInsensitive) == 0)
                    known = &entry;
            if (!known)
                return fail(error, m_at, unknownFieldMessage(name));
            term.field = known->field;
            m_at = nameEnd + 1;
            if (!readFieldValue(term, QString(known->name), termStart, error))
                return std::nullopt;
            terms.append(std::move(term));
        }
        return terms;
    }

private:
    // Moves past white space; false at the end of the text.
    bool skipSpace()
    {
        while (m_at < m_text.size() && m_text[m_at].isSpace())
            ++m_at;
        return m_at < m_text.size();
    }

    // The text up to the next white space.
    QStringView bare()
    {
        const qsizetype start = m_at;
        while (m_at < m_text.size() && !m_text[m_at].isSpace())
            ++m_at;
        return QStringView(m_text).mid(start, m_at - start);
    }

    // The text between the quotation mark at m_at and the next one, or nothing when none closes it.
    std::optional<QStringView> quoted()
    {
        const qsizetype close = m_text.indexOf(u'"', m_at + 1);
        if (close < 0)
            return std::nullopt;
        const QStringView phrase = QStringView(m_text).mid(m_at + 1, close - m_at - 1);
        m_at = close + 1;
        return phrase;
    }

    bool readFieldValue(QueryTerm& term, const QString& name, qsizetype termStart, QueryError& error)
    {
        const qsizetype valueStart = m_at;
        if (m_at == m_text.size() || m_text[m_at].isSpace())
            return failed(error, termStart, emptyValueMessage(name));
        QStringView value;
        if (m_text[m_at] == u'"') {
            auto phrase = quoted();
            if (!phrase)
                return failed(error, valueStart, unclosedQuoteMessage());
            value = *phrase;
        } else {
            value = bare();
        }
        if (value.trimmed().isEmpty())
            return failed(error, termStart, emptyValueMessage(name));
        const bool comparing = value.startsWith(u'<') || value.startsWith(u'>');
        if (isNumeric(term.field)) {
            QStringView digits = value;
            const auto takeOperator = [&](QLatin1StringView sign, Comparison comparison) {
                if (!digits.startsWith(sign))
                    return false;
                digits = digits.mid(sign.size());
                term.comparison = comparison;
                return true;
            };
            takeOperator(QLatin1StringView(">="), Comparison::greaterOrEqual)
                || takeOperator(QLatin1StringView("<="), Comparison::lessOrEqual)
                || takeOperator(QLatin1StringView(">"), Comparison::greater)
                || takeOperator(QLatin1StringView("<"), Comparison::less)
                || takeOperator(QLatin1StringView("="), Comparison::equal);
            auto number = readNumber(digits);
            if (!number)
                return failed(error, valueStart, notANumberMessage(name, value));
            term.number = *number;
        } else if (comparing) {
            return failed(error, valueStart, comparisonOnTextMessage(name));
        } else if (term.field == Field::tag) {
            const FoldedNeedle tagName { value.trimmed().toString() };
            for (FinderTag tag : allFinderTags)
                if (tagName.equals(attributeName(tag)) || tagName.equals(localizedName(tag)))
                    term.tags |= tagBit(tag);
            if (term.tags == 0)
                return failed(error, valueStart, unknownTagMessage(value));
        } else {
            term.needle = FoldedNeedle(value.toString());
        }
        return true;
    }

    bool failed(QueryError& error, qsizetype position, const QString& message)
    {
        error = QueryError { message, position };
        return false;
    }

    std::nullopt_t fail(QueryError& error, qsizetype position, const QString& message)
    {
        failed(error, position, message);
        return std::nullopt;
    }

    const QString& m_text;
    qsizetype m_at = 0;
};

} // namespace

std::optional<QList<QueryTerm>> readQueryTerms(const QString& text, QueryError& error)
{
    return TermReader(text).read(error);
}

} // namespace limnoscope
