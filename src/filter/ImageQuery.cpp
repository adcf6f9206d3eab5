#include "ImageQuery.h"

namespace limnoscope {

// The parsed terms. Only plain words for now; the field terms come next.
struct ImageQuery::Terms {
    QStringList words;
};

std::optional<ImageQuery> ImageQuery::parse(const QString& text, QueryError* error)
{
    Q_UNUSED(error);
    ImageQuery query;
    auto terms = std::make_shared<Terms>();
    terms->words = text.split(u' ', Qt::SkipEmptyParts);
    if (!terms->words.isEmpty())
        query.m_terms = std::move(terms);
    return query;
}

ImageQuery::ImageQuery() = default;
ImageQuery::~ImageQuery() = default;
ImageQuery::ImageQuery(const ImageQuery&) = default;
ImageQuery& ImageQuery::operator=(const ImageQuery&) = default;

bool ImageQuery::isEmpty() const
{
    return !m_terms;
}

bool ImageQuery::needsTags() const
{
    return false;
}

bool ImageQuery::needsRecords() const
{
    return !isEmpty();
}

bool ImageQuery::matches(const QueryCandidate& candidate) const
{
    if (!m_terms)
        return true;
    for (const QString& word : m_terms->words) {
        const LimnoraMetadata* record = candidate.record;
        const bool found = candidate.fileName.contains(word, Qt::CaseInsensitive)
            || (record
                && (record->prompt.contains(word, Qt::CaseInsensitive)
                    || record->negativePrompt.contains(word, Qt::CaseInsensitive)));
        if (!found)
            return false;
    }
    return true;
}

} // namespace limnoscope
