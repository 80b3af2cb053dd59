// The Drive side of the window against a model signed in to the emulator: browsing, the
// context menu's rules, the name sheet, confirmations, empty states and thumbnails.
#include "../model/modeltesting.h"
#include "browse/sharing.h"
#include "support/testsupport.h"
#include "updates/updatenotice.h"

#include "auth/googleauth.h"
#include "window/accountbutton.h"
#include "sheets/coffeesheet.h"
#include "sheets/connectionview.h"
#include "tables/drivefiletablemodel.h"
#include "panes/drivepane.h"
#include "panes/localpane.h"
#include "common/drivethumbnailcache.h"
#include "async/clock.h"
#include "panes/emptystateview.h"
#include "tables/localfileview.h"
#include "tables/filetablesetup.h"
#include "window/mainwindow.h"
#include "sheets/namesheet.h"
#include "panes/searchfield.h"
#include "sheets/sharesheet.h"
#include "window/sidebar.h"
#include "window/sidebutton.h"
#include "window/toastview.h"
#include "window/toolbarrow.h"
#include "window/updatebanner.h"
#include "window/windowstatusbar.h"

#include "records/displaytext.h"
#include "records/dragpayload.h"
#include "net/httpengine.h"
#include "async/runsync.h"

#include <QBuffer>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDialog>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QSplitter>
#include <QStackedWidget>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QTextDocument>
#include <QToolButton>

using namespace Qt::StringLiterals;
using namespace Tarnwick;
using namespace Tarnwick::Testing;

namespace {

class DriveWindow : public ModelTest
{
protected:
    DriveWindow()
    {
        photos = emulator.createFolder(account.email, u"Ảnh"_s);
        emulator.createFile(account.email, u"biển.png"_s, "png", photos, u"image/png"_s);
        emulator.createFile(account.email, u"ghi chú.txt"_s, "hello", {}, u"text/plain"_s);
        document = emulator.createGoogleDocument(account.email, u"Kế hoạch"_s);
    }

    void show(MainWindow &window)
    {
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    }
    static bool listed(MainWindow &window, int rows)
    {
        return waitUntil([&] {
            return window.drivePane()->tableModel()->rowCount() == rows &&
                   window.drivePane()->pages()->currentWidget() == window.drivePane()->listPage();
        });
    }
    static void select(AppModel &model, const QStringList &ids)
    {
        model.cloud().setCloudSelection(QSet<QString>(ids.begin(), ids.end()));
    }
    // The text a menu shows for an action: "&&" stands for a shown "&", a lone "&" for nothing.
    static QString shown(const QAction *action)
    {
        QString text = action->text();
        text.replace(u"&&"_s, u"\x01"_s).remove(u'&').replace(u"\x01"_s, u"&"_s);
        return text;
    }
    static QAction *entry(QMenu *menu, const QString &text)
    {
        for (QAction *action : menu->actions())
            if (shown(action) == text)
                return action;
        return nullptr;
    }
    // Chooses text in the Drive pane's context menu for the current selection.
    static void chooseInMenu(MainWindow &window, const QString &text)
    {
        std::unique_ptr<QMenu> menu(window.drivePane()->createContextMenu(nullptr));
        QAction *action = entry(menu.get(), text);
        ASSERT_NE(action, nullptr) << text.toStdString();
        action->trigger();
    }
    static QStringList entries(QMenu *menu)
    {
        QStringList texts;
        for (QAction *action : menu->actions())
            if (!action->isSeparator())
                texts.append(shown(action));
        return texts;
    }
    static void save(QWidget &widget, const QString &name)
    {
        // Layouts settle in posted events: a picture taken right after a change would miss them.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
        widget.grab().save(artifactDir() + u"/"_s + name);
    }

    QString photos;
    QString document;
};

TEST_F(DriveWindow, BrowsesIntoAFolderAndBackByBreadcrumb)
{
    auto model = signedInModel();
    MainWindow window(model.get());
    show(window);
    DrivePane *pane = window.drivePane();
    ASSERT_TRUE(listed(window, 3));
    // Folders first by default; the account and quota show in the chrome.
    EXPECT_EQ(pane->tableModel()->file(0).name, u"Ảnh"_s);
    EXPECT_EQ(window.toolbarRow()->accountButton()->labelText(), account.email);
    EXPECT_TRUE(window.windowStatusBar()->quotaLabel()->text().startsWith(u"Drive: "_s));
    EXPECT_EQ(pane->countLabel()->text(), u"3 mục"_s);
    EXPECT_FALSE(pane->backButton()->isEnabled());
    EXPECT_TRUE(window.toolbarRow()->newFolderButton()->isEnabled());
    save(window, u"drive-mydrive.png"_s);

    // Double-click on the folder enters it; the breadcrumb names it.
    LocalFileView *view = pane->view();
    const QRect folder = view->visualRect(pane->tableModel()->index(0, 1));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, folder.center());
    QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, folder.center());
    ASSERT_TRUE(waitUntil([&] { return model->cloud().crumbs().size() == 1; }));
    ASSERT_TRUE(listed(window, 1));
    EXPECT_EQ(pane->tableModel()->file(0).name, u"biển.png"_s);
    EXPECT_TRUE(pane->backButton()->isEnabled());
    QStringList crumbs;
    for (QPushButton *button : pane->breadcrumbs()->findChildren<QPushButton *>())
        crumbs.append(button->text());
    EXPECT_EQ(crumbs, (QStringList{u"Drive của tôi"_s, u"Ảnh"_s}));
    save(window, u"drive-folder.png"_s);

    // The area's crumb goes back to the root.
    for (QPushButton *button : pane->breadcrumbs()->findChildren<QPushButton *>())
        if (button->text() == u"Drive của tôi"_s)
            QTest::mouseClick(button, Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return model->cloud().crumbs().isEmpty(); }));
    ASSERT_TRUE(listed(window, 3));

    // A row drags out as its Drive item.
    std::unique_ptr<QMimeData> mime(
        pane->tableModel()->mimeData({pane->tableModel()->index(1, 0)}));
    EXPECT_EQ(DragPayload::driveFiles(*mime), QList<DriveFile>{pane->tableModel()->file(1)});
    EXPECT_TRUE(mime->hasFormat(DragPayload::jsonMimeType));
}

