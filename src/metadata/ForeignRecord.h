#pragma once

#include "LimnoraMetadata.h"

#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace limnoscope {

// Small pieces the readers of other generators' metadata share: how a model, a sampler, a size
// or a JSON value is written into the record. Pure; safe on any thread.

// The file name of a model or LoRA without its folders (both "/" and "\" separate folders);
// the extension is kept as written. "models/Stable-diffusion\\sd_xl.safetensors" gives
// "sd_xl.safetensors".
[[nodiscard]] QString modelFileName(const QString& pathOrName);

// A sampler and its scheduler joined as the generators show them: the scheduler follows the
// sampler after one space ("DPM++ 2M" + "Karras" gives "DPM++ 2M Karras"; ComfyUI's
// "dpmpp_2m" + "karras" gives "dpmpp_2m karras", its names kept as written). An empty
// scheduler, one that only names the default ("normal", "automatic", "default", any letter
// case), or one the sampler's name already ends with adds nothing.
[[nodiscard]] QString joinedSampler(const QString& sampler, const QString& scheduler);

// A JSON value as a setting's text: strings as they are, integral numbers without a fraction
// ("20", not "20.0"), other numbers in their shortest exact form ("7.5"), booleans as
// "true"/"false", null as empty, objects and arrays as compact JSON.
[[nodiscard]] QString jsonValueText(const QJsonValue& value);

// "WxH" from a width and a height as written ("512", "768" gives "512x768"); empty when
// either is empty.
[[nodiscard]] QString sizeText(const QString& width, const QString& height);

// Stores a setting in the record; a pair whose key or value is empty (after trimming white
// space) is left out, as a settings line never holds one.
void insertSetting(LimnoraMetadata& record, const QString& key, const QString& value);

// Appends a LoRA (its file name without folders, mode "all"); an empty name is left out.
void appendLora(LimnoraMetadata& record, const QString& pathOrName, double weight = 1.0);

// The JSON object a text holds, or nothing when the text (trimmed) is not one JSON object.
// The JSON parser refuses nesting deeper than its limit, so hostile texts end quickly.
[[nodiscard]] std::optional<QJsonObject> jsonObject(const QString& text);

// The keys of a JSON text's outermost object in the order the text writes them (a parsed
// QJsonObject sorts them), or, with `parentKey`, the keys of the object that outermost key
// holds. Scans the text once without recursion; empty when the text is not such an object.
[[nodiscard]] QStringList jsonKeysInOrder(QStringView json, const QString& parentKey = {});

// The first text whose source is `source` (compared without letter case), or nothing.
[[nodiscard]] std::optional<QString> rawTextFrom(const QList<RawText>& texts, const QString& source);

} // namespace limnoscope
