#include "async/backgroundcall.h"

#include <QCoreApplication>
#include <QThreadPool>

#include <chrono>
#include <condition_variable>
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

    void run()
    {
        std::unique_lock lock(m_mutex);
        for (;;) {
            m_idle = true;
            m_wake.wait(lock, [this] { return !m_jobs.empty(); });
            m_idle = false;
            while (!m_jobs.empty()) {
                std::vector<Job> batch = std::exchange(m_jobs, {});
                lock.unlock();
                for (Job &job : batch) {
                    if (job.first)
                        job.first();
                }
                std::vector<std::coroutine_handle<>> resumes;
                resumes.reserve(batch.size());
                for (Job &job : batch) {
                    job.work();
                    resumes.push_back(job.resume);
                }
                batch.clear();
                QMetaObject::invokeMethod(
                    QCoreApplication::instance(),
                    [resumes = std::move(resumes)] {
                        for (std::coroutine_handle<> resume : resumes)
                            resume.resume();
                    },
                    Qt::QueuedConnection);
                std::this_thread::sleep_for(pause);
                lock.lock();
            }
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::vector<Job> m_jobs;
    bool m_idle = false;
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

} // namespace Tarnwick::Detail
