#pragma once

#include <QByteArray>
#include <QString>

#include <exception>

namespace Tarnwick {

// Base of every failure the user may read: description() is exactly the text shown.
class Failure : public std::exception
{
public:
    virtual QString description() const = 0;
    const char *what() const noexcept override;

private:
    mutable QByteArray m_what;
};

// A failure Tarnwick detects itself; its message is shown as it stands.
class TarnwickError final : public Failure
{
public:
    explicit TarnwickError(QString message)
        : m_message(std::move(message))
    {
    }
    const QString &message() const { return m_message; }
    QString description() const override { return m_message; }
    bool operator==(const TarnwickError &other) const { return m_message == other.m_message; }

private:
    QString m_message;
};

// A file-system or network failure carrying the system's own description.
class SystemError final : public Failure
{
public:
    explicit SystemError(QString description, int code = 0)
        : m_description(std::move(description))
        , m_code(code)
    {
    }
    // Wraps errno with strerror's text; a full disk (or quota) gets fullDiskMessage() instead.
    static SystemError fromErrno(int err);
    static QString fullDiskMessage();
    QString description() const override { return m_description; }
    int code() const { return m_code; }

private:
    QString m_description;
    int m_code;
};

// A request that failed on the way: connection refused or reset, name not resolved, no bytes
// moving for the request's inactivity limit, a TLS failure. Its description is for the user; the
// network library's own text is kept as the detail. Every NetworkError is a transport failure that
// may go away when the request is sent again later; a failure of the local disk during a transfer
// is a SystemError instead.
class NetworkError final : public Failure
{
public:
    explicit NetworkError(QString description, int code = 0, bool timedOut = false,
                          QString detail = {})
        : m_description(std::move(description))
        , m_code(code)
        , m_timedOut(timedOut)
        , m_detail(std::move(detail))
    {
    }
    QString description() const override { return m_description; }
    // The network library's error code (a CURLcode).
    int code() const { return m_code; }
    // True when the inactivity or connect limit ended the request.
    bool timedOut() const { return m_timedOut; }
    // The network library's text, for logs.
    const QString &detail() const { return m_detail; }

private:
    QString m_description;
    int m_code;
    bool m_timedOut;
    QString m_detail;
};

// Thrown when an operation was cancelled; never shown to the user.
class Cancelled final : public std::exception
{
public:
    const char *what() const noexcept override { return "cancelled"; }
};

// The user-facing text of any exception: the description of a Failure, otherwise what().
QString describe(const std::exception &e);

} // namespace Tarnwick