TEST_F(DriveWindow, ContextMenuFollowsSelectionDocumentsAndSharedDriveRoot)
{
    const QString drive =
        emulator.createSharedDrive(u"Marketing"_s, {{account.email, u"organizer"_s}});
    auto model = signedInModel();
    MainWindow window(model.get());
    show(window);
    DrivePane *pane = window.drivePane();
    ASSERT_TRUE(listed(window, 3));
    QStringList all;
    for (const DriveFile &file : model->cloud().cloudFiles())
        all.append(file.id);

    // Three items: only the two deletions.
    select(*model, all);
    std::unique_ptr<QMenu> menu(pane->createContextMenu(nullptr));
    EXPECT_EQ(entries(menu.get()), (QStringList{u"Chuyển vào thùng rác"_s, u"Xoá vĩnh viễn…"_s}));
    EXPECT_TRUE(entry(menu.get(), u"Chuyển vào thùng rác"_s)->isEnabled());
    EXPECT_TRUE(pane->countLabel()->text().startsWith(u"3 mục đã chọn: "_s));

    // One Google document: no download, here nor in the toolbar.
    select(*model, {document});
    menu.reset(pane->createContextMenu(nullptr));
    EXPECT_EQ(entries(menu.get()),
              (QStringList{u"Mở trên Google Drive"_s, u"Chia sẻ & Phân quyền…"_s,
                           u"Sao chép link chia sẻ"_s, u"Đổi tên…"_s, u"Chuyển vào thùng rác"_s,
                           u"Xoá vĩnh viễn…"_s}));
    EXPECT_FALSE(window.toolbarRow()->downloadButton()->isEnabled());
    select(*model, {photos});
    menu.reset(pane->createContextMenu(nullptr));
    EXPECT_NE(entry(menu.get(), u"Tải thư mục về máy…"_s), nullptr);
    select(*model, {emulator.findChild(emulator.rootFolderId(account.email), u"ghi chú.txt"_s)});
    menu.reset(pane->createContextMenu(nullptr));
    EXPECT_TRUE(entry(menu.get(), u"Tải xuống…"_s)->isEnabled());
    EXPECT_TRUE(window.toolbarRow()->downloadButton()->isEnabled());

    // The shared drives' root: a shared drive is neither renamed nor deleted from here.
    QTest::mouseClick(window.sidebar()->locationButton(2), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return model->cloud().location() == DriveLocation::Team; }));
    ASSERT_TRUE(listed(window, 1));
    EXPECT_FALSE(window.toolbarRow()->newFolderButton()->isEnabled());
    select(*model, {drive});
    menu.reset(pane->createContextMenu(nullptr));
    EXPECT_FALSE(entry(menu.get(), u"Đổi tên…"_s)->isEnabled());
    EXPECT_FALSE(entry(menu.get(), u"Chuyển vào thùng rác"_s)->isEnabled());
    EXPECT_FALSE(entry(menu.get(), u"Xoá vĩnh viễn…"_s)->isEnabled());
    // The Delete key still asks (and "Hủy" trashes nothing).
    desktop.answerAlert(0);
    pane->view()->setFocus();
    QTest::keyClick(pane->view(), Qt::Key_Delete);
    ASSERT_TRUE(waitUntil([&] { return desktop.alerts.size() == 1; }));
    EXPECT_EQ(desktop.alerts.constFirst().title, u"Chuyển 1 mục vào thùng rác?"_s);
    EXPECT_TRUE(emulator.exists(drive));
}

TEST_F(DriveWindow, NameSheetKeepsRejectedNamesThenCreatesAndRenames)
{
    auto model = signedInModel();
    MainWindow window(model.get());
    show(window);
    ASSERT_TRUE(listed(window, 3));
    const QString root = emulator.rootFolderId(account.email);

    QTest::mouseClick(window.toolbarRow()->newFolderButton(), Qt::LeftButton);
    NameSheet *sheet = window.nameSheet();
    ASSERT_NE(sheet, nullptr);
    EXPECT_EQ(sheet->windowTitle(), u"Tạo thư mục trên Drive"_s);
    QTest::keyClicks(sheet->nameField(), u"a/b"_s);
    QTest::keyClick(sheet->nameField(), Qt::Key_Return);
    EXPECT_TRUE(sheet->isVisible());
    EXPECT_EQ(sheet->nameField()->text(), u"a/b"_s);
    EXPECT_FALSE(sheet->errorLabel()->text().isEmpty());
    EXPECT_FALSE(sheet->errorLabel()->isHidden());
    save(*sheet, u"name-sheet-error.png"_s);
    sheet->nameField()->setText(u"  Hợp đồng  "_s);
    QTest::mouseClick(sheet->saveButton(), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return !emulator.findChild(root, u"Hợp đồng"_s).isEmpty(); }));
    ASSERT_TRUE(listed(window, 4));

    const QString notes = emulator.findChild(root, u"ghi chú.txt"_s);
    select(*model, {notes});
    chooseInMenu(window, u"Đổi tên…"_s);
    sheet = window.nameSheet();
    ASSERT_NE(sheet, nullptr);
    EXPECT_EQ(sheet->nameField()->text(), u"ghi chú.txt"_s);
    sheet->nameField()->setText(u"ghi chú 2.txt"_s);
    QTest::keyClick(sheet->nameField(), Qt::Key_Return);
    ASSERT_TRUE(waitUntil([&] {
        return emulator.itemMetadata(notes)->value(u"name"_s).toString() == u"ghi chú 2.txt"_s;
    }));
}

// Return reaches both the field and the sheet's default button; the folder is made once.
TEST_F(DriveWindow, OneReturnInTheNameSheetCreatesOneFolder)
{
    auto model = signedInModel();
    MainWindow window(model.get());
    show(window);
    ASSERT_TRUE(listed(window, 3));

    QTest::mouseClick(window.toolbarRow()->newFolderButton(), Qt::LeftButton);
    NameSheet *sheet = window.nameSheet();
    ASSERT_NE(sheet, nullptr);
    QSignalSpy chosen(sheet, &NameSheet::nameChosen);
    sheet->nameField()->setText(u"Báo cáo"_s);
    QTest::keyClick(sheet->nameField(), Qt::Key_Return);
    EXPECT_EQ(chosen.count(), 1);
    ASSERT_TRUE(listed(window, 4));
    EXPECT_EQ(requests(u"POST"_s, u"^/drive/v3/files$"_s).size(), 1);
}

