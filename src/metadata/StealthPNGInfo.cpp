#include "StealthPNGInfo.h"

#include "PNGTextReader.h"
#include "RegularFile.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QtEndian>

#include <zlib.h>

#include <array>
#include <vector>

namespace limnoscope {
namespace {

constexpr int signatureBits = 15 * 8;
constexpr int lengthBits = 32;
constexpr int maxWalkedChunks = 1 << 16;
constexpr qint64 pieceBytes = 64 * 1024;

enum class Channel { alpha, colour };

struct Signature {
    const char* text;
    Channel channel;
    bool compressed;
};

constexpr std::array<Signature, 4> signatures = { {
    { "stealth_pnginfo", Channel::alpha, false },
    { "stealth_pngcomp", Channel::alpha, true },
    { "stealth_rgbinfo", Channel::colour, false },
    { "stealth_rgbcomp", Channel::colour, true },
} };

bool signatureBit(const Signature& signature, int bit)
{
    return (uchar(signature.text[bit / 8]) >> (7 - bit % 8)) & 1;
}

int paeth(int left, int up, int upLeft)
{
    const int estimate = left + up - upLeft;
    const int toLeft = std::abs(estimate - left);
    const int toUp = std::abs(estimate - up);
    const int toUpLeft = std::abs(estimate - upLeft);
    if (toLeft <= toUp && toLeft <= toUpLeft)
        return left;
    return toUp <= toUpLeft ? up : upLeft;
}

// Undoes a row's filter in place (`previous`: the row above, zeros for the first).
bool unfilter(uchar filter, uchar* row, const uchar* previous, qsizetype length, int pixelBytes)
{
    for (qsizetype i = 0; i < length; ++i) {
        const int left = i >= pixelBytes ? row[i - pixelBytes] : 0;
        const int up = previous[i];
        const int upLeft = i >= pixelBytes ? previous[i - pixelBytes] : 0;
        switch (filter) {
        case 0:
            break;
        case 1:
            row[i] = uchar(row[i] + left);
            break;
        case 2:
            row[i] = uchar(row[i] + up);
            break;
        case 3:
            row[i] = uchar(row[i] + (left + up) / 2);
            break;
        case 4:
            row[i] = uchar(row[i] + paeth(left, up, upLeft));
            break;
        default:
            return false;
        }
    }
    return true;
}

// The pixel rows of a PNG, inflated and unfiltered one at a time from its image-data chunks.
class PNGRows
{
public:
    explicit PNGRows(const QString& path)
        : m_file(path)
    {
        inflateInit(&m_stream);
    }
    ~PNGRows() { inflateEnd(&m_stream); }
    PNGRows(const PNGRows&) = delete;
    PNGRows& operator=(const PNGRows&) = delete;

    // Reads the header: false unless the file is an 8-bit RGB or RGBA PNG without interlacing
    // whose pixels fit the bounds.
    bool open()
    {
        std::array<char, 33> head {};
        if (!m_file.isOpen() || m_file.readAt(0, head.data(), qsizetype(head.size())) != qsizetype(head.size()))
            return false;
        if (QByteArrayView(head.data(), 8) != pngSignature || QByteArrayView(head.data() + 12, 4) != "IHDR")
            return false;
        width = qFromBigEndian<quint32>(head.data() + 16);
        height = qFromBigEndian<quint32>(head.data() + 20);
        const int depth = uchar(head[24]);
        const int colourType = uchar(head[25]);
        const int interlace = uchar(head[28]);
        if (depth != 8 || (colourType != 2 && colourType != 6) || interlace != 0 || width == 0 || height == 0)
            return false;
        pixelBytes = colourType == 6 ? 4 : 3;
        if (qint64(width) > maxStealthImageBytes / pixelBytes / qint64(height))
            return false;
        m_rowBytes = qsizetype(width) * pixelBytes;
        m_previous.assign(size_t(m_rowBytes) + 1, 0); // with the filter byte, as the rows come
        m_next.resize(m_previous.size());
        m_offset = 8 + 8 + 13 + 4;
        return true;
    }

