#include "ForeignMetadata.h"

#include <array>

namespace limnoscope {
namespace {

// Where the A1111 family writes its infotext, most likely first.
const std::array<QLatin1String, 8> infotextSources = {
    QLatin1String("parameters"),
    QLatin1String("UserComment"),
    QLatin1String("JPEG COM"),
    QLatin1String("Sidecar"),
    QLatin1String("stealth_pnginfo"), // hidden in the pixels
    QLatin1String("stealth_pngcomp"),
    QLatin1String("stealth_rgbinfo"),
    QLatin1String("stealth_rgbcomp"),
};
// Descriptions, where some tools copy the infotext and Limnora writes its own text (which the
// infotext reader would take too): read only when plainly an infotext.
const std::array<QLatin1String, 4> descriptionSources = {
    QLatin1String("Description"),
    QLatin1String("ImageDescription"),
    QLatin1String("Comment"),
    QLatin1String("XMP"),
};

} // namespace

std::optional<LimnoraMetadata> readForeignMetadata(const QList<RawText>& texts)
{
    if (texts.isEmpty())
        return std::nullopt;
    // Formats that name themselves (a keyword or a member only they write) before the infotext,
    // which some of them also write beside their own format.
    using Reader = std::optional<LimnoraMetadata> (*)(const QList<RawText>&);
    for (const Reader reader :
        { readComfyUI, readSwarmUI, readInvokeAI, readNovelAI, readFooocus, readEasyDiffusion }) {
        if (auto record = reader(texts))
            return record;
    }
    for (const QLatin1String source : infotextSources) {
        for (const RawText& raw : texts) {
            if (raw.source == source) {
                if (auto record = readA1111Infotext(raw.text))
                    return record;
            }
        }
    }
    for (const QLatin1String source : descriptionSources) {
        for (const RawText& raw : texts) {
            if (raw.source == source && looksLikeA1111Infotext(raw.text)) {
                if (auto record = readA1111Infotext(raw.text))
                    return record;
            }
        }
    }
    return std::nullopt;
}

} // namespace limnoscope
