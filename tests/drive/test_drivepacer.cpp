// The account's pacer against a server that keeps Google's kind of budget (a burst, then so many
// requests a second), on the test clock: it costs nothing until refused, then settles near the
// budget with few refusals, follows a budget cut, holds for a Retry-After, and gives up on a
// refused request only after a long time without any success.
#include "support/testsupport.h"

#include "async/clock.h"
#include "async/runsync.h"
#include "drive/drivepacer.h"

#include <gtest/gtest.h>

using namespace std::chrono_literals;
using namespace Tarnwick;
using Kind = DrivePacer::Kind;

namespace {

// A token bucket on the current clock's time.
class Budget
{
public:
    Budget(double burst, double perSecond)
        : m_burst(burst)
        , m_rate(perSecond)
        , m_tokens(burst)
        , m_last(Clock::current().now())
    {
    }
    void setRate(double perSecond) { m_rate = perSecond; }
    bool take()
    {
        const QDateTime now = Clock::current().now();
        m_tokens = std::min(m_burst, m_tokens + m_rate * double(m_last.msecsTo(now)) / 1000.0);
        m_last = now;
        if (m_tokens < 1)
            return false;
        m_tokens -= 1;
        return true;
    }

private:
    double m_burst;
    double m_rate;
    double m_tokens;
    QDateTime m_last;
};

struct Tally
{
    int accepted = 0;
    int refused = 0;
    qint64 msecs = 0;
};

// Sends `count` writes one after another through the pacer; a refused one is simply counted
// (its retry would be one more write).
Tally send(DrivePacer &pacer, Budget &budget, int count, const std::function<void(int)> &before = {})
{
    Tally tally;
    const QDateTime start = Clock::current().now();
    while (tally.accepted < count) {
        if (before)
            before(tally.accepted);
        runSync(pacer.admit(Kind::Write, {}));
        if (budget.take()) {
            pacer.succeeded(Kind::Write);
            ++tally.accepted;
        } else {
            pacer.limited(Kind::Write, std::nullopt);
            ++tally.refused;
        }
    }
    tally.msecs = start.msecsTo(Clock::current().now());
    return tally;
}

class Pacer : public ::testing::Test
{
protected:
    TestClock clock{0.0001};
};

TEST_F(Pacer, UnlimitedUntilRefusedThenSettlesNearTheBudgetWithFewRefusals)
{
    DrivePacer pacer;
    // Nothing refused: no waiting at all, however many requests.
    for (int i = 0; i < 1000; ++i)
        runSync(pacer.admit(Kind::Query, {}));
    EXPECT_TRUE(clock.requestedDelays().isEmpty());
    EXPECT_FALSE(pacer.rate(Kind::Query).has_value());

    // Google's own budget is about a burst of a hundred, then three a second; tests run tighter.
    for (const auto &[burst, rate] : {std::pair{30.0, 30.0}, std::pair{100.0, 3.0},
                                      std::pair{5.0, 50.0}}) {
        DrivePacer fresh;
        Budget budget(burst, rate);
        // Past the burst, so the figures are of the sustained rate.
        send(fresh, budget, int(burst) + int(rate) * 10);
        const Tally tally = send(fresh, budget, int(rate) * 40);
        const double perSecond = tally.accepted * 1000.0 / double(tally.msecs);
        EXPECT_GE(perSecond, rate * 0.9) << burst << "/" << rate;
        EXPECT_LE(perSecond, rate * 1.05) << burst << "/" << rate;
        EXPECT_LE(double(tally.refused) / (tally.accepted + tally.refused), 0.05)
            << burst << "/" << rate << ": " << tally.refused;
        ASSERT_TRUE(fresh.rate(Kind::Write).has_value());
        // Reads are not slowed by a write budget.
        EXPECT_FALSE(fresh.rate(Kind::Query).has_value());
    }
}

TEST_F(Pacer, FollowsABudgetCutMidway)
{
    DrivePacer pacer;
    Budget budget(30, 30);
    send(pacer, budget, 600);
    budget.setRate(15);
    send(pacer, budget, 100); // the cut is found
    const Tally after = send(pacer, budget, 600);
    const double perSecond = after.accepted * 1000.0 / double(after.msecs);
    EXPECT_GE(perSecond, 15 * 0.85) << after.msecs << " ms";
    EXPECT_LE(double(after.refused) / (after.accepted + after.refused), 0.05) << after.refused;
}

TEST_F(Pacer, RetryAfterHoldsTheWholeAccountAndBackoffGrowsToItsCeiling)
{
    DrivePacer pacer;
    QList<QDateTime> shown;
    QObject::connect(&pacer, &DrivePacer::waitingChanged, &pacer, [&] {
        if (const auto until = pacer.waitingUntil())
            shown.append(*until);
    });
    const QDateTime refused = clock.now();
    pacer.limited(Kind::Query, 8s);
    ASSERT_EQ(shown.size(), 1);
    EXPECT_EQ(refused.msecsTo(shown.first()), 8000);
    clock.clearRequestedDelays();
    runSync(pacer.admit(Kind::Write, {}));
    ASSERT_FALSE(clock.requestedDelays().isEmpty());
    EXPECT_GE(clock.requestedDelays().first(), 7900ms);
    EXPECT_GE(refused.msecsTo(clock.now()), 8000);

    for (int n = 0; n < 12; ++n) {
        const auto wait = DrivePacer::backoff(n, std::nullopt);
        const auto base = std::chrono::seconds(std::min(1 << n, 32));
        EXPECT_GE(wait, base);
        EXPECT_LT(wait, base + 1s);
    }
    EXPECT_EQ(DrivePacer::backoff(0, 20s), 20s);
}

TEST_F(Pacer, ARefusedRequestMayBeRetriedUntilTheAccountStarves)
{
    DrivePacer pacer;
    EXPECT_TRUE(pacer.mayRetry());
    pacer.limited(Kind::Write, std::nullopt);
    clock.advance(9min);
    EXPECT_TRUE(pacer.mayRetry());
    // One success anywhere on the account starts the ceiling again.
    pacer.succeeded(Kind::Query);
    clock.advance(9min);
    pacer.limited(Kind::Write, std::nullopt);
    EXPECT_TRUE(pacer.mayRetry());
    clock.advance(2min);
    EXPECT_FALSE(pacer.mayRetry());
}

} // namespace