    // The next row: its filter byte, then its pixels; nothing when the data ends or is damaged.
    const std::vector<uchar>* next()
    {
        std::vector<uchar>& row = m_next;
        m_stream.next_out = row.data();
        m_stream.avail_out = uInt(row.size());
        while (m_stream.avail_out > 0) {
            if (m_stream.avail_in == 0 && !readData())
                return nullptr;
            const int status = inflate(&m_stream, Z_NO_FLUSH);
            if (status != Z_OK && !(status == Z_STREAM_END && m_stream.avail_out == 0))
                return nullptr;
        }
        if (!unfilter(row[0], row.data() + 1, m_previous.data() + 1, m_rowBytes, pixelBytes))
            return nullptr;
        std::swap(m_next, m_previous);
        return &m_previous;
    }

    quint32 width = 0;
    quint32 height = 0;
    int pixelBytes = 0;

private:
    // Feeds the next piece of image data to the inflater; false at the end of the image data.
    // A chunk is read a piece at a time: one chunk may hold the whole image, of which the first
    // rows are often all that is needed.
    bool readData()
    {
        while (m_leftInChunk == 0) {
            if (m_chunks++ >= maxWalkedChunks)
                return false;
            std::array<char, 8> header {};
            if (m_file.readAt(m_offset, header.data(), 8) != 8)
                return false;
            const quint32 length = qFromBigEndian<quint32>(header.data());
            const QByteArrayView type(header.data() + 4, 4);
            if (type == "IEND" || (m_seenData && type != "IDAT"))
                return false;
            m_dataOffset = m_offset + 8;
            m_offset = m_dataOffset + qint64(length) + 4;
            if (type == "IDAT") {
                m_seenData = true;
                m_leftInChunk = length;
            }
        }
        const qint64 piece = std::min<qint64>(m_leftInChunk, pieceBytes);
        m_piece.resize(piece);
        if (m_file.readAt(m_dataOffset, m_piece.data(), piece) != piece)
            return false;
        m_dataOffset += piece;
        m_leftInChunk -= piece;
        m_stream.next_in = reinterpret_cast<Bytef*>(m_piece.data());
        m_stream.avail_in = uInt(piece);
        return true;
    }

    const RegularFileReader m_file;
    z_stream m_stream {};
    qsizetype m_rowBytes = 0;
    qint64 m_offset = 0; // of the next chunk
    qint64 m_dataOffset = 0; // of the next piece of the current chunk
    qint64 m_leftInChunk = 0;
    int m_chunks = 0;
    bool m_seenData = false;
    QByteArray m_piece;
    std::vector<uchar> m_previous; // the last row: its filter byte, then its pixels
    std::vector<uchar> m_next;
};

// The lowest bits of one pixel: red, green and blue in bits 0 to 2, alpha in bit 3.
uchar lowBitsOf(const uchar* pixel, int pixelBytes)
{
    const uchar colour = (pixel[0] & 1) | ((pixel[1] & 1) << 1) | ((pixel[2] & 1) << 2);
    return pixelBytes == 4 ? uchar(colour | ((pixel[3] & 1) << 3)) : colour;
}

// The hidden bits in reading order: column by column, each column from the top.
class HiddenBits
{
public:
    // `lowBits`: each pixel's lowest bits (lowBitsOf), row by row.
    HiddenBits(const std::vector<uchar>& lowBits, quint32 width, quint32 height, Channel channel)
        : m_lowBits(lowBits)
        , m_width(width)
        , m_height(height)
        , m_channel(channel)
    {
    }

    [[nodiscard]] qint64 count() const { return qint64(m_width) * m_height * (m_channel == Channel::alpha ? 1 : 3); }

    [[nodiscard]] bool at(qint64 index) const
    {
        const int perPixel = m_channel == Channel::alpha ? 1 : 3;
        const qint64 pixel = index / perPixel;
        const qint64 x = pixel / m_height;
        const qint64 y = pixel % m_height;
        const int bit = m_channel == Channel::alpha ? 3 : int(index % perPixel);
        return (m_lowBits[size_t(y * m_width + x)] >> bit) & 1;
    }

