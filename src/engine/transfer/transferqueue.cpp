#include "transferqueue.h"

#include "async/async.h"
#include "async/backgroundcall.h"
#include "async/clock.h"
#include "queuesaver.h"
#include "records/byteformat.h"
#include "records/localnames.h"
#include "transfernotifier.h"
#include "transferrun.h"

#include <QDirIterator>
#include <QFile>
#include <QPointer>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace Tarnwick {

TransferQueue::TransferQueue(DriveClient drive, TransferNotifier &notifier,
                             std::function<bool()> signedIn, QObject *parent)
    : RunReporter(parent)
    , m_drive(std::move(drive))
    , m_notifier(notifier)
    , m_signedIn(std::move(signedIn))
    , m_saver(new QueueSaver([this] { return savedForm(); }, this))
{
    connect(this, &TransferQueue::transfersChanged, m_saver, &QueueSaver::scheduleSave);
    // What an upload did on Drive follows off the main thread; one save per file would cost a
    // flush each.
    connect(this, &TransferQueue::checkpointChanged, m_saver, &QueueSaver::saveSoon);
}

TransferQueue::~TransferQueue()
{
    for (RunHandle &handle : m_runs)
        handle.stop.request_stop();
}

const Transfer *TransferQueue::find(const QUuid &id) const
{
    const qsizetype row = indexOf(id);
    return row < 0 ? nullptr : &m_transfers[row];
}

qsizetype TransferQueue::indexOf(const QUuid &id) const
{
    // Progress names the same few transfers hundreds of times a second: their rows are
    // remembered (and checked, since removals shift rows) so a long list is not searched each time.
    if (auto hint = m_rows.constFind(id); hint != m_rows.cend() && *hint < m_transfers.size()
                                          && m_transfers[*hint].id == id)
        return *hint;
    for (qsizetype row = 0; row < m_transfers.size(); ++row) {
        if (m_transfers[row].id == id) {
            m_rows.insert(id, row);
            return row;
        }
    }
    m_rows.remove(id);
    return -1;
}

namespace {
QList<Transfer> inState(const QList<Transfer> &transfers, TransferState state)
{
    QList<Transfer> result;
    std::copy_if(transfers.begin(), transfers.end(), std::back_inserter(result),
                 [state](const Transfer &t) { return t.state == state; });
    return result;
}
} // namespace

QList<Transfer> TransferQueue::runningTransfers() const
{
    return inState(m_transfers, TransferState::Working);
}

QList<Transfer> TransferQueue::queuedTransfers() const
{
    return inState(m_transfers, TransferState::Waiting);
}

QList<Transfer> TransferQueue::pausedTransfers() const
{
    return inState(m_transfers, TransferState::Paused);
}

QList<Transfer> TransferQueue::failedTransfers() const
{
    return inState(m_transfers, TransferState::Failed);
}

void TransferQueue::append(Transfer transfer)
{
    m_transfers.append(std::move(transfer));
    m_rows.insert(m_transfers.last().id, m_transfers.size() - 1);
    emit transferInserted(int(m_transfers.size() - 1));
    emit transfersChanged();
}

void TransferQueue::update(const QUuid &id, const std::function<void(Transfer &)> &change)
{
    const qsizetype row = indexOf(id);
    if (row < 0)
        return;
    change(m_transfers[row]);
    emit transferChanged(int(row));
    emit transfersChanged();
}

void TransferQueue::removeAt(qsizetype row)
{
    m_rows.remove(m_transfers[row].id);
    m_transfers.removeAt(row);
    emit transferRemoved(int(row));
    emit transfersChanged();
}

void TransferQueue::remove(const QUuid &id)
{
    const qsizetype row = indexOf(id);
    if (row >= 0)
        removeAt(row);
}

void TransferQueue::startRuns()
{
    while (!m_held && m_activeRuns < maxRuns) {
        auto next = std::find_if(m_transfers.begin(), m_transfers.end(), [this](const Transfer &t) {
            return t.state == TransferState::Waiting && !m_runs.contains(t.id);
        });
        if (next == m_transfers.end())
            return;
        startRun(next->id);
    }
}

void TransferQueue::startRun(const QUuid &id)
{
    update(id, [](Transfer &t) {
        t.state = TransferState::Working;
        t.started = Clock::current().now();
        t.detail = TransferDetail::preparing();
        t.planning = true;
        // The new run's workers may take other slots: the last run's files are not in
        // flight any more.
        t.filesInFlight.clear();
    });
    ++m_activeRuns;
    detach(runInSlot(id), {});
}

