// Scanning a large opened folder: 20,000 image files in the folder itself and 10 subfolders,
// listed into groups and the flat browsing list under name and date order, against
// `find DIR -maxdepth 2 -type f | sort -V` over the same tree in the same run.

#include "FolderGroup.h"
#include "FolderScan.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

using namespace limnoscope;

namespace {

constexpr int imageCount = 20'000;
constexpr int subfolderCount = 10;
constexpr int repetitions = 7;

void makeTree(const QString& root)
{
    for (int image = 0; image < imageCount; ++image) {
        const int folder = image % (subfolderCount + 1);
        const QString dir = folder == 0 ? root : root + QStringLiteral("/batch_%1").arg(folder);
        QDir().mkpath(dir);
        // Limnora-like names with digit runs of varying length, so the natural order has work to do.
        QFile file(dir + QStringLiteral("/render_%1_seed%2.png").arg(image).arg((image * 7919) % 100'003));
        if (!file.open(QIODevice::WriteOnly)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(file.fileName()));
            std::exit(1);
        }
    }
}

// The median of `repetitions` runs, in milliseconds, after one warm-up run.
double medianMilliseconds(const std::function<void()>& run)
{
    run();
    std::vector<double> times;
    for (int i = 0; i < repetitions; ++i) {
        QElapsedTimer clock;
        clock.start();
        run();
        times.push_back(clock.nsecsElapsed() / 1e6);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

qsizetype scanAndFlatten(const QUrl& root, SortOrder order)
{
    const std::optional<QList<FolderGroup>> groups = scanFolder(root, order);
    if (!groups) {
        std::fprintf(stderr, "scan failed\n");
        std::exit(1);
    }
    return flattenGroups(*groups).size();
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    QTemporaryDir dir;
    makeTree(dir.path());
    const QUrl root = QUrl::fromLocalFile(dir.path());
    if (scanAndFlatten(root, SortOrder::nameAscending) != imageCount) {
        std::fprintf(stderr, "scan found the wrong number of images\n");
        return 1;
    }

    const double findSort = medianMilliseconds([&] {
        QProcess process;
        process.setStandardOutputFile(QProcess::nullDevice());
        process.start(QStringLiteral("/bin/sh"),
            { QStringLiteral("-c"), QStringLiteral("find \"$0\" -maxdepth 2 -type f | sort -V"), dir.path() });
        process.waitForFinished(-1);
    });
    const double nameAscending = medianMilliseconds([&] { scanAndFlatten(root, SortOrder::nameAscending); });
    const double dateDescending = medianMilliseconds([&] { scanAndFlatten(root, SortOrder::dateDescending); });

    std::printf("scan.find_sort_ms: %.1f\n", findSort);
    std::printf("scan.name_asc_ms: %.1f\n", nameAscending);
    std::printf("scan.date_desc_ms: %.1f\n", dateDescending);
    std::printf("scan.ratio_name_asc_vs_find_sort: %.2f\n", nameAscending / findSort);
    std::printf("scan.ratio_date_desc_vs_find_sort: %.2f\n", dateDescending / findSort);
    return 0;
}