    // `bytes` bytes from bit `first` on, each byte's most significant bit first.
    [[nodiscard]] QByteArray bytes(qint64 first, qint64 bytes) const
    {
        QByteArray out(bytes, '\0');
        for (qint64 i = 0; i < bytes * 8; ++i) {
            if (at(first + i))
                out[i / 8] = char(uchar(out[i / 8]) | (0x80 >> (i % 8)));
        }
        return out;
    }

private:
    const std::vector<uchar>& m_lowBits;
    quint32 m_width;
    quint32 m_height;
    Channel m_channel;
};

std::optional<RawText> hiddenText(const HiddenBits& bits, const Signature& signature)
{
    if (bits.count() < signatureBits + lengthBits || bits.bytes(0, 15) != QByteArrayView(signature.text))
        return std::nullopt;
    const quint32 length = qFromBigEndian<quint32>(bits.bytes(signatureBits, 4).constData());
    if (length == 0 || length % 8 != 0 || qint64(length) > bits.count() - signatureBits - lengthBits
        || qint64(length / 8) > maxStealthTextBytes)
        return std::nullopt;
    QByteArray data = bits.bytes(signatureBits + lengthBits, length / 8);
    if (signature.compressed) {
        auto inflated = inflateBytes(data, true);
        if (!inflated)
            return std::nullopt;
        data = std::move(*inflated);
    }
    QString text = QString::fromUtf8(data);
    if (text.trimmed().isEmpty())
        return std::nullopt;
    return RawText { QString::fromLatin1(signature.text), std::move(text) };
}

std::optional<RawText> readHiddenText(const QString& path)
{
    PNGRows rows(path);
    if (!rows.open())
        return std::nullopt;
    // Which signatures the first column can still spell; most images rule all out in a row or two.
    std::array<bool, signatures.size()> possible {};
    for (size_t i = 0; i < signatures.size(); ++i)
        possible[i] = signatures[i].channel == Channel::colour || rows.pixelBytes == 4;
    // Only the lowest bits are kept: a quarter of an RGBA image's pixel bytes.
    std::vector<uchar> lowBits;
    for (quint32 y = 0; y < rows.height; ++y) {
        const std::vector<uchar>* row = rows.next();
        if (!row)
            return std::nullopt;
        for (const uchar* pixel = row->data() + 1; pixel < row->data() + row->size(); pixel += rows.pixelBytes)
            lowBits.push_back(lowBitsOf(pixel, rows.pixelBytes));
        bool any = false;
        for (size_t i = 0; i < signatures.size(); ++i) {
            const bool alpha = signatures[i].channel == Channel::alpha;
            for (int channel = 0; possible[i] && channel < (alpha ? 1 : 3); ++channel) {
                const qint64 bit = alpha ? y : qint64(y) * 3 + channel;
                const int value = (*row)[size_t(1 + (alpha ? 3 : channel))] & 1;
                if (bit < signatureBits && value != int(signatureBit(signatures[i], int(bit))))
                    possible[i] = false;
            }
            any = any || possible[i];
        }
        if (!any)
            return std::nullopt;
    }
    for (size_t i = 0; i < signatures.size(); ++i) {
        if (!possible[i])
            continue;
        const HiddenBits bits(lowBits, rows.width, rows.height, signatures[i].channel);
        if (auto text = hiddenText(bits, signatures[i]))
            return text;
    }
    return std::nullopt;
}

} // namespace

QList<RawText> readStealthPNGTexts(const QString& path)
{
    std::optional<RawText> hidden = readHiddenText(path);
    if (!hidden)
        return {};
    const QJsonObject object = QJsonDocument::fromJson(hidden->text.toUtf8()).object();
    QList<RawText> members;
    for (auto member = object.begin(); member != object.end(); ++member) {
        if (member.value().isString() && !member.value().toString().trimmed().isEmpty())
            members.append({ member.key(), member.value().toString() });
    }
    if (members.isEmpty())
        return { *hidden };
    return members;
}

} // namespace limnoscope
