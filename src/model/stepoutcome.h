#pragma once

#include "records/errors.h"

#include <QCoroTask>
#include <QObject>
#include <QPointer>
#include <QString>

#include <exception>
#include <functional>
#include <optional>
#include <type_traits>
#include <variant>

namespace Tarnwick {

// How an awaited step ended: done (with its value), failed, or cancelled (neither).
template<typename T> struct StepOutcome
{
    using Value = std::conditional_t<std::is_void_v<T>, std::monostate, T>;

    std::optional<Value> value;     // present when the step was done
    std::optional<QString> failure; // present when it failed: the description the user reads

    bool done() const { return value.has_value(); }
    bool cancelled() const { return !value && !failure; }
    bool operator==(const StepOutcome &) const = default;
};

// Awaits step and tells how it ended instead of throwing; any exception other than a
// std::exception still propagates.
template<typename T> QCoro::Task<StepOutcome<T>> settle(QCoro::Task<T> step)
{
    StepOutcome<T> outcome;
    try {
        if constexpr (std::is_void_v<T>) {
            co_await step;
            outcome.value.emplace();
        } else {
            outcome.value = co_await step;
        }
    } catch (const Cancelled &) {
    } catch (const std::exception &e) {
        outcome.failure = describe(e);
    }
    co_return outcome;
}

// Awaits step for an operation of owner that goes on only when the step is done. The answer is
// empty when it was cancelled, when owner went away meanwhile, or when it failed; a failure goes
// to report first, and only while owner is still there. So a caller holding a value may go on
// using owner.
template<typename T>
QCoro::Task<std::optional<typename StepOutcome<T>::Value>>
proceed(QPointer<QObject> owner, QCoro::Task<T> step, std::function<void(QString)> report)
{
    using Answer = std::optional<typename StepOutcome<T>::Value>;
    auto settling = settle(std::move(step));
    StepOutcome<T> outcome = co_await settling;
    if (outcome.cancelled() || !owner)
        co_return Answer();
    if (outcome.failure) {
        report(*outcome.failure);
        co_return Answer();
    }
    co_return std::move(outcome.value);
}

} // namespace Tarnwick
