#include "async/asyncmutex.h"

#include "async/async.h"

namespace Tarnwick {

bool AsyncMutex::Awaiter::await_ready() const noexcept
{
    if (state->locked)
        return false;
    state->locked = true;
    return true;
}

void AsyncMutex::Awaiter::await_suspend(std::coroutine_handle<> handle)
{
    state->waiters.push_back(handle);
}

AsyncMutex::Guard::~Guard()
{
    if (!m_state)
        return;
    if (m_state->waiters.empty()) {
        m_state->locked = false;
        return;
    }
    // The lock passes straight to the next waiter, so nobody can overtake it meanwhile.
    const std::coroutine_handle<> next = m_state->waiters.front();
    m_state->waiters.pop_front();
    postResume(next);
}

} // namespace Tarnwick
