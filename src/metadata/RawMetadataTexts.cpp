#include "RawMetadataTexts.h"

#include "PNGTextReader.h"
#include "RegularFile.h"
#include "XMPPacket.h"

#include <QFileInfo>
#include <QStringDecoder>
#include <QtEndian>

#include <exiv2/exiv2.hpp>

#include <array>
#include <mutex>

namespace limnoscope {
namespace {

// Files read whole for exiv2 (formats without a walk of their own) are at most this large.
constexpr qint64 maxWholeFileBytes = 256 * 1024 * 1024;
// Headers with more parts than this before the image data are not real images; the walk stops.
constexpr int maxWalkedParts = 4096;
// What one file's walk reads, and decompresses, at most: many large parts that each hold only
// white space (or a compressed bomb in every chunk) would otherwise be read without end.
constexpr qint64 maxExaminedBytes = 64 * 1024 * 1024;
// An EXIF block or a WebP metadata chunk larger than this is passed over.
constexpr quint32 maxMetadataBlockBytes = 16 * 1024 * 1024;

// A regular file read at given offsets within the budget of one file's walk.
class PositionalFile
{
public:
    explicit PositionalFile(const QString& path)
        : m_file(path)
    {
    }

    [[nodiscard]] bool isOpen() const { return m_file.isOpen(); }

