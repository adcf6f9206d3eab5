#include "ActionTable.h"
#include "AppNotifications.h"
#include "FileTags.h"
#include "LocalizedText.h"
#include "QuickLookPanel.h"
#include "WindowFixture.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QMetaEnum>
#include <QSignalSpy>

using namespace limnoscope;
using namespace limnoscope::test;

// The window's one table of commands: reached from its menu item and its key, each key once, the tag
// items' check marks, the title and Quick Look's caption.
class TestWindowActions : public WindowSuite
{
    Q_OBJECT

private slots:
    void initTestCase() { setUpSuite(); }
    void init() { openWindow(); }
    void cleanup() { closeWindow(); }

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
        QTRY_COMPARE(
            m_window->windowTitle(), "img3.png" + dash + qtTrId("dropped_image_count", 2) + dash + "Limnoscope");
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
};

QTEST_MAIN(TestWindowActions)
#include "tst_WindowActions.moc"
