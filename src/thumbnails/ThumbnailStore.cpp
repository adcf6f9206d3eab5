#include "ThumbnailStore.h"

#include "DecodeDownsampled.h"
#include "RegularFile.h"
#include "ThumbnailsLogging.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QImageWriter>
#include <QTemporaryFile>
#include <QtEndian>

#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <optional>

namespace limnoscope {

namespace {

const char* const uriKey = "Thumb::URI";
const char* const mtimeKey = "Thumb::MTime";
const char* const sizeKey = "Thumb::Size";
const char* const software = "Limnoscope " LIMNOSCOPE_VERSION;
// Below the thumbnails folder: where this program's failed decodes are remembered.
const char* const failureFolder = "fail/limnoscope-" LIMNOSCOPE_VERSION;

// A stored thumbnail is at most 1024 pixels wide, so about 4 MiB even uncompressed; a larger file
// or picture in the folder is not a thumbnail and is not read.
constexpr qint64 maxThumbnailBytes = 16 * 1024 * 1024;
constexpr int maxThumbnailSide = ThumbnailStore::sizeClasses.back().pixelSize;

// The file state a thumbnail is valid for, as its keys record it.
struct SourceFile {
    QByteArray uri;
    qint64 modified = 0; // seconds
    qint64 size = 0;
};

// The state of `path` when it is a readable regular file; the standard has nothing stored for
// a file its reader may not read.
std::optional<SourceFile> sourceFile(const QString& path)
{
    const QByteArray name = QFile::encodeName(path);
    struct stat status = {};
    if (::stat(name.constData(), &status) != 0 || !S_ISREG(status.st_mode) || ::access(name.constData(), R_OK) != 0)
        return std::nullopt;
    return SourceFile { QUrl::fromLocalFile(path).toEncoded(), qint64(status.st_mtime), qint64(status.st_size) };
}

// The stored image at `path` when it is a regular file of its own (a link may point anywhere)
// whose keys name `source` in its current state; null otherwise.
QImage readValid(const QString& path, const SourceFile& source)
{
    struct stat status = {};
    if (::lstat(QFile::encodeName(path).constData(), &status) != 0 || !S_ISREG(status.st_mode))
        return {};
    std::optional<QByteArray> bytes = readRegularFile(path, maxThumbnailBytes);
    if (!bytes)
        return {};
    QBuffer buffer(&*bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "png");
    const QSize pixels = reader.size();
    if (!pixels.isValid() || std::max(pixels.width(), pixels.height()) > maxThumbnailSide)
        return {};
    // The keys are read from the image, not the reader: the reader cuts keys at their first colon.
    const QImage image = reader.read();
    bool modifiedRead = false;
    const qint64 modified = image.text(QLatin1String(mtimeKey)).toLongLong(&modifiedRead);
    const QString size = image.text(QLatin1String(sizeKey));
    if (image.text(QLatin1String(uriKey)).toUtf8() != source.uri || !modifiedRead || modified != source.modified
        || (!size.isEmpty() && size != QString::number(source.size)))
        return {};
    return image;
}

void appendTextChunk(QByteArray& chunks, const char* key, const QByteArray& value)
{
    const QByteArray typeAndData = QByteArray("tEXt") + key + '\0' + value;
    const auto bigEndian = [](quint32 number) {
        const quint32 stored = qToBigEndian(number);
        return QByteArray(reinterpret_cast<const char*>(&stored), sizeof stored);
    };
    chunks += bigEndian(quint32(typeAndData.size() - 4)) + typeAndData
        + bigEndian(quint32(crc32(0, reinterpret_cast<const Bytef*>(typeAndData.constData()), typeAndData.size())));
}

// `image` as a PNG with the keys of `source` in tEXt chunks right after the header, where readers
// find them before the image data.
QByteArray encodedWithKeys(const QImage& image, const SourceFile& source)
{
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "png");
    if (!writer.write(image))
        return {};
    QByteArray keys;
    appendTextChunk(keys, uriKey, source.uri);
    appendTextChunk(keys, mtimeKey, QByteArray::number(source.modified));
    appendTextChunk(keys, sizeKey, QByteArray::number(source.size));
    appendTextChunk(keys, "Software", software);
    constexpr int headerEnd = 8 + 4 + 4 + 13 + 4; // signature, then IHDR's length, type, data and CRC
    return png.insert(headerEnd, keys);
}

// Makes `folder` and every missing folder above it, each readable by this user alone.
bool makeFolder(const QString& folder)
{
    const QString parent = QFileInfo(folder).path();
    if (!QFileInfo(parent).isDir() && (parent == folder || !makeFolder(parent)))
        return false;
    ::mkdir(QFile::encodeName(folder).constData(), 0700);
    return QFileInfo(folder).isDir();
}

// Stores `image` for `source` as `name` in `folder`: written to a temporary file beside it (mode
// 0600), then renamed over it, so that readers see the old file or the whole new one.
bool write(const QString& folder, const QString& name, const QImage& image, const SourceFile& source)
{
    const QByteArray png = encodedWithKeys(image, source);
    if (png.isEmpty() || !makeFolder(folder))
        return false;
    QTemporaryFile file(folder + QStringLiteral("/limnoscope-XXXXXX.png"));
    if (!file.open() || file.write(png) != png.size() || !file.flush())
        return false;
    const QString path = folder + QLatin1Char('/') + name;
    if (std::rename(QFile::encodeName(file.fileName()).constData(), QFile::encodeName(path).constData()) != 0)
        return false;
    file.setAutoRemove(false);
    return true;
}

} // namespace