QCoro::Task<> TransferQueue::runInSlot(QUuid id)
{
    QPointer<TransferQueue> self(this);
    co_await run(id);
    if (!self)
        co_return;
    --m_activeRuns;
    // Resumed while this run wound down (a double click on pause): it keeps its slot rather than
    // queueing behind transfers that were waiting all along.
    if (const Transfer *again = find(id); !m_held && again && again->state == TransferState::Waiting)
        startRun(id);
    startRuns();
    // The last run ended: the panes and the quota once, not after every transfer.
    if (m_activeRuns == 0)
        emit allRunsEnded();
}

QCoro::Task<> TransferQueue::run(QUuid id)
{
    const Transfer *found = find(id);
    if (!found)
        co_return;
    const Transfer copy = *found;
    std::stop_source stop;
    m_runs.insert(id, RunHandle{stop});
    QPointer<TransferQueue> self(this);
    // Part files swept for a cancelled or discarded transfer may lie where this run writes.
    while (m_sweeps > 0 && !copy.isUpload() && !stop.stop_requested()) {
        Wakeup swept(stop.get_token());
        swept.on(this, &TransferQueue::sweepsEnded);
        co_await swept;
        if (!self)
            co_return;
    }

    std::exception_ptr error;
    std::optional<TransferRun> work;
    try {
        work.emplace(*this, m_drive, copy, stop.get_token());
        co_await work->perform();
    } catch (...) {
        error = std::current_exception();
    }
    if (!self)
        co_return;
    bool pausing = false;
    if (auto own = m_runs.find(id); own != m_runs.end() && own->stop == stop) {
        pausing = own->pausing;
        m_runs.erase(own);
    }

    if (!error) {
        m_checkpoints.remove(id);
        update(id, [](Transfer &t) {
            t.state = TransferState::Done;
            t.done = t.total;
            t.speed = 0;
            t.detail = TransferDetail::finished();
        });
        // A transfer removed meanwhile still tells the user it arrived, with what its run
        // measured (an upload's size is known only once its run has scanned it).
        const Transfer *now = find(id);
        sendTransferCompleteNotification(now ? *now : work->transfer());
        emit transferCompleted(id);
    } else {
        const Transfer *now = find(id);
        // Paused by the user, and maybe resumed already: part files, checkpoint and progress
        // stay for the next run.
        const bool keep = now
                          && (now->state == TransferState::Paused
                              || (pausing && now->state == TransferState::Waiting));
        if (!keep) {
            bool cancelled = stop.stop_requested();
            QString message;
            std::optional<DriveAPIError> held;
            try {
                std::rethrow_exception(error);
            } catch (const Cancelled &) {
                cancelled = true;
            } catch (const DriveAPIError &e) {
                message = describe(e);
                if (e.stopsWrites())
                    held = e;
            } catch (const std::exception &e) {
                message = describe(e);
            } catch (...) {
                message = u"Đã xảy ra lỗi không rõ nguyên nhân. Hãy thử lại."_s;
            }
            if (held && !cancelled) {
                holdWrites(id, *held);
            } else if (cancelled) {
                // A tree's part files are looked for off the main thread; the slot stays taken
                // until they are gone, so a new run cannot meet them.
                auto removing = runInBackground<void>([copy] { removePartials(copy); });
                co_await removing;
                if (!self)
                    co_return;
                m_checkpoints.remove(id);
                update(id, [](Transfer &t) {
                    t.state = TransferState::Cancelled;
                    t.speed = 0;
                    t.detail = TransferDetail::cancelled();
                });
            } else {
                update(id, [&message](Transfer &t) {
                    t.state = TransferState::Failed;
                    t.speed = 0;
                    t.detail = message;
                });
            }
        }
    }

    emit runEnded(id, !copy.isUpload());
}

void TransferQueue::sendTransferCompleteNotification(const Transfer &transfer)
{
    const bool download = !transfer.isUpload();
    const QString files = transfer.totalFilesCount < 2
                              ? QString()
                              : QString::number(transfer.totalFilesCount) + u" file · "_s;
    const qint64 bytes = transfer.total < 1 ? transfer.done : transfer.total;
    TransferNotification note;
    note.title = download ? u"Tải xuống hoàn tất"_s : u"Tải lên hoàn tất"_s;
    note.body = u"Đã "_s + (download ? u"tải về"_s : u"tải lên"_s) + u" thành công "_s
                + transfer.name + u" ("_s + files + formatByteCount(bytes) + u')';
    note.destinationPath = transfer.destination;
    m_notifier.postNotification(note);
}

