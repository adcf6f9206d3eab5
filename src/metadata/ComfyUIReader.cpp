#include "ComfyUIGraph.h"
#include "ForeignMetadata.h"
#include "ForeignRecord.h"

#include <QJsonArray>
#include <QLocale>
#include <QSet>
#include <QStringList>

#include <algorithm>
#include <climits>
#include <cmath>
#include <initializer_list>
#include <utility>

namespace limnoscope {

namespace {

// Every walk keeps the nodes it has seen, so a cycle ends at once; this also bounds each chain
// followed from one input and the depth of recursion.
constexpr int maxChainLength = 256;
// At most this many prompt texts are gathered from one tree of conditionings.
constexpr qsizetype maxPromptParts = 256;
// A text node's text is cut at this length, and one walk works out at most this many text
// nodes: joins of joins (each joining the one before twice) cannot grow without end.
constexpr qsizetype maxTextCharacters = 64 * 1024;
constexpr qsizetype maxTextNodes = 1024;
// The other samplers described in the "Other Samplers" setting.
constexpr qsizetype maxDescribedSamplers = 8;

bool isSampler(const ComfyNode& node)
{
    // A sampler denoises a latent; the nodes that only pick a sampler ("KSamplerSelect") take none.
    return node.active && node.classType.contains(u"sampler", Qt::CaseInsensitive)
        && node.inputs.contains(u"latent_image");
}

bool isOutput(const ComfyNode& node)
{
    return node.active
        && (node.classType.contains(u"save", Qt::CaseInsensitive)
            || node.classType.contains(u"preview", Qt::CaseInsensitive));
}

bool isScalar(const QJsonValue& value)
{
    return value.isString() || value.isDouble() || value.isBool();
}

// The literal value an input holds, following links through primitive, seed and reroute nodes.
QJsonValue scalarInput(const ComfyGraph& graph, const ComfyNode& start, const QString& input)
{
    static const QStringList valueNames = { QStringLiteral("value"), QStringLiteral("seed"),
        QStringLiteral("noise_seed"), QStringLiteral("int"), QStringLiteral("float"), QStringLiteral("number"),
        QStringLiteral("string"), QStringLiteral("text"), QStringLiteral("input") };
    const ComfyNode* node = &start;
    QString name = input;
    for (int step = 0; step < maxChainLength; ++step) {
        const QJsonValue value = node->inputs.value(name);
        if (isScalar(value))
            return value;
        const auto link = graph.link(value);
        if (!link)
            return {};
        node = link->node;
        // The source names its value like the input it feeds, or by one of the usual names.
        if (node->inputs.contains(name))
            continue;
        name.clear();
        for (const QString& candidate : valueNames) {
            if (node->inputs.contains(candidate)) {
                name = candidate;
                break;
            }
        }
        if (name.isEmpty())
            return {};
    }
    return {};
}

// The first of several (node, input) places that holds a value; absent nodes are passed over.
QJsonValue firstScalar(
    const ComfyGraph& graph, std::initializer_list<std::pair<const ComfyNode*, QLatin1StringView>> places)
{
    for (const auto& [node, input] : places) {
        if (!node)
            continue;
        const QJsonValue value = scalarInput(graph, *node, input);
        if (isScalar(value))
            return value;
    }
    return {};
}

const ComfyNode* linkedNode(const ComfyGraph& graph, const ComfyNode* node, const QString& input)
{
    if (!node)
        return nullptr;
    const auto link = graph.linked(*node, input);
    return link ? link->node : nullptr;
}

// Texts of text, string and concatenation nodes. Each node's text is worked out once, which
// also ends cycles (a node met again while being worked out gives nothing).
struct TextWalk {
    explicit TextWalk(const ComfyGraph& graph)
        : graph(graph)
    {
    }

    const ComfyGraph& graph;
    QHash<const ComfyNode*, QString> known;

    QString input(const ComfyNode& node, const QString& name, int depth)
    {
        const QJsonValue value = node.inputs.value(name);
        if (isScalar(value))
            return jsonValueText(value);
        const auto link = graph.link(value);
        if (!link || depth >= maxChainLength)
            return {};
        return nodeText(*link->node, depth + 1);
    }