TEST_F(DriveWindow, TrashAndPermanentDeletionAskFirst)
{
    auto model = signedInModel();
    MainWindow window(model.get());
    show(window);
    ASSERT_TRUE(listed(window, 3));
    const QString root = emulator.rootFolderId(account.email);
    const QString notes = emulator.findChild(root, u"ghi chú.txt"_s);

    // Cancelled: nothing happens. Confirmed: the items copied when asking go.
    desktop.answerAlert(0);
    select(*model, {notes});
    chooseInMenu(window, u"Chuyển vào thùng rác"_s);
    ASSERT_TRUE(waitUntil([&] { return desktop.alerts.size() == 1; }));
    EXPECT_FALSE(emulator.itemMetadata(notes)->value(u"trashed"_s).toBool());

    desktop.answerAlert(1);
    chooseInMenu(window, u"Chuyển vào thùng rác"_s);
    select(*model, {photos});
    ASSERT_TRUE(
        waitUntil([&] { return emulator.itemMetadata(notes)->value(u"trashed"_s).toBool(); }));
    EXPECT_FALSE(emulator.itemMetadata(photos)->value(u"trashed"_s).toBool());
    ASSERT_TRUE(listed(window, 2));

    desktop.answerAlert(1);
    select(*model, {document});
    chooseInMenu(window, u"Xoá vĩnh viễn…"_s);
    ASSERT_TRUE(waitUntil([&] { return !emulator.exists(document); }));
    const Desktop::Alert &asked = desktop.alerts.constLast();
    EXPECT_EQ(asked.title, u"Xoá vĩnh viễn 1 mục?"_s);
    EXPECT_EQ(asked.buttons.at(1).text, u"Xoá vĩnh viễn"_s);
}

TEST_F(DriveWindow, EmptyStatesAndTheSidebarWhileSignedOut)
{
    auto model = makeModel();
    MainWindow window(model.get());
    show(window);
    DrivePane *pane = window.drivePane();
    EXPECT_EQ(pane->pages()->currentWidget(), pane->notConnectedView());
    EXPECT_EQ(window.toolbarRow()->accountButton()->labelText(), u"Kết nối Google Drive"_s);
    EXPECT_FALSE(window.toolbarRow()->linkDownloadButton()->isEnabled());
    save(window, u"drive-not-connected.png"_s);
    // Not signed in: "Drive của tôi" opens the connection screen, it does not switch.
    QTest::mouseClick(window.sidebar()->locationButton(0), Qt::LeftButton);
    EXPECT_TRUE(model->showConnection());
    model->setShowConnection(false);

    // Signed in: a failed listing offers "Thử lại", which lists again.
    auto signedIn = signedInModel();
    MainWindow second(signedIn.get());
    show(second);
    pane = second.drivePane();
    ASSERT_TRUE(listed(second, 3));
    answerOnce(500, R"({"error":{"code":500,"message":"boom"}})", u"GET"_s, u"^/drive/v3/files$"_s);
    QTest::mouseClick(pane->refreshButton(), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return pane->pages()->currentWidget() == pane->loadErrorView(); }));
    EXPECT_EQ(pane->loadErrorView()->titleLabel()->text(), u"Chưa tải được thư mục"_s);
    EXPECT_FALSE(pane->loadErrorView()->textLabel()->text().isEmpty());
    save(second, u"drive-load-error.png"_s);
    QTest::mouseClick(pane->loadErrorView()->button(), Qt::LeftButton);
    ASSERT_TRUE(listed(second, 3));

    // Nothing matches the search; an empty folder takes uploads.
    pane->searchField()->setText(u"không có"_s);
    ASSERT_TRUE(waitUntil([&] { return pane->pages()->currentWidget() == pane->nothingView(); }));
    EXPECT_EQ(pane->nothingView()->textLabel()->text(), u"Không tìm thấy mục phù hợp"_s);
    pane->searchField()->clear();
    signedIn->cloud().openCloud(DriveFile::fromJson(
        *emulator.itemMetadata(emulator.createFolder(account.email, u"Trống"_s))));
    ASSERT_TRUE(waitUntil([&] {
        return pane->pages()->currentWidget() == pane->nothingView() &&
               pane->nothingView()->textLabel()->text() == u"Thả file vào đây để tải lên"_s;
    }));
    save(second, u"drive-empty-folder.png"_s);
}

TEST_F(DriveWindow, SameThumbnailLinkIsFetchedOnceWhileCached)
{
    Tarnwick::TestClock clock;
    const QString image = emulator.createFile(account.email, u"a.png"_s, "x", {}, u"image/png"_s);
    DriveFile first = DriveFile::fromJson(*emulator.itemMetadata(image));
    ASSERT_TRUE(first.thumbnailLink.has_value());
    DriveFile second = first;
    second.id = u"other"_s;
    DriveFile folder(u"f"_s, u"F"_s, QString(DriveFile::folderMimeType));
    emulator.clearRequestLog();

    HttpEngine engine;
    DriveThumbnailCache cache(&engine);
    DriveFileTableModel rows(&cache);
    rows.setFiles({first, second, folder});
    for (int pass = 0; pass < 3; ++pass)
        for (int row = 0; row < 2; ++row)
            rows.data(rows.index(row, 0), Qt::DecorationRole);
    ASSERT_TRUE(waitUntil([&] { return cache.contains(*first.thumbnailLink); }));
    const QPixmap shown = rows.data(rows.index(1, 0), Qt::DecorationRole).value<QPixmap>();
    EXPECT_EQ(shown.deviceIndependentSize(), QSizeF(22, 22));
    EXPECT_EQ(shown.size(), QSize(220, 220)) << "kept at the resolution it came in";
    EXPECT_EQ(requests(u"GET"_s, u"^/thumbnails/"_s).size(), 1);
    // A folder without a thumbnail keeps its symbol and asks for nothing.
    EXPECT_EQ(DriveFileTableModel::symbolName(folder), u"folder.fill"_s);
    EXPECT_EQ(DriveFileTableModel::symbolName(
                  DriveFile(u"d"_s, u"D"_s, u"application/vnd.google-apps.document"_s)),
              u"doc.text.fill"_s);

    // A link that fails is not asked again on every paint.
    cache.request(emulator.baseUrl() + u"/thumbnails/missing"_s);
    ASSERT_TRUE(waitUntil([&] { return requests(u"GET"_s, u"^/thumbnails/"_s).size() == 2; }));
    QTest::qWait(50);
    cache.request(emulator.baseUrl() + u"/thumbnails/missing"_s);
    QTest::qWait(100);
    EXPECT_EQ(requests(u"GET"_s, u"^/thumbnails/"_s).size(), 2);
    // Shown again a while later, it gets another try rather than a symbol for the whole run.
    clock.advance(DriveThumbnailCache::retryAfter);
    cache.request(emulator.baseUrl() + u"/thumbnails/missing"_s);
    ASSERT_TRUE(waitUntil([&] { return requests(u"GET"_s, u"^/thumbnails/"_s).size() == 3; }));
}

