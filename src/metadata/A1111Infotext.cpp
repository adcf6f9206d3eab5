#include "ForeignMetadata.h"
#include "ForeignRecord.h"
#include "NumberParsing.h"

#include <QHash>
#include <QSet>

namespace limnoscope {
namespace {

struct InfotextPair {
    QString key;
    QString value;
};

bool isKeyCharacter(QChar c)
{
    return c.isLetterOrNumber() || c == u'_' || c == u' ' || c == u'-' || c == u'/';
}

// The end (one past) of a double-quoted value starting at `open`, or -1 when it is never closed.
qsizetype quotedEnd(QStringView line, qsizetype open)
{
    for (qsizetype i = open + 1; i < line.size(); ++i) {
        if (line[i] == u'\\')
            ++i;
        else if (line[i] == u'"')
            return i + 1;
    }
    return -1;
}

// The end (one past) of a JSON object or array starting at `open`, or -1 when it is never
// closed. Only counts brackets outside strings: no recursion, however deep the nesting.
qsizetype bracketedEnd(QStringView line, qsizetype open)
{
    qsizetype depth = 0;
    bool inString = false;
    for (qsizetype i = open; i < line.size(); ++i) {
        const QChar c = line[i];
        if (inString) {
            if (c == u'\\')
                ++i;
            else if (c == u'"')
                inString = false;
        } else if (c == u'"') {
            inString = true;
        } else if (c == u'{' || c == u'[') {
            ++depth;
        } else if (c == u'}' || c == u']') {
            if (--depth == 0)
                return i + 1;
        }
    }
    return -1;
}

QString unquoted(QStringView quoted)
{
    QString text;
    text.reserve(quoted.size());
    for (qsizetype i = 1; i + 1 < quoted.size(); ++i) {
        QChar c = quoted[i];
        if (c == u'\\' && i + 2 < quoted.size()) {
            c = quoted[++i];
            if (c == u'n')
                c = u'\n';
            else if (c == u't')
                c = u'\t';
        }
        text.append(c);
    }
    return text;
}

qsizetype skipSpaces(QStringView line, qsizetype position)
{
    while (position < line.size() && line[position].isSpace())
        ++position;
    return position;
}

// The "Key: value" pairs of a settings line. A key is a word character followed by word
// characters, spaces, hyphens or slashes; a value is a double-quoted string (commas inside
// stay), a JSON object or array written bare (Civitai's "Hashes: {...}"), or everything up to
// the next comma. Text that is no pair is passed over. Linear in the line's length.
QList<InfotextPair> infotextPairs(QStringView line)
{
    QList<InfotextPair> pairs;
    qsizetype position = 0;
    while (position < line.size()) {
        position = skipSpaces(line, position);
        if (position >= line.size())
            break;
        const qsizetype keyStart = position;
        qsizetype keyEnd = keyStart;
        if (line[keyStart].isLetterOrNumber() || line[keyStart] == u'_') {
            while (keyEnd < line.size() && isKeyCharacter(line[keyEnd]))
                ++keyEnd;
        }
        if (keyEnd - keyStart < 2 || keyEnd >= line.size() || line[keyEnd] != u':') {
            // Every later start inside this run of key characters stops at the same place.
            position = keyEnd + 1;
            continue;
        }
        const QString key = line.sliced(keyStart, keyEnd - keyStart).trimmed().toString();
        const qsizetype valueStart = skipSpaces(line, keyEnd + 1);

        QString value;
        qsizetype valueEnd = -1;
        if (valueStart < line.size()
            && (line[valueStart] == u'"' || line[valueStart] == u'{' || line[valueStart] == u'[')) {
            const bool quoted = line[valueStart] == u'"';
            const qsizetype end = quoted ? quotedEnd(line, valueStart) : bracketedEnd(line, valueStart);
            // The closed value counts only when the pair ends right after it.
            if (end > 0) {
                const qsizetype after = skipSpaces(line, end);
                if (after >= line.size() || line[after] == u',') {
                    const QStringView whole = line.sliced(valueStart, end - valueStart);
                    value = quoted ? unquoted(whole) : whole.toString();
                    valueEnd = after;
                }
            }
        }
        if (valueEnd < 0) {
            valueEnd = line.indexOf(u',', valueStart);
            if (valueEnd < 0)
                valueEnd = line.size();
            value = line.sliced(valueStart, valueEnd - valueStart).trimmed().toString();
        }
        pairs.append({ key, value });
        position = valueEnd + 1;
    }
    return pairs;
}

bool hasKey(const QList<InfotextPair>& pairs, QStringView key)
{
    return std::any_of(pairs.cbegin(), pairs.cend(), [&](const InfotextPair& pair) { return pair.key == key; });
}

// The "<lora:name:weight>" tags of a prompt, in order, each name once. A tag may carry a
// second weight ("<lora:name:0.8:0.5>"); the first counts. Linear: an unclosed tag is passed
// over, and a tag with no ">" after it ends the search.
void appendPromptLoras(const QString& prompt, LimnoraMetadata& record, QSet<QString>& names)
{
    static const QString opening = QStringLiteral("<lora:");
    qsizetype close = -1;
    qsizetype start = prompt.indexOf(opening, 0, Qt::CaseInsensitive);
    while (start >= 0) {
        const qsizetype next = prompt.indexOf(opening, start + 1, Qt::CaseInsensitive);
        if (close < start) {
            close = prompt.indexOf(u'>', start);
            if (close < 0)
                return;
        }
        if (next < 0 || next > close) {
            const QStringView body = QStringView(prompt).sliced(start + opening.size(), close - start - opening.size());
            const auto parts = body.split(u':');
            const QString name = parts.value(0).trimmed().toString();
            const auto weight = parts.size() > 1 ? parseDouble(parts.at(1).trimmed()) : std::nullopt;
            if (!name.isEmpty() && !names.contains(name)) {
                names.insert(name);
                appendLora(record, name, weight.value_or(1.0));
            }
        }
        start = next;
    }
}

// "Lora hashes: "name: abc123, other: def456"" names LoRAs the prompt may not tag.
void appendHashedLoras(const QString& hashes, LimnoraMetadata& record, QSet<QString>& names)
{
    for (const QStringView entry : QStringView(hashes).split(u',')) {
        const qsizetype colon = entry.lastIndexOf(u':');
        const QString name = (colon < 0 ? entry : entry.first(colon)).trimmed().toString();
        if (!name.isEmpty() && !names.contains(name)) {
            names.insert(name);
            appendLora(record, name);
        }
    }
}

QStringView lastLine(QStringView text)
{
    const qsizetype lineBreak = text.lastIndexOf(u'\n');
    return lineBreak < 0 ? text : text.sliced(lineBreak + 1);
}

} // namespace

std::optional<LimnoraMetadata> readA1111Infotext(const QString& text)
{
    QString normalised = text;
    normalised.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    normalised.replace(u'\r', u'\n');
    const QStringView trimmed = QStringView(normalised).trimmed();
    const QStringView settingsLine = lastLine(trimmed);
    const QList<InfotextPair> pairs = infotextPairs(settingsLine);
    if (!hasKey(pairs, u"Steps"))
        return std::nullopt;

    LimnoraMetadata record;
    record.rawSettingsString = settingsLine.trimmed().toString();

    // The prompt runs up to the line that starts with "Negative prompt:"; the negative prompt
    // from there to the settings line.
    const QStringView head = trimmed.first(trimmed.size() - settingsLine.size());
    static const QString negativeLabel = QStringLiteral("Negative prompt:");
    qsizetype negativeStart = head.startsWith(negativeLabel) ? 0 : head.indexOf(QLatin1String("\nNegative prompt:"));
    if (negativeStart < 0) {
        record.prompt = head.trimmed().toString();
    } else {
        if (negativeStart > 0)
            ++negativeStart;
        record.prompt = head.first(negativeStart).trimmed().toString();
        record.negativePrompt = head.sliced(negativeStart + negativeLabel.size()).trimmed().toString();
    }

    QHash<QString, QString> values;
    for (const InfotextPair& pair : pairs)
        values.insert(pair.key, pair.value);
    for (const InfotextPair& pair : pairs) {
        if (pair.key == u"Steps")
            insertSetting(record, QStringLiteral("Steps"), pair.value);
        else if (pair.key == u"Sampler")
            insertSetting(record, QStringLiteral("Sampler"),
                joinedSampler(pair.value, values.value(QStringLiteral("Schedule type"))));
        else if (pair.key == u"Schedule type" && values.contains(QStringLiteral("Sampler")))
            continue; // joined into the sampler
        else if (pair.key == u"CFG scale")
            insertSetting(record, QStringLiteral("Guidance Scale"), pair.value);
        else if (pair.key == u"Seed")
            insertSetting(record, QStringLiteral("Seed"), pair.value);
        else if (pair.key == u"Size")
            insertSetting(record, QStringLiteral("Size"), pair.value);
        else if (pair.key == u"Model")
            insertSetting(record, QStringLiteral("Model"), modelFileName(pair.value));
        else if (pair.key == u"Denoising strength")
            insertSetting(record, QStringLiteral("Strength"), pair.value);
        else if (pair.key == u"Clip skip")
            insertSetting(record, QStringLiteral("CLIP Skip"), pair.value);
        else
            insertSetting(record, pair.key, pair.value);
    }

    QSet<QString> loraNames;
    appendPromptLoras(record.prompt, record, loraNames);
    appendHashedLoras(values.value(QStringLiteral("Lora hashes")), record, loraNames);

    // SD.Next names itself in an "App" pair, Fooocus writing this format in its "Version";
    // Civitai's generator adds its resources. Forge and reForge write A1111's text unchanged.
    if (values.value(QStringLiteral("App")).contains(u"SD.Next", Qt::CaseInsensitive))
        record.generator = QStringLiteral("SD.Next");
    else if (values.value(QStringLiteral("Version")).startsWith(u"Fooocus"))
        record.generator = QStringLiteral("Fooocus");
    else if (values.contains(QStringLiteral("Civitai resources"))
        || values.contains(QStringLiteral("Civitai metadata")))
        record.generator = QStringLiteral("Civitai");
    else
        record.generator = QStringLiteral("A1111 / Forge");
    return record;
}

bool looksLikeA1111Infotext(const QString& text)
{
    if (text.startsWith(QLatin1String("Negative prompt:")) || text.contains(QLatin1String("\nNegative prompt:")))
        return true;
    QString normalised = text;
    normalised.replace(u'\r', u'\n');
    return hasKey(infotextPairs(lastLine(QStringView(normalised).trimmed())), u"CFG scale");
}

} // namespace limnoscope
