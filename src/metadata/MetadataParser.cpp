#include "MetadataParser.h"

#include "NumberParsing.h"

#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QRegularExpression>
#include <QSet>
#include <QTextBoundaryFinder>

#include <optional>

namespace limnoscope {
namespace {

// Steps through the user-perceived characters of a text by code-unit offsets. Everything
// below U+0300 is its own character, except CR LF, which changes nothing here (neither is a
// comma, a space or an upper-case letter), so plain text skips the grapheme tables.
class CharacterWalker
{
public:
    explicit CharacterWalker(const QString& text)
        : m_text(text)
    {
        for (QChar c : text) {
            if (c.unicode() >= 0x300) {
                m_finder.emplace(QTextBoundaryFinder::Grapheme, text);
                break;
            }
        }
    }

    [[nodiscard]] qsizetype next(qsizetype position)
    {
        if (!m_finder)
            return position + 1;
        m_finder->setPosition(position);
        const qsizetype boundary = m_finder->toNextBoundary();
        return boundary < 0 ? m_text.size() : boundary;
    }

    [[nodiscard]] QStringView at(qsizetype position)
    {
        return QStringView(m_text).sliced(position, next(position) - position);
    }

private:
    const QString& m_text;
    std::optional<QTextBoundaryFinder> m_finder;
};

bool isUpperCaseCharacter(QStringView character)
{
    if (character.isEmpty())
        return false;
    const char32_t first = character.size() > 1 && character[0].isHighSurrogate() && character[1].isLowSurrogate()
        ? QChar::surrogateToUcs4(character[0], character[1])
        : character[0].unicode();
    return QChar::isUpper(first);
}

} // namespace

QString trimSpacesAndTabs(QStringView text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && (text[begin] == u' ' || text[begin] == u'\t'))
        ++begin;
    while (end > begin && (text[end - 1] == u' ' || text[end - 1] == u'\t'))
        --end;
    return text.sliced(begin, end - begin).toString();
}

QString decodeXMLEntities(QString text)
{
    // The order matters: "&amp;lt;" becomes "<" because the ampersand made by the fifth
    // replacement feeds the sixth.
    text.replace(QLatin1String("&#xA;"), QLatin1String("\n"));
    text.replace(QLatin1String("&#xD;"), QLatin1String("\r"));
    text.replace(QLatin1String("&#x9;"), QLatin1String("\t"));
    text.replace(QLatin1String("&quot;"), QLatin1String("\""));
    text.replace(QLatin1String("&amp;"), QLatin1String("&"));
    text.replace(QLatin1String("&lt;"), QLatin1String("<"));
    text.replace(QLatin1String("&gt;"), QLatin1String(">"));
    return text;
}

LimnoraMetadata parseMetadataText(const QString& text)
{
    LimnoraMetadata record;
    const QString decoded = decodeXMLEntities(text);
    const qsizetype settingsStart = decoded.indexOf(QLatin1String("Steps: "));
    if (settingsStart < 0) {
        record.prompt = decoded.trimmed();
        return record;
    }

    const QStringView head = QStringView(decoded).first(settingsStart);
    record.rawSettingsString = decoded.sliced(settingsStart).trimmed();

    // A line break (or a still-encoded one) and one or two hyphens start the negative prompt.
    static const QRegularExpression negativeMarker(
        QStringLiteral(R"((?:&#xA;|\n)-{1,2}\s*([\s\S]*)$)"), QRegularExpression::UseUnicodePropertiesOption);
    QStringView promptPart = head;
    QStringView negativePart;
    if (const auto match = negativeMarker.match(head); match.hasMatch()) {
        promptPart = head.first(match.capturedStart(0));
        negativePart = match.capturedView(1);
    } else if (const qsizetype dots = head.indexOf(QLatin1String("..-")); dots >= 0) {
        promptPart = head.first(dots);
        negativePart = head.sliced(dots + 3);
    }
    record.prompt = promptPart.trimmed().toString();
    record.negativePrompt = negativePart.trimmed().toString();

    parseSettingsText(record.rawSettingsString, record);
    return record;
}

