// The transfer queue against the emulator: scheduling, the user's commands, outcomes, the worker
// pool and its failure summary, with every finished file compared by SHA-256.
#include "queuetesting.h"
#include "support/qtprinters.h"
#include "support/testsupport.h"

#include "async/runsync.h"
#include "records/localnames.h"
#include "transfer/transferqueue.h"
#include "transfer/workerpool.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;
using namespace Tarnwick;
using namespace Tarnwick::Testing;
using Emulator::FaultRule;
using State = TransferState;

namespace {

class Queue : public QueueTest
{
protected:
    // A Drive folder "name" holding `count` files f01.bin… of `size` bytes.
    QString driveFolder(const QString &name, int count, qint64 size, const QString &parent = {})
    {
        const QString folder = emulator.createFolder(account.email, name, parent);
        for (int i = 1; i <= count; ++i)
            fileIds.append(emulator.createFile(account.email,
                                               u"f%1.bin"_s.arg(i, 2, 10, QChar(u'0')),
                                               bytes(size, quint64(i)), folder));
        return folder;
    }
    QStringList fileIds;
};

TEST_F(Queue, SevenTransfersRunSixAtOnceAndTheSeventhStartsByItself)
{
    QList<DriveFile> files;
    for (int i = 0; i < 7; ++i) {
        const QString id = emulator.createFile(account.email, u"file%1.bin"_s.arg(i),
                                               bytes(96 * 1024, quint64(i + 10)));
        throttleMedia(id, 256 * 1024);
        files.append(driveFile(id));
    }
    download(files, localDir.path());

    EXPECT_EQ(states(), (QList<State>{State::Working, State::Working, State::Working, State::Working,
                                      State::Working, State::Working, State::Waiting}));
    EXPECT_EQ(at(6).detail, u"Đang chờ");
    // A single file is announced by its name as soon as its run starts.
    EXPECT_EQ(at(0).detail, u"file0.bin");
    EXPECT_TRUE(at(0).started.has_value());
    EXPECT_EQ(transfers->queue().activeRuns(), 6);

    ASSERT_TRUE(allFinished());
    for (int i = 0; i < 7; ++i) {
        EXPECT_EQ(at(i).state, State::Done);
        EXPECT_EQ(at(i).detail, u"Hoàn tất");
        EXPECT_EQ(at(i).done, at(i).total);
        EXPECT_EQ(sha256OfFile(local(u"file%1.bin"_s.arg(i))),
                  emulator.contentSha256(files[i].id));
    }
    EXPECT_EQ(desktop.notifications.size(), 7);
}

// Signing out would leave running and waiting transfers without their account.
TEST_F(Queue, SignOutWaitsUntilNoTransferRunsOrWaits)
{
    useModel();
    const QString id = emulator.createFile(account.email, u"slow.bin"_s, bytes(512 * 1024, 5));
    throttleMedia(id, 64 * 1024);
    download({driveFile(id)}, localDir.path());
    ASSERT_EQ(at(0).state, State::Working);

    runSync(model->connection().disconnect());
    EXPECT_TRUE(model->connection().connected());
    EXPECT_EQ(model->error(), u"Hãy hoàn tất hoặc hủy các tác vụ trước khi ngắt kết nối.");

    transfers->cancelTransfer(idAt(0));
    ASSERT_TRUE(allFinished());
    runSync(model->connection().disconnect());
    EXPECT_FALSE(model->connection().connected());
    EXPECT_TRUE(model->cloud().cloudFiles().isEmpty());
}

TEST_F(Queue, PauseStopsTheBytesAndResumeContinuesFromThePartFile)
{
    const qint64 size = 3 * 1024 * 1024;
    const QString id = emulator.createFile(account.email, u"big.bin"_s, bytes(size, 7));
    const int throttle = throttleMedia(id, 1024 * 1024);
    download({driveFile(id)}, localDir.path());
    const QUuid transferId = idAt(0);
    ASSERT_TRUE(waitUntil([&] { return transfer(transferId)->done >= 512 * 1024; }));

    transfers->pauseTransfer(transferId);
    EXPECT_EQ(at(0).state, State::Paused);
    EXPECT_EQ(at(0).detail, u"Đã tạm dừng");
    EXPECT_EQ(at(0).speed, 0);
    const QString part = LocalNames::partPath(local(u"big.bin"_s));
    // The part file stops growing and no request of the transfer reaches Drive any more.
    ASSERT_TRUE(waitUntil([&] { return transfers->queue().activeRuns() == 0; }));
    const qint64 kept = QFileInfo(part).size();
    const qsizetype asked = mediaRequests(id).size();
    QTest::qWait(300);
    EXPECT_EQ(QFileInfo(part).size(), kept);
    EXPECT_EQ(mediaRequests(id).size(), asked);
    EXPECT_GT(kept, 0);
    EXPECT_LT(kept, size);
    EXPECT_EQ(at(0).state, State::Paused);

    emulator.removeFault(throttle);
    transfers->resumeTransfer(transferId);
    EXPECT_TRUE(at(0).state == State::Working);
    ASSERT_TRUE(reaches(transferId, State::Done));
    const QList<Emulator::RequestRecord> asks = mediaRequests(id);
    ASSERT_GT(asks.size(), asked);
    EXPECT_EQ(asks.last().header(u"range"_s), u"bytes=%1-"_s.arg(kept));
    EXPECT_EQ(sha256OfFile(local(u"big.bin"_s)), emulator.contentSha256(id));
    EXPECT_FALSE(QFileInfo::exists(part));
}

TEST_F(Queue, CancelOfAWorkingPausedAndDoneTransfer)
{
    const QString slowId = emulator.createFile(account.email, u"slow.bin"_s, bytes(2 << 20, 1));
    const QString pausedId = emulator.createFile(account.email, u"paused.bin"_s, bytes(2 << 20, 2));
    const QString quickId = emulator.createFile(account.email, u"quick.bin"_s, bytes(1000, 3));
    throttleMedia(slowId, 512 * 1024);
    const int pausedThrottle = throttleMedia(pausedId, 512 * 1024);
    download({driveFile(slowId), driveFile(pausedId), driveFile(quickId)}, localDir.path());
    const QUuid slow = idAt(0), paused = idAt(1), quick = idAt(2);
    ASSERT_TRUE(reaches(quick, State::Done));
    ASSERT_TRUE(waitUntil([&] {
        return transfer(slow)->done > 0 && transfer(paused)->done > 0;
    }));

    // Working: the run records the cancellation and the part file goes.
    transfers->cancelTransfer(slow);
    ASSERT_TRUE(reaches(slow, State::Cancelled));
    EXPECT_EQ(transfer(slow)->detail, u"Đã hủy");
    EXPECT_FALSE(QFileInfo::exists(LocalNames::partPath(local(u"slow.bin"_s))));
    EXPECT_FALSE(QFileInfo::exists(local(u"slow.bin"_s)));

    // Paused: its part file stays until the cancel removes it.
    transfers->pauseTransfer(paused);
    ASSERT_TRUE(waitUntil([&] { return transfers->queue().activeRuns() == 0; }));
    emulator.removeFault(pausedThrottle);
    EXPECT_TRUE(QFileInfo::exists(LocalNames::partPath(local(u"paused.bin"_s))));
    transfers->cancelTransfer(paused);
    EXPECT_EQ(transfer(paused)->state, State::Cancelled);
    // Swept off the main thread.
    EXPECT_TRUE(waitUntil(
        [&] { return !QFileInfo::exists(LocalNames::partPath(local(u"paused.bin"_s))); }));

    // Done and cancelled: the command takes them off the list; the file stays.
    transfers->cancelTransfer(quick);
    transfers->cancelTransfer(slow);
    EXPECT_EQ(transfers->list().size(), 1);
    EXPECT_EQ(sha256OfFile(local(u"quick.bin"_s)), emulator.contentSha256(quickId));
}

TEST_F(Queue, ResumeTakesOnlyPausedAndFailedTransfersAndClearFinishedKeepsTheRest)
{
    const QString okId = emulator.createFile(account.email, u"ok.bin"_s, bytes(1000, 1));
    const QString badId = emulator.createFile(account.email, u"bad.bin"_s, bytes(300000, 2));
    const QString waitId = emulator.createFile(account.email, u"wait.bin"_s, bytes(1000, 3));
    // The bad download breaks off after some bytes, every time: it fails with a part file kept.
    FaultRule reset = FaultRule::respondError(403, u"forbidden"_s, u"Not allowed"_s, u"GET"_s,
                                              u"^/drive/v3/files/"_s + badId + u'$');
    reset.query = u"alt=media"_s;
    reset.times = 0;
    emulator.addFault(reset);
    download({driveFile(okId), driveFile(badId)}, localDir.path());
    const QUuid ok = idAt(0), bad = idAt(1);
    ASSERT_TRUE(allFinished());
    EXPECT_EQ(transfer(ok)->state, State::Done);
    EXPECT_EQ(transfer(bad)->state, State::Failed);
    EXPECT_FALSE(transfer(bad)->detail.isEmpty());

    // A part file left by an earlier attempt of the failed download.
    const QString part = LocalNames::partPath(local(u"bad.bin"_s));
    writeFile(part, "half");

    transfers->resumeTransfer(ok); // done: nothing
    EXPECT_EQ(transfer(ok)->state, State::Done);

    // A waiting transfer behind six held ones.
    QList<DriveFile> held;
    for (int i = 0; i < 6; ++i) {
        const QString id = emulator.createFile(account.email, u"held%1.bin"_s.arg(i), bytes(4096, 9));
        emulator.addFault([&] {
            FaultRule rule = FaultRule::delayBy(1500ms, u"GET"_s, u"^/drive/v3/files/"_s + id + u'$');
            return rule;
        }());
        held.append(driveFile(id));
    }
    download(held, localDir.path());
    download({driveFile(waitId)}, localDir.path());
    const QUuid waiting = transfers->list().last().id;
    EXPECT_EQ(transfer(waiting)->state, State::Waiting);
    transfers->resumeTransfer(waiting);
    EXPECT_EQ(transfer(waiting)->state, State::Waiting);
    EXPECT_EQ(transfer(waiting)->detail, u"Đang chờ");
    const QUuid working = idAt(2);
    transfers->resumeTransfer(working);
    EXPECT_EQ(transfer(working)->state, State::Working);

    transfers->clearFinished();
    EXPECT_EQ(transfer(ok), nullptr);
    EXPECT_EQ(transfer(bad), nullptr);
    EXPECT_TRUE(waitUntil([&] { return !QFileInfo::exists(part); }));
    EXPECT_NE(transfer(waiting), nullptr);
    EXPECT_EQ(transfers->list().size(), 7);
    ASSERT_TRUE(allFinished());
}

TEST_F(Queue, RetryOfAFailedTransferQueuesItAgainAndFinishesIt)
{
    const QString id = emulator.createFile(account.email, u"retry.bin"_s, bytes(5000, 4));
    FaultRule refuse = FaultRule::respondError(403, u"forbidden"_s, u"Not allowed"_s, u"GET"_s,
                                               u"^/drive/v3/files/"_s + id + u'$');
    refuse.query = u"alt=media"_s;
    const int rule = emulator.addFault(refuse);
    download({driveFile(id)}, localDir.path());
    ASSERT_TRUE(reaches(idAt(0), State::Failed));
    EXPECT_TRUE(at(0).detail.startsWith(u"retry.bin: "_s)) << at(0).detail.toStdString();
    emulator.removeFault(rule);
    transfers->resumeTransfer(idAt(0));
    EXPECT_TRUE(at(0).state == State::Working || at(0).state == State::Waiting);
    ASSERT_TRUE(reaches(idAt(0), State::Done));
    EXPECT_EQ(sha256OfFile(local(u"retry.bin"_s)), emulator.contentSha256(id));
}

TEST_F(Queue, NotificationsTellWhatArrivedAndWhere)
{
    const QString pdf = local(u"a.pdf"_s);
    writeFile(pdf, bytes(1'200'000, 5));
    upload({pdf});
    ASSERT_TRUE(allFinished());
    ASSERT_EQ(desktop.notifications.size(), 1);
    EXPECT_EQ(desktop.notifications[0].title, u"Tải lên hoàn tất");
    EXPECT_EQ(desktop.notifications[0].body, u"Đã tải lên thành công a.pdf (1.2 MB)");
    EXPECT_FALSE(desktop.notifications[0].destinationPath.has_value());

    const QString folder = driveFolder(u"Ảnh"_s, 12, 4000);
    QDir(localDir.path()).mkdir(u"in"_s);
    download({driveFile(folder)}, local(u"in"_s));
    ASSERT_TRUE(allFinished());
    ASSERT_EQ(desktop.notifications.size(), 2);
    EXPECT_EQ(desktop.notifications[1].title, u"Tải xuống hoàn tất");
    EXPECT_EQ(desktop.notifications[1].body, u"Đã tải về thành công Ảnh (12 file · 48 KB)");
    EXPECT_EQ(desktop.notifications[1].destinationPath, local(u"in/Ảnh"_s));
    EXPECT_EQ(localTree(local(u"in/Ảnh"_s)), driveTree(folder));
}

TEST_F(Queue, ATransferRemovedWhileItRunsIsNotUpdatedButStillNotifies)
{
    const QString id = emulator.createFile(account.email, u"gone.bin"_s, bytes(400000, 6));
    throttleMedia(id, 1024 * 1024);
    download({driveFile(id)}, localDir.path());
    const QUuid running = idAt(0);
    ASSERT_TRUE(waitUntil([&] { return transfer(running)->done > 0; }));
    transfers->queue().remove(running);
    ASSERT_TRUE(waitUntil([&] { return desktop.notifications.size() == 1; }));
    EXPECT_EQ(desktop.notifications[0].body.left(27), u"Đã tải về thành công gone.b");
    EXPECT_TRUE(transfers->list().isEmpty());
    EXPECT_EQ(sha256OfFile(local(u"gone.bin"_s)), emulator.contentSha256(id));
}

TEST_F(Queue, OneFileOfFortyFailsTheOthersArriveAndARetryFetchesOnlyThatOne)
{
    const QString folder = driveFolder(u"Forty"_s, 40, 3000);
    const QString broken = fileIds[16];
    FaultRule refuse = FaultRule::respondError(403, u"forbidden"_s, u"Not allowed"_s, u"GET"_s,
                                               u"^/drive/v3/files/"_s + broken + u'$');
    refuse.query = u"alt=media"_s;
    refuse.times = 0;
    const int rule = emulator.addFault(refuse);
    download({driveFile(folder)}, localDir.path());
    ASSERT_TRUE(reaches(idAt(0), State::Failed));
    const QString detail = at(0).detail;
    EXPECT_TRUE(detail.startsWith(u"1/40 file chưa tải được, bấm ↻ để tải nốt. f17.bin: "_s))
        << detail.toStdString();
    EXPECT_FALSE(detail.contains(u" …"_s));
    EXPECT_EQ(localTree(local(u"Forty"_s)).size(), 39);

    emulator.removeFault(rule);
    emulator.clearRequestLog();
    transfers->resumeTransfer(idAt(0));
    ASSERT_TRUE(reaches(idAt(0), State::Done));
    qsizetype media = 0;
    for (const QString &id : fileIds)
        media += mediaRequests(id).size();
    EXPECT_EQ(media, 1);
    EXPECT_EQ(mediaRequests(broken).size(), 1);
    EXPECT_EQ(localTree(local(u"Forty"_s)), driveTree(folder));
}

TEST_F(Queue, ThreeFailuresEndInAnEllipsisAndAOneFileFailureIsJustItsText)
{
    const QString folder = driveFolder(u"Few"_s, 5, 100);
    for (int i : {0, 2, 4}) {
        FaultRule refuse = FaultRule::respondError(403, u"forbidden"_s, u"Not allowed"_s, u"GET"_s,
                                                   u"^/drive/v3/files/"_s + fileIds[i] + u'$');
        refuse.query = u"alt=media"_s;
        refuse.times = 0;
        emulator.addFault(refuse);
    }
    download({driveFile(folder)}, localDir.path());
    ASSERT_TRUE(reaches(idAt(0), State::Failed));
    const QString detail = at(0).detail;
    EXPECT_TRUE(detail.startsWith(u"3/5 file chưa tải được, bấm ↻ để tải nốt. "_s));
    EXPECT_TRUE(detail.endsWith(u" …"_s));
    EXPECT_EQ(detail.count(u" · "_s), 1);

    EXPECT_EQ(WorkerPool::summary({u"a.jpg: X"_s}, 1, true), u"a.jpg: X");
    EXPECT_EQ(WorkerPool::summary({u"a.jpg: X"_s, u"b.png: Y"_s}, 40, true),
              u"2/40 file chưa tải lên được, bấm ↻ để tải nốt. a.jpg: X · b.png: Y");
    EXPECT_EQ(WorkerPool::summary({u"a.jpg: X"_s}, 40, false),
              u"1/40 file chưa tải được, bấm ↻ để tải nốt. a.jpg: X");
}

TEST_F(Queue, WorkersPerTransferFollowTheFileCount)
{
    // Two files: two workers, never three; the sub-rows show both at once.
    const QString two = driveFolder(u"Two"_s, 2, 200000);
    for (const QString &id : fileIds)
        throttleMedia(id, 400 * 1024);
    int most = 0;
    QObject::connect(&transfers->queue(), &TransferQueue::transferChanged, transfers, [&](int row) {
        most = std::max(most, int(transfers->list()[row].filesInFlight.size()));
    });
    download({driveFile(two)}, localDir.path());
    ASSERT_TRUE(reaches(idAt(0), State::Done));
    EXPECT_EQ(most, 2);
    EXPECT_TRUE(at(0).filesInFlight.isEmpty());

    // An empty Drive folder becomes an empty local folder.
    const QString empty = emulator.createFolder(account.email, u"Empty"_s);
    download({driveFile(empty)}, localDir.path());
    ASSERT_TRUE(reaches(idAt(1), State::Done));
    EXPECT_EQ(at(1).total, 0);
    EXPECT_TRUE(QFileInfo(local(u"Empty"_s)).isDir());
}

TEST_F(Queue, AFolderUploadCreatesEachFolderOnceAndAResumeSkipsFinishedFiles)
{
    const QString root = local(u"Tree"_s);
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 8; ++j)
            writeFile(root + u"/d%1/sub/f%2.bin"_s.arg(i).arg(j), bytes(300000, quint64(i * 10 + j)));
        writeFile(root + u"/d%1/top.txt"_s.arg(i), bytes(10, quint64(i)));
    }
    QDir().mkpath(root + u"/empty"_s);
    writeFile(root + u"/.hidden"_s, "secret");
    // Slow the sends so that the pause lands in the middle.
    FaultRule slow = FaultRule::throttle(2 * 1024 * 1024, u"POST"_s, u"^/upload/"_s);
    slow.times = 0;
    const int rule = emulator.addFault(slow);
    upload({root});
    const QUuid id = idAt(0);
    ASSERT_TRUE(waitUntil([&] { return transfer(id)->currentFileIndex >= 6; }));
    transfers->pauseTransfer(id);
    ASSERT_TRUE(waitUntil([&] { return transfers->queue().activeRuns() == 0; }));
    EXPECT_EQ(at(0).state, State::Paused);
    const std::optional<UploadCheckpoint> checkpoint = transfers->queue().checkpoint(id);
    ASSERT_TRUE(checkpoint.has_value());
    EXPECT_EQ(checkpoint->folders.size(), 8); // Tree, d0-d2, their sub folders, empty
    const qsizetype finished = checkpoint->finished.size();
    EXPECT_GE(finished, 5);
    const qsizetype folderCreates = requests(u"POST"_s, u"^/drive/v3/files$"_s).size();
    EXPECT_EQ(folderCreates, 8);

    emulator.removeFault(rule);
    transfers->resumeTransfer(id);
    ASSERT_TRUE(reaches(id, State::Done));
    EXPECT_EQ(requests(u"POST"_s, u"^/drive/v3/files$"_s).size(), folderCreates);
    // Finished files were not sent again: at most the six in flight at the pause were.
    EXPECT_LE(requests(u"POST"_s, u"^/upload/drive/v3/files$"_s).size(), 27 + 6);
    const QString tree = emulator.findChild(emulator.rootFolderId(account.email), u"Tree"_s);
    QMap<QString, QString> expected = localTree(root);
    expected.remove(u".hidden"_s);
    // Files whose whole request reached Drive just as the pause cut it are not made twice.
    EXPECT_EQ(driveTree(tree), expected);
    EXPECT_EQ(at(0).totalFilesCount, 27);
    EXPECT_FALSE(transfers->queue().checkpoint(id).has_value());
}

