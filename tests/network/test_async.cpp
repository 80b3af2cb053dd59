#include "async/async.h"
#include "async/backgroundcall.h"
#include "async/clock.h"
#include "async/runsync.h"
#include "async/taskgroup.h"
#include "records/errors.h"

#include <QElapsedTimer>
#include <QTimer>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

using namespace Tarnwick;
using namespace std::chrono_literals;
using namespace Qt::StringLiterals;

namespace {

// Runs the event loop for a while (queued resumptions, deleteLater).
void pump(std::chrono::milliseconds duration)
{
    runSync(sleepFor(duration, {}), duration + 5s);
}

// Counts coroutine frames that unwound.
struct Ended
{
    int &count;
    ~Ended() { ++count; }
};

} // namespace

TEST(Waits, sleepCompletesAndAStopInterruptsItPromptly)
{
    QElapsedTimer elapsed;
    elapsed.start();
    runSync(sleepFor(50ms, {}));
    EXPECT_GE(elapsed.elapsed(), 40); // coarse timers may fire up to 5 % early

    std::stop_source stop;
    QTimer::singleShot(20ms, QCoreApplication::instance(), [&] { stop.request_stop(); });
    elapsed.restart();
    EXPECT_THROW(runSync(sleepFor(5s, stop.get_token())), Cancelled);
    EXPECT_LT(elapsed.elapsed(), 1000);

    std::stop_source already;
    already.request_stop();
    auto task = sleepFor(5s, already.get_token());
    EXPECT_TRUE(task.isReady()); // no timer was started
    EXPECT_THROW(runSync(std::move(task)), Cancelled);
}

TEST(Waits, resumptionIsNeverInsideRequestStop)
{
    // Resuming inside request_stop() would run the rest of the coroutine re-entrantly inside
    // whoever stopped it (a slot, a sibling's error handler).
    std::stop_source stop;
    bool resumed = false;
    auto task = [](std::stop_token token, bool *flag) -> QCoro::Task<> {
        try {
            co_await sleepFor(5s, token);
        } catch (const Cancelled &) {
        }
        *flag = true;
    }(stop.get_token(), &resumed);
    stop.request_stop();
    EXPECT_FALSE(resumed);
    runSync(std::move(task));
    EXPECT_TRUE(resumed);
}

TEST(Waits, testClockShrinksNamedDelaysAndMovesNowOnlyWhenTheyRunOut)
{
    const QDateTime start = QDateTime::fromSecsSinceEpoch(1700000000, Qt::UTC);
    TestClock clock(0.001, start);
    QElapsedTimer elapsed;
    elapsed.start();
    runSync(sleepFor(16s, {}));
    EXPECT_LT(elapsed.elapsed(), 1000);
    EXPECT_EQ(clock.now(), start.addSecs(16));

    std::stop_source stop;
    QTimer::singleShot(5ms, QCoreApplication::instance(), [&] { stop.request_stop(); });
    EXPECT_THROW(runSync(sleepFor(std::chrono::hours(1), stop.get_token())), Cancelled);
    EXPECT_EQ(clock.now(), start.addSecs(16)); // an interrupted wait did not pass
    EXPECT_EQ(clock.requestedDelays(),
              (QList<std::chrono::milliseconds>{16s, std::chrono::hours(1)}));
}

TEST(TaskGroup, allChildrenRunToTheEnd)
{
    int done = 0;
    auto run = [](int *counter) -> QCoro::Task<> {
        TaskGroup group;
        for (int i = 0; i < 6; ++i)
            group.spawn([counter, i](std::stop_token token) -> QCoro::Task<> {
                co_await sleepFor(std::chrono::milliseconds(5 * (6 - i)), token);
                ++*counter;
            });
        co_await group.join();
    };
    runSync(run(&done));
    EXPECT_EQ(done, 6);
    runSync([]() -> QCoro::Task<> {
        TaskGroup empty;
        co_await empty.join();
    }());
}

TEST(TaskGroup, firstErrorStopsTheSiblingsAndIsRethrownAfterAllEnded)
{
    int ended = 0;
    int endedWhenJoinThrew = -1;
    int suppressed = -1;
    auto run = [](int *ended, int *snapshot, int *suppressed) -> QCoro::Task<> {
        TaskGroup group;
        group.spawn([ended](std::stop_token token) -> QCoro::Task<> {
            Ended e{*ended};
            co_await sleepFor(5s, token);
        });
        group.spawn([ended](std::stop_token token) -> QCoro::Task<> {
            Ended e{*ended};
            try {
                co_await sleepFor(5s, token);
            } catch (const Cancelled &) {
                throw TarnwickError(QStringLiteral("cleanup failed")); // a by-product of the stop
            }
        });
        group.spawn([](std::stop_token token) -> QCoro::Task<> {
            co_await sleepFor(20ms, token);
            throw TarnwickError(QStringLiteral("first"));
        });
        try {
            co_await group.join();
        } catch (...) {
            *snapshot = *ended;
            *suppressed = group.suppressedErrors();
            throw;
        }
    };
    QElapsedTimer elapsed;
    elapsed.start();
    try {
        runSync(run(&ended, &endedWhenJoinThrew, &suppressed));
        FAIL() << "join() did not throw";
    } catch (const TarnwickError &e) {
        EXPECT_EQ(e.message(), QStringLiteral("first"));
    }
    EXPECT_EQ(endedWhenJoinThrew, 2);
    EXPECT_EQ(suppressed, 1);
    EXPECT_LT(elapsed.elapsed(), 1000);
}

