#include <QApplication>
#include <QMainWindow>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Limnoscope"));
    QApplication::setOrganizationName(QStringLiteral("Limnoscope"));

    QMainWindow window;
    window.setWindowTitle(QStringLiteral("Limnoscope"));
    window.resize(1100, 720);
    window.show();
    return app.exec();
}
