// The sidebar as a person uses it, offscreen, on real folders, real attributes and a real Trash.

#include "ContentView.h"
#include "ElidedLabel.h"
#include "ExiftoolRunner.h"
#include "FileTags.h"
#include "ImageBrowserModel.h"
#include "ImageContextMenu.h"
#include "ImageListView.h"
#include "LimnoraAPI.h"
#include "LocalizedText.h"
#include "SidebarListModel.h"
#include "SidebarView.h"
#include "TagContextMenu.h"
#include "TagDotsCache.h"
#include "TestAppContext.h"
#include "TestSandbox.h"
#include "ThumbnailDelegate.h"
#include "ThumbnailProvider.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMessageBox>
#include <QMimeData>
#include <QScopeGuard>
#include <QScrollBar>
#include <QSettings>
#include <QSlider>
#include <QStackedWidget>
#include <QTcpServer>
#include <QTest>
#include <QToolButton>
#include <QTranslator>

#include <fcntl.h>
#include <unistd.h>

using namespace limnoscope;
using namespace limnoscope::test;

namespace {

QStringList menuTexts(const QMenu& menu)
{
    QStringList texts;
    for (const QAction* action : menu.actions())
        texts.append(action->isSeparator() ? QStringLiteral("---") : action->text());
    return texts;
}

// One sidebar on screen, over a folder of `images` when there are any.
struct Sidebar {
    explicit Sidebar(const QStringList& images = {}, quint16 apiPort = unusedLocalPort())
        : api(apiPort)
        , app(&browser, &api)
        , view(app.context)
        , tester(view.imageList()->rowsModel(), QAbstractItemModelTester::FailureReportingMode::QtTest)
    {
        view.resize(300, 640);
        view.show();
        view.activateWindow();
        dir.writeImages(images);
        if (!images.isEmpty())
            open();
    }

    void open()
    {
        QVERIFY(openFolder(browser, dir.path()));
        browser.stopWatching(); // rescans happen when a test asks for them
    }

    ImageListView* list() const { return view.imageList(); }
    SidebarListModel* rows() const { return view.imageList()->rowsModel(); }

    QRect rowRect(const QUrl& url) const
    {
        const QModelIndex index = rows()->index(rows()->rowOfImage(url));
        list()->scrollTo(index);
        return list()->visualRect(index);
    }

    void click(const QUrl& url, Qt::KeyboardModifiers modifiers = Qt::NoModifier) const
    {
        QTest::mouseClick(list()->viewport(), Qt::LeftButton, modifiers, rowRect(url).center());
    }

    template <typename T> T* child(const char* name) const { return view.findChild<T*>(QLatin1String(name)); }

    TestSandbox dir;
    ImageBrowserModel browser;
    LimnoraAPIService api;
    test::TestAppContext app;
    SidebarView view;
    QAbstractItemModelTester tester;
};

} // namespace

class TestSidebarView : public QObject
{
    Q_OBJECT

private:
    TestSandbox m_home;
    QTranslator m_english;

private slots:
    void initTestCase()
    {
        m_home.isolateHome(); // the Trash, on the same file system as the test folders
        setExiftoolDisabled(true);
        QVERIFY(m_english.load(QStringLiteral(":/i18n/limnoscope_en.qm")));
        QCoreApplication::installTranslator(&m_english);
    }

    void init() { QSettings().clear(); }

    // Ctrl toggles a row, Shift selects the range to the current image, a plain click selects only it.
    void clickRule_data()
    {
        QTest::addColumn<int>("currentIndex");
        QTest::addColumn<QList<int>>("selectedBefore");
        QTest::addColumn<int>("clickedIndex");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<QList<int>>("selectedAfter");
        QTest::addColumn<int>("currentAfter");
        const int shift = Qt::ShiftModifier;
        const int ctrl = Qt::ControlModifier;
        QTest::newRow("shift selects 2 to 5 with 5 current")
            << 5 << QList<int> {} << 2 << shift << QList { 2, 3, 4, 5 } << 5;
        QTest::newRow("shift below the current image") << 1 << QList { 6 } << 3 << shift << QList { 1, 2, 3 } << 1;
        QTest::newRow("ctrl removes a selected row") << 0 << QList { 1, 3 } << 3 << ctrl << QList { 1 } << 0;
        QTest::newRow("ctrl adds a row") << 0 << QList { 1 } << 4 << ctrl << QList { 1, 4 } << 0;
        QTest::newRow("ctrl wins over shift") << 2 << QList<int> {} << 6 << (ctrl | shift) << QList { 6 } << 2;
        QTest::newRow("plain click clears and selects") << 0 << QList { 1, 2, 3 } << 4 << 0 << QList<int> {} << 4;
    }

