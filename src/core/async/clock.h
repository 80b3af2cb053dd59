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
    // How long a named delay really waits. Ask once per wait: a TestClock records each call.
    virtual std::chrono::milliseconds realDuration(std::chrono::milliseconds named);
    // Called when a named delay has run its full course (sleepFor does it; code that runs its own
    // timer on realDuration calls it when the timer fires). A TestClock moves "now" by it.
    virtual void waited(std::chrono::milliseconds named);
    // How long a named interval that is not a wait really lasts (throttles such as the progress
    // interval). Thread-safe and not recorded, so it may be asked often and from any thread.
    virtual std::chrono::milliseconds realInterval(std::chrono::milliseconds named) const;

    static Clock &current();
    // Not owned; nullptr restores the system clock.
    static void install(Clock *clock);
};

// A clock for tests: "now" moves only when advanced or when a named delay has been waited out,
// and named delays and intervals are shrunk by a factor; the delays are recorded.
class TestClock final : public Clock
{
public:
    explicit TestClock(double scale = 0.001, QDateTime start = QDateTime::currentDateTimeUtc());
    ~TestClock() override;

    QDateTime now() const override;
    std::chrono::milliseconds realDuration(std::chrono::milliseconds named) override;
    void waited(std::chrono::milliseconds named) override;
    std::chrono::milliseconds realInterval(std::chrono::milliseconds named) const override;

    void advance(std::chrono::milliseconds by);
    // While held, waited delays no longer move "now"; only advance() does. For tests that need
    // "now" to stand still while background waits (saves, retries) keep running.
    void setHeld(bool held);
    // Every named delay asked for since construction or the last clear, in order.
    QList<std::chrono::milliseconds> requestedDelays() const;
    void clearRequestedDelays();

private:
    double m_scale;
    QDateTime m_now;
    bool m_held = false;
    QList<std::chrono::milliseconds> m_requested;
};

} // namespace Tarnwick
