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

struct SignedMagnitude {
    bool negative = false;
    std::uint64_t magnitude = 0;
};

// An optional "+" or "-", then ASCII digits whose value fits 64 bits.
std::optional<SignedMagnitude> signedMagnitude(QStringView text)
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
    return SignedMagnitude { negative, *magnitude };
}

} // namespace

std::optional<std::int64_t> parseInt64(QStringView text)
{
    const auto number = signedMagnitude(text);
    if (!number)
        return std::nullopt;
    constexpr auto maxPositive = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
    if (number->negative) {
        if (number->magnitude > maxPositive + 1)
            return std::nullopt;
        return static_cast<std::int64_t>(0 - number->magnitude);
    }
    if (number->magnitude > maxPositive)
        return std::nullopt;
    return static_cast<std::int64_t>(number->magnitude);
}

std::optional<std::uint64_t> parseUInt64(QStringView text)
{
    const auto number = signedMagnitude(text);
    if (!number || (number->negative && number->magnitude != 0))
        return std::nullopt;
    return number->magnitude;
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

    const char* begin = bytes.constData();
    const char* end = begin + bytes.size();
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