TEST(DriveThumbnails, PicturesOfAnySizeDecodeSmallAndAnythingElseDecodesToNothing)
{
    const auto encoded = [](const QSize &size, const char *format) {
        QImage image(size, QImage::Format_RGB32);
        image.fill(Qt::darkCyan);
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        image.save(&buffer, format);
        return bytes;
    };
    EXPECT_EQ(DriveThumbnailCache::decode(encoded({3000, 1500}, "PNG")).size(), QSize(256, 128));
    EXPECT_EQ(DriveThumbnailCache::decode(encoded({2000, 2000}, "JPG")).size(), QSize(256, 256));
    EXPECT_EQ(DriveThumbnailCache::decode(encoded({120, 90}, "PNG")).size(), QSize(120, 90));
    EXPECT_TRUE(DriveThumbnailCache::decode("<html>not a picture</html>").isNull());
    QByteArray cut = encoded({400, 400}, "PNG");
    cut.truncate(cut.size() / 3);
    const QImage partial = DriveThumbnailCache::decode(cut);
    EXPECT_TRUE(partial.isNull() || partial.width() <= DriveThumbnailCache::maxPixels);
}

TEST_F(DriveWindow, ThumbnailLinksToThisMachineOrTheLocalNetworkAreNeverFetched)
{
    // Another service on this machine, which a hostile answer would like Tarnwick to probe.
    QTcpServer probed;
    ASSERT_TRUE(probed.listen(QHostAddress::LocalHost));
    const QString port = QString::number(probed.serverPort());
    HttpEngine engine;
    DriveThumbnailCache cache(&engine);
    const QStringList hostile{u"http://127.0.0.1:"_s + port + u"/t.png"_s,
                              u"https://127.0.0.1:"_s + port + u"/t.png"_s,
                              u"http://localhost:"_s + port + u"/t.png"_s,
                              u"https://192.168.1.1/t.png"_s, u"https://[::1]:"_s + port + u"/t"_s};
    for (const QString &link : hostile)
        cache.request(link);

    // The emulator, the configured Drive origin, is still asked: its answer comes after any
    // request started above would have connected.
    const QString image = emulator.createFile(account.email, u"a.png"_s, "x", {}, u"image/png"_s);
    const DriveFile file = DriveFile::fromJson(*emulator.itemMetadata(image));
    ASSERT_TRUE(file.thumbnailLink.has_value());
    cache.request(*file.thumbnailLink);
    ASSERT_TRUE(waitUntil([&] { return cache.contains(*file.thumbnailLink); }));
    EXPECT_FALSE(probed.waitForNewConnection(0));
    for (const QString &link : hostile)
        EXPECT_FALSE(cache.contains(link)) << link.toStdString();
}

TEST_F(DriveWindow, HostileNamesShowAsTheirCharactersInCellsTooltipsTitlesAndToasts)
{
    const QString heading = u"<h1 style='color:red'>X</h1>"_s;
    const QString picture = u"<img src='/usr/share/icons/hicolor/48x48/apps/x.png'>"_s;
    const QString spoof = u"rlo\u202Etxt.exe"_s;
    const QString huge = QString(10'000'000, u'a') + u".exe"_s;
    const QString headingId = emulator.createFile(account.email, heading, "x");
    emulator.createFile(account.email, picture, "x");
    emulator.createFile(account.email, spoof, "x");
    const QString hugeId = emulator.createFile(account.email, huge, "x");
    auto model = signedInModel();
    MainWindow window(model.get());
    show(window);
    DrivePane *pane = window.drivePane();
    ASSERT_TRUE(listed(window, 7));

    const auto row = [&](const QString &id) {
        for (int i = 0; i < pane->tableModel()->rowCount(); ++i)
            if (pane->tableModel()->file(i).id == id)
                return pane->tableModel()->index(i, 0);
        return QModelIndex();
    };
    const auto tooltipText = [](const QModelIndex &index) {
        QTextDocument document;
        document.setHtml(index.data(Qt::ToolTipRole).toString());
        return document.toPlainText();
    };
    // Markup in a cell and in its tooltip reads back as the characters it is.
    for (const QString &name : {heading, picture}) {
        const QModelIndex index = row(emulator.findChild(account.rootFolderId, name));
        ASSERT_TRUE(index.isValid()) << name.toStdString();
        EXPECT_EQ(index.data(Qt::DisplayRole).toString(), name);
        EXPECT_EQ(tooltipText(index), name);
    }
    // The override shows as an escape instead of turning the extension around.
    const QModelIndex spoofed = row(emulator.findChild(account.rootFolderId, spoof));
    EXPECT_EQ(spoofed.data(Qt::DisplayRole).toString(), u"rlo[U+202E]txt.exe"_s);
    EXPECT_EQ(tooltipText(spoofed), u"rlo[U+202E]txt.exe"_s);
    // Ten megabytes of name: a short cell and tooltip that keep the extension.
    const QModelIndex long_ = row(hugeId);
    EXPECT_LE(long_.data(Qt::DisplayRole).toString().size(), DisplayText::nameLimit);
    EXPECT_TRUE(long_.data(Qt::DisplayRole).toString().endsWith(u"a.exe"_s));
    EXPECT_LE(tooltipText(long_).size(), DisplayText::messageLimit);
    save(window, u"drive-hostile-names.png"_s);

    // The whole name is still there to be had.
    select(*model, {hugeId});
    chooseInMenu(window, u"Sao chép tên đầy đủ"_s);
    ASSERT_FALSE(desktop.copiedTexts.isEmpty());
    EXPECT_EQ(desktop.copiedTexts.constLast(), huge);
    select(*model, {headingId});
    std::unique_ptr<QMenu> menu(pane->createContextMenu(nullptr));
    EXPECT_EQ(entry(menu.get(), u"Sao chép tên đầy đủ"_s), nullptr);

    // The share sheet's title and the toast of a copied link, as plain text.
    chooseInMenu(window, u"Chia sẻ & Phân quyền…"_s);
    ShareSheet *sheet = window.shareSheet();
    ASSERT_NE(sheet, nullptr);
    const QString title = u"Chia sẻ \""_s + heading + u"\""_s;
    EXPECT_EQ(sheet->windowTitle(), title);
    QLabel *titleLabel = nullptr;
    for (QLabel *label : sheet->findChildren<QLabel *>())
        if (label->text() == title)
            titleLabel = label;
    ASSERT_NE(titleLabel, nullptr);
    EXPECT_EQ(titleLabel->textFormat(), Qt::PlainText);
    QTest::mouseClick(sheet->copyLinkButton(), Qt::LeftButton);
    const QString toast = u"Đã sao chép link chia sẻ: "_s + heading;
    ASSERT_TRUE(waitUntil([&] { return window.toast()->text() == toast; }));
    for (QLabel *label : window.toast()->findChildren<QLabel *>()) {
        if (label->text() == toast) {
            EXPECT_EQ(label->textFormat(), Qt::PlainText);
        }
    }
}

