#include "AppNotifications.h"
#include "CenterPanelView.h"
#include "ContentView.h"
#include "EmptyDetailView.h"
#include "FileOperations.h"
#include "FileTags.h"
#include "ImageBrowserModel.h"
#include "KeySinkView.h"
#include "LimnoraAPI.h"
#include "Localization.h"
#include "LocalizedText.h"
#include "MainWindow.h"
#include "QuickLookPanel.h"
#include "StableSplitView.h"
#include "TestAppContext.h"
#include "TestFiles.h"
#include "TestHttpServer.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace limnoscope;
using namespace limnoscope::test;

namespace {

QString trashFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + "/Trash/files";
}

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_home;
    QTemporaryDir m_folder;
    LimnoraAPIService *m_api = nullptr;
    ImageBrowserModel *m_model = nullptr;
    std::unique_ptr<TestAppContext> m_app;
    MainWindow *m_window = nullptr;

    QUrl image(int number) const { return QUrl::fromLocalFile(m_folder.filePath(QStringLiteral("img%1.png").arg(number))); }

    void sendKey(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        QWidget *target = QApplication::focusWidget() ? QApplication::focusWidget() : m_window;
        QTest::keyClick(target, key, modifiers);
    }

private slots:
    void initTestCase()
    {
        // Preferences and the Trash live in the temporary home.
        usePreferencesIn(m_home.filePath("config"));
        qputenv("XDG_DATA_HOME", m_home.filePath("data").toUtf8());
        installTranslations(qApp);

        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost));
        const quint16 offlinePort = probe.serverPort();
        probe.close();
        m_api = new LimnoraAPIService(offlinePort, this);
    }

    void init()
    {
        QSettings().clear();
        QDir(QFileInfo(trashFolder()).path()).removeRecursively();
        QFile::remove(QFileInfo(trashFolder()).path()); // a Trash broken on purpose
        QDir(m_folder.path()).removeRecursively();
        QDir().mkpath(m_folder.path());
        for (int i = 1; i <= 5; ++i)
            writeFile(image(i).toLocalFile(), pngWithDescription(sampleLimnoraText(i).toLatin1()));
        m_model = new ImageBrowserModel(this);
        m_app = std::make_unique<TestAppContext>(m_model, m_api);
        m_window = new MainWindow(m_app->context);
        m_window->show();
        m_window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_window));
        QSignalSpy loaded(m_model, &ImageBrowserModel::folderLoaded);
        m_model->loadFolder(QUrl::fromLocalFile(m_folder.path()));
        QVERIFY(loaded.wait());
        QCOMPARE(m_model->currentImageURL(), image(1));
        m_window->contentView()->keySink()->setFocus();
    }

    void cleanup()
    {
        delete m_window;
        m_app.reset();
        delete m_model;
    }

    void arrowsHomeAndEnd()
    {
        sendKey(Qt::Key_Down);
        QCOMPARE(m_model->currentIndex(), 1);
        sendKey(Qt::Key_Right);
        QCOMPARE(m_model->currentIndex(), 2);
        sendKey(Qt::Key_Up);
        QCOMPARE(m_model->currentIndex(), 1);
        m_model->setSelectedURLs({image(1), image(2)});
        sendKey(Qt::Key_End, Qt::ControlModifier);
        QCOMPARE(m_model->currentIndex(), 4);
        QVERIFY(m_model->selectedURLs().isEmpty());
        sendKey(Qt::Key_Left);
        QCOMPARE(m_model->currentIndex(), 3);
        sendKey(Qt::Key_Home, Qt::ControlModifier);
        QCOMPARE(m_model->currentIndex(), 0);
        sendKey(Qt::Key_Left); // no wrap-around
        QCOMPARE(m_model->currentIndex(), 0);
    }

    void deleteKeysPostTheRightNotification_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<bool>("withSelection");
        QTest::addColumn<QString>("posted");
        QTest::newRow("Delete, nothing selected") << int(Qt::Key_Delete) << 0 << false << "deleteCurrentImage";
        QTest::newRow("Ctrl+Backspace, nothing selected")
            << int(Qt::Key_Backspace) << int(Qt::ControlModifier) << false << "deleteCurrentImage";
        QTest::newRow("Delete, three selected") << int(Qt::Key_Delete) << 0 << true << "deleteSelectedImages";
        QTest::newRow("Shift+Delete") << int(Qt::Key_Delete) << int(Qt::ShiftModifier) << false << "deleteImmediately";
        QTest::newRow("plain Backspace does nothing") << int(Qt::Key_Backspace) << 0 << false << "";
    }

    void deleteKeysPostTheRightNotification()
    {
        QFETCH(int, key);
        QFETCH(int, modifiers);
        QFETCH(bool, withSelection);
        QFETCH(QString, posted);
        AppNotifications* notifications = &m_app->notifications;
        // Observe only: no dialog and no Trash move in this test.
        QObject::disconnect(notifications, nullptr, nullptr, nullptr);
        QSignalSpy current(notifications, &AppNotifications::deleteCurrentImage);
        QSignalSpy selected(notifications, &AppNotifications::deleteSelectedImages);
        QSignalSpy immediately(notifications, &AppNotifications::deleteImmediately);
        if (withSelection)
            m_model->setSelectedURLs({image(1), image(2), image(3)});
        sendKey(Qt::Key(key), Qt::KeyboardModifiers(modifiers));
        QCOMPARE(current.size(), posted == "deleteCurrentImage" ? 1 : 0);
        QCOMPARE(selected.size(), posted == "deleteSelectedImages" ? 1 : 0);
        QCOMPARE(immediately.size(), posted == "deleteImmediately" ? 1 : 0);
    }

    void nothingHandledWhileTextOrDialogHasTheKeyboard()
    {
        auto *field = new QLineEdit(m_window);
        field->show();
        field->setFocus();
        QTRY_VERIFY(field->hasFocus());
        sendKey(Qt::Key_Down);
        QCOMPARE(m_model->currentIndex(), 0);
        delete field;

        m_window->contentView()->keySink()->setFocus();
        QDialog dialog(m_window);
        dialog.setModal(true);
        dialog.show();
        QTRY_VERIFY(QApplication::activeModalWidget() == &dialog);
        QTest::keyClick(m_window->contentView()->keySink(), Qt::Key_Down);
        QCOMPARE(m_model->currentIndex(), 0);
    }

    void spaceTogglesQuickLook()
    {
        QuickLookPanel* panel = m_window->quickLook();
        QVERIFY(panel);
        sendKey(Qt::Key_Space);
        QTRY_VERIFY(panel->isVisible());
        QCOMPARE(panel->shownURL(), image(1));
        m_window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_window));
        m_window->contentView()->keySink()->setFocus();
        sendKey(Qt::Key_Down);
        QCOMPARE(panel->shownURL(), image(2)); // the panel follows the current image
        sendKey(Qt::Key_Space);
        QTRY_VERIFY(!panel->isVisible());
    }

    void sortMenuChecksTheCurrentOrder()
    {
        const QList<QAction *> actions = m_window->sortActions();
        QCOMPARE(actions.size(), 4);
        const auto checked = [&] {
            int count = 0;
            for (QAction *action : actions)
                count += action->isChecked();
            return count;
        };
        QCOMPARE(checked(), 1);
        QVERIFY(actions[0]->isChecked());
        actions[1]->trigger();
        QCOMPARE(m_model->sortOrder(), SortOrder::nameDescending);
        QCOMPARE(checked(), 1);
        QVERIFY(actions[1]->isChecked());
        QCOMPARE(m_model->currentImageURL(), image(1)); // the sort keeps the current image
        QCOMPARE(m_model->currentIndex(), 4);
    }

    void tagShortcutsChangeTheAttribute()
    {
        QVERIFY(writeTagEntries({ "Project X" }, image(1)));
        QSignalSpy changed(&m_app->notifications, &AppNotifications::tagsDidChange);
        const qint64 version = m_model->tagVersion();
        sendKey(Qt::Key_3, Qt::ControlModifier);
        QCOMPARE(readTags(image(1)), QList<FinderTag>{FinderTag::yellow});
        QCOMPARE(changed.size(), 1);
        QCOMPARE(m_model->tagVersion(), version + 1);
        sendKey(Qt::Key_1, Qt::ControlModifier);
        QCOMPARE(readTags(image(1)).size(), 2);
        sendKey(Qt::Key_0, Qt::ControlModifier);
        QCOMPARE(readTagEntries(image(1)), QStringList { "Project X" }); // the user's own tag stays
        QCOMPARE(changed.size(), 3);
    }

    void dropRules_data()
    {
        QTest::addColumn<QStringList>("dropped"); // relative to the test folder; "/elsewhere/..." in the home
        QTest::addColumn<QString>("expectedRoot");
        QTest::addColumn<QStringList>("expectedList");

        QTest::newRow("one folder opens") << QStringList{"/elsewhere"} << "/elsewhere" << QStringList{"a.png", "b.jpg", "img10.PNG"};
        QTest::newRow("one image of the open folder does nothing")
            << QStringList{"img3.png"} << "" << QStringList{"img1.png", "img2.png", "img3.png", "img4.png", "img5.png"};
        QTest::newRow("one image from elsewhere") << QStringList{"/elsewhere/b.jpg"} << "none" << QStringList{"b.jpg"};
        QTest::newRow("two folders do nothing")
            << QStringList{"/elsewhere", "/"} << "" << QStringList{"img1.png", "img2.png", "img3.png", "img4.png", "img5.png"};
        QTest::newRow("images only, natural order")
            << QStringList{"/elsewhere/notes.txt", "/elsewhere/img10.PNG", "img2.png", "/elsewhere/b.jpg"} << "none"
            << QStringList{"b.jpg", "img2.png", "img10.PNG"};
    }

    void dropRules()
    {
        QFETCH(QStringList, dropped);
        QFETCH(QString, expectedRoot);
        QFETCH(QStringList, expectedList);
        const QString elsewhere = m_home.filePath("elsewhere");
        writeFile(elsewhere + "/a.png", pngWithDescription("a"));
        writeFile(elsewhere + "/b.jpg", "not really a jpeg");
        writeFile(elsewhere + "/img10.PNG", pngWithDescription("ten"));
        writeFile(elsewhere + "/notes.txt", "text");

        QList<QUrl> urls;
        for (const QString &item : dropped) {
            if (item == "/")
                urls.append(QUrl::fromLocalFile(m_home.path()));
            else if (item.startsWith("/elsewhere"))
                urls.append(QUrl::fromLocalFile(m_home.path() + item));
            else
                urls.append(QUrl::fromLocalFile(m_folder.filePath(item)));
        }
        const QUrl rootBefore = m_model->rootFolderURL();
        m_window->contentView()->handleDroppedURLs(urls);
        QTRY_VERIFY(!m_model->isScanning()); // a dropped folder is listed on a worker

        if (expectedRoot.isEmpty())
            QCOMPARE(m_model->rootFolderURL(), rootBefore);
        else if (expectedRoot == "none")
            QVERIFY(m_model->rootFolderURL().isEmpty());
        else
            QCOMPARE(m_model->rootFolderURL(), QUrl::fromLocalFile(m_home.path() + expectedRoot));
        QStringList names;
        for (const QUrl &url : m_model->flatURLs())
            names.append(url.fileName());
        QCOMPARE(names, expectedList);
    }

    void openFolderThroughTheDialog_data()
    {
        QTest::addColumn<QString>("route");
        QTest::newRow("Ctrl+O") << "key";
        QTest::newRow("sidebar button") << "openFolderButton";
        QTest::newRow("empty sidebar's button") << "emptyStateOpenFolderButton";
    }

    void openFolderThroughTheDialog()
    {
        QFETCH(QString, route);
        const QString elsewhere = m_home.filePath("chosen");
        writeFile(elsewhere + "/b.png", pngWithDescription("b"));
        if (route == "key") // the File menu's shortcut
            sendKey(Qt::Key_O, Qt::ControlModifier);
        else if (auto* button = m_window->findChild<QAbstractButton*>(route))
            button->click();
        QFileDialog* picker = m_window->contentView()->openFolderPicker();
        QVERIFY(picker);
        auto* nameField = picker->findChild<QLineEdit*>("fileNameEdit");
        QVERIFY2(nameField, "Qt's own file dialog, not a native one");
        QSignalSpy loaded(m_model, &ImageBrowserModel::folderLoaded);
        // The dialog starts in the open folder; the user goes to its parent and types the name.
        QCOMPARE(picker->directory().path(), m_folder.path());
        picker->setDirectory(m_home.path());
        QTest::keyClicks(nameField, "chosen");
        QTest::keyClick(nameField, Qt::Key_Return);
        QVERIFY(loaded.wait());
        QCOMPARE(m_model->rootFolderURL(), QUrl::fromLocalFile(elsewhere));
        QCOMPARE(m_model->flatURLs(), QList<QUrl> { QUrl::fromLocalFile(elsewhere + "/b.png") });
        QTRY_VERIFY(!m_window->contentView()->openFolderPicker());
    }

    void missingPathShowsTheModelsMessage_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("folder") << "no-such-folder";
        QTest::newRow("image") << "no-such-image.png";
    }

    void missingPathShowsTheModelsMessage()
    {
        QFETCH(QString, name);
        QTRY_VERIFY(m_model->currentMetadata().has_value());
        const QUrl missing = QUrl::fromLocalFile(m_home.filePath(name));
        // As the command line hands its argument over.
        m_window->contentView()->handleDroppedURLs({ missing });
        QTRY_VERIFY(!m_model->errorMessage().isEmpty());
        QVERIFY(m_model->rootFolderURL() == missing || m_model->flatURLs() == QList<QUrl> { missing });
        CenterPanelView* center = m_window->contentView()->centerPanel();
        QTRY_COMPARE(center->currentWidget(), center->emptyView());
        QCOMPARE(center->emptyView()->shownText(), m_model->errorMessage());
    }

    void generateOutcomeShownInTheWindow_data()
    {
        QTest::addColumn<int>("status"); // 0: nothing listening
        QTest::addColumn<QString>("shown");
        QTest::newRow("sent") << 200 << qtTrId("generate_outcome_sent");
        QTest::newRow("server error") << 500 << localizedFormat("generate_outcome_status", { "500" });
        QTest::newRow("nothing listening") << 0 << qtTrId("generate_outcome_unreachable");
    }

    void generateOutcomeShownInTheWindow()
    {
        QFETCH(int, status);
        QFETCH(QString, shown);
        TestHttpServer server;
        QVERIFY(server.listen());
        server.setResponse(status, "{}");
        LimnoraAPIService api(status ? server.port() : unusedLocalPort());
        TestAppContext app(m_model, &api);
        MainWindow window(app.context);
        api.generate(LimnoraMetadata {});
        QTRY_COMPARE(window.statusBar()->currentMessage(), shown);
    }

    void multiDeleteMovesSelectionToTheTrash_data()
    {
        QTest::addColumn<bool>("confirm");
        QTest::addColumn<bool>("trashBroken");
        QTest::newRow("confirmed") << true << false;
        QTest::newRow("cancelled") << false << false;
        QTest::newRow("Trash unusable: nothing forgotten, the user is told") << true << true;
    }

    void multiDeleteMovesSelectionToTheTrash()
    {
        QFETCH(bool, confirm);
        QFETCH(bool, trashBroken);
        if (trashBroken)
            writeFile(QFileInfo(trashFolder()).path(), "a file where the Trash should be");
        // A stale member of the selection that is not listed must never be touched.
        const QString outsider = m_home.filePath("outsider.png");
        writeFile(outsider, pngWithDescription("keep me"));
        m_model->setSelectedURLs({image(2), image(3), QUrl::fromLocalFile(outsider)});
        emit m_app->notifications.deleteSelectedImages();
        QMessageBox *dialog = m_window->contentView()->openConfirmation();
        QVERIFY(dialog);
        QCOMPARE(dialog->text(), localizedFormat("delete_multi_alert_message", {"3"}));
        for (QAbstractButton *button : dialog->buttons()) {
            if (button->text() == qtTrId(confirm ? "delete_alert_confirm" : "delete_alert_cancel"))
                button->click();
        }
        QTRY_VERIFY(!m_window->contentView()->openConfirmation());

        const bool moved = confirm && !trashBroken;
        QTRY_COMPARE(m_model->flatURLs().size(), moved ? 3 : 5);
        QCOMPARE(QFileInfo::exists(image(2).toLocalFile()), !moved);
        QCOMPARE(QFileInfo::exists(image(3).toLocalFile()), !moved);
        QCOMPARE(QFileInfo::exists(trashFolder() + "/img2.png"), moved);
        QVERIFY(QFileInfo::exists(outsider));
        QTRY_COMPARE(bool(m_window->findChild<QMessageBox*>("TrashFailureMessage")), confirm && trashBroken);
        if (auto* failure = m_window->findChild<QMessageBox*>("TrashFailureMessage")) {
            QCOMPARE(failure->text(), localizedFormat("trash_failed_multi_message", { "2" }));
            const QString lines = failure->informativeText(); // each file with its reason
            QVERIFY2(
                lines.startsWith("img") && lines.contains("\nimg") && lines.count(".png: ") == 2, qPrintable(lines));
            QVERIFY(m_model->selectedURLs().contains(image(2))); // the selection stays
            delete failure;
        }
    }

    void emptySelectionShowsNoDialog()
    {
        emit m_app->notifications.deleteSelectedImages();
        QVERIFY(!m_window->contentView()->openConfirmation());
    }

    void shiftDeleteTrashesTheCurrentImage_data()
    {
        QTest::addColumn<bool>("fromQuickLook");
        QTest::newRow("in the window: Quick Look stays closed") << false;
        QTest::newRow("in Quick Look: shown again on the next image") << true;
    }

    void shiftDeleteTrashesTheCurrentImage()
    {
        QFETCH(bool, fromQuickLook);
        QuickLookPanel* quickLook = m_window->quickLook();
        m_model->selectImage(2);
        if (fromQuickLook) {
            quickLook->present();
            QTest::keyClick(quickLook, Qt::Key_Delete, Qt::ShiftModifier);
        } else {
            sendKey(Qt::Key_Delete, Qt::ShiftModifier);
        }
        QTRY_COMPARE(m_model->currentImageURL(), image(4)); // the image that slid into place
        QVERIFY(QFileInfo::exists(trashFolder() + "/img3.png"));
        if (fromQuickLook) {
            QTRY_VERIFY(quickLook->isVisible());
            QCOMPARE(quickLook->shownURL(), image(4));
            quickLook->close();
        } else {
            // Nothing announces that Quick Look stays closed: wait past the moment it would open.
            QTest::qWait(2 * ContentView::quickLookReshowDelayMs);
            QVERIFY(!quickLook->isVisible());
        }
    }

    void trashInfoKeepsTheOriginalName_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("percent sign") << "a%20b.png";
        QTest::newRow("line feed and non-ASCII") << "Seerose\nam Morgen ü.png";
    }

    void trashInfoKeepsTheOriginalName()
    {
        QFETCH(QString, name);
        // The data folder is created on the way when missing.
        QDir(QFileInfo(QFileInfo(trashFolder()).path()).path()).removeRecursively();
        const QString path = m_folder.filePath(name);
        writeFile(path, "image");
        QString reason;
        QVERIFY2(moveFileToTrash(QUrl::fromLocalFile(path), &reason), qPrintable(reason));
        QVERIFY(QFileInfo::exists(trashFolder() + "/" + name));
        QFile info(QFileInfo(trashFolder()).path() + "/info/" + name + ".trashinfo");
        QVERIFY(info.open(QIODevice::ReadOnly));
        const QByteArray escaped = info.readAll().split('\n').value(1).mid(int(qstrlen("Path=")));
        QVERIFY(!escaped.contains(' ') && !escaped.contains("%20b"));
        QCOMPARE(QString::fromUtf8(QByteArray::fromPercentEncoding(escaped)), path);
        QVERIFY(!moveFileToTrash(QUrl::fromLocalFile(path), &reason)); // gone now
        QCOMPARE(reason, qtTrId("trash_error_missing"));
    }

    void splitViewStateRestored()
    {
        StableSplitView *split = m_window->contentView()->splitView();
        split->setPreviewVisible(false, false);
        QVERIFY(!split->isPreviewVisible());
        split->setPreviewVisible(true, false);
        split->setSizes({300, 500, 250});
        emit split->splitterMoved(300, 1);
        const QList<int> saved = split->sizes();
        delete m_window;
        m_window = new MainWindow(m_app->context);
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window));
        QCOMPARE(m_window->contentView()->splitView()->sizes(), saved);
    }

    void previewToggleTooltip()
    {
        QAction *toggle = m_window->previewToggle();
        QCOMPARE(toggle->toolTip(), qtTrId("hide_preview"));
        toggle->trigger();
        QCOMPARE(toggle->toolTip(), qtTrId("show_preview"));
        QVERIFY(!m_window->contentView()->splitView()->isPreviewVisible());
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_MainWindow.moc"
