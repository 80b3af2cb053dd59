#pragma once

#include <QCoroTask>
#include <QDateTime>
#include <QObject>

// moc cannot parse the standard library's concepts, which <stop_token> pulls in first.
#ifndef Q_MOC_RUN
#include <stop_token>
#endif

#include <chrono>
#include <deque>
#include <set>
#include <optional>

namespace Tarnwick {

// Paces every request of one signed-in account, whichever run, worker or pane sends it, the way
// Google asks clients to: no limit at all until Google pushes back; then the whole account slows
// to the rate Google was seen to accept, and speeds up again while answers succeed.
//
// Two rates are learned apart: item creations (folders, uploads' first requests), for which
// Google keeps a small budget of its own, and all requests. A refusal sets the rate to a little
// under what was accepted in the last seconds; each success raises it a little. A Retry-After
// holds the whole account until then. Main thread only.
class DrivePacer final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(DrivePacer)

public:
    enum class Kind { Query, Write };

    // Retried requests wait 1, 2, 4… seconds up to this, plus up to a second of jitter.
    static constexpr std::chrono::seconds longestBackoff{32};
    // A request refused for rate limits alone fails only after the account has gone this long
    // without a single success.
    static constexpr std::chrono::minutes starvationCeiling{10};

    explicit DrivePacer(QObject *parent = nullptr);

    // Waits for this request's turn. Returns at once while Google has not pushed back.
    QCoro::Task<> admit(Kind kind, std::stop_token stop);
    // The answer: a success, or a refusal for Google's limits (retryAfter when it said).
    void succeeded(Kind kind);
    void limited(Kind kind, std::optional<std::chrono::milliseconds> retryAfter);

    // How long a request refused for the n-th time in a row (from 0) waits before it is sent
    // again: truncated exponential backoff with jitter, never shorter than Google's Retry-After.
    static std::chrono::milliseconds backoff(int refusals,
                                             std::optional<std::chrono::milliseconds> retryAfter);
    // Whether a refused request may still be retried: something succeeded on the account within
    // the ceiling (or nothing was refused yet).
    bool mayRetry() const;

    // While requests wait for Google's limits: when the next of them goes out. Missing otherwise.
    std::optional<QDateTime> waitingUntil() const;
    // A refused request waits until `until` before it is sent again (shown by waitingUntil());
    // retryWent() with the same time when it went out or gave up.
    void retryWaits(const QDateTime &until);
    void retryWent(const QDateTime &until);

    // The learned rates, in requests a second; missing while unlimited.
    std::optional<double> rate(Kind kind) const;

signals:
    // waitingUntil() changed.
    void waitingChanged();

private:
    struct Limiter
    {
        std::optional<double> rate; // missing: unlimited
        QDateTime next;             // the earliest time the next request may go
        std::deque<QDateTime> accepted; // successes of the last window
        QDateTime lowered;              // when the rate was last lowered
    };
    void learnFrom(Limiter &limiter, const QDateTime &now);
    static void forget(Limiter &limiter, const QDateTime &now);
    // The time this request may go, reserving its slot.
    static QDateTime reserve(Limiter &limiter, const QDateTime &now);
    void announce();

    Limiter m_writes;
    Limiter m_all;
    QDateTime m_heldUntil;
    QDateTime m_lastSuccess;
    QDateTime m_firstRefusal; // of the current run of refusals; invalid while none
    std::multiset<QDateTime> m_retries;
    std::optional<QDateTime> m_announced;
};

} // namespace Tarnwick
