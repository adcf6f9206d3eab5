#include "AppContext.h"
#include "AppDelegate.h"
#include "AppNotifications.h"
#include "ContentView.h"
#include "Icons.h"
#include "ImageBrowserModel.h"
#include "LimnoraAPI.h"
#include "Localization.h"
#include "MainWindow.h"
#include "TagContextMenu.h"
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
    TagWorker tagWorker;
    AppContext context;
    context.model = ImageBrowserModel::shared();
    context.api = LimnoraAPIService::shared();
    context.notifications = &notifications;
    context.thumbnailGate = &ThumbnailSemaphore::shared();
    context.thumbnailCache = &ThumbnailCache::shared();
    const ThumbnailStore thumbnailStore;
    context.thumbnailStore = &thumbnailStore;
    context.tagWorker = &tagWorker;
    ImageBrowserModel* model = context.model;

    MainWindow window(context);
    window.show();

    // The folders and images given as arguments open like a drop of those items: one folder
    // opens, several items show their images as a list.
    const QStringList openAtStart = QApplication::arguments().mid(1);
    AppDelegate delegate(model);
    QTimer::singleShot(0, &delegate, [&] {
        delegate.applicationDidFinishLaunching(
            openAtStart, [&window](const QList<QUrl>& urls) { window.contentView()->handleDroppedURLs(urls); });
    });
    return app.exec();
}
