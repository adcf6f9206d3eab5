#include "ForeignMetadata.h"
#include "ForeignRecord.h"
#include "NumberParsing.h"

#include <QHash>
#include <QJsonArray>
#include <QRegularExpression>
#include <QSet>

namespace limnoscope {
namespace {

// The keys of `object` in the order its text wrote them (`order`), then any the order missed.
QStringList keysInOrder(const QJsonObject& object, const QStringList& order)
{
    QStringList keys;
    QSet<QString> seen;
    for (const QString& key : order) {
        if (object.contains(key) && !seen.contains(key)) {
            seen.insert(key);
            keys.append(key);
        }
    }
    for (const QString& key : object.keys()) {
        if (!seen.contains(key))
            keys.append(key);
    }
    return keys;
}

bool isEmptyContainer(const QJsonValue& value)
{
    return (value.isArray() && value.toArray().isEmpty()) || (value.isObject() && value.toObject().isEmpty());
}

// Walks an object's members in written order: a key in `names` goes into the record under its
// catalogue name, a key in `consumed` was taken elsewhere, every other member is carried through
// under its own name. Empty values are left out.
void insertMembers(LimnoraMetadata& record, const QJsonObject& object, const QStringList& order,
    const QHash<QString, QString>& names, const QSet<QString>& consumed)
{
    for (const QString& key : keysInOrder(object, order)) {
        if (consumed.contains(key))
            continue;
        const QJsonValue value = object.value(key);
        if (isEmptyContainer(value))
            continue;
        insertSetting(record, names.value(key, key), jsonValueText(value));
    }
}

// A model named by a string or by an object with "model_name" or "name" (InvokeAI).
QString modelNameOf(const QJsonValue& value)
{
    if (value.isObject()) {
        const QJsonObject model = value.toObject();
        return jsonValueText(model.contains(QStringLiteral("model_name")) ? model.value(QStringLiteral("model_name"))
                                                                          : model.value(QStringLiteral("name")));
    }
    return jsonValueText(value);
}

std::optional<double> weightOf(const QJsonValue& value)
{
    if (value.isDouble())
        return value.toDouble();
    if (value.isString())
        return parseDouble(value.toString().trimmed());
    return std::nullopt;
}

// InvokeAI's prompts put the negative prompt in square brackets: "a cat [blurry, dark]". The
// bracketed groups (outermost only) form the negative prompt, the rest the prompt.
void splitBracketedNegative(const QString& text, LimnoraMetadata& record)
{
    QString prompt;
    QStringList negatives;
    QString negative;
    qsizetype depth = 0;
    for (const QChar c : text) {
        if (c == u'[') {
            if (depth++ > 0)
                negative.append(c);
        } else if (c == u']' && depth > 0) {
            if (--depth > 0) {
                negative.append(c);
            } else {
                negatives.append(negative.trimmed());
                negative.clear();
            }
        } else if (depth > 0) {
            negative.append(c);
        } else {
            prompt.append(c);
        }
    }
    if (depth > 0)
        negatives.append(negative.trimmed());
    negatives.removeAll(QString());
    static const QRegularExpression spaceRuns(QStringLiteral("[ \\t]{2,}"));
    record.prompt = prompt.replace(spaceRuns, QStringLiteral(" ")).trimmed();
    // A prompt that ended before its bracketed negative keeps no dangling comma.
    while (record.prompt.endsWith(u','))
        record.prompt = record.prompt.chopped(1).trimmed();
    record.negativePrompt = negatives.join(QStringLiteral(", "));
}

LimnoraMetadata recordFor(const QString& generator)
{
    LimnoraMetadata record;
    record.generator = generator;
    return record;
}

// ---- InvokeAI ----

std::optional<LimnoraMetadata> readInvokeAIMetadata(const QString& text)
{
    const auto object = jsonObject(text);
    if (!object)
        return std::nullopt;
    LimnoraMetadata record = recordFor(QStringLiteral("InvokeAI"));
    record.prompt = jsonValueText(object->value(QStringLiteral("positive_prompt"))).trimmed();
    record.negativePrompt = jsonValueText(object->value(QStringLiteral("negative_prompt"))).trimmed();
    const QJsonValue model = object->value(QStringLiteral("model"));
    insertSetting(record, QStringLiteral("Model"), modelFileName(modelNameOf(model)));
    insertSetting(record, QStringLiteral("Sampler"), jsonValueText(object->value(QStringLiteral("scheduler"))));
    insertSetting(record, QStringLiteral("Size"),
        sizeText(jsonValueText(object->value(QStringLiteral("width"))),
            jsonValueText(object->value(QStringLiteral("height")))));
    for (const QJsonValue entry : object->value(QStringLiteral("loras")).toArray()) {
        const QJsonObject lora = entry.toObject();
        // Older versions name the LoRA under "lora", newer ones under "model".
        const QJsonValue name = lora.contains(QStringLiteral("lora")) ? lora.value(QStringLiteral("lora"))
                                                                      : lora.value(QStringLiteral("model"));
        appendLora(record, modelNameOf(name), weightOf(lora.value(QStringLiteral("weight"))).value_or(1.0));
    }
    static const QHash<QString, QString> names = {
        { QStringLiteral("steps"), QStringLiteral("Steps") },
        { QStringLiteral("cfg_scale"), QStringLiteral("Guidance Scale") },
        { QStringLiteral("seed"), QStringLiteral("Seed") },
        { QStringLiteral("strength"), QStringLiteral("Strength") },
        { QStringLiteral("clip_skip"), QStringLiteral("CLIP Skip") },
    };
    static const QSet<QString> consumed = {
        QStringLiteral("positive_prompt"),
        QStringLiteral("negative_prompt"),
        QStringLiteral("model"),
        QStringLiteral("scheduler"),
        QStringLiteral("width"),
        QStringLiteral("height"),
        QStringLiteral("loras"),
        QStringLiteral("vae"),
        QStringLiteral("refiner_model"),
    };
    insertMembers(record, *object, jsonKeysInOrder(text), names, consumed);
    insertSetting(record, QStringLiteral("VAE"), modelNameOf(object->value(QStringLiteral("vae"))));
    insertSetting(record, QStringLiteral("Refiner Model"),
        modelFileName(modelNameOf(object->value(QStringLiteral("refiner_model")))));
    return record;
}

std::optional<LimnoraMetadata> readInvokeAISDMetadata(const QString& text)
{
    const auto object = jsonObject(text);
    if (!object || !object->value(QStringLiteral("image")).isObject())
        return std::nullopt;
    const QJsonObject image = object->value(QStringLiteral("image")).toObject();
    LimnoraMetadata record = recordFor(QStringLiteral("InvokeAI"));

    // The prompt is a string or a list of weighted parts.
    const QJsonValue prompt = image.value(QStringLiteral("prompt"));
    QStringList parts;
    for (const QJsonValue part : prompt.toArray())
        parts.append(jsonValueText(part.toObject().value(QStringLiteral("prompt"))));
    splitBracketedNegative(prompt.isArray() ? parts.join(QStringLiteral(", ")) : jsonValueText(prompt), record);

    insertSetting(
        record, QStringLiteral("Model"), modelFileName(jsonValueText(object->value(QStringLiteral("model_weights")))));
    insertSetting(record, QStringLiteral("Size"),
        sizeText(
            jsonValueText(image.value(QStringLiteral("width"))), jsonValueText(image.value(QStringLiteral("height")))));
    static const QHash<QString, QString> names = {
        { QStringLiteral("sampler"), QStringLiteral("Sampler") },
        { QStringLiteral("steps"), QStringLiteral("Steps") },
        { QStringLiteral("cfg_scale"), QStringLiteral("Guidance Scale") },
        { QStringLiteral("seed"), QStringLiteral("Seed") },
        { QStringLiteral("strength"), QStringLiteral("Strength") },
        { QStringLiteral("hires_fix"), QStringLiteral("Hires Fix") },
    };
    insertMembers(record, image, jsonKeysInOrder(text, QStringLiteral("image")), names,
        { QStringLiteral("prompt"), QStringLiteral("width"), QStringLiteral("height") });
    insertMembers(
        record, *object, jsonKeysInOrder(text), {}, { QStringLiteral("image"), QStringLiteral("model_weights") });
    return record;
}

// The first InvokeAI command line: a quoted prompt, then switches ("-s 50 -S 12345 -W 512").
std::optional<LimnoraMetadata> readInvokeAIDream(const QString& text)
{
    const QString line = text.trimmed();
    QString prompt;
    QString options;
    if (line.startsWith(u'"')) {
        const qsizetype close = line.lastIndexOf(u'"');
        if (close <= 0)
            return std::nullopt;
        prompt = line.sliced(1, close - 1);
        options = line.sliced(close + 1);
    } else {
        static const QRegularExpression firstSwitch(QStringLiteral("(^|\\s)-{1,2}[A-Za-z]"));
        const auto match = firstSwitch.match(line);
        prompt = match.hasMatch() ? line.first(match.capturedStart()) : line;
        options = match.hasMatch() ? line.sliced(match.capturedStart()) : QString();
    }
    LimnoraMetadata record = recordFor(QStringLiteral("InvokeAI"));
    splitBracketedNegative(prompt, record);

    static const QHash<QString, QString> names = {
        { QStringLiteral("-s"), QStringLiteral("Steps") },
        { QStringLiteral("--steps"), QStringLiteral("Steps") },
        { QStringLiteral("-S"), QStringLiteral("Seed") },
        { QStringLiteral("--seed"), QStringLiteral("Seed") },
        { QStringLiteral("-C"), QStringLiteral("Guidance Scale") },
        { QStringLiteral("--cfg_scale"), QStringLiteral("Guidance Scale") },
        { QStringLiteral("-A"), QStringLiteral("Sampler") },
        { QStringLiteral("--sampler"), QStringLiteral("Sampler") },
        { QStringLiteral("-f"), QStringLiteral("Strength") },
        { QStringLiteral("--strength"), QStringLiteral("Strength") },
        { QStringLiteral("-m"), QStringLiteral("Model") },
        { QStringLiteral("--model"), QStringLiteral("Model") },
        { QStringLiteral("-G"), QStringLiteral("Face Restoration Strength") },
        { QStringLiteral("-cf"), QStringLiteral("CodeFormer Fidelity") },
        { QStringLiteral("-U"), QStringLiteral("Upscale") },
        { QStringLiteral("-I"), QStringLiteral("Init Image") },
        { QStringLiteral("-n"), QStringLiteral("Iterations") },
    };
    // "-s", "--steps": one or two hyphens and a letter; "-1" is a value.
    const auto isSwitch = [](QStringView token) {
        const qsizetype letter = token.startsWith(u"--") ? 2 : token.startsWith(u'-') ? 1 : -1;
        return letter > 0 && letter < token.size() && token[letter].isLetter();
    };
    QString width;
    QString height;
    QString currentSwitch;
    QStringList values;
    const auto flush = [&] {
        if (currentSwitch.isEmpty())
            return;
        const QString value = values.isEmpty() ? QStringLiteral("true") : values.join(u' ');
        if (currentSwitch == u"-W" || currentSwitch == u"--width")
            width = value;
        else if (currentSwitch == u"-H" || currentSwitch == u"--height")
            height = value;
        else
            insertSetting(record, names.value(currentSwitch, currentSwitch), value);
        values.clear();
    };
    for (const QString& token : options.split(u' ', Qt::SkipEmptyParts)) {
        if (isSwitch(token)) {
            flush();
            currentSwitch = token;
        } else if (!currentSwitch.isEmpty()) {
            values.append(token);
        }
    }
    flush();
    insertSetting(record, QStringLiteral("Size"), sizeText(width, height));
    if (record.settings.isEmpty())
        return std::nullopt;
    return record;
}

// ---- NovelAI ----

// The captions of a v4 prompt structure: {"caption": {"base_caption", "char_captions": [...]}}.
struct V4Captions {
    QString base;
    QStringList characters;
};

V4Captions v4Captions(const QJsonValue& value)
{
    const QJsonObject caption = value.toObject().value(QStringLiteral("caption")).toObject();
    V4Captions captions { jsonValueText(caption.value(QStringLiteral("base_caption"))).trimmed(), {} };
    for (const QJsonValue character : caption.value(QStringLiteral("char_captions")).toArray())
        captions.characters.append(jsonValueText(character.toObject().value(QStringLiteral("char_caption"))).trimmed());
    return captions;
}

} // namespace

std::optional<LimnoraMetadata> readSwarmUI(const QList<RawText>& texts)
{
    for (const RawText& raw : texts) {
        if (!raw.text.contains(QLatin1String("sui_image_params")))
            continue;
        const auto object = jsonObject(raw.text);
        if (!object || !object->value(QStringLiteral("sui_image_params")).isObject())
            continue;
        const QJsonObject params = object->value(QStringLiteral("sui_image_params")).toObject();
        LimnoraMetadata record = recordFor(QStringLiteral("SwarmUI"));
        record.prompt = jsonValueText(params.value(QStringLiteral("prompt"))).trimmed();
        record.negativePrompt = jsonValueText(params.value(QStringLiteral("negativeprompt"))).trimmed();
        insertSetting(
            record, QStringLiteral("Model"), modelFileName(jsonValueText(params.value(QStringLiteral("model")))));
        insertSetting(record, QStringLiteral("Sampler"),
            joinedSampler(jsonValueText(params.value(QStringLiteral("sampler"))),
                jsonValueText(params.value(QStringLiteral("scheduler")))));
        insertSetting(record, QStringLiteral("Size"),
            sizeText(jsonValueText(params.value(QStringLiteral("width"))),
                jsonValueText(params.value(QStringLiteral("height")))));
        const QJsonArray loras = params.value(QStringLiteral("loras")).toArray();
        const QJsonArray weights = params.value(QStringLiteral("loraweights")).toArray();
        for (qsizetype i = 0; i < loras.size(); ++i)
            appendLora(record, jsonValueText(loras.at(i)), weightOf(weights.at(i)).value_or(1.0));

        static const QHash<QString, QString> names = {
            { QStringLiteral("steps"), QStringLiteral("Steps") },
            { QStringLiteral("cfgscale"), QStringLiteral("Guidance Scale") },
            { QStringLiteral("seed"), QStringLiteral("Seed") },
            { QStringLiteral("initimagecreativity"), QStringLiteral("Strength") },
            { QStringLiteral("clipstopatlayer"), QStringLiteral("CLIP Skip") },
            { QStringLiteral("refinermodel"), QStringLiteral("Refiner Model") },
            { QStringLiteral("batchsize"), QStringLiteral("Batch Size") },
        };
        static const QSet<QString> consumed = {
            QStringLiteral("prompt"),
            QStringLiteral("negativeprompt"),
            QStringLiteral("model"),
            QStringLiteral("sampler"),
            QStringLiteral("scheduler"),
            QStringLiteral("width"),
            QStringLiteral("height"),
            QStringLiteral("loras"),
            QStringLiteral("loraweights"),
        };
        insertMembers(record, params, jsonKeysInOrder(raw.text, QStringLiteral("sui_image_params")), names, consumed);
        return record;
    }
    return std::nullopt;
}

std::optional<LimnoraMetadata> readInvokeAI(const QList<RawText>& texts)
{
    // The newest format first: a file written by 2.x holds both "sd-metadata" and "Dream".
    if (const auto text = rawTextFrom(texts, QStringLiteral("invokeai_metadata")))
        if (auto record = readInvokeAIMetadata(*text))
            return record;
    if (const auto text = rawTextFrom(texts, QStringLiteral("sd-metadata")))
        if (auto record = readInvokeAISDMetadata(*text))
            return record;
    if (const auto text = rawTextFrom(texts, QStringLiteral("Dream")))
        return readInvokeAIDream(*text);
    return std::nullopt;
}

std::optional<LimnoraMetadata> readNovelAI(const QList<RawText>& texts)
{
    const auto comment = rawTextFrom(texts, QStringLiteral("Comment"));
    const auto object = comment ? jsonObject(*comment) : std::nullopt;
    if (!object)
        return std::nullopt;
    const bool namesItself = rawTextFrom(texts, QStringLiteral("Software")).value_or(QString()).contains(u"NovelAI");
    if (!namesItself && !object->contains(QStringLiteral("uc")) && !object->contains(QStringLiteral("v4_prompt")))
        return std::nullopt;

    LimnoraMetadata record = recordFor(QStringLiteral("NovelAI"));
    const V4Captions positive = v4Captions(object->value(QStringLiteral("v4_prompt")));
    const V4Captions negative = v4Captions(object->value(QStringLiteral("v4_negative_prompt")));
    record.prompt = jsonValueText(object->value(QStringLiteral("prompt"))).trimmed();
    if (record.prompt.isEmpty())
        record.prompt = positive.base;
    if (record.prompt.isEmpty())
        record.prompt = rawTextFrom(texts, QStringLiteral("Description")).value_or(QString()).trimmed();
    record.negativePrompt = jsonValueText(object->value(QStringLiteral("uc"))).trimmed();
    if (record.negativePrompt.isEmpty())
        record.negativePrompt = negative.base;

    insertSetting(record, QStringLiteral("Model"),
        modelFileName(rawTextFrom(texts, QStringLiteral("Source")).value_or(QString())));
    // "native" is NovelAI's default noise schedule and adds nothing to the sampler's name.
    const QString schedule = jsonValueText(object->value(QStringLiteral("noise_schedule")));
    insertSetting(record, QStringLiteral("Sampler"),
        joinedSampler(
            jsonValueText(object->value(QStringLiteral("sampler"))), schedule == u"native" ? QString() : schedule));
    insertSetting(record, QStringLiteral("Size"),
        sizeText(jsonValueText(object->value(QStringLiteral("width"))),
            jsonValueText(object->value(QStringLiteral("height")))));
    // Character prompts of v4 stand beside the main prompt, one setting each.
    for (qsizetype i = 0; i < positive.characters.size(); ++i)
        insertSetting(record, QStringLiteral("Character %1 Prompt").arg(i + 1), positive.characters.at(i));
    for (qsizetype i = 0; i < negative.characters.size(); ++i)
        insertSetting(record, QStringLiteral("Character %1 Negative Prompt").arg(i + 1), negative.characters.at(i));

    static const QHash<QString, QString> names = {
        { QStringLiteral("steps"), QStringLiteral("Steps") },
        { QStringLiteral("scale"), QStringLiteral("Guidance Scale") },
        { QStringLiteral("seed"), QStringLiteral("Seed") },
        { QStringLiteral("strength"), QStringLiteral("Strength") },
        { QStringLiteral("noise"), QStringLiteral("Noise") },
    };
    static const QSet<QString> consumed = {
        QStringLiteral("prompt"),
        QStringLiteral("uc"),
        QStringLiteral("v4_prompt"),
        QStringLiteral("v4_negative_prompt"),
        QStringLiteral("sampler"),
        QStringLiteral("noise_schedule"),
        QStringLiteral("width"),
        QStringLiteral("height"),
    };
    insertMembers(record, *object, jsonKeysInOrder(*comment), names, consumed);
    return record;
}

std::optional<LimnoraMetadata> readFooocus(const QList<RawText>& texts)
{
    const auto parameters = rawTextFrom(texts, QStringLiteral("parameters"));
    const auto object = parameters ? jsonObject(*parameters) : std::nullopt;
    if (!object)
        return std::nullopt;
    const bool isFooocus = rawTextFrom(texts, QStringLiteral("fooocus_scheme")).has_value()
        || object->value(QStringLiteral("metadata_scheme")).toString() == u"fooocus"
        || object->value(QStringLiteral("version")).toString().startsWith(u"Fooocus");
    if (!isFooocus)
        return std::nullopt;

    LimnoraMetadata record = recordFor(QStringLiteral("Fooocus"));
    record.prompt = jsonValueText(object->value(QStringLiteral("prompt"))).trimmed();
    record.negativePrompt = jsonValueText(object->value(QStringLiteral("negative_prompt"))).trimmed();
    insertSetting(
        record, QStringLiteral("Model"), modelFileName(jsonValueText(object->value(QStringLiteral("base_model")))));
    insertSetting(record, QStringLiteral("Sampler"),
        joinedSampler(jsonValueText(object->value(QStringLiteral("sampler"))),
            jsonValueText(object->value(QStringLiteral("scheduler")))));
    // The resolution is written as a tuple: "(768, 1280)".
    static const QRegularExpression tuple(QStringLiteral("^\\(\\s*(\\d+)\\s*,\\s*(\\d+)\\s*\\)$"));
    if (const auto match = tuple.match(jsonValueText(object->value(QStringLiteral("resolution"))).trimmed());
        match.hasMatch())
        insertSetting(record, QStringLiteral("Size"), sizeText(match.captured(1), match.captured(2)));
    // Each LoRA is [name, weight] or [name, weight, hash].
    for (const QJsonValue entry : object->value(QStringLiteral("loras")).toArray()) {
        const QJsonArray lora = entry.toArray();
        appendLora(record, jsonValueText(lora.at(0)), weightOf(lora.at(1)).value_or(1.0));
    }
    // Fooocus writes "None" for a refiner it did not use.
    if (const QString refiner = jsonValueText(object->value(QStringLiteral("refiner_model"))); refiner != u"None")
        insertSetting(record, QStringLiteral("Refiner Model"), modelFileName(refiner));

    static const QHash<QString, QString> names = {
        { QStringLiteral("steps"), QStringLiteral("Steps") },
        { QStringLiteral("guidance_scale"), QStringLiteral("Guidance Scale") },
        { QStringLiteral("seed"), QStringLiteral("Seed") },
        { QStringLiteral("sharpness"), QStringLiteral("Sharpness") },
        { QStringLiteral("clip_skip"), QStringLiteral("CLIP Skip") },
        { QStringLiteral("denoising_strength"), QStringLiteral("Strength") },
    };
    static const QSet<QString> consumed = {
        QStringLiteral("prompt"),
        QStringLiteral("negative_prompt"),
        QStringLiteral("base_model"),
        QStringLiteral("sampler"),
        QStringLiteral("scheduler"),
        QStringLiteral("resolution"),
        QStringLiteral("loras"),
        QStringLiteral("refiner_model"),
    };
    insertMembers(record, *object, jsonKeysInOrder(*parameters), names, consumed);
    return record;
}

std::optional<LimnoraMetadata> readEasyDiffusion(const QList<RawText>& texts)
{
    // Keys as Easy Diffusion writes them, and the labelled spellings some versions use, brought to
    // one form: lower case, spaces as underscores, then the aliases below.
    static const QHash<QString, QString> aliases = {
        { QStringLiteral("steps"), QStringLiteral("num_inference_steps") },
        { QStringLiteral("sampler"), QStringLiteral("sampler_name") },
        { QStringLiteral("stable_diffusion_model"), QStringLiteral("use_stable_diffusion_model") },
        { QStringLiteral("vae_model"), QStringLiteral("use_vae_model") },
        { QStringLiteral("lora_model"), QStringLiteral("use_lora_model") },
        { QStringLiteral("lora_strength"), QStringLiteral("lora_alpha") },
    };
    static const QSet<QString> telltales = {
        QStringLiteral("negative_prompt"),
        QStringLiteral("seed"),
        QStringLiteral("num_inference_steps"),
        QStringLiteral("guidance_scale"),
        QStringLiteral("width"),
        QStringLiteral("height"),
        QStringLiteral("sampler_name"),
        QStringLiteral("use_stable_diffusion_model"),
    };
    struct Setting {
        QString key; // normalised
        QString source; // as written
        QString text;
    };
    QList<Setting> values; // in file order
    QHash<QString, QString> byKey;
    qsizetype telltaleCount = 0;
    for (const RawText& raw : texts) {
        QString key = raw.source.trimmed().toLower().replace(u' ', u'_');
        key = aliases.value(key, key);
        if (byKey.contains(key))
            continue;
        if (telltales.contains(key))
            ++telltaleCount;
        byKey.insert(key, raw.text);
        values.append({ key, raw.source.trimmed(), raw.text });
    }
    // A lone "prompt" is ComfyUI's graph or another generator's; several settings of their own
    // are Easy Diffusion's mark.
    if (telltaleCount < 3 || !byKey.contains(QStringLiteral("prompt")))
        return std::nullopt;

    LimnoraMetadata record = recordFor(QStringLiteral("Easy Diffusion"));
    record.prompt = byKey.value(QStringLiteral("prompt")).trimmed();
    record.negativePrompt = byKey.value(QStringLiteral("negative_prompt")).trimmed();
    insertSetting(record, QStringLiteral("Size"),
        sizeText(byKey.value(QStringLiteral("width")), byKey.value(QStringLiteral("height"))));

    // LoRAs: one name or a list ("['a', 'b']"), with one strength or a matching list.
    const auto listed = [](const QString& text) {
        QString inner = text.trimmed();
        if (inner.startsWith(u'[') && inner.endsWith(u']'))
            inner = inner.sliced(1, inner.size() - 2);
        QStringList items;
        for (const QString& item : inner.split(u','))
            items.append(item.trimmed().remove(u'\'').remove(u'"'));
        items.removeAll(QString());
        return items;
    };
    const QStringList loraNames = listed(byKey.value(QStringLiteral("use_lora_model")));
    const QStringList loraWeights = listed(byKey.value(QStringLiteral("lora_alpha")));
    for (qsizetype i = 0; i < loraNames.size(); ++i) {
        if (loraNames.at(i) == u"None")
            continue;
        appendLora(record, loraNames.at(i), parseDouble(loraWeights.value(i)).value_or(1.0));
    }

    static const QHash<QString, QString> names = {
        { QStringLiteral("num_inference_steps"), QStringLiteral("Steps") },
        { QStringLiteral("sampler_name"), QStringLiteral("Sampler") },
        { QStringLiteral("guidance_scale"), QStringLiteral("Guidance Scale") },
        { QStringLiteral("seed"), QStringLiteral("Seed") },
        { QStringLiteral("prompt_strength"), QStringLiteral("Strength") },
        { QStringLiteral("clip_skip"), QStringLiteral("CLIP Skip") },
    };
    static const QSet<QString> consumed = {
        QStringLiteral("prompt"),
        QStringLiteral("negative_prompt"),
        QStringLiteral("width"),
        QStringLiteral("height"),
        QStringLiteral("use_lora_model"),
        QStringLiteral("lora_alpha"),
    };
    for (const Setting& setting : values) {
        if (consumed.contains(setting.key))
            continue;
        if (setting.key == u"use_stable_diffusion_model")
            insertSetting(record, QStringLiteral("Model"), modelFileName(setting.text));
        else
            insertSetting(record, names.value(setting.key, setting.source), setting.text);
    }
    return record;
}

} // namespace limnoscope
