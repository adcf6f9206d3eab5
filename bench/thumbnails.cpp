// Thumbnail decoding speed: decodeDownsampled at 136 pixels over 200 generated images (a third each
// 2048 x 1536 JPEG, 1024 x 1024 PNG, 1024 x 1024 WebP), on one thread and through the gate with
// three workers, against `vipsthumbnail -s 136` over the same files in one process and ImageMagick
// `convert -thumbnail 136x136` once per file, in the same run. Then the sidebar's thumbnails at its
// default size through the thumbnail store in an empty cache folder (decoded and written) against
// the same again (read back from the disk cache).

#include "DecodeDownsampled.h"
#include "ImageBrowserModel.h"
#include "ThumbnailProvider.h"
#include "ThumbnailSemaphore.h"
#include "ThumbnailStore.h"

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThreadPool>
#include <QtConcurrent>

#include <atomic>
#include <cstdio>
#include <numeric>

using namespace limnoscope;

namespace {

constexpr int imageCount = 200;
constexpr int thumbnailSize = 136;
constexpr int repeats = 2; // best of, for the in-process runs and vipsthumbnail

// A picture with gradients, shapes and grain, so the encoders do real work.
QImage generatedPicture(QSize size, int seed)
{
    QImage image(size, QImage::Format_RGB32);
    QPainter painter(&image);
    QLinearGradient gradient(0, 0, size.width(), size.height());
    gradient.setColorAt(0, QColor::fromHsv(seed * 37 % 360, 180, 230));
    gradient.setColorAt(1, QColor::fromHsv(seed * 91 % 360, 200, 60));
    painter.fillRect(image.rect(), gradient);
    QRandomGenerator random(seed);
    for (int shape = 0; shape < 40; ++shape) {
        painter.setBrush(QColor::fromHsv(random.bounded(360), 160, 200, 160));
        painter.drawEllipse(
            random.bounded(size.width()), random.bounded(size.height()), random.bounded(400), random.bounded(400));
    }
    painter.end();
    for (int y = 0; y < size.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < size.width(); ++x) {
            const int grain = int(random.bounded(16)) - 8;
            line[x] = qRgb(qBound(0, qRed(line[x]) + grain, 255), qBound(0, qGreen(line[x]) + grain, 255),
                qBound(0, qBlue(line[x]) + grain, 255));
        }
    }
    return image;
}

QStringList writeImages(const QString& folder)
{
    QList<int> numbers(imageCount);
    std::iota(numbers.begin(), numbers.end(), 0);
    return QtConcurrent::blockingMapped(numbers, [folder](int number) {
        const int kind = number % 3;
        const char* format = kind == 0 ? "jpg" : kind == 1 ? "png" : "webp";
        const QSize size = kind == 0 ? QSize(2048, 1536) : QSize(1024, 1024);
        const QString path
            = QDir(folder).filePath(QStringLiteral("image%1.%2").arg(number, 3, 10, QChar('0')).arg(format));
        generatedPicture(size, number).save(path, format, 90);
        return path;
    });
}

double perSecond(qint64 nanoseconds)
{
    return nanoseconds > 0 ? imageCount * 1e9 / double(nanoseconds) : 0;
}

qint64 singleThread(const QStringList& paths, int& failures)
{
    QElapsedTimer timer;
    timer.start();
    for (const QString& path : paths)
        failures += decodeDownsampled(QUrl::fromLocalFile(path), thumbnailSize).isNull();
    return timer.nsecsElapsed();
}

// Every decode asks a gate for a slot, as the sidebar's loads do, and runs on one of three
// workers; the slot goes back when the decode ends.
qint64 throughTheGate(const QStringList& paths, int& failures)
{
    ThumbnailSemaphore gate;
    QObject context;
    QThreadPool workers;
    workers.setMaxThreadCount(ThumbnailSemaphore::limit);
    std::atomic<int> done = 0;
    std::atomic<int> failed = 0;
    QEventLoop loop;
    QElapsedTimer timer;
    timer.start();
    for (const QString& path : paths) {
        gate.wait(&context, [&, path](ThumbnailSemaphore::Slot slot) {
            workers.start([&, path, slot]() mutable {
                failed += decodeDownsampled(QUrl::fromLocalFile(path), thumbnailSize).isNull();
                slot.release();
                if (++done == imageCount)
                    QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
            });
        });
    }
    loop.exec();
    const qint64 elapsed = timer.nsecsElapsed();
    workers.waitForDone();
    failures += failed;
    return elapsed;
}

// The time to get every sidebar thumbnail through the store with an empty cache folder, then the
// time to get them again from the cache.
std::pair<qint64, qint64> throughTheStore(const QStringList& paths, int& failures)
{
    const ThumbnailStore store;
    QDir(store.folder()).removeRecursively();
    const ThumbnailProvider::Decoder decoder = store.cachingDecoder(decodeDownsampled);
    const int size = ThumbnailProvider::decodeSize(ImageBrowserModel::defaultThumbnailSize);
    qint64 elapsed[2] = {};
    for (qint64& pass : elapsed) {
        QElapsedTimer timer;
        timer.start();
        for (const QString& path : paths)
            failures += decoder(QUrl::fromLocalFile(path), size).isNull();
        pass = timer.nsecsElapsed();
    }
    return { elapsed[0], elapsed[1] };
}

