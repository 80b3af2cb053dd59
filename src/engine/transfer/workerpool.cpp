#include "workerpool.h"

#include "async/clock.h"
#include "async/taskgroup.h"
#include "records/speedtracker.h"
#include "runreporter.h"

#include <QScopeGuard>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace Tarnwick {

namespace {
// Files a worker may leave finishing while it moves the next ones: enough for the last steps to
// run in large batches (a journalling file system commits a batch's flushes together), few
// enough bytes that the disk still sets the pace.
constexpr std::size_t finishingFiles = 32;
constexpr qint64 finishingBytes = 64 << 20;
} // namespace

QCoro::Task<> PoolPlan::finish(int)
{
    co_return;
}

WorkerPool::WorkerPool(RunReporter &reporter, QUuid transfer, PoolPlan &plan, bool isUpload,
                       int totalFiles, SpeedTracker &tracker)
    : m_reporter(reporter)
    , m_transfer(transfer)
    , m_plan(plan)
    , m_isUpload(isUpload)
    , m_totalFiles(totalFiles)
    , m_tracker(tracker)
{
}

QCoro::Task<> WorkerPool::run(int workers, std::stop_token stop)
{
    TaskGroup group(stop);
    m_workers = workers;
    for (int id = 0; id < workers; ++id)
        group.spawn([this, id](std::stop_token token) { return worker(id, token); });
    co_await group.join();
    if (m_held)
        std::rethrow_exception(m_held);
    if (!m_failures.isEmpty())
        throw TarnwickError(summary(m_failures, m_totalFiles, m_isUpload));
}

QString WorkerPool::summary(const QStringList &failures, int totalFiles, bool isUpload)
{
    if (failures.size() == 1 && totalFiles == 1)
        return failures.first();
    const QString text = isUpload ? u" file chưa tải lên được, bấm ↻ để tải nốt. "_s
                                  : u" file chưa tải được, bấm ↻ để tải nốt. "_s;
    QString message = QString::number(failures.size()) + u'/' + QString::number(totalFiles) + text +
                      failures.mid(0, 2).join(u" · "_s);
    if (failures.size() >= 3)
        message += u" …"_s;
    return message;
}

qint64 WorkerPool::currentTotalDone() const
{
    qint64 done = m_completedBytes + m_finishingBytes;
    for (qint64 bytes : m_inFlight)
        done += bytes;
    return done;
}

void WorkerPool::fileBytes(int worker, int index, qint64 bytes)
{
    // A request starts by reporting where it starts: nothing new for a file that had not begun.
    const auto known = m_inFlight.constFind(index);
    if (known != m_inFlight.constEnd() && *known == bytes)
        return;
    m_inFlight[index] = bytes;
    const qint64 done = currentTotalDone();
    const double speed = m_tracker.update(done, Clock::current().now());
    // A file started ahead counts in the total before its row shows.
    const bool shown = m_current.value(worker, -1) == index;
    m_reporter.update(m_transfer, [&](Transfer &t) {
        t.done = done;
        t.speed = speed;
        if (shown)
            t.fileProgress(worker, bytes, speed);
    });
}

QCoro::Task<> WorkerPool::worker(int id, std::stop_token stop)
{
    std::exception_ptr ending;
    try {
        auto moving = moveFiles(id, stop);
        co_await moving;
    } catch (...) {
        ending = std::current_exception();
    }
    // A file still on the move ends before its worker: the run stops when the worker ends.
    for (auto *tasks : {&m_moving, &m_ahead}) {
        if (auto left = tasks->extract(id)) {
            QCoro::Task<WorkerPool::MoveOutcome> moving = std::move(left.mapped());
            co_await moving;
        }
    }
    // The worker's last file is in place before the worker ends: a cancel that follows removes
    // part files and must not race its rename.
    auto finishing = waitForFinishing(id, 0, 0);
    co_await finishing;
    if (ending)
        std::rethrow_exception(ending);
}

QCoro::Task<> WorkerPool::waitForFinishing(int id, std::size_t files, qint64 bytes)
{
    for (;;) {
        const auto pending = m_finishing.find(id);
        if (pending == m_finishing.end() || pending->second.empty())
            co_return;
        qint64 left = 0;
        for (const Finishing &f : pending->second)
            left += f.bytes;
        if (pending->second.size() <= files && left <= bytes)
            co_return;
        QCoro::Task<> finishing = std::move(pending->second.front().task);
        pending->second.pop_front();
        co_await finishing;
    }
}

QCoro::Task<> WorkerPool::finishFile(int index, PoolFile file, std::stop_token stop)
{
    std::exception_ptr error;
    try {
        auto finishing = m_plan.finish(index);
        co_await finishing;
    } catch (...) {
        error = std::current_exception();
    }
    // A stopped run leaves the queue alone: it may be gone.
    if (stop.stop_requested())
        co_return;
    m_finishingBytes -= file.bytes;
    if (!error) {
        m_completedBytes += file.bytes;
        ++m_completedFiles;
    } else {
        try {
            std::rethrow_exception(error);
        } catch (const Cancelled &) {
        } catch (const std::exception &e) {
            m_failures.append(file.name + u": "_s + describe(e));
        }
    }
    const qint64 done = currentTotalDone();
    const int current = std::min(m_completedFiles, m_totalFiles);
    const bool finished = !error;
    m_reporter.update(m_transfer, [&](Transfer &t) {
        t.done = done;
        if (finished)
            t.currentFileIndex = current;
    });
}

