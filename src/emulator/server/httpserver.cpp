#include "server/httpserver.h"

#include "server/httpconnection.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

namespace Tarnwick::Emulator {

namespace {

thread_local HttpConnection *t_connection = nullptr;

constexpr auto readTimeout = std::chrono::seconds(60);
constexpr auto writeTimeout = std::chrono::seconds(60);
constexpr auto keepAliveTimeout = std::chrono::seconds(30);
constexpr int keepAliveRequests = 100000;
constexpr size_t poolThreads = 192;

} // namespace

HttpServer::HttpServer()
{
    new_task_queue = [] { return new httplib::ThreadPool(poolThreads); };
    set_tcp_nodelay(true);
    set_keep_alive_max_count(keepAliveRequests);
    set_keep_alive_timeout(keepAliveTimeout.count());
    set_read_timeout(readTimeout);
    set_write_timeout(writeTimeout);
    // Bodies are streamed by the handlers, which apply their own limits.
    set_payload_max_length(size_t(1) << 42);
}

HttpServer::~HttpServer() = default;

HttpConnection *HttpServer::currentConnection()
{
    return t_connection;
}

void HttpServer::shutdown()
{
    m_stopping = true;
    stop();
    std::lock_guard lock(m_mutex);
    for (int fd : m_open)
        ::shutdown(fd, SHUT_RDWR);
}

bool HttpServer::process_and_close_socket(socket_t sock)
{
    {
        std::lock_guard lock(m_mutex);
        if (m_stopping) {
            ::close(sock);
            return false;
        }
        m_open.insert(sock);
        ++m_openCount;
    }
    const int one = 1;
    ::setsockopt(sock, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);

    HttpConnection connection(sock, readTimeout, writeTimeout);
    t_connection = &connection;
    bool ok = false;
    for (int served = 0; served < keepAliveRequests; ++served) {
        // Idle keep-alive connections each hold a pool thread: when many are open, let idle ones
        // go quickly so new connections are not left waiting for a thread.
        const bool crowded = m_openCount.load() > int(poolThreads / 2);
        const auto idle = crowded ? std::chrono::milliseconds(500) : keepAliveTimeout;
        if (!connection.waitForRequest(idle, [this] { return !m_stopping.load(); }))
            break;
        connection.beginRequest();
        bool clientClosed = false;
        ok = process_request(connection, served + 1 == keepAliveRequests, clientClosed,
                             [](httplib::Request &req) {
                                 // Ranges are the handlers' business: the library must not cut
                                 // bodies (error answers included) by itself.
                                 req.ranges.clear();
                             });
        if (!ok || clientClosed || connection.isReset() || connection.closeRequested())
            break;
    }
    t_connection = nullptr;
    {
        std::lock_guard lock(m_mutex);
        m_open.erase(sock);
        --m_openCount;
    }
    if (!connection.isReset())
        ::shutdown(sock, SHUT_RDWR);
    ::close(sock);
    return ok;
}

} // namespace Tarnwick::Emulator
