#pragma once

#include <QString>
#include <QStringView>

#include <array>

namespace limnoscope {

// A text to look for case-insensitively in many others, folded once. A search allocates
// nothing: it looks for the first two letters in any of their cases, eight places at a time
// where the processor allows, and compares the rest folded unit by unit there.
class FoldedNeedle
{
public:
    FoldedNeedle() = default;
    explicit FoldedNeedle(const QString& text);

    [[nodiscard]] bool foundIn(QStringView haystack) const;
    [[nodiscard]] bool isEmpty() const { return m_folded.isEmpty(); }
    // Whether every text holding `other` holds this needle too.
    [[nodiscard]] bool foundIn(const FoldedNeedle& other) const { return other.m_folded.contains(m_folded); }
    // Whether `text`, folded, is the needle exactly.
    [[nodiscard]] bool equals(QStringView text) const;

private:
    // Whether the needle is at `place`, whose first unit is known to be the first letter.
    [[nodiscard]] bool matchesAt(const char16_t* place) const;

    QString m_folded;
    // The UTF-16 units that fold to the needle's first and second one, the folded one first.
    std::array<char16_t, 4> m_firstUnits {};
    int m_firstUnitCount = 0;
    std::array<char16_t, 4> m_secondUnits {};
    int m_secondUnitCount = 0;
};

} // namespace limnoscope