    void clickRule()
    {
        QFETCH(int, currentIndex);
        QFETCH(QList<int>, selectedBefore);
        QFETCH(int, clickedIndex);
        QFETCH(int, modifiers);
        QFETCH(QList<int>, selectedAfter);
        QFETCH(int, currentAfter);
        Sidebar sidebar(numberedNames(8));
        const QList<QUrl> flat = sidebar.browser.flatURLs();
        const auto urlsAt = [&flat](const QList<int>& indices) {
            QSet<QUrl> urls;
            for (const int index : indices)
                urls.insert(flat.at(index));
            return urls;
        };
        sidebar.browser.selectImage(currentIndex);
        sidebar.browser.setSelectedURLs(urlsAt(selectedBefore));

        sidebar.click(flat.at(clickedIndex), Qt::KeyboardModifiers(modifiers));
        QCOMPARE(sidebar.browser.selectedURLs(), urlsAt(selectedAfter));
        QCOMPARE(sidebar.browser.currentIndex(), currentAfter);
        QCOMPARE(sidebar.browser.currentImageURL(), flat.at(currentAfter));
    }

    // A click on a header folds its group in place, keeping its image count; a sort keeps it folded.
    void headerClickFoldsItsGroup()
    {
        Sidebar sidebar({ "2.png", "10.png", "1.png", "sub/s1.png", "sub/s2.png", "sub/s3.png" });
        SidebarListModel* rows = sidebar.rows();
        const auto rowNames = [rows] { // after the folder's own header
            QStringList names;
            for (int row = 1; row < rows->rowCount(); ++row)
                names.append(rows->rowURL(row).fileName());
            return names.join(u' ');
        };
        const auto clickHeader = [&] { // the fourth row below the folder's header
            QTest::mouseClick(
                sidebar.list()->viewport(), Qt::LeftButton, {}, sidebar.list()->visualRect(rows->index(4)).center());
        };
        QSignalSpy removed(rows, &QAbstractItemModel::rowsRemoved);
        clickHeader();
        QCOMPARE(removed.count(), 1);
        QCOMPARE(rows->index(4).data(SidebarListModel::GroupImageCountRole).toLongLong(), 3);
        QVERIFY(!rows->index(4).data(SidebarListModel::GroupIsExpandedRole).toBool());
        QCOMPARE(rows->rowOfImage(sidebar.dir.url("sub/s1.png")), -1);
        QCOMPARE(sidebar.browser.flatURLs().size(), 3);
        sidebar.browser.setSortOrder(SortOrder::nameDescending);
        QCOMPARE(rowNames(), QStringLiteral("10.png 2.png 1.png sub"));
        clickHeader();
        QCOMPARE(rowNames(), QStringLiteral("10.png 2.png 1.png sub s3.png s2.png s1.png"));
        QVERIFY(rows->index(4).data(SidebarListModel::GroupIsExpandedRole).toBool());
        QCOMPARE(sidebar.browser.flatURLs().size(), 6);
    }

    void counterAndButtons_data()
    {
        QTest::addColumn<int>("imageCount");
        QTest::addColumn<int>("currentIndex");
        QTest::newRow("one image") << 1 << 0;
        QTest::newRow("first of three") << 3 << 0;
        QTest::newRow("middle of three") << 3 << 1;
        QTest::newRow("last of three") << 3 << 2;
    }

