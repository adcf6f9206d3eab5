#pragma once

#include "ThumbnailProvider.h"

#include <QDir>
#include <QImage>
#include <QString>
#include <QUrl>

#include <array>

namespace limnoscope {

// The thumbnails this user's programs share on disk, laid out as the freedesktop thumbnail
// standard says below $XDG_CACHE_HOME/thumbnails: one that is still valid for its file is read
// instead of decoding the file, a new decode is written for the next time, and a file that could
// not be decoded is remembered until it changes. A value holding only its folder's name; its
// functions block on file I/O and run on worker threads, any number at once.
class ThumbnailStore
{
public:
    // The standard's size classes: the folder and the longest side of the thumbnails in it.
    struct SizeClass {
        const char* folderName;
        int pixelSize;
    };
    static constexpr std::array<SizeClass, 4> sizeClasses { {
        { "normal", 128 },
        { "large", 256 },
        { "x-large", 512 },
        { "xx-large", 1024 },
    } };
    // `folder` is the thumbnails folder itself.
    explicit ThumbnailStore(QString folder = defaultFolder());

    // $XDG_CACHE_HOME/thumbnails, or $HOME/.cache/thumbnails when XDG_CACHE_HOME is unset, blank or
    // not absolute; empty when neither is absolute.
    [[nodiscard]] static QString defaultFolder();
    [[nodiscard]] QString folder() const { return m_folder; }
    // Whether there is a folder to use: without one every request is a plain decode.
    [[nodiscard]] bool usable() const { return QDir::isAbsolutePath(m_folder); }

    // The smallest class whose thumbnails are at least `maxPixelSize` wide, the largest beyond.
    [[nodiscard]] static const SizeClass& sizeClassFor(int maxPixelSize);

    // The thumbnail of the local file `url`, its longer side at most `maxPixelSize` (smoothly
    // scaled down from the size class's thumbnail): a valid stored one, else `decode`'s result at
    // the class's size, which is stored. Null when the file cannot be decoded, now or at an
    // earlier try of the same file state. Files inside the thumbnails folder, and every failure
    // of the store itself, go straight to `decode`.
    [[nodiscard]] QImage thumbnail(const QUrl& url, int maxPixelSize, const ThumbnailProvider::Decoder& decode) const;

    // `decode` with this store in front; the decoder keeps its own copy of the store.
    [[nodiscard]] ThumbnailProvider::Decoder cachingDecoder(ThumbnailProvider::Decoder decode) const;

private:
    [[nodiscard]] bool isInside(const QString& path) const;

    QString m_folder;
};

} // namespace limnoscope
