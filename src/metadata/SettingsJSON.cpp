#include "SettingsJSON.h"

#include "MetadataParser.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace limnoscope {
namespace {

QJsonObject defaultSettings()
{
    return QJsonObject {
        { QStringLiteral("steps"), 20 },
        { QStringLiteral("sampler"), 0 },
        { QStringLiteral("guidanceScale"), 7.0 },
        { QStringLiteral("seed"), 0 },
        { QStringLiteral("width"), 512 },
        { QStringLiteral("height"), 512 },
        { QStringLiteral("model"), QString() },
        { QStringLiteral("strength"), 1.0 },
        { QStringLiteral("shift"), 1.0 },
        { QStringLiteral("seedMode"), 2 },
        { QStringLiteral("batchSize"), 1 },
        { QStringLiteral("batchCount"), 1 },
        { QStringLiteral("sharpness"), 0.0 },
        { QStringLiteral("maskBlur"), 1.5 },
        { QStringLiteral("maskBlurOutset"), 0 },
        { QStringLiteral("cfgZeroInitSteps"), 0 },
        { QStringLiteral("cfgZeroStar"), false },
        { QStringLiteral("preserveOriginalAfterInpaint"), true },
        { QStringLiteral("resolutionDependentShift"), false },
        { QStringLiteral("causalInferencePad"), 0 },
        { QStringLiteral("tiledDecoding"), false },
        { QStringLiteral("tiledDiffusion"), false },
        { QStringLiteral("hiresFix"), false },
        { QStringLiteral("upscaler"), QString() },
        { QStringLiteral("faceRestoration"), QString() },
        { QStringLiteral("refinerModel"), QString() },
        { QStringLiteral("loras"), QJsonArray() },
        { QStringLiteral("controls"), QJsonArray() },
        { QStringLiteral("stochasticSamplingGamma"), 0.0 },
    };
}

} // namespace

QString settingsJSONString(const LimnoraMetadata& record)
{
    QJsonObject document = defaultSettings();
    const SettingsReader settings(record.settings);

    const auto takeInteger = [&](const char* key, const char* member) {
        if (const auto number = settings.integer(key))
            document.insert(QLatin1String(member), qint64(*number));
    };
    const auto takeNumber = [&](const char* key, const char* member) {
        if (const auto number = settings.number(key))
            document.insert(QLatin1String(member), *number);
    };
    const auto takeString = [&](const char* key, const char* member) {
        if (const auto value = settings.text(key))
            document.insert(QLatin1String(member), *value);
    };

    takeInteger("Steps", "steps");
    takeInteger("Seed", "seed");
    takeInteger("Batch Size", "batchSize");
    takeInteger("Batch Count", "batchCount");
    takeNumber("Guidance Scale", "guidanceScale");
    takeNumber("Strength", "strength");
    takeNumber("Shift", "shift");
    takeNumber("Sharpness", "sharpness");
    takeNumber("Strategic Stochastic Sampling", "stochasticSamplingGamma");
    takeString("Model", "model");
    takeString("Upscaler", "upscaler");
    takeString("Refiner Model", "refinerModel");

    if (const auto size = settings.size()) {
        document.insert(QStringLiteral("width"), qint64(size->width));
        document.insert(QStringLiteral("height"), qint64(size->height));
    }
    if (const auto sampler = settings.text("Sampler"))
        document.insert(QStringLiteral("sampler"), samplerIndex(*sampler));
    if (const auto seedMode = settings.text("Seed Mode"))
        document.insert(QStringLiteral("seedMode"), seedModeIndex(*seedMode).value_or(2));
    if (const auto hiresFix = settings.text("Hires Fix"))
        document.insert(QStringLiteral("hiresFix"), hiresFix->toLower() == QLatin1String("true"));

    QJsonArray loras;
    for (const LoraEntry& lora : record.loras) {
        loras.append(QJsonObject {
            { QStringLiteral("file"), lora.file },
            { QStringLiteral("weight"), lora.weight },
            { QStringLiteral("mode"), lora.mode },
        });
    }
    document.insert(QStringLiteral("loras"), loras);

    const QByteArray json = QJsonDocument(document).toJson(QJsonDocument::Indented);
    if (json.isEmpty())
        return QStringLiteral("{}");
    return QString::fromUtf8(json);
}

} // namespace limnoscope