    // The buttons step (and clear the selection) where there is an image to step to.
    void counterAndButtons()
    {
        QFETCH(int, imageCount);
        QFETCH(int, currentIndex);
        Sidebar sidebar(numberedNames(imageCount));
        sidebar.browser.selectImage(currentIndex);
        auto* previous = sidebar.child<QToolButton>("previousButton");
        auto* next = sidebar.child<QToolButton>("nextButton");
        QCOMPARE(sidebar.child<QLabel>("positionCounter")->text(),
            localizedFormat("%lld / %lld", { QString::number(currentIndex + 1), QString::number(imageCount) }));
        QCOMPARE(previous->isEnabled(), currentIndex > 0);
        QCOMPARE(next->isEnabled(), currentIndex < imageCount - 1);
        sidebar.browser.setSelectedURLs({ sidebar.browser.flatURLs().first() });
        const int step = previous->isEnabled() ? -1 : next->isEnabled() ? 1 : 0;
        QTest::mouseClick(step < 0 ? previous : next, Qt::LeftButton);
        QCOMPARE(sidebar.browser.currentIndex(), currentIndex + step);
        QCOMPARE(sidebar.browser.selectedURLs().isEmpty(), imageCount > 1);
    }

    // The slider stores every size it yields, always on the 4-point grid from 44 to 200.
    void sliderStoresGridSizes_data()
    {
        QTest::addColumn<double>("startSize");
        QTest::addColumn<int>("action");
        QTest::addColumn<double>("storedSize");
        using Slider = QAbstractSlider;
        QTest::newRow("68 to 72") << 68.0 << int(Slider::SliderSingleStepAdd) << 72.0;
        QTest::newRow("68 to 64") << 68.0 << int(Slider::SliderSingleStepSub) << 64.0;
        QTest::newRow("to the largest") << 68.0 << int(Slider::SliderToMaximum) << 200.0;
        QTest::newRow("to the smallest") << 100.0 << int(Slider::SliderToMinimum) << 44.0;
        QTest::newRow("off-grid start moves onto the grid") << 69.0 << int(Slider::SliderSingleStepAdd) << 72.0;
        QTest::newRow("no step past the top") << 200.0 << int(Slider::SliderPageStepAdd) << 200.0;
    }

    void sliderStoresGridSizes()
    {
        QFETCH(double, startSize);
        QFETCH(int, action);
        QFETCH(double, storedSize);
        Sidebar sidebar;
        sidebar.browser.setThumbnailSize(startSize);
        QSettings().remove(QLatin1String(ImageBrowserModel::thumbnailSizeKey));
        sidebar.child<QSlider>("thumbnailSizeSlider")->triggerAction(QAbstractSlider::SliderAction(action));
        QCOMPARE(QSettings().contains(QLatin1String(ImageBrowserModel::thumbnailSizeKey)), storedSize != startSize);
        QCOMPARE(
            QSettings().value(QLatin1String(ImageBrowserModel::thumbnailSizeKey), startSize).toDouble(), storedSize);
        QCOMPARE(sidebar.browser.thumbnailSize(), storedSize);
    }

    void contextMenuItems_data()
    {
        QTest::addColumn<bool>("apiListening");
        QTest::addColumn<QStringList>("expectedItems");
        const QStringList head { qtTrId("ctx_reveal_finder"), qtTrId("ctx_generate_in_limnora") };
        const QStringList tail { "---", qtTrId("ctx_quicklook"), "---", qtTrId("ctx_copy_image"),
            qtTrId("ctx_copy_path"), "---", qtTrId("ctx_same_seed"), qtTrId("ctx_same_model"),
            qtTrId("ctx_same_prompt"), "---", qtTrId("ctx_tags"), "---", qtTrId("ctx_delete_file") };
        QTest::newRow("API available") << true << head + tail;
        QTest::newRow("API unavailable") << false << head.first(1) + tail;
    }

