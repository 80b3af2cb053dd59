#pragma once

#include "records/errors.h"

namespace Tarnwick {

// Google answered a Drive request with a status the operation does not accept. The description is
// exactly the Vietnamese message; Google's own (English) text, when it sent one, is kept apart as
// the detail, for a user who opens it, never as the message.
class DriveAPIError final : public Failure
{
public:
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

    bool operator==(const DriveAPIError &other) const
    {
        return m_status == other.m_status && m_message == other.m_message &&
               m_retryable == other.m_retryable && m_detail == other.m_detail;
    }

private:
    int m_status;
    QString m_message;
    bool m_retryable;
    QString m_detail;
};

} // namespace Tarnwick