TEST_F(Queue, AFolderCreateRefusedAmongItsSiblingsFailsTheRunAndARetryMakesEachFolderOnce)
{
    const QString root = local(u"Wide"_s);
    for (int i = 0; i < 8; ++i)
        writeFile(root + u"/s%1/f.txt"_s.arg(i), bytes(100 + i, quint64(i)));
    // The top folder and one sibling go through; the next sibling is refused.
    FaultRule refuse =
        FaultRule::respondError(403, u"forbidden"_s, u"No"_s, u"POST"_s, u"^/drive/v3/files$"_s);
    refuse.skip = 2;
    emulator.addFault(refuse);
    upload({root});
    const QUuid id = idAt(0);
    ASSERT_TRUE(reaches(id, State::Failed));
    EXPECT_TRUE(requests(u"POST"_s, u"^/upload/"_s).isEmpty());

    transfers->resumeTransfer(id);
    ASSERT_TRUE(reaches(id, State::Done));
    // Siblings created beside the refused one were kept: nine folders, one refused attempt.
    EXPECT_EQ(requests(u"POST"_s, u"^/drive/v3/files$"_s).size(), 10);
    const QString wide = emulator.findChild(emulator.rootFolderId(account.email), u"Wide"_s);
    EXPECT_EQ(driveTree(wide), localTree(root));
}

