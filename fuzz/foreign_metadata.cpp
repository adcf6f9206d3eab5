// Fuzz target: the other generators' readers and their dispatch on any set of texts an image
// could hold, the A1111 infotext reader on the whole input, the UserComment decoder on its bytes,
// and the raw-text and hidden-text readers on the input written as an image file.

#include "ForeignMetadata.h"
#include "FuzzSupport.h"
#include "RawMetadataTexts.h"
#include "StealthPNGInfo.h"

#include <QDir>
#include <QFile>

#include <array>
#include <unistd.h>

using namespace limnoscope;

namespace {

// The places generators write to, so that each reader meets texts under the names it looks for.
const std::array<const char*, 26> sourceNames = { "parameters", "prompt", "workflow", "UserComment", "JPEG COM",
    "Sidecar", "Comment", "Description", "Software", "Source", "Title", "ImageDescription", "Make", "Model", "XMP",
    "invokeai_metadata", "sd-metadata", "Dream", "sui_image_params", "fooocus_scheme", "negative_prompt",
    "num_inference_steps", "seed", "use_stable_diffusion_model", "guidance_scale", "width" };

// The input as texts: each part between 0xFF bytes is one text, its first byte choosing the
// source name.
QList<RawText> splitIntoTexts(const QByteArray& input)
{
    QList<RawText> texts;
    for (const QByteArray& part : input.split('\xFF')) {
        if (part.isEmpty())
            continue;
        const char* source = sourceNames[uchar(part[0]) % sourceNames.size()];
        texts.append({ QString::fromLatin1(source), QString::fromUtf8(part.sliced(1)) });
    }
    return texts;
}

void checkRecord(const std::optional<LimnoraMetadata>& record)
{
    if (!record)
        return;
    FUZZ_CHECK(!record->generator.isEmpty());
    FUZZ_CHECK(record->rawTexts.isEmpty());
    for (const auto& [key, value] : record->settings.entries()) {
        FUZZ_CHECK(!key.trimmed().isEmpty() && !value.trimmed().isEmpty());
        FUZZ_CHECK(record->settings.value(key) == value);
    }
    for (const LoraEntry& lora : record->loras)
        FUZZ_CHECK(!lora.file.isEmpty());
}

QString imagePath()
{
    static const QString path = QDir::temp().filePath(QStringLiteral("limnoscope-fuzz-%1.img").arg(::getpid()));
    return path;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray input = fuzz::bytesOf(data, size);
    const QList<RawText> texts = splitIntoTexts(input);
    const auto record = readForeignMetadata(texts);
    checkRecord(record);
    for (const auto reader : { readComfyUI, readSwarmUI, readInvokeAI, readNovelAI, readFooocus, readEasyDiffusion })
        checkRecord(reader(texts));
    if (!texts.isEmpty() && !record)
        FUZZ_CHECK(!readComfyUI(texts));

    const QString text = fuzz::textOf(data, size);
    const auto infotext = readA1111Infotext(text);
    checkRecord(infotext);
    (void)looksLikeA1111Infotext(text);

    for (const bool bigEndian : { true, false })
        FUZZ_CHECK(!decodeUserComment(input, bigEndian).endsWith(QChar(0)));

    QFile file(imagePath());
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(input) == input.size()) {
        file.close();
        const QList<RawText> raw = readRawMetadataTexts(imagePath());
        FUZZ_CHECK(raw.size() <= maxRawTextCount);
        for (const RawText& entry : raw)
            FUZZ_CHECK(!entry.source.isEmpty() && !entry.text.trimmed().isEmpty());
        checkRecord(readForeignMetadata(raw));
        for (const RawText& entry : readStealthPNGTexts(imagePath()))
            FUZZ_CHECK(!entry.source.isEmpty() && !entry.text.trimmed().isEmpty());
    }
    QFile::remove(imagePath());
    return 0;
}
