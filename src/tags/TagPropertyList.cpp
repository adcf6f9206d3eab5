#include "TagPropertyList.h"

#include <algorithm>
#include <cstdint>

namespace limnoscope {
namespace {

constexpr QByteArrayView binaryPlistMagic = "bplist00";
constexpr qsizetype trailerBytes = 32;
// Object kinds: the high half of an object's first byte.
constexpr int integerKind = 0x1;
constexpr int asciiStringKind = 0x5;
constexpr int utf16StringKind = 0x6;
constexpr int arrayKind = 0xA;
// A low half of 0xF: the length follows as an integer object.
constexpr int lengthFollows = 0xF;
// An array may name one string many times: the texts read are bounded all the same.
constexpr std::uint64_t maxTextBytes = 256 * 1024;

std::uint64_t readBigEndian(const uchar* bytes, int width)
{
    std::uint64_t value = 0;
    for (int i = 0; i < width; ++i)
        value = (value << 8) | bytes[i];
    return value;
}

void appendBigEndian(QByteArray& bytes, std::uint64_t value, int width)
{
    for (int i = width - 1; i >= 0; --i)
        bytes.append(char((value >> (8 * i)) & 0xff));
}

// The fewest bytes of 1, 2, 4 or 8 that hold the value.
int widthFor(std::uint64_t value)
{
    return value <= 0xff ? 1 : value <= 0xffff ? 2 : value <= 0xffffffff ? 4 : 8;
}

void appendObjectHead(QByteArray& bytes, int kind, std::uint64_t length)
{
    if (length < lengthFollows) {
        bytes.append(char((kind << 4) | int(length)));
        return;
    }
    const int width = widthFor(length);
    bytes.append(char((kind << 4) | lengthFollows));
    bytes.append(char((integerKind << 4) | (width == 1 ? 0 : width == 2 ? 1 : width == 4 ? 2 : 3)));
    appendBigEndian(bytes, length, width);
}

QByteArray encodedString(const QString& text)
{
    QByteArray object;
    const bool ascii = std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() < 0x80; });
    appendObjectHead(object, ascii ? asciiStringKind : utf16StringKind, std::uint64_t(text.size()));
    for (const QChar c : text) {
        if (!ascii)
            object.append(char(c.unicode() >> 8));
        object.append(char(c.unicode() & 0xff));
    }
    return object;
}

// Reads objects of one property list; every offset is checked against the object area.
class BinaryPlistReader
{
public:
    explicit BinaryPlistReader(QByteArrayView data)
        : m_bytes(reinterpret_cast<const uchar*>(data.data()))
    {
        const uchar* trailer = m_bytes + data.size() - trailerBytes;
        m_offsetWidth = trailer[6];
        m_referenceWidth = trailer[7];
        m_objectCount = readBigEndian(trailer + 8, 8);
        m_topObject = readBigEndian(trailer + 16, 8);
        m_tableStart = readBigEndian(trailer + 24, 8);
        const auto tableEnd = std::uint64_t(data.size() - trailerBytes);
        m_valid = m_offsetWidth >= 1 && m_offsetWidth <= 8 && m_referenceWidth >= 1 && m_referenceWidth <= 8
            && m_tableStart >= std::uint64_t(binaryPlistMagic.size()) && m_tableStart <= tableEnd
            && m_objectCount <= (tableEnd - m_tableStart) / m_offsetWidth && m_topObject < m_objectCount;
    }

    struct Object {
        int kind = 0;
        std::uint64_t start = 0; // of the object's first byte
        std::uint64_t length = 0; // elements or characters, from the head
        std::uint64_t contentStart = 0;
    };

    [[nodiscard]] bool isValid() const { return m_valid; }
    [[nodiscard]] std::uint64_t topObject() const { return m_topObject; }

    [[nodiscard]] std::optional<Object> object(std::uint64_t index) const
    {
        if (index >= m_objectCount)
            return std::nullopt;
        Object object;
        object.start = readBigEndian(m_bytes + m_tableStart + index * m_offsetWidth, m_offsetWidth);
        if (object.start < std::uint64_t(binaryPlistMagic.size()) || object.start >= m_tableStart)
            return std::nullopt;
        object.kind = m_bytes[object.start] >> 4;
        object.length = m_bytes[object.start] & 0xf;
        object.contentStart = object.start + 1;
        if (object.length == lengthFollows) {
            if (object.contentStart >= m_tableStart || m_bytes[object.contentStart] >> 4 != integerKind)
                return std::nullopt;
            const int width = 1 << (m_bytes[object.contentStart] & 0xf);
            if (width > 8 || m_tableStart - object.contentStart < std::uint64_t(1 + width))
                return std::nullopt;
            object.length = readBigEndian(m_bytes + object.contentStart + 1, width);
            object.contentStart += std::uint64_t(1 + width);
        }
        return object;
    }

