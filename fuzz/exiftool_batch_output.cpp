// Fuzz target: the reader of exiftool's JSON output on the batch route.

#include "ExiftoolRunner.h"
#include "FuzzSupport.h"
#include "MetadataParser.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

using namespace limnoscope;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray output = fuzz::bytesOf(data, size);
    const QHash<QUrl, QString> texts = parseExiftoolBatchOutput(output);
    if (texts.isEmpty())
        return 0;

    // Only an array of objects yields texts, at most one per object, each for a local file.
    const QJsonDocument document = QJsonDocument::fromJson(output);
    FUZZ_CHECK(document.isArray());
    FUZZ_CHECK(texts.size() <= document.array().size());
    for (auto it = texts.cbegin(); it != texts.cend(); ++it)
        FUZZ_CHECK(it.key().isLocalFile() || it.key().isEmpty());

    // The last entry for a file wins; a text stands unchanged unless a render time follows it.
    QHash<QUrl, QString> lastDescription;
    for (const QJsonValue& entry : document.array()) {
        const QJsonObject object = entry.toObject();
        const QJsonValue description = object.contains(QLatin1String("Description"))
            ? object.value(QLatin1String("Description"))
            : object.value(QLatin1String("ImageDescription"));
        if (object.value(QLatin1String("SourceFile")).isString() && description.isString())
            lastDescription.insert(
                QUrl::fromLocalFile(object.value(QLatin1String("SourceFile")).toString()), description.toString());
    }
    FUZZ_CHECK(lastDescription.size() == texts.size());
    for (auto it = texts.cbegin(); it != texts.cend(); ++it) {
        const QString& description = lastDescription.value(it.key());
        FUZZ_CHECK(it.value().startsWith(description));
        if (it.value().size() > description.size()) {
            FUZZ_CHECK(QStringView(it.value()).sliced(description.size()).startsWith(renderTimeMarker));
            // The number written after the marker reads back.
            const QString number = it.value().sliced(description.size() + renderTimeMarker.size());
            FUZZ_CHECK(!number.isEmpty());
            if (!description.contains(renderTimeMarker))
                FUZZ_CHECK(splitRenderTimeMarker(it.value()).renderDuration.has_value());
        }
    }
    return 0;
}
