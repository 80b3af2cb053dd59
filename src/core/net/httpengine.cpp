#include "net/httpengine.h"

#include "async/async.h"
#include "async/clock.h"
#include "net/httpworker.h"

#include <QCoreApplication>
#include <QHostAddress>
#include <QThread>

using namespace Qt::StringLiterals;

namespace Tarnwick {

namespace {

// g++ 12 copies awaiters passed through QCoro's await_transform: keep this one a plain pointer.
struct ExchangeAwaiter
{
    HttpExchange *exchange;
    bool await_ready() const noexcept { return exchange->done; }
    void await_suspend(std::coroutine_handle<> handle) noexcept { exchange->waiter = handle; }
    void await_resume() const noexcept {}
};

bool safeHeaderText(const QByteArray &text)
{
    return !text.contains('\r') && !text.contains('\n') && !text.contains('\0');
}

} // namespace

HttpEngine::HttpEngine()
    : m_worker(std::make_shared<HttpWorker>())
{
}

HttpEngine::~HttpEngine()
{
    m_worker->stop();
}

bool HttpEngine::isAllowedUrl(const QUrl &url)
{
    if (!url.isValid() || url.host().isEmpty())
        return false;
    const QString scheme = url.scheme().toLower();
    if (scheme == u"https"_s)
        return true;
    if (scheme != u"http"_s)
        return false;
    const QString host = url.host();
    if (host.compare(u"localhost"_s, Qt::CaseInsensitive) == 0)
        return true;
    QHostAddress address;
    return address.setAddress(host) && address.isLoopback();
}

int HttpEngine::requestsInFlight() const
{
    return m_worker->inFlight();
}

bool HttpEngine::hasPendingWork() const
{
    return m_worker->inFlight() > 0 || m_worker->undelivered() > 0;
}

QCoro::Task<HttpResponse> HttpEngine::send(HttpRequest request, std::stop_token token)
{
    Q_ASSERT(QCoreApplication::instance() &&
             QThread::currentThread() == QCoreApplication::instance()->thread());
    throwIfStopped(token);
    if (!isAllowedUrl(request.url))
        throw TarnwickError(u"Tarnwick chỉ kết nối qua HTTPS; địa chỉ %1 bị từ chối."_s.arg(
            request.url.toString(QUrl::RemoveUserInfo | QUrl::RemovePath | QUrl::RemoveQuery |
                                 QUrl::RemoveFragment)));
    // A line break in a header would let one header smuggle in others.
    for (const auto &[name, value] : request.headers) {
        if (name.isEmpty() || name.contains(':') || !safeHeaderText(name) || !safeHeaderText(value))
            throw TarnwickError(u"Invalid HTTP header %1"_s.arg(QString::fromLatin1(name)));
    }
    if (!safeHeaderText(request.method) || request.method.contains(' ') || request.method.isEmpty())
        throw TarnwickError(u"Invalid HTTP method"_s);

    auto exchange = std::make_shared<HttpExchange>(
        std::move(request), Clock::current().realInterval(HttpRequest::progressInterval));
    m_worker->submit(exchange);
    std::weak_ptr<HttpWorker> worker = m_worker;
    std::weak_ptr<HttpExchange> weakExchange = exchange;
    // Cancelling asks the worker to take the request off; the coroutine resumes only when the
    // worker has done so, so the body and sink are never touched after send() ends.
    std::stop_callback onStop(token, [worker, weakExchange] {
        const auto w = worker.lock();
        const auto x = weakExchange.lock();
        if (w && x)
            w->cancel(x);
    });
    co_await ExchangeAwaiter{exchange.get()};
    if (exchange->cancelled || token.stop_requested())
        throw Cancelled();
    if (exchange->error)
        std::rethrow_exception(exchange->error);
    co_return std::move(exchange->response);
}

} // namespace Tarnwick
