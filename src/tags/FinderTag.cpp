#include "FinderTag.h"

#include <QCoreApplication>

namespace limnoscope {
namespace {

struct TagInfo {
    const char* attributeName;
    int labelNumber;
    const char* localizationKey;
    QRgb color;
};

// Indexed by raw value - 1. Colours are the desktop's standard system colours of those names.
constexpr std::array<TagInfo, 7> tagTable { {
    { "Red", 6, "tag_red", 0xffff3b30 },
    { "Orange", 7, "tag_orange", 0xffff9500 },
    { "Yellow", 5, "tag_yellow", 0xffffcc00 },
    { "Green", 2, "tag_green", 0xff28cd41 },
    { "Blue", 4, "tag_blue", 0xff007aff },
    { "Purple", 3, "tag_purple", 0xffaf52de },
    { "Gray", 1, "tag_gray", 0xff8e8e93 },
} };

const TagInfo& info(FinderTag tag)
{
    return tagTable[static_cast<std::size_t>(rawValue(tag) - 1)];
}

} // namespace

std::optional<FinderTag> finderTagFromRawValue(int rawValue)
{
    if (rawValue < 1 || rawValue > static_cast<int>(tagTable.size()))
        return std::nullopt;
    return static_cast<FinderTag>(rawValue);
}

QString attributeName(FinderTag tag)
{
    return QLatin1String(info(tag).attributeName);
}

int labelNumber(FinderTag tag)
{
    return info(tag).labelNumber;
}

QString attributeEntry(FinderTag tag)
{
    return attributeName(tag) + u'\n' + QString::number(labelNumber(tag));
}

QString localizationKey(FinderTag tag)
{
    return QLatin1String(info(tag).localizationKey);
}

QString localizedName(FinderTag tag)
{
    return qtTrId(info(tag).localizationKey);
}

QString shortcutDigit(FinderTag tag)
{
    return QString::number(rawValue(tag));
}

QColor tagColor(FinderTag tag)
{
    return QColor::fromRgba(info(tag).color);
}

} // namespace limnoscope