TEST_F(Queue, SmallFilesFollowEachOtherOnThreeWorkersAndAPauseLeavesNoRequestBehind)
{
    // Every answer held back: a worker's next file waits behind its current one, so requests
    // arrive three at a time, never four.
    const QString folder = driveFolder(u"Small"_s, 12, 1000);
    FaultRule hold = FaultRule::delayBy(200ms, u"GET"_s, u"^/drive/v3/files/[^/]+$"_s);
    hold.query = u"alt=media"_s;
    hold.times = 0;
    emulator.addFault(hold);
    download({driveFile(folder)}, localDir.path());
    ASSERT_TRUE(reaches(idAt(0), State::Done));
    EXPECT_EQ(localTree(local(u"Small"_s)), driveTree(folder));
    QList<QDateTime> arrivals;
    for (const QString &id : std::as_const(fileIds)) {
        const QList<Emulator::RequestRecord> asks = mediaRequests(id);
        ASSERT_EQ(asks.size(), 1);
        arrivals.append(asks.first().time);
    }
    std::sort(arrivals.begin(), arrivals.end());
    for (qsizetype i = 0; i + 3 < arrivals.size(); ++i)
        EXPECT_GE(arrivals[i].msecsTo(arrivals[i + 3]), 100) << "a fourth request at once";

    // A pause while every worker has a file waiting behind the one in flight.
    fileIds.clear();
    const QString again = driveFolder(u"Again"_s, 12, 1000);
    download({driveFile(again)}, localDir.path());
    const QUuid second = idAt(1);
    ASSERT_TRUE(waitUntil([&] { return transfer(second)->done >= 3000; }));
    const QDateTime pausedAt = emulator.now();
    transfers->pauseTransfer(second);
    ASSERT_TRUE(waitUntil([&] { return transfers->queue().activeRuns() == 0; }));
    // The answers cut short reach the log when their hold ends. Nothing was asked for after the
    // pause: the files waiting behind those in flight never went out. (A file whose answer had
    // just arrived as the pause came is asked again on resume.)
    QTest::qWait(400);
    int placed = 0;
    for (int i = 1; i <= 12; ++i)
        placed += QFileInfo(local(u"Again/f%1.bin"_s.arg(i, 2, 10, QChar(u'0')))).isFile();
    int asked = 0;
    for (const QString &id : std::as_const(fileIds)) {
        for (const Emulator::RequestRecord &ask : mediaRequests(id)) {
            ++asked;
            EXPECT_LE(ask.time, pausedAt.addMSecs(50)) << "asked for after the pause";
        }
    }
    EXPECT_LT(asked, 12);
    EXPECT_LT(placed, 12);
    transfers->resumeTransfer(second);
    ASSERT_TRUE(reaches(second, State::Done));
    EXPECT_EQ(localTree(local(u"Again"_s)), driveTree(again));
}

