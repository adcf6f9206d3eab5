#pragma once

#include <QStringView>

#include <cstdint>
#include <optional>

namespace limnoscope {

// Strict, locale-independent number readers for values written in settings lines: the whole
// text must be the number, with no surrounding white space.

// An optional "+" or "-", then ASCII digits only; must fit a signed 64-bit integer.
[[nodiscard]] std::optional<std::int64_t> parseInt64(QStringView text);

// An optional "+", then ASCII digits only; must fit an unsigned 64-bit integer. "-0" (any
// number of zeros) reads as 0, the only negative spelling that fits.
[[nodiscard]] std::optional<std::uint64_t> parseUInt64(QStringView text);

// A finite floating-point number with a point as decimal separator: optional sign, digits with
// an optional fraction and exponent, or hexadecimal ("0x1.8p3"). Infinities, NaN and values
// out of range give nothing: they cannot be written into JSON or sent to a generator.
[[nodiscard]] std::optional<double> parseDouble(QStringView text);

} // namespace limnoscope
