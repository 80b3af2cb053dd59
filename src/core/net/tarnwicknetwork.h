#pragma once

namespace Tarnwick {

class HttpEngine;

namespace TarnwickNetwork {

// The process-wide HTTP engine that the sign-in, the Drive client, the update check and the
// thumbnail loader share. Created on first use (main thread, after the QCoreApplication) and
// stopped when the QCoreApplication is destroyed.
HttpEngine &session();

} // namespace TarnwickNetwork
} // namespace Tarnwick
