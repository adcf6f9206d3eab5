#include "ForeignMetadata.h"

namespace limnoscope {

std::optional<LimnoraMetadata> readForeignMetadata(const QList<RawText> &)
{
    return std::nullopt; // being written
}

} // namespace limnoscope
