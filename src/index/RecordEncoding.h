#pragma once

#include "LimnoraMetadata.h"

#include <QByteArray>
#include <QByteArrayView>

#include <optional>

namespace limnoscope {

// The stored form of a record: one CBOR array that starts with `recordFormat` and holds every
// field of LimnoraMetadata in a fixed order. Pure functions, any thread.
inline constexpr int recordFormat = 1;

[[nodiscard]] QByteArray encodeRecord(const LimnoraMetadata& record);

// The record `bytes` hold, or nothing for anything that is not exactly the current format
// (another format number, a wrong type, a truncated or trailing byte, a length longer than the
// bytes). Never allocates more than the bytes could hold.
[[nodiscard]] std::optional<LimnoraMetadata> decodeRecord(QByteArrayView bytes);

// Decodes many records, as decodeRecord does, for one thread. The images of a folder mostly
// have the same setting keys: a record whose keys come in the same order as a recent one's
// shares that one's key index and its equal values, which makes decoding a folder's records
// several times faster and their settings a fraction of the size.
class RecordDecoder
{
public:
    [[nodiscard]] std::optional<LimnoraMetadata> decode(QByteArrayView bytes);

    // The settings of `pairs` (keys and values as stored), sharing what a recent record has.
    [[nodiscard]] SettingsMap settings(const QList<QPair<QString, QString>>& pairs);

private:
    static constexpr qsizetype recentLimit = 8;
    // Newest first.
    QList<SettingsMap> m_recentSettings;
    // Reused for every record.
    QList<QPair<QString, QString>> m_pairs;
};

} // namespace limnoscope