    QString nodeText(const ComfyNode& node, int depth)
    {
        if (const auto found = known.constFind(&node); found != known.cend())
            return *found;
        if (known.size() >= maxTextNodes)
            return {};
        known.insert(&node, QString());
        static const QStringList textNames = {
            QStringLiteral("text"),
            QStringLiteral("string"),
            QStringLiteral("value"),
            QStringLiteral("prompt"),
            QStringLiteral("populated_text"),
            QStringLiteral("wildcard_text"),
            QStringLiteral("text_g"),
            QStringLiteral("t5xxl"),
            QStringLiteral("input"),
        };
        QString text;
        if (const auto name = std::find_if(
                textNames.cbegin(), textNames.cend(), [&](const QString& n) { return node.inputs.contains(n); });
            name != textNames.cend()) {
            text = input(node, *name, depth);
        } else {
            // A concatenation: text_a, text_b, string_a, ... in name order, joined by its delimiter.
            QStringList parts;
            for (auto member = node.inputs.begin(); member != node.inputs.end(); ++member) {
                if (member.key().startsWith(u"text") || member.key().startsWith(u"string")) {
                    const QString part = input(node, member.key(), depth);
                    if (!part.isEmpty())
                        parts.append(part);
                }
            }
            QJsonValue delimiter = node.inputs.value(u"delimiter");
            if (!delimiter.isString())
                delimiter = node.inputs.value(u"separator");
            text = parts.join(delimiter.toString());
        }
        text.truncate(maxTextCharacters);
        known.insert(&node, text);
        return text;
    }
};

// The prompt texts of a tree of conditionings, read from the text encoders it starts at, and
// what else the tree says: the first CLIP it encodes with and a distilled guidance.
struct ConditioningWalk {
    explicit ConditioningWalk(const ComfyGraph& graph)
        : graph(graph)
        , texts(graph)
    {
    }

    const ComfyGraph& graph;
    TextWalk texts;
    QSet<const ComfyNode*> visited;
    QStringList parts;
    std::optional<ComfyLink> clip;
    QJsonValue guidance;

