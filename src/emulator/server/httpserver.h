#pragma once

#include <httplib.h>

#include <atomic>
#include <mutex>
#include <set>

namespace Tarnwick::Emulator {

class HttpConnection;

// cpp-httplib's server with our own connection loop: every connection is an HttpConnection that
// handlers can reach through currentConnection() (the handler runs on the connection's thread),
// TCP_NODELAY is set, keep-alive lasts long enough for a client's whole session, and stopping
// interrupts open connections instead of waiting for their timeouts.
class HttpServer final : public httplib::Server
{
public:
    HttpServer();
    ~HttpServer() override;

    // The connection whose request the calling thread is handling, or null.
    static HttpConnection *currentConnection();

    // Stops listening and ends every open connection.
    void shutdown();

private:
    bool process_and_close_socket(socket_t sock) override;

    std::atomic<bool> m_stopping{false};
    std::atomic<int> m_openCount{0};
    std::mutex m_mutex;
    std::set<int> m_open;
};

} // namespace Tarnwick::Emulator