TEST(TaskGroup, parentStopEndsEveryChildAndJoinThrowsCancelled)
{
    std::stop_source user;
    int ended = 0;
    auto run = [](std::stop_token parent, int *ended) -> QCoro::Task<> {
        TaskGroup group(parent);
        for (int i = 0; i < 3; ++i)
            group.spawn([ended](std::stop_token token) -> QCoro::Task<> {
                Ended e{*ended};
                co_await sleepFor(5s, token);
            });
        co_await group.join();
    };
    QTimer::singleShot(30ms, QCoreApplication::instance(), [&] { user.request_stop(); });
    EXPECT_THROW(runSync(run(user.get_token(), &ended), 2s), Cancelled);
    EXPECT_EQ(ended, 3);
}

TEST(TaskGroup, aCancelledTheGroupDidNotCauseStillStopsIt)
{
    int ended = 0;
    auto run = [](int *ended) -> QCoro::Task<> {
        TaskGroup group;
        group.spawn([ended](std::stop_token token) -> QCoro::Task<> {
            Ended e{*ended};
            co_await sleepFor(5s, token);
        });
        group.spawn([](std::stop_token) -> QCoro::Task<> {
            std::stop_source own;
            own.request_stop();
            co_await sleepFor(1s, own.get_token());
        });
        co_await group.join();
    };
    EXPECT_THROW(runSync(run(&ended), 2s), Cancelled);
    EXPECT_EQ(ended, 1);
}

TEST(TaskGroup, spawnedClosureOutlivesTheSpawningScope)
{
    QString seen;
    auto run = [](QString *out) -> QCoro::Task<> {
        TaskGroup group;
        {
            const QString name = QStringLiteral("file-%1.bin").arg(42);
            group.spawn([name, out](std::stop_token token) -> QCoro::Task<> {
                co_await sleepFor(10ms, token);
                *out = name;
            });
        }
        co_await group.join();
    };
    runSync(run(&seen));
    EXPECT_EQ(seen, QStringLiteral("file-42.bin"));
}

TEST(TaskGroup, destroyedUnjoinedStopsItsChildren)
{
    int ended = 0;
    {
        TaskGroup group;
        group.spawn([&ended](std::stop_token token) -> QCoro::Task<> {
            Ended e{ended};
            co_await sleepFor(5s, token);
        });
    }
    pump(50ms);
    EXPECT_EQ(ended, 1);
}

TEST(Detach, failureGoesToTheHandlerAndCancellationIsDropped)
{
    QStringList errors;
    auto failing = []() -> QCoro::Task<int> {
        co_await sleepFor(1ms, {});
        throw TarnwickError(QStringLiteral("boom"));
    };
    auto cancelled = []() -> QCoro::Task<> {
        std::stop_source stop;
        stop.request_stop();
        co_await sleepFor(1ms, stop.get_token());
    };
    const auto onError = [&errors](const std::exception &e) { errors << describe(e); };
    detach(failing(), onError);
    detach(cancelled(), onError);
    pump(30ms);
    EXPECT_EQ(errors, QStringList{QStringLiteral("boom")});
}

TEST(RunSync, rethrowsAndTimesOutInsteadOfHanging)
{
    auto failing = []() -> QCoro::Task<int> {
        co_await sleepFor(1ms, {});
        throw std::logic_error("bad");
    };
    EXPECT_THROW(runSync(failing()), std::logic_error);

    bool lateFinish = false;
    auto slow = [](bool *flag) -> QCoro::Task<> {
        co_await sleepFor(100ms, {});
        *flag = true;
    };
    EXPECT_THROW(runSync(slow(&lateFinish), 10ms), RunSyncTimeout);
    pump(150ms); // the abandoned task ends later without touching runSync's frame
    EXPECT_TRUE(lateFinish);
}

TEST(Background, batchedJobsRunOnceEachOffTheMainThreadAndHandBackValuesAndErrors)
{
    const std::thread::id mainThread = std::this_thread::get_id();
    std::vector<int> order;
    std::mutex orderLock;
    std::atomic<int> firsts = 0;
    const auto job = [&](int n) {
        return [&, n] {
            EXPECT_NE(std::this_thread::get_id(), mainThread);
            std::lock_guard lock(orderLock);
            order.push_back(n);
            if (n % 50 == 7)
                throw TarnwickError(QString::number(n));
            return n * 2;
        };
    };
    // Many queued at once share batches; each coroutine gets its own value or error back.
    const auto all = [&]() -> QCoro::Task<std::vector<QString>> {
        std::vector<QCoro::Task<int>> tasks;
        for (int n = 0; n < 300; ++n)
            tasks.push_back(runBatched<int>(job(n), [&firsts] { ++firsts; }));
        std::vector<QString> outcomes;
        for (auto &task : tasks) {
            try {
                outcomes.push_back(QString::number(co_await task));
            } catch (const TarnwickError &e) {
                outcomes.push_back(u"error "_s + e.description());
            }
            EXPECT_EQ(std::this_thread::get_id(), mainThread);
        }
        co_return outcomes;
    };
    const std::vector<QString> outcomes = runSync(all());
    ASSERT_EQ(outcomes.size(), 300u);
    EXPECT_EQ(firsts.load(), 300);
    std::sort(order.begin(), order.end());
    for (int n = 0; n < 300; ++n) {
        EXPECT_EQ(order[size_t(n)], n);
        EXPECT_EQ(outcomes[size_t(n)],
                  n % 50 == 7 ? u"error "_s + QString::number(n) : QString::number(n * 2));
    }

    // A job queued long after the thread went idle still wakes it.
    for (int round = 0; round < 3; ++round) {
        pump(5ms);
        EXPECT_EQ(runSync(runBatched<int>([round] { return round; }), 5s), round);
    }
}
