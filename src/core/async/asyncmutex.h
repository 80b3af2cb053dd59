#pragma once

#include <coroutine>
#include <deque>
#include <memory>

namespace Tarnwick {

// A mutual-exclusion lock for coroutines on the main thread: a step that awaits in the middle
// (a keychain write followed by a change of state) runs whole before the next one begins.
// Waiters get the lock in the order they asked, each resumed through a posted event.
//
//     const AsyncMutex::Guard guard = co_await m_mutex.lock();
class AsyncMutex final
{
    struct State
    {
        bool locked = false;
        std::deque<std::coroutine_handle<>> waiters;
    };

public:
    // Holds the lock until destroyed. It shares the lock's state, so it may outlive the mutex.
    class Guard final
    {
    public:
        Guard(Guard &&other) noexcept
            : m_state(std::move(other.m_state))
        {
        }
        Guard(const Guard &) = delete;
        Guard &operator=(const Guard &) = delete;
        Guard &operator=(Guard &&) = delete;
        ~Guard();

    private:
        friend class AsyncMutex;
        explicit Guard(std::shared_ptr<State> state)
            : m_state(std::move(state))
        {
        }
        std::shared_ptr<State> m_state;
    };

    struct Awaiter
    {
        std::shared_ptr<State> state;
        bool await_ready() const noexcept;
        void await_suspend(std::coroutine_handle<> handle);
        Guard await_resume() const noexcept { return Guard(state); }
    };

    AsyncMutex() = default;
    AsyncMutex(const AsyncMutex &) = delete;
    AsyncMutex &operator=(const AsyncMutex &) = delete;

    // Awaits the lock; the awaited value is its Guard.
    Awaiter lock() { return Awaiter{m_state}; }
    bool locked() const { return m_state->locked; }

private:
    std::shared_ptr<State> m_state = std::make_shared<State>();
};

} // namespace Tarnwick