// Wall time of one program run, or -1 when it cannot run or fails.
qint64 runProgram(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QElapsedTimer timer;
    timer.start();
    process.start(program, arguments);
    if (!process.waitForStarted() || !process.waitForFinished(-1) || process.exitStatus() != QProcess::NormalExit
        || process.exitCode() != 0)
        return -1;
    return timer.nsecsElapsed();
}

qint64 vipsthumbnail(const QString& program, const QStringList& paths, const QString& outputFolder)
{
    QStringList arguments { QStringLiteral("-s"), QString::number(thumbnailSize), QStringLiteral("-o"),
        QDir(outputFolder).filePath(QStringLiteral("%s.jpg")) };
    return runProgram(program, arguments + paths);
}

qint64 imageMagick(const QString& program, const QStringList& paths, const QString& outputFolder)
{
    qint64 total = 0;
    for (const QString& path : paths) {
        const QString output = QDir(outputFolder).filePath(QFileInfo(path).completeBaseName() + QStringLiteral(".jpg"));
        const qint64 elapsed = runProgram(
            program, { path, QStringLiteral("-thumbnail"), QStringLiteral("%1x%1").arg(thumbnailSize), output });
        if (elapsed < 0)
            return -1;
        total += elapsed;
    }
    return total;
}

template <typename Run> qint64 bestOf(Run run)
{
    qint64 best = -1;
    for (int round = 0; round < repeats; ++round) {
        const qint64 elapsed = run();
        if (elapsed < 0)
            return -1;
        if (best < 0 || elapsed < best)
            best = elapsed;
    }
    return best;
}

void print(const char* figure, double value)
{
    std::printf("thumbnails.%s: %.2f\n", figure, value);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char* argv[])
{
    QGuiApplication application(argc, argv);
    QTemporaryDir folder;
    // The store writes below the cache folder of this run alone.
    qputenv("XDG_CACHE_HOME", QFile::encodeName(folder.filePath(QStringLiteral("cache"))));
    const QString outputFolder = folder.filePath(QStringLiteral("out"));
    QDir().mkpath(outputFolder);
    const QStringList paths = writeImages(folder.path());

    int failures = 0;
    singleThread(paths, failures); // warms the file cache and the codecs
    failures = 0;
    const qint64 single = bestOf([&] { return singleThread(paths, failures); });
    const qint64 gated = bestOf([&] { return throughTheGate(paths, failures); });
    qint64 firstTime = -1;
    const qint64 cachedTime = bestOf([&] {
        const auto [first, cached] = throughTheStore(paths, failures);
        firstTime = firstTime < 0 ? first : std::min(firstTime, first);
        return cached;
    });
    print("failed_decodes", failures);
    print("images_per_second_single_thread", perSecond(single));
    print("images_per_second_gate_3_workers", perSecond(gated));
    print("images_per_second_stored_first_time", perSecond(firstTime));
    print("images_per_second_stored_cached", perSecond(cachedTime));
    print("ratio_cached_vs_decode", double(firstTime) / double(cachedTime));

    // The real programs, not wrappers that may stand in front of them on the PATH.
    const auto findProgram = [](const QString& name) {
        const QString system = QStandardPaths::findExecutable(name, { QStringLiteral("/usr/bin") });
        return system.isEmpty() ? QStandardPaths::findExecutable(name) : system;
    };
    int status = failures == 0 ? 0 : 1;
    const QString vips = findProgram(QStringLiteral("vipsthumbnail"));
    const qint64 vipsTime = vips.isEmpty() ? -1 : bestOf([&] { return vipsthumbnail(vips, paths, outputFolder); });
    if (vipsTime > 0) {
        print("images_per_second_vipsthumbnail", perSecond(vipsTime));
        print("ratio_vs_vipsthumbnail", double(vipsTime) / double(single));
        print("gate_ratio_vs_vipsthumbnail", double(vipsTime) / double(gated));
    } else {
        std::fprintf(stderr, "thumbnails: vipsthumbnail did not run\n");
        status = 1;
    }
    const QString convert = findProgram(QStringLiteral("convert"));
    const qint64 magickTime = convert.isEmpty() ? -1 : imageMagick(convert, paths, outputFolder);
    if (magickTime > 0) {
        print("images_per_second_imagemagick", perSecond(magickTime));
        print("ratio_vs_imagemagick", double(magickTime) / double(single));
        print("gate_ratio_vs_imagemagick", double(magickTime) / double(gated));
    } else {
        std::fprintf(stderr, "thumbnails: ImageMagick convert did not run\n");
        status = 1;
    }
    return status;
}
