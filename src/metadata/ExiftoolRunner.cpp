#include "ExiftoolRunner.h"

#include "ExiftoolJSONStream.h"
#include "MetadataLogging.h"
#include "RegularFile.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QProcess>
#include <QStringDecoder>

#include <algorithm>
#include <atomic>

#include <csignal>
#include <sys/resource.h>
#include <unistd.h>

Q_LOGGING_CATEGORY(lcMetadata, "limnoscope.metadata", QtWarningMsg)

namespace limnoscope {
namespace {

std::atomic_bool exiftoolDisabled = false;

constexpr qsizetype filesPerBatch = 100;
std::atomic<int> singleFileTimeoutMs = int(exiftoolSingleFileTimeout.count());
std::atomic<int> batchBaseTimeoutMs = int(exiftoolBatchBaseTimeout.count());
std::atomic<int> batchTimeoutPerFileMs = int(exiftoolBatchTimeoutPerFile.count());
std::atomic<int> batchTimeoutCapMs = int(exiftoolBatchTimeoutCap.count());
// One file's text comes to a few kilobytes; more than this is a child gone wrong, and reading
// on would only fill memory. (A batch's output is read as it comes, see ExiftoolJSONStream.)
constexpr qsizetype maxSingleFileOutputBytes = 64 * 1024 * 1024;
// How long a child and its own children may take to end on SIGTERM before they are killed.
constexpr int terminationGraceMs = 200;
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

// A shell reports a command killed by a signal as 128 plus the signal's number; exiftool's own
// codes are 0 to 2.
constexpr int shellSignalExitBase = 128;

// Receives a child's output piece by piece while it runs; false when the output can no longer
// be what was asked for, which ends the child.
using OutputSink = std::function<bool(QByteArrayView)>;

// Ends the child's whole process group: exiftool may start children of its own, and Perl may
// fork; killing the child alone would leave them running, holding its output open.
void endProcessGroup(QProcess& process, qint64 group)
{
    if (group > 0) {
        ::kill(pid_t(-group), SIGTERM);
        process.waitForFinished(terminationGraceMs);
        ::kill(pid_t(-group), SIGKILL);
    }
    process.kill();
    process.waitForFinished();
}

// Runs `program` with `arguments`, handing everything it prints on standard output to `sink`.
// The output is read while the child runs, so a child with a lot to say never blocks. A child
// that outlives `timeoutMs`, whose output the sink refuses, that crashes or whose caller gives
// up is ended with everything it started and counts as not having answered: what it printed
// so far may be any part of a text, and a part must not pass for the whole.
ChildEnd runChild(const QString& program, const QStringList& arguments, int timeoutMs, const OutputSink& sink,
    const std::function<bool()>& isCancelled = {}, bool lowPriority = false)
{
    QProcess process;
    process.setProgram(program);
    process.setArguments(arguments);
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    // In the child, before exiftool starts: a process group of its own, so that it can be
    // ended with all it starts, and a memory cap (a small compressed bomb drove it to 3 GB).
    // Only async-signal-safe calls here.
    process.setChildProcessModifier([lowPriority] {
        ::setpgid(0, 0);
        const rlimit memory { rlim_t(exiftoolMemoryLimitBytes), rlim_t(exiftoolMemoryLimitBytes) };
        ::setrlimit(RLIMIT_AS, &memory);
        if (lowPriority)
            ::setpriority(PRIO_PROCESS, 0, exiftoolBatchNiceness);
    });
    process.start(QIODevice::ReadOnly);
    if (!process.waitForStarted()) {
        qCWarning(lcMetadata) << "exiftool could not start:" << process.errorString();
        return ChildEnd::Failed;
    }
    const qint64 group = process.processId();

    const QDeadlineTimer deadline(timeoutMs);
    const auto stop = [&process, group](ChildEnd end) {
        endProcessGroup(process, group);
        return end;
    };
    for (;;) {
        const int wait = int(std::min<qint64>(deadline.remainingTime(), cancelPollIntervalMs));
        const bool readMore = process.waitForReadyRead(wait);
        if (!sink(process.readAllStandardOutput()))
            return stop(ChildEnd::Failed);
        if (isCancelled && isCancelled())
            return stop(ChildEnd::Cancelled);
        if (readMore)
            continue;
        // Nothing to read: finished, not yet, or standard output closed by a child that runs on.
        if (process.state() != QProcess::NotRunning)
            process.waitForFinished(wait);
        if (process.state() != QProcess::NotRunning && !deadline.hasExpired())
            continue;
        if (process.state() != QProcess::NotRunning) {
            qCWarning(lcMetadata) << "exiftool ended after" << timeoutMs << "ms without an answer";
            return stop(ChildEnd::TimedOut);
        }
        // Whatever it left behind goes with it.
        endProcessGroup(process, group);
        if (!sink(process.readAllStandardOutput()))
            return ChildEnd::Failed;
        if (process.exitStatus() != QProcess::NormalExit || process.exitCode() >= shellSignalExitBase) {
            qCWarning(lcMetadata) << "exiftool crashed or was killed, exit code" << process.exitCode();
            return ChildEnd::Failed;
        }
        return ChildEnd::Exited;
    }
}

int batchTimeoutMs(qsizetype fileCount)
{
    const qint64 scaled = qint64(batchBaseTimeoutMs) + qint64(batchTimeoutPerFileMs) * fileCount;
    return int(std::min<qint64>(scaled, batchTimeoutCapMs));
}

struct BatchRun {
    ChildEnd end = ChildEnd::Failed;
    QHash<QUrl, QString> texts;
};

// One exiftool process for up to 100 files, through /bin/sh with every path quoted; the shell
// replaces itself with exiftool, so that a kill at the deadline stops exiftool and not only the
// shell. It has answered only when it ended on its own and printed a whole JSON array; an
// answer too long to keep counts as an answer without a text.
BatchRun runBatch(const QString& program, const QList<QUrl>& fileURLs, const std::function<bool()>& isCancelled)
{
    QStringList quotedPaths;
    quotedPaths.reserve(fileURLs.size());
    for (const QUrl& url : fileURLs)
        quotedPaths.append(shellQuote(url.toLocalFile()));
    const QString commandLine = QStringLiteral("exec ") + shellQuote(program) + QStringLiteral(" -json ")
        + QStringLiteral("-Description -Comment -UserComment -Parameters -all") + QStringLiteral(" -q ")
        + quotedPaths.join(u' ');

    ExiftoolJSONStream stream;
    const ChildEnd end = runChild(
        QStringLiteral("/bin/sh"), { QStringLiteral("-c"), commandLine }, batchTimeoutMs(fileURLs.size()),
        [&stream](QByteArrayView bytes) { return stream.feed(bytes) != ExiftoolJSONStream::State::Failed; },
        isCancelled, true);
    if (end != ChildEnd::Exited)
        return { end, {} };
    if (stream.finish() != ExiftoolJSONStream::State::Complete)
        return {};
    return { ChildEnd::Exited, stream.takeTexts() };
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
    ExiftoolJSONStream stream;
    stream.feed(output);
    if (stream.finish() != ExiftoolJSONStream::State::Complete)
        return {};
    return stream.takeTexts();
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

void setResourcesDirectory(const QString& path)
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
        QFile::setPermissions(bundled,
            QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup | QFile::ExeGroup
                | QFile::ReadOther | QFile::ExeOther);
        return bundled;
    }
    for (const char* path : { "/usr/local/bin/exiftool", "/opt/homebrew/bin/exiftool", "/usr/bin/exiftool" }) {
        if (QFileInfo::exists(QLatin1String(path)))
            return QString::fromLatin1(path);
    }
    return std::nullopt;
}

std::optional<QString> readDescriptionWithExiftool(const QUrl& fileURL)
{
    const auto program = locateExiftool();
    // exiftool would wait for good on a FIFO or device named like an image, and read a
    // folder's files.
    if (!program || isSpecialFile(fileURL.toLocalFile()))
        return std::nullopt;

    const QStringList toolArguments
        = { QStringLiteral("-b"), QStringLiteral("-Description"), QStringLiteral("-q"), fileURL.toLocalFile() };
    QByteArray output;
    const auto collect = [&output](QByteArrayView bytes) {
        output += bytes;
        return output.size() <= maxSingleFileOutputBytes;
    };
    ChildEnd end = ChildEnd::Failed;
    if (QFileInfo::exists(QStringLiteral("/usr/bin/perl")))
        end = runChild(
            QStringLiteral("/usr/bin/perl"), QStringList { *program } + toolArguments, singleFileTimeoutMs, collect);
    else if (QFileInfo::exists(QStringLiteral("/usr/local/bin/perl")))
        end = runChild(QStringLiteral("/usr/local/bin/perl"), QStringList { *program } + toolArguments,
            singleFileTimeoutMs, collect);
    else
        end = runChild(*program, toolArguments, singleFileTimeoutMs, collect);
    if (end != ChildEnd::Exited)
        return std::nullopt;

    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = QString(decoder.decode(output)).trimmed();
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
    // exiftool would wait for good on a FIFO or device named like an image, and read a
    // folder's files: such a path is settled here without a text, and the in-process readers
    // pass over it at once.
    QList<QUrl> regularFiles;
    for (const QUrl& url : fileURLs) {
        if (isSpecialFile(url.toLocalFile()))
            result.settled.insert(url);
        else
            regularFiles.append(url);
    }
    for (qsizetype start = 0; start < regularFiles.size(); start += filesPerBatch) {
        if (isCancelled && isCancelled())
            break;
        const QList<QUrl> batch = regularFiles.mid(start, filesPerBatch);
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

QString shellQuote(const QString& text)
{
    QString quoted = text;
    quoted.replace(u'\'', QLatin1String("'\\''"));
    return u'\'' + quoted + u'\'';
}

} // namespace limnoscope
