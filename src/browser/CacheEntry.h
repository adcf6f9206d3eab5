#pragma once

#include "FileStamp.h"
#include "LimnoraMetadata.h"

#include <optional>

namespace limnoscope {

// A cached metadata reading of one image: `loaded` with its record, or `noMetadata` when the
// image was read and holds no generation text. Remembers the file's stamp from just before the
// read, so that a file changed since can be read again. Plain value; any thread.
class CacheEntry
{
public:
    enum class Kind { loaded, noMetadata };

    // No record gives `noMetadata`; a record gives `loaded`.
    CacheEntry(std::optional<LimnoraMetadata> metadata, std::optional<FileStamp> stamp)
        : m_metadata(std::move(metadata))
        , m_stamp(stamp)
    {
    }

    [[nodiscard]] Kind kind() const { return m_metadata ? Kind::loaded : Kind::noMetadata; }
    [[nodiscard]] bool isLoaded() const { return m_metadata.has_value(); }
    [[nodiscard]] const std::optional<LimnoraMetadata>& metadata() const { return m_metadata; }
    [[nodiscard]] const std::optional<FileStamp>& fileStamp() const { return m_stamp; }

    // True when the file's stamp now differs from the one it had when it was read.
    [[nodiscard]] bool isOutOfDate(const std::optional<FileStamp>& currentStamp) const
    {
        return currentStamp != m_stamp;
    }

private:
    std::optional<LimnoraMetadata> m_metadata;
    std::optional<FileStamp> m_stamp;
};

} // namespace limnoscope
