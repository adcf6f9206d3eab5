#pragma once

#include "LimnoraMetadata.h"

#include <QColor>
#include <QList>
#include <QString>

#include <optional>

namespace limnoscope {

// The comparison of two images' records behind the Compare view: a word-level diff of two texts
// and the rows of the settings table. Pure; any thread.

// A word of a word diff: in both texts, only in the left one, or only in the right one.
struct DiffWord {
    enum class Kind { same, removed, added };
    QString word;
    Kind kind = Kind::same;
    bool operator==(const DiffWord&) const = default;
};

// The words (split at white space) of `left` and `right` merged by their longest common
// subsequence: what both hold in order as `same`, the rest as `removed` (left) or `added` (right),
// each removal before the addition it stands beside.
[[nodiscard]] QList<DiffWord> wordDiff(const QString& left, const QString& right);

// One side of a word diff as rich text: the left side shows its removed words struck through on
// `tint`, the right side its added words underlined on `tint`; every word HTML-escaped.
enum class DiffSide { left, right };
[[nodiscard]] QString diffHTML(const QList<DiffWord>& words, DiffSide side, const QColor& tint);

// One row of the settings table. `key` is the setting key for `setting` rows. A side without the
// value (or without a record) has none; values that differ, or a value on one side only, make
// the row differ.
struct ComparisonRow {
    enum class Kind { setting, generator, loras, renderTime };
    Kind kind = Kind::setting;
    QString key;
    std::optional<QString> left;
    std::optional<QString> right;
    bool differs = false;
    bool operator==(const ComparisonRow&) const = default;
};

// The rows for two records: every setting key either holds (the catalogue order first, then the
// left record's other keys, then the right one's), then the generator, the LoRAs ("file:weight"
// joined by ", ") and the render time where either record has them. No record gives no values.
[[nodiscard]] QList<ComparisonRow> settingsComparison(
    const std::optional<LimnoraMetadata>& left, const std::optional<LimnoraMetadata>& right);

} // namespace limnoscope
