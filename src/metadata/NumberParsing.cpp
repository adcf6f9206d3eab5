#include "NumberParsing.h"

#include <QByteArray>

#include <charconv>
#include <cmath>
#include <limits>

namespace limnoscope {
namespace {

bool isAsciiDigits(QStringView text)
{
    if (text.isEmpty())
        return false;
    for (QChar c : text) {
        if (c < u'0' || c > u'9')
            return false;
    }
    return true;
}

// Digits only, already checked: the conversion cannot meet anything else.
std::optional<std::uint64_t> digitsToUInt64(QStringView digits)
{
    std::uint64_t value = 0;
    for (QChar c : digits) {
        const auto digit = static_cast<std::uint64_t>(c.unicode() - u'0');
        if (value > (std::numeric_limits<std::uint64_t>::max() - digit) / 10)
            return std::nullopt;
        value = value * 10 + digit;
    }
    return value;
}

} // namespace

std::optional<std::int64_t> parseInt64(QStringView text)
{
    bool negative = false;
    if (!text.isEmpty() && (text.front() == u'+' || text.front() == u'-')) {
        negative = text.front() == u'-';
        text = text.mid(1);
    }
    if (!isAsciiDigits(text))
        return std::nullopt;
    const auto magnitude = digitsToUInt64(text);
    if (!magnitude)
        return std::nullopt;
    constexpr auto maxPositive = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
    if (negative) {
        if (*magnitude > maxPositive + 1)
            return std::nullopt;
        return static_cast<std::int64_t>(0 - *magnitude);
    }
    if (*magnitude > maxPositive)
        return std::nullopt;
    return static_cast<std::int64_t>(*magnitude);
}

std::optional<std::uint64_t> parseUInt64(QStringView text)
{
    bool negative = false;
    if (!text.isEmpty() && (text.front() == u'+' || text.front() == u'-')) {
        negative = text.front() == u'-';
        text = text.mid(1);
    }
    if (!isAsciiDigits(text))
        return std::nullopt;
    const auto value = digitsToUInt64(text);
    if (negative && value && *value != 0)
        return std::nullopt;
    return value;
}

std::optional<double> parseDouble(QStringView text)
{
    if (text.isEmpty() || text.size() > 4096)
        return std::nullopt;
    QByteArray bytes;
    bytes.reserve(text.size());
    for (QChar c : text) {
        if (c.unicode() > 0x7f)
            return std::nullopt;
        bytes.append(char(c.unicode()));
    }

    const char *begin = bytes.constData();
    const char *end = begin + bytes.size();
    bool negative = false;
    if (*begin == '+' || *begin == '-') {
        negative = *begin == '-';
        ++begin;
    }
    if (begin == end || *begin == '+' || *begin == '-')
        return std::nullopt;

    auto format = std::chars_format::general;
    if (end - begin > 2 && begin[0] == '0' && (begin[1] == 'x' || begin[1] == 'X')) {
        format = std::chars_format::hex;
        begin += 2;
    }
    double value = 0;
    const auto [last, error] = std::from_chars(begin, end, value, format);
    if (error != std::errc() || last != end || !std::isfinite(value))
        return std::nullopt;
    return negative ? -value : value;
}

} // namespace limnoscope
