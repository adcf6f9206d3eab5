#pragma once

#include <QHash>
#include <QList>
#include <QPair>
#include <QString>
#include <QUuid>

#include <optional>

namespace limnoscope {

// One LoRA named in a settings line. Plain value; `id` only tells rows apart in one list.
struct LoraEntry {
    QUuid id = QUuid::createUuid();
    QString file;
    double weight = 1.0;
    QString mode = QStringLiteral("all");
};

// One listed setting: the row type of the inspector's settings grid.
struct SettingItem {
    QUuid id = QUuid::createUuid();
    QString key;
    QString value;
};

// The settings of one image: keys and values as written. Keeps the order in which keys first
// appeared so that listing the keys outside the catalogue is stable; a repeated key keeps its
// first place and its last value.
class SettingsMap
{
public:
    void insert(const QString& key, const QString& value);
    [[nodiscard]] std::optional<QString> value(const QString& key) const;
    [[nodiscard]] bool contains(const QString& key) const { return value(key).has_value(); }
    [[nodiscard]] bool isEmpty() const { return m_entries.isEmpty(); }
    [[nodiscard]] qsizetype size() const { return m_entries.size(); }
    [[nodiscard]] const QList<QPair<QString, QString>>& entries() const { return m_entries; }

    bool operator==(const SettingsMap& other) const { return m_entries == other.m_entries; }

private:
    // Where `key` is in m_entries, -1 when it is not.
    [[nodiscard]] qsizetype positionOf(const QString& key) const;

    // Maps with fewer keys than this are searched in order: a folder keeps 100,000 of them, and
    // an index costs more memory than the few comparisons it saves.
    static constexpr qsizetype indexedFrom = 24;

    QList<QPair<QString, QString>> m_entries;
    // Position of each key in m_entries once there are indexedFrom keys: a settings line can hold
    // very many keys, and a search through the list for each one would make reading it quadratic.
    QHash<QString, qsizetype> m_positions;
};

// One metadata text as the file holds it: where it was found and the text.
// `source` names the place: a PNG text chunk's keyword ("parameters", "prompt", "workflow",
// "Comment", ...), an EXIF tag ("UserComment", "ImageDescription", "Make", "Model"), "JPEG COM"
// for a JPEG comment segment, "XMP" for an XMP description, "Sidecar" for a same-name .txt file,
// a signature such as "stealth_pngcomp" for a text hidden in a PNG's pixels.
struct RawText {
    QString source;
    QString text;
    bool operator==(const RawText&) const = default;
};

// What Limnora wrote into one image, taken apart. Built once by the parser, then only read;
// safe to hand between threads.
struct LimnoraMetadata {
    QString prompt;
    QString negativePrompt;
    SettingsMap settings;
    QList<LoraEntry> loras;
    QString rawSettingsString;
    std::optional<double> renderDuration;
    // Which generator and format the record was read as ("Limnora", "A1111 / Forge",
    // "ComfyUI", ...); empty when no reader recognised the texts.
    QString generator;
    // Every metadata text the file holds, in file order: shown as they are when nothing, or
    // not everything, could be taken apart.
    QList<RawText> rawTexts;
    // Set on a copy kept for a whole folder whose raw texts were too long to keep (a ComfyUI
    // workflow runs to 100 KB): the image on screen has them read again.
    bool rawTextsLeftOut = false;
};

// Whether two readings say the same: every field alike, LoRA ids aside. Two absent records are the same.
[[nodiscard]] bool sameRecord(const std::optional<LimnoraMetadata>& a, const std::optional<LimnoraMetadata>& b);

// The settings in listing order: the catalogue keys first, in their fixed order, then every
// other key in the order it first appeared.
[[nodiscard]] QList<SettingItem> orderedSettingItems(const SettingsMap& settings);

// Limnora's sampler code (0 to 19) for a sampler name; unknown names give 17.
[[nodiscard]] int samplerIndex(const QString& name);

// Limnora's seed-mode code (0 to 3) for an exact seed-mode name, or nothing.
[[nodiscard]] std::optional<int> seedModeIndex(const QString& name);

} // namespace limnoscope
