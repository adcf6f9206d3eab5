#pragma once

#include "LimnoraMetadata.h"

#include <QString>

#include <cstdint>
#include <optional>

namespace limnoscope {

// Turns Limnora's metadata text (prompt, optional "-" negative prompt, "Steps: " settings line)
// into a record. Pure and total: every text gives a record. Safe on any thread.

[[nodiscard]] LimnoraMetadata parseMetadataText(const QString& text);

// Replaces the XML entities Limnora's text may still carry, in a fixed order.
[[nodiscard]] QString decodeXMLEntities(QString text);

// Fills `settings` and `loras` of `record` from a settings line.
void parseSettingsText(const QString& settingsLine, LimnoraMetadata& record);

// The comma-separated segments of a settings line: a comma splits only where the next
// non-space character is an upper-case letter, so values such as "a, b" stay whole.
[[nodiscard]] QStringList settingsSegments(const QString& settingsLine);

enum class LoraKeyPart { File, Weight };
struct LoraKey {
    std::int64_t number = 0;
    LoraKeyPart part = LoraKeyPart::File;
    bool operator==(const LoraKey&) const = default;
};

// "LoRA 2 Model" gives (2, file), "lora weight" gives (0, weight); anything else nothing.
[[nodiscard]] std::optional<LoraKey> parseLoraKey(const QString& key);

// A text from the batch reader may end in the render-time marker and a number of seconds.
struct MarkedText {
    QString text;
    std::optional<double> renderDuration;
};
[[nodiscard]] MarkedText splitRenderTimeMarker(const QString& text);

// Parses a batch text: the marker split off, the rest parsed, the render time stored.
[[nodiscard]] LimnoraMetadata parseMarkedMetadataText(const QString& text);

// The render time Limnora keeps in an image's user comment: the number at "profile"/"duration"
// of the comment's JSON object; nothing for any other comment.
[[nodiscard]] std::optional<double> renderDurationOfUserComment(const QString& comment);

// The marker the batch reader appends before the render time.
inline const QString renderTimeMarker = QStringLiteral("\n__duration__:");

// Trims only spaces and tabs at both ends, as settings keys and values are.
[[nodiscard]] QString trimSpacesAndTabs(QStringView text);

} // namespace limnoscope
