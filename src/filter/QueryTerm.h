#pragma once

#include "FinderTag.h"
#include "FoldedNeedle.h"

#include <QStringView>

#include <cstddef>
#include <cstdint>
#include <optional>

namespace limnoscope {

// The parts of a parsed image query, shared by its reader and its matcher.

// Where a term looks. `any` is a plain word or phrase.
enum class Field { any, file, prompt, negativePrompt, model, lora, sampler, seed, steps, size, cfg, generator, tag };

enum class Comparison { equal, less, lessOrEqual, greater, greaterOrEqual };

// The settings a term may read, by their index in settingKeys.
enum class Setting { model, sampler, seed, steps, size, cfg };
constexpr std::size_t settingCount = 6;

[[nodiscard]] bool isNumeric(Field field);
// The setting a field reads, or nothing for a field that reads no setting.
[[nodiscard]] std::optional<Setting> settingOf(Field field);

// A number to compare with: a whole one is compared exactly (seeds run past what a double holds
// exactly), any other as a double.
struct Number {
    std::optional<std::int64_t> whole;
    double value = 0;
};

// The number `text` spells, white space around it aside, or nothing.
[[nodiscard]] std::optional<Number> readNumber(QStringView text);
// -1, 0 or 1 as `a` is less than, equal to or greater than `b`.
[[nodiscard]] int compareNumbers(const Number& a, const Number& b);

[[nodiscard]] inline unsigned tagBit(FinderTag tag)
{
    return 1u << rawValue(tag);
}

// One term of the query: where it looks, what for, and whether it excludes.
struct QueryTerm {
    Field field = Field::any;
    bool excluded = false;
    FoldedNeedle needle;
    Comparison comparison = Comparison::equal;
    Number number;
    unsigned tags = 0; // tagBit of each colour tag a tag: term names
};

} // namespace limnoscope