    // Exactly `count` bytes at `offset`, or nothing when the file ends first or the reads would
    // pass the budget of one file.
    std::optional<QByteArray> read(qint64 offset, qsizetype count)
    {
        m_bytesRead += count;
        if (m_bytesRead > maxExaminedBytes)
            return std::nullopt;
        QByteArray bytes(count, Qt::Uninitialized);
        if (m_file.readAt(offset, bytes.data(), count) != count)
            return std::nullopt;
        return bytes;
    }

private:
    const RegularFileReader m_file;
    qint64 m_bytesRead = 0;
};

QString utf8OrLatin1(QByteArrayView bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(bytes);
    if (decoder.hasError())
        return QString::fromLatin1(bytes);
    return text;
}

void dropTrailingZeros(QString& text)
{
    qsizetype end = text.size();
    while (end > 0 && text[end - 1] == QChar(0))
        --end;
    text.truncate(end);
}

// Collects texts in order, within the bounds on their number and total length.
class TextCollector
{
public:
    void add(const QString& source, QString text)
    {
        dropTrailingZeros(text);
        if (text.trimmed().isEmpty() || isFull() || m_characters + text.size() > maxRawTextCharacters)
            return;
        m_characters += text.size();
        m_texts.append({ source, std::move(text) });
    }
    [[nodiscard]] bool isFull() const { return m_texts.size() >= maxRawTextCount; }
    QList<RawText> take() { return std::move(m_texts); }

private:
    QList<RawText> m_texts;
    qsizetype m_characters = 0;
};

// The ASCII-typed IFD0 tags some tools fill with the generation text.
QString exifString(const Exiv2::Exifdatum& datum)
{
    const long size = datum.size();
    if (size <= 0)
        return {};
    QByteArray bytes(qsizetype(size), Qt::Uninitialized);
    datum.copy(reinterpret_cast<Exiv2::byte*>(bytes.data()), Exiv2::bigEndian);
    if (datum.typeId() != Exiv2::asciiString && datum.typeId() != Exiv2::undefined
        && datum.typeId() != Exiv2::unsignedByte)
        return {};
    const qsizetype zero = bytes.indexOf('\0');
    return utf8OrLatin1(zero >= 0 ? QByteArrayView(bytes).first(zero) : QByteArrayView(bytes));
}

// The texts of an EXIF block (a TIFF header and its IFDs), in the order of a usual layout: the
// first IFD's ImageDescription, Make, Model and UserComment, then the Exif IFD's UserComment.
void collectExif(QByteArrayView tiff, TextCollector& texts)
{
    if (tiff.startsWith("Exif\0\0"))
        tiff = tiff.sliced(6);
    if (tiff.size() < 8 || tiff.size() > qsizetype(maxMetadataBlockBytes))
        return;
    try {
        Exiv2::ExifData exif;
        const Exiv2::ByteOrder order
            = Exiv2::ExifParser::decode(exif, reinterpret_cast<const Exiv2::byte*>(tiff.data()), uint32_t(tiff.size()));
        QString description, make, model, imageComment, photoComment;
        for (const Exiv2::Exifdatum& datum : exif) {
            const std::string group = datum.groupName();
            if (group == "Image") {
                switch (datum.tag()) {
                case 0x010e:
                    description = exifString(datum);
                    break;
                case 0x010f:
                    make = exifString(datum);
                    break;
                case 0x0110:
                    model = exifString(datum);
                    break;
                default:
                    break;
                }
            }
            if ((group == "Image" || group == "Photo") && datum.tag() == 0x9286 && datum.size() > 0) {
                QByteArray bytes(qsizetype(datum.size()), Qt::Uninitialized);
                datum.copy(reinterpret_cast<Exiv2::byte*>(bytes.data()), order);
                (group == "Image" ? imageComment : photoComment)
                    = decodeUserComment(bytes, order != Exiv2::littleEndian);
            }
        }
        texts.add(QStringLiteral("ImageDescription"), description);
        texts.add(QStringLiteral("Make"), make);
        texts.add(QStringLiteral("Model"), model);
        texts.add(QStringLiteral("UserComment"), imageComment);
        texts.add(QStringLiteral("UserComment"), photoComment);
    } catch (...) {
    }
}

void collectXMP(const QByteArray& packet, TextCollector& texts)
{
    if (auto description = xmpDescription(packet))
        texts.add(QStringLiteral("XMP"), *description);
}

// PNG: every text chunk before the first image-data chunk, the eXIf chunk's tags and the XMP
// packet's description, in chunk order.
void collectPNG(PositionalFile& file, TextCollector& texts)
{
    qint64 offset = 8;
    qint64 decodedCharacters = 0;
    for (int part = 0; part < maxWalkedParts && !texts.isFull(); ++part) {
        const auto header = file.read(offset, 8);
        if (!header)
            return;
        const quint32 length = qFromBigEndian<quint32>(header->constData());
        const QByteArray type = header->sliced(4);
        if (type == "IDAT" || type == "IEND")
            return;
        const qint64 dataOffset = offset + 8;
        offset = dataOffset + qint64(length) + 4;
        const bool text = type == "tEXt" || type == "iTXt" || type == "zTXt";
        if ((!text && type != "eXIf") || length == 0 || length > maxTextChunkLength)
            continue;
        const auto data = file.read(dataOffset, qsizetype(length));
        if (!data)
            return;
        if (type == "eXIf") {
            collectExif(*data, texts);
            continue;
        }
        auto raw = decodeTextChunk(*data, QString::fromLatin1(type));
        if (!raw)
            continue;
        decodedCharacters += raw->text.size();
        if (decodedCharacters > maxExaminedBytes)
            return;
        if (raw->source == QLatin1String("XML:com.adobe.xmp"))
            collectXMP(raw->text.toUtf8(), texts);
        else
            texts.add(raw->source, std::move(raw->text));
    }
}

// JPEG: the segments before the scan data: EXIF (APP1 "Exif"), XMP (APP1 with the XMP name) and
// comments (COM), in segment order.
void collectJPEG(PositionalFile& file, TextCollector& texts)
{
    static const QByteArray xmpSignature = QByteArrayLiteral("http://ns.adobe.com/xap/1.0/");
    qint64 offset = 2;
    for (int part = 0; part < maxWalkedParts && !texts.isFull(); ++part) {
        const auto marker = file.read(offset, 2);
        if (!marker || uchar((*marker)[0]) != 0xFF)
            return;
        const uchar code = uchar((*marker)[1]);
        if (code == 0xFF) { // fill byte before a marker
            offset += 1;
            continue;
        }
        if (code == 0xD9 || code == 0xDA) // end of image, start of scan: no metadata after them
            return;
        if ((code >= 0xD0 && code <= 0xD8) || code == 0x01) { // markers without a length
            offset += 2;
            continue;
        }
        const auto lengthBytes = file.read(offset + 2, 2);
        if (!lengthBytes)
            return;
        const int length = (uchar((*lengthBytes)[0]) << 8) | uchar((*lengthBytes)[1]);
        if (length < 2)
            return;
        const qint64 dataOffset = offset + 4;
        offset = dataOffset + length - 2;
        if (code != 0xE1 && code != 0xFE)
            continue;
        const auto data = file.read(dataOffset, length - 2);
        if (!data)
            return;
        if (code == 0xFE) {
            texts.add(QStringLiteral("JPEG COM"), utf8OrLatin1(*data));
        } else if (data->startsWith(QByteArrayView("Exif\0\0", 6))) {
            collectExif(*data, texts);
        } else if (data->startsWith(xmpSignature) && data->size() > xmpSignature.size()
            && data->at(xmpSignature.size()) == '\0') {
            collectXMP(data->sliced(xmpSignature.size() + 1), texts);
        }
    }
}

// WebP: the RIFF chunks "EXIF" and "XMP ", wherever they are.
void collectWebP(PositionalFile& file, qint64 riffEnd, TextCollector& texts)
{
    qint64 offset = 12;
    for (int part = 0; part < maxWalkedParts && offset + 8 <= riffEnd && !texts.isFull(); ++part) {
        const auto header = file.read(offset, 8);
        if (!header)
            return;
        const QByteArray type = header->first(4);
        const quint32 length = qFromLittleEndian<quint32>(header->constData() + 4);
        const qint64 dataOffset = offset + 8;
        offset = dataOffset + qint64(length) + (length & 1);
        if ((type != "EXIF" && type != "XMP ") || length == 0 || length > maxMetadataBlockBytes)
            continue;
        const auto data = file.read(dataOffset, qsizetype(length));
        if (!data)
            return;
        if (type == "EXIF")
            collectExif(*data, texts);
        else
            collectXMP(*data, texts);
    }
}

// Any other format exiv2 knows (TIFF and its raw relatives, HEIF): the file read whole.
void collectWithExiv2(const QString& path, TextCollector& texts)
{
    const auto bytes = readRegularFile(path, maxWholeFileBytes);
    if (!bytes)
        return;
    setUpExiv2();
    try {
        auto image
            = Exiv2::ImageFactory::open(reinterpret_cast<const Exiv2::byte*>(bytes->constData()), long(bytes->size()));
        if (image.get() == nullptr)
            return;
        image->readMetadata();
        const Exiv2::ExifData& exif = image->exifData();
        if (!exif.empty()) {
            // Written back out in one byte order, so that the same walk reads every format's tags.
            Exiv2::Blob blob;
            Exiv2::ExifParser::encode(blob, Exiv2::bigEndian, exif);
            collectExif(QByteArrayView(reinterpret_cast<const char*>(blob.data()), qsizetype(blob.size())), texts);
        }
        image->writeXmpFromPacket(true);
        collectXMP(QByteArray::fromStdString(image->xmpPacket()), texts);
    } catch (...) {
    }
}

void collectSidecar(const QString& imagePath, TextCollector& texts)
{
    const QFileInfo image(imagePath);
    const QString sidecar = image.path() + u'/' + image.completeBaseName() + QStringLiteral(".txt");
    if (sidecar == imagePath)
        return;
    if (const auto bytes = readRegularFile(sidecar, maxSidecarBytes))
        texts.add(QStringLiteral("Sidecar"), utf8OrLatin1(*bytes));
}

} // namespace

void setUpExiv2()
{
    static std::once_flag once;
    std::call_once(once, [] {
        static std::mutex xmpMutex;
        Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);
        Exiv2::XmpParser::initialize(
            [](void* data, bool lock) {
                auto* mutex = static_cast<std::mutex*>(data);
                lock ? mutex->lock() : mutex->unlock();
            },
            &xmpMutex);
        Exiv2::enableBMFF(true);
    });
}

