#include "ExiftoolRunner.h"

#include "MetadataParser.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutex>
#include <QProcess>
#include <QStringDecoder>

#include <algorithm>
#include <atomic>
#include <charconv>

namespace limnoscope {
namespace {

std::atomic_bool exiftoolDisabled = false;

constexpr qsizetype filesPerBatch = 100;
// exiftool starts in about 80 ms and reads hundreds of files a second; these bounds only stop
// a child that hangs.
constexpr std::chrono::milliseconds defaultSingleFileTimeout{30'000};
constexpr std::chrono::milliseconds defaultBatchTimeout{300'000};
std::atomic<int> singleFileTimeoutMs = int(defaultSingleFileTimeout.count());
std::atomic<int> batchTimeoutMs = int(defaultBatchTimeout.count());
// A hundred files of generation text come to a few megabytes; more than this is a child gone
// wrong, and reading on would only fill memory.
constexpr qsizetype maxOutputBytes = 64 * 1024 * 1024;
// How often a running batch asks whether its caller has given up (the folder closed).
constexpr int cancelPollIntervalMs = 100;

QMutex resourcesMutex;
QString resourcesOverride;

QString defaultResourcesDirectory()
{
    // Installed: <prefix>/bin/limnoscope beside <prefix>/share/limnoscope.
    const QString executable = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
    if (!executable.isEmpty()) {
        const QString installed = QFileInfo(executable).absolutePath() + QStringLiteral("/../share/limnoscope");
        if (QFileInfo(installed).isDir())
            return QFileInfo(installed).canonicalFilePath();
    }
#ifdef LIMNOSCOPE_BUILD_RESOURCES_DIR
    if (QFileInfo(QStringLiteral(LIMNOSCOPE_BUILD_RESOURCES_DIR)).isDir())
        return QStringLiteral(LIMNOSCOPE_BUILD_RESOURCES_DIR);
#endif
    return {};
}

// Runs `program` with `arguments` and returns everything it printed on standard output.
// The output is read while the child runs, so a child with a lot to say never blocks; a child
// that outlives `timeoutMs` is killed and reaped, and what it printed is kept. A child that
// prints more than any real output comes to, or whose caller gives up, is killed and yields
// nothing.
std::optional<QByteArray> runAndCollect(const QString &program, const QStringList &arguments, int timeoutMs,
                                        const std::function<bool()> &isCancelled = {})
{
    QProcess process;
    process.setProgram(program);
    process.setArguments(arguments);
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    process.start(QIODevice::ReadOnly);
    if (!process.waitForStarted())
        return std::nullopt;

    const QDeadlineTimer deadline(timeoutMs);
    QByteArray output;
    const auto stop = [&process] {
        process.kill();
        process.waitForFinished();
    };
    for (;;) {
        const int wait = int(std::min<qint64>(deadline.remainingTime(), cancelPollIntervalMs));
        const bool readMore = process.waitForReadyRead(wait);
        output += process.readAllStandardOutput();
        if (output.size() > maxOutputBytes || (isCancelled && isCancelled())) {
            stop();
            return std::nullopt;
        }
        if (readMore)
            continue;
        // Nothing to read: finished, not yet, or standard output closed by a child that runs on.
        if (process.state() != QProcess::NotRunning)
            process.waitForFinished(wait);
        if (process.state() != QProcess::NotRunning && !deadline.hasExpired())
            continue;
        if (process.state() != QProcess::NotRunning)
            stop();
        output += process.readAllStandardOutput();
        if (output.size() > maxOutputBytes)
            return std::nullopt;
        return output;
    }
}

// Shortest text that reads back to the same double, with at least one digit after the point.
QString durationText(double seconds)
{
    char buffer[64];
    const auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, seconds);
    if (error != std::errc())
        return {};
    QString text = QString::fromLatin1(buffer, end - buffer);
    if (!text.contains(u'.') && !text.contains(u'e'))
        text += QStringLiteral(".0");
    return text;
}

std::optional<double> renderDurationOf(const QJsonValue &userComment)
{
    if (!userComment.isString())
        return std::nullopt;
    const QJsonDocument document = QJsonDocument::fromJson(userComment.toString().toUtf8());
    const QJsonValue duration = document.object().value(QLatin1String("profile")).toObject().value(QLatin1String("duration"));
    if (!document.isObject() || !duration.isDouble())
        return std::nullopt;
    return duration.toDouble();
}

// One exiftool process for up to 100 files, through /bin/sh with every path quoted.
QHash<QUrl, QString> runBatch(const QString &program, const QList<QUrl> &fileURLs,
                              const std::function<bool()> &isCancelled)
{
    QStringList quotedPaths;
    quotedPaths.reserve(fileURLs.size());
    for (const QUrl &url : fileURLs)
        quotedPaths.append(shellQuote(url.toLocalFile()));
    const QString commandLine = shellQuote(program) + QStringLiteral(" -json ")
        + QStringLiteral("-Description -Comment -UserComment -Parameters -all") + QStringLiteral(" -q ")
        + quotedPaths.join(u' ');

    const auto output = runAndCollect(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), commandLine}, batchTimeoutMs,
                                     isCancelled);
    if (!output)
        return {};
    return parseExiftoolBatchOutput(*output);
}

} // namespace

