#pragma once

#include <QColor>
#include <QString>

#include <array>
#include <optional>

namespace limnoscope {

// The seven colour tags of the desktop file manager. The raw values are the Tags menu's
// shortcut digits; the attribute names and label numbers are part of the stored format.
// Plain values, usable on any thread.
enum class FinderTag {
    red = 1,
    orange = 2,
    yellow = 3,
    green = 4,
    blue = 5,
    purple = 6,
    gray = 7,
};

// All tags in menu order, which is also the order in which an entry is matched against them.
inline constexpr std::array<FinderTag, 7> allFinderTags { FinderTag::red, FinderTag::orange, FinderTag::yellow,
    FinderTag::green, FinderTag::blue, FinderTag::purple, FinderTag::gray };

// The tag with this raw value (1 to 7), or nothing.
[[nodiscard]] std::optional<FinderTag> finderTagFromRawValue(int rawValue);

[[nodiscard]] constexpr int rawValue(FinderTag tag)
{
    return static_cast<int>(tag);
}

// The tag's name as stored in the attribute ("Red"); fixed English, never translated.
[[nodiscard]] QString attributeName(FinderTag tag);

// The file manager's own colour label number (red 6, ... gray 1); not the raw value.
[[nodiscard]] int labelNumber(FinderTag tag);

// The stored entry: name, line feed, label number ("Red\n6").
[[nodiscard]] QString attributeEntry(FinderTag tag);

// The localisation key of the shown name ("tag_red").
[[nodiscard]] QString localizationKey(FinderTag tag);

// The shown name: the text behind the localisation key.
[[nodiscard]] QString localizedName(FinderTag tag);

// The raw value as one decimal digit ("1" to "7").
[[nodiscard]] QString shortcutDigit(FinderTag tag);

// The system colour of that name, for the tag dots.
[[nodiscard]] QColor tagColor(FinderTag tag);

} // namespace limnoscope
