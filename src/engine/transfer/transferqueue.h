#pragma once

#include "drive/driveclient.h"
#include "runreporter.h"
#include "savedtransfer.h"
#include "drive/driveapierror.h"
#include "transfer.h"
#include "uploadcheckpoint.h"

#include <QCoroTask>
#include <QHash>
#include <QList>
#include <QObject>
#include <QSet>
#include <QUuid>

// moc cannot parse the standard library's concepts, which <stop_token> pulls in first.
#ifndef Q_MOC_RUN
#include <stop_token>
#endif

#include <functional>
#include <optional>

namespace Tarnwick {

class QueueSaver;
class TransferNotifier;

// The transfer queue: the list of transfers and the engine that runs them.
//
// At most six transfers run at once, picked in list order; each run (TransferRun) plans its
// transfer and moves the files with a worker pool, and its outcome becomes done, failed,
// cancelled, or nothing when the user paused it. When a run ends the next waiting transfer starts
// at once; runEnded and allRunsEnded tell whoever shows the files that they changed.
//
// Every change goes through update() and is announced for its row alone (transferChanged), so
// progress from dozens of workers never resets a view. Every change is saved (QueueSaver), so
// what is unfinished comes back at the next start. Main thread only.
class TransferQueue final : public RunReporter
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TransferQueue)

public:
    static constexpr int maxRuns = 6;

    // drive is the client every run copies; notifier is not owned and outlives the queue;
    // signedIn tells whether paused transfers may resume now.
    TransferQueue(DriveClient drive, TransferNotifier &notifier, std::function<bool()> signedIn,
                  QObject *parent = nullptr);
    // Stops every run; their coroutines end on their own without touching the queue again.
    ~TransferQueue() override;

    const DriveClient &drive() const { return m_drive; }
    QueueSaver &saver() const { return *m_saver; }

    const QList<Transfer> &transfers() const { return m_transfers; }
    // The transfer with id, or nullptr.
    const Transfer *find(const QUuid &id) const;
    qsizetype indexOf(const QUuid &id) const;
    int activeRuns() const { return m_activeRuns; }
    // Transfers in working, waiting and paused state, in list order.
    QList<Transfer> runningTransfers() const;
    QList<Transfer> queuedTransfers() const;
    QList<Transfer> pausedTransfers() const;
    QList<Transfer> failedTransfers() const;

    // Appends a transfer as it is (the enqueue operations build it). Does not start it.
    void append(Transfer transfer);
    // Finds the transfer and applies change to it in place, announcing its row; a transfer no
    // longer in the list is silently not changed.
    void update(const QUuid &id, const std::function<void(Transfer &)> &change) override;

    // Takes the transfer off the list whatever its state. A running one goes on to its end
    // without being shown any more; a success still posts its notification.
    void remove(const QUuid &id);

    // Starts runs for waiting transfers, in list order, while fewer than maxRuns run.
    void startRuns();

    // The user's commands.
    void pauseTransfer(const QUuid &id);
    // Pauses every running transfer and starts no other: for a process about to end, whose
    // waiting transfers stay in the saved queue for its next start.
    void pauseAll();
    // Resume and retry: a paused or failed transfer goes back to waiting in place.
    void resumeTransfer(const QUuid &id);
    // Paused transfers resume when signed in; otherwise they wait for the next sign-in
    // (signInNeeded).
    void resumeAllPaused();
    void cancelTransfer(const QUuid &id);
    void clearFinished();
    // Deletes the download part files a transfer left behind; errors are ignored. Any thread.
    static void removePartials(const Transfer &transfer);
    // The same off the main thread; a download run starts only once the sweeps asked before it
    // have ended, so a sweep never meets the part files of a new run.
    void sweepPartials(QList<Transfer> transfers);
    // Sweeps asked and not ended yet.
    int pendingSweeps() const { return m_sweeps; }

    // Upload checkpoints: what an upload has done on Drive, kept across pauses and retries.
    std::optional<UploadCheckpoint> checkpoint(const QUuid &id) const override;
    void changeCheckpoint(const QUuid &id,
                          const std::function<void(UploadCheckpoint &)> &change) override;
    QCoro::Task<> checkpointsSaved() override;
    void removeCheckpoint(const QUuid &id);
    // Puts back a checkpoint read from the saved session, without announcing it.
    void restoreCheckpoint(const QUuid &id, UploadCheckpoint checkpoint)
    {
        m_checkpoints.insert(id, std::move(checkpoint));
    }
    const QHash<QUuid, UploadCheckpoint> &checkpoints() const { return m_checkpoints; }

    // Transfers that came back from the last session and were neither resumed nor discarded.
    const QSet<QUuid> &restoredIDs() const { return m_restoredIDs; }
    void setRestoredIDs(QSet<QUuid> ids) { m_restoredIDs = std::move(ids); }

    // The saved queue: what is unfinished comes back at the next start.
    // Reads the saved queue ahead of its restore, so saves made meanwhile keep it.
    void holdUnrestored();
    // Puts the saved transfers back in the list: paused, or failed with their message. Returns
    // how many wait to be resumed (the failed ones wait for a retry instead).
    int restoreSaved();
    // Resumes the restored transfers in list order, or, when signed out, holds them for the
    // next sign-in (signInNeeded).
    void resumeRestored();
    // The restored transfers, their part files and checkpoints go.
    void discardRestored();
    // Bytes the restored transfers still have to move.
    qint64 restoredBytesLeft() const;
    // The list as the saved queue holds it, with the saved transfers not restored yet.
    QList<SavedTransfer> savedForm() const;
    // Another process runs the saved queue (QueueLock): this queue neither restores it nor
    // writes it, so the two never run the same transfer or overwrite each other's file.
    void leaveSavedQueue();

