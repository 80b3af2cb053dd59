#include "faults/limits.h"

#include "api/jsonvalues.h"
#include "faults/faultrule.h"

#include <QJsonArray>
#include <QRegularExpression>
#include <QSet>

#include <cmath>
#include <stdexcept>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace Tarnwick::Emulator {

namespace {

constexpr std::chrono::nanoseconds window = 60s;
constexpr std::chrono::nanoseconds day = 24h;

const QList<QPair<LimitSettings::Refusal, QString>> &refusalNames()
{
    static const QList<QPair<LimitSettings::Refusal, QString>> names{
        {LimitSettings::Refusal::UserRateLimit, u"userRateLimitExceeded"_s},
        {LimitSettings::Refusal::RateLimit, u"rateLimitExceeded"_s},
        {LimitSettings::Refusal::TooManyRequests, u"tooManyRequests"_s},
    };
    return names;
}

QString refusalName(LimitSettings::Refusal refusal)
{
    for (const auto &[r, name] : refusalNames())
        if (r == refusal)
            return name;
    return {};
}

LimitSettings::Refusal refusalFrom(const QJsonValue &value)
{
    for (const auto &[r, name] : refusalNames())
        if (name == value.toString())
            return r;
    throw std::invalid_argument("unknown refusal: use userRateLimitExceeded, rateLimitExceeded "
                                "or tooManyRequests");
}

ApiError usageLimit(int status, const QString &reason, const QString &message)
{
    ApiError e(status, reason, message);
    e.domain = u"usageLimits"_s;
    return e;
}

qint64 ceilSeconds(std::chrono::nanoseconds wait)
{
    return std::max<qint64>(1, (wait.count() + 999'999'999) / 1'000'000'000);
}

} // namespace

bool LimitSettings::any() const
{
    return writesPerSecond > 0 || queriesPerMinute > 0 || backend429Every > 0 ||
           backend429Probability > 0 || dailyUploadBytes > 0;
}

QJsonObject LimitSettings::toJson() const
{
    return QJsonObject{{u"writesPerSecond"_s, writesPerSecond},
                       {u"writeBurst"_s, writeBurst},
                       {u"writeRefusal"_s, refusalName(writeRefusal)},
                       {u"queriesPerMinute"_s, queriesPerMinute},
                       {u"queryRefusal"_s, refusalName(queryRefusal)},
                       {u"retryAfter"_s, retryAfter},
                       {u"backend429Every"_s, backend429Every},
                       {u"backend429Probability"_s, backend429Probability},
                       {u"backend429RetryAfter"_s, backend429RetryAfter},
                       {u"backend429Html"_s, backend429Html},
                       {u"dailyUploadBytes"_s, QString::number(dailyUploadBytes)},
                       {u"dailyUploadReason"_s, dailyUploadReason}};
}

LimitSettings LimitSettings::patched(const QJsonObject &json) const
{
    LimitSettings s = *this;
    auto integer = [&](const QString &key, qint64 current) -> qint64 {
        if (!json.contains(key))
            return current;
        if (const auto n = jsonInteger(json.value(key), current))
            return *n;
        throw std::invalid_argument("malformed number in limits");
    };
    auto real = [&](const QString &key, double current) {
        const QJsonValue v = json.value(key);
        if (v.isUndefined())
            return current;
        bool ok = v.isDouble();
        const double d = ok ? v.toDouble() : v.toString().toDouble(&ok);
        if (!ok || !std::isfinite(d))
            throw std::invalid_argument("malformed number in limits");
        return d;
    };
    static const QSet<QString> known{u"writesPerSecond"_s,      u"writeBurst"_s,
                                     u"writeRefusal"_s,         u"queriesPerMinute"_s,
                                     u"queryRefusal"_s,         u"retryAfter"_s,
                                     u"backend429Every"_s,      u"backend429Probability"_s,
                                     u"backend429RetryAfter"_s, u"backend429Html"_s,
                                     u"dailyUploadBytes"_s,     u"dailyUploadReason"_s};
    for (auto it = json.begin(); it != json.end(); ++it)
        if (!known.contains(it.key()))
            throw std::invalid_argument("unknown limit: " + it.key().toStdString());

    s.writesPerSecond = real(u"writesPerSecond"_s, writesPerSecond);
    s.writeBurst = int(integer(u"writeBurst"_s, writeBurst));
    if (json.contains(u"writeRefusal"_s))
        s.writeRefusal = refusalFrom(json.value(u"writeRefusal"_s));
    s.queriesPerMinute = int(integer(u"queriesPerMinute"_s, queriesPerMinute));
    if (json.contains(u"queryRefusal"_s))
        s.queryRefusal = refusalFrom(json.value(u"queryRefusal"_s));
    s.retryAfter = json.value(u"retryAfter"_s).toBool(retryAfter);
    s.backend429Every = int(integer(u"backend429Every"_s, backend429Every));
    s.backend429Probability = real(u"backend429Probability"_s, backend429Probability);
    s.backend429RetryAfter = int(integer(u"backend429RetryAfter"_s, backend429RetryAfter));
    s.backend429Html = json.value(u"backend429Html"_s).toBool(backend429Html);
    s.dailyUploadBytes = integer(u"dailyUploadBytes"_s, dailyUploadBytes);
    s.dailyUploadReason = json.value(u"dailyUploadReason"_s).toString(dailyUploadReason);

    // Rates outside these bounds would overflow the bucket's nanosecond arithmetic.
    if (s.writesPerSecond < 0 || s.writesPerSecond > 1e6 ||
        (s.writesPerSecond > 0 && s.writesPerSecond < 0.001) || s.writeBurst < 0 ||
        s.writeBurst > 1'000'000 || s.queriesPerMinute < 0 || s.queriesPerMinute > 10'000'000 ||
        s.backend429Every < 0 || s.backend429Probability < 0 || s.backend429Probability > 1 ||
        s.backend429RetryAfter > 86400 || s.dailyUploadBytes < 0)
        throw std::invalid_argument("limit out of range");
    if (s.dailyUploadReason != u"dailyLimitExceeded"_s &&
        s.dailyUploadReason != u"userRateLimitExceeded"_s)
        throw std::invalid_argument(
            "dailyUploadReason must be dailyLimitExceeded or userRateLimitExceeded");
    return s;
}

Limits::Limits(Clock clock)
    : m_clock(std::move(clock))
{
    if (!m_clock) {
        const auto start = std::chrono::steady_clock::now();
        m_clock = [start] { return std::chrono::steady_clock::now() - start; };
    }
}

std::chrono::nanoseconds Limits::nowLocked() const
{
    return m_clock() + m_offset;
}

LimitSettings Limits::settings() const
{
    std::lock_guard lock(m_mutex);
    return m_settings;
}

std::chrono::nanoseconds Limits::writeInterval() const
{
    return std::chrono::nanoseconds(qint64(std::llround(1e9 / m_settings.writesPerSecond)));
}

std::chrono::nanoseconds Limits::writeTolerance() const
{
    const int burst = m_settings.writeBurst > 0
                          ? m_settings.writeBurst
                          : std::max(1, int(std::ceil(m_settings.writesPerSecond)));
    return writeInterval() * (burst - 1);
}

void Limits::setSettings(const LimitSettings &settings)
{
    std::lock_guard lock(m_mutex);
    const auto now = nowLocked();
    const bool hadRate = m_settings.writesPerSecond > 0;
    const bool hasRate = settings.writesPerSecond > 0;
    if (hadRate && hasRate && settings.writesPerSecond != m_settings.writesPerSecond) {
        // What a user owes is kept in tokens, then repaid at the new rate.
        const double oldInterval = double(writeInterval().count());
        const double newInterval = std::llround(1e9 / settings.writesPerSecond);
        for (User &u : m_users) {
            if (u.writeTat > now) {
                const double owed = double((u.writeTat - now).count()) / oldInterval;
                u.writeTat = now + std::chrono::nanoseconds(qint64(owed * newInterval));
            }
        }
    } else if (!hadRate) {
        for (User &u : m_users)
            u.writeTat = std::chrono::nanoseconds::min();
    }
    m_settings = settings;
}

void Limits::reset()
{
    std::lock_guard lock(m_mutex);
    m_settings = LimitSettings();
    m_users.clear();
    m_seen = 0;
    m_accepted = 0;
    m_refused.clear();
}

void Limits::advance(std::chrono::nanoseconds by)
{
    std::lock_guard lock(m_mutex);
    m_offset += by;
}

bool Limits::active() const
{
    std::lock_guard lock(m_mutex);
    return m_settings.any();
}

std::optional<Limits::Kind> Limits::classify(const QString &method, const QString &path,
                                             bool hasUploadId)
{
    if (path.startsWith(u"/upload/drive/v3/"_s)) {
        if (hasUploadId)
            return Kind::Upload;
        return method == u"POST"_s && path == u"/upload/drive/v3/files"_s ? Kind::Creation
                                                                          : Kind::Query;
    }
    if (!path.startsWith(u"/drive/v3/"_s))
        return std::nullopt;
    if (method == u"POST"_s) {
        static const QRegularExpression copy(u"^/drive/v3/files/[^/]+/copy$"_s);
        if (path == u"/drive/v3/files"_s || copy.match(path).hasMatch())
            return Kind::Creation;
    }
    return Kind::Query;
}

void Limits::startDay(User &user, std::chrono::nanoseconds now) const
{
    const qint64 n = now.count(), d = day.count();
    const qint64 today = n >= 0 ? n / d : -((-n + d - 1) / d);
    if (user.day != today) {
        user.day = today;
        user.uploadedToday = 0;
    }
}

Limits::Refused Limits::budgetRefusal(LimitSettings::Refusal how, const QString &limit,
                                      std::chrono::nanoseconds wait) const
{
    Refused r;
    r.limit = limit;
    switch (how) {
    case LimitSettings::Refusal::UserRateLimit:
        r.error = usageLimit(403, u"userRateLimitExceeded"_s, u"User rate limit exceeded."_s);
        break;
    case LimitSettings::Refusal::RateLimit:
        r.error = usageLimit(403, u"rateLimitExceeded"_s, u"Rate Limit Exceeded"_s);
        break;
    case LimitSettings::Refusal::TooManyRequests:
        r.error = usageLimit(429, u"rateLimitExceeded"_s, u"Rate Limit Exceeded"_s);
        break;
    }
    if (m_settings.retryAfter)
        r.retryAfterSeconds = ceilSeconds(wait);
    return r;
}

std::optional<Limits::Refused> Limits::admit(const Request &request)
{
    std::lock_guard lock(m_mutex);
    const LimitSettings &s = m_settings;
    if (!s.any())
        return std::nullopt;
    const auto now = nowLocked();
    User &user = m_users[request.user.toLower()];
    auto refuse = [&](Refused r) {
        ++m_refused[r.limit];
        return std::optional<Refused>(std::move(r));
    };

    ++m_seen;
    if ((s.backend429Every > 0 && m_seen % s.backend429Every == 0) ||
        (s.backend429Probability > 0 && m_random.generateDouble() < s.backend429Probability)) {
        Refused r;
        r.limit = u"backend429"_s;
        r.error = usageLimit(429, u"rateLimitExceeded"_s, u"Rate Limit Exceeded"_s);
        if (s.backend429RetryAfter >= 0)
            r.retryAfterSeconds = s.backend429RetryAfter;
        if (s.backend429Html)
            r.html = FaultRule::respondHtml(429).body;
        return refuse(std::move(r));
    }

    if (s.queriesPerMinute > 0) {
        while (!user.queries.empty() && user.queries.front() <= now - window)
            user.queries.pop_front();
        if (qsizetype(user.queries.size()) >= s.queriesPerMinute)
            return refuse(
                budgetRefusal(s.queryRefusal, u"queryRate"_s, user.queries.front() + window - now));
    }

    std::optional<std::chrono::nanoseconds> writeTat;
    if (request.kind == Kind::Creation && s.writesPerSecond > 0) {
        const auto tat = std::max(user.writeTat, now);
        const auto tolerance = writeTolerance();
        if (tat - now > tolerance)
            return refuse(budgetRefusal(s.writeRefusal, u"writeRate"_s, tat - now - tolerance));
        writeTat = tat + writeInterval();
    }

    if (s.dailyUploadBytes > 0 && request.uploadBytes > 0) {
        startDay(user, now);
        if (user.uploadedToday + request.uploadBytes > s.dailyUploadBytes) {
            // Not a rate limit: no Retry-After, and trying again today only adds refusals.
            Refused r;
            r.limit = u"dailyUpload"_s;
            r.error = s.dailyUploadReason == u"userRateLimitExceeded"_s
                          ? usageLimit(403, s.dailyUploadReason, u"User rate limit exceeded."_s)
                          : usageLimit(403, s.dailyUploadReason, u"Daily Limit Exceeded"_s);
            return refuse(std::move(r));
        }
    }

    if (s.queriesPerMinute > 0)
        user.queries.push_back(now);
    if (writeTat)
        user.writeTat = *writeTat;
    ++m_accepted;
    return std::nullopt;
}

void Limits::uploaded(const QString &user, qint64 bytes)
{
    if (bytes <= 0)
        return;
    std::lock_guard lock(m_mutex);
    if (m_settings.dailyUploadBytes <= 0)
        return;
    User &u = m_users[user.toLower()];
    startDay(u, nowLocked());
    u.uploadedToday += bytes;
}

QJsonObject Limits::counters() const
{
    std::lock_guard lock(m_mutex);
    const auto now = nowLocked();
    QJsonObject refused;
    for (const QString &name : {u"queryRate"_s, u"writeRate"_s, u"backend429"_s, u"dailyUpload"_s})
        refused.insert(name, m_refused.value(name));
    QJsonArray users;
    for (auto it = m_users.cbegin(); it != m_users.cend(); ++it) {
        const User &u = it.value();
        QJsonObject o{{u"user"_s, it.key()}};
        if (m_settings.writesPerSecond > 0) {
            const auto interval = writeInterval();
            const auto owed = std::max(u.writeTat, now) - now;
            o.insert(u"writeTokens"_s, qint64((writeTolerance() + interval - owed) / interval));
        }
        if (m_settings.queriesPerMinute > 0) {
            qint64 inWindow = 0;
            for (const auto t : u.queries)
                inWindow += t > now - window ? 1 : 0;
            o.insert(u"queriesInWindow"_s, inWindow);
        }
        if (m_settings.dailyUploadBytes > 0) {
            User today = u;
            startDay(today, now);
            o.insert(u"uploadedToday"_s, QString::number(today.uploadedToday));
        }
        users.append(o);
    }
    const qint64 intoDay = ((now % day) + day) % day / 1ms;
    return QJsonObject{{u"accepted"_s, m_accepted},
                       {u"refused"_s, refused},
                       {u"dayEndsInMs"_s, (day / 1ms) - intoDay},
                       {u"users"_s, users}};
}

} // namespace Tarnwick::Emulator
