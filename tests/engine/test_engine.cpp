// The transfer queue without a window or a model: what it announces by signal, what it asks of
// its notifier, how it holds still for an ending process, and the enqueue rules beside it.

#include "drivetesting.h"

#include "async/async.h"
#include "transfer/enqueue.h"
#include "transfer/queuesaver.h"
#include "transfer/savedtransfer.h"
#include "transfer/transferqueue.h"
#include "transfer/transfernotifier.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>

using namespace Qt::StringLiterals;
using namespace Tarnwick;
using namespace std::chrono_literals;

namespace {

class RecordingNotifier final : public TransferNotifier
{
public:
    void postNotification(const TransferNotification &notification) override
    {
        posted.append(notification);
    }
    QList<TransferNotification> posted;
};

QCoro::Task<bool> answerWith(bool into)
{
    co_return into;
}

QCoro::Task<> untilIdle(TransferQueue *queue)
{
    while (queue->activeRuns() > 0) {
        Wakeup wakeup({});
        wakeup.on(queue, &TransferQueue::allRunsEnded);
        co_await wakeup;
    }
}

void writeFile(const QString &path, qint64 size)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(size, 'e'));
}

class EngineTest : public Testing::DriveClientTest
{
protected:
    TransferQueue &queue()
    {
        if (!m_queue)
            m_queue = std::make_unique<TransferQueue>(client, notifier, [this] { return signedIn; });
        return *m_queue;
    }

    QTemporaryDir dir;
    RecordingNotifier notifier;
    bool signedIn = true;
    std::unique_ptr<TransferQueue> m_queue;
};

TEST_F(EngineTest, RunsAnnounceTheirEndsAndTheLastOneOnce)
{
    writeFile(dir.filePath(u"cây/a.bin"_s), 3000);
    writeFile(dir.filePath(u"cây/con/b.bin"_s), 4000);
    writeFile(dir.filePath(u"một.bin"_s), 10);
    TransferQueue &q = queue();
    QSignalSpy ended(&q, &TransferQueue::runEnded);
    QSignalSpy allEnded(&q, &TransferQueue::allRunsEnded);
    for (const Transfer &t : Enqueue::uploads({dir.filePath(u"cây"_s), dir.filePath(u"một.bin"_s)},
                                               u"root"_s, u"/Drive của tôi"_s))
        q.append(t);
    q.startRuns();
    runSync(untilIdle(&q));

    ASSERT_EQ(ended.size(), 2);
    EXPECT_FALSE(ended[0][1].toBool()) << "an upload is no download";
    EXPECT_EQ(allEnded.size(), 1);
    ASSERT_EQ(notifier.posted.size(), 2);
    QStringList bodies;
    for (const TransferNotification &n : std::as_const(notifier.posted)) {
        EXPECT_EQ(n.title, u"Tải lên hoàn tất"_s);
        bodies.append(n.body);
    }
    bodies.sort();
    EXPECT_EQ(bodies, (QStringList{u"Đã tải lên thành công cây (2 file · 7 KB)"_s,
                                   u"Đã tải lên thành công một.bin (10 byte)"_s}));
    for (const Transfer &t : q.transfers())
        EXPECT_EQ(t.state, TransferState::Done) << qPrintable(t.detail);
}

TEST_F(EngineTest, SignedOutResumesWaitForASignIn)
{
    signedIn = false;
    TransferQueue &q = queue();
    Transfer paused = Transfer::waiting(u"x"_s);
    paused.source = dir.filePath(u"x"_s);
    paused.state = TransferState::Paused;
    q.append(paused);
    QSignalSpy needed(&q, &TransferQueue::signInNeeded);
    q.resumeAllPaused();
    EXPECT_EQ(needed.size(), 1);
    EXPECT_TRUE(q.restoredIDs().contains(paused.id));
    q.resumeRestored();
    EXPECT_EQ(needed.size(), 2);
    EXPECT_EQ(q.find(paused.id)->state, TransferState::Paused) << "nothing starts signed out";
    EXPECT_EQ(q.activeRuns(), 0);
}

