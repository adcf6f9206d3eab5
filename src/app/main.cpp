#include "AppDelegate.h"
#include "ContentView.h"
#include "Icons.h"
#include "ImageBrowserModel.h"
#include "LimnoraAPI.h"
#include "Localization.h"
#include "MainWindow.h"

#include <QApplication>
#include <QTimer>

using namespace limnoscope;

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Limnoscope"));
    QApplication::setOrganizationName(QStringLiteral("Limnoscope"));
    QApplication::setDesktopFileName(QStringLiteral("limnoscope"));
    QApplication::setWindowIcon(applicationIcon());
    installTranslations(&app);

    ImageBrowserModel *model = ImageBrowserModel::shared();
    LimnoraAPIService *api = LimnoraAPIService::shared();

    MainWindow window(model, api);
    window.show();

    // A folder or image given as the first argument opens like a drop of that one item.
    const QStringList arguments = QApplication::arguments();
    const QString openAtStart = arguments.size() > 1 ? arguments.at(1) : QString();
    AppDelegate delegate(model);
    QTimer::singleShot(0, &delegate, [&] {
        delegate.applicationDidFinishLaunching(
            openAtStart, [&window](const QUrl &url) { window.contentView()->handleDroppedURLs({url}); });
    });
    return app.exec();
}
