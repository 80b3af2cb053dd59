#pragma once

#include "api/apierror.h"

#include <QByteArray>
#include <QHash>
#include <QJsonObject>
#include <QRandomGenerator64>
#include <QString>

#include <chrono>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>

namespace Tarnwick::Emulator {

// Google's per-user limits as stateful rules. Everything is off by default.
struct LimitSettings
{
    // How a budget refuses: 403 userRateLimitExceeded, 403 rateLimitExceeded or 429.
    enum class Refusal { UserRateLimit, RateLimit, TooManyRequests };

    // Item creations (folders, files, uploads' session opens, copies): a bucket of writeBurst
    // tokens refilled at writesPerSecond. 0: no write budget. A burst of 0 means one second's
    // worth (at least 1).
    double writesPerSecond = 0;
    int writeBurst = 0;
    Refusal writeRefusal = Refusal::UserRateLimit;

    // Every Drive and upload request: at most this many per user in any 60 seconds. 0: off.
    int queriesPerMinute = 0;
    Refusal queryRefusal = Refusal::UserRateLimit;

    // Budget refusals carry Retry-After: the seconds until the budget lets one request through.
    bool retryAfter = false;

    // Backend 429s on counted requests: every Nth (0: never) or with a probability.
    int backend429Every = 0;
    double backend429Probability = 0;
    int backend429RetryAfter = -1; // seconds; negative: no Retry-After
    bool backend429Html = false;   // an HTML page instead of Google's JSON

    // Upload bytes per user per day (0: no cap). Days are 24-hour spans of the limits' clock.
    qint64 dailyUploadBytes = 0;
    QString dailyUploadReason = QStringLiteral("dailyLimitExceeded");

    bool any() const;
    QJsonObject toJson() const;
    // These settings with the members json names changed. Throws std::invalid_argument for a
    // malformed or out-of-range member.
    LimitSettings patched(const QJsonObject &json) const;

    bool operator==(const LimitSettings &other) const = default;
};

// Applies LimitSettings request by request, on a clock that tests control. Thread-safe.
class Limits final
{
public:
    using Clock = std::function<std::chrono::nanoseconds()>;

    enum class Kind {
        Query,    // anything else under /drive/v3/ or /upload/drive/v3/
        Creation, // makes an item
        Upload,   // a resumable session's chunk
    };

    struct Request
    {
        QString user; // e-mail
        Kind kind = Kind::Query;
        // Upload bytes this request announces: a multipart or simple body, a chunk's length, a
        // resumable session's X-Upload-Content-Length. -1: unknown.
        qint64 uploadBytes = -1;
    };

    struct Refused
    {
        QString limit; // "queryRate", "writeRate", "backend429", "dailyUpload"
        ApiError error;
        std::optional<qint64> retryAfterSeconds;
        QByteArray html; // non-empty: answer this page instead of the JSON envelope
    };

    // Empty clock: the steady clock.
    explicit Limits(Clock clock = {});

    LimitSettings settings() const;
    // Buckets and windows keep what they hold; a new rate applies from now on.
    void setSettings(const LimitSettings &settings);
    // All limits off and every counter and bucket back to the start.
    void reset();
    // Moves the limits' clock ahead (a day's cap ends when a day has passed).
    void advance(std::chrono::nanoseconds by);

    bool active() const;
    // Which kind a request to this path is, for requests the limits count at all.
    static std::optional<Kind> classify(const QString &method, const QString &path,
                                        bool hasUploadId);
    // Admits the request (taking what it spends) or says which limit refuses it.
    std::optional<Refused> admit(const Request &request);
    // Upload bytes that arrived in an admitted request.
    void uploaded(const QString &user, qint64 bytes);

    // {"accepted","refused":{"queryRate","writeRate","backend429","dailyUpload"},"users":[...]}
    QJsonObject counters() const;

private:
    struct User
    {
        std::chrono::nanoseconds writeTat{std::chrono::nanoseconds::min()};
        std::deque<std::chrono::nanoseconds> queries;
        qint64 day = 0;
        qint64 uploadedToday = 0;
    };

    std::chrono::nanoseconds nowLocked() const;
    std::chrono::nanoseconds writeInterval() const;
    std::chrono::nanoseconds writeTolerance() const;
    void startDay(User &user, std::chrono::nanoseconds now) const;
    Refused budgetRefusal(LimitSettings::Refusal how, const QString &limit,
                          std::chrono::nanoseconds wait) const;

    mutable std::mutex m_mutex;
    Clock m_clock;
    std::chrono::nanoseconds m_offset{0};
    LimitSettings m_settings;
    QHash<QString, User> m_users;
    QRandomGenerator64 m_random{20240502};
    qint64 m_seen = 0;
    qint64 m_accepted = 0;
    QHash<QString, qint64> m_refused;
};

} // namespace Tarnwick::Emulator
