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

std::optional<QString> rawTextFrom(const QList<RawText>& texts, const QString& source)
{
    for (const RawText& text : texts) {
        if (text.source.compare(source, Qt::CaseInsensitive) == 0)
            return text.text;
    }
    return std::nullopt;
}

} // namespace limnoscope