    void walk(const ComfyLink& link, int depth)
    {
        const ComfyNode& node = *link.node;
        if (depth >= maxChainLength || parts.size() >= maxPromptParts || visited.contains(&node))
            return;
        visited.insert(&node);
        if (node.classType == u"ConditioningZeroOut")
            return; // an emptied conditioning: its source's text is not the prompt
        static const QStringList promptNames = {
            QStringLiteral("text"),
            QStringLiteral("text_g"),
            QStringLiteral("t5xxl"),
            QStringLiteral("clip_g"),
            QStringLiteral("clip_l"),
            QStringLiteral("text_l"),
            QStringLiteral("prompt"),
        };
        for (const QString& name : promptNames) {
            if (!node.inputs.contains(name))
                continue;
            const QString text = texts.input(node, name, 0).trimmed();
            if (!text.isEmpty() && !parts.contains(text))
                parts.append(text);
        }
        if (!clip)
            clip = graph.linked(node, QStringLiteral("clip"));
        if (guidance.isNull() && node.inputs.contains(u"guidance"))
            guidance = scalarInput(graph, node, QStringLiteral("guidance"));

        // A node that passes on both conditionings (a ControlNet applied to both) gives at each
        // output the one of the same name.
        const auto positive = graph.linked(node, QStringLiteral("positive"));
        const auto negative = graph.linked(node, QStringLiteral("negative"));
        if (positive && negative) {
            walk(link.slot == 1 ? *negative : *positive, depth + 1);
            return;
        }
        std::optional<ComfyLink> later;
        for (auto member = node.inputs.begin(); member != node.inputs.end(); ++member) {
            const QString& name = member.key();
            if (!name.contains(u"conditioning") && !name.startsWith(u"cond") && name != u"input")
                continue;
            const auto source = graph.link(member.value());
            if (!source)
                continue;
            if (name == u"conditioning_from")
                later = source; // a concatenation appends "from" to "to"
            else
                walk(*source, depth + 1);
        }
        if (later)
            walk(*later, depth + 1);
    }
};

// The checkpoint or diffusion model at the start of a model chain and the LoRAs applied on the
// way, in the order they are applied.
struct ModelChain {
    QString model;
    QList<std::pair<QString, double>> loras;
};

double numberOr(const QJsonValue& value, double fallback)
{
    if (value.isDouble())
        return value.toDouble();
    bool ok = false;
    const double number = value.toString().toDouble(&ok);
    return ok && std::isfinite(number) ? number : fallback;
}

ModelChain modelChain(const ComfyGraph& graph, std::optional<ComfyLink> link)
{
    ModelChain chain;
    QSet<const ComfyNode*> visited;
    for (int step = 0; link && step < maxChainLength && !visited.contains(link->node); ++step) {
        const ComfyNode& node = *link->node;
        visited.insert(&node);
        // LoRAs first: a loader may hold the checkpoint and a LoRA together.
        QList<std::pair<QString, double>> loras;
        const QString lora = jsonValueText(scalarInput(graph, node, QStringLiteral("lora_name")));
        if (!lora.isEmpty() && lora != u"None") {
            const QJsonValue weight = firstScalar(graph,
                { { &node, QLatin1StringView("strength_model") }, { &node, QLatin1StringView("strength") },
                    { &node, QLatin1StringView("lora_model_strength") } });
            loras.append({ lora, numberOr(weight, 1.0) });
        }
        // Loaders of several LoRAs keep each as {"on", "lora", "strength"}.
        for (const QJsonValue& value : node.inputs) {
            const QJsonObject entry = value.toObject();
            const QString file = entry.value(u"lora").toString();
            if (entry.value(u"on").toBool() && !file.isEmpty() && file != u"None")
                loras.append({ file, numberOr(entry.value(u"strength"), 1.0) });
        }
        chain.loras = loras + chain.loras; // this node applies them before the ones nearer the sampler
        const QJsonValue model = firstScalar(
            graph, { { &node, QLatin1StringView("ckpt_name") }, { &node, QLatin1StringView("unet_name") } });
        if (model.isString()) {
            chain.model = model.toString();
            break;
        }
        link = graph.linked(node, QStringLiteral("model"));
        if (!link)
            link = graph.linked(node, QStringLiteral("input"));
    }
    return chain;
}

// The CLIP skip A1111 shows (2 for the last layer but one) from the CLIP chain.
QString clipSkip(const ComfyGraph& graph, std::optional<ComfyLink> link)
{
    QSet<const ComfyNode*> visited;
    for (int step = 0; link && step < maxChainLength && !visited.contains(link->node); ++step) {
        const ComfyNode& node = *link->node;
        visited.insert(&node);
        if (node.inputs.contains(u"stop_at_clip_layer")) {
            const QJsonValue layer = scalarInput(graph, node, QStringLiteral("stop_at_clip_layer"));
            return layer.isDouble() ? QString::number(std::abs(layer.toDouble()), 'g', QLocale::FloatingPointShortest)
                                    : QString();
        }
        link = graph.linked(node, QStringLiteral("clip"));
        if (!link)
            link = graph.linked(node, QStringLiteral("input"));
    }
    return {};
}

// The latent a sampler denoises: its "WxH" (the first size up its latent chain, an empty latent
// or an upscale to a size, times any scale factors met on the way) and its batch size.
struct LatentShape {
    QString size;
    QString batchSize;
};

LatentShape latentShape(const ComfyGraph& graph, std::optional<ComfyLink> link)
{
    static const QStringList latentNames
        = { QStringLiteral("latent_image"), QStringLiteral("samples"), QStringLiteral("samples_to"),
              QStringLiteral("latent"), QStringLiteral("pixels"), QStringLiteral("image"), QStringLiteral("input") };
    LatentShape shape;
    double scale = 1.0;
    QSet<const ComfyNode*> visited;
    for (int step = 0; link && step < maxChainLength && !visited.contains(link->node); ++step) {
        const ComfyNode& node = *link->node;
        visited.insert(&node);
        if (shape.batchSize.isEmpty() && node.inputs.contains(u"batch_size"))
            shape.batchSize = jsonValueText(scalarInput(graph, node, QStringLiteral("batch_size")));
        const QJsonValue width = scalarInput(graph, node, QStringLiteral("width"));
        const QJsonValue height = scalarInput(graph, node, QStringLiteral("height"));
        constexpr double largestSide = 1e9;
        const double scaledWidth = width.toDouble() * scale;
        const double scaledHeight = height.toDouble() * scale;
        if (shape.size.isEmpty() && scaledWidth >= 1 && scaledHeight >= 1 && scaledWidth < largestSide
            && scaledHeight < largestSide) {
            shape.size = scale == 1.0
                ? sizeText(jsonValueText(width), jsonValueText(height))
                : sizeText(QString::number(std::llround(scaledWidth)), QString::number(std::llround(scaledHeight)));
        }
        if (!shape.size.isEmpty() && !shape.batchSize.isEmpty())
            break;
        if (node.inputs.contains(u"scale_by"))
            scale *= numberOr(scalarInput(graph, node, QStringLiteral("scale_by")), 1.0);
        if (!std::isfinite(scale) || scale <= 0)
            scale = 1.0; // a nonsense factor: the size as written
        link.reset();
        for (const QString& name : latentNames) {
            if ((link = graph.linked(node, name)))
                break;
        }
    }
    return shape;
}

// What one sampler node was set to, wherever its kind keeps it: on the node (KSampler), or on
// the noise, guider, sampler and sigmas nodes feeding it (SamplerCustomAdvanced).
struct SamplerSettings {
    const ComfyNode* node = nullptr;
    QJsonValue seed, steps, cfg, samplerName, scheduler, denoise, startStep, endStep;
    std::optional<ComfyLink> positive, negative, model, latent;
};

SamplerSettings samplerSettings(const ComfyGraph& graph, const ComfyNode& node)
{
    using L = QLatin1StringView;
    const ComfyNode* noise = linkedNode(graph, &node, QStringLiteral("noise"));
    const ComfyNode* guider = linkedNode(graph, &node, QStringLiteral("guider"));
    const ComfyNode* sampler = linkedNode(graph, &node, QStringLiteral("sampler"));
    const ComfyNode* sigmas = linkedNode(graph, &node, QStringLiteral("sigmas"));

    SamplerSettings settings;
    settings.node = &node;
    settings.seed = firstScalar(
        graph, { { &node, L("seed") }, { &node, L("noise_seed") }, { noise, L("noise_seed") }, { noise, L("seed") } });
    settings.steps = firstScalar(graph, { { &node, L("steps") }, { sigmas, L("steps") } });
    settings.cfg = firstScalar(graph, { { &node, L("cfg") }, { guider, L("cfg") } });
    settings.samplerName = firstScalar(graph, { { &node, L("sampler_name") }, { sampler, L("sampler_name") } });
    if (!isScalar(settings.samplerName) && sampler)
        settings.samplerName = sampler->classType; // "SamplerEulerAncestral" and the like
    settings.scheduler = firstScalar(graph, { { &node, L("scheduler") }, { sigmas, L("scheduler") } });
    if (!isScalar(settings.scheduler) && sigmas && sigmas->classType.endsWith(u"Scheduler"))
        settings.scheduler = sigmas->classType.chopped(9).toLower(); // "KarrasScheduler" gives "karras"
    settings.denoise = firstScalar(graph, { { &node, L("denoise") }, { sigmas, L("denoise") } });
    settings.startStep = firstScalar(graph, { { &node, L("start_at_step") } });
    settings.endStep = firstScalar(graph, { { &node, L("end_at_step") } });

    const auto either = [&](std::initializer_list<std::pair<const ComfyNode*, L>> places) {
        for (const auto& [source, input] : places) {
            if (const auto link = source ? graph.linked(*source, input) : std::nullopt)
                return link;
        }
        return std::optional<ComfyLink>();
    };
    settings.positive = either(
        { { &node, L("positive") }, { guider, L("positive") }, { guider, L("conditioning") }, { guider, L("cond1") } });
    settings.negative = either({ { &node, L("negative") }, { guider, L("negative") } });
    settings.model = either({ { &node, L("model") }, { guider, L("model") } });
    settings.latent = graph.linked(node, QStringLiteral("latent_image"));
    return settings;
}

// The producers of the inputs of `node`.
template <typename Visit> void forEachSource(const ComfyGraph& graph, const ComfyNode& node, Visit visit)
{
    for (const QJsonValue& value : node.inputs) {
        if (const auto link = graph.link(value))
            visit(link->node);
    }
}

// The sampler that made the image: one whose latent no other sampler goes on to denoise (a
// first pass feeds a second); of several, the one nearest a save or preview node, then the
// newest (highest id). One pass over the graph for each rule, however many samplers it holds.
const ComfyNode* finalSampler(const ComfyGraph& graph, const QList<const ComfyNode*>& samplers)
{
    QSet<const ComfyNode*> feedsSampler;
    QList<const ComfyNode*> queue;
    for (const ComfyNode* sampler : samplers)
        forEachSource(graph, *sampler, [&](const ComfyNode* source) { queue.append(source); });
    for (qsizetype next = 0; next < queue.size(); ++next) {
        if (feedsSampler.contains(queue.at(next)))
            continue;
        feedsSampler.insert(queue.at(next));
        forEachSource(graph, *queue.at(next), [&](const ComfyNode* source) {
            if (!feedsSampler.contains(source))
                queue.append(source);
        });
    }
    QList<const ComfyNode*> candidates;
    for (const ComfyNode* sampler : samplers) {
        if (!feedsSampler.contains(sampler))
            candidates.append(sampler);
    }
    if (candidates.isEmpty())
        candidates = samplers; // every sampler lies on a cycle

    QHash<const ComfyNode*, int> distance;
    queue.clear();
    for (const ComfyNode& node : graph.nodes()) {
        if (isOutput(node)) {
            distance.insert(&node, 0);
            queue.append(&node);
        }
    }
    for (qsizetype next = 0; next < queue.size(); ++next) {
        const int steps = distance.value(queue.at(next)) + 1;
        forEachSource(graph, *queue.at(next), [&](const ComfyNode* source) {
            if (!distance.contains(source)) {
                distance.insert(source, steps);
                queue.append(source);
            }
        });
    }
    const auto better = [&](const ComfyNode* left, const ComfyNode* right) {
        const int leftDistance = distance.value(left, INT_MAX);
        const int rightDistance = distance.value(right, INT_MAX);
        if (leftDistance != rightDistance)
            return leftDistance < rightDistance;
        return comfyIdLess(right->id, left->id);
    };
    return *std::min_element(candidates.cbegin(), candidates.cend(), better);
}

// "KSampler 3: seed 5, steps 20, cfg 7, euler karras, denoise 0.5" for the other samplers.
QString samplerSummary(const SamplerSettings& settings)
{
    QStringList parts;
    const auto add = [&](const QString& label, const QJsonValue& value) {
        const QString text = jsonValueText(value);
        if (!text.isEmpty())
            parts.append(label.isEmpty() ? text : label + u' ' + text);
    };
    add(QStringLiteral("seed"), settings.seed);
    add(QStringLiteral("steps"), settings.steps);
    add(QStringLiteral("cfg"), settings.cfg);
    add(QString(), joinedSampler(jsonValueText(settings.samplerName), jsonValueText(settings.scheduler)));
    add(QStringLiteral("denoise"), settings.denoise);
    return settings.node->classType + u' ' + settings.node->id + QStringLiteral(": ")
        + parts.join(QStringLiteral(", "));
}

LimnoraMetadata recordFromGraph(const ComfyGraph& graph)
{
    LimnoraMetadata record;
    record.generator = QStringLiteral("ComfyUI");

    QList<const ComfyNode*> samplers;
    for (const ComfyNode& node : graph.nodes()) {
        if (isSampler(node))
            samplers.append(&node);
    }
    if (samplers.isEmpty())
        return record;
    const SamplerSettings settings = samplerSettings(graph, *finalSampler(graph, samplers));

    ConditioningWalk positive { graph };
    if (settings.positive)
        positive.walk(*settings.positive, 0);
    ConditioningWalk negative { graph };
    if (settings.negative)
        negative.walk(*settings.negative, 0);
    record.prompt = positive.parts.join(u'\n');
    record.negativePrompt = negative.parts.join(u'\n');

    const ModelChain chain = modelChain(graph, settings.model);
    for (const auto& [file, weight] : chain.loras)
        appendLora(record, file, weight);

    insertSetting(record, QStringLiteral("Model"), modelFileName(chain.model));
    insertSetting(record, QStringLiteral("Sampler"),
        joinedSampler(jsonValueText(settings.samplerName), jsonValueText(settings.scheduler)));
    insertSetting(record, QStringLiteral("Steps"), jsonValueText(settings.steps));
    insertSetting(record, QStringLiteral("Guidance Scale"), jsonValueText(settings.cfg));
    insertSetting(record, QStringLiteral("Seed"), jsonValueText(settings.seed));
    const LatentShape latent = latentShape(graph, settings.latent);
    insertSetting(record, QStringLiteral("Size"), latent.size);
    insertSetting(record, QStringLiteral("Batch Size"), latent.batchSize);
    // A denoise of 1 starts from pure noise; anything less is an image-to-image strength.
    if (settings.denoise.isDouble() && settings.denoise.toDouble() < 1.0)
        insertSetting(record, QStringLiteral("Strength"), jsonValueText(settings.denoise));
    insertSetting(record, QStringLiteral("CLIP Skip"), clipSkip(graph, positive.clip));
    insertSetting(record, QStringLiteral("Flux Guidance"), jsonValueText(positive.guidance));
    if (settings.startStep.toDouble() > 0)
        insertSetting(record, QStringLiteral("Start Step"), jsonValueText(settings.startStep));
    if (settings.endStep.isDouble() && settings.endStep.toDouble() < numberOr(settings.steps, INT_MAX))
        insertSetting(record, QStringLiteral("End Step"), jsonValueText(settings.endStep));

    QList<const ComfyNode*> others;
    for (const ComfyNode* sampler : samplers) {
        if (sampler != settings.node)
            others.append(sampler);
    }
    std::sort(others.begin(), others.end(),
        [](const ComfyNode* left, const ComfyNode* right) { return comfyIdLess(left->id, right->id); });
    QStringList summaries;
    for (const ComfyNode* sampler : others.first(std::min(others.size(), maxDescribedSamplers)))
        summaries.append(samplerSummary(samplerSettings(graph, *sampler)));
    if (others.size() > maxDescribedSamplers)
        summaries.append(QStringLiteral("%1 more").arg(others.size() - maxDescribedSamplers));
    insertSetting(record, QStringLiteral("Other Samplers"), summaries.join(QStringLiteral("; ")));
    return record;
}

// The JSON objects a text may hold a graph in: the text itself, after an EXIF tag's
// "prompt:"/"workflow:" prefix, and the members of one {"prompt": ..., "workflow": ...} document.
QList<QJsonObject> graphCandidates(const QString& raw)
{
    QString text = raw.trimmed();
    while (text.startsWith(QChar(0)))
        text = text.mid(1).trimmed();
    for (const QLatin1StringView prefix : { QLatin1StringView("prompt:"), QLatin1StringView("workflow:") }) {
        if (text.startsWith(prefix, Qt::CaseInsensitive))
            text = text.mid(prefix.size());
    }
    const auto object = jsonObject(text);
    if (!object)
        return {};
    QList<QJsonObject> candidates { *object };
    for (const QLatin1StringView key : { QLatin1StringView("prompt"), QLatin1StringView("workflow") }) {
        const QJsonValue member = object->value(key);
        if (member.isObject())
            candidates.append(member.toObject());
        else if (const auto inner = member.isString() ? jsonObject(member.toString()) : std::nullopt)
            candidates.append(*inner);
    }
    return candidates;
}

} // namespace

std::optional<LimnoraMetadata> readComfyUI(const QList<RawText>& texts)
{
    // The API graph is what ran; the editor graph is read only when no text holds one.
    std::optional<ComfyGraph> editorGraph;
    for (const RawText& text : texts) {
        for (const QJsonObject& candidate : graphCandidates(text.text)) {
            if (const auto graph = ComfyGraph::fromApiGraph(candidate))
                return recordFromGraph(*graph);
            if (!editorGraph)
                editorGraph = ComfyGraph::fromEditorGraph(candidate);
        }
    }
    if (editorGraph)
        return recordFromGraph(*editorGraph);
    return std::nullopt;
}

} // namespace limnoscope
