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
std::atomic<int> singleFileTimeoutMs = int(exiftoolSingleFileTimeout.count());
std::atomic<int> batchBaseTimeoutMs = int(exiftoolBatchBaseTimeout.count());
std::atomic<int> batchTimeoutPerFileMs = int(exiftoolBatchTimeoutPerFile.count());
std::atomic<int> batchTimeoutCapMs = int(exiftoolBatchTimeoutCap.count());
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

// How a child's run ended: only a child that ended on its own has output worth reading.
enum class ChildEnd { Exited, Failed, TimedOut, Cancelled };

struct ChildRun {
    ChildEnd end = ChildEnd::Failed;
    QByteArray output;
};

// A shell reports a command killed by a signal as 128 plus the signal's number; exiftool's own
// codes are 0 to 2.
constexpr int shellSignalExitBase = 128;

// Runs `program` with `arguments` and returns everything it printed on standard output.
// The output is read while the child runs, so a child with a lot to say never blocks. A child
// that outlives `timeoutMs`, prints more than any real output comes to, crashes or whose caller
// gives up is killed and reaped and yields nothing: what it printed so far may be any part of a
// text, and a part must not pass for the whole.
ChildRun runAndCollect(
    const QString& program, const QStringList& arguments, int timeoutMs, const std::function<bool()>& isCancelled = {})
{
    QProcess process;
    process.setProgram(program);
    process.setArguments(arguments);
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    process.start(QIODevice::ReadOnly);
    if (!process.waitForStarted())
        return {};

    const QDeadlineTimer deadline(timeoutMs);
    QByteArray output;
    const auto stop = [&process](ChildEnd end) {
        process.kill();
        process.waitForFinished();
        return ChildRun { end, {} };
    };
    for (;;) {
        const int wait = int(std::min<qint64>(deadline.remainingTime(), cancelPollIntervalMs));
        const bool readMore = process.waitForReadyRead(wait);
        output += process.readAllStandardOutput();
        if (isCancelled && isCancelled())
            return stop(ChildEnd::Cancelled);
        if (output.size() > maxOutputBytes)
            return stop(ChildEnd::Failed);
        if (readMore)
            continue;
        // Nothing to read: finished, not yet, or standard output closed by a child that runs on.
        if (process.state() != QProcess::NotRunning)
            process.waitForFinished(wait);
        if (process.state() != QProcess::NotRunning && !deadline.hasExpired())
            continue;
        if (process.state() != QProcess::NotRunning)
            return stop(ChildEnd::TimedOut);
        output += process.readAllStandardOutput();
        if (output.size() > maxOutputBytes || process.exitStatus() != QProcess::NormalExit
            || process.exitCode() >= shellSignalExitBase)
            return {};
        return { ChildEnd::Exited, output };
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

int batchTimeoutMs(qsizetype fileCount)
{
    const qint64 scaled = qint64(batchBaseTimeoutMs) + qint64(batchTimeoutPerFileMs) * fileCount;
    return int(std::min<qint64>(scaled, batchTimeoutCapMs));
}

// The texts of a whole JSON array of objects; nothing for any other output.
std::optional<QHash<QUrl, QString>> parseBatchOutput(const QByteArray& output)
{
    const QJsonDocument document = QJsonDocument::fromJson(output);
    if (!document.isArray())
        return std::nullopt;
    const QJsonArray entries = document.array();
    for (const QJsonValue &entry : entries) {
        if (!entry.isObject())
            return std::nullopt;
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

struct BatchRun {
    ChildEnd end = ChildEnd::Failed;
    QHash<QUrl, QString> texts;
};

// One exiftool process for up to 100 files, through /bin/sh with every path quoted; the shell
// replaces itself with exiftool, so that a kill at the deadline stops exiftool and not only the
// shell. It has answered only when it ended on its own and printed a whole JSON array.
BatchRun runBatch(const QString& program, const QList<QUrl>& fileURLs, const std::function<bool()>& isCancelled)
{
    QStringList quotedPaths;
    quotedPaths.reserve(fileURLs.size());
    for (const QUrl& url : fileURLs)
        quotedPaths.append(shellQuote(url.toLocalFile()));
    const QString commandLine = QStringLiteral("exec ") + shellQuote(program) + QStringLiteral(" -json ")
        + QStringLiteral("-Description -Comment -UserComment -Parameters -all") + QStringLiteral(" -q ")
        + quotedPaths.join(u' ');

    const ChildRun run = runAndCollect(
        QStringLiteral("/bin/sh"), { QStringLiteral("-c"), commandLine }, batchTimeoutMs(fileURLs.size()), isCancelled);
    if (run.end != ChildEnd::Exited)
        return { run.end, {} };
    auto texts = parseBatchOutput(run.output);
    if (!texts)
        return {};
    return { ChildEnd::Exited, std::move(*texts) };
}

void recordAnswer(const QList<QUrl>& fileURLs, BatchRun&& run, ExiftoolBatchResult& result)
{
    result.texts.insert(run.texts);
    for (const QUrl& url : fileURLs)
        result.settled.insert(url);
}

// `fileURLs` ran out of time as one batch: each half is run on its own, and a half that runs
// out of time again is split in turn, down to the single file exiftool hangs on, which is
// settled without a text. When both halves run out of time, more than one file (or exiftool
// itself) hangs and further splits would cost more than they save: both halves stay unsettled.
void splitTimedOutBatch(const QString& program, const QList<QUrl>& fileURLs, const std::function<bool()>& isCancelled,
    ExiftoolBatchResult& result)
{
    const QList<QUrl> halves[] = { fileURLs.first(fileURLs.size() / 2), fileURLs.sliced(fileURLs.size() / 2) };
    ChildEnd ends[2] = {};
    for (int i = 0; i < 2; ++i) {
        if (isCancelled && isCancelled())
            return;
        BatchRun run = runBatch(program, halves[i], isCancelled);
        ends[i] = run.end;
        if (run.end == ChildEnd::Cancelled)
            return;
        if (run.end == ChildEnd::Exited)
            recordAnswer(halves[i], std::move(run), result);
    }
    if (ends[0] == ChildEnd::TimedOut && ends[1] == ChildEnd::TimedOut)
        return;
    for (int i = 0; i < 2; ++i) {
        if (ends[i] != ChildEnd::TimedOut)
            continue;
        if (halves[i].size() == 1)
            result.settled.insert(halves[i].first());
        else
            splitTimedOutBatch(program, halves[i], isCancelled, result);
    }
}

} // namespace

QHash<QUrl, QString> parseExiftoolBatchOutput(const QByteArray& output)
{
    return parseBatchOutput(output).value_or(QHash<QUrl, QString>());
}

void setExiftoolTimeouts(std::chrono::milliseconds singleFile, std::chrono::milliseconds batchCap,
    std::chrono::milliseconds batchBase, std::chrono::milliseconds batchPerFile)
{
    singleFileTimeoutMs = int(singleFile.count());
    batchTimeoutCapMs = int(batchCap.count());
    batchBaseTimeoutMs = int(batchBase.count());
    batchTimeoutPerFileMs = int(batchPerFile.count());
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
    ChildRun run;
    if (QFileInfo::exists(QStringLiteral("/usr/bin/perl")))
        run = runAndCollect(
            QStringLiteral("/usr/bin/perl"), QStringList { *program } + toolArguments, singleFileTimeoutMs);
    else if (QFileInfo::exists(QStringLiteral("/usr/local/bin/perl")))
        run = runAndCollect(
            QStringLiteral("/usr/local/bin/perl"), QStringList { *program } + toolArguments, singleFileTimeoutMs);
    else
        run = runAndCollect(*program, toolArguments, singleFileTimeoutMs);
    if (run.end != ChildEnd::Exited)
        return std::nullopt;

    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = QString(decoder.decode(run.output)).trimmed();
    if (decoder.hasError() || text.isEmpty())
        return std::nullopt;
    return text;
}

ExiftoolBatchResult readBatchesWithExiftool(const QList<QUrl>& fileURLs, const std::function<bool()>& isCancelled)
{
    const auto program = locateExiftool();
    if (!program)
        return {};
    ExiftoolBatchResult result;
    for (qsizetype start = 0; start < fileURLs.size(); start += filesPerBatch) {
        if (isCancelled && isCancelled())
            break;
        const QList<QUrl> batch = fileURLs.mid(start, filesPerBatch);
        BatchRun run = runBatch(*program, batch, isCancelled);
        if (run.end == ChildEnd::Exited)
            recordAnswer(batch, std::move(run), result);
        else if (run.end == ChildEnd::TimedOut && batch.size() > 1)
            splitTimedOutBatch(*program, batch, isCancelled, result);
    }
    return result;
}

QHash<QUrl, QString> readBatchWithExiftool(const QList<QUrl>& fileURLs, const std::function<bool()>& isCancelled)
{
    return readBatchesWithExiftool(fileURLs, isCancelled).texts;
}

QString shellQuote(const QString &text)
{
    QString quoted = text;
    quoted.replace(u'\'', QLatin1String("'\\''"));
    return u'\'' + quoted + u'\'';
}

} // namespace limnoscope
