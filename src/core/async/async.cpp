#include "async/async.h"

#include "async/clock.h"

#include <QCoreApplication>
#include <QTimer>

namespace Tarnwick {

void postResume(std::coroutine_handle<> handle)
{
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [handle] { handle.resume(); }, Qt::QueuedConnection);
}

Wakeup::Wakeup(std::stop_token token, std::function<void()> onStop)
    : m_token(std::move(token))
    , m_onStop(std::move(onStop))
{
}

Wakeup::~Wakeup()
{
    // The stop callback goes first: its destructor waits for a callback running on another thread.
    m_stopCallback.reset();
    for (auto &connection : m_connections)
        QObject::disconnect(connection);
}

bool Wakeup::suspend(std::coroutine_handle<> handle)
{
    m_handle = handle;
    // Runs StopFn at once when the token stopped meanwhile; fire() then posts the resumption, so
    // suspending is still right.
    m_stopCallback.emplace(m_token, StopFn{this});
    return true;
}

void Wakeup::StopFn::operator()() const noexcept
{
    if (self->m_fired.load())
        return;
    if (self->m_onStop)
        self->m_onStop();
    self->fire();
}

void Wakeup::fire() noexcept
{
    if (m_fired.exchange(true))
        return;
    for (auto &connection : m_connections)
        QObject::disconnect(connection);
    if (m_handle)
        postResume(m_handle);
}

QCoro::Task<> sleepFor(std::chrono::milliseconds named, std::stop_token token)
{
    throwIfStopped(token);
    QTimer timer;
    timer.setSingleShot(true);
    Wakeup wakeup(token);
    wakeup.on(&timer, &QTimer::timeout);
    timer.start(Clock::current().realDuration(named));
    co_await wakeup;
    throwIfStopped(token);
    Clock::current().waited(named);
}

} // namespace Tarnwick
