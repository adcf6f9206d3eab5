// Fuzz target: the two writers of a parsed record, the text-to-image request body and the
// settings JSON document. The input is parsed as metadata text; its first eight bytes also
// give one extra LoRA weight as raw bits, so that infinities and NaN reach the writers.

#include "FuzzSupport.h"
#include "LimnoraAPI.h"
#include "MetadataParser.h"
#include "SettingsJSON.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>
#include <cstring>

using namespace limnoscope;

namespace {

QJsonObject parsedObject(const QByteArray& json)
{
    QJsonParseError error {};
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    FUZZ_CHECK(error.error == QJsonParseError::NoError);
    FUZZ_CHECK(document.isObject());
    return document.object();
}

void checkBody(const LimnoraMetadata& record)
{
    const QByteArray body = txt2imgBody(record);
    bool allWeightsFinite = true;
    for (const LoraEntry& lora : record.loras)
        allWeightsFinite = allWeightsFinite && std::isfinite(lora.weight);
    // Empty only for a number JSON cannot carry.
    FUZZ_CHECK(body.isEmpty() != allWeightsFinite);
    if (body.isEmpty())
        return;

    const QJsonObject object = parsedObject(body);
    FUZZ_CHECK(object.value(QLatin1String("prompt")).toString() == record.prompt);
    FUZZ_CHECK(object.value(QLatin1String("negative_prompt")).toString() == record.negativePrompt);
    FUZZ_CHECK(object.value(QLatin1String("seed_mode")).isString());
    const QJsonArray loras = object.value(QLatin1String("loras")).toArray();
    FUZZ_CHECK(loras.size() == record.loras.size());
    for (qsizetype i = 0; i < loras.size(); ++i) {
        FUZZ_CHECK(loras.at(i).toObject().size() == 3);
        FUZZ_CHECK(loras.at(i).toObject().value(QLatin1String("file")).toString() == record.loras.at(i).file);
    }
    FUZZ_CHECK(object.contains(QLatin1String("width")) == object.contains(QLatin1String("height")));
    FUZZ_CHECK(object.contains(QLatin1String("sampler")) == record.settings.contains(QStringLiteral("Sampler")));
}

void checkSettingsJSON(const LimnoraMetadata& record)
{
    const QString json = settingsJSONString(record);
    const QJsonObject object = parsedObject(json.toUtf8());
    // "{}" only when writing failed; the defaults alone fill a document.
    FUZZ_CHECK(!object.isEmpty() || json == QLatin1String("{}"));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    LimnoraMetadata record = parseMetadataText(fuzz::textOf(data, size));
    checkBody(record);
    checkSettingsJSON(record);

    if (size >= sizeof(double)) {
        LoraEntry extra;
        extra.file = QStringLiteral("extra.safetensors");
        std::memcpy(&extra.weight, data, sizeof(double));
        record.loras.append(extra);
        checkBody(record);
        checkSettingsJSON(record);
    }
    return 0;
}
