// Prefetching the metadata of a large folder: 10,000 small PNGs with generation text, read by the
// in-process readers (exiftool switched off). Measures the time until every image has a cache
// entry and the worst lateness of a 1 ms timer on the GUI thread during the run.

#include "BenchSupport.h"
#include "ExiftoolRunner.h"
#include "ImageBrowserModel.h"
#include "PNGChunkWriter.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>

using namespace limnoscope;

namespace {

constexpr int imageCount = 10'000;
constexpr std::chrono::milliseconds tickInterval { 1 };

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    QTemporaryDir settingsDir;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsDir.path());
    qputenv("XDG_CACHE_HOME", QFile::encodeName(settingsDir.path())); // a metadata index of its own, empty
    setExiftoolDisabled(true);

    QTemporaryDir dir;
    QImage pixels(16, 16, QImage::Format_RGBA8888);
    pixels.fill(Qt::darkCyan);
    QList<QUrl> urls;
    for (int image = 0; image < imageCount; ++image) {
        const QString path = dir.filePath(QStringLiteral("%1.png").arg(image));
        if (!PNGChunkWriter(16, 16)
                 .tEXt("Description", bench::shortLimnoraText(image))
                 .imageData(pixels)
                 .end()
                 .writeTo(path)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            return 1;
        }
        urls.append(QUrl::fromLocalFile(path));
    }

    ImageBrowserModel model;
    QElapsedTimer clock;
    qint64 lastTick = 0;
    qint64 worstLateness = 0;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    ticker.setInterval(tickInterval);
    QObject::connect(&ticker, &QTimer::timeout, &model, [&] {
        const qint64 now = clock.nsecsElapsed();
        worstLateness = std::max(worstLateness, now - lastTick - qint64(tickInterval.count()) * 1'000'000);
        lastTick = now;
    });
    QObject::connect(&model, &ImageBrowserModel::isPrefetchingChanged, &application, [&] {
        if (!model.isPrefetching())
            application.quit();
    });

    clock.start();
    ticker.start();
    model.prefetchMetadata(urls);
    application.exec();
    const double seconds = clock.nsecsElapsed() / 1e9;

    if (model.metadataCache().size() != imageCount || std::any_of(urls.cbegin(), urls.cend(), [&](const QUrl& url) {
            return !model.metadataCache().value(url, CacheEntry({}, {})).isLoaded();
        })) {
        std::fprintf(stderr, "not every image has its record\n");
        return 1;
    }
    std::printf("prefetch.seconds: %.2f\n", seconds);
    std::printf("prefetch.worst_stall_ms: %.2f\n", worstLateness / 1e6);
    return 0;
}
