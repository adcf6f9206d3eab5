#pragma once

#include "LimnoraMetadata.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <optional>

namespace limnoscope {

// Reads the generation text out of a PNG's text chunks without touching the pixel data.
// Stateless and thread-safe; called on worker threads.

// The text of the first text chunk, in file order before the first image-data chunk, that
// carries generation metadata; nothing for anything else (missing, not a PNG, truncated...).
[[nodiscard]] std::optional<QString> readPNGTextMetadata(const QString& filePath);

// The decision for one chunk's data: its text when the keyword marks generation metadata.
// `chunkType` is "tEXt", "iTXt" or "zTXt".
[[nodiscard]] std::optional<QString> parseTextChunk(QByteArrayView data, QStringView chunkType);

// Any text chunk's keyword and text, whatever the keyword: tEXt and zTXt as Latin-1 (zTXt
// inflated), iTXt as UTF-8 (inflated when compressed). Nothing for a damaged chunk or one
// whose text is not valid in its encoding.
[[nodiscard]] std::optional<RawText> decodeTextChunk(QByteArrayView data, QStringView chunkType);

// `compressed` inflated: a zlib stream, or with `gzip` a gzip one. Nothing when it is damaged,
// cut short or larger than 16 MiB inflated.
[[nodiscard]] std::optional<QByteArray> inflateBytes(QByteArrayView compressed, bool gzip = false);

// The eight bytes every PNG file starts with.
inline constexpr QByteArrayView pngSignature("\x89PNG\r\n\x1a\n", 8);

// Longest text chunk that is read; longer ones stop the walk.
inline constexpr quint32 maxTextChunkLength = 9'999'999;

} // namespace limnoscope