    void contextMenuItems()
    {
        QFETCH(bool, apiListening);
        QFETCH(QStringList, expectedItems);
        QTcpServer limnora;
        QVERIFY(limnora.listen(QHostAddress::LocalHost, 0));
        const quint16 port = limnora.serverPort();
        if (!apiListening)
            limnora.close();
        Sidebar sidebar({ "a.png", "my image 1.png" }, port);
        QSignalSpy probed(&sidebar.api, &LimnoraAPIService::availabilityChecked);
        QTRY_VERIFY_WITH_TIMEOUT(!probed.isEmpty(), asyncTimeoutMs);
        QCOMPARE(sidebar.api.isAvailable(), apiListening);

        const QUrl second = sidebar.browser.flatURLs().at(1);
        const QPoint where = sidebar.rowRect(second).center();
        QContextMenuEvent event(QContextMenuEvent::Mouse, where, sidebar.list()->viewport()->mapToGlobal(where));
        QApplication::sendEvent(sidebar.list()->viewport(), &event);
        auto* menu = qobject_cast<ImageContextMenu*>(QApplication::activePopupWidget());
        QVERIFY(menu);
        QCOMPARE(menu->url(), second);
        QCOMPARE(menuTexts(*menu), expectedItems);
        QApplication::clipboard()->clear();
        menu->actions().at(expectedItems.indexOf(qtTrId("ctx_copy_path")))->trigger();
        QCOMPARE(QApplication::clipboard()->text(), sidebar.dir.filePath("my image 1.png"));
        menu->close();
        QCOMPARE(std::unique_ptr<QMimeData>(ImageListView::dragData(second))->urls(), QList<QUrl> { second });
        QCOMPARE(sidebar.child<QLabel>("apiStatus")->text(), // the footer tells the same
            apiListening ? QStringLiteral("Limnora is running (127.0.0.1:%1)").arg(port) : "Limnora is not running");
    }

    // Dropped files: one names the header, several are counted.
    void headerNamesDroppedFiles()
    {
        Sidebar sidebar;
        ContentView content(sidebar.app.context);
        const auto drop = [&](int count) {
            sidebar.dir.writeImages(numberedNames(count));
            QMimeData data;
            data.setUrls(sidebar.dir.urls(numberedNames(count)));
            QDragEnterEvent enter(QPoint(20, 20), Qt::CopyAction, &data, Qt::LeftButton, {});
            QDropEvent drop(QPointF(20, 20), Qt::CopyAction, &data, Qt::LeftButton, {});
            QApplication::sendEvent(&content, &enter);
            QApplication::sendEvent(&content, &drop);
            return content.findChild<ElidedLabel*>(QStringLiteral("folderName"))->text();
        };
        QCOMPARE(drop(1), QStringLiteral("img0000.png"));
        QCOMPARE(drop(3), QStringLiteral("3 images"));
    }

    // A new size keeps the current row where it was on screen; at the largest size long names keep
    // readable lines, at most two, that end in the name's end.
    void sizeChangeKeepsRowAndNamesReadable_data()
    {
        QTest::addColumn<int>("sidebarWidth");
        QTest::newRow("narrowest") << 220;
        QTest::newRow("usual width") << 300;
        QTest::newRow("widest") << 420;
    }

    void sizeChangeKeepsRowAndNamesReadable()
    {
        QFETCH(int, sidebarWidth);
        Sidebar sidebar(numberedNames(300, QStringLiteral("a cat on a red chair with a very long tail and a hat ")));
        sidebar.view.resize(sidebarWidth, 640);
        QCoreApplication::processEvents();
        ImageListView* list = sidebar.list();
        sidebar.browser.selectImage(150);
        const QModelIndex anchor = sidebar.rows()->index(sidebar.rows()->rowOfImage(sidebar.browser.currentImageURL()));
        const int top = list->visualRect(anchor).top();
        sidebar.child<QSlider>("thumbnailSizeSlider")->setValue(SidebarView::sliderPosition(200));
        QCOMPARE(list->visualRect(anchor).top(), top);

        const auto* delegate = qobject_cast<ThumbnailDelegate*>(list->itemDelegate());
        const QRect row = ThumbnailDelegate::imageRowRect(list->visualRect(anchor), false, false);
        const ThumbnailDelegate::ImageRowParts parts = delegate->imageRowParts(row);
        const NameLayout& layout = delegate->nameLayout();
        const QStringList lines = layout.shownLines(sidebar.rows()->rowTitle(anchor.row()), parts.name.width(), 2);
        QCOMPARE(layout.font().pointSizeF(), QApplication::font().pointSizeF());
        QVERIFY2(lines.first().size() >= 12 && lines.last().endsWith("0150"), qPrintable(lines.join('|')));
        QVERIFY(row.contains(parts.name) && parts.name.height() >= int(lines.size()) * layout.lineSpacing());
    }

