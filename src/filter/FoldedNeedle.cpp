#include "FoldedNeedle.h"

#include <algorithm>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace limnoscope {
namespace {

// Case folding of one UTF-16 unit; ASCII, by far the most common, without a table look-up.
inline char16_t folded(char16_t unit)
{
    if (unit < 0x80)
        return (unit >= u'A' && unit <= u'Z') ? char16_t(unit + 0x20) : unit;
    return QChar::toCaseFolded(unit);
}

// The UTF-16 units that fold to `unit` (itself first) into `units`; how many.
int unitsFoldingTo(char16_t unit, std::array<char16_t, 4>& units)
{
    int count = 0;
    // Its other cases, and the two letters outside ASCII that fold into ASCII ones: the Kelvin sign and the long s.
    const char32_t upper = QChar::toUpper(char32_t(unit)), title = QChar::toTitleCase(char32_t(unit));
    for (const char32_t candidate : { char32_t(unit), upper, title, U'\u212A', U'\u017F' }) {
        if (candidate > 0xFFFF || folded(char16_t(candidate)) != unit || count == static_cast<int>(units.size())
            || std::find(units.begin(), units.begin() + count, char16_t(candidate)) != units.begin() + count)
            continue;
        units[static_cast<std::size_t>(count++)] = char16_t(candidate);
    }
    return count;
}

} // namespace

FoldedNeedle::FoldedNeedle(const QString& text)
{
    m_folded.reserve(text.size());
    for (const QChar unit : text)
        m_folded.append(QChar(folded(unit.unicode())));
    if (m_folded.isEmpty())
        return;
    m_firstUnitCount = unitsFoldingTo(m_folded[0].unicode(), m_firstUnits);
    if (m_folded.size() > 1)
        m_secondUnitCount = unitsFoldingTo(m_folded[1].unicode(), m_secondUnits);
}

bool FoldedNeedle::equals(QStringView text) const
{
    if (text.size() != m_folded.size())
        return false;
    const auto* needle = reinterpret_cast<const char16_t*>(m_folded.constData());
    for (qsizetype i = 0; i < text.size(); ++i)
        if (folded(text[i].unicode()) != needle[i])
            return false;
    return true;
}

bool FoldedNeedle::foundIn(QStringView haystack) const
{
    const qsizetype length = m_folded.size();
    if (length == 0)
        return true;
    const qsizetype last = haystack.size() - length; // the last place the needle can start
    const char16_t* text = haystack.utf16();
    qsizetype at = 0;
#if defined(__SSE2__)
    // Eight places at a time: those whose unit is the first letter in one of its cases and whose
    // next unit is the second, so that common first letters leave few places to compare.
    if (length >= 2) {
        __m128i first[4], second[4];
        for (int i = 0; i < m_firstUnitCount; ++i)
            first[i] = _mm_set1_epi16(static_cast<short>(m_firstUnits[static_cast<std::size_t>(i)]));
        for (int i = 0; i < m_secondUnitCount; ++i)
            second[i] = _mm_set1_epi16(static_cast<short>(m_secondUnits[static_cast<std::size_t>(i)]));
        for (; at + 8 <= last + 1; at += 8) {
            const __m128i here = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + at));
            const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + at + 1));
            __m128i firstHits = _mm_cmpeq_epi16(here, first[0]);
            for (int i = 1; i < m_firstUnitCount; ++i)
                firstHits = _mm_or_si128(firstHits, _mm_cmpeq_epi16(here, first[i]));
            __m128i secondHits = _mm_cmpeq_epi16(next, second[0]);
            for (int i = 1; i < m_secondUnitCount; ++i)
                secondHits = _mm_or_si128(secondHits, _mm_cmpeq_epi16(next, second[i]));
            for (auto mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_and_si128(firstHits, secondHits))); mask;
                 mask &= mask - 1, mask &= mask - 1) {
                if (matchesAt(text + at + __builtin_ctz(mask) / 2))
                    return true;
            }
        }
    }
#endif
    for (; at <= last; ++at) {
        const char16_t unit = text[at];
        for (int i = 0; i < m_firstUnitCount; ++i)
            if (unit == m_firstUnits[static_cast<std::size_t>(i)] && matchesAt(text + at))
                return true;
    }
    return false;
}

bool FoldedNeedle::matchesAt(const char16_t* place) const
{
    const auto* needle = reinterpret_cast<const char16_t*>(m_folded.constData());
    for (qsizetype i = 1; i < m_folded.size(); ++i)
        if (folded(place[i]) != needle[i])
            return false;
    return true;
}

} // namespace limnoscope