ThumbnailStore::ThumbnailStore(QString folder)
    : m_folder(QDir::cleanPath(folder))
{
}

QString ThumbnailStore::defaultFolder()
{
    const QString cache = qEnvironmentVariable("XDG_CACHE_HOME").trimmed();
    if (QDir::isAbsolutePath(cache))
        return cache + QStringLiteral("/thumbnails");
    const QString home = qEnvironmentVariable("HOME");
    return QDir::isAbsolutePath(home) ? home + QStringLiteral("/.cache/thumbnails") : QString();
}

const ThumbnailStore::SizeClass& ThumbnailStore::sizeClassFor(int maxPixelSize)
{
    const auto found = std::find_if(sizeClasses.begin(), sizeClasses.end(),
        [maxPixelSize](const SizeClass& sizeClass) { return sizeClass.pixelSize >= maxPixelSize; });
    return found != sizeClasses.end() ? *found : sizeClasses.back();
}

bool ThumbnailStore::isInside(const QString& path) const
{
    const auto below = [](const QString& path, const QString& folder) {
        return !folder.isEmpty() && path.startsWith(folder + QLatin1Char('/'));
    };
    // The folder may be reached through a link, or be one.
    return below(path, m_folder) || below(QFileInfo(path).canonicalFilePath(), QFileInfo(m_folder).canonicalFilePath());
}

QImage ThumbnailStore::thumbnail(const QUrl& url, int maxPixelSize, const ThumbnailProvider::Decoder& decode) const
{
    const QString path = QFileInfo(url.toLocalFile()).absoluteFilePath();
    const std::optional<SourceFile> source
        = usable() && url.isLocalFile() && maxPixelSize > 0 && !isInside(path) ? sourceFile(path) : std::nullopt;
    if (!source)
        return decode(url, maxPixelSize);

    const QString name
        = QString::fromLatin1(QCryptographicHash::hash(source->uri, QCryptographicHash::Md5).toHex() + ".png");
    const SizeClass& sizeClass = sizeClassFor(maxPixelSize);
    const QString sizeFolder = m_folder + QLatin1Char('/') + QLatin1String(sizeClass.folderName);
    if (const QImage stored = readValid(sizeFolder + QLatin1Char('/') + name, *source); !stored.isNull())
        return finished(stored, maxPixelSize);
    const QString failures = m_folder + QLatin1Char('/') + QLatin1String(failureFolder);
    if (!readValid(failures + QLatin1Char('/') + name, *source).isNull())
        return {};

    // Decoded at the class's size (never enlarged) so that every size of the class can use it.
    const QImage decoded = decode(url, sizeClass.pixelSize);
    bool written = false;
    if (decoded.isNull()) {
        // The standard leaves the picture of a failure entry open; its keys are what counts.
        QImage placeholder(1, 1, QImage::Format_RGB32);
        placeholder.fill(Qt::black);
        written = write(failures, name, placeholder, *source);
    } else {
        written = write(sizeFolder, name, decoded, *source);
    }
    if (!written)
        qCDebug(lcThumbnails) << "cannot store the thumbnail of" << path << "in" << m_folder;
    return decoded.isNull() ? QImage() : finished(decoded, maxPixelSize);
}

ThumbnailProvider::Decoder ThumbnailStore::cachingDecoder(ThumbnailProvider::Decoder decode) const
{
    return [store = *this, decode = std::move(decode)](
               const QUrl& url, int maxPixelSize) { return store.thumbnail(url, maxPixelSize, decode); };
}

} // namespace limnoscope
