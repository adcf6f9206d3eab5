#include "ExiftoolJSONStream.h"

#include "MetadataParser.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <charconv>

namespace limnoscope {
namespace {

bool isJSONSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// Shortest text that reads back to the same double, with at least one digit after the point.
QString durationText(double seconds)
{
    char buffer[64];
    const auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, seconds);
    if (error != std::errc())
        return {};
    QString text = QString::fromLatin1(buffer, end - buffer);
    if (!text.contains(u'.') && !text.contains(u'e'))
        text += QStringLiteral(".0");
    return text;
}

} // namespace

ExiftoolJSONStream::State ExiftoolJSONStream::feed(QByteArrayView bytes)
{
    if (m_state != State::Reading)
        return m_state;
    m_totalBytes += bytes.size();
    if (m_totalBytes > maxOutputBytes)
        return fail();
    qsizetype i = 0;
    while (i < bytes.size() && m_state == State::Reading) {
        if (m_phase == Phase::InEntry) {
            i += scanEntry(bytes.sliced(i));
            continue;
        }
        const char c = bytes[i++];
        if (isJSONSpace(c))
            continue;
        switch (m_phase) {
        case Phase::BeforeArray:
            if (c != '[')
                return fail();
            m_phase = Phase::BeforeFirstEntry;
            break;
        case Phase::BeforeFirstEntry:
        case Phase::AfterComma:
            if (c == '{')
                beginEntry();
            else if (c == ']' && m_phase == Phase::BeforeFirstEntry)
                m_phase = Phase::AfterArray;
            else
                return fail();
            break;
        case Phase::AfterEntry:
            if (c == ',')
                m_phase = Phase::AfterComma;
            else if (c == ']')
                m_phase = Phase::AfterArray;
            else
                return fail();
            break;
        case Phase::AfterArray:
        case Phase::InEntry:
            return fail();
        }
    }
    return m_state;
}

ExiftoolJSONStream::State ExiftoolJSONStream::finish()
{
    if (m_state == State::Reading)
        m_state = m_phase == Phase::AfterArray ? State::Complete : State::Failed;
    return m_state;
}

ExiftoolJSONStream::State ExiftoolJSONStream::fail()
{
    m_state = State::Failed;
    m_texts.clear();
    m_entry.clear();
    return m_state;
}

void ExiftoolJSONStream::beginEntry()
{
    m_phase = Phase::InEntry;
    m_entry = QByteArrayLiteral("{");
    m_entryBytes = 1;
    m_skipping = false;
    m_depth = 1;
    m_inString = false;
    m_escaped = false;
}

// Walks the object's bytes up to its closing brace, by nesting and strings only: the object
// itself is parsed once whole. Returns how many of `bytes` belong to it.
qsizetype ExiftoolJSONStream::scanEntry(QByteArrayView bytes)
{
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const char c = bytes[i];
        if (m_inString) {
            if (m_escaped)
                m_escaped = false;
            else if (c == '\\')
                m_escaped = true;
            else if (c == '"')
                m_inString = false;
        } else if (c == '"') {
            m_inString = true;
        } else if (c == '{' || c == '[') {
            if (++m_depth > maxNestingDepth) {
                fail();
                return bytes.size();
            }
        } else if ((c == '}' || c == ']') && --m_depth == 0) {
            keep(bytes.first(i + 1));
            endEntry();
            return i + 1;
        }
    }
    keep(bytes);
    return bytes.size();
}

// Holds on to the object's bytes until it grows beyond what any text needs; from then on it
// is only walked to its end.
void ExiftoolJSONStream::keep(QByteArrayView bytes)
{
    m_entryBytes += bytes.size();
    if (m_skipping)
        return;
    if (m_entryBytes > maxEntryBytes || m_keptBytes + m_entryBytes > maxKeptBytes) {
        m_skipping = true;
        m_entry.clear();
        return;
    }
    m_entry.append(bytes);
}

void ExiftoolJSONStream::endEntry()
{
    m_phase = Phase::AfterEntry;
    if (m_skipping || m_state != State::Reading)
        return;
    const QJsonDocument document = QJsonDocument::fromJson(m_entry);
    m_keptBytes += m_entry.size();
    m_entry.clear();
    if (!document.isObject()) {
        fail();
        return;
    }
    const QJsonObject object = document.object();
    const QJsonValue sourceFile = object.value(QLatin1String("SourceFile"));
    const QJsonValue text = object.contains(QLatin1String("Description"))
        ? object.value(QLatin1String("Description"))
        : object.value(QLatin1String("ImageDescription"));
    if (!sourceFile.isString() || !text.isString())
        return;
    QString stored = text.toString();
    if (const auto seconds = renderDurationOfUserComment(object.value(QLatin1String("UserComment")).toString())) {
        if (const QString number = durationText(*seconds); !number.isEmpty())
            stored += renderTimeMarker + number;
    }
    m_texts.insert(QUrl::fromLocalFile(sourceFile.toString()), stored);
}

} // namespace limnoscope
