// Awaiting a step for the model: how it ended, and when a failure may still be reported.
#include "stepoutcome.h"

#include "async/async.h"
#include "async/runsync.h"

#include <QTimer>

#include <gtest/gtest.h>

#include <memory>

using namespace Qt::StringLiterals;
using namespace Tarnwick;

namespace {

QCoro::Task<int> answer(int value)
{
    co_return value;
}

QCoro::Task<int> failing(QString message)
{
    throw TarnwickError(message);
    co_return 0;
}

QCoro::Task<> cancelled()
{
    throw Cancelled();
    co_return;
}

// Fails once timer fires, so the caller can act while the step waits.
QCoro::Task<int> failingWhen(QTimer *timer)
{
    Wakeup wakeup{std::stop_token()};
    wakeup.on(timer, &QTimer::timeout);
    co_await wakeup;
    throw TarnwickError(u"Quá muộn"_s);
}

} // namespace

TEST(StepOutcome, SettleTellsDoneFailedAndCancelledApart)
{
    const StepOutcome<int> done = runSync(settle(answer(7)));
    EXPECT_TRUE(done.done());
    EXPECT_FALSE(done.cancelled());
    EXPECT_EQ(done.value, 7);
    EXPECT_EQ(done.failure, std::nullopt);

    const StepOutcome<int> failed = runSync(settle(failing(u"Không tìm thấy tệp"_s)));
    EXPECT_FALSE(failed.done());
    EXPECT_FALSE(failed.cancelled());
    EXPECT_EQ(failed.failure, u"Không tìm thấy tệp"_s);

    const StepOutcome<void> stopped = runSync(settle(cancelled()));
    EXPECT_TRUE(stopped.cancelled());
    EXPECT_FALSE(stopped.done());
    EXPECT_EQ(stopped.failure, std::nullopt);
}

TEST(StepOutcome, ProceedReportsOnlyAFailureAndGivesTheValueOtherwise)
{
    QObject owner;
    QStringList reported;
    auto report = [&reported](QString failure) { reported.append(failure); };

    EXPECT_EQ(runSync(proceed(&owner, answer(3), report)), 3);
    EXPECT_EQ(runSync(proceed(&owner, cancelled(), report)), std::nullopt);
    EXPECT_TRUE(reported.isEmpty());

    EXPECT_EQ(runSync(proceed(&owner, failing(u"Hết dung lượng"_s), report)), std::nullopt);
    EXPECT_EQ(reported, QStringList{u"Hết dung lượng"_s});
}

TEST(StepOutcome, ProceedStaysSilentWhenTheOwnerWentAwayDuringTheStep)
{
    auto owner = std::make_unique<QObject>();
    QTimer later;
    later.setSingleShot(true);
    later.start(0);
    bool reported = false;
    auto step =
        proceed(owner.get(), failingWhen(&later), [&reported](QString) { reported = true; });
    owner.reset();
    EXPECT_EQ(runSync(std::move(step)), std::nullopt);
    EXPECT_FALSE(reported);
}
