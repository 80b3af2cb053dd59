#pragma once

#include "records/errors.h"
#include "auth/keychainstore.h"
#include "async/runsync.h"

#include <QCoroTask>
#include <QHostAddress>
#include <QTcpSocket>
#include <QUrl>

#include <exception>
#include <memory>
#include <optional>
#include <type_traits>
#include <variant>

namespace Tarnwick::Testing {

// The outcome of a coroutine started by start(); done once it returned or threw.
template<typename T> struct Captured
{
    using Value = std::conditional_t<std::is_void_v<T>, std::monostate, T>;
    bool done = false;
    std::optional<Value> value;
    std::exception_ptr error;

    // The user-facing text of the error, or empty when there is none.
    QString errorText() const
    {
        if (!error)
            return {};
        try {
            std::rethrow_exception(error);
        } catch (const std::exception &e) {
            return describe(e);
        }
    }
    bool cancelled() const
    {
        if (!error)
            return false;
        try {
            std::rethrow_exception(error);
        } catch (const Cancelled &) {
            return true;
        } catch (...) {
            return false;
        }
    }
};

template<typename T>
QCoro::Task<> captureInto(QCoro::Task<T> task, std::shared_ptr<Captured<T>> out)
{
    try {
        if constexpr (std::is_void_v<T>) {
            co_await task;
            out->value = std::monostate{};
        } else {
            out->value = co_await task;
        }
    } catch (...) {
        out->error = std::current_exception();
    }
    out->done = true;
}

// Runs a task without waiting for it; the event loop drives it (see waitUntil).
template<typename T> std::shared_ptr<Captured<T>> start(QCoro::Task<T> task)
{
    auto out = std::make_shared<Captured<T>>();
    captureInto(std::move(task), out);
    return out;
}

// Runs a task to its end: the text of its failure, or "(no failure)".
template<typename T> QString failureOf(QCoro::Task<T> task)
{
    try {
        runSync(std::move(task));
    } catch (const std::exception &e) {
        return describe(e);
    }
    return QStringLiteral("(no failure)");
}

// A keychain store on a service of its own, so tests and earlier runs never see each other's
// items.
KeychainStore freshStore();

// A plain TCP client for poking at a local server byte by byte.
class RawClient final
{
public:
    explicit RawClient(quint16 port);

    bool connected() const { return m_socket.state() == QAbstractSocket::ConnectedState; }
    // Whether the connection attempt was refused (nothing listens on the port).
    bool refused() const;
    void send(const QByteArray &bytes);
    // Waits until the server closed the connection; false on timeout.
    bool waitClosed(std::chrono::milliseconds timeout = std::chrono::seconds(5));
    // Whether the connection is still open after the server had a moment to react.
    bool staysOpen(std::chrono::milliseconds grace = std::chrono::milliseconds(150));
    QByteArray received();

private:
    QTcpSocket m_socket;
    QByteArray m_received;
};

quint16 portOf(const QString &url);

} // namespace Tarnwick::Testing

namespace Tarnwick::Testing::Keyring {

// Locks or unlocks the Secret Service's default collection of the test session (whose password
// is the one scripts/with-test-session.sh gives gnome-keyring). Each returns whether it worked.
bool lock();
bool unlock();
bool locked();

// Locks the keyring for one scope and unlocks it again, whatever the test's outcome.
struct LockedScope
{
    bool ok = lock();
    ~LockedScope() { unlock(); }
};

} // namespace Tarnwick::Testing::Keyring

class QTcpServer;

namespace Tarnwick::Testing {

// A token endpoint on 127.0.0.1 that records each request's body and answers with a canned
// status and body, for checking exactly what a client sends.
class FakeTokenEndpoint final
{
public:
    FakeTokenEndpoint();
    ~FakeTokenEndpoint();

    QUrl url() const;
    void answer(int status, QByteArray body);
    const QList<QByteArray> &bodies() const { return m_bodies; }

private:
    void serve(QTcpSocket *socket);

    std::unique_ptr<QTcpServer> m_server;
    int m_status = 200;
    QByteArray m_body;
    QList<QByteArray> m_bodies;
};

} // namespace Tarnwick::Testing
