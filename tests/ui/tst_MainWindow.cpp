#include "ActionTable.h"
#include "AppNotifications.h"
#include "CenterPanelView.h"
#include "ContentView.h"
#include "EmptyDetailView.h"
#include "FileTags.h"
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
#include "TestAppContext.h"
#include "TestFiles.h"
#include "TestHttpServer.h"
#include "TestSandbox.h"

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
#include <QStatusBar>
#include <QTest>

using namespace limnoscope;
using namespace limnoscope::test;

class TestMainWindow : public QObject
{
    Q_OBJECT

private:
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

private slots:
    void initTestCase()
    {
        m_home.isolateHome(); // preferences and the Trash
        installTranslations(qApp);
        m_api = new LimnoraAPIService(unusedLocalPort(), this);
    }

    void init()
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

    void cleanup()
    {
        delete m_window;
        m_app.reset();
        delete m_model;
    }

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

    void sortMenuChecksTheCurrentOrder()
    {
        const auto checked = [this] {
            QStringList texts;
            for (SortOrder order : SortOrders::all()) {
                const QAction* action = m_window->actionTable()->action(ActionTable::sortCommand(order));
                texts.append(action->isChecked() ? action->text() : QString());
            }
            return texts;
        };
        QCOMPARE(checked(), (QStringList { qtTrId("sort_name_asc"), "", "", "" }));
        m_window->actionTable()->action(ActionTable::Command::sortNameDescending)->trigger();
        QCOMPARE(m_model->sortOrder(), SortOrder::nameDescending);
        QCOMPARE(checked(), (QStringList { "", qtTrId("sort_name_desc"), "", "" }));
        QCOMPARE(m_model->currentImageURL(), image(1)); // the sort keeps the current image
        QCOMPARE(m_model->currentIndex(), 4);
    }

    void tagShortcutsChangeTheAttribute()
    {
        QVERIFY(writeTagEntries({ "Project X" }, image(1)));
        QSignalSpy changed(&m_app->notifications, &AppNotifications::tagsDidChange);
        const qint64 version = m_model->tagVersion();
        sendKey(Qt::Key_3, Qt::ControlModifier);
        QTRY_COMPARE(changed.size(), 1); // written on the tag worker
        QCOMPARE(readTags(image(1)), QList<FinderTag> { FinderTag::yellow });
        QCOMPARE(m_model->tagVersion(), version + 1);
        sendKey(Qt::Key_1, Qt::ControlModifier);
        sendKey(Qt::Key_0, Qt::ControlModifier); // queued behind the first
        QTRY_COMPARE(changed.size(), 3);
        QCOMPARE(readTagEntries(image(1)), QStringList { "Project X" }); // the user's own tag stays
    }

    // The tag items' check marks are the current image's tags as stored, whichever way it became current.
    void tagItemsCheckTheCurrentImagesTags()
    {
        QVERIFY(toggleTag(FinderTag::red, image(2)) && toggleTag(FinderTag::blue, image(2)));
        const auto checked = [this] {
            QList<FinderTag> tags;
            for (FinderTag tag : allFinderTags)
                if (m_window->actionTable()->action(ActionTable::tagCommand(tag))->isChecked())
                    tags.append(tag);
            return tags;
        };
        m_model->selectImage(1);
        QTRY_COMPARE(checked(), (QList<FinderTag> { FinderTag::red, FinderTag::blue }));
        sendKey(Qt::Key_Left);
        QTRY_COMPARE(checked(), QList<FinderTag> {});
        sendKey(Qt::Key_4, Qt::ControlModifier);
        QTRY_COMPARE(readTags(image(1)), QList<FinderTag> { FinderTag::green });
        QTRY_COMPARE(checked(), QList<FinderTag> { FinderTag::green });
    }

