#pragma once

#include <QCoroTask>
#include <QEventLoop>
#include <QTimer>

#include <chrono>
#include <exception>
#include <memory>
#include <optional>
#include <stdexcept>
#include <type_traits>

namespace Tarnwick {

// Thrown by runSync when the task did not end in time.
class RunSyncTimeout final : public std::runtime_error
{
public:
    RunSyncTimeout()
        : std::runtime_error("runSync: the task did not finish in time")
    {
    }
};

namespace Detail {
template<typename T> struct RunSyncState
{
    std::optional<std::conditional_t<std::is_void_v<T>, bool, T>> value;
    std::exception_ptr error;
    bool done = false;
    QEventLoop *loop = nullptr; // cleared when runSync returns
};

template<typename T>
QCoro::Task<> driveRunSync(QCoro::Task<T> task, std::shared_ptr<RunSyncState<T>> state)
{
    try {
        if constexpr (std::is_void_v<T>) {
            co_await task;
            state->value.emplace(true);
        } else {
            state->value.emplace(co_await task);
        }
    } catch (...) {
        state->error = std::current_exception();
    }
    state->done = true;
    if (state->loop)
        state->loop->quit();
}
} // namespace Detail

// Runs a task to its end from synchronous code (tests, command-line tools) by spinning a local
// event loop: returns its value or rethrows its exception, and throws RunSyncTimeout instead of
// hanging. A task still running at the timeout keeps only shared state alive, so a late ending
// cannot touch this stack frame.
template<typename T>
T runSync(QCoro::Task<T> task, std::chrono::milliseconds timeout = std::chrono::seconds(10))
{
    auto state = std::make_shared<Detail::RunSyncState<T>>();
    QEventLoop loop;
    state->loop = &loop;
    struct Clear
    {
        Detail::RunSyncState<T> *state;
        ~Clear() { state->loop = nullptr; }
    } clear{state.get()};
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    timer.start(timeout);
    auto driver = Detail::driveRunSync(std::move(task), state);
    if (!state->done)
        loop.exec();
    if (!state->done)
        throw RunSyncTimeout();
    if (state->error)
        std::rethrow_exception(state->error);
    if constexpr (!std::is_void_v<T>)
        return std::move(*state->value);
}

} // namespace Tarnwick
