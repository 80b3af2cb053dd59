#pragma once

#include "records/errors.h"

#include <QCoroTask>
#include <QObject>

#include <atomic>
#include <chrono>
#include <coroutine>
#include <exception>
#include <functional>
#include <optional>
#include <stop_token>
#include <vector>

// Cancellable waits for coroutines on the main thread (QCoro 0.8, g++ 12).
//
// Rules that keep coroutines sound with this compiler and library:
// - Coroutine parameters are taken by value; a lambda coroutine's captures die with the closure,
//   so pass data as parameters (TaskGroup::spawn moves the callable into the child's frame).
// - No `co_await` inside a conditional expression or a braced initialiser: await into locals.
// - No `co_await` inside a catch block: record the error, leave the handler, then wait.
// - A task nobody awaits loses its exception: start fire-and-forget work with detach().
// - Resumption always goes through a posted event (Wakeup, sleepFor, HttpEngine), never from inside
//   a signal emission or a std::stop_source::request_stop() call.
namespace Tarnwick {

// Throws Cancelled when the token has been stopped.
inline void throwIfStopped(const std::stop_token &token)
{
    if (token.stop_requested())
        throw Cancelled();
}

// Resumes the coroutine from the main thread's event loop, never synchronously.
void postResume(std::coroutine_handle<> handle);

// Suspends a coroutine until one of the watched signals fires, a watched object is destroyed or
// the token is stopped; on a stop it first runs `onStop` (which may emit a watched signal).
// Resumes at most once, always through a posted event. Use it as a named local:
//
//     Wakeup wakeup(token);
//     wakeup.on(timer, &QTimer::timeout);
//     co_await wakeup;
//     throwIfStopped(token);
class Wakeup final
{
public:
    explicit Wakeup(std::stop_token token, std::function<void()> onStop = {});
    Wakeup(const Wakeup &) = delete;
    Wakeup &operator=(const Wakeup &) = delete;
    ~Wakeup();

    template<typename Object, typename Signal> Wakeup &on(Object *object, Signal signal)
    {
        m_connections.push_back(QObject::connect(object, signal, &m_context, [this] { fire(); }));
        m_connections.push_back(
            QObject::connect(object, &QObject::destroyed, &m_context, [this] { fire(); }));
        return *this;
    }

    // True once a watched signal fired, a watched object died or the token stopped.
    bool fired() const { return m_fired.load(); }

    // QCoro's await_transform makes g++ 12 copy an lvalue awaiter, so Wakeup is not an awaiter
    // itself: it hands out a small one that points back at it.
    struct Awaiter
    {
        Wakeup *wakeup;
        bool await_ready() const noexcept
        {
            return wakeup->m_fired.load() || wakeup->m_token.stop_requested();
        }
        bool await_suspend(std::coroutine_handle<> handle) { return wakeup->suspend(handle); }
        void await_resume() const noexcept {}
    };
    Awaiter operator co_await() &noexcept { return Awaiter{this}; }

private:
    struct StopFn
    {
        Wakeup *self;
        void operator()() const noexcept;
    };

    bool suspend(std::coroutine_handle<> handle);
    void fire() noexcept;

    std::stop_token m_token;
    std::function<void()> m_onStop;
    QObject m_context; // connections end with the Wakeup
    std::vector<QMetaObject::Connection> m_connections;
    std::optional<std::stop_callback<StopFn>> m_stopCallback;
    std::coroutine_handle<> m_handle;
    std::atomic<bool> m_fired = false; // a stop may arrive from another thread
};

// Waits for a named delay, for as long as Clock::current().realDuration(named) says. Throws
// Cancelled at once when the token is or becomes stopped; when the wait runs its full course the
// clock is told (a TestClock's "now" then moves by the named delay).
QCoro::Task<> sleepFor(std::chrono::milliseconds named, std::stop_token token);

namespace Detail {
template<typename T>
QCoro::Task<> runDetached(QCoro::Task<T> task, std::function<void(const std::exception &)> onError)
{
    try {
        co_await task;
    } catch (const Cancelled &) {
        // Cancellation is never an error to report.
    } catch (const std::exception &e) {
        if (onError)
            onError(e);
    } catch (...) {
        if (onError)
            onError(TarnwickError(QStringLiteral("Đã xảy ra lỗi không rõ nguyên nhân. Hãy thử lại.")));
    }
}
} // namespace Detail

// Starts a task nobody awaits. Its failure goes to onError (on the main thread); a Cancelled
// ending is dropped silently. The task runs until it ends on its own: give it a stop token to
// end it early.
template<typename T>
void detach(QCoro::Task<T> task, std::function<void(const std::exception &)> onError)
{
    // Dropping the runner's Task is fine: QCoro frees the frame when the coroutine ends.
    Detail::runDetached(std::move(task), std::move(onError));
}

} // namespace Tarnwick