    // The bytes after the head; nothing when they run past the object area.
    [[nodiscard]] std::optional<QByteArrayView> content(const Object& object, std::uint64_t unitBytes) const
    {
        const std::uint64_t room = m_tableStart - object.contentStart;
        if (object.length > room / unitBytes)
            return std::nullopt;
        return QByteArrayView(m_bytes + object.contentStart, qsizetype(object.length * unitBytes));
    }

    [[nodiscard]] std::uint64_t reference(QByteArrayView references, std::uint64_t i) const
    {
        return readBigEndian(
            reinterpret_cast<const uchar*>(references.data()) + i * m_referenceWidth, m_referenceWidth);
    }
    [[nodiscard]] int referenceWidth() const { return m_referenceWidth; }

private:
    const uchar* m_bytes;
    int m_offsetWidth = 0;
    int m_referenceWidth = 0;
    std::uint64_t m_objectCount = 0;
    std::uint64_t m_topObject = 0;
    std::uint64_t m_tableStart = 0;
    bool m_valid = false;
};

} // namespace

std::optional<QList<TagListEntry>> readBinaryTagList(QByteArrayView data)
{
    if (!data.startsWith(binaryPlistMagic) || data.size() < binaryPlistMagic.size() + trailerBytes)
        return std::nullopt;
    const BinaryPlistReader reader(data);
    if (!reader.isValid())
        return std::nullopt;
    const auto array = reader.object(reader.topObject());
    if (!array || array->kind != arrayKind)
        return std::nullopt;
    const auto references = reader.content(*array, std::uint64_t(reader.referenceWidth()));
    if (!references)
        return std::nullopt;

    QList<TagListEntry> entries;
    std::uint64_t textBytes = 0;
    for (std::uint64_t i = 0; i < array->length; ++i) {
        const auto string = reader.object(reader.reference(*references, i));
        if (!string || (string->kind != asciiStringKind && string->kind != utf16StringKind))
            return std::nullopt;
        const bool utf16 = string->kind == utf16StringKind;
        const auto content = reader.content(*string, utf16 ? 2 : 1);
        if (!content || (textBytes += std::uint64_t(content->size())) > maxTextBytes)
            return std::nullopt;
        TagListEntry entry;
        if (utf16) {
            // Code unit by code unit: a lone surrogate stays what it was.
            entry.text.resize(content->size() / 2);
            for (qsizetype c = 0; c < entry.text.size(); ++c)
                entry.text[c] = QChar(ushort((uchar(content->at(2 * c)) << 8) | uchar(content->at(2 * c + 1))));
        } else {
            entry.text = QString::fromLatin1(*content);
        }
        const auto headBytes = qsizetype(string->contentStart - string->start);
        entry.storedObject = data.sliced(qsizetype(string->start), headBytes + content->size()).toByteArray();
        entries.append(entry);
    }
    return entries;
}

QByteArray writeBinaryTagList(const QList<TagListEntry>& entries)
{
    const auto objectCount = std::uint64_t(entries.size() + 1);
    const int referenceWidth = widthFor(objectCount);
    QByteArray bytes = binaryPlistMagic.toByteArray();
    QList<std::uint64_t> offsets { std::uint64_t(bytes.size()) };
    appendObjectHead(bytes, arrayKind, std::uint64_t(entries.size()));
    for (std::uint64_t i = 1; i < objectCount; ++i)
        appendBigEndian(bytes, i, referenceWidth);
    for (const TagListEntry& entry : entries) {
        offsets.append(std::uint64_t(bytes.size()));
        bytes += entry.storedObject.isEmpty() ? encodedString(entry.text) : entry.storedObject;
    }
    const auto tableStart = std::uint64_t(bytes.size());
    const int offsetWidth = widthFor(tableStart);
    for (const std::uint64_t offset : std::as_const(offsets))
        appendBigEndian(bytes, offset, offsetWidth);
    bytes.append(QByteArray(6, '\0'));
    bytes.append(char(offsetWidth));
    bytes.append(char(referenceWidth));
    appendBigEndian(bytes, objectCount, 8);
    appendBigEndian(bytes, 0, 8); // the array is the top object
    appendBigEndian(bytes, tableStart, 8);
    return bytes;
}

} // namespace limnoscope