    // Each command from its item in the real menu bar (a mouse click on the open menu) and from its key.
    void everyCommandFromItsMenuAndItsKey_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("menuPath"); // the texts' keys
        QTest::addColumn<QString>("key"); // empty: none
        const auto row = [](const char* command, const char* path, const char* key) {
            QTest::newRow(command) << command << path << key;
        };
        row("openFolder", "menu_file/menu_open_folder", "Ctrl+O");
        row("clearMetadataIndex", "menu_file/menu_clear_metadata_index", "");
        row("copyPrompt", "menu_edit/menu_copy_prompt", "Ctrl+Shift+C");
        row("copyNegativePrompt", "menu_edit/menu_copy_negative_prompt", "Ctrl+Shift+N");
        row("copySettingsJSON", "menu_edit/menu_copy_settings_json", "Ctrl+Shift+J");
        row("moveToTrash", "menu_edit/menu_move_to_trash", "Del");
        row("moveToTrashWithoutAsking", "menu_edit/menu_move_to_trash_without_asking", "Shift+Del");
        row("find", "menu_edit/menu_find", "Ctrl+F");
        row("tagRed", "menu_edit/menu_tags/menu_tag_red", "Ctrl+1");
        row("tagGray", "menu_edit/menu_tags/menu_tag_gray", "Ctrl+7");
        row("removeAllTags", "menu_edit/menu_tags/tag_remove_all", "Ctrl+0");
        row("sortDateDescending", "menu_view/menu_sort_by/sort_date_desc", "");
        row("compare", "menu_view/menu_compare", "Ctrl+D");
        row("togglePreview", "menu_view/menu_show_preview", "F9");
        row("previous", "menu_go/menu_previous_image", "Up");
        row("next", "menu_go/menu_next_image", "Right");
        row("first", "menu_go/menu_first_image", "Home");
        row("last", "menu_go/menu_last_image", "Ctrl+End");
        row("quickLook", "menu_go/menu_quick_look", "Space");
    }

    void everyCommandFromItsMenuAndItsKey()
    {
        QFETCH(QString, command);
        QFETCH(QString, menuPath);
        QFETCH(QString, key);
        QObject::disconnect(&m_app->notifications, nullptr, nullptr, nullptr); // no dialogs
        m_model->selectImage(2);
        m_model->setSelectedURLs({ image(4) }); // a pair for Compare
        QTRY_VERIFY(m_model->currentMetadata()); // for the copies
        const auto value = QMetaEnum::fromType<ActionTable::Command>().keyToValue(qPrintable(command));
        QAction* action = m_window->actionTable()->action(ActionTable::Command(value));
        QSignalSpy triggered(action, &QAction::triggered);
        if (!key.isEmpty()) {
            const QKeyCombination pressed = QKeySequence(key)[0];
            sendKey(pressed.key(), pressed.keyboardModifiers());
            QCOMPARE(triggered.size(), 1);
        }
        QMenu* menu = nullptr;
        QAction* item = nullptr;
        QList<QAction*> items = m_window->menuBar()->actions();
        for (const QString& text : menuPath.split(u'/')) {
            const auto found = std::find_if(items.begin(), items.end(),
                [&](const QAction* candidate) { return candidate->text() == qtTrId(qPrintable(text)); });
            QVERIFY2(found != items.end(), qPrintable(text));
            item = *found;
            if (item->menu())
                items = (menu = item->menu())->actions();
        }
        QCOMPARE(item, action);
        menu->popup(m_window->geometry().topLeft());
        QVERIFY(QTest::qWaitForWindowExposed(menu));
        QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(item).center());
        QTRY_COMPARE(triggered.size(), key.isEmpty() ? 1 : 2);
    }

    // One key, one command; and every command of the table has its place in the menus.
    void everyKeyOnceAndEveryCommandInAMenu()
    {
        QHash<QKeySequence, QString> owners;
        QStringList twice;
        QSet<QAction*> inMenus;
        QList<QMenu*> menus;
        for (QAction* top : m_window->menuBar()->actions())
            menus.append(top->menu());
        while (!menus.isEmpty())
            for (QAction* item : menus.takeFirst()->actions())
                item->menu() ? menus.append(item->menu()) : void(inMenus.insert(item));
        QStringList notInAMenu;
        for (QAction* action : m_window->actionTable()->findChildren<QAction*>()) {
            for (const QKeySequence& keys : action->shortcuts())
                if (const QString owner = owners.value(keys); owner.isEmpty())
                    owners.insert(keys, action->objectName());
                else
                    twice.append(keys.toString() + ": " + owner + ", " + action->objectName());
            if (!inMenus.contains(action))
                notInAMenu.append(action->objectName());
        }
        QVERIFY2(twice.isEmpty(), qPrintable(twice.join("; ")));
        QVERIFY2(notInAMenu.isEmpty(), qPrintable(notInAMenu.join(", ")));
    }

    // The title names the current image and the folder, or the file list by its size.
    void titleNamesImageAndFolder()
    {
        const QString dash = QStringLiteral(" \u2014 ");
        const QString folder = QFileInfo(m_folder->path()).fileName();
        QCOMPARE(m_window->windowTitle(), "img1.png" + dash + folder + dash + "Limnoscope");
        sendKey(Qt::Key_Right);
        QCOMPARE(m_window->windowTitle(), "img2.png" + dash + folder + dash + "Limnoscope");
        m_window->contentView()->handleDroppedURLs({ image(4), image(3) });
        QTRY_COMPARE(m_window->windowTitle(),
            "img3.png" + dash + localizedFormat("window_title_image_count", { "2" }) + dash + "Limnoscope");
        const QString elsewhere = m_home.filePath("single/b.png");
        writeFile(elsewhere, pngWithDescription("b"));
        m_window->contentView()->handleDroppedURLs({ QUrl::fromLocalFile(elsewhere) });
        QTRY_COMPARE(m_window->windowTitle(), "b.png" + dash + "Limnoscope");
    }

    // Quick Look names the image and its place in the list, light on a dark backdrop.
    void quickLookCaption()
    {
        m_model->selectImage(2);
        sendKey(Qt::Key_Space);
        QuickLookPanel* quickLook = m_window->quickLook();
        QTRY_VERIFY(quickLook->isVisible());
        QCOMPARE(quickLook->captionText(), "img3.png " + localizedFormat("%lld / %lld", { "3", "5" }));
        QTest::keyClick(quickLook, Qt::Key_End); // the table's key, in the panel
        QCOMPARE(quickLook->captionText(), "img5.png " + localizedFormat("%lld / %lld", { "5", "5" }));
        QVERIFY(quickLook->grab().toImage().pixelColor(1, 1).lightness() < 32);
        QTest::keyClick(quickLook, Qt::Key_Escape);
        QVERIFY(!quickLook->isVisible());
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
        QTRY_COMPARE(m_window->statusBar()->currentMessage(), qtTrId("metadata_index_cleared"));
        QCOMPARE(index.lookup(paths).size(), 0);
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
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_MainWindow.moc"
