#pragma once

#include <QHash>
#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QString>

#include <optional>

namespace limnoscope {

// One node of a ComfyUI graph in the API form: its class and its inputs, each either a literal
// JSON value or a link [source node id, output index].
struct ComfyNode {
    QString id;
    QString classType;
    QJsonObject inputs;
    // False for nodes the editor mutes or bypasses: they never run.
    bool active = true;
};

// Where a link comes from: the source node and its output index.
struct ComfyLink {
    const ComfyNode* node = nullptr;
    int slot = 0;
};

// A ComfyUI graph in the API form: the API graph as ComfyUI queues it, or the editor graph
// turned into the same form (widget values named after the known node types' widgets, links
// written into the inputs they feed). A plain value built once and then only read; any thread.
class ComfyGraph
{
public:
    // The graph an API graph holds (an object of nodes with "class_type"), or nothing.
    [[nodiscard]] static std::optional<ComfyGraph> fromApiGraph(const QJsonObject& object);
    // The graph an editor graph holds ("nodes" and "links" arrays), or nothing.
    [[nodiscard]] static std::optional<ComfyGraph> fromEditorGraph(const QJsonObject& object);

    [[nodiscard]] const QList<ComfyNode>& nodes() const { return m_nodes; }
    [[nodiscard]] const ComfyNode* node(const QString& id) const;
    // The node an input is linked to, or nothing when the input is absent or a literal.
    [[nodiscard]] std::optional<ComfyLink> linked(const ComfyNode& node, const QString& input) const;
    [[nodiscard]] std::optional<ComfyLink> link(const QJsonValue& value) const;

private:
    void addNode(ComfyNode node);

    QList<ComfyNode> m_nodes;
    QHash<QString, qsizetype> m_positions;
};

// Orders node ids as ComfyUI numbers them: numerically where both are numbers, else as text.
[[nodiscard]] bool comfyIdLess(const QString& left, const QString& right);

} // namespace limnoscope
