#include "QueryTerm.h"

#include "NumberParsing.h"

namespace limnoscope {

bool isNumeric(Field field)
{
    return field == Field::seed || field == Field::steps || field == Field::cfg;
}

std::optional<Setting> settingOf(Field field)
{
    switch (field) {
    case Field::model:
        return Setting::model;
    case Field::sampler:
        return Setting::sampler;
    case Field::seed:
        return Setting::seed;
    case Field::steps:
        return Setting::steps;
    case Field::size:
        return Setting::size;
    case Field::cfg:
        return Setting::cfg;
    default:
        return std::nullopt;
    }
}

std::optional<Number> readNumber(QStringView text)
{
    text = text.trimmed();
    if (auto whole = parseInt64(text))
        return Number { whole, static_cast<double>(*whole) };
    if (auto value = parseDouble(text))
        return Number { std::nullopt, *value };
    return std::nullopt;
}

int compareNumbers(const Number& a, const Number& b)
{
    if (a.whole && b.whole)
        return *a.whole < *b.whole ? -1 : (*a.whole > *b.whole ? 1 : 0);
    return a.value < b.value ? -1 : (a.value > b.value ? 1 : 0);
}

} // namespace limnoscope
