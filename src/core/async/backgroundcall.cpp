#include "async/backgroundcall.h"

#include <QCoreApplication>
#include <QThreadPool>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <latch>
#include <mutex>
#include <thread>
#include <vector>

namespace Tarnwick::Detail {

void startInBackground(std::function<void()> job)
{
    // A pool of our own, so work other layers queue on the global pool cannot hold up a
    // transfer's last step. Never destroyed: a job may still be ending when the process exits.
    static QThreadPool *pool = [] {
        auto *p = new QThreadPool;
        p->setMaxThreadCount(4);
        p->setExpiryTimeout(30000);
        return p;
    }();
    pool->start(std::move(job));
}

namespace {

// The thread behind runBatched().
class BatchThread final
{
public:
    BatchThread()
        : m_thread([this] { run(); })
    {
        m_thread.detach();
    }

    void queue(std::function<void()> first, std::function<void()> job,
               std::coroutine_handle<> resume)
    {
        bool wake = false;
        {
            std::lock_guard lock(m_mutex);
            m_jobs.push_back({std::move(first), std::move(job), resume});
            wake = std::exchange(m_idle, false);
        }
        if (wake)
            m_wake.notify_one();
    }

private:
    struct Job
    {
        std::function<void()> first;
        std::function<void()> work;
        std::coroutine_handle<> resume;
    };

    // Long enough for several of a busy download's files to gather, short beside a round trip.
    static constexpr std::chrono::microseconds pause{500};
    static constexpr int helperThreads = 3;

    void runBatch(std::vector<Job> &batch)
    {
        // A large batch waits on the disk (flushes): its jobs run in a few groups at once, so
        // the disk takes them together. A small one runs here, without waking anyone. Within a
        // group every job's first step runs before any job's work.
        const std::size_t groups =
            std::max<std::size_t>(1, std::min<std::size_t>(helperThreads + 1, (batch.size() + 7) / 8));
        const auto runGroup = [&batch, groups](std::size_t group) {
            for (std::size_t i = group; i < batch.size(); i += groups) {
                if (batch[i].first)
                    batch[i].first();
            }
            for (std::size_t i = group; i < batch.size(); i += groups)
                batch[i].work();
        };
        if (groups == 1) {
            runGroup(0);
            return;
        }
        std::latch helped(std::ptrdiff_t(groups - 1));
        for (std::size_t group = 1; group < groups; ++group) {
            m_helpers.start([&runGroup, &helped, group] {
                runGroup(group);
                helped.count_down();
            });
        }
        runGroup(0);
        helped.wait();
    }

    void run()
    {
        m_helpers.setMaxThreadCount(helperThreads);
        m_helpers.setExpiryTimeout(30000);
        std::unique_lock lock(m_mutex);
        for (;;) {
            m_idle = true;
            m_wake.wait(lock, [this] { return !m_jobs.empty(); });
            m_idle = false;
            while (!m_jobs.empty()) {
                std::vector<Job> batch = std::exchange(m_jobs, {});
                lock.unlock();
                runBatch(batch);
                std::vector<std::coroutine_handle<>> resumes;
                resumes.reserve(batch.size());
                for (const Job &job : batch)
                    resumes.push_back(job.resume);
                batch.clear();
                resumeOnMainThread(std::move(resumes));
                std::this_thread::sleep_for(pause);
                lock.lock();
            }
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::vector<Job> m_jobs;
    bool m_idle = false;
    // Used by the batch thread only.
    QThreadPool m_helpers;
    std::thread m_thread;
};

} // namespace

void startBatched(std::function<void()> first, std::function<void()> job,
                  std::coroutine_handle<> resume)
{
    // Never destroyed, like the pool: a job may still be ending when the process exits.
    static BatchThread *thread = new BatchThread;
    thread->queue(std::move(first), std::move(job), resume);
}

void resumeOnMainThread(std::vector<std::coroutine_handle<>> resumes)
{
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [resumes = std::move(resumes)] {
            for (std::coroutine_handle<> resume : resumes)
                resume.resume();
        },
        Qt::QueuedConnection);
}

} // namespace Tarnwick::Detail