TEST_F(DriveWindow, SignsInThroughTheConnectionScreenAndDisconnects)
{
    storeSession(false);
    auto model = makeModel();
    runSync(model->initialize());
    MainWindow window(model.get());
    show(window);
    ASSERT_FALSE(model->connection().connected());

    // The account button opens the screen in its signed-out state.
    QTest::mouseClick(window.toolbarRow()->accountButton(), Qt::LeftButton);
    ConnectionView *view = window.connectionView();
    ASSERT_NE(view, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(view));
    EXPECT_EQ(view->titleLabel()->text(), u"Chào Google Drive."_s);
    EXPECT_EQ(view->states()->currentWidget(), view->signInPage());
    EXPECT_TRUE(view->notConfiguredLabel()->parentWidget()->isHidden());
    EXPECT_TRUE(view->loginButton()->isEnabled());
    // Without a shipped configuration the developer section is offered.
    EXPECT_FALSE(view->developerToggle()->isHidden());
    QTest::mouseClick(view->developerToggle(), Qt::LeftButton);
    EXPECT_EQ(view->importButton()->text(), u"Thay cấu hình thử nghiệm…"_s);
    EXPECT_FALSE(view->configuredLabel()->isHidden());
    save(*view, u"connection-signed-out.png"_s);

    // While signing in: "Hủy đăng nhập" with progress, import disabled.
    QTest::mouseClick(view->loginButton(), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return !desktop.openedUrls.isEmpty(); }));
    EXPECT_TRUE(model->connection().connecting());
    EXPECT_TRUE(view->loginButton()->isHidden());
    EXPECT_FALSE(view->cancelLoginButton()->isHidden());
    EXPECT_FALSE(view->progress()->isHidden());
    EXPECT_FALSE(view->importButton()->isEnabled());
    save(*view, u"connection-signing-in.png"_s);

    // A successful sign-in closes the screen; opened again it shows the account.
    QPointer<ConnectionView> signingIn = view;
    follow(desktop.openedUrls.last());
    ASSERT_TRUE(waitUntil([&] { return model->connection().connected() && !model->connection().connecting(); }));
    ASSERT_TRUE(waitUntil([&] { return !signingIn; }));
    ASSERT_TRUE(listed(window, 3));
    QTest::mouseClick(window.toolbarRow()->accountButton(), Qt::LeftButton);
    view = window.connectionView();
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(view->states()->currentWidget(), view->connectedPage());
    EXPECT_EQ(view->titleLabel()->text(), u"Không gian đã kết nối"_s);
    EXPECT_EQ(view->subtitleLabel()->text(), account.email);
    EXPECT_TRUE(view->noteLabel()->parentWidget()->isHidden());
    save(*view, u"connection-connected.png"_s);

    // A note (the demo's self-approved sign-in) shows at once and in every screen opened later.
    const QString note = u"Bản demo đã tự cho phép đăng nhập."_s;
    window.setConnectionNote(note);
    EXPECT_FALSE(view->noteLabel()->parentWidget()->isHidden());
    EXPECT_EQ(view->noteLabel()->text(), note);
    save(*view, u"connection-connected-note.png"_s);

    // "Ngắt kết nối" signs out and closes the screen.
    QTest::mouseClick(view->disconnectButton(), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return !model->connection().connected() && !window.connectionView(); }));
    EXPECT_FALSE(model->showConnection());
    EXPECT_EQ(window.drivePane()->pages()->currentWidget(), window.drivePane()->notConnectedView());
}

// A configuration shipped with the application leaves nothing for a developer to change.
TEST_F(DriveWindow, ManagedGoogleConfigurationHidesTheDeveloperSection)
{
    const QString bundled =
        writeFile(settings.filePath(u"bundled.json"_s),
                  R"({"installed":{"client_id":")" + account.clientId.toUtf8() +
                      R"(","client_secret":")" + account.clientSecret.toUtf8() + R"("}})");
    auto model = makeModel();
    model->connection().auth().setBundledConfigurationPath(bundled);
    runSync(model->initialize());
    ASSERT_TRUE(model->connection().managedGoogle());
    MainWindow window(model.get());
    show(window);
    model->setShowConnection(true);
    ConnectionView *view = window.connectionView();
    ASSERT_NE(view, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(view));
    EXPECT_TRUE(model->connection().configured());
    EXPECT_TRUE(view->loginButton()->isEnabled());
    EXPECT_TRUE(view->developerToggle()->isHidden());
    EXPECT_FALSE(view->importButton()->isVisible());
    EXPECT_FALSE(view->findChild<QPushButton *>(u"consoleLink"_s)->isVisible());
}

TEST_F(DriveWindow, ConnectionScreenWithoutConfigurationCannotSignIn)
{
    auto model = makeModel();
    runSync(model->initialize());
    MainWindow window(model.get());
    show(window);
    model->connection().setConnectionError(u"Không đọc được cấu hình."_s);
    model->setShowConnection(true);
    ConnectionView *view = window.connectionView();
    ASSERT_NE(view, nullptr);
    EXPECT_FALSE(model->connection().configured());
    EXPECT_FALSE(view->notConfiguredLabel()->parentWidget()->isHidden());
    EXPECT_FALSE(view->loginButton()->isEnabled());
    EXPECT_EQ(view->errorLabel()->text(), u"Không đọc được cấu hình."_s);
    EXPECT_FALSE(view->errorLabel()->parentWidget()->isHidden());
    EXPECT_EQ(view->importButton()->text(), u"Nhập cấu hình thử nghiệm…"_s);
    // Wrapped texts get the height they need: nothing is cut off.
    ASSERT_TRUE(QTest::qWaitForWindowExposed(view));
    EXPECT_GE(view->height(), view->layout()->totalHeightForWidth(view->width()));
    save(*view, u"connection-not-configured.png"_s);
    // The console link follows the configured Google addresses.
    QTest::mouseClick(view->developerToggle(), Qt::LeftButton);
    QTest::mouseClick(view->findChild<QPushButton *>(u"consoleLink"_s), Qt::LeftButton);
    ASSERT_FALSE(desktop.openedUrls.isEmpty());
    EXPECT_EQ(desktop.openedUrls.constLast(), QUrl(emulator.baseUrl() + u"/apis/dashboard"_s));
    // Closing the screen clears the model's flag.
    view->reject();
    EXPECT_FALSE(model->showConnection());
}

