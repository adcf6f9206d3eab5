#include "RecordEncoding.h"

#include <QCborStreamReader>
#include <QCborStreamWriter>

namespace limnoscope {

namespace {

// Fields of the top array: the format number, prompt, negative prompt, settings (key, value,
// ...), LoRAs (file, weight, mode, ...), settings line, render time or null, generator, raw
// texts (source, text, ...), whether raw texts were left out.
constexpr int topFieldCount = 10;

// Reads one record from a buffer it does not own. Every length the bytes claim is checked
// against the bytes that are left before anything is read, so a lying length fails instead of
// allocating.
class RecordReader
{
public:
    RecordReader(QByteArrayView bytes, RecordDecoder& decoder, QList<QPair<QString, QString>>& pairs)
        : m_reader(bytes.data(), bytes.size())
        , m_size(bytes.size())
        , m_decoder(decoder)
        , m_pairs(pairs)
    {
    }

    std::optional<LimnoraMetadata> read()
    {
        LimnoraMetadata record;
        qsizetype settingCount = 0;
        qsizetype loraCount = 0;
        qsizetype rawTextCount = 0;
        if (!enterArray(topFieldCount) || !readFormat() || !readText(record.prompt) || !readText(record.negativePrompt)
            || !enterList(2, settingCount))
            return std::nullopt;
        // Lists grow as their items are read: a count is only ever a claim.
        m_pairs.clear();
        for (qsizetype i = 0; i < settingCount; ++i) {
            QString key;
            QString value;
            if (!readText(key) || !readText(value))
                return std::nullopt;
            m_pairs.append({ std::move(key), std::move(value) });
        }
        record.settings = m_decoder.settings(m_pairs);
        if (!leaveArray() || !enterList(3, loraCount))
            return std::nullopt;
        for (qsizetype i = 0; i < loraCount; ++i) {
            LoraEntry lora;
            if (!readText(lora.file) || !readDouble(lora.weight) || !readText(lora.mode))
                return std::nullopt;
            record.loras.append(std::move(lora));
        }
        if (!leaveArray() || !readText(record.rawSettingsString) || !readOptionalDouble(record.renderDuration)
            || !readText(record.generator) || !enterList(2, rawTextCount))
            return std::nullopt;
        for (qsizetype i = 0; i < rawTextCount; ++i) {
            RawText text;
            if (!readText(text.source) || !readText(text.text))
                return std::nullopt;
            record.rawTexts.append(std::move(text));
        }
        if (!leaveArray() || !readBool(record.rawTextsLeftOut) || !leaveArray() || m_reader.currentOffset() != m_size)
            return std::nullopt;
        return record;
    }

private:
    [[nodiscard]] qint64 bytesLeft() const { return m_size - m_reader.currentOffset(); }

    // A definite-length item no longer than the bytes left (every element or byte takes one).
    [[nodiscard]] bool fits() const { return m_reader.isLengthKnown() && m_reader.length() <= quint64(bytesLeft()); }

    bool enterArray(quint64 length)
    {
        return m_reader.isArray() && fits() && m_reader.length() == length && m_reader.enterContainer();
    }

    // An array of `count` entries of `width` items each.
    bool enterList(int width, qsizetype& count)
    {
        if (!m_reader.isArray() || !fits() || m_reader.length() % width != 0)
            return false;
        count = qsizetype(m_reader.length() / width);
        return m_reader.enterContainer();
    }

    bool leaveArray() { return !m_reader.hasNext() && m_reader.leaveContainer(); }

    bool readFormat()
    {
        if (!m_reader.isUnsignedInteger() || m_reader.toUnsignedInteger() != recordFormat)
            return false;
        return m_reader.next();
    }

    bool readText(QString& text)
    {
        if (!m_reader.isString() || !fits())
            return false;
        text.clear();
        auto chunk = m_reader.readString();
        while (chunk.status == QCborStreamReader::Ok) {
            text += chunk.data;
            chunk = m_reader.readString();
        }
        return chunk.status == QCborStreamReader::EndOfString;
    }

    bool readDouble(double& value)
    {
        if (!m_reader.isDouble())
            return false;
        value = m_reader.toDouble();
        return m_reader.next();
    }

    bool readBool(bool& value)
    {
        if (!m_reader.isBool())
            return false;
        value = m_reader.toBool();
        return m_reader.next();
    }

    bool readOptionalDouble(std::optional<double>& value)
    {
        if (m_reader.isNull())
            return m_reader.next();
        double number = 0;
        if (!readDouble(number))
            return false;
        value = number;
        return true;
    }

    QCborStreamReader m_reader;
    qint64 m_size;
    RecordDecoder& m_decoder;
    QList<QPair<QString, QString>>& m_pairs;
};

[[nodiscard]] bool sameKeys(const SettingsMap& settings, const QList<QPair<QString, QString>>& pairs)
{
    const auto& entries = settings.entries();
    if (entries.size() != pairs.size())
        return false;
    for (qsizetype i = 0; i < pairs.size(); ++i) {
        if (entries[i].first != pairs[i].first)
            return false;
    }
    return true;
}

} // namespace

QByteArray encodeRecord(const LimnoraMetadata& record)
{
    QByteArray bytes;
    QCborStreamWriter writer(&bytes);
    writer.startArray(topFieldCount);
    writer.append(recordFormat);
    writer.append(record.prompt);
    writer.append(record.negativePrompt);
    writer.startArray(quint64(record.settings.size()) * 2);
    for (const auto& [key, value] : record.settings.entries()) {
        writer.append(key);
        writer.append(value);
    }
    writer.endArray();
    writer.startArray(quint64(record.loras.size()) * 3);
    for (const LoraEntry& lora : record.loras) {
        writer.append(lora.file);
        writer.append(lora.weight);
        writer.append(lora.mode);
    }
    writer.endArray();
    writer.append(record.rawSettingsString);
    if (record.renderDuration)
        writer.append(*record.renderDuration);
    else
        writer.append(nullptr);
    writer.append(record.generator);
    writer.startArray(quint64(record.rawTexts.size()) * 2);
    for (const RawText& text : record.rawTexts) {
        writer.append(text.source);
        writer.append(text.text);
    }
    writer.endArray();
    writer.append(record.rawTextsLeftOut);
    writer.endArray();
    return bytes;
}

std::optional<LimnoraMetadata> decodeRecord(QByteArrayView bytes)
{
    return RecordDecoder().decode(bytes);
}

std::optional<LimnoraMetadata> RecordDecoder::decode(QByteArrayView bytes)
{
    return RecordReader(bytes, *this, m_pairs).read();
}

SettingsMap RecordDecoder::settings(const QList<QPair<QString, QString>>& pairs)
{
    // Inserting a key the map holds keeps its place and changes only the value: the copy of a
    // recent map with the same keys shares its index, and its list as long as no value differs.
    for (qsizetype i = 0; i < m_recentSettings.size(); ++i) {
        if (!sameKeys(m_recentSettings[i], pairs))
            continue;
        SettingsMap settings = m_recentSettings[i];
        for (qsizetype entry = 0; entry < pairs.size(); ++entry) {
            if (settings.entries()[entry].second != pairs[entry].second)
                settings.insert(pairs[entry].first, pairs[entry].second);
        }
        m_recentSettings.move(i, 0);
        return settings;
    }
    SettingsMap settings;
    for (const auto& [key, value] : pairs)
        settings.insert(key, value);
    if (m_recentSettings.size() == recentLimit)
        m_recentSettings.removeLast();
    m_recentSettings.prepend(settings);
    return settings;
}

} // namespace limnoscope
