#include "ForeignMetadata.h"

namespace limnoscope {

std::optional<LimnoraMetadata> readA1111Infotext(const QString &)
{
    return std::nullopt; // being written
}

bool looksLikeA1111Infotext(const QString &)
{
    return false; // being written
}

} // namespace limnoscope
