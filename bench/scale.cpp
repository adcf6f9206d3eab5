// A folder of 100,000 distinct small Limnora PNGs (16 x 16 pixels with a generation text, varied
// names, spread over the folder itself and four subfolders), opened through the real browser
// model and the real sidebar (offscreen by default, QT_QPA_PLATFORM). Measures the time from
// `loadFolder` until the sidebar has painted its first rows of the finished listing, in name
// order and in date order (the model's stored preference), each the median of a few opens with
// a fresh model and sidebar; and, as a reference in the same run, `find DIR -maxdepth 2 -type f`
// piped to `sort`. The page cache is warm: the corpus was just written, and every open reads
// the same folder. Exiftool is switched off, so the prefetch that starts with the listing reads
// in-process. Then, with exiftool installed, the time until every image has a metadata cache
// entry: with an empty metadata index (the in-process first pass reads every file) and again with
// the index it filled, the process's peak memory with all records loaded, and, as a reference,
// exiftool's batch reading a sample, scaled to the whole folder. Settings and caches live in
// temporary folders of their own.
//
// `bench_scale [FOLDER]` writes the corpus into FOLDER (kept afterwards) unless FOLDER already
// holds entries, in which case it is measured as it is.

#include "BenchSupport.h"
#include "ExiftoolRunner.h"
#include "ImageBrowserModel.h"
#include "ImageListView.h"
#include "PNGChunkWriter.h"
#include "SidebarServices.h"
#include "SidebarView.h"

#include <QApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <optional>
#include <vector>

using namespace limnoscope;