TEST_F(DriveWindow, ShareSheetTrimsTheAddressAndKeepsRejectedOnes)
{
    emulator.addUser(u"binh@example.com"_s, u"Bình"_s);
    auto model = signedInModel();
    MainWindow window(model.get());
    show(window);
    ASSERT_TRUE(listed(window, 3));
    const QString notes =
        emulator.findChild(emulator.rootFolderId(account.email), u"ghi chú.txt"_s);
    select(*model, {notes});
    chooseInMenu(window, u"Chia sẻ & Phân quyền…"_s);
    ShareSheet *sheet = window.shareSheet();
    ASSERT_NE(sheet, nullptr);
    EXPECT_EQ(sheet->windowTitle(), u"Chia sẻ \"ghi chú.txt\""_s);
    ASSERT_TRUE(waitUntil([&] { return !model->sharing().loadingPermissions(); }));
    ASSERT_TRUE(waitUntil(
        [&] { return sheet->list()->findChildren<QWidget *>(u"permission"_s).size() == 1; }));
    EXPECT_FALSE(sheet->shareButton()->isEnabled());

    // No at sign: the sheet says so and sends nothing.
    QTest::keyClicks(sheet->emailField(), u"binh"_s);
    QTest::mouseClick(sheet->shareButton(), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return !sheet->errorLabel()->isHidden(); }));
    EXPECT_EQ(sheet->errorLabel()->text(), u"Vui lòng nhập địa chỉ email hợp lệ."_s);
    EXPECT_TRUE(requests(u"POST"_s, u"/permissions"_s).isEmpty());

    // Surrounding spaces go; the reader role and no notification go with it.
    sheet->emailField()->setText(u"  binh@example.com  "_s);
    sheet->roleBox()->setCurrentIndex(2);
    sheet->notifyBox()->setChecked(false);
    QTest::mouseClick(sheet->shareButton(), Qt::LeftButton);
    ASSERT_TRUE(waitUntil(
        [&] { return sheet->list()->findChildren<QWidget *>(u"permission"_s).size() == 2; }));
    const DrivePermission added = model->sharing().sharingPermissions().constLast();
    EXPECT_EQ(added.emailAddress, u"binh@example.com"_s);
    EXPECT_EQ(added.role, u"reader"_s);
    EXPECT_TRUE(sheet->errorLabel()->isHidden());
    QToolButton *role = sheet->list()->findChild<QToolButton *>(u"roleMenu"_s);
    ASSERT_NE(role, nullptr);
    EXPECT_EQ(role->text(), u"Người xem"_s);

    // A share link adds a row for anyone with the link: like the owner's, it has no role menu.
    // Every toast is recorded: on a loaded machine it may come and go between two looks.
    QStringList toasts;
    QObject::connect(model.get(), &AppModel::toastMessageChanged, model.get(), [&] {
        if (model->toastMessage())
            toasts.append(*model->toastMessage());
    });
    QTest::mouseClick(sheet->copyLinkButton(), Qt::LeftButton);
    ASSERT_TRUE(waitUntil(
        [&] { return toasts.contains(u"Đã sao chép link chia sẻ: ghi chú.txt"_s); }));
    QTest::mouseClick(sheet->refreshButton(), Qt::LeftButton);
    ASSERT_TRUE(waitUntil(
        [&] { return sheet->list()->findChildren<QWidget *>(u"permission"_s).size() == 3; }));
    QStringList fixed;
    for (QLabel *label : sheet->list()->findChildren<QLabel *>(u"fixedRole"_s))
        fixed.append(label->text());
    fixed.sort();
    EXPECT_EQ(fixed, (QStringList{u"Bất kỳ ai có liên kết"_s, u"Chủ sở hữu"_s}));
    EXPECT_EQ(sheet->list()->findChildren<QToolButton *>(u"roleMenu"_s).size(), 1);
    save(*sheet, u"share-sheet.png"_s);

    // The marks stacked on the section's capitals fit inside its label: its top rows stay empty.
    QLabel *section = nullptr;
    for (QLabel *label : sheet->findChildren<QLabel *>())
        if (label->text() == u"THÊM NGƯỜI HOẶC NHÓM"_s)
            section = label;
    ASSERT_NE(section, nullptr);
    const QImage drawn = section->grab().toImage();
    const QRgb ground = drawn.pixel(drawn.width() - 1, drawn.height() - 1);
    int inkOnTop = 0;
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < drawn.width(); ++x)
            inkOnTop += drawn.pixel(x, y) != ground ? 1 : 0;
    EXPECT_EQ(inkOnTop, 0);


    // "Xong" closes the sheet and the model's sharing state.
    QTest::mouseClick(sheet->doneButton(), Qt::LeftButton);
    EXPECT_FALSE(model->sharing().sharingFile().has_value());
}

