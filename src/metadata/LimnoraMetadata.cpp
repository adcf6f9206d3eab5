#include "LimnoraMetadata.h"

#include <QHash>

#include <algorithm>
#include <array>
#include <utility>

namespace limnoscope {

qsizetype SettingsMap::positionOf(const QString& key) const
{
    if (m_entries.size() >= indexedFrom)
        return m_positions.value(key, -1);
    for (qsizetype i = 0; i < m_entries.size(); ++i) {
        if (m_entries[i].first == key)
            return i;
    }
    return -1;
}

void SettingsMap::insert(const QString& key, const QString& value)
{
    if (const qsizetype position = positionOf(key); position >= 0) {
        m_entries[position].second = value;
        return;
    }
    m_entries.append({ key, value });
    if (m_entries.size() == indexedFrom) {
        for (qsizetype i = 0; i < m_entries.size(); ++i)
            m_positions.insert(m_entries[i].first, i);
    } else if (m_entries.size() > indexedFrom) {
        m_positions.insert(key, m_entries.size() - 1);
    }
}

std::optional<QString> SettingsMap::value(const QString& key) const
{
    if (const qsizetype position = positionOf(key); position >= 0)
        return m_entries.at(position).second;
    return std::nullopt;
}

QList<SettingItem> orderedSettingItems(const SettingsMap& settings)
{
    static const std::array<QString, 13> listingOrder = {
        QStringLiteral("Model"),
        QStringLiteral("Sampler"),
        QStringLiteral("Steps"),
        QStringLiteral("Guidance Scale"),
        QStringLiteral("Seed"),
        QStringLiteral("Size"),
        QStringLiteral("Strength"),
        QStringLiteral("Shift"),
        QStringLiteral("Seed Mode"),
        QStringLiteral("Hires Fix"),
        QStringLiteral("Strategic Stochastic Sampling"),
        QStringLiteral("Batch Count"),
        QStringLiteral("Batch Size"),
    };

    QList<SettingItem> items;
    items.reserve(settings.size());
    for (const QString& key : listingOrder) {
        if (auto value = settings.value(key))
            items.append(SettingItem { QUuid::createUuid(), key, *value });
    }
    for (const auto& [key, value] : settings.entries()) {
        if (std::find(listingOrder.begin(), listingOrder.end(), key) == listingOrder.end())
            items.append(SettingItem { QUuid::createUuid(), key, value });
    }
    return items;
}

int samplerIndex(const QString& name)
{
    // Function-local statics: built once, thread-safe, read-only afterwards.
    static const QHash<QString, int> samplerCodes = {
        { QStringLiteral("DPM++ 2M Karras"), 0 },
        { QStringLiteral("Euler A"), 1 },
        { QStringLiteral("DDIM"), 2 },
        { QStringLiteral("PLMS"), 3 },
        { QStringLiteral("DPM++ SDE Karras"), 4 },
        { QStringLiteral("UniPC"), 5 },
        { QStringLiteral("LCM"), 6 },
        { QStringLiteral("Euler A Substep"), 7 },
        { QStringLiteral("DPM++ SDE Substep"), 8 },
        { QStringLiteral("TCD"), 9 },
        { QStringLiteral("Euler A Trailing"), 10 },
        { QStringLiteral("DPM++ SDE Trailing"), 11 },
        { QStringLiteral("DPM++ 2M AYS"), 12 },
        { QStringLiteral("Euler A AYS"), 13 },
        { QStringLiteral("DPM++ SDE AYS"), 14 },
        { QStringLiteral("DPM++ 2M Trailing"), 15 },
        { QStringLiteral("DDIM Trailing"), 16 },
        { QStringLiteral("UniPC Trailing"), 17 },
        { QStringLiteral("UniPC AYS"), 18 },
        { QStringLiteral("TCD Trailing"), 19 },
    };
    // The first fragment contained in the lower-cased name decides, so the order matters:
    // longer, more specific fragments come before the ones they contain.
    static const std::array<std::pair<QString, int>, 22> fragmentCodes = { {
        { QStringLiteral("tcd trailing"), 19 },
        { QStringLiteral("tcd"), 9 },
        { QStringLiteral("unipc trailing"), 17 },
        { QStringLiteral("unipc ays"), 18 },
        { QStringLiteral("unipc"), 5 },
        { QStringLiteral("lcm"), 6 },
        { QStringLiteral("euler a substep"), 7 },
        { QStringLiteral("euler a trailing"), 10 },
        { QStringLiteral("euler a ays"), 13 },
        { QStringLiteral("euler"), 10 },
        { QStringLiteral("ddim trailing"), 16 },
        { QStringLiteral("ddim"), 2 },
        { QStringLiteral("plms"), 3 },
        { QStringLiteral("dpm++ sde substep"), 8 },
        { QStringLiteral("dpm++ sde karras"), 4 },
        { QStringLiteral("dpm++ sde trailing"), 11 },
        { QStringLiteral("dpm++ sde ays"), 14 },
        { QStringLiteral("dpm++ sde"), 4 },
        { QStringLiteral("dpm++ 2m karras"), 0 },
        { QStringLiteral("dpm++ 2m ays"), 12 },
        { QStringLiteral("dpm++ 2m trailing"), 15 },
        { QStringLiteral("dpm++ 2m"), 0 },
    } };
    constexpr int unknownSamplerCode = 17;

    if (auto hit = samplerCodes.constFind(name); hit != samplerCodes.constEnd())
        return hit.value();
    const QString lower = name.toLower();
    if (lower == QLatin1String("euler a"))
        return 1;
    for (const auto& [fragment, code] : fragmentCodes) {
        if (lower.contains(fragment))
            return code;
    }
    return unknownSamplerCode;
}

std::optional<int> seedModeIndex(const QString& name)
{
    static const QHash<QString, int> seedModeCodes = {
        { QStringLiteral("Legacy"), 0 },
        { QStringLiteral("Torch CPU"), 1 },
        { QStringLiteral("Scale Alike"), 2 },
        { QStringLiteral("NVIDIA"), 3 },
    };
    if (auto hit = seedModeCodes.constFind(name); hit != seedModeCodes.constEnd())
        return hit.value();
    return std::nullopt;
}

bool sameRecord(const std::optional<LimnoraMetadata>& a, const std::optional<LimnoraMetadata>& b)
{
    if (!a || !b)
        return !a && !b;
    const auto sameLoras = [](const LoraEntry& x, const LoraEntry& y) {
        return x.file == y.file && x.weight == y.weight && x.mode == y.mode;
    };
    return a->prompt == b->prompt && a->negativePrompt == b->negativePrompt && a->settings == b->settings
        && a->rawSettingsString == b->rawSettingsString && a->renderDuration == b->renderDuration
        && a->generator == b->generator && a->rawTexts == b->rawTexts && a->rawTextsLeftOut == b->rawTextsLeftOut
        && std::equal(a->loras.cbegin(), a->loras.cend(), b->loras.cbegin(), b->loras.cend(), sameLoras);
}

} // namespace limnoscope
