#pragma once

#include "drive/driveclient.h"

#include <QCoroTask>
#include <QHash>
#include <QString>
#include <QStringList>
#include <QUuid>

#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <stop_token>

namespace Tarnwick {

class RunReporter;
class SpeedTracker;

// One file of a planned transfer, as the pool and the queue panel see it.
struct PoolFile
{
    QString name;
    qint64 bytes = 0;
    QString sourcePath;
    QString destinationPath;
};

// What one direction does with the files of its plan; the pool does the rest.
class PoolPlan
{
public:
    virtual ~PoolPlan() = default;
    virtual int count() const = 0;
    virtual PoolFile file(int index) const = 0;
    // The detail text when the file is already done and is skipped; nothing to move it. An error
    // thrown here ends the run (it is not a failure of this one file).
    virtual std::optional<QString> skip(int index) = 0;
    // Moves the file for worker `worker`, reporting the bytes of this file done so far.
    virtual QCoro::Task<> move(int index, int worker, DriveClient::Progress progress,
                               std::stop_token stop) = 0;
    // True when a worker may start its next file while the file `index` moves: the plan keeps
    // the two from using the network at once (a download sends the next request on the
    // worker's lane, behind the current one), so the next starts the moment the current ends.
    // A worker only starts ahead when no other worker is free to take the file.
    virtual bool movesAhead(int /*index*/) const { return false; }
    // True when a moved file still has a last step that waits on the disk, not the network (a
    // download's flush and rename): finish() runs it while the worker moves the next file, and
    // the file counts as done when it ends. It is not cancelled by a stop: it ends quickly.
    virtual bool finishesLater() const { return false; }
    virtual QCoro::Task<> finish(int index);
};

// The workers of one run: up to `workers` files move at once, each worker taking the next file
// of the plan. Files already done are skipped; a file that fails is recorded and the others go
// on; the failures end the run with one summary. Progress of all files adds up in the
// transfer's `done`, one speed figure for the whole transfer, and one sub-row per file in flight.
//
// Workers run on the main thread and interleave only while they wait, so the counters need no
// lock. A stop (pause, cancel) or a worker's unexpected error stops all workers.
class WorkerPool final
{
public:
    WorkerPool(RunReporter &reporter, QUuid transfer, PoolPlan &plan, bool isUpload, int totalFiles,
               SpeedTracker &tracker);
    WorkerPool(const WorkerPool &) = delete;
    WorkerPool &operator=(const WorkerPool &) = delete;

    // Runs every file; throws the failure summary (TarnwickError), Cancelled, or the first
    // error that ends the run.
    QCoro::Task<> run(int workers, std::stop_token stop);

    // The summary of per-file failures: the one text when a one-file transfer failed, else
    // "k/N file chưa tải … được, bấm ↻ để tải nốt. " and the first two texts.
    static QString summary(const QStringList &failures, int totalFiles, bool isUpload);

private:
    QCoro::Task<> worker(int id, std::stop_token stop);
    QCoro::Task<> moveFiles(int id, std::stop_token stop);
    // The next file to move, counting the ones already done on the way.
    std::optional<int> nextFile(std::stop_token stop);
    // The file becomes the worker's current one in the queue panel.
    void announce(int id, int index, const PoolFile &file);
    // Moves one file; its error, if any.
    struct MoveOutcome
    {
        std::exception_ptr error;
    };
    QCoro::Task<MoveOutcome> moveFile(int id, int index, std::stop_token stop);
    // Waits for the worker's oldest files still finishing until no more than `files` of no more
    // than `bytes` in all are left.
    QCoro::Task<> waitForFinishing(int id, std::size_t files, qint64 bytes);
    // The last step of a moved file, then its count as done or as failed.
    QCoro::Task<> finishFile(int index, PoolFile file, std::stop_token stop);
    qint64 currentTotalDone() const;
    void fileBytes(int worker, int index, qint64 bytes);

    RunReporter &m_reporter;
    QUuid m_transfer;
    PoolPlan &m_plan;
    bool m_isUpload;
    int m_totalFiles;
    SpeedTracker &m_tracker;

    int m_nextIndex = 0;
    int m_workers = 0;
    int m_busyWorkers = 0;
    int m_completedFiles = 0;
    qint64 m_completedBytes = 0;
    // Bytes done of each file on the move, by index; each worker's current file.
    QHash<int, qint64> m_inFlight;
    QHash<int, int> m_current;
    // Each worker's file on the move, and the one it started ahead.
    std::map<int, QCoro::Task<MoveOutcome>> m_moving;
    std::map<int, QCoro::Task<MoveOutcome>> m_ahead;
    // Moved files whose last step runs, a few at most per worker, oldest first, and their bytes.
    struct Finishing
    {
        QCoro::Task<> task;
        qint64 bytes = 0;
    };
    std::map<int, std::deque<Finishing>> m_finishing;
    qint64 m_finishingBytes = 0;
    QStringList m_failures;
    // Google refused a write for good: no new file starts.
    std::exception_ptr m_held;
    // Progress reports already posted may arrive after a stop, or after the pool is gone.
    std::shared_ptr<int> m_alive = std::make_shared<int>(0);
};

} // namespace Tarnwick
