#pragma once

#include <QObject>
#include <QUrl>

#include <functional>
#include <sys/resource.h>

namespace limnoscope {

class ImageBrowserModel;

// The start-up steps once the window is up: reopen the last folder (or open the path the
// program was started with), raise the open-file limit, and sweep leftover download files
// from Limnoscope's own temporary folder. GUI thread; the sweep runs on a worker.
class AppDelegate : public QObject
{
    Q_OBJECT

public:
    static constexpr rlim_t openFileLimit = 10240;

    explicit AppDelegate(ImageBrowserModel *model, QObject *parent = nullptr);

    // `openAtStart`: a folder or image given on the command line, handled by `open` instead of
    // reopening the last folder; empty for none.
    void applicationDidFinishLaunching(const QString &openAtStart, const std::function<void(const QUrl &)> &open);

    // Limnoscope's own temporary folder ($TMPDIR/limnoscope-<uid>); the shared one is never swept.
    [[nodiscard]] static QString temporaryDirectory();
    // Deletes the entries of `directory` whose names begin with "CFNetworkDownload".
    static void sweepDownloadLeftovers(const QString &directory);
    // Raises the soft open-file limit to the smaller of the hard limit and `openFileLimit`.
    static void raiseOpenFileLimit();

private:
    ImageBrowserModel *m_model;
};

} // namespace limnoscope
