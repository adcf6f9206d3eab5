#include "ForeignRecord.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QLocale>

#include <algorithm>
#include <cmath>
#include <limits>

namespace limnoscope {

QString modelFileName(const QString& pathOrName)
{
    const QString trimmed = pathOrName.trimmed();
    const qsizetype slash = std::max(trimmed.lastIndexOf(u'/'), trimmed.lastIndexOf(u'\\'));
    return trimmed.mid(slash + 1);
}

QString joinedSampler(const QString& sampler, const QString& scheduler)
{
    const QString name = sampler.trimmed();
    const QString schedule = scheduler.trimmed();
    if (schedule.isEmpty() || schedule.compare(u"normal", Qt::CaseInsensitive) == 0
        || schedule.compare(u"automatic", Qt::CaseInsensitive) == 0
        || schedule.compare(u"default", Qt::CaseInsensitive) == 0)
        return name;
    if (name.isEmpty())
        return schedule;
    if (name.endsWith(schedule, Qt::CaseInsensitive))
        return name;
    return name + u' ' + schedule;
}

QString jsonValueText(const QJsonValue& value)
{
    switch (value.type()) {
    case QJsonValue::String:
        return value.toString();
    case QJsonValue::Bool:
        return value.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    case QJsonValue::Double: {
        // Integers the parser kept exactly (seeds beyond 2^53 included) print as integers.
        const double number = value.toDouble();
        const qint64 integer = value.toInteger(std::numeric_limits<qint64>::min());
        if (integer != std::numeric_limits<qint64>::min() && static_cast<double>(integer) == number)
            return QString::number(integer);
        if (!std::isfinite(number))
            return {};
        return QString::number(number, 'g', QLocale::FloatingPointShortest);
    }
    case QJsonValue::Array:
        return QString::fromUtf8(QJsonDocument(value.toArray()).toJson(QJsonDocument::Compact));
    case QJsonValue::Object:
        return QString::fromUtf8(QJsonDocument(value.toObject()).toJson(QJsonDocument::Compact));
    case QJsonValue::Null:
    case QJsonValue::Undefined:
        break;
    }
    return {};
}

QString sizeText(const QString& width, const QString& height)
{
    const QString w = width.trimmed();
    const QString h = height.trimmed();
    if (w.isEmpty() || h.isEmpty())
        return {};
    return w + u'x' + h;
}

void insertSetting(LimnoraMetadata& record, const QString& key, const QString& value)
{
    const QString k = key.trimmed();
    const QString v = value.trimmed();
    if (k.isEmpty() || v.isEmpty())
        return;
    record.settings.insert(k, v);
}

void appendLora(LimnoraMetadata& record, const QString& pathOrName, double weight)
{
    const QString file = modelFileName(pathOrName);
    if (file.isEmpty())
        return;
    LoraEntry entry;
    entry.file = file;
    entry.weight = weight;
    record.loras.append(entry);
}

std::optional<QJsonObject> jsonObject(const QString& text)
{
    const QString trimmed = text.trimmed();
    if (!trimmed.startsWith(u'{'))
        return std::nullopt;
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(trimmed.toUtf8(), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    return document.object();
}

namespace {

// The key a JSON string token names: as written, unless it holds escapes.
QString jsonKeyText(QStringView token)
{
    if (!token.contains(u'\\'))
        return token.sliced(1, token.size() - 2).toString();
    const QJsonDocument document = QJsonDocument::fromJson(QByteArray("[") + token.toUtf8() + QByteArray("]"));
    return document.array().at(0).toString();
}

} // namespace

QStringList jsonKeysInOrder(QStringView json, const QString& parentKey)
{
    QStringList keys;
    // One entry per open container: whether it is an object. Heap-held, so depth costs memory
    // only in proportion to the text.
    QList<bool> containers;
    bool expectingKey = false;
    // The depth whose keys are collected, once known; for a parent key, set when its value opens.
    qsizetype collectDepth = parentKey.isEmpty() ? 1 : -1;
    bool parentValueNext = false;
    for (qsizetype i = 0; i < json.size(); ++i) {
        const QChar c = json[i];
        if (c == u'"') {
            const qsizetype start = i;
            for (++i; i < json.size() && json[i] != u'"'; ++i) {
                if (json[i] == u'\\')
                    ++i;
            }
            if (i >= json.size())
                return {};
            if (expectingKey) {
                expectingKey = false;
                const QString key = jsonKeyText(json.sliced(start, i + 1 - start));
                if (containers.size() == collectDepth)
                    keys.append(key);
                else if (collectDepth < 0 && containers.size() == 1 && key == parentKey)
                    parentValueNext = true;
            }
        } else if (c == u'{' || c == u'[') {
            if (containers.isEmpty() && c != u'{')
                return {};
            containers.append(c == u'{');
            expectingKey = c == u'{';
            if (parentValueNext && containers.size() == 2)
                collectDepth = c == u'{' ? 2 : 0;
            parentValueNext = false;
        } else if (c == u'}' || c == u']') {
            if (containers.isEmpty())
                return {};
            containers.removeLast();
            if (containers.size() < collectDepth && collectDepth == 2)
                return keys;
            if (containers.isEmpty())
                return keys;
        } else if (c == u',') {
            expectingKey = !containers.isEmpty() && containers.last();
            if (containers.size() == 1)
                parentValueNext = false;
        } else if (!c.isSpace() && c != u':') {
            if (containers.size() == 1)
                parentValueNext = false;
        }
    }
    return keys;
}

std::optional<QString> rawTextFrom(const QList<RawText>& texts, const QString& source)
{
    for (const RawText& text : texts) {
        if (text.source.compare(source, Qt::CaseInsensitive) == 0)
            return text.text;
    }
    return std::nullopt;
}

} // namespace limnoscope