    // A tag toggled in the submenu is written, shown with "● " next time, and every visible row's dots reread.
    void tagsSubmenuAndDots()
    {
        Sidebar sidebar({ "a.png", "b.png", "c.png" });
        const QUrl a = sidebar.dir.url("a.png");
        const QUrl b = sidebar.dir.url("b.png");
        TagDotsCache* dots = sidebar.list()->tagDots();
        QTRY_COMPARE_WITH_TIMEOUT(dots->tags(b), QList<FinderTag> {}, asyncTimeoutMs);
        QVERIFY(toggleTag(FinderTag::red, b)); // by another program: nothing announced

        QSignalSpy announced(&sidebar.app.notifications, &AppNotifications::tagsDidChange);
        TagContextMenu menu(a, {}, sidebar.app.context);
        menu.popup(QPoint(0, 0));
        menu.actions().at(3)->trigger(); // green
        QTRY_COMPARE_WITH_TIMEOUT(announced.count(), 1, asyncTimeoutMs);
        QCOMPARE(readTags(a), QList<FinderTag> { FinderTag::green });
        QCOMPARE(menu.activeTags(), QList<FinderTag> { FinderTag::green });
        menu.close(); // every visible row reads its tags again, b included
        QTRY_COMPARE_WITH_TIMEOUT(dots->tags(b), QList<FinderTag> { FinderTag::red }, asyncTimeoutMs);
        QTRY_COMPARE_WITH_TIMEOUT(dots->tags(a), QList<FinderTag> { FinderTag::green }, asyncTimeoutMs);

        TagContextMenu reopened(a, {}, sidebar.app.context);
        QSignalSpy readAgain(&reopened, &TagContextMenu::activeTagsChanged);
        reopened.popup(QPoint(0, 0));
        QTRY_COMPARE_WITH_TIMEOUT(readAgain.count(), 1, asyncTimeoutMs);
        const QStringList titles = menuTexts(reopened);
        QCOMPARE(titles.at(3), QStringLiteral("● ") + localizedName(FinderTag::green));
        QCOMPARE(titles.at(0), QStringLiteral("○ ") + localizedName(FinderTag::red));
        QCOMPARE(titles.at(8), qtTrId("tag_remove_all"));

        // Remove all, on a file with tags and on one without: both announce.
        reopened.actions().at(8)->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(announced.count(), 2, asyncTimeoutMs);
        QCOMPARE(readTags(a), QList<FinderTag> {});
        reopened.actions().at(8)->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(announced.count(), 3, asyncTimeoutMs);
        reopened.close();
    }

    // Only the current image's row asks, or the context menu's row; a second request asks nothing more.
    void deleteConfirmation_data()
    {
        QTest::addColumn<QString>("route");
        QTest::addColumn<bool>("confirm");
        QTest::newRow("current row, cancelled") << "current" << false;
        QTest::newRow("current row, confirmed") << "current" << true;
        QTest::newRow("context menu, confirmed") << "menu" << true;
        QTest::newRow("no current image: no question") << "none" << false;
    }

