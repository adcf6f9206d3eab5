#pragma once

#include "LimnoraMetadata.h"

#include <QString>

namespace limnoscope {

// The complete set of generation parameters as a pretty-printed JSON document with sorted
// keys: fixed defaults, replaced by every value the record supplies. Pure; "{}" on failure.
[[nodiscard]] QString settingsJSONString(const LimnoraMetadata &record);

// Width and height from a "Size" value such as "768x1024" (parts trimmed of spaces and tabs).
struct ImageSize {
    std::int64_t width = 0;
    std::int64_t height = 0;
};
[[nodiscard]] std::optional<ImageSize> parseSizeSetting(const QString &value);

} // namespace limnoscope