QString decodeUserComment(QByteArrayView bytes, bool bigEndianByDefault)
{
    const QByteArrayView code = bytes.first(std::min<qsizetype>(bytes.size(), 8));
    const QByteArrayView body = bytes.sliced(code.size());
    QString text;
    if (code == QByteArrayView("UNICODE\0", 8)) {
        QByteArrayView units = body.first(body.size() & ~qsizetype(1));
        bool bigEndian = bigEndianByDefault;
        if (units.startsWith("\xFE\xFF") || units.startsWith("\xFF\xFE")) {
            bigEndian = uchar(units[0]) == 0xFE;
            units = units.sliced(2);
        } else {
            // ASCII characters have their zero byte first in big-endian order, second in
            // little-endian: whichever place holds more zeros tells the order.
            qsizetype evenZeros = 0;
            qsizetype oddZeros = 0;
            const qsizetype sampled = std::min<qsizetype>(units.size(), 4096);
            for (qsizetype i = 0; i < sampled; ++i) {
                if (units[i] == 0)
                    ++(i % 2 == 0 ? evenZeros : oddZeros);
            }
            if (evenZeros != oddZeros)
                bigEndian = evenZeros > oddZeros;
        }
        QStringDecoder decoder(
            bigEndian ? QStringDecoder::Utf16BE : QStringDecoder::Utf16LE, QStringDecoder::Flag::Stateless);
        text = decoder.decode(units);
    } else if (code == QByteArrayView("ASCII\0\0\0", 8) || code == QByteArrayView("JIS\0\0\0\0\0", 8)
        || code == QByteArrayView("\0\0\0\0\0\0\0\0", 8)) {
        // Many tools write UTF-8 under the ASCII code.
        text = utf8OrLatin1(body);
    } else {
        text = utf8OrLatin1(bytes);
    }
    dropTrailingZeros(text);
    return text;
}

