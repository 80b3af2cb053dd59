#include "async/async.h"
#include "async/asyncmutex.h"
#include "signintesting.h"
#include "support/testsupport.h"

#include <QStringList>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using namespace Tarnwick;
using namespace Tarnwick::Testing;
using namespace std::chrono_literals;

namespace {

// Takes the lock, records its entry, waits, records its exit.
QCoro::Task<> section(AsyncMutex *mutex, QStringList *log, QString name,
                      std::chrono::milliseconds hold)
{
    const AsyncMutex::Guard guard = co_await mutex->lock();
    log->append(name + u" in"_s);
    co_await sleepFor(hold, {});
    log->append(name + u" out"_s);
}

} // namespace

TEST(AsyncMutex, SectionsRunWholeInTheOrderTheyAsked)
{
    AsyncMutex mutex;
    QStringList log;
    auto a = start(section(&mutex, &log, u"a"_s, 30ms));
    auto b = start(section(&mutex, &log, u"b"_s, 1ms));
    auto c = start(section(&mutex, &log, u"c"_s, 1ms));
    EXPECT_TRUE(mutex.locked());
    ASSERT_TRUE(waitUntil([&] { return a->done && b->done && c->done; }));
    EXPECT_EQ(log,
              (QStringList{u"a in"_s, u"a out"_s, u"b in"_s, u"b out"_s, u"c in"_s, u"c out"_s}));
    EXPECT_FALSE(mutex.locked());
}

TEST(AsyncMutex, AnExceptionInsideASectionReleasesTheLock)
{
    AsyncMutex mutex;
    auto failing = start([](AsyncMutex *m) -> QCoro::Task<> {
        const AsyncMutex::Guard guard = co_await m->lock();
        co_await sleepFor(1ms, {});
        throw Cancelled();
    }(&mutex));
    QStringList log;
    auto next = start(section(&mutex, &log, u"next"_s, 1ms));
    ASSERT_TRUE(waitUntil([&] { return failing->done && next->done; }));
    EXPECT_TRUE(failing->cancelled());
    EXPECT_EQ(log, (QStringList{u"next in"_s, u"next out"_s}));
    EXPECT_FALSE(mutex.locked());
}
