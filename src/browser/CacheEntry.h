#pragma once

#include "FileStamp.h"
#include "LimnoraMetadata.h"

#include <optional>

namespace limnoscope {

// A cached metadata reading of one image: `loaded` with its record, or `noMetadata` when the
// image was read and holds no generation text, or could not be opened at all (`readError`).
// Remembers the file's stamp from just before the read, so that a file changed since can be read
// again. Plain value; any thread.
class CacheEntry
{
public:
    enum class Kind { loaded, noMetadata };

    // No record gives `noMetadata`; a record gives `loaded`.
    // `readError` is the error number of opening the file, 0 when it opened.
    CacheEntry(std::optional<LimnoraMetadata> metadata, std::optional<FileStamp> stamp, int readError = 0)
        : m_metadata(std::move(metadata))
        , m_stamp(stamp)
        , m_readError(readError)
    {
    }

    [[nodiscard]] Kind kind() const { return m_metadata ? Kind::loaded : Kind::noMetadata; }
    [[nodiscard]] bool isLoaded() const { return m_metadata.has_value(); }
    [[nodiscard]] const std::optional<LimnoraMetadata>& metadata() const { return m_metadata; }
    [[nodiscard]] const std::optional<FileStamp>& fileStamp() const { return m_stamp; }
    [[nodiscard]] int readError() const { return m_readError; }
    // True for a record kept for a whole folder without its raw texts, which were too long: the
    // image on screen has them read again.
    [[nodiscard]] bool lacksRawTexts() const { return m_metadata && m_metadata->rawTextsLeftOut; }

    // True when the file's stamp now differs from the one it had when it was read.
    [[nodiscard]] bool isOutOfDate(const std::optional<FileStamp>& currentStamp) const
    {
        return currentStamp != m_stamp;
    }

private:
    std::optional<LimnoraMetadata> m_metadata;
    std::optional<FileStamp> m_stamp;
    int m_readError = 0;
};

} // namespace limnoscope
