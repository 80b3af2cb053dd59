#pragma once

#include "async/async.h"

#include <QCoroTask>

#include <coroutine>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <type_traits>
#include <vector>

namespace Tarnwick {

namespace Detail {
// Runs job on one of the threads kept for short disk work.
void startInBackground(std::function<void()> job);
// Runs job, which must not throw, on the thread for short disk jobs that come by the thousand,
// then resumes the coroutine on the main thread together with the rest of its batch. `first`
// (may be empty, must not throw) runs before the first job of the batch does.
void startBatched(std::function<void()> first, std::function<void()> job,
                  std::coroutine_handle<> resume);
// From any thread: resumes the coroutines on the main thread, in order, with one event.
void resumeOnMainThread(std::vector<std::coroutine_handle<>> resumes);

template<typename T> struct BackgroundState
{
    std::function<void()> first;
    std::function<T()> work;
    std::optional<std::conditional_t<std::is_void_v<T>, bool, T>> value;
    std::exception_ptr error;
};

// A plain pointer: g++ 12 copies awaiters passed through QCoro's await_transform and may destroy
// a temporary with a destructor twice. The coroutine's own shared pointer keeps the state alive.
template<typename T> void runWork(BackgroundState<T> &state) noexcept
{
    try {
        if constexpr (std::is_void_v<T>) {
            state.work();
            state.value.emplace(true);
        } else {
            state.value.emplace(state.work());
        }
    } catch (...) {
        state.error = std::current_exception();
    }
}

template<typename T, bool batched> struct BackgroundAwaiter
{
    const std::shared_ptr<BackgroundState<T>> *state;

    bool await_ready() const noexcept { return false; }
    void await_suspend(std::coroutine_handle<> handle)
    {
        if constexpr (batched) {
            startBatched(std::move((*state)->first), [state = *state] { runWork(*state); },
                         handle);
        } else {
            startInBackground([state = *state, handle] {
                runWork(*state);
                postResume(handle);
            });
        }
    }
    void await_resume() const noexcept {}
};

template<typename T, bool batched>
QCoro::Task<T> runOffMain(std::function<T()> work, std::function<void()> first = {})
{
    auto state = std::make_shared<BackgroundState<T>>();
    state->first = std::move(first);
    state->work = std::move(work);
    co_await BackgroundAwaiter<T, batched>{&state};
    if (state->error)
        std::rethrow_exception(state->error);
    if constexpr (!std::is_void_v<T>)
        co_return std::move(*state->value);
}
} // namespace Detail

// Runs work off the main thread and resumes the awaiting coroutine on the main thread with its
// result or its exception. Create the task into a named local before awaiting it: g++ 12 destroys
// a lambda temporary inside a co_await expression twice. For short, bounded disk work that must not
// block the main thread (reading a small file whole, flushing a finished download to disk); it
// cannot be cancelled.
template<typename T> QCoro::Task<T> runInBackground(std::function<T()> work)
{
    return Detail::runOffMain<T, false>(std::move(work));
}

// Like runInBackground, for short disk jobs that come by the thousand. One thread takes them in
// batches: a job queued while it works, or in the short pause after each batch, joins the next
// batch instead of waking it, and a batch resumes its coroutines with one event. A job may wait
// that pause (half a millisecond) to start; the jobs of a large batch run in up to four groups at
// once, in no set order. `first`, which must not throw, runs for every job of a group before any
// job's work: a job can start its file's writes there, so the disk takes the whole group at once.
// (Downloads' last step has a flusher of its own, PartFlusher.)
template<typename T>
QCoro::Task<T> runBatched(std::function<T()> work, std::function<void()> first = {})
{
    return Detail::runOffMain<T, true>(std::move(work), std::move(first));
}

} // namespace Tarnwick
