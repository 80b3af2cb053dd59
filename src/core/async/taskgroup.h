#pragma once

#include "async/async.h"

#include <QtGlobal>

#include <memory>

namespace Tarnwick {

// A pool of child coroutines that stand or fall together (the workers of one transfer).
//
// spawn() starts a child with the group's stop token; join() waits until every child has ended.
// The first child to fail stops the group, so its siblings see their token stopped and end with
// Cancelled; join() then rethrows that first error. A stop of the parent token (the user's pause
// or cancel) stops every child and makes join() throw Cancelled. Errors raised by children while
// the group is already winding down are counted in suppressedErrors() and dropped.
//
//     TaskGroup group(token);
//     for (const auto &file : files)
//         group.spawn([file](std::stop_token t) { return upload(file, t); });
//     co_await group.join();
//
// Main thread only. A group must be joined; one destroyed unjoined stops its children, which then
// end on their own.
class TaskGroup final
{
public:
    explicit TaskGroup(std::stop_token parent = {})
        : m_state(std::make_shared<State>())
    {
        m_state->parent = parent;
        m_state->link.emplace(parent, Link{m_state->source});
    }
    TaskGroup(const TaskGroup &) = delete;
    TaskGroup &operator=(const TaskGroup &) = delete;

    ~TaskGroup()
    {
        if (!m_joined && !m_children.empty()) {
            qWarning("TaskGroup destroyed before join(): stopping %d children",
                     int(m_children.size()));
            m_state->source.request_stop();
        }
    }

    // Stopped when the parent stops, when a child fails, or by requestStop().
    std::stop_token token() const { return m_state->source.get_token(); }
    void requestStop() { m_state->source.request_stop(); }
    int suppressedErrors() const { return m_state->suppressed; }

    // `callable` is (std::stop_token) -> QCoro::Task<>; it is moved into the child's own frame,
    // so a lambda's captures live as long as the child runs. The child starts at once and runs
    // until its first suspension before spawn() returns.
    template<typename Callable> void spawn(Callable callable)
    {
        m_children.push_back(runChild(m_state, std::move(callable)));
    }

    // Waits for every child, then rethrows the first error raised before the group was stopped;
    // else throws Cancelled when the parent stopped; else returns.
    QCoro::Task<> join()
    {
        for (auto &child : m_children)
            co_await child; // children never throw
        m_joined = true;
        if (m_state->firstError)
            std::rethrow_exception(m_state->firstError);
        throwIfStopped(m_state->parent);
    }

private:
    struct Link
    {
        std::stop_source source;
        void operator()() const noexcept { std::stop_source(source).request_stop(); }
    };
    struct State
    {
        std::stop_source source;
        std::stop_token parent;
        std::optional<std::stop_callback<Link>> link;
        std::exception_ptr firstError;
        int suppressed = 0;
    };

    template<typename Callable>
    static QCoro::Task<> runChild(std::shared_ptr<State> state, Callable callable)
    {
        const std::stop_token token = state->source.get_token();
        try {
            co_await callable(token);
        } catch (const Cancelled &) {
            // A Cancelled the group did not cause (a request's own token) still stops the group.
            if (!state->source.stop_requested()) {
                state->firstError = std::current_exception();
                state->source.request_stop();
            }
        } catch (...) {
            if (!state->source.stop_requested()) {
                state->firstError = std::current_exception();
                state->source.request_stop();
            } else {
                ++state->suppressed;
            }
        }
    }

    std::shared_ptr<State> m_state;
    std::vector<QCoro::Task<>> m_children;
    bool m_joined = false;
};

} // namespace Tarnwick
