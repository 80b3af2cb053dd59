#pragma once

namespace Tarnwick {

class HttpEngine;

namespace TarnwickNetwork {

// The process-wide HTTP engine that the sign-in, the Drive client, the update check and the
// thumbnail loader share. Created on first use (main thread, after the QCoreApplication) and
// stopped when the QCoreApplication is destroyed.
HttpEngine &session();

// For the end of a process, after its event loop has returned and its owners are gone: lets the
// requests they cancelled come back and runs the resumptions still posted, so the coroutines
// waiting on them or on stopped timers finish and free their frames. Waits at most two seconds.
void finishPendingWork();

} // namespace TarnwickNetwork
} // namespace Tarnwick
