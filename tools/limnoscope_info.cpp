// limnoscope-info: prints the generation settings Limnoscope reads from images, one compact
// JSON object per image and line, using the same readers, folder scan and batch route as the
// application.
//
//   limnoscope-info [--batch] [--no-exiftool] [--sort name_asc|name_desc|date_asc|date_desc]
//                   [--format record|settings-json|txt2img] [--filter QUERY] PATH...
//   limnoscope-info --help | --version

#include "ExiftoolRunner.h"
#include "FileTags.h"
#include "FolderScan.h"
#include "ImageQuery.h"
#include "LimnoraAPI.h"
#include "MetadataExtraction.h"
#include "SettingsJSON.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>

using namespace limnoscope;

namespace {

enum class OutputFormat { Record, SettingsJSON, Txt2Img };

constexpr int exitUsage = 2;

constexpr char usageLine[] = "usage: limnoscope-info [--batch] [--no-exiftool] "
                             "[--sort name_asc|name_desc|date_asc|date_desc] "
                             "[--format record|settings-json|txt2img] [--filter QUERY] PATH...";

constexpr char optionHelp[]
    = "Prints the generation settings read from each image, one JSON object per image and line.\n"
      "A folder stands for its images and those of its immediate subfolders.\n"
      "\n"
      "  --batch          read as a folder opens: exiftool's batches, then the in-process readers\n"
      "  --no-exiftool    read with the in-process readers only\n"
      "  --sort ORDER     order of a folder's images (default name_asc)\n"
      "  --format FORMAT  record (default), settings-json or txt2img\n"
      "  --filter QUERY   print only the images the query matches, as the sidebar's search does:\n"
      "                   words, \"phrases\", -excluded, prompt: neg: model: lora: sampler: seed:\n"
      "                   steps: size: cfg: generator: tag: file:, and >N <N for seed, steps, cfg\n"
      "  --help           print this help and exit\n"
      "  --version        print the version and exit\n";

void printLine(const QJsonObject& object)
{
    const QByteArray line = QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
    std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
}

void complain(const QString& message)
{
    std::fprintf(stderr, "limnoscope-info: %s\n", qPrintable(message));
}

QJsonObject recordObject(const LimnoraMetadata& metadata)
{
    QJsonArray settings;
    for (const SettingItem& item : orderedSettingItems(metadata.settings))
        settings.append(QJsonArray { item.key, item.value });
    QJsonArray loras;
    for (const LoraEntry& lora : metadata.loras)
        loras.append(QJsonObject { { "file", lora.file }, { "weight", lora.weight }, { "mode", lora.mode } });
    QJsonObject object {
        { "generator", metadata.generator },
        { "prompt", metadata.prompt },
        { "negativePrompt", metadata.negativePrompt },
        { "settings", settings },
        { "loras", loras },
        { "rawSettingsString", metadata.rawSettingsString },
        { "renderDuration", metadata.renderDuration ? QJsonValue(*metadata.renderDuration) : QJsonValue() },
    };
    // Only records of other generators' images carry the file's texts.
    if (!metadata.rawTexts.isEmpty()) {
        QJsonArray rawTexts;
        for (const RawText& raw : metadata.rawTexts)
            rawTexts.append(QJsonObject { { "source", raw.source }, { "text", raw.text } });
        object.insert("rawTexts", rawTexts);
    }
    return object;
}

void printResult(const ImageMetadataResult& result, OutputFormat format, const ImageQuery& filter)
{
    if (!filter.isEmpty()) {
        const QString fileName = result.url.fileName();
        const QList<FinderTag> tags = filter.needsTags() ? readTags(result.url) : QList<FinderTag> {};
        if (!filter.matches({ result.metadata ? &*result.metadata : nullptr, fileName, &tags }))
            return;
    }
    QJsonObject line { { "file", result.url.toLocalFile() } };
    const auto& metadata = result.metadata;
    switch (format) {
    case OutputFormat::Record:
        line.insert("metadata", metadata ? QJsonValue(recordObject(*metadata)) : QJsonValue());
        break;
    case OutputFormat::SettingsJSON:
        line.insert("settings",
            metadata ? QJsonValue(QJsonDocument::fromJson(settingsJSONString(*metadata).toUtf8()).object())
                     : QJsonValue());
        break;
    case OutputFormat::Txt2Img:
        line.insert(
            "body", metadata ? QJsonValue(QJsonDocument::fromJson(txt2imgBody(*metadata)).object()) : QJsonValue());
        break;
    }
    printLine(line);
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QStringList arguments = QCoreApplication::arguments().mid(1);

    bool batch = false;
    SortOrder order = SortOrder::nameAscending;
    OutputFormat format = OutputFormat::Record;
    ImageQuery filter;
    QStringList paths;
    bool optionsEnded = false;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (optionsEnded || !argument.startsWith(u'-') || argument == QLatin1String("-")) {
            paths.append(argument);
        } else if (argument == QLatin1String("--")) {
            optionsEnded = true;
        } else if (argument == QLatin1String("--help")) {
            std::printf("%s\n\n%s", usageLine, optionHelp);
            return 0;
        } else if (argument == QLatin1String("--version")) {
            std::printf("limnoscope-info %s\n", LIMNOSCOPE_VERSION);
            return 0;
        } else if (argument == QLatin1String("--batch")) {
            batch = true;
        } else if (argument == QLatin1String("--no-exiftool")) {
            setExiftoolDisabled(true);
        } else if (argument == QLatin1String("--sort") && i + 1 < arguments.size()
            && SortOrders::fromRawValue(arguments[i + 1])) {
            order = *SortOrders::fromRawValue(arguments[++i]);
        } else if (argument == QLatin1String("--format") && i + 1 < arguments.size()) {
            const QString name = arguments[++i];
            if (name == QLatin1String("record")) {
                format = OutputFormat::Record;
            } else if (name == QLatin1String("settings-json")) {
                format = OutputFormat::SettingsJSON;
            } else if (name == QLatin1String("txt2img")) {
                format = OutputFormat::Txt2Img;
            } else {
                complain(QStringLiteral("unknown format '%1' (record, settings-json, txt2img)").arg(name));
                return exitUsage;
            }
        } else if (argument == QLatin1String("--filter") && i + 1 < arguments.size()) {
            QueryError error;
            const auto query = ImageQuery::parse(arguments[++i], &error);
            if (!query) {
                complain(QStringLiteral("bad --filter query: %1").arg(error.message));
                return exitUsage;
            }
            filter = *query;
        } else {
            complain(QStringLiteral("unknown option '%1'; %2").arg(argument, QLatin1String(usageLine)));
            return exitUsage;
        }
    }
    if (paths.isEmpty()) {
        complain(QStringLiteral("no PATH given"));
        return exitUsage;
    }

    int status = 0;
    QList<QUrl> images;
    for (const QString& path : paths) {
        const QFileInfo info(path);
        if (!info.exists()) {
            complain(QStringLiteral("no such file or folder: %1").arg(path));
            status = exitUsage;
        } else if (info.isDir()) {
            const auto groups = scanFolder(QUrl::fromLocalFile(info.absoluteFilePath()), order);
            if (!groups) {
                complain(QStringLiteral("cannot list folder: %1").arg(path));
                status = exitUsage;
                continue;
            }
            images += flattenGroups(*groups);
        } else {
            images.append(QUrl::fromLocalFile(info.absoluteFilePath()));
        }
    }

    if (batch) {
        readFolderMetadata(images, [format, &filter](const QList<ImageMetadataResult>& results) {
            for (const ImageMetadataResult& result : results)
                printResult(result, format, filter);
        });
    } else {
        for (const QUrl& url : images)
            printResult({ url, readImageMetadata(url) }, format, filter);
    }
    std::fflush(stdout);
    return status;
}
