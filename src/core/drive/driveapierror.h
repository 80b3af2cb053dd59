#pragma once

#include "records/errors.h"

#include <chrono>
#include <optional>

namespace Tarnwick {

// Google answered a Drive request with a status the operation does not accept. The description is
// exactly the Vietnamese message; Google's own (English) text, when it sent one, is kept apart as
// the detail, for a user who opens it, never as the message.
class DriveAPIError final : public Failure
{
public:
    // Which of Google's limits refused the request, if any. A rate limit passes with time; a full
    // Drive and the daily upload cap stop every new write until the user acts or the day turns.
    enum class Limit { None, Rate, StorageFull, DailyUpload };

    DriveAPIError(int status, QString message, bool retryable, QString detail = {})
        : m_status(status)
        , m_message(std::move(message))
        , m_retryable(retryable)
        , m_detail(std::move(detail))
    {
    }

    // The status code of the answer.
    int status() const { return m_status; }
    const QString &message() const { return m_message; }
    // Whether the same request may succeed when sent again later.
    bool retryable() const { return m_retryable; }
    QString description() const override { return m_message; }
    // Google's text from the error envelope; empty when there was none.
    const QString &detail() const { return m_detail; }

    Limit limit() const { return m_limit; }
    // Retry-After of the answer, when Google sent one.
    std::optional<std::chrono::milliseconds> retryAfter() const { return m_retryAfter; }
    DriveAPIError &setLimit(Limit limit, std::optional<std::chrono::milliseconds> retryAfter)
    {
        m_limit = limit;
        m_retryAfter = retryAfter;
        return *this;
    }
    // A full Drive or the daily cap: no write can succeed until the user acts.
    bool stopsWrites() const { return m_limit == Limit::StorageFull || m_limit == Limit::DailyUpload; }

    bool operator==(const DriveAPIError &other) const
    {
        return m_status == other.m_status && m_message == other.m_message &&
               m_retryable == other.m_retryable && m_detail == other.m_detail &&
               m_limit == other.m_limit && m_retryAfter == other.m_retryAfter;
    }

private:
    int m_status;
    QString m_message;
    bool m_retryable;
    QString m_detail;
    Limit m_limit = Limit::None;
    std::optional<std::chrono::milliseconds> m_retryAfter;
};

} // namespace Tarnwick
