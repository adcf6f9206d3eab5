// Fuzz target: the metadata text parser, its settings-line segmenter and the render-time
// marker split, on any text a reader could hand over.

#include "FuzzSupport.h"
#include "MetadataParser.h"
#include "NumberParsing.h"

using namespace limnoscope;
using fuzz::isTrimmedOfSpacesAndTabs;

namespace {

void checkRecord(const LimnoraMetadata& record)
{
    FUZZ_CHECK(record.prompt == record.prompt.trimmed());
    FUZZ_CHECK(record.negativePrompt == record.negativePrompt.trimmed());
    FUZZ_CHECK(record.rawSettingsString == record.rawSettingsString.trimmed());
    FUZZ_CHECK(record.rawSettingsString.isEmpty() || record.rawSettingsString.startsWith(QLatin1String("Steps:")));
    FUZZ_CHECK(!record.renderDuration);
    if (record.rawSettingsString.isEmpty()) {
        FUZZ_CHECK(record.settings.isEmpty());
        FUZZ_CHECK(record.loras.isEmpty());
    }

    for (const auto& [key, value] : record.settings.entries()) {
        FUZZ_CHECK(!key.isEmpty() && !value.isEmpty());
        FUZZ_CHECK(isTrimmedOfSpacesAndTabs(key) && isTrimmedOfSpacesAndTabs(value));
        FUZZ_CHECK(!key.contains(QLatin1String(": ")));
        FUZZ_CHECK(!parseLoraKey(key));
        FUZZ_CHECK(record.settings.value(key) == value);
    }
    for (const LoraEntry& lora : record.loras) {
        FUZZ_CHECK(!lora.file.isEmpty());
        FUZZ_CHECK(isTrimmedOfSpacesAndTabs(lora.file));
        FUZZ_CHECK(lora.mode == QLatin1String("all"));
    }
}

void checkSegments(const QString& line)
{
    const QStringList segments = settingsSegments(line);
    qsizetype characters = 0;
    for (const QString& segment : segments) {
        FUZZ_CHECK(!segment.isEmpty());
        FUZZ_CHECK(isTrimmedOfSpacesAndTabs(segment));
        FUZZ_CHECK(line.contains(segment));
        characters += segment.size();
    }
    FUZZ_CHECK(characters <= line.size());
}

void checkMarker(const QString& text)
{
    const MarkedText marked = splitRenderTimeMarker(text);
    const qsizetype marker = text.indexOf(renderTimeMarker);
    if (marker < 0) {
        FUZZ_CHECK(marked.text == text);
        FUZZ_CHECK(!marked.renderDuration);
        return;
    }
    FUZZ_CHECK(marked.text == text.first(marker));
    FUZZ_CHECK(marked.renderDuration == parseDouble(QStringView(text).sliced(marker + renderTimeMarker.size())));

    const LimnoraMetadata record = parseMarkedMetadataText(text);
    FUZZ_CHECK(record.renderDuration == marked.renderDuration);
    FUZZ_CHECK(record.prompt == parseMetadataText(marked.text).prompt);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QString text = fuzz::textOf(data, size);
    const LimnoraMetadata record = parseMetadataText(text);
    checkRecord(record);
    checkSegments(text);
    checkSegments(record.rawSettingsString);
    checkMarker(text);
    return 0;
}