TEST_F(DriveWindow, LongErrorLineLeavesBothPanesAtTheirWidths)
{
    QSettings().remove(QString::fromLatin1(MainWindow::paneSplitterKey));
    auto model = signedInModel();
    MainWindow window(model.get());
    window.resize(1320, 840);
    show(window);
    ASSERT_TRUE(listed(window, 3));
    DrivePane *pane = window.drivePane();
    const int localWidth = window.localPane()->width();
    const int driveWidth = pane->width();
    EXPECT_LE(qAbs(localWidth - driveWidth), 2); // an even share at first

    // 400 characters, one of its words longer than a pane is wide.
    const QString message =
        QString(u'x').repeated(250) + u" không tải được "_s + QString(u'y').repeated(134);
    ASSERT_EQ(message.size(), 400);
    answerOnce(400, R"({"error":{"code":400,"message":")" + message.toUtf8() + R"("}})", u"GET"_s,
               u"^/drive/v3/files$"_s);
    QTest::mouseClick(pane->refreshButton(), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return pane->pages()->currentWidget() == pane->loadErrorView(); }));
    // Google's own text is no longer the message (it is the error's detail): a line this long is
    // put in the view directly.
    pane->loadErrorView()->setText(message);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    QCoreApplication::processEvents();
    EXPECT_EQ(window.localPane()->width(), localWidth);
    EXPECT_EQ(pane->width(), driveWidth);
    QLabel *text = pane->loadErrorView()->textLabel();
    EXPECT_EQ(text->text(), message);
    EXPECT_LE(text->width(), pane->width());
    // Cut short on the screen, whole in the tooltip.
    EXPECT_EQ(text->toolTip(), Qt::convertFromPlainText(message)); // its characters, never markup
    save(window, u"panes-long-error.png"_s);

    // The division is the user's and outlives the window.
    window.paneSplitter()->setSizes({700, 300});
    emit window.paneSplitter()->splitterMoved(700, 1);
    const QList<int> chosen = window.paneSplitter()->sizes();
    MainWindow again(model.get());
    again.resize(window.size());
    show(again);
    EXPECT_EQ(again.paneSplitter()->sizes(), chosen);
    // Neither pane can be squeezed away.
    again.paneSplitter()->setSizes({2000, 0});
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    QCoreApplication::processEvents();
    EXPECT_GE(again.drivePane()->width(), MainWindow::paneMinimumWidth);
    // However narrow the pane, the names keep their column's minimum.
    EXPECT_GE(again.drivePane()->view()->horizontalHeader()->sectionSize(0),
              nameColumnMinimumWidth);
    QSettings().remove(QString::fromLatin1(MainWindow::paneSplitterKey));
}

TEST_F(DriveWindow, KeyboardReachesEverythingAndTheUsualKeysWork)
{
    auto model = signedInModel();
    QTemporaryDir folder;
    Tarnwick::Testing::writeFile(folder.filePath(u"a.txt"_s), "a");
    runSync(model->local().navigateLocal(folder.path()));
    MainWindow window(model.get());
    show(window);
    ASSERT_TRUE(listed(window, 3));
    // Keys reach a widget only in the active window, as they do for the user.
    auto focusOn = [&](QWidget *widget) {
        window.activateWindow();
        if (!QTest::qWaitForWindowActive(&window))
            return false;
        widget->setFocus(Qt::OtherFocusReason);
        return QApplication::focusWidget() == widget;
    };
    DrivePane *drive = window.drivePane();
    LocalPane *local = window.localPane();

    // Tab goes round the window and never stays put, in the lists either.
    ASSERT_TRUE(focusOn(local->searchField()));
    QList<QWidget *> visited{QApplication::focusWidget()};
    for (int i = 0; i < 40; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QWidget *now = QApplication::focusWidget();
        ASSERT_NE(now, visited.constLast()) << "stuck at " << qPrintable(now->objectName());
        if (now == visited.constFirst())
            break;
        visited.append(now);
    }
    for (QWidget *wanted : {static_cast<QWidget *>(local->view()),
                            static_cast<QWidget *>(drive->searchField()),
                            static_cast<QWidget *>(drive->view())})
        EXPECT_TRUE(visited.contains(wanted));
    EXPECT_LT(visited.indexOf(local->view()), visited.indexOf(drive->searchField()));
    // Shift+Tab goes back the same way.
    ASSERT_TRUE(focusOn(drive->searchField()));
    QTest::keyClick(drive->searchField(), Qt::Key_Backtab);
    EXPECT_EQ(QApplication::focusWidget(), visited.at(visited.indexOf(drive->searchField()) - 1));

    // Ctrl+F searches the pane last worked in; Escape empties the search.
    ASSERT_TRUE(focusOn(drive->view()));
    QTest::keyClick(&window, Qt::Key_F, Qt::ControlModifier);
    EXPECT_EQ(QApplication::focusWidget(), drive->searchField());
    QTest::keyClicks(drive->searchField(), u"ghi"_s);
    EXPECT_EQ(model->cloud().cloudSearch(), u"ghi"_s);
    QTest::keyClick(drive->searchField(), Qt::Key_Escape);
    EXPECT_TRUE(model->cloud().cloudSearch().isEmpty());
    ASSERT_TRUE(focusOn(local->view()));
    QTest::keyClick(&window, Qt::Key_F, Qt::ControlModifier);
    EXPECT_EQ(QApplication::focusWidget(), local->searchField());

    // F2 renames the selected item.
    const QString notes =
        emulator.findChild(emulator.rootFolderId(account.email), u"ghi chú.txt"_s);
    select(*model, {notes});
    ASSERT_TRUE(focusOn(drive->view()));
    QTest::keyClick(drive->view(), Qt::Key_F2);
    ASSERT_NE(window.nameSheet(), nullptr);
    EXPECT_EQ(window.nameSheet()->nameField()->text(), u"ghi chú.txt"_s);
    window.nameSheet()->reject();

    // Into a folder, then Alt+Up and Backspace lead back out.
    model->cloud().openCloud(model->cloud().visibleCloud().constFirst());
    ASSERT_TRUE(waitUntil([&] { return model->cloud().crumbs().size() == 1 && !model->cloud().loading(); }));
    ASSERT_TRUE(focusOn(drive->view()));
    QTest::keyClick(drive->view(), Qt::Key_Up, Qt::AltModifier);
    ASSERT_TRUE(waitUntil([&] { return model->cloud().crumbs().isEmpty(); }));
    ASSERT_TRUE(listed(window, 3));
    model->cloud().openCloud(model->cloud().visibleCloud().constFirst());
    ASSERT_TRUE(waitUntil([&] { return model->cloud().crumbs().size() == 1 && !model->cloud().loading(); }));
    ASSERT_TRUE(focusOn(drive->view()));
    QTest::keyClick(drive->view(), Qt::Key_Backspace);
    ASSERT_TRUE(waitUntil([&] { return model->cloud().crumbs().isEmpty(); }));

    // Ctrl+Q closes the window, which ends the program.
    EXPECT_EQ(window.quitAction()->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Q));
    window.quitAction()->trigger();
    EXPECT_FALSE(window.isVisible());
}

