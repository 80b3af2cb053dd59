#pragma once

#include "async/async.h"

#include <QCoroTask>
#include <QFuture>
#include <QFutureWatcher>

#include <stop_token>

namespace Tarnwick {

// Awaits the result of work running on another thread. The result is always handed back from
// the main thread's event loop, even when the work has finished already, so the caller's current
// turn (and whatever it starts next) completes before the result is looked at.
template<typename T> QCoro::Task<T> resultLater(QFuture<T> future)
{
    QFutureWatcher<T> watcher;
    Wakeup wakeup{std::stop_token()};
    wakeup.on(&watcher, &QFutureWatcherBase::finished);
    watcher.setFuture(future);
    co_await wakeup;
    co_return future.result();
}

} // namespace Tarnwick
