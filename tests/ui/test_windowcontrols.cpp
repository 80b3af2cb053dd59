// The window's commands with a model signed in to the emulator, driven as a user drives them:
// every enabled control does what it says, the upload choosers start where the user is and take
// folders too, Drive folders download from the toolbar and the menu, and the menus open from
// the keyboard.
#include "../queue/queuetesting.h"
#include "support/testsupport.h"

#include "panes/drivepane.h"
#include "panes/localpane.h"
#include "window/mainwindow.h"
#include "window/toolbarrow.h"

#include "async/runsync.h"
#include "transfer/transferqueue.h"

#include <QApplication>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace Tarnwick;
using namespace Tarnwick::Testing;
using State = TransferState;

namespace {

class WindowControls : public QueueTest
{
protected:
    WindowControls()
    {
        useModel();
        window = std::make_unique<MainWindow>(model.get());
        window->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(window.get()));
        QApplication::setActiveWindow(window.get());
    }
    ~WindowControls() override
    {
        if (QWidget *popup = QApplication::activePopupWidget())
            popup->close();
        for (const Transfer &t : QList<Transfer>(model->transfers().list()))
            if (!isFinished(t.state))
                model->transfers().cancelTransfer(t.id);
        waitUntil([&] { return model->transfers().queue().activeRuns() == 0; });
        window.reset();
    }
    static QAction *entry(QMenu *menu, const QString &text)
    {
        for (QAction *action : menu->actions())
            if (action->text() == text)
                return action;
        return nullptr;
    }
    QAction *menuEntry(const QString &menuTitle, const QString &text) const
    {
        for (QAction *top : window->menuBar()->actions())
            if (top->menu() && top->text().remove(u'&') == menuTitle)
                return entry(top->menu(), text);
        return nullptr;
    }
    void refreshDrive() { runSync(model->cloud().refreshCloud()); }

    std::unique_ptr<MainWindow> window;
};

TEST_F(WindowControls, UploadsStartFromTheLocalSelectionAndTakeFoldersTheirOwnWay)
{
    writeFile(local(u"a.txt"_s), "alpha");
    writeFile(local(u"Photos/x.jpg"_s), "picture");
    writeFile(local(u"Photos/sub/y.jpg"_s), "another");
    runSync(model->local().navigateLocal(localDir.path()));
    model->local().setLocalSelection({local(u"a.txt"_s)});

    // The local pane's menu uploads what is selected.
    std::unique_ptr<QMenu> menu(window->localPane()->createContextMenu(window.get()));
    QAction *upload = entry(menu.get(), u"Tải lên Google Drive"_s);
    ASSERT_TRUE(upload);
    ASSERT_TRUE(upload->isEnabled());
    upload->trigger();
    ASSERT_EQ(model->transfers().list().size(), 1);
    ASSERT_TRUE(allFinished());
    EXPECT_EQ(at(0).state, State::Done);

    // Ctrl+U: the file chooser opens in the local folder with the selected file picked.
    model->local().setLocalSelection({local(u"a.txt"_s), local(u"Photos"_s)});
    desktop.answerFiles({});
    QTest::keyClick(window.get(), Qt::Key_U, Qt::ControlModifier);
    ASSERT_TRUE(waitUntil([&] { return desktop.filesRequests.size() == 1; }));
    const Desktop::FilesRequest files = desktop.filesRequests.first();
    EXPECT_EQ(files.message, u"Chọn file để tải lên Google Drive"_s);
    EXPECT_EQ(files.directory, localDir.path());
    EXPECT_EQ(files.selected, QStringList{local(u"a.txt"_s)});

    // A folder has its own command, in the menu and under the toolbar's button.
    QAction *folderCommand = menuEntry(u"Truyền file"_s, u"Tải thư mục lên…"_s);
    ASSERT_TRUE(folderCommand);
    EXPECT_TRUE(folderCommand->isEnabled());
    QMenu *toolbarMenu = window->toolbarRow()->uploadButton()->menu();
    ASSERT_TRUE(toolbarMenu);
    ASSERT_TRUE(entry(toolbarMenu, u"Tải thư mục lên…"_s));
    model->transfers().queue().clearFinished();
    desktop.answerFolder(local(u"Photos"_s));
    entry(toolbarMenu, u"Tải thư mục lên…"_s)->trigger();
    ASSERT_TRUE(waitUntil([&] { return desktop.folderRequests.size() == 1; }));
    EXPECT_EQ(desktop.folderRequests.first().message, u"Chọn thư mục để tải lên Google Drive"_s);
    EXPECT_EQ(desktop.folderRequests.first().selected, local(u"Photos"_s));
    ASSERT_TRUE(waitUntil([&] { return model->transfers().list().size() == 1; }));
    ASSERT_TRUE(allFinished());
    EXPECT_EQ(at(0).state, State::Done);
    EXPECT_EQ(driveTree(emulator.rootFolderId(account.email)), localTree(localDir.path()));
}