TEST_F(DriveWindow, CoffeeSheetShowsTheCodeAndCopiesTheAccount)
{
    auto model = makeModel();
    MainWindow window(model.get());
    window.setDonation(DonationDetails::demoSample());
    show(window);
    QTest::mouseClick(window.sidebar()->coffeeButton(), Qt::LeftButton);
    CoffeeSheet *sheet = window.coffeeSheet();
    ASSERT_NE(sheet, nullptr);
    EXPECT_TRUE(window.showCoffee());
    // The demo's account is a sample, and the sheet says so.
    QLabel *note = sheet->findChild<QLabel *>(u"sampleNote"_s);
    ASSERT_NE(note, nullptr);
    EXPECT_TRUE(note->isVisible());
    // Level M, 10 pixels a module, a quiet zone of 4 modules: a whole number of modules.
    const QImage code = CoffeeSheet::qrCode(sheet->details().payload);
    ASSERT_FALSE(code.isNull());
    EXPECT_EQ(code.width() % 10, 0);
    EXPECT_GE(code.width() / 10, 21 + 8);
    EXPECT_EQ(code.pixelColor(0, 0), QColor(Qt::white));
    EXPECT_EQ(code.pixelColor(40, 40), QColor(Qt::black)); // the finder pattern's corner
    save(*sheet, u"coffee-sheet.png"_s);
    QTest::mouseClick(sheet->copyButton(), Qt::LeftButton);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), u"0000000000"_s);
    EXPECT_EQ(model->toastMessage(), u"Đã sao chép số tài khoản"_s);
    sheet->reject();
    EXPECT_FALSE(window.showCoffee());
}

TEST_F(DriveWindow, UpdateBannerOffersTheNotesAndTheDownload)
{
    emulator.setUpdateManifest(
        u"{\"mac\":{\"version\":\"99.1\",\"url\":\"%1/tai-ve\"},\"notes\":\"Sửa lỗi\"}"_s
            .arg(emulator.baseUrl())
            .toUtf8());
    auto model = makeModel();
    MainWindow window(model.get());
    show(window);
    EXPECT_TRUE(window.updateBanner()->isHidden());
    model->updates().startUpdateChecks();
    ASSERT_TRUE(waitUntil([&] { return window.updateBanner()->isVisible(); }));
    EXPECT_EQ(window.updateBanner()->titleLabel()->text(), u"Đã có Tarnwick 99.1"_s);
    save(window, u"update-banner.png"_s);
    // The notes' alert downloads on "Tải về", which also dismisses the banner.
    desktop.answerAlert(0);
    QTest::mouseClick(window.updateBanner()->notesButton(), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return !desktop.openedUrls.isEmpty(); }));
    EXPECT_EQ(desktop.alerts.constLast().title, u"Tarnwick 99.1 có gì mới"_s);
    EXPECT_EQ(desktop.openedUrls.constLast(), QUrl(emulator.baseUrl() + u"/tai-ve"_s));
    EXPECT_TRUE(window.updateBanner()->isHidden());
}

// A kept thumbnail: 22 × 22 on screen, `pixels` a side, see-through at the corner point and
// the picture's colour inside.
void expectRoundedSquare(const QPixmap &kept, int pixels, QPoint corner, QPoint inside,
                         const QColor &colour)
{
    EXPECT_EQ(kept.deviceIndependentSize(), QSizeF(22, 22));
    const QImage stored = kept.toImage();
    EXPECT_EQ(stored.size(), QSize(pixels, pixels));
    EXPECT_LT(stored.pixelColor(corner).alpha(), 64);
    EXPECT_EQ(stored.pixelColor(inside), colour);
}

TEST(DriveThumbnailCacheLimits, SmallPicturesAreBoundByCountAndKeepTheirRoundedShape)
{
    DriveThumbnailCache cache;
    QPixmap picture(16, 16);
    picture.fill(Qt::red);
    for (int i = 0; i < DriveThumbnailCache::countLimit + 5; ++i) {
        cache.store(picture, QString::number(i));
        if (i == 10)
            cache.image(u"0"_s); // used again: stays
    }
    EXPECT_EQ(cache.count(), DriveThumbnailCache::countLimit);
    EXPECT_TRUE(cache.contains(u"0"_s));
    EXPECT_FALSE(cache.contains(u"1"_s));
    // Enlarged to 22 × 22 with rounded corners.
    expectRoundedSquare(cache.image(u"0"_s), 22, {0, 0}, {11, 11}, Qt::red);
    EXPECT_EQ(cache.totalCost(), qint64(DriveThumbnailCache::countLimit) * 22 * 22 * 4);
}

// Pictures as Drive sends them fill the byte limit long before the count limit.
TEST(DriveThumbnailCacheLimits, LargePicturesAreBoundByTheirBytes)
{
    DriveThumbnailCache cache;
    QPixmap photo(220, 165);
    photo.fill(Qt::blue);
    const qint64 each = 220 * 220 * 4;
    const int fit = int(DriveThumbnailCache::costLimit / each);
    ASSERT_LT(fit, DriveThumbnailCache::countLimit);
    for (int i = 0; i < fit; ++i)
        cache.store(photo, QString::number(i));
    EXPECT_EQ(cache.count(), fit);
    EXPECT_EQ(cache.totalCost(), fit * each);
    cache.image(u"0"_s); // used again: stays

    for (int i = fit; i < fit + 10; ++i)
        cache.store(photo, QString::number(i));
    EXPECT_EQ(cache.count(), fit);
    EXPECT_TRUE(cache.contains(u"0"_s));
    for (int i = 1; i <= 10; ++i)
        EXPECT_FALSE(cache.contains(QString::number(i))) << i;
    EXPECT_TRUE(cache.contains(QString::number(fit + 9)));

    // The cost is what the kept pictures hold, and stays within the limit.
    qint64 held = 0;
    for (int i = 0; i < fit + 10; ++i)
        if (cache.contains(QString::number(i)))
            held += cache.image(QString::number(i)).toImage().sizeInBytes();
    EXPECT_EQ(held, cache.totalCost());
    EXPECT_LE(held, DriveThumbnailCache::costLimit);

    // Drawn sharp at 10 pixels per point, rounded at the same 3-point radius.
    expectRoundedSquare(cache.image(u"0"_s), 220, {2, 2}, {30, 30}, Qt::blue);

    // A picture that claims a huge size is kept at 256 pixels a side, so one entry can never
    // take the whole budget.
    QPixmap huge(4000, 3000);
    huge.fill(Qt::green);
    cache.store(huge, u"huge"_s);
    EXPECT_EQ(cache.image(u"huge"_s).size(), QSize(256, 256));
    EXPECT_LE(cache.totalCost(), DriveThumbnailCache::costLimit);
}

} // namespace