TEST_F(EngineTest, PauseAllStopsTheRunsAndStartsNoOther)
{
    emulator.addFault(Emulator::FaultRule::delayBy(300ms, {}, u"^/upload/"_s));
    TransferQueue &q = queue();
    QStringList paths;
    for (int i = 0; i < TransferQueue::maxRuns + 2; ++i) {
        paths.append(dir.filePath(u"tệp %1.bin"_s.arg(i)));
        writeFile(paths.last(), 1000);
    }
    for (const Transfer &t : Enqueue::uploads(paths, u"root"_s, u"/Drive của tôi"_s))
        q.append(t);
    q.startRuns();
    EXPECT_EQ(q.activeRuns(), TransferQueue::maxRuns);
    q.pauseAll();
    runSync(untilIdle(&q));
    EXPECT_EQ(q.pausedTransfers().size(), TransferQueue::maxRuns);
    EXPECT_EQ(q.queuedTransfers().size(), 2) << "waiting ones stay waiting for the saved queue";
    q.startRuns();
    EXPECT_EQ(q.activeRuns(), 0);
    EXPECT_TRUE(notifier.posted.isEmpty());
}

TEST_F(EngineTest, AQueueThatLeavesTheSavedQueueNeitherRestoresNorWritesIt)
{
    Transfer saved = Transfer::waiting(u"của tiến trình khác"_s);
    saved.source = dir.filePath(u"x"_s);
    TransferStore::save({SavedTransfer::from(saved, std::nullopt)});
    const QByteArray before = [] {
        QFile file(TransferStore::fileURL());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }();
    ASSERT_FALSE(before.isEmpty());

    TransferQueue &q = queue();
    q.leaveSavedQueue();
    EXPECT_EQ(q.restoreSaved(), 0);
    EXPECT_TRUE(q.transfers().isEmpty());
    Transfer mine = Transfer::waiting(u"của cửa sổ"_s);
    mine.source = dir.filePath(u"y"_s);
    mine.state = TransferState::Paused;
    q.append(mine);
    q.saver().saveNow();
    q.saver().flush();
    QFile file(TransferStore::fileURL());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), before);
    TransferStore::save({});
}

TEST(Enqueue, UploadsTakeAbsolutePathsOnceInNameOrder)
{
    const QList<Transfer> made = Enqueue::uploads(
        {u"/b/y"_s, u"relative"_s, u"/a/x/"_s, u"/b//y"_s}, u"F1"_s, u"/Drive của tôi/Đích"_s);
    ASSERT_EQ(made.size(), 2);
    EXPECT_EQ(made[0].source, u"/a/x"_s);
    EXPECT_EQ(made[0].destinationPath, u"/Drive của tôi/Đích/x"_s);
    EXPECT_EQ(made[1].source, u"/b/y"_s);
    EXPECT_EQ(made[1].parent, u"F1"_s);
    EXPECT_EQ(made[1].detail, TransferDetail::queued());
}

TEST_F(EngineTest, DownloadDestinationsAvoidTakenNamesAndAskBeforeAnExistingFolder)
{
    TransferQueue &q = queue();
    const QString folder = dir.path();
    writeFile(folder + u"/báo cáo.pdf"_s, 5);
    QDir().mkpath(folder + u"/Ảnh"_s);
    DriveFile report(u"f1"_s, u"báo cáo.pdf"_s, u"application/pdf"_s);
    DriveFile photos(u"d1"_s, u"Ảnh"_s, QString(DriveFile::folderMimeType));

    // A queued download's name is taken too, though nothing is on the disk yet.
    DriveFile other(u"f2"_s, u"khác.txt"_s, u"text/plain"_s);
    q.append(Enqueue::download(other, folder + u"/khác.txt"_s, {}));
    QSet<QString> reserved = Enqueue::takenNames(q, folder);
    EXPECT_EQ(reserved, QSet<QString>{u"khác.txt"_s});

    QStringList asked;
    auto answer = [&asked](bool into) {
        return [&asked, into](QString name) {
            asked.append(name);
            return answerWith(into);
        };
    };
    EXPECT_EQ(runSync(Enqueue::destination(&q, report, folder, &reserved, answer(true))),
              folder + u"/báo cáo 2.pdf"_s);
    EXPECT_EQ(runSync(Enqueue::destination(&q, other, folder, &reserved, answer(true))),
              folder + u"/khác 2.txt"_s);
    EXPECT_EQ(runSync(Enqueue::destination(&q, photos, folder, &reserved, answer(false))),
              folder + u"/Ảnh 2"_s);
    EXPECT_EQ(runSync(Enqueue::destination(&q, photos, folder, &reserved, answer(true))),
              folder + u"/Ảnh"_s);
    EXPECT_EQ(asked, (QStringList{u"Ảnh"_s, u"Ảnh"_s}));
}

} // namespace