TEST_F(Queue, AFolderTreeDownloadListsSeveralFoldersAtOnceAndKeepsEveryPath)
{
    const QString top = emulator.createFolder(account.email, u"Deep"_s);
    QMap<QString, QString> expected;
    for (int i = 0; i < 5; ++i) {
        const QString mid = emulator.createFolder(account.email, u"m%1"_s.arg(i), top);
        expected.insert(u"m%1"_s.arg(i), u"/"_s);
        for (int j = 0; j < 3; ++j) {
            const QString leaf = emulator.createFolder(account.email, u"l%1"_s.arg(j), mid);
            const QString path = u"m%1/l%2"_s.arg(i).arg(j);
            expected.insert(path, u"/"_s);
            const QByteArray content = bytes(50 + i * 3 + j, quint64(i * 3 + j));
            emulator.createFile(account.email, u"x.bin"_s, content, leaf);
            expected.insert(path + u"/x.bin"_s,
                            QString::fromLatin1(QCryptographicHash::hash(content, QCryptographicHash::Sha256).toHex()));
        }
    }
    // Every listing held back: three go out at once, never four.
    FaultRule hold = FaultRule::delayBy(150ms, u"GET"_s, u"^/drive/v3/files$"_s);
    hold.times = 0;
    const int holdRule = emulator.addFault(hold);
    download({driveFile(top)}, localDir.path());
    ASSERT_TRUE(reaches(idAt(0), State::Done));
    EXPECT_EQ(localTree(local(u"Deep"_s)), expected);
    EXPECT_EQ(at(0).totalFilesCount, 15);
    QList<QDateTime> arrivals;
    for (const Emulator::RequestRecord &r : requests(u"GET"_s, u"^/drive/v3/files$"_s))
        arrivals.append(r.time);
    ASSERT_EQ(arrivals.size(), 21);
    std::sort(arrivals.begin(), arrivals.end());
    for (qsizetype i = 0; i + 3 < arrivals.size(); ++i)
        EXPECT_GE(arrivals[i].msecsTo(arrivals[i + 3]), 100) << "a fourth listing at once";
    emulator.removeFault(holdRule);

    // One folder that cannot be listed fails the walk with its own text; the listings beside
    // it end first, and nothing is downloaded.
    const QString broken = emulator.createFolder(account.email, u"Broken"_s);
    QString refused;
    for (int i = 0; i < 6; ++i) {
        const QString sub = emulator.createFolder(account.email, u"s%1"_s.arg(i), broken);
        emulator.createFile(account.email, u"f.bin"_s, bytes(10, quint64(i)), sub);
        if (i == 2)
            refused = sub;
    }
    FaultRule refuse = FaultRule::respondError(404, u"notFound"_s, u"File not found"_s, u"GET"_s,
                                               u"^/drive/v3/files$"_s);
    refuse.query = refused;
    emulator.addFault(refuse);
    download({driveFile(broken)}, localDir.path());
    ASSERT_TRUE(reaches(idAt(1), State::Failed));
    EXPECT_EQ(at(1).detail, u"File hoặc thư mục không còn tồn tại, hoặc phiên tải lên đã hết hạn."_s);
    EXPECT_FALSE(QFileInfo::exists(local(u"Broken/s0/f.bin"_s)));
}

} // namespace

