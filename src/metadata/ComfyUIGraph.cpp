#include "ComfyUIGraph.h"

#include "ForeignRecord.h"

#include <QJsonArray>

namespace limnoscope {

namespace {

// The editor keeps widget values as a bare list; these are the names, in list order, of the
// node types whose settings are read. "control_after_generate" is the editor's own choice
// after a seed (a string or, in old graphs, a boolean) and is dropped when the list lacks it.
const QHash<QString, QStringList>& widgetNames()
{
    static const QHash<QString, QStringList> names = {
        { QStringLiteral("KSampler"),
            { "seed", "control_after_generate", "steps", "cfg", "sampler_name", "scheduler", "denoise" } },
        { QStringLiteral("KSamplerAdvanced"),
            { "add_noise", "noise_seed", "control_after_generate", "steps", "cfg", "sampler_name", "scheduler",
                "start_at_step", "end_at_step", "return_with_leftover_noise" } },
        { QStringLiteral("SamplerCustom"), { "add_noise", "noise_seed", "control_after_generate", "cfg" } },
        { QStringLiteral("RandomNoise"), { "noise_seed", "control_after_generate" } },
        { QStringLiteral("KSamplerSelect"), { "sampler_name" } },
        { QStringLiteral("BasicScheduler"), { "scheduler", "steps", "denoise" } },
        { QStringLiteral("CFGGuider"), { "cfg" } },
        { QStringLiteral("FluxGuidance"), { "guidance" } },
        { QStringLiteral("CLIPTextEncode"), { "text" } },
        { QStringLiteral("CLIPTextEncodeSDXL"),
            { "width", "height", "crop_w", "crop_h", "target_width", "target_height", "text_g", "text_l" } },
        { QStringLiteral("CLIPTextEncodeSDXLRefiner"), { "ascore", "width", "height", "text" } },
        { QStringLiteral("CLIPTextEncodeFlux"), { "clip_l", "t5xxl", "guidance" } },
        { QStringLiteral("CLIPSetLastLayer"), { "stop_at_clip_layer" } },
        { QStringLiteral("CheckpointLoaderSimple"), { "ckpt_name" } },
        { QStringLiteral("CheckpointLoader"), { "config_name", "ckpt_name" } },
        { QStringLiteral("unCLIPCheckpointLoader"), { "ckpt_name" } },
        { QStringLiteral("ImageOnlyCheckpointLoader"), { "ckpt_name" } },
        { QStringLiteral("UNETLoader"), { "unet_name", "weight_dtype" } },
        { QStringLiteral("LoraLoader"), { "lora_name", "strength_model", "strength_clip" } },
        { QStringLiteral("LoraLoaderModelOnly"), { "lora_name", "strength_model" } },
        { QStringLiteral("EmptyLatentImage"), { "width", "height", "batch_size" } },
        { QStringLiteral("EmptySD3LatentImage"), { "width", "height", "batch_size" } },
        { QStringLiteral("LatentUpscale"), { "upscale_method", "width", "height", "crop" } },
        { QStringLiteral("LatentUpscaleBy"), { "upscale_method", "scale_by" } },
        { QStringLiteral("PrimitiveNode"), { "value" } },
        { QStringLiteral("PrimitiveString"), { "value" } },
        { QStringLiteral("PrimitiveStringMultiline"), { "value" } },
        { QStringLiteral("PrimitiveInt"), { "value" } },
        { QStringLiteral("PrimitiveFloat"), { "value" } },
    };
    return names;
}

QString idText(const QJsonValue& value)
{
    return value.isString() || value.isDouble() ? jsonValueText(value) : QString();
}

QJsonObject namedWidgets(const QString& type, const QJsonValue& widgets)
{
    QJsonObject inputs;
    if (widgets.isObject())
        return widgets.toObject();
    const QJsonArray values = widgets.toArray();
    const auto names = widgetNames().constFind(type);
    if (names == widgetNames().cend()) {
        // A lone text is what text nodes of unknown types hold.
        if (values.size() == 1 && values.first().isString())
            inputs.insert(QStringLiteral("text"), values.first());
        return inputs;
    }
    qsizetype position = 0;
    for (const QString& name : *names) {
        if (position >= values.size())
            break;
        const QJsonValue value = values.at(position);
        if (name == u"control_after_generate" && !value.isString() && !value.isBool())
            continue; // this list has no such entry: the value belongs to the next name
        inputs.insert(name, value);
        ++position;
    }
    return inputs;
}

} // namespace

bool comfyIdLess(const QString& left, const QString& right)
{
    bool leftIsNumber = false;
    bool rightIsNumber = false;
    const qlonglong leftNumber = left.toLongLong(&leftIsNumber);
    const qlonglong rightNumber = right.toLongLong(&rightIsNumber);
    if (leftIsNumber && rightIsNumber)
        return leftNumber < rightNumber;
    if (leftIsNumber != rightIsNumber)
        return leftIsNumber;
    return left < right;
}

void ComfyGraph::addNode(ComfyNode node)
{
    if (node.id.isEmpty() || m_positions.contains(node.id))
        return;
    m_positions.insert(node.id, m_nodes.size());
    m_nodes.append(std::move(node));
}

const ComfyNode* ComfyGraph::node(const QString& id) const
{
    const auto found = m_positions.constFind(id);
    return found == m_positions.cend() ? nullptr : &m_nodes.at(*found);
}

std::optional<ComfyLink> ComfyGraph::link(const QJsonValue& value) const
{
    if (!value.isArray())
        return std::nullopt;
    const QJsonArray pair = value.toArray();
    if (pair.size() != 2 || !pair.at(1).isDouble())
        return std::nullopt;
    const ComfyNode* source = node(idText(pair.at(0)));
    if (!source)
        return std::nullopt;
    return ComfyLink { source, pair.at(1).toInt() };
}

std::optional<ComfyLink> ComfyGraph::linked(const ComfyNode& node, const QString& input) const
{
    return link(node.inputs.value(input));
}

std::optional<ComfyGraph> ComfyGraph::fromApiGraph(const QJsonObject& object)
{
    ComfyGraph graph;
    for (auto member = object.begin(); member != object.end(); ++member) {
        // Every member of an API graph is a node; anything else means this is another format.
        if (!member.value().isObject())
            return std::nullopt;
        const QJsonObject node = member.value().toObject();
        const QJsonValue classType = node.value(u"class_type");
        if (!classType.isString())
            continue;
        graph.addNode(ComfyNode { member.key(), classType.toString(), node.value(u"inputs").toObject(), true });
    }
    if (graph.m_nodes.isEmpty())
        return std::nullopt;
    return graph;
}

std::optional<ComfyGraph> ComfyGraph::fromEditorGraph(const QJsonObject& object)
{
    const QJsonValue nodesValue = object.value(u"nodes");
    const QJsonValue linksValue = object.value(u"links");
    if (!nodesValue.isArray() || !linksValue.isArray())
        return std::nullopt;

    // Link id -> [source node id, output index], as the API graph writes a link.
    QHash<QString, QJsonArray> sources;
    for (const QJsonValue& entry : linksValue.toArray()) {
        if (entry.isArray()) { // [id, from node, from slot, to node, to slot, type]
            const QJsonArray link = entry.toArray();
            if (link.size() >= 3)
                sources.insert(idText(link.at(0)), QJsonArray { idText(link.at(1)), link.at(2).toInt() });
        } else if (entry.isObject()) {
            const QJsonObject link = entry.toObject();
            sources.insert(idText(link.value(u"id")),
                QJsonArray { idText(link.value(u"origin_id")), link.value(u"origin_slot").toInt() });
        }
    }

    ComfyGraph graph;
    for (const QJsonValue& entry : nodesValue.toArray()) {
        const QJsonObject node = entry.toObject();
        const QString type = node.value(u"type").toString();
        const QString id = idText(node.value(u"id"));
        if (type.isEmpty() || id.isEmpty())
            continue;
        ComfyNode converted { id, type, namedWidgets(type, node.value(u"widgets_values")), true };
        const int mode = node.value(u"mode").toInt();
        constexpr int mutedMode = 2;
        constexpr int bypassedMode = 4;
        converted.active = mode != mutedMode && mode != bypassedMode;
        for (const QJsonValue& input : node.value(u"inputs").toArray()) {
            const QJsonObject slot = input.toObject();
            const auto source = sources.constFind(idText(slot.value(u"link")));
            if (source == sources.cend())
                continue;
            // A reroute's one input has no name of its own.
            QString name = slot.value(u"name").toString();
            if (name.isEmpty())
                name = QStringLiteral("input");
            converted.inputs.insert(name, *source);
        }
        graph.addNode(std::move(converted));
    }
    if (graph.m_nodes.isEmpty())
        return std::nullopt;
    return graph;
}

} // namespace limnoscope
