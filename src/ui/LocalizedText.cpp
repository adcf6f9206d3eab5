#include "LocalizedText.h"

#include "ImageBrowserModel.h"

#include <QRegularExpression>

#include <array>
#include <limits>

namespace limnoscope {
namespace {

// Longest first, so that "%lld" is never taken for "%d" with "ll" left over.
constexpr std::array printfPlaces { "%lld", "%ld", "%d", "%@" };

// The first printf-style place at or after `from`: its position and length, or -1.
std::pair<qsizetype, qsizetype> nextPrintfPlace(const QString& text, qsizetype from)
{
    qsizetype earliest = -1;
    qsizetype length = 0;
    for (const char* place : printfPlaces) {
        const qsizetype at = text.indexOf(QLatin1String(place), from);
        if (at >= 0 && (earliest < 0 || at < earliest)) {
            earliest = at;
            length = qsizetype(qstrlen(place));
        }
    }
    return { earliest, length };
}

} // namespace

QString localizedFormat(const char* key, const QStringList& arguments)
{
    QString text = qtTrId(key);
    if (nextPrintfPlace(text, 0).first < 0) {
        // Qt-style places may be reordered by a translation; each argument fills the lowest
        // numbered place left. A text without places (no translation yet) stays as it is.
        static const QRegularExpression numberedPlace(QStringLiteral("%[1-9]"));
        for (const QString& argument : arguments) {
            if (!text.contains(numberedPlace))
                break;
            text = text.arg(argument);
        }
        return text;
    }
    // Search on after each argument put in, so that a place inside an argument stays as it is.
    qsizetype from = 0;
    for (const QString& argument : arguments) {
        const auto [at, length] = nextPrintfPlace(text, from);
        if (at < 0)
            break;
        text.replace(at, length, argument);
        from = at + argument.size();
    }
    return text;
}

QString localizedCount(const char* key, qint64 count)
{
    return qtTrId(key, int(std::min<qint64>(count, std::numeric_limits<int>::max())));
}

QString openedItemsName(const ImageBrowserModel& model)
{
    if (const QUrl& root = model.rootFolderURL(); !root.isEmpty()) {
        const QString name = root.adjusted(QUrl::StripTrailingSlash).fileName();
        return name.isEmpty() ? root.toLocalFile() : name; // the file system's root has no name
    }
    const qint64 fileCount = model.listedCount();
    const QList<QUrl>& shown = model.flatURLs();
    if (fileCount == 1 && !shown.isEmpty())
        return shown.first().fileName();
    return fileCount > 0 ? localizedCount("dropped_image_count", fileCount) : QString();
}

} // namespace limnoscope
