#pragma once

#include <QImage>
#include <QUrl>

namespace limnoscope {

// Decodes an image file straight to a small size, with the file's orientation applied.
// Pure and thread-safe: runs on worker threads (thumbnails, preview pane).

// The image of the local file `url`, upright, its longer side at most `maxPixelSize` pixels (a
// smaller image is not enlarged), as 32-bit RGB (with premultiplied alpha when it has alpha).
// A null image for an unsupported extension, an unreadable, damaged or truncated file, or a file
// whose decode would need more memory than `maxDecodeMegabytes`: JPEG counts at the reduced scale
// it decodes at, the other formats at full size.
[[nodiscard]] QImage decodeDownsampled(const QUrl& url, int maxPixelSize);

// The finishing step of every decode: `image` scaled down so that its longer side is at most
// `maxPixelSize` (for decoders that ignore a requested size, and for images decoded at a larger
// size before), in a 32-bit format that paints without conversion. A null image stays null.
[[nodiscard]] QImage finished(QImage image, int maxPixelSize);

// Most memory one decode may allocate: a file needing more is refused, not decoded.
inline constexpr int maxDecodeMegabytes = 256;

// Largest file that is read at all (files are read whole).
inline constexpr qint64 maxFileBytes = 512LL * 1024 * 1024;

// Widest or tallest HEIC image that is opened at all.
inline constexpr int maxHEICSideLength = 32768;

} // namespace limnoscope
