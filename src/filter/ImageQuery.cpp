#include "ImageQuery.h"

#include "QueryReader.h"
#include "QueryTerm.h"

#include <algorithm>
#include <array>

namespace limnoscope {

struct ImageQuery::Terms {
    QList<QueryTerm> terms;
    bool needsTags = false;
    bool needsRecords = false;
    unsigned settings = 0; // bit (1 << Setting) of each setting some term reads
};

namespace {

const std::array<QString, settingCount>& settingKeys()
{
    static const std::array<QString, settingCount> keys { QStringLiteral("Model"), QStringLiteral("Sampler"),
        QStringLiteral("Seed"), QStringLiteral("Steps"), QStringLiteral("Size"), QStringLiteral("Guidance Scale") };
    return keys;
}

// The settings one image offers the terms, looked up once, in one pass, when a term first needs one.
class SettingValues
{
public:
    SettingValues(const LimnoraMetadata& record, unsigned wanted)
        : m_record(record)
        , m_wanted(wanted)
    {
    }

    // The value of `setting`, or nothing when the record has no such setting.
    std::optional<QStringView> value(Setting setting)
    {
        if (!m_looked) {
            m_looked = true;
            // Each key is listed once, so the look ends once every wanted one is found.
            const auto& keys = settingKeys();
            unsigned missing = m_wanted;
            for (const auto& [key, value] : m_record.settings.entries()) {
                for (std::size_t i = 0; i < settingCount; ++i) {
                    if ((missing & (1u << i)) && key == keys[i]) {
                        m_values[i] = QStringView(value);
                        missing &= ~(1u << i);
                    }
                }
                if (missing == 0)
                    break;
            }
        }
        return m_values[static_cast<std::size_t>(setting)];
    }

private:
    const LimnoraMetadata& m_record;
    unsigned m_wanted;
    bool m_looked = false;
    std::array<std::optional<QStringView>, settingCount> m_values;
};

bool compares(const QueryTerm& term, std::optional<QStringView> text)
{
    if (!text)
        return false;
    const auto number = readNumber(*text);
    if (!number)
        return false;
    const int order = compareNumbers(*number, term.number);
    switch (term.comparison) {
    case Comparison::equal:
        return order == 0;
    case Comparison::less:
        return order < 0;
    case Comparison::lessOrEqual:
        return order <= 0;
    case Comparison::greater:
        return order > 0;
    case Comparison::greaterOrEqual:
        return order >= 0;
    }
    return false;
}

bool anyLoraHolds(const LimnoraMetadata& record, const FoldedNeedle& needle)
{
    for (const LoraEntry& lora : record.loras)
        if (needle.foundIn(lora.file))
            return true;
    return false;
}

// Whether the image has what the term looks for, exclusion aside.
bool holds(const QueryTerm& term, const QueryCandidate& candidate, std::optional<SettingValues>& settings)
{
    const LimnoraMetadata* record = candidate.record;
    if (term.field == Field::tag) {
        if (!candidate.tags)
            return false;
        for (FinderTag tag : *candidate.tags)
            if (term.tags & tagBit(tag))
                return true;
        return false;
    }
    if (term.field == Field::file)
        return term.needle.foundIn(candidate.fileName);
    if (term.field == Field::any && term.needle.foundIn(candidate.fileName))
        return true;
    if (!record)
        return false;
    const auto setting = [&](Setting which) { return settings->value(which); };
    const auto settingHolds = [&](Setting which) {
        const auto value = setting(which);
        return value && term.needle.foundIn(*value);
    };
    switch (term.field) {
    case Field::any:
        return term.needle.foundIn(record->prompt) || term.needle.foundIn(record->negativePrompt)
            || settingHolds(Setting::model) || settingHolds(Setting::sampler) || anyLoraHolds(*record, term.needle);
    case Field::prompt:
        return term.needle.foundIn(record->prompt);
    case Field::negativePrompt:
        return term.needle.foundIn(record->negativePrompt);
    case Field::generator:
        return term.needle.foundIn(record->generator);
    case Field::lora:
        return anyLoraHolds(*record, term.needle);
    case Field::model:
    case Field::sampler:
    case Field::size:
        return settingHolds(*settingOf(term.field));
    case Field::seed:
    case Field::steps:
    case Field::cfg:
        return compares(term, setting(*settingOf(term.field)));
    case Field::file:
    case Field::tag:
        break;
    }
    return false;
}

// Whether every image `term` lets through is one `earlier` lets through too.
bool implies(const QueryTerm& term, const QueryTerm& earlier)
{
    if (term.field != earlier.field || term.excluded != earlier.excluded)
        return false;
    if (term.field == Field::tag)
        return term.excluded ? (earlier.tags & ~term.tags) == 0 : (term.tags & ~earlier.tags) == 0;
    if (isNumeric(term.field)) {
        if (term.comparison != earlier.comparison || term.number.whole.has_value() != earlier.number.whole.has_value())
            return false;
        const int order = compareNumbers(term.number, earlier.number); // >31 narrows >3, <3 narrows <30
        switch (term.comparison) {
        case Comparison::equal:
            return order == 0;
        case Comparison::greater:
        case Comparison::greaterOrEqual:
            return order >= 0;
        case Comparison::less:
        case Comparison::lessOrEqual:
            return order <= 0;
        }
        return false;
    }
    return term.excluded ? term.needle.foundIn(earlier.needle) : earlier.needle.foundIn(term.needle);
}

} // namespace

std::optional<ImageQuery> ImageQuery::parse(const QString& text, QueryError* error)
{
    QueryError fault;
    auto terms = readQueryTerms(text, fault);
    if (!terms) {
        if (error)
            *error = fault;
        return std::nullopt;
    }
    ImageQuery query;
    if (terms->isEmpty())
        return query;
    auto parsed = std::make_shared<Terms>();
    for (const QueryTerm& term : *terms) {
        parsed->needsTags |= term.field == Field::tag;
        parsed->needsRecords |= term.field != Field::tag && term.field != Field::file;
        if (term.field == Field::any)
            parsed->settings |= (1u << static_cast<int>(Setting::model)) | (1u << static_cast<int>(Setting::sampler));
        else if (auto setting = settingOf(term.field))
            parsed->settings |= 1u << static_cast<int>(*setting);
    }
    parsed->terms = std::move(*terms);
    query.m_terms = std::move(parsed);
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
    return m_terms && m_terms->needsTags;
}

bool ImageQuery::needsRecords() const
{
    return m_terms && m_terms->needsRecords;
}

bool ImageQuery::matches(const QueryCandidate& candidate) const
{
    if (!m_terms)
        return true;
    std::optional<SettingValues> settings;
    if (candidate.record)
        settings.emplace(*candidate.record, m_terms->settings);
    for (const QueryTerm& term : m_terms->terms)
        if (holds(term, candidate, settings) == term.excluded)
            return false;
    return true;
}

bool ImageQuery::narrows(const ImageQuery& earlier) const
{
    if (!earlier.m_terms)
        return true;
    if (!m_terms)
        return false;
    for (const QueryTerm& before : earlier.m_terms->terms) {
        const bool kept = std::any_of(m_terms->terms.begin(), m_terms->terms.end(),
            [&before](const QueryTerm& term) { return implies(term, before); });
        if (!kept)
            return false;
    }
    return true;
}

} // namespace limnoscope
