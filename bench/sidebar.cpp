// Sidebar with a folder of 100,000 images: the time until the first rows are painted, then a
// scripted scroll from the top of the list to its bottom, one screenful per step, each step
// painted at once, while the metadata prefetch of the folder runs. Prints the slowest step (a
// frame) in wall and GUI-thread CPU time, the slowest fold or unfold of a group and the process's
// peak memory. Offscreen by default (QT_QPA_PLATFORM), or under xvfb-run.

#include "BenchSupport.h"
#include "ExiftoolRunner.h"
#include "ImageBrowserModel.h"
#include "ImageListView.h"
#include "SidebarServices.h"
#include "SidebarView.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QImage>
#include <QScrollBar>
#include <QSettings>
#include <QTemporaryDir>

#include <cstdio>
#include <ctime>
#include <unistd.h>

using namespace limnoscope;

namespace {

constexpr int imageCount = 100'000;
constexpr int subfolderCount = 4;
// Hard links to one picture per folder: a real directory of 100,000 image files in little space.
// (ext4 allows 65,000 links to one file.)
constexpr QSize sidebarSize { 300, 860 };

bool writeFolder(const QString& root)
{
    for (int folder = 0; folder < subfolderCount; ++folder) {
        const QString dir = QStringLiteral("%1/set%2").arg(root).arg(folder);
        QDir().mkpath(dir);
        const QString original = dir + QStringLiteral("/.picture");
        QImage picture(640, 480, QImage::Format_RGB32);
        picture.fill(QColor::fromHsv(folder * 80, 160, 200));
        if (!picture.save(original, "PNG"))
            return false;
        for (int i = folder; i < imageCount; i += subfolderCount) {
            const QString path = QStringLiteral("%1/%2.png").arg(dir, bench::variedImageName(i));
            if (::link(QFile::encodeName(original).constData(), QFile::encodeName(path).constData()) != 0)
                return false;
        }
        QFile::remove(original);
    }
    return true;
}

// CPU time of the calling thread: on a busy machine a frame's wall time also holds the time the
// GUI thread waited for a core.
double threadCPUMs()
{
    timespec now {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("LimnoscopeBench"));
    QTemporaryDir home;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, home.path());
    setExiftoolDisabled(true);
    QTemporaryDir folder;
    if (!folder.isValid() || !writeFolder(folder.path())) {
        std::fprintf(stderr, "bench_sidebar: cannot write the test folder\n");
        return 1;
    }

    ImageBrowserModel browser;
    bench::SidebarServices services;
    SidebarView sidebar(services.contextFor(&browser));
    sidebar.resize(sidebarSize);
    sidebar.show();
    QCoreApplication::processEvents();
    ImageListView* list = sidebar.imageList();

    QElapsedTimer clock;
    clock.start();
    QEventLoop listing;
    QObject::connect(&browser, &ImageBrowserModel::folderLoaded, &listing, &QEventLoop::quit);
    browser.loadFolder(QUrl::fromLocalFile(folder.path()));
    listing.exec();
    browser.stopWatching();
    const double scanMs = clock.nsecsElapsed() / 1e6;
    clock.restart();
    sidebar.repaint();
    const double firstPaintMs = clock.nsecsElapsed() / 1e6;
    QCoreApplication::processEvents();

    // One screenful per step down to the bottom, every step painted before the next.
    QScrollBar* scrollBar = list->verticalScrollBar();
    const int step = list->viewport()->height();
    double worstFrameMs = 0;
    double worstFrameCPUMs = 0;
    double totalMs = 0;
    int frames = 0;
    for (int value = 0; value <= scrollBar->maximum(); value += step) {
        clock.restart();
        const double cpuBefore = threadCPUMs();
        scrollBar->setValue(value);
        list->viewport()->repaint();
        QCoreApplication::processEvents();
        const double frameMs = clock.nsecsElapsed() / 1e6;
        worstFrameMs = std::max(worstFrameMs, frameMs);
        worstFrameCPUMs = std::max(worstFrameCPUMs, threadCPUMs() - cpuBefore);
        totalMs += frameMs;
        ++frames;
    }
    // Folding a group and unfolding it again: the rows of all groups are rebuilt each time, as on
    // every filter result and rescan.
    double worstRebuildMs = 0;
    for (int group = 0; group < subfolderCount; ++group) {
        for (int fold = 0; fold < 2; ++fold) {
            clock.restart();
            browser.toggleGroup(browser.groups().at(group).id);
            worstRebuildMs = std::max(worstRebuildMs, clock.nsecsElapsed() / 1e6);
            QCoreApplication::processEvents();
        }
    }
    std::printf("sidebar.images: %d\n", imageCount);
    std::printf("sidebar.rows: %d\n", list->model()->rowCount());
    std::printf("sidebar.scan_ms: %.1f\n", scanMs);
    std::printf("sidebar.first_paint_ms: %.1f\n", firstPaintMs);
    std::printf("sidebar.frames: %d\n", frames);
    std::printf("sidebar.mean_frame_ms: %.2f\n", frames > 0 ? totalMs / frames : 0.0);
    std::printf("sidebar.worst_frame_ms: %.1f\n", worstFrameMs);
    std::printf("sidebar.worst_frame_cpu_ms: %.1f\n", worstFrameCPUMs);
    std::printf("sidebar.worst_fold_ms: %.1f\n", worstRebuildMs);
    std::printf("sidebar.peak_rss_mb: %.1f\n", bench::peakResidentMB());
    return 0;
}
