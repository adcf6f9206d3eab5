#include "AppContext.h"
#include "AppDelegate.h"
#include "AppNotifications.h"
#include "ContentView.h"
#include "Icons.h"
#include "ImageBrowserModel.h"
#include "LimnoraAPI.h"
#include "Localization.h"
#include "MainWindow.h"
#include "ThumbnailCache.h"
#include "ThumbnailSemaphore.h"
#include "ThumbnailStore.h"

#include <QApplication>
#include <QTimer>

using namespace limnoscope;

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Limnoscope"));
    QApplication::setOrganizationName(QStringLiteral("Limnoscope"));
    QApplication::setDesktopFileName(QStringLiteral("limnoscope"));
    QApplication::setWindowIcon(applicationIcon());
    installTranslations(&app);

    // The services every part of the window shares: made here, handed down from the window.
    AppNotifications notifications;
    AppContext context;
    context.model = ImageBrowserModel::shared();
    context.api = LimnoraAPIService::shared();
    context.notifications = &notifications;
    context.thumbnailGate = &ThumbnailSemaphore::shared();
    context.thumbnailCache = &ThumbnailCache::shared();
    const ThumbnailStore thumbnailStore;
    context.thumbnailStore = &thumbnailStore;
    ImageBrowserModel* model = context.model;

    MainWindow window(context);
    window.show();

    // A folder or image given as the first argument opens like a drop of that one item.
    const QStringList arguments = QApplication::arguments();
    const QString openAtStart = arguments.size() > 1 ? arguments.at(1) : QString();
    AppDelegate delegate(model);
    QTimer::singleShot(0, &delegate, [&] {
        delegate.applicationDidFinishLaunching(
            openAtStart, [&window](const QUrl& url) { window.contentView()->handleDroppedURLs({ url }); });
    });
    return app.exec();
}