void TransferQueue::pauseTransfer(const QUuid &id)
{
    const Transfer *t = find(id);
    if (!t || t->state != TransferState::Working)
        return;
    update(id, [](Transfer &t) {
        t.state = TransferState::Paused;
        t.detail = TransferDetail::paused();
        t.speed = 0;
    });
    if (auto task = m_runs.find(id); task != m_runs.end()) {
        task->pausing = true;
        task->stop.request_stop();
    }
}

void TransferQueue::holdWrites(const QUuid &refused, const DriveAPIError &why)
{
    QList<QUuid> uploads{refused};
    for (const Transfer &t : m_transfers)
        if (t.isUpload() && t.id != refused
            && (t.state == TransferState::Working || t.state == TransferState::Waiting))
            uploads.append(t.id);
    for (const QUuid &id : uploads) {
        if (const Transfer *t = find(id); t && t->state == TransferState::Working && id != refused)
            pauseTransfer(id);
        update(id, [&why](Transfer &t) {
            t.state = TransferState::Paused;
            t.speed = 0;
            t.detail = TransferDetail::paused();
            t.heldBecause = why.message();
            t.limitedUntil = QDateTime();
        });
    }
    if (m_writesHeld)
        return;
    m_writesHeld = true;
    const QString next = why.limit() == DriveAPIError::Limit::StorageFull
                             ? u"Hãy giải phóng dung lượng rồi bấm Tiếp tục."_s
                             : u"Hãy bấm Tiếp tục vào ngày mai."_s;
    emit writesHeld(why.message() + u" Các tác vụ tải lên đã tạm dừng, những file đã tải lên vẫn "
                                    u"được giữ. "_s + next);
}

void TransferQueue::pauseAll()
{
    m_held = true;
    for (const Transfer &t : runningTransfers())
        pauseTransfer(t.id);
}

void TransferQueue::resumeTransfer(const QUuid &id)
{
    const Transfer *t = find(id);
    if (!t || (t->state != TransferState::Paused && t->state != TransferState::Failed))
        return;
    m_restoredIDs.remove(id);
    if (t->isUpload())
        m_writesHeld = false;
    update(id, [](Transfer &t) {
        t.state = TransferState::Waiting;
        t.detail = TransferDetail::requeued();
        t.heldBecause.clear();
    });
    startRuns();
}

void TransferQueue::resumeAllPaused()
{
    const QList<Transfer> paused = pausedTransfers();
    if (m_signedIn()) {
        for (const Transfer &t : paused)
            resumeTransfer(t.id);
        return;
    }
    for (const Transfer &t : paused)
        m_restoredIDs.insert(t.id);
    emit signInNeeded();
}

void TransferQueue::cancelTransfer(const QUuid &id)
{
    const qsizetype row = indexOf(id);
    if (row < 0)
        return;
    const Transfer transfer = m_transfers[row];
    switch (transfer.state) {
    case TransferState::Done:
    case TransferState::Failed:
    case TransferState::Cancelled:
        if (transfer.state == TransferState::Failed)
            sweepPartials({transfer});
        m_checkpoints.remove(id);
        removeAt(row);
        return;
    case TransferState::Working:
        if (auto task = m_runs.find(id); task != m_runs.end()) {
            task->pausing = false;
            task->stop.request_stop();
        }
        return;
    case TransferState::Waiting:
    case TransferState::Paused:
        update(id, [](Transfer &t) {
            t.state = TransferState::Cancelled;
            t.speed = 0;
            t.detail = TransferDetail::cancelled();
        });
        sweepPartials({transfer});
        m_checkpoints.remove(id);
        m_restoredIDs.remove(id);
        return;
    }
}

void TransferQueue::clearFinished()
{
    QList<Transfer> failed;
    for (const Transfer &t : std::as_const(m_transfers)) {
        if (t.state == TransferState::Failed) {
            failed.append(t);
            m_checkpoints.remove(t.id);
        }
    }
    sweepPartials(std::move(failed));
    for (qsizetype row = m_transfers.size() - 1; row >= 0; --row) {
        if (isFinished(m_transfers[row].state))
            removeAt(row);
    }
}

void TransferQueue::sweepPartials(QList<Transfer> transfers)
{
    transfers.removeIf([](const Transfer &t) { return t.isUpload() || !t.destination; });
    if (transfers.isEmpty())
        return;
    ++m_sweeps;
    detach(
        [](QPointer<TransferQueue> self, QList<Transfer> transfers) -> QCoro::Task<> {
            auto removing = runInBackground<void>([transfers] {
                for (const Transfer &t : transfers)
                    removePartials(t);
            });
            co_await removing;
            if (self && --self->m_sweeps == 0)
                emit self->sweepsEnded();
        }(this, std::move(transfers)),
        {});
}

