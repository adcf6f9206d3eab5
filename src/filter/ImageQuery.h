#pragma once

#include "FinderTag.h"
#include "LimnoraMetadata.h"

#include <QList>
#include <QString>
#include <QStringView>

#include <memory>
#include <optional>

namespace limnoscope {

// What one image offers a query: its record (null: the image holds no metadata), its file name
// and its colour tags (null: not read).
struct QueryCandidate {
    const LimnoraMetadata* record = nullptr;
    QStringView fileName;
    const QList<FinderTag>* tags = nullptr;
};

// Why a query text cannot be read: a message for the user, already localised, and where in the
// text the trouble starts.
struct QueryError {
    QString message;
    qsizetype position = 0;
};

// A search of a folder's images, parsed once from what the user typed and then matched against
// many images. Words match case-insensitively anywhere in the prompt, negative prompt, model,
// LoRA names, sampler and file name, and all must match; "quoted phrases" match as a whole;
// -word excludes; field terms (prompt:, neg:, model:, lora:, sampler:, seed:, steps:, size:,
// cfg:, generator:, tag:, file:) look in one place, and numeric fields take >N and <N. Immutable once
// parsed; matching is pure and thread-safe.
//
// An image without a record counts as one whose prompt, settings and LoRAs are all empty: a plain
// word then looks at its file name alone, a positive field term other than file: and tag: never
// matches it, and an excluded one (-model:xl) lets it through. Unread tags (null) count as none.
class ImageQuery
{
public:
    // The query of `text`, or nothing and (into `error`, when given) why it cannot be read. Empty
    // or blank text is the empty query, which matches every image.
    [[nodiscard]] static std::optional<ImageQuery> parse(const QString& text, QueryError* error = nullptr);

    ImageQuery();
    ~ImageQuery();
    ImageQuery(const ImageQuery&);
    ImageQuery& operator=(const ImageQuery&);

    [[nodiscard]] bool isEmpty() const;
    // Whether matching needs the images' colour tags (a tag: term).
    [[nodiscard]] bool needsTags() const;
    // Whether matching needs the images' records (any term but file: and tag: ones does).
    [[nodiscard]] bool needsRecords() const;

    [[nodiscard]] bool matches(const QueryCandidate& candidate) const;

    // Whether every image this query matches is one `earlier` matches too, as when the user types
    // on ("ligh" after "lig", a word added): the images `earlier` left out then need no look.
    [[nodiscard]] bool narrows(const ImageQuery& earlier) const;

private:
    struct Terms;
    std::shared_ptr<const Terms> m_terms;
};

} // namespace limnoscope
