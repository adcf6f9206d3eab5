#pragma once

// The window every window suite drives: a private home (preferences, the Trash), a folder of five
// images img1.png…img5.png opened in a real MainWindow with its own model and context.

#include "ContentView.h"
#include "ImageBrowserModel.h"
#include "KeySinkView.h"
#include "LimnoraAPI.h"
#include "Localization.h"
#include "MainWindow.h"
#include "SidebarListModel.h"
#include "TestAppContext.h"
#include "TestFiles.h"
#include "TestSandbox.h"

#include <QApplication>
#include <QDir>
#include <QSettings>
#include <QTest>

namespace limnoscope::test {

class WindowSuite : public QObject
{
protected:
    TestSandbox m_home;
    std::unique_ptr<TestSandbox> m_folder;
    LimnoraAPIService* m_api = nullptr;
    ImageBrowserModel* m_model = nullptr;
    std::unique_ptr<TestAppContext> m_app;
    MainWindow* m_window = nullptr;

    QUrl image(int number) const { return m_folder->url(QStringLiteral("img%1.png").arg(number)); }
    QString trashFolder() const { return m_home.trashFiles(); }

    // The image rows' names and the header rows' counts, as the list shows them: "[1/5] img4 img5".
    static QString shownRows(const SidebarListModel& rows)
    {
        QStringList shown;
        for (int row = 0; row < rows.rowCount(); ++row) {
            const QModelIndex index = rows.index(row);
            QStringList counts { index.data(SidebarListModel::GroupImageCountRole).toString() };
            if (const qint64 listed = index.data(SidebarListModel::GroupListedCountRole).toLongLong(); listed >= 0)
                counts.append(QString::number(listed));
            shown.append(rows.rowKind(row) == SidebarListModel::RowKind::image ? rows.rowTitle(row)
                                                                               : "[" + counts.join(u'/') + "]");
        }
        return shown.join(u' ');
    }

    void sendKey(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        QWidget* target = QApplication::focusWidget() ? QApplication::focusWidget() : m_window;
        QTest::keyClick(target, key, modifiers);
    }

    // Once per suite: the private home, translations and an API service that finds nobody.
    void setUpSuite()
    {
        m_home.isolateHome(); // preferences and the Trash
        installTranslations(qApp);
        m_api = new LimnoraAPIService(unusedLocalPort(), this);
    }

    // Before each case: a fresh folder shown in a fresh window, the first image current, the keys on the window.
    void openWindow()
    {
        QSettings().clear();
        QDir(QFileInfo(trashFolder()).path()).removeRecursively();
        QFile::remove(QFileInfo(trashFolder()).path()); // a Trash broken on purpose
        m_folder = std::make_unique<TestSandbox>();
        m_folder->writeImages({ "img1.png", "img2.png", "img3.png", "img4.png", "img5.png" });
        m_model = new ImageBrowserModel(this);
        m_app = std::make_unique<TestAppContext>(m_model, m_api);
        m_window = new MainWindow(m_app->context);
        m_window->show();
        m_window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_window));
        QVERIFY(openFolder(*m_model, m_folder->path()));
        QCOMPARE(m_model->currentImageURL(), image(1));
        m_window->contentView()->keySink()->setFocus();
    }

    void closeWindow()
    {
        delete m_window;
        m_app.reset();
        delete m_model;
    }
};

} // namespace limnoscope::test
