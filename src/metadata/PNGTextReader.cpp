#include "PNGTextReader.h"

#include "RegularFile.h"

#include <QStringDecoder>
#include <QtEndian>

#include <zlib.h>

#include <array>
#include <cstring>

namespace limnoscope {
namespace {

// Inflated iTXt text larger than this is refused: no chunk of real metadata comes near it.
constexpr qsizetype maxInflatedTextLength = 16 * 1024 * 1024;

QString chunkTypeName(const unsigned char* bytes)
{
    for (int i = 0; i < 4; ++i) {
        if (bytes[i] > 0x7f)
            return {};
    }
    return QString::fromLatin1(reinterpret_cast<const char*>(bytes), 4);
}

std::optional<QString> decodeStrictUtf8(QByteArrayView bytes)
{
    QStringDecoder decoder(
        QStringDecoder::Utf8, QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    QString text = decoder.decode(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

// The text of an iTXt chunk after its keyword: flags, language tag, translated keyword, text.
std::optional<QString> internationalText(QByteArrayView data, qsizetype textStart)
{
    if (data.size() - textStart < 2)
        return std::nullopt;
    const bool compressed = static_cast<unsigned char>(data[textStart]) == 1;
    const unsigned char method = static_cast<unsigned char>(data[textStart + 1]);
    qsizetype position = textStart + 2;
    for (int field = 0; field < 2; ++field) {
        const qsizetype zero = data.indexOf('\0', position);
        if (zero >= 0)
            position = zero + 1;
    }
    if (position >= data.size())
        return std::nullopt;
    const QByteArrayView text = data.sliced(position);
    if (!compressed)
        return decodeStrictUtf8(text);
    if (method != 0)
        return std::nullopt;
    const auto inflated = inflateBytes(text);
    if (!inflated)
        return std::nullopt;
    return decodeStrictUtf8(*inflated);
}

bool isMetadataKeyword(const QString& keyword, QStringView chunkType)
{
    return keyword == QLatin1String("Description") || keyword == QLatin1String("ImageDescription")
        || keyword == QLatin1String("Comment")
        || (keyword == QLatin1String("Software") && chunkType == QLatin1String("tEXt"));
}

} // namespace

std::optional<QString> parseTextChunk(QByteArrayView data, QStringView chunkType)
{
    const qsizetype zero = data.indexOf('\0');
    if (zero < 0)
        return std::nullopt;
    const QString keyword = QString::fromLatin1(data.first(zero));
    const qsizetype textStart = zero + 1;

    if (isMetadataKeyword(keyword, chunkType)) {
        if (textStart >= data.size())
            return std::nullopt;
        if (chunkType == QLatin1String("tEXt"))
            return QString::fromLatin1(data.sliced(textStart));
        if (chunkType == QLatin1String("iTXt"))
            return internationalText(data, textStart);
        return std::nullopt;
    }

    // Other keywords count only in tEXt chunks that look like generation settings.
    if (chunkType != QLatin1String("tEXt"))
        return std::nullopt;
    QString text = QString::fromLatin1(data.sliced(textStart));
    if (!text.contains(QLatin1String("\"prompt\"")))
        return std::nullopt;
    return text;
}

std::optional<RawText> decodeTextChunk(QByteArrayView data, QStringView chunkType)
{
    const qsizetype zero = data.indexOf('\0');
    if (zero <= 0)
        return std::nullopt;
    RawText raw { QString::fromLatin1(data.first(zero)), {} };
    const qsizetype textStart = zero + 1;
    if (chunkType == QLatin1String("tEXt")) {
        raw.text = QString::fromLatin1(data.sliced(textStart));
    } else if (chunkType == QLatin1String("zTXt")) {
        // A compression-method byte, then the zlib stream.
        if (data.size() - textStart < 2 || data[textStart] != 0)
            return std::nullopt;
        const auto inflated = inflateBytes(data.sliced(textStart + 1));
        if (!inflated)
            return std::nullopt;
        raw.text = QString::fromLatin1(*inflated);
    } else if (chunkType == QLatin1String("iTXt")) {
        auto text = internationalText(data, textStart);
        if (!text)
            return std::nullopt;
        raw.text = std::move(*text);
    } else {
        return std::nullopt;
    }
    return raw;
}

std::optional<QString> readPNGTextMetadata(const QString& filePath)
{
    const RegularFileReader file(filePath);
    if (!file.isOpen())
        return std::nullopt;
    qint64 offset = 0;
    // The next `count` bytes, whole, and the offset moved past them.
    const auto readNext = [&file, &offset](char* buffer, qsizetype count) {
        const bool whole = file.readAt(offset, buffer, count) == count;
        offset += count;
        return whole;
    };

    std::array<unsigned char, 8> header {};
    if (!readNext(reinterpret_cast<char*>(header.data()), 8)
        || QByteArrayView(reinterpret_cast<const char*>(header.data()), 8) != pngSignature)
        return std::nullopt;

    QByteArray data;
    for (;;) {
        if (!readNext(reinterpret_cast<char*>(header.data()), 8))
            return std::nullopt;
        const quint32 length = qFromBigEndian<quint32>(header.data());
        const QString type = chunkTypeName(header.data() + 4);

        // Text after the first image-data chunk is never read.
        if (type == QLatin1String("IDAT") || type == QLatin1String("IEND"))
            return std::nullopt;
        if (type != QLatin1String("tEXt") && type != QLatin1String("iTXt") && type != QLatin1String("zTXt")) {
            offset += qint64(length) + 4;
            continue;
        }
        if (length == 0 || length > maxTextChunkLength)
            return std::nullopt;

        data.resize(qsizetype(length));
        if (!readNext(data.data(), data.size()))
            return std::nullopt;
        if (auto text = parseTextChunk(data, type))
            return text;
        offset += 4; // the CRC, never checked
    }
}

std::optional<QByteArray> inflateBytes(QByteArrayView compressed, bool gzip)
{
    z_stream stream {};
    if (inflateInit2(&stream, gzip ? MAX_WBITS + 16 : MAX_WBITS) != Z_OK)
        return std::nullopt;
    QByteArray output;
    std::array<char, 64 * 1024> buffer {};
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(compressed.data()));
    stream.avail_in = uInt(compressed.size());
    int status = Z_OK;
    while (status == Z_OK) {
        stream.next_out = reinterpret_cast<Bytef*>(buffer.data());
        stream.avail_out = uInt(buffer.size());
        status = inflate(&stream, Z_NO_FLUSH);
        if (status != Z_OK && status != Z_STREAM_END)
            break;
        output.append(buffer.data(), qsizetype(buffer.size() - stream.avail_out));
        if (output.size() > maxInflatedTextLength) {
            status = Z_MEM_ERROR;
            break;
        }
        if (status == Z_OK && stream.avail_in == 0 && stream.avail_out != 0) {
            status = Z_DATA_ERROR; // input ended before the stream did
            break;
        }
    }
    inflateEnd(&stream);
    if (status != Z_STREAM_END)
        return std::nullopt;
    return output;
}

} // namespace limnoscope