std::optional<int> WorkerPool::nextFile(std::stop_token stop)
{
    const int count = m_plan.count();
    while (m_nextIndex < count && !m_held) {
        throwIfStopped(stop);
        const int index = m_nextIndex++;
        const std::optional<QString> skipped = m_plan.skip(index);
        if (!skipped)
            return index;
        ++m_completedFiles;
        m_completedBytes += m_plan.file(index).bytes;
        const qint64 done = currentTotalDone();
        const int current = std::min(m_completedFiles, m_totalFiles);
        m_reporter.update(m_transfer, [&](Transfer &t) {
            t.done = done;
            t.currentFileIndex = current;
            t.detail = *skipped;
        });
    }
    return std::nullopt;
}

void WorkerPool::announce(int id, int index, const PoolFile &file)
{
    const int number = index + 1;
    const bool isUpload = m_isUpload;
    const int totalFiles = m_totalFiles;
    m_current[id] = index;
    const qint64 bytes = m_inFlight.value(index);
    m_inFlight[index] = bytes;
    m_reporter.update(m_transfer, [&](Transfer &t) {
        t.currentFileName = file.name;
        t.detail = TransferDetail::fileStarted(file.name, number, totalFiles);
        if (!isUpload)
            t.currentFileIndex = std::min(totalFiles, number);
        t.beginFile(id, number, totalFiles, file.name, file.sourcePath, file.destinationPath,
                    file.bytes, isUpload);
        if (bytes > 0)
            t.fileProgress(id, bytes, t.speed);
    });
}

QCoro::Task<WorkerPool::MoveOutcome> WorkerPool::moveFile(int id, int index, std::stop_token stop)
{
    try {
        std::weak_ptr<int> alive = m_alive;
        auto moving = m_plan.move(
            index, id,
            [this, id, index, alive, stop](qint64 bytes, qint64) {
                if (!alive.expired() && !stop.stop_requested())
                    fileBytes(id, index, bytes);
            },
            stop);
        co_await moving;
    } catch (...) {
        co_return MoveOutcome{std::current_exception()};
    }
    co_return MoveOutcome{};
}

QCoro::Task<> WorkerPool::moveFiles(int id, std::stop_token stop)
{
    ++m_busyWorkers;
    const auto idle = qScopeGuard([this] { --m_busyWorkers; });
    std::optional<int> index = nextFile(stop);
    while (index) {
        const PoolFile file = m_plan.file(*index);
        announce(id, *index, file);
        if (!m_moving.contains(id))
            m_moving.emplace(id, moveFile(id, *index, stop));
        // Workers yet to start or done with their files take the rest first.
        std::optional<int> next;
        if (m_plan.movesAhead(*index) && m_plan.count() - m_nextIndex > m_workers - m_busyWorkers) {
            next = nextFile(stop);
            if (next)
                m_ahead.emplace(id, moveFile(id, *next, stop));
        }

        QCoro::Task<WorkerPool::MoveOutcome> moving = std::move(m_moving.extract(id).mapped());
        const std::exception_ptr error = (co_await moving).error;
        if (auto ahead = m_ahead.extract(id))
            m_moving.insert(std::move(ahead));
        // A stopped run ends here without touching the queue: it may be gone.
        throwIfStopped(stop);
        m_inFlight.remove(*index);
        m_current.remove(id);

        if (!error && m_plan.finishesLater()) {
            m_finishingBytes += file.bytes;
            m_reporter.update(m_transfer, [&](Transfer &t) { t.endFile(id); });
            auto room = waitForFinishing(id, finishingFiles - 1,
                                         std::max<qint64>(0, finishingBytes - file.bytes));
            co_await room;
            throwIfStopped(stop);
            m_finishing[id].push_back({finishFile(*index, file, stop), file.bytes});
        } else if (!error) {
            m_completedBytes += file.bytes;
            ++m_completedFiles;
            const qint64 done = currentTotalDone();
            const double speed = m_tracker.update(done, Clock::current().now());
            const int current = std::min(m_completedFiles, m_totalFiles);
            m_reporter.update(m_transfer, [&](Transfer &t) {
                t.done = done;
                t.speed = speed;
                t.currentFileIndex = current;
                t.endFile(id);
            });
        } else {
            try {
                std::rethrow_exception(error);
            } catch (const Cancelled &) {
                throw;
            } catch (const DriveAPIError &e) {
                // A full Drive refuses every file that follows: no new file starts, the files
                // on their way end as Google answers them, and the run ends with the refusal.
                if (!e.stopsWrites())
                    m_failures.append(file.name + u": "_s + describe(e));
                else if (!m_held)
                    m_held = error;
            } catch (const std::exception &e) {
                m_failures.append(file.name + u": "_s + describe(e));
            }
            m_reporter.update(m_transfer, [&](Transfer &t) {
                t.done = currentTotalDone();
                t.endFile(id);
            });
        }
        index = next ? next : nextFile(stop);
    }
}

} // namespace Tarnwick
