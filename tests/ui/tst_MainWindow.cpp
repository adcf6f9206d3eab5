#include "AppNotifications.h"
#include "CenterPanelView.h"
#include "ContentView.h"
#include "EmptyDetailView.h"
#include "ImageBrowserModel.h"
#include "ImageContextMenu.h"
#include "ImageListView.h"
#include "KeySinkView.h"
#include "LimnoraAPI.h"
#include "Localization.h"
#include "LocalizedText.h"
#include "MainWindow.h"
#include "MetadataIndex.h"
#include "QuickLookPanel.h"
#include "SidebarListModel.h"
#include "SidebarView.h"
#include "StableSplitView.h"
#include "TestFiles.h"
#include "TestHttpServer.h"
#include "TestSandbox.h"
#include "TransientMessage.h"
#include "WindowFixture.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QDialog>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QSettings>
#include <QTest>

using namespace limnoscope;
using namespace limnoscope::test;

class TestMainWindow : public WindowSuite
{
    Q_OBJECT

private slots:
    void initTestCase() { setUpSuite(); }
    void init() { openWindow(); }
    void cleanup() { closeWindow(); }

    // Real key events: steps, jumps, the notification each delete key posts, nothing under a field or dialog.
    void keys_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<int>("start");
        QTest::addColumn<bool>("withSelection");
        QTest::addColumn<int>("expectedIndex");
        QTest::addColumn<QString>("posted");
        QTest::addColumn<QString>("holder"); // what has the keyboard instead of the window
        const auto row = [](const char* name, int key, int modifiers, int start, bool selection, int index,
                             const char* posted = "", const char* holder = "") {
            QTest::newRow(name) << key << modifiers << start << selection << index << QString(posted)
                                << QString(holder);
        };
        row("Down", Qt::Key_Down, 0, 0, true, 1);
        row("Right", Qt::Key_Right, 0, 1, false, 2);
        row("Up", Qt::Key_Up, 0, 2, false, 1);
        row("Left", Qt::Key_Left, 0, 4, false, 3);
        row("Left at the start: no wrap-around", Qt::Key_Left, 0, 0, false, 0);
        row("Ctrl+End", Qt::Key_End, Qt::ControlModifier, 1, true, 4);
        row("Ctrl+Home", Qt::Key_Home, Qt::ControlModifier, 3, true, 0);
        row("Delete, nothing selected", Qt::Key_Delete, 0, 2, false, 2, "deleteCurrentImage");
        row("Ctrl+Backspace", Qt::Key_Backspace, Qt::ControlModifier, 2, false, 2, "deleteCurrentImage");
        row("Delete, three selected", Qt::Key_Delete, 0, 2, true, 2, "deleteSelectedImages");
        row("Shift+Delete", Qt::Key_Delete, Qt::ShiftModifier, 2, false, 2, "deleteImmediately");
        row("plain Backspace does nothing", Qt::Key_Backspace, 0, 2, false, 2);
        row("Down in a text field", Qt::Key_Down, 0, 0, false, 0, "", "field");
        row("Down under a modal dialog", Qt::Key_Down, 0, 0, false, 0, "", "dialog");
    }

    void keys()
    {
        QFETCH(int, key);
        QFETCH(int, modifiers);
        QFETCH(int, start);
        QFETCH(bool, withSelection);
        QFETCH(int, expectedIndex);
        QFETCH(QString, posted);
        QFETCH(QString, holder);
        QLineEdit field(m_window);
        QDialog dialog(m_window);
        if (holder == "field") {
            field.show();
            field.setFocus();
            QTRY_VERIFY(field.hasFocus());
        } else if (holder == "dialog") {
            dialog.setModal(true);
            dialog.show();
            QTRY_VERIFY(QApplication::activeModalWidget() == &dialog);
        }
        AppNotifications* notifications = &m_app->notifications;
        if (key == Qt::Key_Delete || key == Qt::Key_Backspace)
            QObject::disconnect(notifications, nullptr, nullptr, nullptr);
        QSignalSpy current(notifications, &AppNotifications::deleteCurrentImage);
        QSignalSpy selected(notifications, &AppNotifications::deleteSelectedImages);
        QSignalSpy immediately(notifications, &AppNotifications::deleteImmediately);
        m_model->selectImage(start);
        if (withSelection)
            m_model->setSelectedURLs({ image(1), image(2), image(3) });
        if (holder == "dialog") // the key sink itself, as the dialog holds the keyboard
            QTest::keyClick(m_window->contentView()->keySink(), Qt::Key(key), Qt::KeyboardModifiers(modifiers));
        else
            sendKey(Qt::Key(key), Qt::KeyboardModifiers(modifiers));
        QCOMPARE(m_model->currentIndex(), expectedIndex);
        QCOMPARE(m_model->selectedURLs().size(), withSelection && expectedIndex == start ? 3 : 0);
        QCOMPARE(current.size(), posted == "deleteCurrentImage" ? 1 : 0);
        QCOMPARE(selected.size(), posted == "deleteSelectedImages" ? 1 : 0);
        QCOMPARE(immediately.size(), posted == "deleteImmediately" ? 1 : 0);
    }

    void dropRules_data()
    {
        QTest::addColumn<QString>("dropped"); // relative to the test folder; "/elsewhere/..." in the home
        QTest::addColumn<QString>("expectedRoot"); // empty: unchanged
        QTest::addColumn<QString>("expectedList");
        QTest::addColumn<bool>("saysWhy"); // the middle of the window shows the model's message
        const auto row = [](const char* name, const char* dropped, const char* root, const char* list,
                             bool says = false) { QTest::newRow(name) << dropped << root << list << says; };
        const char* unchanged = "img1.png img2.png img3.png img4.png img5.png";
        row("one folder opens", "/elsewhere", "/elsewhere", "a.png b.jpg img10.PNG");
        row("one image of the open folder does nothing", "img3.png", "", unchanged);
        row("one image from elsewhere", "/elsewhere/b.jpg", "none", "b.jpg");
        row("two folders do nothing", "/elsewhere /", "", unchanged);
        row("images only, natural order", "/elsewhere/notes.txt /elsewhere/img10.PNG img2.png /elsewhere/b.jpg", "none",
            "b.jpg img2.png img10.PNG");
        // As the command line hands its argument over.
        row("a missing folder", "/no-such-folder", "/no-such-folder", "", true);
        row("a missing image", "/no-such-image.png", "none", "no-such-image.png", true);
    }

    void dropRules()
    {
        QFETCH(QString, dropped);
        QFETCH(QString, expectedRoot);
        QFETCH(QString, expectedList);
        QFETCH(bool, saysWhy);
        const QString elsewhere = m_home.filePath("elsewhere");
        writeFile(elsewhere + "/a.png", pngWithDescription("a"));
        writeFile(elsewhere + "/b.jpg", "not really a jpeg");
        writeFile(elsewhere + "/img10.PNG", pngWithDescription("ten"));
        writeFile(elsewhere + "/notes.txt", "text");

        QList<QUrl> urls;
        for (const QString& item : dropped.split(u' '))
            urls.append(item.startsWith('/') ? m_home.url(item.mid(1)) : m_folder->url(item));
        m_window->contentView()->handleDroppedURLs(urls);
        QTRY_VERIFY(!m_model->isScanning()); // a dropped folder is listed on a worker
        const QString root = m_model->rootFolderURL().toLocalFile();
        QCOMPARE(root.isEmpty()            ? u"none"_qs
                : root == m_folder->path() ? QString()
                                           : root.mid(m_home.path().size()),
            expectedRoot);
        QCOMPARE(fileNames(m_model->flatURLs()).join(u' '), expectedList);
        if (saysWhy) {
            QTRY_VERIFY(!m_model->errorMessage().isEmpty()); // a missing image is found out on a worker
            CenterPanelView* center = m_window->contentView()->centerPanel();
            QTRY_COMPARE(center->currentWidget(), center->emptyView());
            QCOMPARE(center->emptyView()->shownText(), m_model->errorMessage());
        }
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
        // It starts in the open folder; the user goes to its parent and types the name.
        QCOMPARE(picker->directory().path(), m_folder->path());
        picker->setDirectory(m_home.path());
        QTest::keyClicks(nameField, "chosen");
        QTest::keyClick(nameField, Qt::Key_Return);
        QVERIFY(loaded.wait());
        QCOMPARE(m_model->rootFolderURL(), QUrl::fromLocalFile(elsewhere));
        QCOMPARE(m_model->flatURLs(), QList<QUrl> { QUrl::fromLocalFile(elsewhere + "/b.png") });
        QTRY_VERIFY(!m_window->contentView()->openFolderPicker());
    }

    // File, Clear Metadata Index, chosen with the keyboard: the index forgets the folder's
    // readings and the window says so.
    void clearMetadataIndexFromTheFileMenu()
    {
        QStringList paths;
        for (const QUrl& url : m_model->flatURLs())
            paths.append(url.toLocalFile());
        const MetadataIndex index;
        QTRY_COMPARE(index.lookup(paths).size(), paths.size()); // stored by the first pass
        const MetadataPrefetcher& prefetcher = m_model->metadataPrefetcher();
        QTRY_VERIFY(prefetcher.exiftoolPassBacklog() == 0 && !prefetcher.isExiftoolPassRunning()); // stores too
        QTest::keyClick(m_window, Qt::Key_F, Qt::AltModifier);
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        QVERIFY(menu);
        QTest::keyClick(menu, Qt::Key_M);
        const auto* message = m_window->findChild<TransientMessage*>();
        QTRY_COMPARE(message->currentMessage(), qtTrId("metadata_index_cleared"));
        QCOMPARE(index.lookup(paths).size(), 0);
        QTRY_VERIFY_WITH_TIMEOUT(message->isHidden(), MainWindow::messageShownMs + asyncTimeoutMs);
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
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const QRect contentBefore = window.contentView()->geometry();
        api.generate(LimnoraMetadata {});
        const auto* message = window.findChild<TransientMessage*>();
        QTRY_COMPARE(message->currentMessage(), shown);
        // Over the bottom of the window, moving nothing.
        QCOMPARE(window.contentView()->geometry(), contentBefore);
        QVERIFY(window.rect().contains(message->geometry()));
        QVERIFY(message->geometry().bottom() > window.height() * 3 / 4);
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
        emit m_app->notifications.deleteSelectedImages(); // nothing selected: no question
        QVERIFY(!m_window->contentView()->openConfirmation());
        if (trashBroken)
            writeFile(QFileInfo(trashFolder()).path(), "a file where the Trash should be");
        // A stale member of the selection that is not listed must never be touched.
        const QString outsider = m_home.filePath("outsider.png");
        writeFile(outsider, pngWithDescription("keep me"));
        m_model->setSelectedURLs({ image(2), image(3), QUrl::fromLocalFile(outsider) });
        emit m_app->notifications.deleteSelectedImages();
        QMessageBox* dialog = m_window->contentView()->openConfirmation();
        QVERIFY(dialog);
        QCOMPARE(dialog->text(), localizedFormat("delete_multi_alert_message", { "3" }));
        for (QAbstractButton* button : dialog->buttons())
            if (button->text() == qtTrId(confirm ? "delete_alert_confirm" : "delete_alert_cancel"))
                button->click();
        QTRY_VERIFY(!m_window->contentView()->openConfirmation());
        const bool moved = confirm && !trashBroken;
        QTRY_COMPARE(m_model->flatURLs().size(), moved ? 3 : 5);
        QCOMPARE(QFileInfo::exists(image(2).toLocalFile()) + QFileInfo::exists(image(3).toLocalFile()), moved ? 0 : 2);
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

    void shiftDeleteTrashesTheCurrentImage_data()
    {
        QTest::addColumn<bool>("fromQuickLook");
        QTest::newRow("in the window: Quick Look stays closed") << false;
        QTest::newRow("in Quick Look opened by Space: shown again, follows Down, Space closes") << true;
    }

    void shiftDeleteTrashesTheCurrentImage()
    {
        QFETCH(bool, fromQuickLook);
        QuickLookPanel* quickLook = m_window->quickLook();
        QTest::qWait(ContentView::folderOpenedFocusDelay.count() * 2); // past the opened folder's focus return
        m_model->selectImage(2);
        if (fromQuickLook) {
            sendKey(Qt::Key_Space);
            QTRY_VERIFY(quickLook->isVisible());
            QCOMPARE(quickLook->shownURL(), image(3));
            QTest::keyClick(quickLook, Qt::Key_Delete, Qt::ShiftModifier);
        } else {
            sendKey(Qt::Key_Delete, Qt::ShiftModifier);
        }
        QTRY_COMPARE(m_model->currentImageURL(), image(4)); // the image that slid into place
        QVERIFY(QFileInfo::exists(trashFolder() + "/img3.png"));
        if (fromQuickLook) {
            QTRY_VERIFY(quickLook->isVisible());
            QCOMPARE(quickLook->shownURL(), image(4));
            QTest::qWait(2 * ContentView::quickLookReshowDelayMs); // past its reshow, which takes the keyboard
            QTest::keyClick(m_window->contentView()->keySink(), Qt::Key_Down);
            QCOMPARE(quickLook->shownURL(), image(5)); // the panel follows the window's current image
            QTest::keyClick(m_window->contentView()->keySink(), Qt::Key_Space);
            QTRY_VERIFY(!quickLook->isVisible());
        } else { // the keyboard comes back to the key sink, wherever the removal left it
            QLineEdit field(m_window);
            field.show();
            field.setFocus();
            QVERIFY(field.hasFocus());
            QTRY_VERIFY(m_window->contentView()->keySink()->hasFocus());
            QTest::qWait(2 * ContentView::quickLookReshowDelayMs); // past the moment Quick Look would open
            QVERIFY(!quickLook->isVisible());
        }
    }

    void previewToggleAndSplitRestored()
    {
        StableSplitView* split = m_window->contentView()->splitView();
        QAction* toggle = m_window->previewToggle();
        QCOMPARE(toggle->toolTip(), qtTrId("hide_preview") + " (F9)");
        toggle->trigger();
        QCOMPARE(toggle->toolTip(), qtTrId("show_preview") + " (F9)");
        QVERIFY(!split->isPreviewVisible());
        split->setPreviewVisible(true, false);
        split->setSizes({ 300, 500, 250 });
        emit split->splitterMoved(300, 1);
        const QList<int> saved = split->sizes();
        delete m_window;
        m_window = new MainWindow(m_app->context);
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window));
        QCOMPARE(m_window->contentView()->splitView()->sizes(), saved);
    }

    // The sidebar filter: Ctrl+F, typing, an error, Esc and "Same seed" on img1 to img5 (seeds 1 to 5).
    void filterFlow()
    {
        QTRY_VERIFY_WITH_TIMEOUT(!m_model->isPrefetching(), asyncTimeoutMs);
        KeySinkView* keySink = m_window->contentView()->keySink();
        QTest::qWait(int(ContentView::folderOpenedFocusDelay.count()) + 50); // the key sink takes the keyboard
        QVERIFY(keySink->hasFocus());
        auto* sidebar = m_window->findChild<SidebarView*>();
        QLineEdit* field = sidebar->filterField();
        const SidebarListModel& rows = *sidebar->imageList()->rowsModel();
        auto* counter = sidebar->findChild<QLabel*>(QStringLiteral("positionCounter"));
        auto* status = sidebar->findChild<QLabel*>(QStringLiteral("filterStatus"));

        QTest::keyClick(keySink, Qt::Key_F, Qt::ControlModifier);
        QTRY_VERIFY(field->hasFocus());
        QTest::keyClicks(field, "seed:>3");
        QTRY_COMPARE_WITH_TIMEOUT(shownRows(rows), "[2/5] img4 img5", asyncTimeoutMs);
        QCOMPARE(counter->text(), localizedFormat("position_of_listed", { "1", "2", "5" }));
        QVERIFY(status->isHidden());

        QTest::keyClicks(field, " -"); // a minus with nothing after it: an error, nothing filtered
        QTRY_VERIFY(status->isVisible());
        QCOMPARE(status->text(), m_model->filterError());
        QCOMPARE(shownRows(rows), "[5] img1 img2 img3 img4 img5");

        QVERIFY(field->hasFocus());
        QTest::keyClick(field, Qt::Key_Escape);
        QCOMPARE(field->text(), QString());
        QCOMPARE(shownRows(rows), "[5] img1 img2 img3 img4 img5");
        QTRY_VERIFY(keySink->hasFocus());

        const QModelIndex second = rows.index(rows.rowOfImage(image(2)));
        const QPoint where = sidebar->imageList()->visualRect(second).center();
        QContextMenuEvent event(QContextMenuEvent::Mouse, where, sidebar->imageList()->viewport()->mapToGlobal(where));
        QApplication::sendEvent(sidebar->imageList()->viewport(), &event);
        auto* menu = qobject_cast<ImageContextMenu*>(QApplication::activePopupWidget());
        QVERIFY(menu);
        QCOMPARE(menu->actions().last()->shortcut(), QKeySequence(QKeySequence::Delete)); // shown, the window's key
        auto* sameSeed = menu->findChild<QAction*>(QStringLiteral("sameSeed"));
        QVERIFY(sameSeed && sameSeed->isEnabled() && sameSeed->text() == qtTrId("ctx_same_seed"));
        sameSeed->trigger();
        menu->close();
        QCOMPARE(field->text(), "seed:2");
        QTRY_COMPARE_WITH_TIMEOUT(shownRows(rows), "[1/5] img2", asyncTimeoutMs);
        QCOMPARE(counter->text(), localizedFormat("position_of_listed", { "1", "1", "5" }));

        // Ctrl+F right after a folder opened: the key sink's hand-back leaves the field the keyboard.
        m_window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_window));
        keySink->setFocus();
        QSignalSpy opened(m_model, &ImageBrowserModel::folderLoaded);
        m_model->loadFolder(m_model->rootFolderURL());
        QVERIFY(opened.wait(asyncTimeoutMs));
        QTest::keyClick(keySink, Qt::Key_F, Qt::ControlModifier);
        QTRY_VERIFY(field->hasFocus());
        QTest::qWait(int(ContentView::folderOpenedFocusDelay.count()) + 50);
        QVERIFY(field->hasFocus());
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_MainWindow.moc"
