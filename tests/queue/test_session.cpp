// The saved session: what a quit writes, what the next start brings back, the restore prompt's
// answers, and a session file that cannot be read.
#include "queuetesting.h"
#include "support/qtprinters.h"
#include "support/testsupport.h"

#include "async/runsync.h"
#include "drive/decodingerror.h"
#include "records/errors.h"
#include "records/localnames.h"
#include "transfer/savedtransfer.h"
#include "transfer/transferqueue.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QTimeZone>

#include <sys/mount.h>

using namespace Qt::StringLiterals;
using namespace Tarnwick;
using namespace Tarnwick::Testing;
using Emulator::FaultRule;
using State = TransferState;

namespace {

class Session : public QueueTest
{
protected:
    // Quits (saving at once, as the shell does) and starts a new model over the same settings,
    // keychain and session file.
    void restart()
    {
        transfers->saveQueueNow();
        startModel();
    }
    static QByteArray sessionBytes()
    {
        QFile file(TransferStore::fileURL());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
};

TEST_F(Session, AQuitKeepsUnfinishedTransfersAndTheNextStartAsks)
{
    const QString id = emulator.createFile(account.email, u"big.bin"_s, bytes(3 << 20, 1));
    throttleMedia(id, 1 << 20);
    download({driveFile(id)}, localDir.path());
    writeFile(local(u"up.txt"_s), "up");
    // Six slow downloads hold every slot, so the upload waits.
    for (int i = 0; i < 5; ++i) {
        const QString other = emulator.createFile(account.email, u"o%1"_s.arg(i), bytes(2 << 20, 9));
        throttleMedia(other, 1 << 20);
        download({driveFile(other)}, localDir.path());
    }
    transfers->enqueueUploads({local(u"up.txt"_s)});
    ASSERT_EQ(transfers->list().last().state, State::Waiting);
    ASSERT_TRUE(waitUntil([&] { return at(0).done > 0; }));

    restart();
    ASSERT_EQ(transfers->list().size(), 7);
    for (const Transfer &t : transfers->list()) {
        EXPECT_EQ(t.state, State::Paused);
        EXPECT_EQ(t.detail, u"Chưa xong từ lần trước");
    }
    EXPECT_EQ(transfers->restoredPrompt(), 7);
    EXPECT_TRUE(model->showTransfers());
    EXPECT_GT(transfers->restoredBytesLeft(), 0);
    EXPECT_TRUE(transfers->list().last().isUpload());

    // "Tiếp tục": they run again and the download continues from its part file.
    emulator.clearFaults();
    transfers->resumeRestored();
    EXPECT_FALSE(transfers->restoredPrompt().has_value());
    ASSERT_TRUE(allFinished());
    EXPECT_EQ(sha256OfFile(local(u"big.bin"_s)), emulator.contentSha256(id));
    EXPECT_FALSE(mediaRequests(id).last().header(u"range"_s).isEmpty());
    // Nothing unfinished: the file goes within the save delay.
    EXPECT_TRUE(waitUntil([] { return !QFileInfo::exists(TransferStore::fileURL()); }));
}

TEST_F(Session, LaterKeepsThemPausedAndDiscardTakesTheirPartFilesAway)
{
    const QString id = emulator.createFile(account.email, u"part.bin"_s, bytes(2 << 20, 2));
    throttleMedia(id, 1 << 20);
    download({driveFile(id)}, localDir.path());
    ASSERT_TRUE(waitUntil([&] { return at(0).done > 0; }));
    transfers->pauseTransfer(idAt(0));
    ASSERT_TRUE(waitUntil([&] { return transfers->queue().activeRuns() == 0; }));
    const QString part = LocalNames::partPath(local(u"part.bin"_s));
    ASSERT_TRUE(QFileInfo::exists(part));

    restart();
    transfers->postponeRestored();
    EXPECT_FALSE(transfers->restoredPrompt().has_value());
    EXPECT_TRUE(transfers->queue().restoredIDs().isEmpty());
    EXPECT_EQ(at(0).state, State::Paused);

    restart();
    ASSERT_EQ(transfers->restoredPrompt(), 1);
    transfers->discardRestored();
    EXPECT_TRUE(transfers->list().isEmpty());
    EXPECT_TRUE(waitUntil([&] { return !QFileInfo::exists(part); }));
    EXPECT_TRUE(waitUntil([] { return !QFileInfo::exists(TransferStore::fileURL()); }));
}

TEST_F(Session, AutoResumeContinuesAtStartOrAfterTheNextSignIn)
{
    const QString id = emulator.createFile(account.email, u"auto.bin"_s, bytes(1 << 20, 3));
    throttleMedia(id, 256 * 1024);
    download({driveFile(id)}, localDir.path());
    transfers->setAutoResumeTransfers(true);
    EXPECT_TRUE(QSettings().value(u"auto-resume-transfers"_s).toBool());
    restart();
    EXPECT_FALSE(transfers->restoredPrompt().has_value());
    EXPECT_EQ(at(0).state, State::Working);
    emulator.clearFaults();
    ASSERT_TRUE(allFinished());
    EXPECT_EQ(sha256OfFile(local(u"auto.bin"_s)), emulator.contentSha256(id));

    // Signed out: the sign-in screen opens and the resume waits for it.
    transfers->queue().clearFinished();
    const QString later = emulator.createFile(account.email, u"later.bin"_s, bytes(1000, 4));
    throttleMedia(later, 100);
    download({driveFile(later)}, localDir.path());
    transfers->saveQueueNow();
    quit();
    runSync(keychain.remove(KeychainStore::tokensAccount()));
    startModel();
    EXPECT_FALSE(model->connection().connected());
    EXPECT_EQ(at(0).state, State::Paused);
    EXPECT_TRUE(model->showConnection());
    EXPECT_TRUE(transfers->resumeAfterLogin());
}

TEST_F(Session, CheckpointsComeBackSoAResumedFolderUploadMakesNoSecondFolder)
{
    // Sizes far apart, so files finish one by one.
    for (int i = 0; i < 4; ++i)
        writeFile(local(u"Tree/d%1/f.bin"_s.arg(i)), bytes(100000 + i * 400000, quint64(i)));
    FaultRule slow = FaultRule::throttle(400 * 1024, u"POST"_s, u"^/upload/"_s);
    slow.times = 0;
    emulator.addFault(slow);
    upload({local(u"Tree"_s)});
    const QUuid id = idAt(0);
    ASSERT_TRUE(waitUntil([&] {
        const auto checkpoint = transfers->queue().checkpoint(id);
        return checkpoint && !checkpoint->finished.isEmpty();
    })) << at(0).detail.toStdString();
    ASSERT_EQ(at(0).state, State::Working);
    restart();
    const std::optional<UploadCheckpoint> checkpoint = transfers->queue().checkpoint(id);
    ASSERT_TRUE(checkpoint.has_value());
    EXPECT_EQ(checkpoint->folders.size(), 5);
    const qsizetype folders = requests(u"POST"_s, u"^/drive/v3/files$"_s).size();
    emulator.clearFaults();
    transfers->resumeRestored();
    ASSERT_TRUE(allFinished());
    EXPECT_EQ(at(0).state, State::Done);
    EXPECT_EQ(requests(u"POST"_s, u"^/drive/v3/files$"_s).size(), folders);
}

TEST_F(Session, AnUnreadableSessionFileIsKeptAsideAndAFailedTransferComesBackFailed)
{
    quit();
    QDir().mkpath(QFileInfo(TransferStore::fileURL()).path());
    writeFile(TransferStore::fileURL(), "[{\"id\": \"truncated");
    startModel();
    EXPECT_TRUE(transfers->list().isEmpty());
    EXPECT_FALSE(transfers->restoredPrompt().has_value());
    EXPECT_FALSE(QFileInfo::exists(TransferStore::fileURL()));
    QFile aside(TransferStore::fileURL() + u".bad"_s);
    ASSERT_TRUE(aside.open(QIODevice::ReadOnly));
    EXPECT_EQ(aside.readAll(), "[{\"id\": \"truncated");

    const QString id = emulator.createFile(account.email, u"no.bin"_s, bytes(100, 5));
    FaultRule refuse = FaultRule::respondError(403, u"forbidden"_s, u"No"_s, u"GET"_s,
                                               u"^/drive/v3/files/"_s + id + u'$');
    refuse.query = u"alt=media"_s;
    emulator.addFault(refuse);
    download({driveFile(id)}, localDir.path());
    ASSERT_TRUE(reaches(idAt(0), State::Failed));
    const Transfer failed = at(0);
    restart();
    ASSERT_EQ(transfers->list().size(), 1);
    EXPECT_EQ(at(0).id, failed.id);
    EXPECT_EQ(at(0).state, State::Failed);
    EXPECT_EQ(at(0).detail, failed.detail);
    EXPECT_FALSE(transfers->restoredPrompt().has_value());
    // Removed, it is gone from the file too.
    transfers->cancelTransfer(failed.id);
    restart();
    EXPECT_TRUE(transfers->list().isEmpty());
}

TEST_F(Session, ReservedIDsAreOnDiskAtOnceAndLaterCheckpointChangesFollowInOrder)
{
    Transfer t = Transfer::waiting(u"tree"_s);
    t.source = local(u"tree"_s);
    t.parent = u"root"_s;
    t.sourcePath = *t.source;
    const QUuid id = t.id;
    transfers->queue().append(t);
    transfers->queue().changeCheckpoint(
        id, [&](UploadCheckpoint &c) { c.reserved.insert(local(u"tree/a"_s), u"RESERVED1"_s); });
    runSync(transfers->queue().checkpointsSaved());
    EXPECT_TRUE(sessionBytes().contains("RESERVED1"));

    // Finished files go to disk off the main thread, several changes in one save; the file ends
    // with the latest state, whatever order the saves finished in.
    for (int i = 0; i < 40; ++i) {
        transfers->queue().changeCheckpoint(id, [&](UploadCheckpoint &c) {
            c.finished.insert(local(u"tree/f%1"_s.arg(i)));
            c.reserved.remove(local(u"tree/a"_s));
        });
    }
    auto savedCheckpoint = [] {
        const QList<SavedTransfer> saved = TransferStore::load();
        return saved.size() == 1 ? saved.first().checkpoint : std::nullopt;
    };
    ASSERT_TRUE(waitUntil([&] { return savedCheckpoint() == transfers->queue().checkpoint(id); }));
    EXPECT_EQ(savedCheckpoint()->finished.size(), 40);
}

TEST_F(Session, AQuitWhileASaveRunsInTheBackgroundWritesTheLatestQueueAtOnce)
{
    Transfer t = Transfer::waiting(u"quit"_s);
    t.source = local(u"quit"_s);
    t.parent = u"root"_s;
    const QUuid id = t.id;
    transfers->queue().append(t);
    transfers->flushQueueSave();
    ASSERT_TRUE(sessionBytes().contains("quit"));

    // Two changes: one save starts off the main thread, the second would follow it.
    transfers->queue().changeCheckpoint(
        id, [&](UploadCheckpoint &c) { c.finished.insert(local(u"quit/FIRST"_s)); });
    transfers->queue().changeCheckpoint(
        id, [&](UploadCheckpoint &c) { c.finished.insert(local(u"quit/SECOND"_s)); });
    transfers->flushQueueSave();
    EXPECT_TRUE(sessionBytes().contains("SECOND")) << "written before the flush returned";
    EXPECT_FALSE(QFileInfo::exists(TransferStore::fileURL() + u".tmp"_s));
}

TEST_F(Session, AnOlderSnapshotNeverOverwritesANewerFile)
{
    Transfer t = Transfer::waiting(u"old"_s);
    t.source = local(u"old"_s);
    t.parent = u"root"_s;
    const quint64 older = TransferStore::nextSequence();
    const quint64 newer = TransferStore::nextSequence();
    UploadCheckpoint first;
    first.reserved.insert(local(u"old/a"_s), u"OLDER"_s);
    UploadCheckpoint second = first;
    second.reserved.insert(local(u"old/b"_s), u"NEWER"_s);
    TransferStore::save({SavedTransfer::from(t, second)}, newer);
    TransferStore::save({SavedTransfer::from(t, first)}, older);
    EXPECT_TRUE(sessionBytes().contains("NEWER"));
    // A save without a number is the newest of all.
    TransferStore::save({SavedTransfer::from(t, first)});
    EXPECT_FALSE(sessionBytes().contains("NEWER"));

    // The demo runs under its own name: its saves and its discards never reach the user's file.
    const QString users = TransferStore::fileURL();
    QCoreApplication::setApplicationName(u"Tarnwick Demo"_s);
    const QString demos = TransferStore::fileURL();
    TransferStore::save({});
    QCoreApplication::setApplicationName(u"Tarnwick"_s);
    EXPECT_NE(demos, users);
    EXPECT_TRUE(users.endsWith(u"/Tarnwick/transfers.json"_s)) << users.toStdString();
    EXPECT_TRUE(QFileInfo::exists(users));
}

TEST_F(Session, AQuitWritesAWaitingSaveButNeverEmptiesASessionNotYetRestored)
{
    const QString id = emulator.createFile(account.email, u"exit.bin"_s, bytes(1 << 20, 6));
    throttleMedia(id, 256 * 1024);
    download({driveFile(id)}, localDir.path());
    ASSERT_TRUE(waitUntil([&] { return at(0).done > 0; }));
    transfers->pauseTransfer(idAt(0));
    ASSERT_TRUE(waitUntil([&] { return transfers->queue().activeRuns() == 0; }));
    transfers->saveQueueNow();
    ASSERT_TRUE(QFileInfo::exists(TransferStore::fileURL()));

    // Quitting before the model ever read the file leaves it as it is.
    replaceModel();
    transfers->flushQueueSave();
    EXPECT_TRUE(QFileInfo::exists(TransferStore::fileURL()));
    runSync(model->initialize());
    ASSERT_EQ(transfers->restoredPrompt(), 1);

    // A cancel asks for a save 2 seconds on; a quit right after must not leave the old file.
    transfers->discardRestored();
    ASSERT_TRUE(transfers->list().isEmpty());
    transfers->flushQueueSave();
    EXPECT_FALSE(QFileInfo::exists(TransferStore::fileURL()));
}

// The shell saves on quit and on logout, which may come while the start still waits for the
// keyring or a slow local folder: the saved transfers are not in the queue yet and must stay.
TEST_F(Session, AQuitOrCheckpointSaveBeforeTheRestoreKeepsEverySavedTransfer)
{
    const QString id = emulator.createFile(account.email, u"kept.bin"_s, bytes(1 << 20, 8));
    throttleMedia(id, 256 * 1024);
    download({driveFile(id)}, localDir.path());
    ASSERT_TRUE(waitUntil([&] { return at(0).done > 0; }));
    const QUuid saved = idAt(0);
    restart();
    ASSERT_EQ(transfers->restoredPrompt(), 1);

    replaceModel();
    auto starting = model->initialize();
    ASSERT_FALSE(transfers->restoredPrompt().has_value()) << "the start is still under way";
    transfers->saveQueueNow();
    QList<SavedTransfer> onDisk = TransferStore::load();
    ASSERT_EQ(onDisk.size(), 1);
    EXPECT_EQ(onDisk.first().id, saved);
    // A transfer added meanwhile goes in beside the saved one, and a background save keeps both.
    Transfer added = Transfer::waiting(u"added"_s);
    added.source = local(u"added"_s);
    added.parent = u"root"_s;
    transfers->queue().append(added);
    transfers->queue().changeCheckpoint(added.id, [&](UploadCheckpoint &c) {
        c.reserved.insert(local(u"added/x"_s), u"ADDED"_s);
    });
    ASSERT_TRUE(waitUntil([&] { return sessionBytes().contains("ADDED"); }));
    EXPECT_EQ(TransferStore::load().size(), 2);

    runSync(std::move(starting));
    EXPECT_EQ(transfers->restoredPrompt(), 1);
    ASSERT_TRUE(transfers->queue().find(saved));
    EXPECT_EQ(transfers->queue().find(saved)->state, State::Paused);
    // Once restored, the queue is the whole truth again.
    transfers->discardRestored();
    transfers->queue().remove(added.id);
    transfers->saveQueueNow();
    EXPECT_FALSE(QFileInfo::exists(TransferStore::fileURL()));
}

TEST(SavedTransferRecord, EncodesAndDecodesEveryFieldAndRefusesRelativePaths)
{
    UploadCheckpoint checkpoint;
    checkpoint.folders.insert(u"/a"_s, u"F1"_s);
    checkpoint.finished.insert(u"/a/x"_s);
    checkpoint.sessions.insert(u"/a/y"_s, UploadSession{QUrl(u"https://www.googleapis.com/upload/drive/v3/files?upload_id=1"_s), 10,
                                                         QDateTime::fromMSecsSinceEpoch(1700000000123, Qt::UTC)});
    checkpoint.reserved.insert(u"/a/z"_s, u"R1"_s);
    Transfer t = Transfer::waiting(u"a"_s);
    t.source = u"/a"_s;
    t.parent = u"root"_s;
    t.sourcePath = u"/a"_s;
    t.destinationPath = u"/Drive của tôi/a"_s;
    t.state = TransferState::Paused;
    t.done = 5;
    t.total = 9;
    const SavedTransfer saved = SavedTransfer::from(t, checkpoint);
    const QList<SavedTransfer> back = TransferStore::decode(TransferStore::encode({saved}));
    ASSERT_EQ(back.size(), 1);
    EXPECT_EQ(back.first(), saved);
    EXPECT_TRUE(TransferStore::encode({saved}).contains(t.id.toString(QUuid::WithoutBraces).toUpper().toLatin1()));

    QJsonObject relative = saved.toJson();
    relative.insert(u"source"_s, u"../../etc"_s);
    EXPECT_THROW(SavedTransfer::fromJson(relative), DecodingError);
    QJsonObject missing = saved.toJson();
    missing.remove(u"paused"_s);
    EXPECT_THROW(SavedTransfer::fromJson(missing), DecodingError);
}

// A download that fills the disk: it says so in Vietnamese, comes back failed after a restart
// with its part file, ↻ finishes it from there once room is made, and "Bỏ" takes the part file
// away. Asked for again, the same item takes its stamped part file over instead of a new name.
TEST_F(Session, ADownloadThatFillsTheDiskComesBackFailedForRetryOrDiscard)
{
    const QString small = local(u"nho"_s);
    QDir().mkpath(small);
    if (::mount("tmpfs", QFile::encodeName(small).constData(), "tmpfs", 0, "size=2097152") != 0)
        GTEST_SKIP() << "mounting a small tmpfs needs root";
    struct Unmount
    {
        QString at;
        ~Unmount() { ::umount2(QFile::encodeName(at).constData(), MNT_DETACH); }
    } unmount{small};

    const QString id = emulator.createFile(account.email, u"phim.mkv"_s, bytes(3 << 20, 31));
    const QString target = small + u"/phim.mkv"_s;
    const QString part = LocalNames::partPath(target);
    download({driveFile(id)}, small);
    ASSERT_TRUE(reaches(idAt(0), State::Failed));
    EXPECT_EQ(at(0).detail, u"phim.mkv: "_s + SystemError::fullDiskMessage());
    ASSERT_TRUE(QFileInfo(part).size() > 0);

    // Back after a restart, failed, with no prompt: nothing in it resumes by itself.
    restart();
    ASSERT_EQ(transfers->list().size(), 1);
    EXPECT_EQ(at(0).state, State::Failed);
    EXPECT_EQ(at(0).detail, u"phim.mkv: "_s + SystemError::fullDiskMessage());
    EXPECT_FALSE(transfers->restoredPrompt().has_value());

    // Room is made; ↻ goes on from the part file.
    ASSERT_EQ(::mount("tmpfs", QFile::encodeName(small).constData(), "tmpfs", MS_REMOUNT,
                      "size=8388608"), 0);
    const qint64 kept = QFileInfo(part).size();
    transfers->resumeTransfer(idAt(0));
    ASSERT_TRUE(reaches(idAt(0), State::Done));
    EXPECT_EQ(sha256OfFile(target), emulator.contentSha256(id));
    EXPECT_EQ(mediaRequests(id).last().header(u"range"_s), u"bytes=%1-"_s.arg(kept));
    transfers->clearFinished();
    QFile::remove(target);

    // Full again: "Bỏ" after a restart takes the part file away.
    ASSERT_EQ(::mount("tmpfs", QFile::encodeName(small).constData(), "tmpfs", MS_REMOUNT,
                      "size=2097152"), 0);
    download({driveFile(id)}, small);
    ASSERT_TRUE(reaches(idAt(0), State::Failed));
    restart();
    ASSERT_TRUE(QFileInfo::exists(part));
    transfers->cancelTransfer(idAt(0));
    EXPECT_TRUE(transfers->list().isEmpty());
    EXPECT_TRUE(waitUntil([&] { return !QFileInfo::exists(part); }));

    // Full once more: asked for again, the item lands under its own name, from its part file, and
    // the failed row gives way to the new one.
    download({driveFile(id)}, small);
    ASSERT_TRUE(reaches(idAt(0), State::Failed));
    ASSERT_EQ(::mount("tmpfs", QFile::encodeName(small).constData(), "tmpfs", MS_REMOUNT,
                      "size=8388608"), 0);
    const qint64 again = QFileInfo(part).size();
    download({driveFile(id)}, small);
    ASSERT_EQ(transfers->list().size(), 1);
    EXPECT_EQ(at(0).destination, target);
    ASSERT_TRUE(reaches(idAt(0), State::Done));
    EXPECT_EQ(sha256OfFile(target), emulator.contentSha256(id));
    EXPECT_FALSE(QFileInfo::exists(small + u"/phim 2.mkv"_s));
    EXPECT_EQ(mediaRequests(id).last().header(u"range"_s), u"bytes=%1-"_s.arg(again));
}

} // namespace