// Rows shift when transfers leave the list; every id must still reach its own row.
TEST_F(Queue, UpdatesFindTheirRowAfterRemovalsShiftTheList)
{
    TransferQueue &queue = transfers->queue();
    QList<QUuid> ids;
    for (int i = 0; i < 8; ++i) {
        Transfer t = Transfer::waiting(u"t%1"_s.arg(i));
        if (i % 3 == 0)
            t.state = State::Done;
        ids.append(t.id);
        queue.append(std::move(t));
    }
    QList<int> changedRows;
    QObject::connect(&queue, &TransferQueue::transferChanged, &queue,
                     [&](int row) { changedRows.append(row); });
    auto touchAll = [&] {
        changedRows.clear();
        for (const QUuid &id : ids)
            queue.update(id, [](Transfer &t) { t.done += 1; });
    };
    auto rowsNow = [&] {
        QList<int> rows;
        for (const QUuid &id : ids) {
            if (queue.find(id))
                rows.append(int(queue.indexOf(id)));
        }
        return rows;
    };
    touchAll();
    EXPECT_EQ(changedRows, QList<int>({0, 1, 2, 3, 4, 5, 6, 7}));

    transfers->cancelTransfer(ids[3]); // done: leaves the list, the rows below move up
    touchAll();
    EXPECT_EQ(changedRows, rowsNow());
    EXPECT_EQ(changedRows, QList<int>({0, 1, 2, 3, 4, 5, 6}));
    transfers->clearFinished(); // t0 and t6 leave too
    touchAll();
    EXPECT_EQ(changedRows, QList<int>({0, 1, 2, 3, 4}));
    // Each remaining transfer took exactly its own three updates, none of another's.
    for (const Transfer &t : queue.transfers())
        EXPECT_EQ(t.done, 3) << t.name.toStdString();
    EXPECT_EQ(queue.find(ids[0]), nullptr);
    EXPECT_EQ(queue.indexOf(ids[6]), -1);
}