QStringList settingsSegments(const QString& settingsLine)
{
    QStringList segments;
    const auto store = [&](qsizetype from, qsizetype to) {
        QString segment = trimSpacesAndTabs(QStringView(settingsLine).sliced(from, to - from));
        if (!segment.isEmpty())
            segments.append(std::move(segment));
    };

    CharacterWalker walker(settingsLine);
    const qsizetype end = settingsLine.size();
    qsizetype segmentStart = 0;
    qsizetype position = 0;
    while (position < end) {
        const qsizetype afterCharacter = walker.next(position);
        if (walker.at(position) != QLatin1String(",")) {
            position = afterCharacter;
            continue;
        }
        qsizetype next = afterCharacter;
        while (next < end && walker.at(next) == QLatin1String(" "))
            next = walker.next(next);
        if (next < end && isUpperCaseCharacter(walker.at(next))) {
            store(segmentStart, position);
            segmentStart = next;
        }
        position = next;
    }
    store(segmentStart, end);
    return segments;
}

std::optional<LoraKey> parseLoraKey(const QString& key)
{
    if (!key.toLower().startsWith(QLatin1String("lora ")))
        return std::nullopt;
    const QStringList pieces = key.sliced(5).split(u' ');

    const auto partNamed = [](const QString& name) -> std::optional<LoraKeyPart> {
        if (name == QLatin1String("model"))
            return LoraKeyPart::File;
        if (name == QLatin1String("weight"))
            return LoraKeyPart::Weight;
        return std::nullopt;
    };

    if (pieces.size() >= 2) {
        if (const auto number = parseInt64(pieces.first())) {
            if (const auto part = partNamed(pieces.sliced(1).join(u' ').toLower()))
                return LoraKey { *number, *part };
        }
    }
    if (const auto part = partNamed(pieces.join(u' ').toLower()))
        return LoraKey { 0, *part };
    return std::nullopt;
}

namespace {

// One shared copy of each setting key a thread has read lately: a folder's 100,000 records then
// hold their keys once instead of once each.
QString sharedKey(const QString& key)
{
    constexpr qsizetype keptKeys = 512;
    thread_local QSet<QString> keys;
    if (const auto kept = keys.constFind(key); kept != keys.cend())
        return *kept;
    if (keys.size() == keptKeys)
        keys.clear();
    keys.insert(key);
    return key;
}

} // namespace

void parseSettingsText(const QString& settingsLine, LimnoraMetadata& record)
{
    QMap<std::int64_t, QString> loraFiles;
    QMap<std::int64_t, double> loraWeights;

    for (const QString& segment : settingsSegments(settingsLine)) {
        const qsizetype colon = segment.indexOf(QLatin1String(": "));
        if (colon < 0)
            continue;
        const QString key = trimSpacesAndTabs(QStringView(segment).first(colon));
        const QString value = trimSpacesAndTabs(QStringView(segment).sliced(colon + 2));
        if (key.isEmpty() || value.isEmpty())
            continue;

        if (const auto lora = parseLoraKey(key)) {
            if (lora->part == LoraKeyPart::File) {
                loraFiles.insert(lora->number, value);
            } else if (const auto weight = parseDouble(value)) {
                loraWeights.insert(lora->number, *weight);
            } else {
                loraWeights.remove(lora->number);
            }
            continue;
        }
        record.settings.insert(sharedKey(key), value);
    }

    QList<std::int64_t> numbers = loraFiles.keys();
    for (std::int64_t number : loraWeights.keys()) {
        if (!loraFiles.contains(number))
            numbers.append(number);
    }
    std::sort(numbers.begin(), numbers.end());
    for (std::int64_t number : numbers) {
        const QString file = loraFiles.value(number);
        if (file.isEmpty())
            continue;
        LoraEntry entry;
        entry.file = file;
        entry.weight = loraWeights.value(number, 1.0);
        record.loras.append(std::move(entry));
    }
}

std::optional<double> renderDurationOfUserComment(const QString& comment)
{
    const QJsonDocument document = QJsonDocument::fromJson(comment.toUtf8());
    const QJsonValue duration
        = document.object().value(QLatin1String("profile")).toObject().value(QLatin1String("duration"));
    if (!document.isObject() || !duration.isDouble())
        return std::nullopt;
    return duration.toDouble();
}

MarkedText splitRenderTimeMarker(const QString& text)
{
    const qsizetype marker = text.indexOf(renderTimeMarker);
    if (marker < 0)
        return { text, std::nullopt };
    return { text.first(marker), parseDouble(QStringView(text).sliced(marker + renderTimeMarker.size())) };
}

LimnoraMetadata parseMarkedMetadataText(const QString& text)
{
    MarkedText marked = splitRenderTimeMarker(text);
    LimnoraMetadata record = parseMetadataText(marked.text);
    record.renderDuration = marked.renderDuration;
    return record;
}

} // namespace limnoscope
