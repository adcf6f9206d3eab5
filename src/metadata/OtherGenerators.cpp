#include "ForeignMetadata.h"

namespace limnoscope {

// being written
std::optional<LimnoraMetadata> readSwarmUI(const QList<RawText> &) { return std::nullopt; }
std::optional<LimnoraMetadata> readInvokeAI(const QList<RawText> &) { return std::nullopt; }
std::optional<LimnoraMetadata> readNovelAI(const QList<RawText> &) { return std::nullopt; }
std::optional<LimnoraMetadata> readFooocus(const QList<RawText> &) { return std::nullopt; }
std::optional<LimnoraMetadata> readEasyDiffusion(const QList<RawText> &) { return std::nullopt; }

} // namespace limnoscope