TEST_F(WindowControls, DriveFoldersDownloadFromToolbarAndMenuButDocumentsAloneDoNot)
{
    const QString folder = emulator.createFolder(account.email, u"Album"_s);
    emulator.createFile(account.email, u"one.bin"_s, bytes(3000, 1), folder);
    const QString doc = emulator.createGoogleDocument(account.email, u"Ghi chú"_s);
    refreshDrive();

    model->cloud().setCloudSelection({folder});
    EXPECT_TRUE(window->toolbarRow()->downloadButton()->isEnabled());
    QAction *download = menuEntry(u"Truyền file"_s, u"Tải xuống…"_s);
    ASSERT_TRUE(download);
    EXPECT_TRUE(waitUntil([&] { return download->isEnabled(); }));
    std::unique_ptr<QMenu> menu(window->drivePane()->createContextMenu(window.get()));
    QAction *folderDownload = entry(menu.get(), u"Tải thư mục về máy…"_s);
    ASSERT_TRUE(folderDownload);
    EXPECT_TRUE(folderDownload->isEnabled());

    // The toolbar's button asks where to, then brings the folder down.
    desktop.answerFolder(localDir.path());
    QTest::mouseClick(window->toolbarRow()->downloadButton(), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return model->transfers().list().size() == 1; }));
    ASSERT_TRUE(allFinished());
    EXPECT_EQ(at(0).state, State::Done);
    EXPECT_EQ(sha256OfFile(local(u"Album/one.bin"_s)),
              emulator.contentSha256(emulator.findChild(folder, u"one.bin"_s)));

    // A Google document alone has nothing to download: both commands are off.
    model->cloud().setCloudSelection({doc});
    EXPECT_TRUE(waitUntil([&] { return !download->isEnabled(); }));
    EXPECT_FALSE(window->toolbarRow()->downloadButton()->isEnabled());
}

TEST_F(WindowControls, MenusOpenFromTheKeyboard)
{
    // F10 opens the first menu, as on every desktop.
    QTest::keyClick(window.get(), Qt::Key_F10);
    auto *open = qobject_cast<QMenu *>(QApplication::activePopupWidget());
    ASSERT_TRUE(waitUntil([&] {
        open = qobject_cast<QMenu *>(QApplication::activePopupWidget());
        return open != nullptr;
    }));
    EXPECT_EQ(open->title(), u"&Tệp"_s);
    QTest::keyClick(open, Qt::Key_Escape);
    if (QWidget *still = QApplication::activePopupWidget())
        QTest::keyClick(still, Qt::Key_Escape);
    ASSERT_TRUE(waitUntil([] { return QApplication::activePopupWidget() == nullptr; }));

    // Every menu has a letter of its own for Alt.
    QSet<QChar> letters;
    for (QAction *top : window->menuBar()->actions()) {
        const QString title = top->text();
        const qsizetype amp = title.indexOf(u'&');
        ASSERT_GE(amp, 0) << title.toStdString();
        EXPECT_FALSE(letters.contains(title.at(amp + 1).toLower())) << title.toStdString();
        letters.insert(title.at(amp + 1).toLower());
    }
    // Alt+F opens "Truyền file", where the resume-all command and the auto-resume toggle live.
    QTest::keyClick(window.get(), Qt::Key_F, Qt::AltModifier);
    ASSERT_TRUE(waitUntil([&] {
        open = qobject_cast<QMenu *>(QApplication::activePopupWidget());
        return open != nullptr;
    }));
    EXPECT_EQ(open->title(), u"Truyền &file"_s);
    EXPECT_TRUE(entry(open, u"Tự tiếp tục phiên dở khi mở app"_s));
    QTest::keyClick(open, Qt::Key_Escape);
}

} // namespace