namespace {

constexpr int imageCount = 100'000;
constexpr int subfolderCount = 4;
constexpr int opensPerOrder = 5;
constexpr QSize sidebarSize { 300, 860 };
// An open whose rows are not painted by then counts as failed.
constexpr int firstPaintTimeoutMs = 60'000;
constexpr int fillTimeoutMs = 300'000;
// Images exiftool reads for the reference figure.
constexpr int referenceSample = 1000;

// The time since `clock` started, in milliseconds.
double elapsedMs(const QElapsedTimer& clock)
{
    return double(clock.nsecsElapsed()) / 1e6;
}

double median(std::vector<double> values)
{
    if (values.empty())
        return -1;
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

// Writes `count` distinct Limnora PNGs into `root`: image i into `root` itself when i % 5 is 0,
// else into the subfolder "set<i % 5>", named by `bench::variedImageName(i)`, its text carrying the seed i. The
// images are written in the order of i, so their dates follow it. False when a file cannot be
// written.
bool writeScaleCorpus(const QString& root, int count = imageCount)
{
    QStringList folders { root };
    for (int folder = 1; folder <= subfolderCount; ++folder) {
        folders.append(QStringLiteral("%1/set%2").arg(root).arg(folder));
        if (!QDir().mkpath(folders.last()))
            return false;
    }
    QImage pixels(16, 16, QImage::Format_RGBA8888);
    for (int i = 0; i < count; ++i) {
        pixels.fill(QColor::fromHsv(i % 360, 160, 200));
        const QString path = QStringLiteral("%1/%2.png").arg(folders.at(i % folders.size()), bench::variedImageName(i));
        if (!PNGChunkWriter(16, 16)
                 .tEXt("Description", bench::shortLimnoraText(i))
                 .imageData(pixels)
                 .end()
                 .writeTo(path))
            return false;
    }
    return true;
}

// One open of `folder` with a fresh model (preferring `order`) and sidebar: the milliseconds from
// `loadFolder` until the list's viewport has painted rows of the finished listing; nothing when
// that did not happen in time.
std::optional<double> firstPaintMs(const QString& folder, SortOrder order, bench::SidebarServices& services)
{
    QSettings().setValue(ImageBrowserModel::sortOrderKey, SortOrders::rawValue(order));
    ImageBrowserModel browser;
    SidebarView sidebar(services.contextFor(&browser));
    sidebar.resize(sidebarSize);
    sidebar.show();
    QCoreApplication::processEvents();
    ImageListView* list = sidebar.imageList();

    // Painting happens inside the paint event: the time is taken by a call queued from it.
    struct PaintWatch : QObject {
        std::function<void()> onPaint;
        bool eventFilter(QObject*, QEvent* event) override
        {
            if (event->type() == QEvent::Paint)
                onPaint();
            return false;
        }
    } paintWatch;
    QEventLoop loop;
    QElapsedTimer clock;
    bool painting = false;
    std::optional<double> paintedMs;
    paintWatch.onPaint = [&] {
        if (painting || browser.isScanning() || list->model()->rowCount() == 0)
            return;
        painting = true;
        QMetaObject::invokeMethod(
            &loop,
            [&] {
                paintedMs = elapsedMs(clock);
                loop.quit();
            },
            Qt::QueuedConnection);
    };
    list->viewport()->installEventFilter(&paintWatch);
    QTimer::singleShot(firstPaintTimeoutMs, &loop, &QEventLoop::quit);

    clock.start();
    browser.loadFolder(QUrl::fromLocalFile(folder));
    loop.exec();
    list->viewport()->removeEventFilter(&paintWatch);
    browser.stopWatching();
    return paintedMs;
}

std::optional<double> medianFirstPaintMs(const QString& folder, SortOrder order, bench::SidebarServices& services)
{
    std::vector<double> times;
    for (int open = 0; open < opensPerOrder; ++open) {
        const std::optional<double> time = firstPaintMs(folder, order, services);
        if (!time)
            return std::nullopt;
        times.push_back(*time);
    }
    return median(times);
}

// The reference: listing the same files with standard tools, in byte order.
std::optional<double> findAndSortMs(const QString& folder)
{
    std::vector<double> times;
    for (int run = 0; run < opensPerOrder; ++run) {
        QProcess process;
        process.setStandardOutputFile(QProcess::nullDevice());
        QElapsedTimer clock;
        clock.start();
        process.start(QStringLiteral("/bin/sh"),
            { QStringLiteral("-c"), QStringLiteral("find \"$1\" -maxdepth 2 -type f | sort"), QStringLiteral("sh"),
                folder });
        if (!process.waitForFinished(firstPaintTimeoutMs) || process.exitCode() != 0)
            return std::nullopt;
        times.push_back(elapsedMs(clock));
    }
    return median(times);
}

// One open of `folder` with a fresh model: the milliseconds from `loadFolder` until every image
// has a cache entry; nothing when that did not happen in time.
std::optional<double> fillMs(const QString& folder)
{
    ImageBrowserModel browser;
    QEventLoop loop;
    QObject::connect(&browser, &ImageBrowserModel::prefetchProgressChanged, &loop, [&] {
        if (browser.metadataCache().size() >= imageCount)
            loop.quit();
    });
    QTimer::singleShot(fillTimeoutMs, &loop, &QEventLoop::quit);
    QElapsedTimer clock;
    clock.start();
    browser.loadFolder(QUrl::fromLocalFile(folder));
    loop.exec();
    const double elapsed = elapsedMs(clock);
    browser.stopWatching();
    if (browser.metadataCache().size() != imageCount)
        return std::nullopt;
    return elapsed;
}

// The reference: exiftool's batch reading `referenceSample` of the images, scaled to all of them.
std::optional<double> exiftoolEstimateSeconds(const QString& folder)
{
    const std::optional<QString> exiftool = locateExiftool();
    if (!exiftool)
        return std::nullopt;
    QStringList arguments { QStringLiteral("-json"), QStringLiteral("-Description"), QStringLiteral("-q") };
    QDirIterator images(folder, { QStringLiteral("*.png") }, QDir::Files);
    for (int i = 0; i < referenceSample && images.hasNext(); ++i)
        arguments.append(images.next());
    QProcess process;
    process.setStandardOutputFile(QProcess::nullDevice());
    QElapsedTimer clock;
    clock.start();
    process.start(*exiftool, arguments);
    if (!process.waitForFinished(fillTimeoutMs) || process.exitCode() != 0)
        return std::nullopt;
    return elapsedMs(clock) / 1e3 * imageCount / (arguments.size() - 3);
}

struct FillSession {
    double fillMs = 0;
    double peakMB = 0;
};

// Runs this program again as `--fill FOLDER CACHE`: a process that opens FOLDER with its metadata
// index in CACHE and prints the fill time and its peak memory.
std::optional<FillSession> fillInFreshProcess(const QString& folder, const QString& cache)
{
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(), { QStringLiteral("--fill"), folder, cache });
    if (!child.waitForFinished(fillTimeoutMs) || child.exitCode() != 0)
        return std::nullopt;
    const QList<QByteArray> numbers = child.readAllStandardOutput().trimmed().split(' ');
    if (numbers.size() != 2)
        return std::nullopt;
    return FillSession { numbers[0].toDouble(), numbers[1].toDouble() };
}

void printFigure(const char* name, double value)
{
    std::printf("scale.%s: %.1f\n", name, value);
    std::fflush(stdout);
}

// Prints the figure, or says that it could not be measured; false then.
bool reportFigure(const char* name, const std::optional<double>& value)
{
    if (!value) {
        std::fprintf(stderr, "bench_scale: no figure for %s (an open or a listing did not finish)\n", name);
        return false;
    }
    printFigure(name, *value);
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    // Isolated before anything reads them.
    QTemporaryDir home(QStringLiteral("/tmp/limnoscope-scale-home-XXXXXX"));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.filePath(QStringLiteral("config"))));
    qputenv("XDG_CACHE_HOME", QFile::encodeName(home.filePath(QStringLiteral("cache"))));
    QApplication application(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("LimnoscopeBench"));
    setExiftoolDisabled(true);

    if (argc == 4 && qstrcmp(argv[1], "--fill") == 0) {
        qputenv("XDG_CACHE_HOME", argv[3]);
        setExiftoolDisabled(false);
        const std::optional<double> filled = fillMs(QFile::decodeName(argv[2]));
        if (!filled)
            return 1;
        std::printf("%.1f %.1f\n", *filled, bench::peakResidentMB());
        return 0;
    }

    QTemporaryDir corpus(QStringLiteral("/tmp/limnoscope-scale-XXXXXX"));
    QString folder = corpus.path();
    if (argc > 1) {
        folder = QDir(QFile::decodeName(argv[1])).absolutePath();
        QDir().mkpath(folder);
    }
    if (QDir(folder).isEmpty()) {
        QElapsedTimer clock;
        clock.start();
        if (!writeScaleCorpus(folder)) {
            std::fprintf(stderr, "bench_scale: cannot write the images into %s\n", qPrintable(folder));
            return 1;
        }
        printFigure("write_corpus_s", elapsedMs(clock) / 1e3);
    }
    std::printf("scale.images: %d\n", imageCount);

    // One measuring step after another, each printing its figures as it gets them; further
    // figures of the same folder follow as further steps.
    bench::SidebarServices services;
    const std::optional<double> nameMs = medianFirstPaintMs(folder, SortOrder::nameAscending, services);
    if (!reportFigure("first_paint_100k_ms", nameMs))
        return 1;
    if (!reportFigure("first_paint_date_100k_ms", medianFirstPaintMs(folder, SortOrder::dateDescending, services)))
        return 1;
    const std::optional<double> findMs = findAndSortMs(folder);
    if (!reportFigure("find_100k_ms", findMs))
        return 1;
    std::printf("scale.ratio_first_paint_vs_find: %.2f\n", *nameMs / *findMs);

    // Filling the metadata cache with exiftool installed, each fill a session of its own (a fresh
    // process, as when Limnoscope starts and opens the folder): first with an empty index (the
    // first pass reads every file, the exiftool pass waits behind it), then the same folder again.
    const QString fillCache = home.filePath(QStringLiteral("fill-cache"));
    const std::optional<FillSession> cold = fillInFreshProcess(folder, fillCache);
    if (!reportFigure("cold_fill_100k_s", cold ? std::optional(cold->fillMs / 1e3) : std::nullopt))
        return 1;
    const std::optional<FillSession> reopen = fillInFreshProcess(folder, fillCache);
    if (!reportFigure("reopen_fill_100k_ms", reopen ? std::optional(reopen->fillMs) : std::nullopt))
        return 1;
    printFigure("peak_rss_mb", std::max(cold->peakMB, reopen->peakMB));
    setExiftoolDisabled(false);
    const std::optional<double> exiftoolSeconds = exiftoolEstimateSeconds(folder);
    if (exiftoolSeconds) {
        printFigure("exiftool_100k_estimate_s", *exiftoolSeconds);
        std::printf("scale.ratio_cold_fill_vs_exiftool: %.3f\n", cold->fillMs / 1e3 / *exiftoolSeconds);
    }
    return 0;
}