// A double click on the row's pause button lands its second click on "Tiếp tục" before the
// paused run has ended: the next run waits for it, and the old run neither takes the new run's
// stop handle nor cleans up after it as if cancelled.
TEST_F(Queue, ResumeBeforeThePausedRunEndsWaitsForItAndKeepsPauseAndPartFiles)
{
    const qint64 size = 3 << 20;
    const QString id = emulator.createFile(account.email, u"twice.bin"_s, bytes(size, 7));
    const int throttle = throttleMedia(id, 1024 * 1024);
    download({driveFile(id)}, localDir.path());
    const QUuid transferId = idAt(0);
    ASSERT_TRUE(waitUntil([&] { return transfer(transferId)->done >= 256 * 1024; }));
    const QString part = LocalNames::partPath(local(u"twice.bin"_s));

    transfers->pauseTransfer(transferId);
    transfers->resumeTransfer(transferId);
    EXPECT_EQ(transfers->queue().activeRuns(), 1); // the paused run is still winding down
    EXPECT_EQ(at(0).state, State::Waiting);
    ASSERT_TRUE(waitUntil([&] { return at(0).state == State::Working && transfer(transferId)->done > 0
                                       && transfers->queue().activeRuns() == 1; }));
    EXPECT_TRUE(QFileInfo::exists(part));
    EXPECT_NE(at(0).detail, u"Đã hủy");

    // Pause still reaches the run that moves the bytes.
    transfers->pauseTransfer(transferId);
    ASSERT_TRUE(waitUntil([&] { return transfers->queue().activeRuns() == 0; }));
    EXPECT_EQ(at(0).state, State::Paused);
    const qint64 kept = QFileInfo(part).size();
    EXPECT_GT(kept, 0);
    QTest::qWait(200);
    EXPECT_EQ(QFileInfo(part).size(), kept);

    emulator.removeFault(throttle);
    transfers->resumeTransfer(transferId);
    ASSERT_TRUE(reaches(transferId, State::Done));
    EXPECT_EQ(sha256OfFile(local(u"twice.bin"_s)), emulator.contentSha256(id));
    EXPECT_EQ(mediaRequests(id).last().header(u"range"_s), u"bytes=%1-"_s.arg(kept));
}

