#pragma once

#include <QSignalSpy>
#include <QStringList>
#include <QTemporaryDir>
#include <QUrl>

namespace limnoscope::test {

// How long a test waits for a worker's answer (a listing, a read, a Trash move).
constexpr int asyncTimeoutMs = 10'000;

// A temporary folder a test works in, removed with everything in it when the sandbox goes: named
// paths and URLs below it, and images written into it. One per test case, or one per suite that
// also holds the isolated home.
class TestSandbox
{
public:
    TestSandbox();

    [[nodiscard]] QString path() const { return m_dir.path(); }
    [[nodiscard]] QString filePath(const QString& name) const { return m_dir.filePath(name); }
    // The sandbox itself without a name.
    [[nodiscard]] QUrl url(const QString& name = {}) const
    {
        return QUrl::fromLocalFile(name.isEmpty() ? path() : filePath(name));
    }
    [[nodiscard]] QList<QUrl> urls(const QStringList& names) const;

    // Writes each name (missing folders are made) as a small PNG whose Limnora text carries the
    // seed `firstSeed`, `firstSeed` + 1, ... in the order given, so that records can be told apart.
    void writeImages(const QStringList& names, int firstSeed = 1) const;

    // Makes this process live below the sandbox: HOME, XDG_DATA_HOME (and so the Trash),
    // XDG_CONFIG_HOME, XDG_CACHE_HOME and the preferences (`usePreferencesIn`). Call it before
    // anything reads them: GIO reads them once per process.
    void isolateHome() const;
    // Where the isolated home's Trash keeps moved files.
    [[nodiscard]] QString trashFiles() const { return filePath(QStringLiteral("data/Trash/files")); }

private:
    QTemporaryDir m_dir;
};

// "img0000.png", "img0001.png", ...: the same order by name and naturally.
[[nodiscard]] QStringList numberedNames(int count, const QString& prefix = QStringLiteral("img"));
// The file names of `urls`, for readable comparisons.
[[nodiscard]] QStringList fileNames(const QList<QUrl>& urls);

// Installs the English texts of the translation source (translations/limnoscope_en.ts) for the
// rest of the process, so that suites without the compiled translations read messages as the
// user sees them.
void installEnglishTexts();

// Opens `path` in a browser model and waits until its listing is shown.
template <typename Model> [[nodiscard]] bool openFolder(Model& model, const QString& path)
{
    QSignalSpy loaded(&model, &Model::folderLoaded);
    model.loadFolder(QUrl::fromLocalFile(path));
    return loaded.wait(asyncTimeoutMs);
}

// Rescans the model's open folder and waits until the rescan is applied.
template <typename Model> [[nodiscard]] bool rescan(Model& model)
{
    QSignalSpy rescanned(&model, &Model::folderRescanned);
    model.rescanFolder();
    return rescanned.wait(asyncTimeoutMs);
}

// A port of 127.0.0.1 that nothing listens on right now.
[[nodiscard]] quint16 unusedLocalPort();

} // namespace limnoscope::test