    void deleteConfirmation()
    {
        QFETCH(QString, route);
        QFETCH(bool, confirm);
        Sidebar sidebar({ "a.png", "b.png", "c.png" });
        const TestSandbox& dir = sidebar.dir;
        const QUrl b = dir.url("b.png");
        sidebar.browser.selectImage(route == "menu" ? 0 : 1);
        sidebar.browser.setSelectedURLs({ dir.url("a.png"), dir.url("c.png") });
        TestSandbox empty;
        if (route == "none")
            QVERIFY(openFolder(sidebar.browser, empty.path()));
        ImageContextMenu menu(b, sidebar.app.context, nullptr);
        connect(&menu, &ImageContextMenu::deleteRequested, sidebar.list(), &ImageListView::askToDelete);
        const auto ask = [&] {
            if (route == "menu")
                menu.actions().last()->trigger();
            else
                emit sidebar.app.notifications.deleteCurrentImage();
        };
        ask();
        QMessageBox* box = sidebar.list()->deleteConfirmation();
        QCOMPARE(QApplication::activeModalWidget(), box);
        QCOMPARE(!box, route == "none");
        if (!box)
            return;
        QCOMPARE(box->text(), localizedFormat("delete_alert_message", { QStringLiteral("b.png") }));
        ask();
        QCOMPARE(sidebar.list()->deleteConfirmation(), box);
        for (QAbstractButton* button : box->buttons())
            if (button->text() == qtTrId(confirm ? "delete_alert_confirm" : "delete_alert_cancel"))
                QTest::mouseClick(button, Qt::LeftButton);
        QTRY_VERIFY(!sidebar.list()->deleteConfirmation());
        const QStringList left = confirm ? QStringList { "a.png", "c.png" } : QStringList { "a.png", "b.png", "c.png" };
        QTRY_COMPARE(fileNames(sidebar.browser.flatURLs()), left); // moved on a worker
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), left);
        QCOMPARE(sidebar.rows()->rowOfImage(b) >= 0, !confirm);
    }

    // Least scrolling to the current image; rows out of view load nothing; a rescan only adds new rows.
    void currentImageStaysInView()
    {
        Sidebar sidebar(numberedNames(300));
        ImageListView* list = sidebar.list();
        const auto rowOf = [&](int flatIndex) {
            return list->visualRect(
                sidebar.rows()->index(sidebar.rows()->rowOfImage(sidebar.browser.flatURLs().at(flatIndex))));
        };
        const QRect area = list->viewport()->rect();
        QSignalSpy reset(sidebar.rows(), &QAbstractItemModel::modelReset);
        QSignalSpy inserted(sidebar.rows(), &QAbstractItemModel::rowsInserted);

        sidebar.browser.selectImage(200);
        QVERIFY(area.contains(rowOf(200)));
        // Scrolled down to it: the row sits at the bottom edge, not in the middle.
        QVERIFY(rowOf(200).bottom() >= area.bottom() - 8);
        const int scrolled = list->verticalScrollBar()->value();
        sidebar.browser.selectImage(199); // already in view: no scrolling
        QCOMPARE(list->verticalScrollBar()->value(), scrolled);
        QVERIFY(toggleTag(FinderTag::blue, sidebar.browser.flatURLs().at(200)));
        QVERIFY(rescan(sidebar.browser));
        QCoreApplication::processEvents();
        QCOMPARE(list->verticalScrollBar()->value(), scrolled);
        sidebar.dir.writeImages({ "zzz-new.png" });
        QVERIFY(rescan(sidebar.browser));
        QCoreApplication::processEvents();
        QCOMPARE(list->verticalScrollBar()->value(), scrolled);
        QCOMPARE(inserted.count(), 1);
        QCOMPARE(reset.count(), 0);

        sidebar.browser.selectImage(10);
        QVERIFY(area.contains(rowOf(10)));
        QVERIFY(rowOf(10).top() <= area.top() + 8);
        QTRY_VERIFY(!list->visibleImageURLs().isEmpty());
        QVERIFY(list->visibleImageURLs().size() < 40);
        const QUrl farAway = sidebar.browser.flatURLs().at(250);
        QVERIFY(!list->visibleImageURLs().contains(farAway));
        QVERIFY(!list->thumbnails()->isLoading(farAway));
    }

    // Empty until images load; names that are not valid UTF-8 are left out and one footer line counts them.
    void emptyStateAndSkippedNames()
    {
        Sidebar sidebar;
        auto* pages = sidebar.view.findChild<QStackedWidget*>();
        auto* empty = sidebar.child<QLabel>("noFolderSelected");
        QVERIFY(pages->currentWidget()->objectName() == "emptyState" && empty->isVisible());
        QCOMPARE(empty->text(), qtTrId("no_folder_selected"));
        sidebar.dir.writeImages({ "a.png" });
        sidebar.open();
        QVERIFY(pages->currentWidget()->findChild<ImageListView*>() == sidebar.list() && !empty->isVisible());
        auto* notice = sidebar.child<QLabel>("skippedNamesNotice");
        QVERIFY(!notice->isVisible());
        for (const QString& expected : { QStringLiteral("1 file with an unreadable name was skipped"),
                 QStringLiteral("2 files with unreadable names were skipped") }) {
            const QByteArray name
                = QFile::encodeName(sidebar.dir.path()) + "/b" + expected.left(1).toLatin1() + "\xFF.png";
            QCOMPARE(::close(::open(name.constData(), O_WRONLY | O_CREAT, 0600)), 0);
            QVERIFY(rescan(sidebar.browser));
            QCOMPARE(notice->text(), expected);
            QVERIFY(notice->isVisible());
        }
    }
};

QTEST_MAIN(TestSidebarView)
#include "tst_SidebarView.moc"
