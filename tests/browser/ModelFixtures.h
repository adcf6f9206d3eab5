#pragma once

// What the model suites share: waiting for a folder's metadata, writing images in time order and
// the model's state as one line of text.

#include "ImageBrowserModel.h"
#include "TestSandbox.h"

#include "ExiftoolRunner.h"
#include "TestFiles.h"

#include <QFileInfo>
#include <QSettings>
#include <QTest>

namespace limnoscope::test {

constexpr int quietWatchMs = 1'800; // a watch has delivered all it would by then
constexpr int staleResultGraceMs = 500; // a stale listing or sort would have landed by then
constexpr int fileClockGapMs = 20; // distinct times on the kernel's millisecond file clock

inline QString seedOf(const std::optional<LimnoraMetadata>& metadata)
{
    return metadata ? metadata->settings.value(QStringLiteral("Seed")).value_or(QString()) : QStringLiteral("<none>");
}

inline QString cachedSeed(const ImageBrowserModel& model, const QUrl& url)
{
    return seedOf(model.metadataCache().value(url, CacheEntry({}, {})).metadata());
}

[[nodiscard]] inline bool openAndRead(ImageBrowserModel& model, const QString& path)
{
    return openFolder(model, path) && QTest::qWaitFor([&] { return !model.isPrefetching(); }, asyncTimeoutMs);
}

inline void writeInTimeOrder(const TestSandbox& dir, const QStringList& names)
{
    int seed = 0;
    for (const QString& name : names) {
        dir.writeImages({ name }, ++seed);
        QTest::qSleep(fileClockGapMs);
    }
}

// "a sub/b" -> { "a.png", "sub/b.png" }
inline QStringList pngs(const QString& names)
{
    QStringList files = names.split(u' ', Qt::SkipEmptyParts);
    for (QString& file : files)
        file += QStringLiteral(".png");
    return files;
}

// The listed images without ".png", the current one (by index) marked "*", selected ones "+": "a *+b".
inline QString listing(const ImageBrowserModel& model)
{
    QStringList names;
    for (const QUrl& url : model.flatURLs())
        names.append(QString(model.selectedURLs().contains(url) ? "+" : "") + QFileInfo(url.path()).completeBaseName());
    if (model.currentIndex() >= 0 && model.currentIndex() < names.size())
        names[model.currentIndex()].prepend(u'*');
    if (model.flatURLs().value(model.currentIndex()) != model.currentImageURL())
        names.append("(current: " + model.currentImageURL().fileName() + ")");
    return names.join(u' ');
}

// The groups' names, a collapsed one marked "-".
inline QString groupNames(const ImageBrowserModel& model)
{
    QStringList names;
    for (const FolderGroup& group : model.groups())
        names.append((group.isExpanded ? QString() : QStringLiteral("-")) + group.name);
    return names.join(u' ');
}

// What every model suite starts from: a home of its own (preferences emptied before each case,
// the metadata index in its own cache folder), and no exiftool.
class ModelSuite : public QObject
{
    Q_OBJECT

protected:
    TestSandbox m_home;

private slots:
    void initTestCase()
    {
        m_home.isolateHome();
        setExiftoolDisabled(true);
        installEnglishTexts();
    }

    void init() { QSettings().clear(); }
};

} // namespace limnoscope::test
