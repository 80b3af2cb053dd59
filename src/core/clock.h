#pragma once

#include <QDateTime>

#include <chrono>

namespace Tarnwick {

// The one timing source behind every delay and "now" the behaviour names (retry waits, throttles,
// the sign-in wait, the update interval). Tests install a TestClock so those delays take
// milliseconds while every code path stays the same.
class Clock
{
public:
    virtual ~Clock() = default;

    virtual QDateTime now() const;
    // How long a named delay really waits.
    virtual std::chrono::milliseconds realDuration(std::chrono::milliseconds named);

    static Clock &current();
    // Not owned; nullptr restores the system clock.
    static void install(Clock *clock);
};

// A clock for tests: "now" moves only when advanced (or when a named delay is taken),
// and named delays are shrunk by a factor and recorded.
class TestClock final : public Clock
{
public:
    explicit TestClock(double scale = 0.001,
                       QDateTime start = QDateTime::currentDateTimeUtc());
    ~TestClock() override;

    QDateTime now() const override;
    std::chrono::milliseconds realDuration(std::chrono::milliseconds named) override;

    void advance(std::chrono::milliseconds by);
    // Every named delay asked for since construction or the last clear, in order.
    QList<std::chrono::milliseconds> requestedDelays() const;
    void clearRequestedDelays();

private:
    double m_scale;
    QDateTime m_now;
    QList<std::chrono::milliseconds> m_requested;
};

} // namespace Tarnwick
