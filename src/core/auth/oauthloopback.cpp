#include "auth/oauthloopback.h"

#include "async/async.h"
#include "async/clock.h"
#include "auth/oauthutilities.h"
#include "records/errors.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <stdexcept>

using namespace Qt::StringLiterals;

namespace Tarnwick {

QByteArray OAuthLoopback::page()
{
    return "<!doctype html><meta charset='utf-8'><title>Tarnwick</title><body style='font:18px "
           "system-ui;padding:64px;background:#101923;color:#fff'><h1>Tarnwick</h1><p>Da nhan phan "
           "hoi Google. Hay quay lai Tarnwick de xem ket qua ket noi.</p></body>"_ba;
}

QByteArray OAuthLoopback::answer()
{
    const QByteArray body = page();
    return "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: "_ba +
           QByteArray::number(body.size()) +
           "\r\nConnection: close\r\nCache-Control: no-store\r\n\r\n"_ba + body;
}

QByteArray OAuthLoopback::rejectedAnswer()
{
    const QByteArray body =
        "<!doctype html><meta charset='utf-8'><title>Tarnwick</title><body style='font:18px "
        "system-ui;padding:64px;background:#101923;color:#fff'><h1>Tarnwick</h1><p>Yeu cau nay "
        "khong thuoc lan dang nhap dang cho. Hay quay lai Tarnwick.</p></body>"_ba;
    return "HTTP/1.1 400 Bad Request\r\nContent-Type: text/html; charset=utf-8\r\n"
           "Content-Length: "_ba +
           QByteArray::number(body.size()) +
           "\r\nConnection: close\r\nCache-Control: no-store\r\n\r\n"_ba + body;
}

QString OAuthLoopback::timeoutMessage()
{
    return u"Hết thời gian chờ đăng nhập (15 phút). Hãy bấm Đăng nhập Google lại và hoàn tất trong "
           u"trình duyệt; nếu gặp màn \"Google chưa xác minh ứng dụng này\", bấm Nâng cao → Đi tới "
           u"Tarnwick."_s;
}

OAuthLoopback::OAuthLoopback(QObject *parent)
    : QObject(parent)
{
}

OAuthLoopback::~OAuthLoopback()
{
    cancel();
}

OAuthLoopback::Result OAuthLoopback::Awaiter::await_resume() const
{
    if (auto *error = std::get_if<std::exception_ptr>(&*wait->outcome))
        std::rethrow_exception(*error);
    return std::get<Result>(*wait->outcome);
}

QCoro::Task<OAuthLoopback::Result> OAuthLoopback::receive(std::function<void(const QString &)> open)
{
    if (m_started)
        throw std::logic_error("OAuthLoopback::receive called twice");
    m_started = true;
    // The frame keeps its own reference: the outcome outlives this object if it is deleted.
    const auto wait = std::make_shared<Wait>();
    m_continuation = wait;

    m_listener = new QTcpServer(this);
    connect(m_listener, &QTcpServer::acceptError, this, [this](QAbstractSocket::SocketError) {
        finish(std::make_exception_ptr(SystemError(m_listener->errorString())));
    });
    connect(m_listener, &QTcpServer::newConnection, this, &OAuthLoopback::accept);
    if (!m_listener->listen(QHostAddress::LocalHost, 0)) {
        finish(std::make_exception_ptr(SystemError(m_listener->errorString())));
    } else {
        m_timeout = new QTimer(this);
        m_timeout->setSingleShot(true);
        m_timeout->setTimerType(Qt::PreciseTimer);
        connect(m_timeout, &QTimer::timeout, this, [this] {
            Clock::current().waited(waitLimit);
            finish(std::make_exception_ptr(TarnwickError(timeoutMessage())));
        });
        m_timeout->start(Clock::current().realDuration(waitLimit));

        m_redirect = u"http://127.0.0.1:%1/oauth/callback"_s.arg(m_listener->serverPort());
        try {
            open(m_redirect);
        } catch (...) {
            finish(std::current_exception());
        }
    }
    // Named first: g++ 12 destroys a temporary inside a co_await expression twice, which released
    // the shared Wait one time too many (a use after free AddressSanitizer caught).
    Awaiter awaiter{wait};
    co_return co_await awaiter;
}

void OAuthLoopback::finish(Outcome outcome)
{
    const std::shared_ptr<Wait> wait = std::exchange(m_continuation, nullptr);
    if (!wait)
        return;
    if (m_timeout) {
        m_timeout->stop();
        m_timeout->deleteLater();
        m_timeout = nullptr;
    }
    if (m_listener) {
        m_listener->disconnect(this);
        m_listener->close();
        m_listener->deleteLater();
        m_listener = nullptr;
    }
    for (const auto &connection : m_connections) {
        if (connection->deadline)
            connection->deadline->stop();
        if (QTcpSocket *socket = connection->socket) {
            socket->disconnect(this);
            socket->abort();
            socket->deleteLater();
        }
    }
    m_connections.clear();

    wait->outcome = std::move(outcome);
    // Resumed from the event loop, never inside a socket's signal. The waiter holds its own
    // reference to the outcome, so this also works while this object is being destroyed.
    if (wait->handle)
        postResume(wait->handle);
}

void OAuthLoopback::cancel()
{
    finish(std::make_exception_ptr(Cancelled()));
}

void OAuthLoopback::accept()
{
    while (m_listener && m_listener->hasPendingConnections()) {
        QTcpSocket *socket = m_listener->nextPendingConnection();
        // Qt buffers at most one read's worth, so a flood never grows past the head limit.
        socket->setReadBufferSize(readChunk);
        auto owned = std::make_unique<Connection>();
        owned->socket = socket;
        Connection *connection = owned.get();
        m_connections.push_back(std::move(owned));

        connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
            if (Connection *c = find(socket))
                readAvailable(c);
        });
        connect(socket, &QTcpSocket::bytesWritten, this, [this, socket] {
            Connection *c = find(socket);
            if (c && c->answered && socket->bytesToWrite() == 0)
                answerSent(c);
        });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            if (Connection *c = find(socket))
                peerGone(c);
        });
        connect(socket, &QTcpSocket::errorOccurred, this, [this, socket] {
            if (Connection *c = find(socket))
                peerGone(c);
        });
        auto *deadline = new QTimer(socket);
        deadline->setSingleShot(true);
        connect(deadline, &QTimer::timeout, this, [this, socket] {
            Connection *c = find(socket);
            if (c && c->reading) {
                Clock::current().waited(requestLimit);
                drop(c);
            }
        });
        deadline->start(Clock::current().realDuration(requestLimit));
        connection->deadline = deadline;
        readAvailable(connection);
    }
}