void TransferQueue::removePartials(const Transfer &transfer)
{
    if (transfer.isUpload() || !transfer.destination)
        return;
    const QString destination = *transfer.destination;
    QFile::remove(LocalNames::partPath(destination));
    if (!transfer.remoteFile || !transfer.remoteFile->isFolder())
        return;
    // Only part files below the destination, whose names the program chose itself.
    QDirIterator it(destination, QDir::Files | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (path.endsWith(u".tarnwick-part"_s))
            QFile::remove(path);
    }
}

std::optional<UploadCheckpoint> TransferQueue::checkpoint(const QUuid &id) const
{
    auto found = m_checkpoints.find(id);
    if (found == m_checkpoints.end())
        return std::nullopt;
    return *found;
}

void TransferQueue::changeCheckpoint(const QUuid &id,
                                     const std::function<void(UploadCheckpoint &)> &change)
{
    change(m_checkpoints[id]);
    emit checkpointChanged(id);
}

QCoro::Task<> TransferQueue::checkpointsSaved()
{
    return m_saver->saveWritten();
}

void TransferQueue::removeCheckpoint(const QUuid &id)
{
    if (m_checkpoints.remove(id))
        emit checkpointChanged(id);
}

QList<SavedTransfer> TransferQueue::savedForm() const
{
    QList<SavedTransfer> saved;
    for (const Transfer &t : m_transfers) {
        // A failed transfer is kept too: after a restart ↻ retries it and "Bỏ" takes its part
        // files away, where it would otherwise leave them on the disk for good.
        if (t.state == TransferState::Waiting || t.state == TransferState::Working
            || t.state == TransferState::Paused || t.state == TransferState::Failed)
            saved.append(SavedTransfer::from(t, checkpoint(t.id)));
    }
    if (m_unrestored) {
        for (const SavedTransfer &record : *m_unrestored) {
            const bool inQueue = std::any_of(saved.cbegin(), saved.cend(), [&](const SavedTransfer &s) {
                return s.id == record.id;
            });
            if (!inQueue && !find(record.id))
                saved.append(record);
        }
    }
    return saved;
}

void TransferQueue::leaveSavedQueue()
{
    m_savedQueueElsewhere = true;
    m_unrestored.reset();
    m_saver->setWritable(false);
}

void TransferQueue::holdUnrestored()
{
    if (!m_unrestored && !m_savedQueueElsewhere)
        m_unrestored = TransferStore::load();
}

int TransferQueue::restoreSaved()
{
    if (m_savedQueueElsewhere)
        return 0;
    holdUnrestored();
    const QList<SavedTransfer> saved = *std::exchange(m_unrestored, std::nullopt);
    for (const SavedTransfer &record : saved) {
        // A file edited by hand may name one transfer twice: the first one counts.
        if (find(record.id))
            continue;
        if (record.checkpoint)
            restoreCheckpoint(record.id, *record.checkpoint);
        append(record.restored());
        // A failed one waits for the user's ↻, not for the prompt's "Tiếp tục".
        if (!record.failure)
            m_restoredIDs.insert(record.id);
    }
    return int(m_restoredIDs.size());
}

void TransferQueue::resumeRestored()
{
    if (!m_signedIn()) {
        emit signInNeeded();
        return;
    }
    const QSet<QUuid> restored = std::exchange(m_restoredIDs, {});
    // In list order, so the restored transfers start in the order they had.
    for (const Transfer &t : std::as_const(m_transfers)) {
        if (restored.contains(t.id))
            resumeTransfer(t.id);
    }
}

void TransferQueue::discardRestored()
{
    const QSet<QUuid> restored = std::exchange(m_restoredIDs, {});
    QList<Transfer> discarded;
    for (const QUuid &id : restored) {
        if (const Transfer *t = find(id)) {
            discarded.append(*t);
            removeCheckpoint(id);
            remove(id);
        }
    }
    sweepPartials(std::move(discarded));
}

qint64 TransferQueue::restoredBytesLeft() const
{
    qint64 left = 0;
    for (const Transfer &t : m_transfers) {
        if (m_restoredIDs.contains(t.id))
            left += std::max<qint64>(t.total - t.done, 0);
    }
    return left;
}

} // namespace Tarnwick
