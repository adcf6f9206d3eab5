#include "SettingsJSON.h"

#include "MetadataParser.h"
#include "NumberParsing.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace limnoscope {
namespace {

QJsonObject defaultSettings()
{
    return QJsonObject{
        {QStringLiteral("steps"), 20},
        {QStringLiteral("sampler"), 0},
        {QStringLiteral("guidanceScale"), 7.0},
        {QStringLiteral("seed"), 0},
        {QStringLiteral("width"), 512},
        {QStringLiteral("height"), 512},
        {QStringLiteral("model"), QString()},
        {QStringLiteral("strength"), 1.0},
        {QStringLiteral("shift"), 1.0},
        {QStringLiteral("seedMode"), 2},
        {QStringLiteral("batchSize"), 1},
        {QStringLiteral("batchCount"), 1},
        {QStringLiteral("sharpness"), 0.0},
        {QStringLiteral("maskBlur"), 1.5},
        {QStringLiteral("maskBlurOutset"), 0},
        {QStringLiteral("cfgZeroInitSteps"), 0},
        {QStringLiteral("cfgZeroStar"), false},
        {QStringLiteral("preserveOriginalAfterInpaint"), true},
        {QStringLiteral("resolutionDependentShift"), false},
        {QStringLiteral("causalInferencePad"), 0},
        {QStringLiteral("tiledDecoding"), false},
        {QStringLiteral("tiledDiffusion"), false},
        {QStringLiteral("hiresFix"), false},
        {QStringLiteral("upscaler"), QString()},
        {QStringLiteral("faceRestoration"), QString()},
        {QStringLiteral("refinerModel"), QString()},
        {QStringLiteral("loras"), QJsonArray()},
        {QStringLiteral("controls"), QJsonArray()},
        {QStringLiteral("stochasticSamplingGamma"), 0.0},
    };
}

} // namespace

std::optional<ImageSize> parseSizeSetting(const QString &value)
{
    const QStringList parts = value.split(u'x');
    if (parts.size() != 2)
        return std::nullopt;
    const auto width = parseInt64(trimSpacesAndTabs(parts[0]));
    const auto height = parseInt64(trimSpacesAndTabs(parts[1]));
    if (!width || !height)
        return std::nullopt;
    return ImageSize{*width, *height};
}

QString settingsJSONString(const LimnoraMetadata &record)
{
    QJsonObject document = defaultSettings();
    const SettingsMap &settings = record.settings;

    const auto takeInteger = [&](const char *key, const char *member) {
        if (const auto value = settings.value(QLatin1String(key))) {
            if (const auto number = parseInt64(*value))
                document.insert(QLatin1String(member), qint64(*number));
        }
    };
    const auto takeNumber = [&](const char *key, const char *member) {
        if (const auto value = settings.value(QLatin1String(key))) {
            if (const auto number = parseDouble(*value))
                document.insert(QLatin1String(member), *number);
        }
    };
    const auto takeString = [&](const char *key, const char *member) {
        if (const auto value = settings.value(QLatin1String(key)))
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

    if (const auto size = settings.value(QStringLiteral("Size"))) {
        if (const auto parsed = parseSizeSetting(*size)) {
            document.insert(QStringLiteral("width"), qint64(parsed->width));
            document.insert(QStringLiteral("height"), qint64(parsed->height));
        }
    }
    if (const auto sampler = settings.value(QStringLiteral("Sampler")))
        document.insert(QStringLiteral("sampler"), samplerIndex(*sampler));
    if (const auto seedMode = settings.value(QStringLiteral("Seed Mode")))
        document.insert(QStringLiteral("seedMode"), seedModeIndex(*seedMode).value_or(2));
    if (const auto hiresFix = settings.value(QStringLiteral("Hires Fix")))
        document.insert(QStringLiteral("hiresFix"), hiresFix->toLower() == QLatin1String("true"));

    QJsonArray loras;
    for (const LoraEntry &lora : record.loras) {
        loras.append(QJsonObject{
            {QStringLiteral("file"), lora.file},
            {QStringLiteral("weight"), lora.weight},
            {QStringLiteral("mode"), lora.mode},
        });
    }
    document.insert(QStringLiteral("loras"), loras);

    const QByteArray json = QJsonDocument(document).toJson(QJsonDocument::Indented);
    if (json.isEmpty())
        return QStringLiteral("{}");
    return QString::fromUtf8(json);
}

} // namespace limnoscope
