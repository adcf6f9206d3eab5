#pragma once

#include "LimnoraMetadata.h"
#include "SettingsReader.h"

#include <QString>

namespace limnoscope {

// The complete set of generation parameters as a pretty-printed JSON document with sorted
// keys: fixed defaults, replaced by every value the record supplies. Pure; "{}" on failure.
[[nodiscard]] QString settingsJSONString(const LimnoraMetadata& record);

} // namespace limnoscope
