#pragma once

#include "LimnoraMetadata.h"

#include <QList>
#include <QString>

namespace limnoscope {

// Generation texts that some tools hide in a PNG's pixels instead of a text chunk. The lowest bit
// of each pixel's alpha value (or of its red, green and blue values, in that order), taken
// column by column from the top left, spell a 15-character signature, the text's length in bits
// (32 bits, most significant first) and the text's bytes: "stealth_pnginfo" (alpha, UTF-8),
// "stealth_pngcomp" (alpha, gzip-compressed), "stealth_rgbinfo" and "stealth_rgbcomp" (colour).

// The hidden text of the PNG at `path`, with its signature as the source; a JSON object of texts
// (NovelAI hides a copy of its text chunks so) gives its members instead, each under its own
// name. Nothing for any other file. Only 8-bit RGB and RGBA images without interlacing; an image
// whose first pixels spell no signature is given up after a few rows, so that plain PNGs cost
// next to nothing. Blocking; any thread.
[[nodiscard]] QList<RawText> readStealthPNGTexts(const QString& path);

// Bounds: larger images and texts are passed over.
inline constexpr qint64 maxStealthImageBytes = 256 * 1024 * 1024; // decoded pixels
inline constexpr qint64 maxStealthTextBytes = 16 * 1024 * 1024;

} // namespace limnoscope
