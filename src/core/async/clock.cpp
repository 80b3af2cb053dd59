#include "async/clock.h"

#include <QMutex>

namespace Tarnwick {

namespace {
Clock systemClock;
Clock *installed = nullptr;
QMutex testClockMutex;
} // namespace

QDateTime Clock::now() const
{
    return QDateTime::currentDateTimeUtc();
}

std::chrono::milliseconds Clock::realDuration(std::chrono::milliseconds named)
{
    return named;
}

void Clock::waited(std::chrono::milliseconds) {}

std::chrono::milliseconds Clock::realInterval(std::chrono::milliseconds named) const
{
    return named;
}

Clock &Clock::current()
{
    return installed ? *installed : systemClock;
}

void Clock::install(Clock *clock)
{
    installed = clock;
}

TestClock::TestClock(double scale, QDateTime start)
    : m_scale(scale)
    , m_now(std::move(start))
{
    install(this);
}

TestClock::~TestClock()
{
    if (&current() == this)
        install(nullptr);
}

QDateTime TestClock::now() const
{
    QMutexLocker lock(&testClockMutex);
    return m_now;
}

std::chrono::milliseconds TestClock::realDuration(std::chrono::milliseconds named)
{
    QMutexLocker lock(&testClockMutex);
    m_requested.append(named);
    return std::chrono::milliseconds(qint64(double(named.count()) * m_scale));
}

void TestClock::waited(std::chrono::milliseconds named)
{
    QMutexLocker lock(&testClockMutex);
    if (!m_held)
        m_now = m_now.addMSecs(named.count());
}

void TestClock::setHeld(bool held)
{
    QMutexLocker lock(&testClockMutex);
    m_held = held;
}

std::chrono::milliseconds TestClock::realInterval(std::chrono::milliseconds named) const
{
    // m_scale never changes after construction.
    return std::chrono::milliseconds(qint64(double(named.count()) * m_scale));
}

void TestClock::advance(std::chrono::milliseconds by)
{
    QMutexLocker lock(&testClockMutex);
    m_now = m_now.addMSecs(by.count());
}

QList<std::chrono::milliseconds> TestClock::requestedDelays() const
{
    QMutexLocker lock(&testClockMutex);
    return m_requested;
}

void TestClock::clearRequestedDelays()
{
    QMutexLocker lock(&testClockMutex);
    m_requested.clear();
}

} // namespace Tarnwick