signals:
    void transferInserted(int row);
    void transferChanged(int row);
    void transferRemoved(int row);
    // Any change of the list or of a transfer (a session save is scheduled on it).
    void transfersChanged();
    // A checkpoint changed: saved soon off the main thread. A crash may lose the last finished
    // files and folders, which a retry finds again through their reserved IDs.
    void checkpointChanged(const QUuid &id);
    // A transfer ended well; the notification was posted.
    void transferCompleted(const QUuid &id);
    // Google refused a write for good (a full Drive, the day's upload cap): every upload is
    // paused with its checkpoint. Said once until the user resumes one.
    void writesHeld(const QString &message);
    // A run ended, whatever its outcome (a download's folder may have changed).
    void runEnded(const QUuid &id, bool download);
    // The last running transfer ended: nothing runs or waits to start.
    void allRunsEnded();
    // Paused transfers wait for a sign-in before they resume.
    void signInNeeded();
    // Every sweep of part files asked so far has ended.
    void sweepsEnded();

private:
    // Pauses every upload, the one refused included, and says why once.
    void holdWrites(const QUuid &refused, const DriveAPIError &why);
    // Starts a run for the waiting transfer id in a free slot.
    void startRun(const QUuid &id);
    QCoro::Task<> runInSlot(QUuid id);
    QCoro::Task<> run(QUuid id);
    void removeAt(qsizetype row);
    void sendTransferCompleteNotification(const Transfer &transfer);

    DriveClient m_drive;
    TransferNotifier &m_notifier;
    std::function<bool()> m_signedIn;
    QueueSaver *m_saver; // a child
    QList<Transfer> m_transfers;
    mutable QHash<QUuid, qsizetype> m_rows; // row hints for indexOf, verified before use
    int m_activeRuns = 0;
    int m_sweeps = 0;
    // Writes are held and the user was told; a resume asks again.
    bool m_writesHeld = false;
    bool m_held = false; // pauseAll: nothing starts any more
    // One entry per run in flight, removed by that run alone when it ends. A transfer resumed
    // while its last run still winds down waits for that end before it starts again.
    struct RunHandle
    {
        std::stop_source stop;
        bool pausing = false; // stopped by a pause: what it did stays for the resume
    };
    QHash<QUuid, RunHandle> m_runs;
    QHash<QUuid, UploadCheckpoint> m_checkpoints;
    QSet<QUuid> m_restoredIDs;
    // From holdUnrestored() until restoreSaved(): the saved transfers not yet back in the list,
    // kept by every save so a quit before the restore loses none of them.
    std::optional<QList<SavedTransfer>> m_unrestored;
    bool m_savedQueueElsewhere = false;
};

} // namespace Tarnwick