// The same for an upload: the checkpoint survives, so the folders are made once.
TEST_F(Queue, ResumeOfAFolderUploadBeforeItsRunEndsKeepsTheCheckpointAndMakesFoldersOnce)
{
    const QString root = local(u"Album"_s);
    for (int i = 0; i < 12; ++i)
        writeFile(root + u"/d%1/f%2.bin"_s.arg(i % 3).arg(i), bytes(200000, quint64(i)));
    FaultRule slow = FaultRule::throttle(1024 * 1024, u"POST"_s, u"^/upload/"_s);
    slow.times = 0;
    const int rule = emulator.addFault(slow);
    upload({root});
    const QUuid id = idAt(0);
    ASSERT_TRUE(waitUntil([&] { return transfer(id)->currentFileIndex >= 3; }));
    transfers->pauseTransfer(id);
    transfers->resumeTransfer(id);
    ASSERT_TRUE(waitUntil([&] { return at(0).state == State::Working && at(0).total > 0; }));
    ASSERT_TRUE(transfers->queue().checkpoint(id).has_value());
    emulator.removeFault(rule);
    ASSERT_TRUE(reaches(id, State::Done));
    EXPECT_EQ(requests(u"POST"_s, u"^/drive/v3/files$"_s).size(), 4); // Album, d0, d1, d2
    const QString album = emulator.findChild(emulator.rootFolderId(account.email), u"Album"_s);
    EXPECT_EQ(driveTree(album), localTree(root));
}