QHash<QUrl, QString> parseExiftoolBatchOutput(const QByteArray &output)
{
    if (output.isEmpty())
        return {};
    const QJsonDocument document = QJsonDocument::fromJson(output);
    if (!document.isArray())
        return {};
    const QJsonArray entries = document.array();
    for (const QJsonValue &entry : entries) {
        if (!entry.isObject())
            return {};
    }

    QHash<QUrl, QString> texts;
    for (const QJsonValue &entry : entries) {
        const QJsonObject object = entry.toObject();
        const QJsonValue sourceFile = object.value(QLatin1String("SourceFile"));
        if (!sourceFile.isString())
            continue;
        const QUrl url = QUrl::fromLocalFile(sourceFile.toString());
        const QJsonValue text = object.contains(QLatin1String("Description")) ? object.value(QLatin1String("Description"))
                                                                               : object.value(QLatin1String("ImageDescription"));
        if (!text.isString())
            continue;
        QString stored = text.toString();
        if (const auto seconds = renderDurationOf(object.value(QLatin1String("UserComment")))) {
            if (const QString number = durationText(*seconds); !number.isEmpty())
                stored += renderTimeMarker + number;
        }
        texts.insert(url, stored);
    }
    return texts;
}

void setExiftoolTimeouts(std::chrono::milliseconds singleFile, std::chrono::milliseconds batch)
{
    singleFileTimeoutMs = int(singleFile.count());
    batchTimeoutMs = int(batch.count());
}

void setExiftoolDisabled(bool disabled)
{
    exiftoolDisabled = disabled;
}

QString resourcesDirectory()
{
    QMutexLocker lock(&resourcesMutex);
    if (!resourcesOverride.isNull())
        return resourcesOverride;
    return defaultResourcesDirectory();
}

void setResourcesDirectory(const QString &path)
{
    QMutexLocker lock(&resourcesMutex);
    resourcesOverride = path;
}

std::optional<QString> locateExiftool()
{
    if (exiftoolDisabled)
        return std::nullopt;
    const QString resources = resourcesDirectory();
    if (resources.isEmpty())
        return std::nullopt;

    const QString bundled = resources + QStringLiteral("/exiftool");
    if (QFileInfo::exists(bundled)) {
        QFile::setPermissions(bundled, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup
                                           | QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther);
        return bundled;
    }
    for (const char *path : {"/usr/local/bin/exiftool", "/opt/homebrew/bin/exiftool", "/usr/bin/exiftool"}) {
        if (QFileInfo::exists(QLatin1String(path)))
            return QString::fromLatin1(path);
    }
    return std::nullopt;
}

std::optional<QString> readDescriptionWithExiftool(const QUrl &fileURL)
{
    const auto program = locateExiftool();
    if (!program)
        return std::nullopt;

    const QStringList toolArguments = {QStringLiteral("-b"), QStringLiteral("-Description"), QStringLiteral("-q"),
                                       fileURL.toLocalFile()};
    std::optional<QByteArray> output;
    if (QFileInfo::exists(QStringLiteral("/usr/bin/perl")))
        output = runAndCollect(QStringLiteral("/usr/bin/perl"), QStringList{*program} + toolArguments, singleFileTimeoutMs);
    else if (QFileInfo::exists(QStringLiteral("/usr/local/bin/perl")))
        output = runAndCollect(QStringLiteral("/usr/local/bin/perl"), QStringList{*program} + toolArguments, singleFileTimeoutMs);
    else
        output = runAndCollect(*program, toolArguments, singleFileTimeoutMs);
    if (!output)
        return std::nullopt;

    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = QString(decoder.decode(*output)).trimmed();
    if (decoder.hasError() || text.isEmpty())
        return std::nullopt;
    return text;
}

QHash<QUrl, QString> readBatchWithExiftool(const QList<QUrl> &fileURLs, const std::function<bool()> &isCancelled)
{
    const auto program = locateExiftool();
    if (!program)
        return {};
    QHash<QUrl, QString> texts;
    for (qsizetype start = 0; start < fileURLs.size(); start += filesPerBatch) {
        if (isCancelled && isCancelled())
            break;
        texts.insert(runBatch(*program, fileURLs.mid(start, filesPerBatch), isCancelled));
    }
    return texts;
}

QString shellQuote(const QString &text)
{
    QString quoted = text;
    quoted.replace(u'\'', QLatin1String("'\\''"));
    return u'\'' + quoted + u'\'';
}

} // namespace limnoscope
