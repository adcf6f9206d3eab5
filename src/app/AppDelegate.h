#pragma once

#include <QObject>
#include <QStringList>
#include <QUrl>

#include <functional>
#include <sys/resource.h>
#include <sys/stat.h>

namespace limnoscope {

class ImageBrowserModel;

// The start-up steps once the window is up: reopen the last folder (or open the paths the
// program was started with), raise the open-file limit, and sweep leftover download files
// from Limnoscope's own temporary folder. GUI thread; the sweep runs on a worker.
class AppDelegate : public QObject
{
    Q_OBJECT

public:
    static constexpr rlim_t openFileLimit = 10240;
    // The only mode Limnoscope's own temporary folder may have: nobody else can enter it.
    static constexpr mode_t privateFolderMode = 0700;

    explicit AppDelegate(ImageBrowserModel* model, QObject* parent = nullptr);

    // `openAtStart`: the folders and images given on the command line, relative paths taken from
    // the working folder, handed to `open` as absolute URLs instead of reopening the last folder;
    // empty for none.
    void applicationDidFinishLaunching(
        const QStringList& openAtStart, const std::function<void(const QList<QUrl>&)>& open);

    // Limnoscope's lasting temporary folder, $TMPDIR/limnoscope-<uid>, whoever made it.
    [[nodiscard]] static QString lastingTemporaryDirectory();
    // The temporary folder to use: the lasting one (made when missing) when it is a real folder
    // of this user in `privateFolderMode`; otherwise a fresh private folder made by this call,
    // $TMPDIR/limnoscope-<uid>-XXXXXX. Empty when neither can be had. The shared one is never used.
    [[nodiscard]] static QString temporaryDirectory();
    // Deletes the regular files of `directory` whose names begin with "CFNetworkDownload", when
    // the folder itself (not a link) is this user's in `privateFolderMode`. Links and folders of
    // such names are neither followed nor deleted.
    static void sweepDownloadLeftovers(const QString& directory);
    // Raises the soft open-file limit to the smaller of the hard limit and `openFileLimit`.
    static void raiseOpenFileLimit();

private:
    [[nodiscard]] static bool isPrivateFolder(const struct stat& status);

    ImageBrowserModel* m_model;
};

} // namespace limnoscope
