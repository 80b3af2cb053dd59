#pragma once

#include <QCoroTask>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

#include <chrono>
#include <coroutine>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <variant>
#include <vector>

class QTcpServer;
class QTcpSocket;
class QTimer;

namespace Tarnwick {

// The one-shot web server that receives the browser's OAuth redirect on 127.0.0.1.
//
// receive() listens on a port the system picks, hands the redirect URI to its caller, and waits
// for exactly one well-formed "GET /oauth/callback?…" request (with the expected state, when one
// is set). That request is answered with a
// small page and its URL becomes the result. Other requests (a browser's icon request, a foreign
// path, an oversized or malformed head, a connection that has not sent its whole head within
// requestLimit) only close their own connection. The wait ends after
// 900 seconds, or earlier when finish() is called from outside. Only the first outcome counts;
// the port is closed as soon as there is one. One instance per sign-in attempt, main thread
// only, never reused.
class OAuthLoopback final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(OAuthLoopback)

public:
    struct Result
    {
        // The redirect URI's scheme, host and port followed by the request's target.
        QUrl url;
        // The redirect URI given to the caller.
        QString redirect;

        bool operator==(const Result &) const = default;
    };
    using Outcome = std::variant<Result, std::exception_ptr>;

    // Bytes asked for per read, and the most a connection may send before its head is complete.
    static constexpr qint64 readChunk = 8192;
    static constexpr qint64 headLimit = 16384;
    static constexpr std::chrono::seconds waitLimit{900};
    // A browser sends its request as soon as it connects; a connection that stays silent (or
    // trickles) this long only holds a socket and is closed.
    static constexpr std::chrono::seconds requestLimit{10};

    // The page answered for an accepted callback, and the full HTTP answer around it.
    static QByteArray page();
    static QByteArray answer();
    static QString timeoutMessage();

    explicit OAuthLoopback(QObject *parent = nullptr);
    // A wait still pending ends with Cancelled.
    ~OAuthLoopback() override;

    // Listens, calls open(redirect URI) once the port is known, and completes with the first
    // outcome. A failure to listen is a SystemError; the timeout is a TarnwickError; an
    // exception thrown by open ends the wait with that exception. Call at most once.
    QCoro::Task<Result> receive(std::function<void(const QString &redirect)> open);

    // Only a callback carrying this state ends the wait; one with another state (anyone on the
    // machine may send one) is answered with rejectedAnswer() and the wait goes on. Call before
    // receive(); without it any callback is accepted.
    void expectState(QString state) { m_expectedState = std::move(state); }
    static QByteArray rejectedAnswer();

    // Delivers an outcome to the waiting receive() and closes the listener and every
    // connection. Ignored once an outcome was delivered, or before receive().
    void finish(Outcome outcome);
    // finish() with Cancelled.
    void cancel();

    // The redirect URI; empty until the listener is ready.
    QString redirect() const { return m_redirect; }
    // Whether receive() is still waiting (the port is open and the timer runs).
    bool waiting() const { return m_continuation != nullptr; }

private:
    struct Wait
    {
        std::optional<Outcome> outcome;
        std::coroutine_handle<> handle;
    };
    struct Connection
    {
        QPointer<QTcpSocket> socket;
        // Closes the connection when the head is not complete in time.
        QPointer<QTimer> deadline;
        QByteArray buffer;
        bool reading = true;
        // Set once the answer is on its way; the outcome follows when it has been sent.
        std::optional<QUrl> answered;
    };
    struct Awaiter
    {
        std::shared_ptr<Wait> wait;
        bool await_ready() const noexcept { return wait->outcome.has_value(); }
        void await_suspend(std::coroutine_handle<> h) noexcept { wait->handle = h; }
        Result await_resume() const;
    };

    void accept();
    void readAvailable(Connection *connection);
    void peerGone(Connection *connection);
    // One read's worth of bytes; returns false once the connection is no longer read.
    bool consume(Connection *connection, const QByteArray &bytes, bool complete);
    void respond(Connection *connection, const QString &target);
    void answerSent(Connection *connection);
    void drop(Connection *connection);
    Connection *find(QTcpSocket *socket);

    std::shared_ptr<Wait> m_continuation;
    bool m_started = false;
    QTcpServer *m_listener = nullptr;
    QTimer *m_timeout = nullptr;
    std::vector<std::unique_ptr<Connection>> m_connections;
    QString m_redirect;
    std::optional<QString> m_expectedState;
};

} // namespace Tarnwick
