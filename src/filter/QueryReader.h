#pragma once

#include "ImageQuery.h"
#include "QueryTerm.h"

#include <QList>
#include <QString>

#include <optional>

namespace limnoscope {

// The terms of a query text in the order written, or nothing and (into `error`) why it cannot be
// read: an unknown field, an unclosed quotation mark, a comparison on a text field or of no
// number, an empty field value, a "-" alone, an unknown colour tag.
[[nodiscard]] std::optional<QList<QueryTerm>> readQueryTerms(const QString& text, QueryError& error);

} // namespace limnoscope
