#pragma once

#include "LimnoraMetadata.h"
#include "MetadataParser.h"
#include "NumberParsing.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

namespace limnoscope {

// Width and height from a "Size" value such as "768x1024" (parts trimmed of spaces and tabs).
struct ImageSize {
    std::int64_t width = 0;
    std::int64_t height = 0;
};

[[nodiscard]] inline std::optional<ImageSize> parseSizeSetting(const QString& value)
{
    const QStringList parts = value.split(u'x');
    if (parts.size() != 2)
        return std::nullopt;
    const auto width = parseInt64(trimSpacesAndTabs(parts[0]));
    const auto height = parseInt64(trimSpacesAndTabs(parts[1]));
    if (!width || !height)
        return std::nullopt;
    return ImageSize { *width, *height };
}

// Typed readings of a record's settings, the one reader of every writer that turns a record into
// another format (the settings document, the request body): a value is there only when the
// setting is present and its text reads as the type asked for. Pure; any thread; refers to the
// settings it was given, which must outlive it.
class SettingsReader
{
public:
    explicit SettingsReader(const SettingsMap& settings)
        : m_settings(settings)
    {
    }

    [[nodiscard]] std::optional<QString> text(const char* key) const { return m_settings.value(QLatin1String(key)); }
    [[nodiscard]] std::optional<std::int64_t> integer(const char* key) const
    {
        const std::optional<QString> value = text(key);
        return value ? parseInt64(*value) : std::nullopt;
    }
    [[nodiscard]] std::optional<std::uint64_t> unsignedInteger(const char* key) const
    {
        const std::optional<QString> value = text(key);
        return value ? parseUInt64(*value) : std::nullopt;
    }
    [[nodiscard]] std::optional<double> number(const char* key) const
    {
        const std::optional<QString> value = text(key);
        return value ? parseDouble(*value) : std::nullopt;
    }
    // The width and height of the "Size" setting.
    [[nodiscard]] std::optional<ImageSize> size() const
    {
        const std::optional<QString> value = text("Size");
        return value ? parseSizeSetting(*value) : std::nullopt;
    }

private:
    const SettingsMap& m_settings;
};

} // namespace limnoscope
