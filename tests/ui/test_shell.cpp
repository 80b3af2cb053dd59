// The window's transfer entries against a signed-in model and the emulator: menu enabling, the
// quit and restore prompts, drops on both panes and the link sheet.
#include "../queue/queuetesting.h"

#include "panes/drivepane.h"
#include "panes/localpane.h"
#include "sheets/linkdownloadsheet.h"
#include "window/mainwindow.h"

#include "async/runsync.h"
#include "records/dragpayload.h"
#include "support/qtprinters.h"
#include "support/testsupport.h"
#include "transfer/transferqueue.h"

#include <QAction>
#include <QApplication>
#include <QDropEvent>
#include <QMimeData>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace Tarnwick;
using namespace Tarnwick::Testing;
using State = TransferState;

namespace {

class Shell : public QueueTest
{
protected:
    Shell()
    {
        useModel();
        window = std::make_unique<MainWindow>(model.get());
        window->resize(1320, 840);
        window->show();
        QApplication::processEvents();
    }
    ~Shell() override { window.reset(); }

    // Delivers a drag and its drop to a pane, as the desktop would; whether the pane took it.
    static bool dropOn(QWidget *pane, QMimeData *data)
    {
        const QPoint at = pane->rect().center();
        QDragEnterEvent enter(at, Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(pane, &enter);
        if (!enter.isAccepted())
            return false;
        QDropEvent drop(QPointF(at), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(pane, &drop);
        return drop.isAccepted();
    }
    void settle() { QTest::qWait(20); }

    std::unique_ptr<MainWindow> window;
};

TEST_F(Shell, TransferMenuEntriesFollowTheirConditions)
{
    settle();
    EXPECT_TRUE(window->linkDownloadAction()->isEnabled());
    EXPECT_TRUE(window->uploadAction()->isEnabled()); // My Drive takes uploads
    EXPECT_FALSE(window->downloadAction()->isEnabled()); // nothing selected
    EXPECT_FALSE(window->resumeAllAction()->isEnabled());

    const QString id = emulator.createFile(account.email, u"m.bin"_s, bytes(100, 1));
    runSync(model->cloud().refreshCloud());
    model->cloud().setCloudSelection({id});
    settle();
    EXPECT_TRUE(window->downloadAction()->isEnabled());

    model->cloud().changeLocation(DriveLocation::Shared);
    settle();
    EXPECT_FALSE(window->uploadAction()->isEnabled());

    // A paused transfer lights "resume all", which resumes it.
    throttleMedia(id, 50);
    download({driveFile(id)}, localDir.path());
    model->transfers().pauseTransfer(idAt(0));
    settle();
    EXPECT_TRUE(window->resumeAllAction()->isEnabled());
    emulator.clearFaults();
    window->resumeAllAction()->trigger();
    ASSERT_TRUE(allFinished());
    EXPECT_EQ(at(0).state, State::Done);

    window->autoResumeAction()->trigger();
    EXPECT_TRUE(model->transfers().autoResumeTransfers());
}

TEST_F(Shell, QuittingWhileTransfersRunAsksAndEachAnswerDoesWhatItSays)
{
    // Nothing running: the window closes at once.
    const QString id = emulator.createFile(account.email, u"q.bin"_s, bytes(1 << 20, 2));
    throttleMedia(id, 64 * 1024);
    download({driveFile(id)}, localDir.path());

    desktop.answerAlert(0); // "Tiếp tục làm việc"
    EXPECT_FALSE(window->close());
    ASSERT_TRUE(waitUntil([&] { return desktop.alerts.size() == 1; }));
    EXPECT_EQ(desktop.alerts[0].title, u"Tarnwick đang truyền file");
    EXPECT_EQ(desktop.alerts[0].buttons[0].text, u"Tiếp tục làm việc");
    EXPECT_EQ(desktop.alerts[0].buttons[1].text, u"Dừng và thoát");
    settle();
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(at(0).state, State::Working);

    desktop.answerAlert(1); // "Dừng và thoát"
    window->close();
    ASSERT_TRUE(waitUntil([&] { return !window->isVisible(); }));

    // Paused transfers count as neither running nor waiting.
    window->show();
    model->transfers().pauseTransfer(idAt(0));
    EXPECT_TRUE(window->close());
    EXPECT_EQ(desktop.alerts.size(), 2);
}

TEST_F(Shell, TheRestorePromptSaysWhatIsLeftAndEachAnswerActs)
{
    const QString id = emulator.createFile(account.email, u"r.bin"_s, bytes(3 << 20, 3));
    throttleMedia(id, 256 * 1024);
    download({driveFile(id)}, localDir.path());
    ASSERT_TRUE(waitUntil([&] { return at(0).done > 0; }));
    model->transfers().saveQueueNow();
    window.reset();
    quit();

    for (int answer : {2, 3}) {
        desktop.answerAlert(answer);
        replaceModel();
        window = std::make_unique<MainWindow>(model.get());
        runSync(model->initialize());
        ASSERT_TRUE(waitUntil([&] { return !model->transfers().restoredPrompt().has_value(); }));
        const Desktop::Alert &alert = desktop.alerts.last();
        EXPECT_EQ(alert.title, u"Tiếp tục phiên làm việc trước?");
        EXPECT_TRUE(alert.message.startsWith(u"Lần trước Tarnwick dừng khi còn 1 tác vụ chưa xong (còn khoảng "_s))
            << alert.message.toStdString();
        EXPECT_TRUE(alert.message.endsWith(u". Phần đã truyền vẫn được giữ, tiếp tục sẽ chạy từ chỗ đã dừng. Có thể bật tự tiếp tục trong menu Truyền file."_s));
        if (answer == 2) { // "Để sau": still there, paused
            EXPECT_EQ(at(0).state, State::Paused);
            model->transfers().saveQueueNow();
            window.reset();
            quit();
        } else { // "Bỏ các tác vụ này"
            EXPECT_TRUE(model->transfers().list().isEmpty());
        }
    }
}

TEST_F(Shell, DropsOnThePanesStartTransfersAndForeignPayloadsAreRefused)
{
    LocalPane *localPane = window->findChild<LocalPane *>();
    DrivePane *drivePane = window->findChild<DrivePane *>();
    ASSERT_TRUE(localPane && drivePane);

    writeFile(local(u"up.txt"_s), "dropped upload");
    auto files = std::make_unique<QMimeData>();
    files->setUrls({QUrl::fromLocalFile(local(u"up.txt"_s))});
    EXPECT_TRUE(dropOn(drivePane, files.get()));
    // The local pane does not take its own files back.
    EXPECT_FALSE(dropOn(localPane, files.get()));

    const QString id = emulator.createFile(account.email, u"down.bin"_s, bytes(5000, 4));
    auto rows = std::make_unique<QMimeData>();
    DragPayload::setDriveFiles(*rows, {driveFile(id)});
    EXPECT_TRUE(dropOn(localPane, rows.get()));
    ASSERT_TRUE(allFinished());
    EXPECT_EQ(model->transfers().list().size(), 2);
    EXPECT_EQ(sha256OfFile(local(u"down.bin"_s)), emulator.contentSha256(id));
    const QString up = emulator.findChild(emulator.rootFolderId(account.email), u"up.txt"_s);
    EXPECT_EQ(emulator.content(up), "dropped upload");

    // Where Drive takes nothing, a file drop does not land.
    model->cloud().changeLocation(DriveLocation::Shared);
    EXPECT_FALSE(dropOn(drivePane, files.get()));
}

TEST_F(Shell, TheLinkSheetReadsTheLinkAndDownloadsIntoTheChosenFolder)
{
    const QString id = emulator.createFile(account.email, u"linked.bin"_s, bytes(4000, 5));
    window->linkDownloadAction()->trigger();
    ASSERT_TRUE(waitUntil([&] { return window->linkDownloadSheet() != nullptr; }));
    LinkDownloadSheet *sheet = window->linkDownloadSheet();
    EXPECT_EQ(sheet->targetFolder(), localDir.path());
    sheet->setLinkText(u"nonsense"_s);
    sheet->submit();
    EXPECT_EQ(sheet->error(), u"Liên kết Google Drive không hợp lệ. Vui lòng kiểm tra lại đường dẫn.");
    sheet->setLinkText(u"  https://drive.google.com/file/d/"_s + id + u"/view?usp=sharing \n"_s);
    sheet->submit();
    ASSERT_TRUE(waitUntil([&] { return !model->transfers().list().isEmpty(); }));
    ASSERT_TRUE(allFinished());
    EXPECT_EQ(sha256OfFile(local(u"linked.bin"_s)), emulator.contentSha256(id));
    EXPECT_FALSE(model->transfers().showLinkDownload());

    EXPECT_TRUE(LinkDownloadSheet::isExternalDrive(u"/media/an/USB"_s));
    EXPECT_TRUE(LinkDownloadSheet::isExternalDrive(u"/run/media/an/USB"_s));
    EXPECT_FALSE(LinkDownloadSheet::isExternalDrive(u"/home/an"_s));
}

} // namespace