std::optional<QString> xmpDescription(const QByteArray& packet)
{
    if (packet.isEmpty())
        return std::nullopt;
    const QList<XMPProperty> properties = readXMPProperties(packet);
    for (const XMPProperty& property : properties) {
        if (property.name.toLower().contains(QLatin1String("description")) && property.value
            && !property.value->isEmpty())
            return property.value;
    }
    const std::pair<const char*, const char*> paths[] = {
        { xmpNamespaceDC, "description" },
        { xmpNamespaceTIFF, "ImageDescription" },
        { xmpNamespaceEXIF, "ImageDescription" },
    };
    for (const auto& [namespaceURI, name] : paths) {
        for (const XMPProperty& property : properties) {
            if (property.namespaceURI == QLatin1String(namespaceURI) && property.name == QLatin1String(name)) {
                if (property.value && !property.value->isEmpty())
                    return property.value;
                break;
            }
        }
    }
    return std::nullopt;
}

QList<RawText> readRawMetadataTexts(const QString& filePath)
{
    setUpExiv2();
    TextCollector texts;
    {
        PositionalFile file(filePath);
        if (!file.isOpen())
            return {};
        const QByteArray head = file.read(0, 12).value_or(QByteArray());
        if (head.startsWith(pngSignature))
            collectPNG(file, texts);
        else if (head.startsWith("\xFF\xD8"))
            collectJPEG(file, texts);
        else if (head.size() == 12 && head.startsWith("RIFF") && head.sliced(8) == "WEBP")
            collectWebP(file, qint64(qFromLittleEndian<quint32>(head.constData() + 4)) + 8, texts);
        else if (!head.isEmpty())
            collectWithExiv2(filePath, texts);
    }
    collectSidecar(filePath, texts);
    return texts.take();
}

} // namespace limnoscope