OAuthLoopback::Connection *OAuthLoopback::find(QTcpSocket *socket)
{
    for (const auto &connection : m_connections) {
        if (connection->socket == socket)
            return connection.get();
    }
    return nullptr;
}

void OAuthLoopback::readAvailable(Connection *connection)
{
    while (connection->reading && connection->socket && connection->socket->bytesAvailable() > 0) {
        if (!consume(connection, connection->socket->read(readChunk), false))
            return;
    }
}

void OAuthLoopback::peerGone(Connection *connection)
{
    if (connection->answered) {
        answerSent(connection);
        return;
    }
    // Bytes that came with the close still count; a head that stays incomplete is dropped.
    readAvailable(connection);
    if (connection->reading)
        consume(connection, {}, true);
}

bool OAuthLoopback::consume(Connection *connection, const QByteArray &bytes, bool complete)
{
    connection->buffer += bytes;
    if (connection->buffer.size() > headLimit) {
        drop(connection);
        return false;
    }

    const auto request = OAuthUtilities::readLoopbackRequest(connection->buffer);
    switch (request.kind) {
    case OAuthUtilities::LoopbackRequest::Kind::Incomplete:
        if (complete)
            drop(connection);
        return !complete;
    case OAuthUtilities::LoopbackRequest::Kind::Refused:
        drop(connection);
        return false;
    case OAuthUtilities::LoopbackRequest::Kind::Callback:
        respond(connection, request.target);
        return false;
    }
    return false;
}

void OAuthLoopback::respond(Connection *connection, const QString &target)
{
    const QUrl url(m_redirect.left(m_redirect.indexOf(u"/oauth/"_s)) + target, QUrl::StrictMode);
    if (!url.isValid()) {
        drop(connection);
        return;
    }
    connection->reading = false;
    if (connection->deadline)
        connection->deadline->stop();
    QTcpSocket *socket = connection->socket;
    // Checked here, not after the wait: a callback with a foreign state must not end a sign-in
    // in progress.
    if (m_expectedState && !OAuthUtilities::carriesState(url, *m_expectedState)) {
        if (socket->write(rejectedAnswer()) < 0)
            drop(connection);
        else
            socket->disconnectFromHost();
        return;
    }
    connection->answered = url;
    if (socket->write(answer()) < 0) {
        answerSent(connection);
        return;
    }
    socket->disconnectFromHost();
}

void OAuthLoopback::answerSent(Connection *connection)
{
    Result result{*connection->answered, m_redirect};
    // Not inside the socket's own signal: finish() aborts and deletes that socket.
    QMetaObject::invokeMethod(
        this, [this, result] { finish(result); }, Qt::QueuedConnection);
}

void OAuthLoopback::drop(Connection *connection)
{
    connection->reading = false;
    if (connection->deadline)
        connection->deadline->stop();
    if (QTcpSocket *socket = connection->socket) {
        socket->disconnect(this);
        socket->abort();
        socket->deleteLater();
    }
}

} // namespace Tarnwick