// A run's sub-rows belong to that run: a resumed run starts with none of the last one's files.
TEST_F(Queue, ARunStartsWithoutTheSubRowsOfTheRunBefore)
{
    const QString folder = driveFolder(u"Rows"_s, 6, 600000);
    for (const QString &file : std::as_const(fileIds))
        throttleMedia(file, 256 * 1024);
    download({driveFile(folder)}, localDir.path());
    const QUuid id = idAt(0);
    ASSERT_TRUE(waitUntil([&] { return transfer(id)->filesInFlight.size() == 3; }));
    transfers->pauseTransfer(id);
    ASSERT_TRUE(waitUntil([&] { return transfers->queue().activeRuns() == 0; }));
    transfers->resumeTransfer(id);
    EXPECT_EQ(at(0).state, State::Working);
    EXPECT_TRUE(at(0).filesInFlight.isEmpty());
    EXPECT_TRUE(at(0).preparing());
    transfers->cancelTransfer(id);
    ASSERT_TRUE(waitUntil([&] { return transfers->queue().activeRuns() == 0; }));
}

// Two drops of one Drive file into one folder: each gets its own name and part file.
TEST_F(Queue, TwoDropsOfOneFileIntoOneFolderGetTheirOwnDestinations)
{
    const QString id = emulator.createFile(account.email, u"clip.bin"_s, bytes(2 << 20, 5));
    const int throttle = throttleMedia(id, 1024 * 1024);
    download({driveFile(id)}, localDir.path());
    download({driveFile(id)}, localDir.path());
    ASSERT_EQ(transfers->list().size(), 2);
    EXPECT_EQ(*at(0).destination, local(u"clip.bin"_s));
    EXPECT_EQ(*at(1).destination, local(u"clip 2.bin"_s));
    emulator.removeFault(throttle);
    ASSERT_TRUE(allFinished());
    EXPECT_EQ(sha256OfFile(local(u"clip.bin"_s)), emulator.contentSha256(id));
    EXPECT_EQ(sha256OfFile(local(u"clip 2.bin"_s)), emulator.contentSha256(id));
}
