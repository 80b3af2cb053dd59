#include "drive/drivepacer.h"

#include "async/async.h"
#include "async/clock.h"

#include <QRandomGenerator>

#include <algorithm>

using namespace std::chrono_literals;

namespace Tarnwick {

namespace {

// Successes counted to learn the rate Google accepts.
constexpr std::chrono::milliseconds window = 1s;
// After a refusal the account runs this far under the rate that was accepted.
constexpr double backOff = 0.9;
// Each success raises the rate by this much (requests a second): at 30 a second the rate comes
// back within a few seconds, so a budget Google raises again is found again.
constexpr double probe = 0.05;
constexpr double slowest = 0.2;

qint64 msecsBetween(const QDateTime &from, const QDateTime &to)
{
    return from.msecsTo(to);
}

} // namespace

DrivePacer::DrivePacer(QObject *parent)
    : QObject(parent)
{
}

std::optional<double> DrivePacer::rate(Kind kind) const
{
    return kind == Kind::Write ? m_writes.rate : m_all.rate;
}

QDateTime DrivePacer::reserve(Limiter &limiter, const QDateTime &now)
{
    QDateTime slot = now;
    if (limiter.rate) {
        if (limiter.next.isValid() && limiter.next > slot)
            slot = limiter.next;
        limiter.next = slot.addMSecs(qint64(1000.0 / *limiter.rate));
    }
    return slot;
}

QCoro::Task<> DrivePacer::admit(Kind kind, std::stop_token stop)
{
    throwIfStopped(stop);
    // Unlimited and not held: nothing to wait for, and nothing to remember.
    if (!m_all.rate && !m_writes.rate && !m_heldUntil.isValid())
        co_return;
    const QDateTime now = Clock::current().now();
    QDateTime slot = reserve(m_all, now);
    if (kind == Kind::Write)
        slot = std::max(slot, reserve(m_writes, now));
    if (m_heldUntil.isValid()) {
        if (m_heldUntil > slot)
            slot = m_heldUntil;
        else if (m_heldUntil <= now)
            m_heldUntil = QDateTime();
    }
    const qint64 wait = msecsBetween(now, slot);
    if (wait > 0)
        co_await sleepFor(std::chrono::milliseconds(wait), stop);
}

void DrivePacer::forget(Limiter &limiter, const QDateTime &now)
{
    const QDateTime oldest = now.addMSecs(-qint64(window.count()));
    while (!limiter.accepted.empty() && limiter.accepted.front() < oldest)
        limiter.accepted.pop_front();
}

void DrivePacer::succeeded(Kind kind)
{
    const QDateTime now = Clock::current().now();
    m_lastSuccess = now;
    m_firstRefusal = QDateTime();
    for (Limiter *l : {&m_all, kind == Kind::Write ? &m_writes : nullptr}) {
        if (!l)
            continue;
        // The last second's successes are what a first refusal learns from.
        l->accepted.push_back(now);
        forget(*l, now);
        if (l->rate)
            *l->rate += probe;
    }
}

void DrivePacer::learnFrom(Limiter &limiter, const QDateTime &now)
{
    // Refusals of requests already on their way when the rate was lowered say nothing new: one
    // lowering a window.
    if (limiter.lowered.isValid() && limiter.lowered.msecsTo(now) < qint64(window.count()))
        return;
    limiter.lowered = now;
    forget(limiter, now);
    // What Google took over the window: the most this account can count on.
    const double seen = double(limiter.accepted.size()) * 1000.0 / double(window.count());
    double next = seen > 0 ? seen : (limiter.rate ? *limiter.rate : 1.0);
    if (limiter.rate)
        next = std::min(next, *limiter.rate);
    limiter.rate = std::max(next * backOff, slowest);
    limiter.accepted.clear();
    // Nothing already reserved goes out sooner than the new rate allows.
    limiter.next = now.addMSecs(qint64(1000.0 / *limiter.rate));
}

void DrivePacer::limited(Kind kind, std::optional<std::chrono::milliseconds> retryAfter)
{
    const QDateTime now = Clock::current().now();
    if (!m_firstRefusal.isValid())
        m_firstRefusal = now;
    // The first refusal of an unlimited account: count from here on what Google accepts.
    learnFrom(kind == Kind::Write ? m_writes : m_all, now);
    if (retryAfter && retryAfter->count() > 0) {
        const QDateTime until = now.addMSecs(retryAfter->count());
        if (!m_heldUntil.isValid() || until > m_heldUntil)
            m_heldUntil = until;
    }
    announce();
}

std::chrono::milliseconds
DrivePacer::backoff(int refusals, std::optional<std::chrono::milliseconds> retryAfter)
{
    const qint64 base = std::min<qint64>(qint64(1) << std::clamp(refusals, 0, 10),
                                         qint64(longestBackoff.count()));
    const auto jitter = std::chrono::milliseconds(QRandomGenerator::global()->bounded(1000));
    const std::chrono::milliseconds wait = std::chrono::seconds(base) + jitter;
    return retryAfter ? std::max(wait, *retryAfter) : wait;
}

bool DrivePacer::mayRetry() const
{
    const QDateTime since = m_lastSuccess.isValid() ? m_lastSuccess : m_firstRefusal;
    if (!since.isValid())
        return true;
    return since.msecsTo(Clock::current().now())
           < std::chrono::duration_cast<std::chrono::milliseconds>(starvationCeiling).count();
}

void DrivePacer::retryWaits(const QDateTime &until)
{
    m_retries.insert(until);
    announce();
}

void DrivePacer::retryWent(const QDateTime &until)
{
    if (auto found = m_retries.find(until); found != m_retries.end())
        m_retries.erase(found);
    announce();
}

std::optional<QDateTime> DrivePacer::waitingUntil() const
{
    std::optional<QDateTime> soonest;
    if (!m_retries.empty())
        soonest = *m_retries.begin();
    const QDateTime now = Clock::current().now();
    if (m_heldUntil.isValid() && m_heldUntil > now && (!soonest || m_heldUntil < *soonest))
        soonest = m_heldUntil;
    return soonest;
}

void DrivePacer::announce()
{
    const std::optional<QDateTime> now = waitingUntil();
    if (now == m_announced)
        return;
    m_announced = now;
    emit waitingChanged();
}

} // namespace Tarnwick
