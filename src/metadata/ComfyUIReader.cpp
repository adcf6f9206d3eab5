#include "ForeignMetadata.h"

namespace limnoscope {

std::optional<LimnoraMetadata> readComfyUI(const QList<RawText> &)
{
    return std::nullopt; // being written
}

} // namespace limnoscope
